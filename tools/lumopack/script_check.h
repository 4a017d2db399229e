// What `lumopack build` does with the payload's setup script: parses it with
// the installer's own parser, refuses a script the installer would reject,
// warns about an order of entries that defeats the update check, and stores
// the script scrambled on request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "setup_script/parse_setup_script.h"

namespace lumo {

struct ScriptBuildOptions {
    bool check = true;      // refuse a script that fails to parse (--no-script-check clears it)
    bool scramble = false;  // store the script scrambled (--scramble-script)
};

struct ScriptBuildResult {
    // The bytes to store for the script entry in place of the file's own,
    // when the script is to be stored scrambled and is not already.
    std::optional<std::vector<uint8_t>> stored_script;
    std::vector<std::string> warnings;
};

// The entry the installer reads as its setup script: the first one named
// "Setup.cfg" in any letter case (the whole stored name, so not one in a
// folder).
std::optional<size_t> find_setup_script(std::span<const std::string> stored_names);

// `stored_names` in directory order; `script` the bytes of the entry that
// find_setup_script names (ignored when there is none). Throws PackError
// with the parser's message and line when the script fails and
// `options.check` is set.
ScriptBuildResult check_setup_script_for_build(std::span<const std::string> stored_names,
                                               std::span<const uint8_t> script, const ScriptBuildOptions& options);

// "Setup.cfg: line 3: <the parser's message>", with a hint when a plain
// text begins with a byte that makes the installer read it as scrambled.
std::string describe_script_failure(const std::string& file_name, const ScriptOutcome& outcome,
                                    std::span<const uint8_t> script);

}  // namespace lumo
