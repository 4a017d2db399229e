// What the packer does with held files the same way on every system.
#include <algorithm>

#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/system/system.h"

namespace lumo {

std::vector<uint8_t> read_held_file(const HeldFile& file, const std::string& shown, std::optional<uint64_t> size) {
    const uint64_t expected = size ? *size : file.size();
    std::vector<uint8_t> bytes(static_cast<size_t>(expected));
    if (!file.read_at(0, bytes)) {
        if (file.lost()) throw PackError(shown + ": was replaced while it was packed");
        throw PackError(shown + ": cannot be read (did it change while it was packed?)");
    }
    uint8_t beyond = 0;
    if (file.read_at(expected, std::span(&beyond, 1))) throw PackError(shown + ": changed size while it was packed");
    return bytes;
}

PackError short_read(const HeldFile& file, const std::string& shown) {
    return PackError(shown + (file.lost() ? ": was replaced while it was packed" : ": changed size while it was packed"));
}

void OutputFile::write(std::span<const uint8_t> bytes) {
    size_ += bytes.size();
    if (buffer_.size() + bytes.size() <= buffer_size) {
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
        return;
    }
    flush();
    if (bytes.size() < buffer_size) {
        buffer_.assign(bytes.begin(), bytes.end());
        return;
    }
    write_out(bytes, flushed_);
    flushed_ += bytes.size();
}

void OutputFile::write_at(uint64_t offset, std::span<const uint8_t> bytes) {
    flush();
    write_out(bytes, offset);
}

void OutputFile::flush() {
    write_out(buffer_, flushed_);
    flushed_ += buffer_.size();
    buffer_.clear();
}

void write_file_atomically(const std::filesystem::path& path, std::span<const std::span<const uint8_t>> pieces,
                           std::optional<uint32_t> permissions) {
    OutputFile out(path);
    for (auto piece : pieces) out.write(piece);
    out.commit(permissions);
}

}  // namespace lumo
