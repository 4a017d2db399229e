#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "tools/lumopack/commands.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/packer.h"
#include "tools/lumopack/progress_bar.h"
#include "tools/lumopack/sha256.h"
#include "tools/lumopack/stub_targets.h"
#include "tools/lumopack/system/system.h"
#include "tools/lumopack/work_report.h"

namespace lumo {
namespace fs = std::filesystem;
namespace {

int parse_level(const std::string& text) {
    if (text == "fast") return kFastestLevel;
    if (text == "best") return kBestLevel;
    if (text.size() == 1 && text[0] >= '1' && text[0] <= '9') return text[0] - '0';
    throw UsageError("--level takes 1 to 9, fast or best, not '" + text + "'");
}

int parse_threads(const std::string& text) {
    int threads = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || threads > 999) {
            threads = 0;
            break;
        }
        threads = threads * 10 + (c - '0');
    }
    if (threads < 1 || threads > 1024) throw UsageError("--threads takes a number from 1 to 1024, not '" + text + "'");
    return threads;
}

// "4M", "256K" or bytes; from 64 KiB to 1 GiB.
uint32_t parse_part_size(const std::string& text) {
    uint64_t size = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && size < (1u << 31); ++i) size = size * 10 + uint64_t(text[i] - '0');
    const std::string unit = text.substr(i);
    if (unit == "K" || unit == "k") size <<= 10;
    else if (unit == "M" || unit == "m") size <<= 20;
    else if (!unit.empty()) size = 0;
    if (i == 0 || size < (64u << 10) || size > (1u << 30))
        throw UsageError("--part-size takes a size from 64K to 1024M, not '" + text + "'");
    return uint32_t(size);
}

AudioMode parse_audio(const std::string& text) {
    if (text == "auto") return AudioMode::automatic;
    if (text == "off") return AudioMode::off;
    throw UsageError("--audio takes auto or off, not '" + text + "'");
}

// The stub a build takes, read once through the file that was opened (and,
// for an installed stub, checked): what is packed and what is named are the
// same bytes.
struct LoadedStub {
    fs::path path;
    std::vector<uint8_t> bytes;
    uint32_t permissions = 0;
};

LoadedStub load_stub(const fs::path& path, const HeldFile& file) {
    return {path, read_held_file(file, shown(path)), file.permissions()};
}

// The stub of the target named `name` that this lumopack finds, checked to
// be a program of the target's kind.
LoadedStub target_stub(const std::string& name, const CommandContext& context) {
    const StubTarget* target = find_stub_target(name);
    if (!target) {
        std::string names;
        for (const auto& known : stub_targets()) names += (names.empty() ? "" : ", ") + std::string(known.name);
        throw UsageError("--target takes one of " + names + ", not '" + name + "'");
    }
    const FoundStub found = find_stub(*target, context.program);
    if (!found.refusal.empty())
        throw PackError("the stub for the target " + name + " is not taken: " + found.refusal +
                        "; name one with --stub PATH");
    if (!found.file)
        throw PackError("no stub for the target " + name +
                        (found.path.empty() ? std::string(" here") : " (looked for " + shown(found.path) + ")") +
                        "; name one with --stub PATH");
    LoadedStub stub = load_stub(found.path, found.file);
    check_stub_kind(*target, stub.bytes, shown(stub.path));
    return stub;
}

}  // namespace

int build_command(CommandArguments args, const CommandContext& context) {
    std::string folder, output, stub, target, value;
    PackOptions options;
    bool report = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (take_option(args, i, "-o", output) || take_option(args, i, "--output", output) ||
            take_option(args, i, "--stub", stub) || take_option(args, i, "--target", target)) {
        } else if (take_option(args, i, "--level", value)) {
            options.encoder.level = parse_level(value);
        } else if (take_option(args, i, "--threads", value)) {
            options.encoder.threads = parse_threads(value);
        } else if (take_option(args, i, "--part-size", value)) {
            options.encoder.part_size = parse_part_size(value);
        } else if (take_option(args, i, "--audio", value)) {
            options.encoder.audio = parse_audio(value);
        } else if (take_option(args, i, "--order", value)) {
            options.order = read_order_file(value);
        } else if (args[i] == "--no-script-check") {
            options.script.check = false;
        } else if (args[i] == "--scramble-script") {
            options.script.scramble = true;
        } else if (args[i] == "--strict-names") {
            options.strict_names = true;
        } else if (args[i] == "--report") {
            report = true;
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
    if (!stub.empty() && !target.empty()) throw UsageError("--stub and --target exclude each other");
    LoadedStub used = !stub.empty() ? load_stub(stub, open_to_read(stub))
                                    : target_stub(target.empty() ? std::string(default_stub_target) : target, context);
    options.stub_shown = shown(used.path);
    options.stub_permissions = used.permissions;
    const std::string digest = sha256_hex(used.bytes);
    options.stub = std::move(used.bytes);

    ProgressBar progress("", 0, standard_error_is_terminal());
    const PackSummary summary = pack_folder(folder, output, options, progress);
    progress.finish();
    for (const auto& warning : summary.warnings) std::fprintf(stderr, "lumopack build: warning: %s\n", warning.c_str());
    std::printf("%s: %zu files, %" PRIu64 " bytes; container %" PRIu64 " bytes packed to %" PRIu64
                " (%.1f%%); installer %" PRIu64 " bytes\n",
                output.c_str(), summary.files, summary.file_bytes, summary.image_size, summary.packed_size,
                summary.image_size ? 100.0 * double(summary.packed_size) / double(summary.image_size) : 0.0,
                summary.installer_size);
    std::printf("stub: %s, SHA-256 %s\n", options.stub_shown.c_str(), digest.c_str());
    if (report) print_work_report(stdout, summary);
    return 0;
}

}  // namespace lumo
