#include "tools/lumopack/script_check.h"

#include <cstdio>

#include "setup_script/script_reader.h"
#include "setup_script/tokenizer.h"
#include "tools/lumopack/pack_error.h"

namespace lumo {
namespace {

constexpr const char* script_name = "Setup.cfg";
constexpr const char* program_name = "setup.exe";

// Names compared as the installer compares them.
std::optional<size_t> find_entry(std::span<const std::string> names, const char* wanted) {
    for (size_t i = 0; i < names.size(); ++i) {
        if (keyword_equals(names[i], wanted)) return i;
    }
    return std::nullopt;
}

bool stored_scrambled(std::span<const uint8_t> script) {
    return !script.empty() && !is_script_printable(script[0]);
}

// A plain text that the installer takes for a scrambled script: one that
// begins with whitespace or a byte-order mark.
bool plain_text_read_as_scrambled(std::span<const uint8_t> script) {
    if (script.empty()) return false;
    uint8_t first = script[0];
    return is_script_whitespace(first) || first == 0xEF || first == 0xFE || first == 0xFF;
}

}  // namespace

std::optional<size_t> find_setup_script(std::span<const std::string> stored_names) {
    return find_entry(stored_names, script_name);
}

std::string describe_script_failure(const std::string& file_name, const ScriptOutcome& outcome,
                                    std::span<const uint8_t> script) {
    std::string text = file_name;
    if (outcome.line > 0) text += ": line " + std::to_string(outcome.line);
    text += ": " + outcome.message;
    if (plain_text_read_as_scrambled(script)) {
        char hint[160];
        std::snprintf(hint, sizeof hint,
                      " (the file begins with byte 0x%02X, so it is read as a scrambled script; a plain script "
                      "must begin with a printable character)",
                      script[0]);
        text += hint;
    }
    return text;
}

ScriptBuildResult check_setup_script_for_build(std::span<const std::string> stored_names,
                                               std::span<const uint8_t> script, const ScriptBuildOptions& options) {
    ScriptBuildResult result;
    std::optional<size_t> script_index = find_setup_script(stored_names);
    if (!script_index) {
        result.warnings.push_back("no Setup.cfg: the installer writes every file without checking the installed product");
        return result;
    }
    const std::string& name = stored_names[*script_index];

    SetupRecord record;
    MemoryByteSource source(script);
    ScriptOutcome outcome = read_setup_script(record, source);
    if (!outcome.ok) {
        std::string failure = describe_script_failure(name, outcome, script);
        if (options.check) throw PackError(failure + " (--no-script-check builds anyway)");
        result.warnings.push_back(failure + " (built anyway: the installer will stop right after Setup.exe)");
    } else if (record.version_lo > record.version_hi) {
        result.warnings.push_back(name + ": VERSION_LO is above VERSION_HI, so no installed version passes the update check");
    }

    std::optional<size_t> program_index = find_entry(stored_names, program_name);
    if (program_index && *program_index < *script_index) {
        result.warnings.push_back(name + " comes after " + stored_names[*program_index] +
                                  ": the update check cannot stop the extraction");
    }

    if (options.scramble && !stored_scrambled(script)) result.stored_script = scramble_setup_script(script);
    return result;
}

}  // namespace lumo
