#include "tools/lumopack/file_digest.h"

#include <algorithm>

#include "payload/checksum.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/system/system.h"

namespace lumo {

namespace {

void add_pieces(std::span<const uint8_t> bytes, FileDigest& digest) {
    for (size_t at = 0; at < bytes.size(); at += kDigestPiece) {
        const size_t n = size_t(std::min<uint64_t>(kDigestPiece, bytes.size() - at));
        digest.pieces.push_back(container_checksum(bytes.data() + at, n));
    }
    digest.whole = container_checksum(bytes.data(), bytes.size(), digest.whole);
}

}  // namespace

FileDigest digest_bytes(std::span<const uint8_t> bytes) {
    FileDigest digest;
    digest.whole = checksum_seed;
    add_pieces(bytes, digest);
    return digest;
}

FileDigest digest_file(const HeldFile& file, uint64_t size, const std::string& shown) {
    FileDigest digest;
    digest.whole = checksum_seed;
    constexpr uint64_t chunk = 16 * kDigestPiece;
    std::vector<uint8_t> buffer(size_t(std::min(chunk, size)));
    for (uint64_t done = 0; done < size;) {
        const size_t want = size_t(std::min(chunk, size - done));
        if (!file.read_at(done, std::span(buffer).first(want))) throw short_read(file, shown);
        add_pieces(std::span(buffer).first(want), digest);
        done += want;
    }
    uint8_t beyond = 0;
    if (file.read_at(size, std::span(&beyond, 1))) throw PackError(shown + ": changed size while it was packed");
    return digest;
}

}  // namespace lumo
