#include "tools/encoder/wav_finder.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "tools/encoder/stream_symbols.h"

namespace lumo {

namespace {

// Pieces searched side by side. A header that begins in a piece is read
// from the piece's bytes as far as they reach, and from the image beyond.
constexpr uint64_t kSearchPiece = 8 << 20;
constexpr uint64_t kHeaderReach = 4096;  // bytes past a piece kept for headers that begin near its end

// What a header at `at` says: the search goes on at `next`, and `range`
// holds its sample data when there is any in a format the audio mode takes.
struct Header {
    uint64_t at;
    uint64_t next;
    std::optional<AudioRange> range;
};

// Byte access for one piece's headers: its own bytes, else the image.
class PieceBytes {
public:
    PieceBytes(const ImageSource& image, uint64_t begin, std::vector<uint8_t> bytes)
        : image_(image), begin_(begin), bytes_(std::move(bytes)) {}

    uint64_t image_size() const { return image_.size(); }
    uint64_t begin() const { return begin_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

    // Copies image[at, at + n), which must lie inside the image.
    void get(uint64_t at, size_t n, uint8_t* out) const {
        if (at >= begin_ && at + n <= begin_ + bytes_.size()) {
            std::memcpy(out, &bytes_[at - begin_], n);
            return;
        }
        image_.read(at, std::span(out, n));
    }
    bool tag_at(uint64_t at, const char* tag) const {
        uint8_t t[4];
        if (at + 4 > image_size()) return false;
        get(at, 4, t);
        return std::memcmp(t, tag, 4) == 0;
    }
    uint32_t u32_at(uint64_t at) const {
        uint8_t b[4];
        get(at, 4, b);
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    }
    uint32_t u16_at(uint64_t at) const {
        uint8_t b[2];
        get(at, 2, b);
        return uint32_t(b[0]) | uint32_t(b[1]) << 8;
    }

private:
    const ImageSource& image_;
    uint64_t begin_;
    std::vector<uint8_t> bytes_;
};

// Reads the RIFF/WAVE header at `at`, whose "RIFF" and "WAVE" tags are known
// to be there.
Header read_header(const PieceBytes& bytes, uint64_t at) {
    const uint64_t size = bytes.image_size();
    const uint64_t riff_end = std::min(size, at + 8 + bytes.u32_at(at + 4));
    Header header{at, at + 4, std::nullopt};
    uint64_t chunk = at + 12;
    int block_align = 0;
    // Real files hold a handful of chunks before "data"; the bound keeps a
    // file of made-up headers from costing time quadratic in its size.
    for (int chunks = 0; chunk + 8 <= riff_end && chunks < 64; ++chunks) {
        const uint64_t chunk_size = bytes.u32_at(chunk + 4);
        const uint64_t body = chunk + 8;
        if (bytes.tag_at(chunk, "fmt ") && chunk_size >= 16 && body + 16 <= size) {
            block_align = int(bytes.u16_at(body + 12));
        } else if (bytes.tag_at(chunk, "data")) {
            const uint64_t end = std::min(size, body + chunk_size);
            if (block_align >= 1 && block_align <= kMaxChannels && end > body)
                header.range = AudioRange{uint32_t(body), uint32_t(end), block_align};
            header.next = std::max(header.next, end);
            break;
        }
        chunk = body + chunk_size + (chunk_size & 1);
    }
    return header;
}

// Every header that begins in image[begin, end).
std::vector<Header> headers_in_piece(const ImageSource& image, uint64_t begin, uint64_t end) {
    const uint64_t reach = std::min(image.size(), end + kHeaderReach);
    const PieceBytes bytes(image, begin, read_range(image, begin, reach));
    std::vector<Header> headers;
    const uint8_t* data = bytes.bytes().data();
    const size_t count = size_t(end - begin);
    const size_t available = bytes.bytes().size();
    for (size_t i = 0; i < count;) {
        const void* r = std::memchr(data + i, 'R', count - i);
        if (r == nullptr) break;
        i = size_t(static_cast<const uint8_t*>(r) - data);
        const uint64_t at = begin + i;
        if (at + 12 <= image.size() && i + 12 <= available && std::memcmp(data + i, "RIFF", 4) == 0 &&
            std::memcmp(data + i + 8, "WAVE", 4) == 0)
            headers.push_back(read_header(bytes, at));
        ++i;
    }
    return headers;
}

}  // namespace

std::vector<AudioRange> find_wav_data(const ImageSource& image, WorkerPool& pool, double& seconds) {
    const uint64_t size = image.size();
    const size_t pieces = size_t((size + kSearchPiece - 1) / kSearchPiece);
    std::vector<std::vector<Header>> found(pieces);
    seconds += run_each(pool, pieces, [&](size_t i) {
        found[i] = headers_in_piece(image, i * kSearchPiece, std::min(size, (i + 1) * kSearchPiece));
    });
    // The search as one pass over the image: a header is taken only where
    // the search has got to, which is past the data of the header before.
    std::vector<AudioRange> ranges;
    uint64_t searched_to = 0;
    for (const auto& piece : found) {
        for (const Header& h : piece) {
            if (h.at < searched_to) continue;
            if (h.range) ranges.push_back(*h.range);
            searched_to = h.next;
        }
    }
    return ranges;
}

std::vector<AudioRange> find_wav_data(std::span<const uint8_t> image) {
    WorkerPool one(1);
    double seconds = 0;
    return find_wav_data(MemoryImage(image), one, seconds);
}

}  // namespace lumo
