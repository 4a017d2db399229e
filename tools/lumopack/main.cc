// lumopack: builds, lists, tests and extracts Lumo installers.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/lumopack/commands.h"
#include "tools/lumopack/pack_error.h"

namespace lumo {
namespace {

// One row per command. A new command is a function in commands.h and a row.
struct Command {
    std::string_view name;
    std::string_view usage;
    std::string_view summary;
    int (*run)(CommandArguments, const CommandContext&);
};

constexpr Command commands[] = {
    {"build", "build DIR -o OUT [--stub PATH] [--level 1..9|fast|best] [--audio auto|off] [--order FILE]"
              " [--no-script-check] [--scramble-script]",
     "pack every file below DIR into the installer OUT", build_command},
    {"list", "list INSTALLER", "show the entries in order: size, checksum, name; totals and ratio", list_command},
    {"test", "test INSTALLER", "unpack and check everything without writing; exit 0 only when whole", test_command},
    {"extract", "extract INSTALLER [-C DIR]", "write the files below DIR (default: the current folder)",
     extract_command},
    {"script", "script FILE", "parse a setup script as the installer does; print its record as JSON", script_command},
};

constexpr const char* version_text = "lumopack 0.1.0";

void print_help() {
    std::printf("%s: builds, lists, tests and extracts Lumo installers.\n\nusage:\n", version_text);
    for (const auto& command : commands)
        std::printf("  lumopack %.*s\n      %.*s\n", int(command.usage.size()), command.usage.data(),
                    int(command.summary.size()), command.summary.data());
    std::printf(
        "\nbuild options:\n"
        "  --stub PATH    the installer stub (default: the one built beside lumopack)\n"
        "  --level N      compression level, 1 (fast) to 9 (best); default 6\n"
        "  --audio MODE   auto: code WAV audio in audio mode where smaller; off: never\n"
        "  --order FILE   names (one a line) that lead the directory in this order;\n"
        "                 default order: Setup.cfg, Setup.exe, then the rest by name\n"
        "  --no-script-check  build even when Setup.cfg fails to parse\n"
        "  --scramble-script  store Setup.cfg scrambled\n"
        "\n  lumopack --help | --version\n");
}

}  // namespace
}  // namespace lumo

int main(int argc, char** argv) {
    using namespace lumo;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fprintf(stderr, "lumopack: no command given (see lumopack --help)\n");
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        print_help();
        return 0;
    }
    if (args[0] == "--version") {
        std::printf("%s\n", version_text);
        return 0;
    }
    const CommandContext context{argc > 0 ? argv[0] : "lumopack"};
    for (const auto& command : commands) {
        if (command.name != args[0]) continue;
        try {
            return command.run(CommandArguments(args).subspan(1), context);
        } catch (const UsageError& error) {
            std::fprintf(stderr, "lumopack %s: %s (see lumopack --help)\n", args[0].c_str(), error.what());
            return 2;
        } catch (const PackError& error) {
            std::fprintf(stderr, "lumopack %s: %s\n", args[0].c_str(), error.what());
            return 1;
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "lumopack %s: not enough memory\n", args[0].c_str());
            return 1;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "lumopack %s: %s\n", args[0].c_str(), error.what());
            return 1;
        }
    }
    std::fprintf(stderr, "lumopack: unknown command '%s' (see lumopack --help)\n", args[0].c_str());
    return 2;
}
