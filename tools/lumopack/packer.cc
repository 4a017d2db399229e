#include "tools/lumopack/packer.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <system_error>

#include "payload/checksum.h"
#include "payload/entry_name.h"
#include "payload/installer_layout.h"
#include "payload/unpack_stream.h"
#include "tools/encoder/thread_clock.h"
#include "tools/encoder/worker_pool.h"
#include "tools/lumopack/container_source.h"
#include "tools/lumopack/container_writer.h"
#include "tools/lumopack/entry_order.h"
#include "tools/lumopack/file_digest.h"
#include "tools/lumopack/folder_gathering.h"
#include "tools/lumopack/name_portability.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/progress_bar.h"
#include "tools/lumopack/system/system.h"

namespace lumo {
namespace fs = std::filesystem;
namespace {

constexpr uint64_t field_max = std::numeric_limits<uint32_t>::max();

void put_u32(std::vector<uint8_t>& out, uint64_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
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

// The packed stream of an image is at worst a little larger than the image:
// bytes that do not pack cost their 8 bits and a share of the code tables.
// This much room is asked of the format's 32-bit fields before any work.
uint64_t packed_size_bound(uint64_t image_size) { return image_size + image_size / 32 + (uint64_t(1) << 20); }
constexpr uint64_t tail_bound = 7 + 16;  // padding and trailer

void check_installer_fits(uint64_t stub_size, uint64_t image_size) {
    const uint64_t room = stub_size + stored_payload_header_size + tail_bound;
    if (room + packed_size_bound(image_size) <= field_max) return;
    uint64_t most = 0;  // the largest image that is sure to fit
    if (room + packed_size_bound(0) < field_max) most = (field_max - room - packed_size_bound(0)) * 32 / 33;
    throw PackError("the files are too large for an installer: with their directory they make " +
                    std::to_string(image_size) + " bytes, and packed they could pass the 4 GiB that the format's "
                    "32-bit sizes describe; at most " + std::to_string(most) + " bytes fit with this stub");
}

// The first pass: every file's checksums, files side by side; the script
// that is stored in place of its file from memory. Returns the processor
// seconds of each file.
std::vector<double> digest_files(PlannedImage& image, int threads, ProgressBar& progress) {
    WorkerPool pool(threads);
    std::vector<std::future<std::pair<FileDigest, double>>> digests;
    for (const PlannedFile& file : image.files)
        digests.push_back(pool.submit([&file] {
            const double started = thread_processor_seconds();
            FileDigest digest = file.bytes ? digest_bytes(*file.bytes) : digest_file(*file.file, file.size, file.shown);
            return std::pair(std::move(digest), thread_processor_seconds() - started);
        }));
    std::vector<double> seconds;
    for (size_t i = 0; i < digests.size(); ++i) {
        auto [digest, spent] = digests[i].get();
        image.files[i].digest = std::move(digest);
        seconds.push_back(spent);
        progress.advance(image.files[i].size);
    }
    return seconds;
}

// Hands the packed stream to the installer file as the encoder writes it.
class InstallerSink final : public StreamSink {
public:
    InstallerSink(OutputFile& out, ProgressBar& progress) : out_(out), progress_(progress) {}
    void write(std::span<const uint8_t> bytes) override { out_.write(bytes); }
    void coded(uint64_t bytes) override {
        progress_.advance(bytes - coded_);
        coded_ = bytes;
    }

private:
    OutputFile& out_;
    ProgressBar& progress_;
    uint64_t coded_ = 0;
};

// Takes the decoder's blocks of output in order and holds them against the
// planned image. The unpacked image is not kept: pages more than a window
// behind the decoder (which never reads further back) are given back, and
// so are the pages of the stream that the parts already unpacked have used.
class CheckingSink final : public ProgressSink {
public:
    CheckingSink(const PlannedImage& image, ZeroedBuffer& output, MappedFile& input, const EncoderWork& work,
                 ProgressBar& progress)
        : check_(image), output_(output), input_(input), work_(work), progress_(progress) {}

    void report_progress(uint32_t bytes) override {
        if (bytes > output_.size() - done_) return;  // refused by the decoder too
        check_.take(std::span<const uint8_t>(output_.data() + done_, bytes));
        done_ += bytes;
        constexpr size_t behind = (size_t(1) << 20) + 4096;
        if (done_ > behind) output_.forget(0, done_ - behind);
        for (; part_ < work_.parts.size() && work_.parts[part_].image_end <= done_; ++part_)
            input_bits_ += work_.parts[part_].packed_bits;
        constexpr uint64_t margin = 64 * 1024;
        if (input_bits_ / 8 > margin) input_.release_before(input_bits_ / 8 - margin);
        progress_.advance(bytes);
    }
    bool whole() const { return check_.whole(); }

private:
    ImageCheck check_;
    ZeroedBuffer& output_;
    MappedFile& input_;
    const EncoderWork& work_;
    ProgressBar& progress_;
    size_t done_ = 0;
    size_t part_ = 0;
    uint64_t input_bits_ = 0;
};

// Unpacks the stream, read back from the installer file, with the installer's
// own decoder and holds the result against the image it was made from: an
// installer is only written when it unpacks to exactly the files.
double verify_packed_stream(const HeldFile& installer, const std::string& shown_installer, uint64_t stream_offset,
                            uint64_t stream_size, const PlannedImage& image, const EncoderWork& work,
                            ProgressBar& progress) {
    const double started = thread_processor_seconds();
    MappedFile input(installer, stream_offset, stream_size, shown_installer);
    ZeroedBuffer output(size_t(image.size));
    progress.restart("verifying", image.size);
    CheckingSink check(image, output, input, work, progress);
    const std::span<const uint8_t> stream = input.bytes();
    const bool filled = unpack_stream_filled(stream.data(), stream.data() + stream.size(), output.data(),
                                             output.data() + output.size(), check);
    if (!filled || !check.whole())
        throw PackError("the packed payload does not unpack to the files (an encoder fault); nothing was written");
    return thread_processor_seconds() - started;
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

template <typename Buffer>
Buffer read_whole_file(const fs::path& path) {
    const HeldFile file = open_to_read(path);
    const uint64_t size = file.size();
    Buffer bytes(static_cast<size_t>(size));
    if (!file.read_at(0, std::span(bytes.data(), bytes.size()))) throw PackError(shown(path) + ": cannot be read");
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
    std::vector<uint8_t> stub = options.stub;
    if (stub.empty()) throw PackError(options.stub_shown + ": the stub is empty");
    if (remove_signature(stub, options.stub_shown))
        summary.warnings.push_back(options.stub_shown +
                                   " is signed: its signature was removed, as it cannot cover the payload; sign the "
                                   "finished installer");

    // The installer's file is made first, in the folder held from now on,
    // so that neither it nor the one it replaces is packed when -o names a
    // place inside the add-on's folder.
    OutputFile out(output);
    std::vector<GatheredFile> gathered = gather_folder(folder, out.own_files());
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
    // is packed, and the bytes checked are the ones stored (scrambled, when
    // asked), whatever becomes of the file meanwhile.
    std::vector<std::string> ordered_names;
    for (size_t i : order) ordered_names.push_back(gathered[i].stored_name);
    const std::optional<size_t> script_at = find_setup_script(ordered_names);
    std::optional<std::vector<uint8_t>> stored_script;
    {
        std::vector<uint8_t> script =
            script_at ? read_held_file(*gathered[order[*script_at]].file, gathered[order[*script_at]].host_name,
                                       gathered[order[*script_at]].size)
                      : std::vector<uint8_t>{};
        ScriptBuildResult checked = check_setup_script_for_build(ordered_names, script, options.script);
        for (auto& warning : checked.warnings) summary.warnings.push_back(std::move(warning));
        if (checked.stored_script) {
            summary.file_bytes += checked.stored_script->size() - planned[*script_at].size;
            planned[*script_at].size = checked.stored_script->size();
            stored_script = std::move(checked.stored_script);
        } else if (script_at) {
            stored_script = std::move(script);
        }
    }

    // Everything that could make the installer impossible is known from the
    // sizes: it is told before any file is read.
    if (locate_stored_payload(stub)) throw PackError("the stub already carries a payload: it is an installer itself");
    auto layout = lay_out_container(planned);
    if (!layout) throw PackError("the files are too large for an installer: the payload must stay below 4 GiB");
    check_installer_fits(stub.size(), layout->image_size);
    summary.image_size = layout->image_size;
    const int threads = options.encoder.threads > 0 ? options.encoder.threads : default_thread_count();

    PlannedImage image;
    image.size = layout->image_size;
    for (size_t k = 0; k < order.size(); ++k) {
        const GatheredFile& file = gathered[order[k]];
        image.files.push_back({layout->data_offset[k], planned[k].size, file.file, file.host_name, {}, std::nullopt});
    }
    if (stored_script) image.files[*script_at].bytes = std::move(stored_script);
    progress.restart("reading", summary.file_bytes);
    summary.reading_seconds = digest_files(image, threads, progress);
    std::vector<uint32_t> checksums;
    for (const PlannedFile& file : image.files) checksums.push_back(file.digest.whole);
    seal_container(*layout, checksums);
    image.front = std::move(layout->front);

    // The installer: the stub, the payload's size header (filled in once
    // the stream's size is known), the stream as the encoder writes it, the
    // padding and the trailer.
    out.write(stub);
    out.write(std::vector<uint8_t>(stored_payload_header_size, 0));
    progress.restart("packing", image.size);
    InstallerSink sink(out, progress);
    const uint64_t packed = pack_stream(ContainerSource(image), options.encoder, sink, nullptr, &summary.work);
    if (packed > field_max - stored_payload_header_size)
        throw PackError("the packed payload is larger than the format's 4 GiB limit");
    auto tail = installer_tail(stub.size(), stored_payload_header_size + packed);
    if (!tail) throw PackError("the installer would be larger than the trailer's 32-bit fields can describe");
    out.write(*tail);
    std::vector<uint8_t> header;
    put_u32(header, packed);
    put_u32(header, image.size);
    out.write_at(stub.size(), header);
    out.flush();
    summary.verifying_seconds = verify_packed_stream(out.written(), shown(output), stub.size() + stored_payload_header_size,
                                                     packed, image, summary.work, progress);
    out.commit(options.stub_permissions);

    summary.packed_size = packed;
    summary.installer_size = out.size();
    return summary;
}

}  // namespace lumo
