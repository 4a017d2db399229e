// The Wine registry file reader on arbitrary text, asked what the installer
// asks of a Wine prefix.
//
// Properties:
//  - every read stays inside the text (it ends at a guard page) and every
//    query ends, linked keys included;
//  - key and value names compare without regard to letter case: the same
//    query in other letter case answers the same.
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "fuzz/guarded_buffer.h"
#include "platform/posix/wine_registry.h"

namespace {

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

struct Query {
    const char* subkey;
    const char* value;
};

constexpr Query queries[] = {
    {"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe", ""},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe", "Path"},
    {"Software\\Wine", "Version"},
    {"Software\\Microsoft\\Windows NT\\CurrentVersion", "CurrentMajorVersionNumber"},
    {"Software\\Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion"},
    {"Software\\Microsoft\\Windows\\CurrentVersion", "VersionNumber"},
    {"a", "b"},
};

// The first key the text names and the first value name after it, so that
// the queries also reach keys the fuzzer made up.
Query first_named(std::string_view text, std::string& subkey, std::string& value) {
    const size_t open = text.find('[');
    const size_t close = open == std::string_view::npos ? open : text.find(']', open);
    if (close != std::string_view::npos) {
        for (size_t i = open + 1; i < close; ++i) {
            subkey += text[i];
            if (text[i] == '\\' && i + 1 < close && text[i + 1] == '\\') ++i;
        }
        const size_t quote = text.find("\n\"", close);
        const size_t end = quote == std::string_view::npos ? quote : text.find('"', quote + 2);
        if (end != std::string_view::npos) value = text.substr(quote + 2, end - quote - 2);
    }
    return {subkey.c_str(), value.c_str()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static lumo::fuzz::ReusedGuardedBuffer buffer(8192);
    buffer.place({data, size});
    const std::string_view text(reinterpret_cast<const char*>(buffer.data()), buffer.size());

    const bool win64 = lumo::wine_registry_is_win64(text);
    std::string named_key, named_value;
    const Query named = first_named(text, named_key, named_value);
    auto ask = [&](const Query& query) {
        const std::string subkey = lumo::wine_32bit_view(query.subkey, win64);
        const auto value = lumo::wine_registry_value(text, subkey, query.value);
        const auto shouted = lumo::wine_registry_value(text, upper(subkey), upper(query.value));
        FUZZ_CHECK(value == shouted);
    };
    for (const Query& query : queries) ask(query);
    ask(named);
    return 0;
}
