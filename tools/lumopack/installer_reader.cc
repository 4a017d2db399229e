#include "tools/lumopack/installer_reader.h"

#include <algorithm>

#include "payload/container.h"
#include "payload/entry_name.h"
#include "payload/installer_layout.h"
#include "payload/unpack_stream.h"
#include "resources/strings.h"
#include "tools/lumopack/folder_gathering.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/packer.h"
#include "tools/lumopack/progress_bar.h"

namespace lumo {

std::string corrupt_payload_message(const std::string& detail) {
    // The dialog's text breaks lines with CR LF; a console line takes spaces.
    std::string text;
    for (const char* c = LUMO_STR2_EN; *c; ++c) {
        if (*c == '\r') continue;
        text += *c == '\n' ? ' ' : *c;
    }
    return text + " (" + detail + ")";
}

OpenedInstaller open_installer(const std::filesystem::path& path, ProgressBar& progress) {
    const ZeroedBuffer file = read_whole_file<ZeroedBuffer>(path);
    const auto location = locate_stored_payload(file);
    if (!location) throw PackError(corrupt_payload_message("no stored payload found: not an installer"));

    StoredPayload payload;
    if (!parse_stored_payload(std::span<const uint8_t>(file).subspan(size_t(location->offset), size_t(location->length)), payload))
        throw PackError(corrupt_payload_message("the stored payload's header is damaged"));

    if (payload.unpacked_size > max_unpacked_size(payload.packed_size))
        throw PackError(corrupt_payload_message(
            "the stored unpacked size, " + std::to_string(payload.unpacked_size) + " bytes, is more than a packed stream of " +
            std::to_string(payload.packed_size) + " bytes can hold (at most " +
            std::to_string(max_unpacked_size(payload.packed_size)) + ")"));

    OpenedInstaller opened;
    opened.file_size = file.size();
    opened.payload_offset = location->offset;
    opened.packed_size = payload.packed_size;
    opened.unpacked_size = payload.unpacked_size;
    opened.image = ZeroedBuffer(payload.unpacked_size);
    progress.restart("unpacking", payload.unpacked_size);
    opened.stream_filled =
        unpack_stream_filled(payload.packed_stream.data(), payload.packed_stream.data() + payload.packed_stream.size(),
                             opened.image.data(), opened.image.data() + opened.image.size(), progress);
    return opened;
}

std::optional<std::string> unpacked_size_fault(const OpenedInstaller& installer) {
    const std::string size = std::to_string(installer.unpacked_size);
    if (!installer.stream_filled)
        return "the packed stream ends before it fills the stored unpacked size of " + size + " bytes";
    ImageHeader header;
    if (!validate_image_header(installer.image, header)) return std::nullopt;  // the walk says what is wrong
    const uint64_t end = std::max({uint64_t(image_header_size), uint64_t(header.directory_offset) + header.directory_length,
                                   uint64_t(header.data_end)});
    if (installer.image.size() > end)
        return "the stored unpacked size of " + size + " bytes runs " + std::to_string(installer.image.size() - end) +
               " bytes past the container's end";
    return std::nullopt;
}

namespace {

// The header's checks, then each entry; the data and name of an entry are
// judged only when `checks` asks for it.
void walk_directory(const OpenedInstaller& installer, EntryChecks checks,
                    const std::function<void(const DirectoryEntry&, const EntryVerdict&)>& visit) {
    const std::span<const uint8_t> image = installer.image;
    ImageHeader header;
    if (!validate_image_header(image, header))
        throw PackError(corrupt_payload_message("the container's header or directory does not match its checksum"));
    DirectoryWalker walker(image, header);
    DirectoryEntry entry;
    for (;;) {
        switch (walker.next(entry)) {
            case DirectoryWalker::Step::end: return;
            case DirectoryWalker::Step::corrupt:
                throw PackError(corrupt_payload_message("a directory entry leaves the container"));
            case DirectoryWalker::Step::entry: break;
        }
        EntryVerdict verdict;
        if (checks == EntryChecks::all) {
            if (!check_entry_data(image, header, entry))
                verdict = {EntryVerdict::Kind::damaged, "its data does not match its checksum or size"};
            else if (auto fault = check_entry_name(entry.name); fault != EntryNameFault::none)
                verdict = {EntryVerdict::Kind::unsafe_name, describe(fault)};
        }
        visit(entry, verdict);
    }
}

}  // namespace

void walk_entries(const OpenedInstaller& installer, EntryChecks checks,
                  const std::function<void(const DirectoryEntry&)>& visit) {
    walk_directory(installer, checks, [&](const DirectoryEntry& entry, const EntryVerdict& verdict) {
        if (verdict.kind != EntryVerdict::Kind::ok) throw PackError(entry_failure_message(entry, verdict));
        visit(entry);
    });
}

void judge_entries(const OpenedInstaller& installer,
                   const std::function<void(const DirectoryEntry&, const EntryVerdict&)>& visit) {
    walk_directory(installer, EntryChecks::all, visit);
}

std::string entry_failure_message(const DirectoryEntry& entry, const EntryVerdict& verdict) {
    const char* kind = verdict.kind == EntryVerdict::Kind::unsafe_name ? "unsafe name, " : "";
    return corrupt_payload_message("entry \"" + host_spelling(std::string(entry.name)) + "\": " + kind + verdict.reason);
}

}  // namespace lumo
