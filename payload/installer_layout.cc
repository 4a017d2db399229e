#include "payload/installer_layout.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace lumo {
namespace {

// An installer that lies whole in memory.
class BytesInMemory final : public InstallerFile {
public:
    explicit BytesInMemory(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    uint64_t size() override { return bytes_.size(); }
    bool read(uint64_t offset, uint8_t* destination, size_t n) override {
        if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
        std::memcpy(destination, bytes_.data() + offset, n);
        return true;
    }

private:
    std::span<const uint8_t> bytes_;
};

// Little-endian fields of the file; nothing when they lie outside it.
std::optional<uint32_t> read_field(InstallerFile& file, uint64_t at, size_t width) {
    uint8_t bytes[4] = {};
    if (!file.read(at, bytes, width)) return std::nullopt;
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

bool bytes_equal(InstallerFile& file, uint64_t at, const char* expected, size_t n) {
    uint8_t bytes[8];
    return n <= sizeof bytes && file.read(at, bytes, n) && std::memcmp(bytes, expected, n) == 0;
}

void put_u32(uint8_t* out, uint64_t value) {
    for (int i = 0; i < 4; ++i) out[i] = uint8_t(value >> (8 * i));
}

}  // namespace

std::optional<CertificateTable> pe_certificate_table(InstallerFile& file) {
    constexpr size_t dos_header_size = 64;
    constexpr size_t pe_offset_field = 0x3C;
    constexpr size_t coff_header_size = 20;
    constexpr size_t optional_size_field = 16;  // within the COFF header
    constexpr uint32_t pe32_magic = 0x10B, pe32_plus_magic = 0x20B;
    constexpr size_t security_directory = 4;

    const uint64_t file_size = file.size();
    if (file_size < dos_header_size || !bytes_equal(file, 0, "MZ", 2)) return std::nullopt;
    const uint64_t pe = *read_field(file, pe_offset_field, 4);
    const uint64_t optional = pe + 4 + coff_header_size;
    if (optional + 2 > file_size) return std::nullopt;
    if (!bytes_equal(file, pe, "PE\0\0", 4)) return std::nullopt;
    const uint64_t optional_size = *read_field(file, pe + 4 + optional_size_field, 2);

    const uint32_t magic = *read_field(file, optional, 2);
    uint64_t count_field, directories;
    if (magic == pe32_magic) {
        count_field = 92, directories = 96;
    } else if (magic == pe32_plus_magic) {
        count_field = 108, directories = 112;
    } else {
        return std::nullopt;
    }
    const uint64_t entry = directories + 8 * security_directory;
    if (entry + 8 > optional_size || optional + entry + 8 > file_size) return std::nullopt;
    if (read_field(file, optional + count_field, 4).value_or(0) <= security_directory) return std::nullopt;

    CertificateTable table{*read_field(file, optional + entry, 4), *read_field(file, optional + entry + 4, 4),
                           optional + entry};
    if (table.offset == 0 || table.size == 0 || table.offset + table.size > file_size) return std::nullopt;
    return table;
}

std::optional<CertificateTable> pe_certificate_table(std::span<const uint8_t> file) {
    BytesInMemory bytes(file);
    return pe_certificate_table(bytes);
}

namespace {

// Reads and checks the trailer that ends at `end`.
std::optional<StoredPayloadLocation> trailer_ending_at(InstallerFile& file, uint64_t end) {
    if (end < installer_trailer_size || end > file.size()) return std::nullopt;
    const uint64_t trailer = end - installer_trailer_size;
    if (!bytes_equal(file, trailer + 8, installer_trailer_magic, 8)) return std::nullopt;

    StoredPayloadLocation found{*read_field(file, trailer, 4), *read_field(file, trailer + 4, 4), trailer};
    if (found.length < stored_payload_header_size || found.offset + found.length > trailer) return std::nullopt;
    // The packed size field must agree with the trailer's length, so that a
    // reader of either one reads the same bytes.
    if (uint64_t(*read_field(file, found.offset, 4)) + stored_payload_header_size != found.length)
        return std::nullopt;
    return found;
}

}  // namespace

std::optional<StoredPayloadLocation> locate_stored_payload(InstallerFile& file) {
    if (auto table = pe_certificate_table(file)) {
        // Signing tools align the certificate table to 8 bytes with zeros.
        uint64_t end = table->offset;
        for (int k = 0; k < int(installer_alignment) - 1 && end > 0 && read_field(file, end - 1, 1) == 0u; ++k) --end;
        return trailer_ending_at(file, end);
    }
    return trailer_ending_at(file, file.size());
}

std::optional<StoredPayloadLocation> locate_stored_payload(std::span<const uint8_t> file) {
    BytesInMemory bytes(file);
    return locate_stored_payload(bytes);
}

std::optional<std::span<const uint8_t>> find_stored_payload(std::span<const uint8_t> file) {
    auto found = locate_stored_payload(file);
    if (!found) return std::nullopt;
    return file.subspan(size_t(found->offset), size_t(found->length));
}

std::optional<std::vector<uint8_t>> installer_tail(uint64_t offset, uint64_t length) {
    constexpr uint64_t field_max = std::numeric_limits<uint32_t>::max();
    if (offset > field_max || length > field_max || length < stored_payload_header_size) return std::nullopt;
    const uint64_t payload_end = offset + length;
    const size_t padding = size_t((installer_alignment - (payload_end + installer_trailer_size) % installer_alignment) %
                                  installer_alignment);
    std::vector<uint8_t> tail(padding + installer_trailer_size, 0);
    uint8_t* trailer = tail.data() + padding;
    put_u32(trailer, offset);
    put_u32(trailer + 4, length);
    std::memcpy(trailer + 8, installer_trailer_magic, 8);
    return tail;
}

bool append_stored_payload(std::vector<uint8_t>& installer, std::span<const uint8_t> stored_payload) {
    auto tail = installer_tail(installer.size(), stored_payload.size());
    if (!tail) return false;
    installer.insert(installer.end(), stored_payload.begin(), stored_payload.end());
    installer.insert(installer.end(), tail->begin(), tail->end());
    return true;
}

}  // namespace lumo
