#include "tools/lumopack/installer_reader.h"

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

    OpenedInstaller opened;
    opened.file_size = file.size();
    opened.payload_offset = location->offset;
    opened.packed_size = payload.packed_size;
    opened.unpacked_size = payload.unpacked_size;
    opened.image = ZeroedBuffer(payload.unpacked_size);
    progress.restart("unpacking", payload.unpacked_size);
    unpack_stream(payload.packed_stream.data(), payload.packed_stream.data() + payload.packed_stream.size(),
                  opened.image.data(), opened.image.data() + opened.image.size(), progress);
    return opened;
}

void walk_entries(const OpenedInstaller& installer, EntryChecks checks,
                  const std::function<void(const DirectoryEntry&)>& visit) {
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
        const std::string name = "entry \"" + host_spelling(std::string(entry.name)) + "\"";
        if (checks == EntryChecks::all) {
            if (!check_entry_data(image, header, entry))
                throw PackError(corrupt_payload_message(name + ": its data does not match its checksum or size"));
            if (auto fault = check_entry_name(entry.name); fault != EntryNameFault::none)
                throw PackError(corrupt_payload_message(name + ": unsafe name, " + describe(fault)));
        }
        visit(entry);
    }
}

}  // namespace lumo
