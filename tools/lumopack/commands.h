// lumopack's commands. Each takes the arguments after its name and returns
// the process's exit status; failures throw PackError (exit 1) or
// UsageError (exit 2), which main() reports on one line.
#pragma once

#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace lumo {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct CommandContext {
    std::filesystem::path program;  // the running lumopack, to find the stubs installed beside it
};

using CommandArguments = std::span<const std::string>;

int build_command(CommandArguments args, const CommandContext& context);
int list_command(CommandArguments args, const CommandContext& context);
int test_command(CommandArguments args, const CommandContext& context);
int extract_command(CommandArguments args, const CommandContext& context);
int script_command(CommandArguments args, const CommandContext& context);

// Takes the value of an option: "--name value" or "--name=value". True when
// args[i] is the option; `i` then points at its last argument.
bool take_option(CommandArguments args, size_t& i, std::string_view name, std::string& value);

}  // namespace lumo
