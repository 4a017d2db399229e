#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "tools/lumopack/commands.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/packer.h"
#include "tools/lumopack/progress_bar.h"
#include "tools/lumopack/terminal.h"

namespace lumo {
namespace fs = std::filesystem;
namespace {

int parse_level(const std::string& text) {
    if (text == "fast") return kFastestLevel;
    if (text == "best") return kBestLevel;
    if (text.size() == 1 && text[0] >= '1' && text[0] <= '9') return text[0] - '0';
    throw UsageError("--level takes 1 to 9, fast or best, not '" + text + "'");
}

AudioMode parse_audio(const std::string& text) {
    if (text == "auto") return AudioMode::automatic;
    if (text == "off") return AudioMode::off;
    throw UsageError("--audio takes auto or off, not '" + text + "'");
}

// The stub built with this lumopack: the build names it, and when that file
// has moved, one beside the lumopack executable is taken.
fs::path default_stub(const CommandContext& context) {
#ifdef LUMO_DEFAULT_STUB
    if (fs::path built = LUMO_DEFAULT_STUB; fs::is_regular_file(built)) return built;
#endif
    const fs::path beside = fs::path(context.program_path).parent_path();
    for (const char* name : {"lumo-stub", "lumo-stub.exe"})
        if (fs::is_regular_file(beside / name)) return beside / name;
    throw PackError("no installer stub found beside lumopack; name one with --stub PATH");
}

}  // namespace

int build_command(CommandArguments args, const CommandContext& context) {
    std::string folder, output, stub, value;
    PackOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        if (take_option(args, i, "-o", output) || take_option(args, i, "--output", output) ||
            take_option(args, i, "--stub", stub)) {
        } else if (take_option(args, i, "--level", value)) {
            options.encoder.level = parse_level(value);
        } else if (take_option(args, i, "--audio", value)) {
            options.encoder.audio = parse_audio(value);
        } else if (take_option(args, i, "--order", value)) {
            options.order = read_order_file(value);
        } else if (args[i] == "--no-script-check") {
            options.script.check = false;
        } else if (args[i] == "--scramble-script") {
            options.script.scramble = true;
        } else if (args[i].starts_with("-") && args[i] != "-") {
            throw UsageError("unknown option " + args[i]);
        } else if (folder.empty()) {
            folder = args[i];
        } else {
            throw UsageError("more than one folder given");
        }
    }
    if (folder.empty()) throw UsageError("no folder given");
    if (output.empty()) throw UsageError("no output given: -o OUT");
    options.stub = stub.empty() ? default_stub(context) : fs::path(stub);

    ProgressBar progress("", 0, standard_error_is_terminal());
    const PackSummary summary = pack_folder(folder, output, options, progress);
    progress.finish();
    for (const auto& warning : summary.warnings) std::fprintf(stderr, "lumopack build: warning: %s\n", warning.c_str());
    std::printf("%s: %zu files, %" PRIu64 " bytes; container %" PRIu64 " bytes packed to %" PRIu64
                " (%.1f%%); installer %" PRIu64 " bytes\n",
                output.c_str(), summary.files, summary.file_bytes, summary.image_size, summary.packed_size,
                summary.image_size ? 100.0 * double(summary.packed_size) / double(summary.image_size) : 0.0,
                summary.installer_size);
    return 0;
}

}  // namespace lumo
