// lumopack: builds, lists, tests and extracts Lumo installers.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/lumopack/commands.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/stub_targets.h"
#include "tools/lumopack/system/system.h"

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
    {"build", "build DIR -o OUT [--target NAME | --stub PATH] [--level 1..9|fast|best]\n"
              "                 [--threads N] [--part-size SIZE] [--audio auto|off] [--order FILE]\n"
              "                 [--strict-names] [--no-script-check] [--scramble-script] [--report]",
     "pack every file below DIR into the installer OUT", build_command},
    {"list", "list INSTALLER [--json]", "show the entries in order: size, checksum, name; totals and ratio",
     list_command},
    {"test", "test INSTALLER [--json]", "unpack and check everything without writing; exit 0 only when whole",
     test_command},
    {"extract", "extract INSTALLER [-C DIR]", "write the files below DIR (default: the current folder)",
     extract_command},
    {"script", "script FILE", "parse a setup script as the installer does; print its record as JSON", script_command},
};

// The project's version, from the build; the manual page names it too.
constexpr const char* version_text = "lumopack " LUMO_VERSION;

// Each target with the stub this lumopack would take for it, and where it
// looks for them.
void print_targets(const CommandContext& context) {
    std::printf("\ntargets (build --target NAME), and the stubs found for them:\n");
    for (const auto& target : stub_targets()) {
        const bool is_default = target.name == default_stub_target;
        std::printf("  %-12.*s %s%.*s\n", int(target.name.size()), target.name.data(), is_default ? "(default) " : "",
                    int(target.summary.size()), target.summary.data());
        const FoundStub stub = find_stub(target, context.program);
        if (stub.file) std::printf("               %s\n", shown(stub.path).c_str());
        else if (!stub.refusal.empty()) std::printf("               not taken: %s\n", stub.refusal.c_str());
        else std::printf("               not found%s%s\n", stub.path.empty() ? "" : ": ", shown(stub.path).c_str());
    }
    if (!context.program.empty() && !runs_from_build_tree(context.program))
        std::printf("\nstubs are taken only from %s, and only when nobody but the administrator\n"
                    "and this user can have put them there; build names the stub it used and\n"
                    "its SHA-256.\n",
                    shown(installed_stub_folder(context.program)).c_str());
    else if (!context.program.empty())
        std::printf("\nrun from its build tree: the stubs are the builds' own; build names the stub\n"
                    "it used and its SHA-256.\n");
}

void print_help(const CommandContext& context) {
    std::printf("%s: builds, lists, tests and extracts Lumo installers.\n\nusage:\n", version_text);
    for (const auto& command : commands)
        std::printf("  lumopack %.*s\n      %.*s\n", int(command.usage.size()), command.usage.data(),
                    int(command.summary.size()), command.summary.data());
    std::printf(
        "\nbuild options:\n"
        "  -o, --output OUT   the installer to write\n"
        "  --target NAME      the system the installer runs on (targets below);\n"
        "                     default windows-x86, for the Windows product's add-ons\n"
        "  --stub PATH        a stub of one's own, in place of a target's; a signed\n"
        "                     stub's signature is removed: sign the finished installer\n"
        "  --level N          compression level, 1 (fast) to 9 (best); default 6\n"
        "  --threads N        threads to pack with; default: one per processor. The\n"
        "                     installer is the same byte for byte for every N\n"
        "  --part-size SIZE   image bytes per unit of work (64K to 1024M; default 4M):\n"
        "                     smaller parts keep more threads busy and pack a little\n"
        "                     larger; the installer depends on it\n"
        "  --audio MODE       auto: code WAV audio in audio mode where smaller; off: never\n"
        "  --order FILE       names (one a line) that lead the directory in this order;\n"
        "                     default order: Setup.cfg, Setup.exe, then the rest by name\n"
        "  --strict-names     refuse names with characters outside ASCII (by default a\n"
        "                     warning): Windows writes them right only where the\n"
        "                     system's code page is 1252 (Western European); and\n"
        "                     names of the form of another's short name (README~1.TXT\n"
        "                     beside Readme-first.txt)\n"
        "  --no-script-check  build even when Setup.cfg fails to parse\n"
        "  --scramble-script  store Setup.cfg scrambled\n"
        "  --report           print how the work was divided, part by part, with its\n"
        "                     processor time, and the time worked out for N processors\n"
        "\nlist and test options:\n"
        "  --json             print the entries (and test's verdicts) as JSON\n"
        "\nextract options:\n"
        "  -C, --directory DIR  the folder to write below\n");
    print_targets(context);
    std::printf("\n  lumopack -h | --help | --version\n");
}

}  // namespace
}  // namespace lumo

int main(int argc, char** argv) {
    using namespace lumo;
    return_large_blocks_when_freed();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fprintf(stderr, "lumopack: no command given (see lumopack --help)\n");
        return 2;
    }
    const CommandContext context{running_program_path(argc > 0 ? argv[0] : "lumopack")};
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        print_help(context);
        return 0;
    }
    if (args[0] == "--version") {
        std::printf("%s\n", version_text);
        return 0;
    }
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
