#include "tools/lumopack/packer.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <system_error>

#include "payload/checksum.h"
#include "payload/entry_name.h"
#include "payload/installer_layout.h"
#include "payload/unpack_stream.h"
#include "tools/lumopack/container_writer.h"
#include "tools/lumopack/entry_order.h"
#include "tools/lumopack/folder_gathering.h"
#include "tools/lumopack/name_portability.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/progress_bar.h"

namespace lumo {
namespace fs = std::filesystem;
namespace {

constexpr uint64_t field_max = std::numeric_limits<uint32_t>::max();

std::string shown(const fs::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

void put_u32(std::vector<uint8_t>& out, uint64_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// Reads `file.size` bytes of a gathered file into its place in the image.
void read_into(const GatheredFile& file, uint8_t* place, ProgressBar& progress) {
    std::ifstream in(file.path, std::ios::binary);
    if (!in) throw PackError(file.host_name + ": cannot be read");
    constexpr uint64_t chunk = 1 << 20;
    for (uint64_t done = 0; done < file.size;) {
        const uint64_t want = std::min(chunk, file.size - done);
        in.read(reinterpret_cast<char*>(place + done), std::streamsize(want));
        if (uint64_t(in.gcount()) != want) throw PackError(file.host_name + ": changed size while it was packed");
        done += want;
        progress.advance(want);
    }
    if (in.peek() != std::char_traits<char>::eof())
        throw PackError(file.host_name + ": changed size while it was packed");
}

std::string stored_order_name(const std::string& listed) {
    std::string joined = listed;
    for (char& c : joined)
        if (c == '/') c = '\\';
    auto stored = stored_entry_name(joined);
    if (auto* fault = std::get_if<EntryNameFault>(&stored))
        throw PackError("entry order: " + listed + ": " + describe(*fault));
    return std::get<std::string>(std::move(stored));
}

std::vector<size_t> entry_order(const std::vector<std::string>& names, const std::vector<std::string>& listed) {
    if (listed.empty()) return default_entry_order(names);
    std::vector<std::string> first;
    for (const auto& name : listed) first.push_back(stored_order_name(name));
    std::string unknown;
    auto order = listed_entry_order(names, first, unknown);
    if (order.empty() && !names.empty())
        throw PackError("entry order: " + host_spelling(unknown) + ": not among the files, or listed twice");
    return order;
}

// Unpacks the stream with the installer's own decoder and compares the
// result with the image it was made from, through a checksum of the whole
// image: an installer is only written when it unpacks to exactly the files.
void verify_packed_stream(std::span<const uint8_t> packed, uint64_t image_size, uint32_t image_checksum,
                          ProgressBar& progress) {
    std::vector<uint8_t> unpacked(static_cast<size_t>(image_size));
    progress.restart("verifying", image_size);
    unpack_stream(packed.data(), packed.data() + packed.size(), unpacked.data(), unpacked.data() + unpacked.size(),
                  progress);
    if (container_checksum(unpacked.data(), unpacked.size()) != image_checksum)
        throw PackError("the packed payload does not unpack to the files (an encoder fault); nothing was written");
}

// Takes a signing tool's certificate table off a stub: the table itself,
// which ends the file, and the security directory entry that names it. An
// installer made from a signed stub would carry a signature that covers the
// stub alone, and the installer finds no payload behind a signed stub's
// table (payload/installer_layout.h). True when there was a signature.
bool remove_signature(std::vector<uint8_t>& stub, const std::string& shown_stub) {
    const auto table = pe_certificate_table(stub);
    if (!table) return false;
    if (table->offset + table->size != stub.size())
        throw PackError(shown_stub + " is signed, and data follows its certificate table: give the stub unsigned");
    stub.resize(size_t(table->offset));
    std::fill_n(stub.begin() + ptrdiff_t(table->directory_entry), 8, uint8_t(0));
    return true;
}

}  // namespace

std::vector<std::span<const uint8_t>> InstallerPieces::in_order() const {
    return {stub, payload_header, packed_stream, tail};
}

InstallerPieces make_installer(std::span<const uint8_t> stub, std::span<const uint8_t> image,
                               const EncoderOptions& options) {
    if (locate_stored_payload(stub)) throw PackError("the stub already carries a payload: it is an installer itself");
    if (image.size() > field_max) throw PackError("the container image is larger than the format's 4 GiB limit");

    InstallerPieces pieces;
    pieces.stub = stub;
    pieces.packed_stream = pack_stream(image, options);
    const uint64_t packed = pieces.packed_stream.size();
    if (packed > field_max - stored_payload_header_size)
        throw PackError("the packed payload is larger than the format's 4 GiB limit");
    put_u32(pieces.payload_header, packed);
    put_u32(pieces.payload_header, image.size());
    auto tail = installer_tail(stub.size(), stored_payload_header_size + packed);
    if (!tail) throw PackError("the installer would be larger than the trailer's 32-bit fields can describe");
    pieces.tail = std::move(*tail);
    return pieces;
}

void write_file_atomically(const fs::path& path, std::span<const std::span<const uint8_t>> pieces,
                           const fs::path& like) {
    std::random_device random;
    // Beside the output, so that the rename stays on one file system. The
    // name is appended to the path itself: a narrow copy of a Windows path
    // could lose characters outside the ANSI code page.
    fs::path temporary = path;
    temporary += ".partial-" + std::to_string(random() % 1000000);
    try {
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            if (!out) throw PackError(shown(path) + ": cannot be created");
            for (auto piece : pieces)
                out.write(reinterpret_cast<const char*>(piece.data()), std::streamsize(piece.size()));
            out.close();
            if (!out) throw PackError(shown(path) + ": cannot be written (is the disk full?)");
        }
        std::error_code error;
        if (!like.empty()) {
            const auto permissions = fs::status(like, error).permissions();
            if (!error) fs::permissions(temporary, permissions, error);
        }
        fs::rename(temporary, path, error);
        if (error) throw PackError(shown(path) + ": " + error.message());
    } catch (...) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw;
    }
}

template <typename Buffer>
Buffer read_whole_file(const fs::path& path) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (error) throw PackError(shown(path) + ": " + error.message());
    std::ifstream in(path, std::ios::binary);
    Buffer bytes(static_cast<size_t>(size));
    if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size)))
        throw PackError(shown(path) + ": cannot be read");
    return bytes;
}
template std::vector<uint8_t> read_whole_file(const fs::path&);
template ZeroedBuffer read_whole_file(const fs::path&);

