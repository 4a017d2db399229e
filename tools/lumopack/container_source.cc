#include "tools/lumopack/container_source.h"

#include <algorithm>
#include <cstring>

#include "payload/checksum.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/system/system.h"

namespace lumo {

namespace {

// The file whose data holds image byte `at` (past the front); files of no
// bytes hold none.
size_t file_at(const std::vector<PlannedFile>& files, uint64_t at) {
    auto it = std::upper_bound(files.begin(), files.end(), at,
                               [](uint64_t value, const PlannedFile& f) { return value < f.data_offset; });
    size_t i = size_t(it - files.begin()) - 1;
    while (files[i].size == 0 || at >= files[i].data_offset + files[i].size) ++i;
    return i;
}

void read_exactly(const PlannedFile& file, uint64_t at, std::span<uint8_t> out) {
    if (!out.empty() && !file.file->read_at(at, out)) throw short_read(*file.file, file.shown);
}

}  // namespace

void ContainerSource::read(uint64_t offset, std::span<uint8_t> out) const {
    const std::vector<uint8_t>& front = image_.front;
    if (offset < front.size()) {
        const size_t n = size_t(std::min<uint64_t>(out.size(), front.size() - offset));
        std::memcpy(out.data(), front.data() + offset, n);
        offset += n;
        out = out.subspan(n);
    }
    while (!out.empty()) {
        const PlannedFile& file = image_.files[file_at(image_.files, offset)];
        const uint64_t within = offset - file.data_offset;
        const size_t n = size_t(std::min<uint64_t>(out.size(), file.size - within));
        read_file(file, within, out.first(n));
        offset += n;
        out = out.subspan(n);
    }
}

// Reads the file's bytes [at, at + out.size()) together with the rest of the
// pieces they begin and end in, so that every piece touched is checked whole.
void ContainerSource::read_file(const PlannedFile& file, uint64_t at, std::span<uint8_t> out) const {
    if (file.bytes) {
        std::memcpy(out.data(), file.bytes->data() + at, out.size());
        return;
    }
    const uint64_t end = at + out.size();
    const uint64_t first_piece = at / kDigestPiece;
    const uint64_t piece_begin = first_piece * kDigestPiece;
    const uint64_t piece_end = std::min(file.size, (end + kDigestPiece - 1) / kDigestPiece * kDigestPiece);
    std::vector<uint8_t> before(size_t(at - piece_begin)), after(size_t(piece_end - end));

    read_exactly(file, piece_begin, before);
    read_exactly(file, at, out);
    read_exactly(file, end, after);
    uint8_t beyond = 0;
    if (piece_end == file.size && file.file->read_at(file.size, std::span(&beyond, 1)))
        throw PackError(file.shown + ": changed size while it was packed");

    // The three runs of bytes, cut at piece boundaries.
    uint64_t pos = piece_begin;
    uint32_t value = checksum_seed;
    auto add = [&](std::span<const uint8_t> run) {
        while (!run.empty()) {
            const uint64_t piece_left = kDigestPiece - pos % kDigestPiece;
            const size_t n = size_t(std::min<uint64_t>(piece_left, run.size()));
            value = container_checksum(run.data(), n, value);
            pos += n;
            run = run.subspan(n);
            if (pos % kDigestPiece == 0 || pos == file.size) {
                if (value != file.digest.pieces[size_t((pos - 1) / kDigestPiece)])
                    throw PackError(file.shown + ": changed while it was packed");
                value = checksum_seed;
            }
        }
    };
    add(before);
    add(out);
    add(after);
}

void ImageCheck::take(std::span<const uint8_t> bytes) {
    const std::vector<uint8_t>& front = image_.front;
    if (!good_ || bytes.size() > image_.size - at_) {
        good_ = false;
        return;
    }
    if (at_ < front.size()) {
        const size_t n = std::min(bytes.size(), size_t(front.size() - at_));
        good_ = std::memcmp(bytes.data(), front.data() + at_, n) == 0;
        at_ += n;
        bytes = bytes.subspan(n);
        running_ = checksum_seed;
    }
    while (good_ && !bytes.empty()) {
        while (at_ >= image_.files[file_].data_offset + image_.files[file_].size) ++file_;
        const PlannedFile& file = image_.files[file_];
        const uint64_t within = at_ - file.data_offset;
        const size_t n = size_t(std::min<uint64_t>({bytes.size(), kDigestPiece - within % kDigestPiece,
                                                   file.size - within}));
        running_ = container_checksum(bytes.data(), n, running_);
        at_ += n;
        bytes = bytes.subspan(n);
        if ((within + n) % kDigestPiece == 0 || within + n == file.size) {
            good_ = running_ == file.digest.pieces[size_t((within + n - 1) / kDigestPiece)];
            running_ = checksum_seed;
        }
    }
}

}  // namespace lumo
