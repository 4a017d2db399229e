// The installer layout: how a stored payload travels behind the stub.
//
//   stub executable, unchanged
//   stored payload           u32 packed size, u32 unpacked size, packed stream
//   zero padding             0..7 bytes, so that the trailer ends at a multiple of 8
//   trailer, 16 bytes        u32 offset of the stored payload from the file start
//                            u32 length of the stored payload (8 + packed size)
//                            "LumoPak1"
//   certificate table        optional, appended by a code-signing tool
//
// All integers are little-endian. A signing tool appends its certificate
// table after the trailer and names it in the PE security directory; the
// trailer is then found right before that table (signing tools may add up to
// 7 zero bytes to align the table), and at the end of the file otherwise. A
// file that has a certificate table carries a payload only there, inside
// the range its signature covers: never at the end of the file, where a
// payload would lie in or after the table, which the signature leaves out
// (an enlarged table of a signed stub still verifies).
// docs/installer-layout.md describes the layout for other tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace lumo {

inline constexpr size_t installer_trailer_size = 16;
inline constexpr size_t installer_alignment = 8;
inline constexpr char installer_trailer_magic[8] = {'L', 'u', 'm', 'o', 'P', 'a', 'k', '1'};
// u32 packed size and u32 unpacked size ahead of the packed stream.
inline constexpr size_t stored_payload_header_size = 8;

// Where the stored payload lies in an installer file.
struct StoredPayloadLocation {
    uint64_t offset = 0;   // from the start of the file
    uint64_t length = 0;   // header and packed stream
    uint64_t trailer_offset = 0;
};

// An installer file read at offsets, for readers that never hold the whole
// of it: its size, and `n` bytes at `offset` (false unless all were read).
class InstallerFile {
public:
    virtual ~InstallerFile() = default;
    virtual uint64_t size() = 0;
    virtual bool read(uint64_t offset, uint8_t* destination, size_t n) = 0;
};

// The certificate table of a signed PE file, as its security directory
// (data directory 4) names it; the directory's "address" is a file offset.
// Nothing for a file that is not a PE image, is not signed, or names a
// table that does not lie inside the file.
struct CertificateTable {
    uint64_t offset = 0;
    uint64_t size = 0;
    uint64_t directory_entry = 0;  // file offset of the security directory's 8 bytes
};
std::optional<CertificateTable> pe_certificate_table(std::span<const uint8_t> file);
std::optional<CertificateTable> pe_certificate_table(InstallerFile& file);

// Finds the trailer (right before a certificate table, when the file has
// one) and checks that the stored payload it names lies inside the file,
// ends at or before the trailer, and that its packed size field agrees with
// its length. Nothing when the file carries no valid payload.
std::optional<StoredPayloadLocation> locate_stored_payload(std::span<const uint8_t> file);
std::optional<StoredPayloadLocation> locate_stored_payload(InstallerFile& file);

// The stored payload (header and packed stream) of an installer file.
std::optional<std::span<const uint8_t>> find_stored_payload(std::span<const uint8_t> file);

// The bytes that follow a stored payload of `length` bytes placed at
// `offset` in the installer: the zero padding and the trailer. Nothing when
// the offset or the length does not fit the trailer's 32-bit fields.
std::optional<std::vector<uint8_t>> installer_tail(uint64_t offset, uint64_t length);

// Appends a stored payload and its padding and trailer to an installer that
// holds the stub. False (and `installer` unchanged) when the result would not
// fit the trailer's 32-bit fields.
bool append_stored_payload(std::vector<uint8_t>& installer, std::span<const uint8_t> stored_payload);

}  // namespace lumo