std::vector<std::string> read_order_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw PackError(shown(path) + ": cannot be read");
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == '#') continue;
        names.push_back(line);
    }
    return names;
}

PackSummary pack_folder(const fs::path& folder, const fs::path& output, const PackOptions& options,
                        ProgressBar& progress) {
    PackSummary summary;
    std::vector<uint8_t> stub = read_whole_file<std::vector<uint8_t>>(options.stub);
    if (stub.empty()) throw PackError(shown(options.stub) + ": the stub is empty");
    if (remove_signature(stub, shown(options.stub)))
        summary.warnings.push_back(shown(options.stub) +
                                   " is signed: its signature was removed, as it cannot cover the payload; sign the "
                                   "finished installer");

    std::vector<GatheredFile> gathered = gather_folder(folder, output);
    std::vector<std::string> names;
    for (const auto& file : gathered) names.push_back(file.stored_name);
    check_name_portability(names, options.strict_names, summary.warnings);
    const std::vector<size_t> order = entry_order(names, options.order);

    std::vector<ContainerFile> planned;
    for (size_t i : order) {
        planned.push_back({gathered[i].stored_name, gathered[i].size});
        summary.file_bytes += gathered[i].size;
    }
    summary.files = planned.size();
    bool has_setup_program = false;
    for (const auto& name : names) has_setup_program |= same_file_name(name, setup_program_name);
    if (!has_setup_program)
        summary.warnings.push_back("no Setup.exe in " + shown(folder) + ": the installer will have nothing to start");

    // The script is checked with the installer's own parser before anything
    // is packed, and may be stored scrambled in place of the file's bytes.
    std::vector<std::string> ordered_names;
    for (size_t i : order) ordered_names.push_back(gathered[i].stored_name);
    const std::optional<size_t> script_at = find_setup_script(ordered_names);
    std::optional<std::vector<uint8_t>> stored_script;
    {
        const std::vector<uint8_t> script =
            script_at ? read_whole_file<std::vector<uint8_t>>(gathered[order[*script_at]].path) : std::vector<uint8_t>{};
        ScriptBuildResult checked = check_setup_script_for_build(ordered_names, script, options.script);
        for (auto& warning : checked.warnings) summary.warnings.push_back(std::move(warning));
        if (checked.stored_script) {
            summary.file_bytes += checked.stored_script->size() - planned[*script_at].size;
            planned[*script_at].size = checked.stored_script->size();
            stored_script = std::move(checked.stored_script);
        }
    }

    auto layout = lay_out_container(planned);
    if (!layout) throw PackError("the files are too large for an installer: the payload must stay below 4 GiB");
    progress.restart("reading", summary.file_bytes);
    for (size_t k = 0; k < order.size(); ++k) {
        if (stored_script && k == *script_at) {
            std::copy(stored_script->begin(), stored_script->end(), layout->image.data() + layout->data_offset[k]);
            progress.advance(stored_script->size());
            continue;
        }
        read_into(gathered[order[k]], layout->image.data() + layout->data_offset[k], progress);
    }
    seal_container(*layout);

    summary.image_size = layout->image.size();
    const uint32_t image_checksum = container_checksum(layout->image.data(), layout->image.size());

    progress.restart("packing", 1);
    const InstallerPieces pieces = make_installer(stub, layout->image, options.encoder);
    progress.advance(1);
    // The image goes before the check, so that the packer holds at most the
    // image and the packed stream at any time.
    layout.reset();
    verify_packed_stream(pieces.packed_stream, summary.image_size, image_checksum, progress);
    write_file_atomically(output, pieces.in_order(), options.stub);

    summary.packed_size = pieces.packed_stream.size();
    for (auto piece : pieces.in_order()) summary.installer_size += piece.size();
    return summary;
}

}  // namespace lumo
