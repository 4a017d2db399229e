// `lumopack script FILE`: parses a setup script with the installer's own
// parser and prints the record as JSON.
#include <cstdio>
#include <vector>

#include "setup_script/parse_setup_script.h"
#include "tools/lumopack/commands.h"
#include "tools/lumopack/script_check.h"
#include "tools/lumopack/script_json.h"

namespace lumo {
namespace {

constexpr const char* usage =
    "usage: lumopack script FILE\n"
    "Parses a setup script (plain or scrambled) as the installer does and prints\n"
    "the setup record as JSON. Exit status 1 when the installer would reject it.\n";

// The whole file as stored; false when it cannot be opened or read.
bool read_file(const std::string& path, std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    uint8_t buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

}  // namespace

// Exit status 0 when the script parses, 1 when the installer would reject
// it (the JSON says why, standard error names the line).
int script_command(CommandArguments arguments, const CommandContext&) {
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (arguments.empty()) throw UsageError("no script given");
    if (arguments.size() > 1) throw UsageError("one script at a time");
    if (arguments[0].starts_with("-")) throw UsageError("unknown option " + arguments[0]);
    const std::string& path = arguments[0];

    SetupRecord record;
    ScriptOutcome outcome;
    std::vector<uint8_t> bytes;
    if (read_file(path, bytes)) {
        MemoryByteSource source(bytes);
        outcome = read_setup_script(record, source);
    } else {
        outcome = read_setup_script(record, static_cast<std::FILE*>(nullptr));
    }

    std::string json = script_outcome_json(outcome, record) + "\n";
    std::fwrite(json.data(), 1, json.size(), stdout);
    std::fflush(stdout);
    if (outcome.ok) return 0;
    std::string message = "lumopack script: " + describe_script_failure(path, outcome, bytes) + "\n";
    std::fputs(message.c_str(), stderr);
    return 1;
}

}  // namespace lumo
