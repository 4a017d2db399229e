// `lumopack script FILE`: parses a setup script with the installer's own
// parser and prints the record as JSON.
#pragma once

#include <span>
#include <string>

namespace lumo {

// `arguments` are those after the command's name. Exit status 0 when the
// script parses, 1 when it fails (the JSON then says why, and standard error
// names the line), 2 for a wrong command line.
int run_script_command(std::span<const std::string> arguments);

}  // namespace lumo
