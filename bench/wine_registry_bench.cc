// Lookups in a Wine prefix's system.reg whose App Paths branch of the 32-bit
// view is a link with a long target: the time of one lookup (the thread's
// processor time; min / median / max over repeated runs), against a lookup
// of a key that no link leads to. The file is made here: about 2.4 MB of
// keys, the link, and the key it leads to.
//
//   wine_registry_bench [--runs N]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/posix/wine_registry.h"

namespace {

double cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A link key as Wine writes it: the target as UTF-16 hex(6), broken over
// lines of about 80 characters.
std::string link_key(const std::string& name, const std::string& target) {
    std::string text = "[";
    text.append(name).append("] 1\n#time=1\n#link\n\"SymbolicLinkValue\"=hex(6):");
    size_t line = text.size() - text.rfind('\n');
    for (size_t i = 0; i < target.size(); ++i) {
        char pair[8];
        std::snprintf(pair, sizeof pair, "%02x,00%s", static_cast<unsigned char>(target[i]),
                      i + 1 < target.size() ? "," : "");
        text += pair;
        if ((line += 6) > 76 && i + 1 < target.size()) text += "\\\n  ", line = 2;
    }
    return text.append("\n\n");
}

std::string escaped(const std::string& key) {
    std::string out;
    for (char c : key) c == '\\' ? out.append("\\\\") : out.append(1, c);
    return out;
}

// A thousand filler keys and more, to about 2.4 MB, then the link and the
// key it leads to. The link's target is "Software\\Deep" followed by
// `parts` parts "\\a".
std::string system_reg(size_t parts) {
    std::string deep = "Software\\Deep";
    for (size_t i = 0; i < parts; ++i) deep += "\\a";
    std::string file = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n";
    const size_t link_size = deep.size() * 6;  // "xx,00," a character
    const size_t filler = link_size < 2400000 ? 2400000 - link_size : 0;
    for (int i = 0; i < 1000 || file.size() < filler; ++i) {
        char key[160];
        std::snprintf(key, sizeof key, "[Software\\\\Classes\\\\Filler%06d] 1\n#time=1\n@=\"C:\\\\Some\\\\Path\\\\%06d.exe\"\n\n",
                      i, i);
        file += key;
    }
    file += link_key("Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths",
                     std::string("\\Registry\\Machine\\").append(deep));
    file.append("[").append(escaped(deep)).append("\\\\lumo.exe] 1\n@=\"C:\\\\Program Files\\\\Lumo\\\\lumo.exe\"\n\n");
    return file;
}

struct Figures {
    double min, median, max;
};

template <typename Lookup>
Figures measure(int runs, Lookup lookup) {
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        const double start = cpu_seconds();
        lookup();
        seconds.push_back(cpu_seconds() - start);
    }
    std::sort(seconds.begin(), seconds.end());
    return {seconds.front(), seconds[seconds.size() / 2], seconds.back()};
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 7;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::atoi(argv[++i]);

    const std::string through_link = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe";
    std::printf("%-24s %9s  %-18s %-9s  %s\n", "link target", "file", "lookup", "", "ms: min / median / max");
    // Targets of 3 parts, of about 16,000 (a key of about 32 KB, the longest
    // there is), and of 130,000 (a target longer than any key).
    for (size_t parts : {size_t(3), size_t(16370), size_t(130000)}) {
        const std::string file = system_reg(parts);
        for (const auto& [what, key] : {std::pair<const char*, std::string>{"through the link", through_link},
                                        {"no link on its way", "Software\\Classes\\Filler000001"}}) {
            bool found = false;
            const Figures f = measure(runs, [&] { found = lumo::wine_registry_value(file, key, "").has_value(); });
            std::printf("%7zu parts %10s %9zu  %-18s %-9s  %.1f / %.1f / %.1f\n", parts, "", file.size(), what,
                        found ? "found" : "not found", f.min * 1e3, f.median * 1e3, f.max * 1e3);
        }
    }
    return 0;
}
