// The installer layout reader on arbitrary files: finding the trailer, the
// stored payload it names and a signing tool's certificate table.
//
// Properties:
//  - every read stays inside the file (it ends at a guard page);
//  - a located stored payload lies inside the file, ends at or before the
//    trailer, and its packed size field agrees with its length;
//  - find_stored_payload and parse_stored_payload agree with the location;
//  - a stored payload appended to any stub (the input taken as one) is found
//    again exactly where it was put, unless the stub itself names a
//    certificate table.
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/guarded_buffer.h"
#include "payload/container.h"
#include "payload/installer_layout.h"

namespace {

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void check_reading(std::span<const uint8_t> file) {
    if (auto table = lumo::pe_certificate_table(file)) {
        FUZZ_CHECK(table->offset <= file.size() && table->size <= file.size() - table->offset);
    }
    const auto location = lumo::locate_stored_payload(file);
    const auto found = lumo::find_stored_payload(file);
    FUZZ_CHECK(location.has_value() == found.has_value());
    if (!location) return;
    FUZZ_CHECK(location->length >= lumo::stored_payload_header_size);
    FUZZ_CHECK(location->offset + location->length <= location->trailer_offset);
    FUZZ_CHECK(location->trailer_offset + lumo::installer_trailer_size <= file.size());
    FUZZ_CHECK(found->data() == file.data() + location->offset && found->size() == location->length);
    FUZZ_CHECK(le32(found->data()) == location->length - lumo::stored_payload_header_size);

    lumo::StoredPayload payload;
    FUZZ_CHECK(lumo::parse_stored_payload(*found, payload));
    FUZZ_CHECK(payload.packed_size == location->length - lumo::stored_payload_header_size);
    FUZZ_CHECK(payload.packed_stream.data() == found->data() + lumo::stored_payload_header_size);
    FUZZ_CHECK(payload.packed_stream.size() == payload.packed_size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Kept from one input to the next (see ReusedGuardedBuffer).
    static lumo::fuzz::ReusedGuardedBuffer input(16384), file(16384 + 4096);
    input.place({data, size});
    check_reading(input.bytes());
    lumo::StoredPayload payload;
    if (lumo::parse_stored_payload(input.bytes(), payload)) {
        FUZZ_CHECK(payload.packed_stream.size() == payload.packed_size);
        FUZZ_CHECK(uint64_t(payload.packed_size) + lumo::stored_payload_header_size <= size);
    }

    // The input as a stub, with a small stored payload behind it.
    std::vector<uint8_t> installer(data, data + size);
    const std::vector<uint8_t> stored = {3, 0, 0, 0, 9, 0, 0, 0, 0xAB, 0xCD, 0xEF};
    if (!lumo::append_stored_payload(installer, stored)) return 0;
    FUZZ_CHECK(installer.size() % lumo::installer_alignment == 0);
    file.place(installer);
    check_reading(file.bytes());
    if (lumo::pe_certificate_table(file.bytes())) return 0;
    const auto location = lumo::locate_stored_payload(file.bytes());
    FUZZ_CHECK(location.has_value());
    FUZZ_CHECK(location->offset == size && location->length == stored.size());
    return 0;
}
