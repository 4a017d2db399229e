// The setup script parser on arbitrary bytes, read plain and scrambled.
//
// Input: the script's bytes as stored in the payload.
//
// Properties:
//  - every input gets a verdict: success with no message, or one of the
//    parser's own messages with the line of the token at fault;
//  - a success sets the entries, each with a name; a failure leaves the
//    entries as they were before the parse;
//  - a parse is a function of the bytes: a second parse into a fresh record
//    gives the same record and outcome;
//  - a plain script (first byte printable) reads exactly like its scrambled
//    form, outcome and record alike.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "setup_script/parse_setup_script.h"
#include "setup_script/script_error.h"

namespace {

using lumo::SetupRecord;

bool is_parser_message(const std::string& message) {
    namespace m = lumo::script_message;
    for (const char* known : {m::mem, m::unterminated_string, m::no_argument_version_lo, m::no_argument_version_hi,
                              m::no_argument_product_name, m::no_argument_product_title, m::no_argument_use_subdir,
                              m::no_argument_set_reg_str, m::no_2nd_argument_set_reg_str, m::no_argument_set_reg_dw,
                              m::no_2nd_argument_set_reg_dw, m::flags_without_filename, m::keyword_quoted,
                              m::string_not_quoted})
        if (message == known) return true;
    return false;
}

bool same_entries(const SetupRecord& a, const SetupRecord& b) {
    if (a.entries.has_value() != b.entries.has_value()) return false;
    if (!a.entries) return true;
    if (a.entries->size() != b.entries->size()) return false;
    for (size_t i = 0; i < a.entries->size(); ++i) {
        const auto& x = (*a.entries)[i];
        const auto& y = (*b.entries)[i];
        if (x.flags != y.flags || x.name != y.name || x.subdir != y.subdir || x.reg_string != y.reg_string ||
            x.reg_dword != y.reg_dword)
            return false;
    }
    return true;
}

bool same_record(const SetupRecord& a, const SetupRecord& b) {
    return same_entries(a, b) && a.version_lo == b.version_lo && a.version_hi == b.version_hi &&
           a.product_name == b.product_name && a.update_flags == b.update_flags &&
           a.check_language == b.check_language && a.product_title == b.product_title &&
           a.no_reboot == b.no_reboot && a.mp3_install == b.mp3_install && a.mp3pro_install == b.mp3pro_install &&
           a.mpeg2_install == b.mpeg2_install && a.no_regentries == b.no_regentries;
}

bool same_outcome(const lumo::ScriptOutcome& a, const lumo::ScriptOutcome& b) {
    return a.ok == b.ok && a.message == b.message && a.line == b.line;
}

lumo::ScriptOutcome parse(SetupRecord& record, std::span<const uint8_t> bytes) {
    lumo::MemoryByteSource source(bytes);
    return lumo::read_setup_script(record, source);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);

    SetupRecord record;
    const lumo::ScriptOutcome outcome = parse(record, bytes);
    if (outcome.ok) {
        FUZZ_CHECK(outcome.message.empty());
        FUZZ_CHECK(record.entries.has_value());
    } else {
        FUZZ_CHECK(is_parser_message(outcome.message));
        FUZZ_CHECK(outcome.line >= 1);
        FUZZ_CHECK(!record.entries.has_value());
    }

    // A record that already holds entries keeps them through a failed parse.
    SetupRecord earlier;
    earlier.entries.emplace(1, lumo::SetupEntry{0, "earlier", "", "", 0});
    const SetupRecord kept = earlier;
    const lumo::ScriptOutcome again = parse(earlier, bytes);
    FUZZ_CHECK(same_outcome(outcome, again));
    if (outcome.ok) FUZZ_CHECK(same_record(record, earlier));
    else FUZZ_CHECK(same_entries(earlier, kept));

    if (size > 0 && lumo::is_script_printable(data[0])) {
        const std::vector<uint8_t> scrambled = lumo::scramble_setup_script(bytes, uint8_t(size * 31 + data[0]));
        SetupRecord unscrambled;
        const lumo::ScriptOutcome read_back = parse(unscrambled, scrambled);
        FUZZ_CHECK(same_outcome(outcome, read_back));
        FUZZ_CHECK(same_record(record, unscrambled));
    }
    return 0;
}
