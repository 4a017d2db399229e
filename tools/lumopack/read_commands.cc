// The commands that read an installer: list, test and extract.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "payload/code_page.h"
#include "tools/lumopack/commands.h"
#include "tools/lumopack/entry_json.h"
#include "tools/lumopack/folder_gathering.h"
#include "tools/lumopack/installer_reader.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/progress_bar.h"
#include "tools/lumopack/system/system.h"

namespace lumo {
namespace {

// The one installer a reading command takes, and the target folder of
// extract.
struct ReadArguments {
    std::string installer;
    std::string folder = ".";
    bool json = false;
};

// What a reading command takes besides the installer.
enum class ReadOptions { json, folder };

ReadArguments parse_read_arguments(CommandArguments args, ReadOptions takes) {
    ReadArguments parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        if (takes == ReadOptions::folder && (take_option(args, i, "-C", parsed.folder) || take_option(args, i, "--directory", parsed.folder))) {
        } else if (takes == ReadOptions::json && args[i] == "--json") {
            parsed.json = true;
        } else if (args[i].starts_with("-") && args[i] != "-") {
            throw UsageError("unknown option " + args[i]);
        } else if (parsed.installer.empty()) {
            parsed.installer = args[i];
        } else {
            throw UsageError("more than one installer given");
        }
    }
    if (parsed.installer.empty()) throw UsageError("no installer given");
    return parsed;
}

// Unpacking, then a second pass over the files: both count towards the bar.
OpenedInstaller open_with_progress(const std::string& path, ProgressBar& progress) {
    OpenedInstaller opened = open_installer(path, progress);
    progress.restart("checking", opened.image.size());
    return opened;
}

// list and extract show what the installer would do with the files, which
// it finds from the image's front whatever its stored size says; test fails.
void warn_of_unpacked_size(const char* command, const OpenedInstaller& opened) {
    if (auto fault = unpacked_size_fault(opened))
        std::fprintf(stderr, "lumopack %s: warning: the installer is damaged: %s\n", command, fault->c_str());
}

void print_json(const std::string& json) {
    std::fwrite(json.data(), 1, json.size(), stdout);
    std::fputc('\n', stdout);
}

double ratio(uint64_t part, uint64_t whole) { return whole ? 100.0 * double(part) / double(whole) : 0.0; }

// The parts of an entry's name in the host's spelling: the folders on its
// way and the file. The name has passed the installer's rule, so its parts
// are plain names.
std::vector<std::string> host_parts(std::string_view name) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t cut; (cut = name.find_first_of("\\/", start)) != std::string_view::npos; start = cut + 1)
        parts.push_back(cp1252_to_utf8(name.substr(start, cut - start)));
    parts.push_back(cp1252_to_utf8(name.substr(start)));
    return parts;
}

// `test --json`: every entry is judged, past a bad one, and the verdict is
// printed whatever it is; a failure then ends the command as `test` ends,
// with its message on standard error.
int test_as_json(const std::string& installer, ProgressBar& progress) {
    EntriesJson json;
    std::string error;
    try {
        const OpenedInstaller opened = open_with_progress(installer, progress);
        if (auto fault = unpacked_size_fault(opened)) error = corrupt_payload_message(*fault);
        judge_entries(opened, [&](const DirectoryEntry& entry, const EntryVerdict& verdict) {
            json.add(entry, verdict);
            if (verdict.kind != EntryVerdict::Kind::ok && error.empty()) error = entry_failure_message(entry, verdict);
            progress.advance(entry.data_size);
        });
    } catch (const PackError& failure) {
        error = failure.what();
    }
    progress.finish();
    print_json(json.verdict(error));
    if (!error.empty()) throw PackError(error);
    return 0;
}

}  // namespace

int list_command(CommandArguments args, const CommandContext&) {
    const ReadArguments parsed = parse_read_arguments(args, ReadOptions::json);
    ProgressBar progress("", 0, standard_error_is_terminal());
    const OpenedInstaller opened = open_with_progress(parsed.installer, progress);
    progress.finish();
    warn_of_unpacked_size("list", opened);

    if (parsed.json) {
        EntriesJson json;
        walk_entries(opened, EntryChecks::names_only, [&](const DirectoryEntry& entry) { json.add(entry); });
        print_json(json.listing(opened));
        return 0;
    }
    std::printf("%12s  %8s  %s\n", "size", "checksum", "name");
    size_t files = 0;
    uint64_t bytes = 0;
    walk_entries(opened, EntryChecks::names_only, [&](const DirectoryEntry& entry) {
        std::printf("%12" PRIu32 "  %08" PRIx32 "  %s\n", entry.data_size, entry.data_checksum,
                    host_spelling(std::string(entry.name)).c_str());
        ++files;
        bytes += entry.data_size;
    });
    std::printf("%zu files, %" PRIu64 " bytes; container %" PRIu32 " bytes packed to %" PRIu32 " (%.1f%%)\n", files,
                bytes, opened.unpacked_size, opened.packed_size, ratio(opened.packed_size, opened.unpacked_size));
    return 0;
}

int test_command(CommandArguments args, const CommandContext&) {
    const ReadArguments parsed = parse_read_arguments(args, ReadOptions::json);
    ProgressBar progress("", 0, standard_error_is_terminal());
    if (parsed.json) return test_as_json(parsed.installer, progress);
    const OpenedInstaller opened = open_with_progress(parsed.installer, progress);
    if (auto fault = unpacked_size_fault(opened)) throw PackError(corrupt_payload_message(*fault));
    size_t files = 0;
    uint64_t bytes = 0;
    walk_entries(opened, EntryChecks::all, [&](const DirectoryEntry& entry) {
        ++files;
        bytes += entry.data_size;
        progress.advance(entry.data_size);
    });
    progress.finish();
    std::printf("%s: ok, %zu files, %" PRIu64 " bytes\n", parsed.installer.c_str(), files, bytes);
    return 0;
}

int extract_command(CommandArguments args, const CommandContext&) {
    const ReadArguments parsed = parse_read_arguments(args, ReadOptions::folder);
    TargetFolder target(parsed.folder);

    ProgressBar progress("", 0, standard_error_is_terminal());
    const OpenedInstaller opened = open_with_progress(parsed.installer, progress);
    size_t files = 0;
    walk_entries(opened, EntryChecks::all, [&](const DirectoryEntry& entry) {
        target.write_file(host_parts(entry.name), entry.data, host_spelling(std::string(entry.name)), progress);
        ++files;
    });
    progress.finish();
    warn_of_unpacked_size("extract", opened);
    std::printf("%zu files written below %s\n", files, parsed.folder.c_str());
    return 0;
}

}  // namespace lumo
