// The installer layout: payload, padding and trailer behind a stub, found
// again at the end of the file or, in a signed file, only right before its
// PE certificate table.
#include "payload/installer_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace lumo {
namespace {

using Bytes = std::vector<uint8_t>;

void put_u16(Bytes& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void put_u32(Bytes& b, size_t at, uint64_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// A stored payload whose packed size field agrees with its length.
Bytes stored_payload(size_t packed_size, uint8_t fill = 0xA5) {
    Bytes payload(8 + packed_size, fill);
    put_u32(payload, 0, packed_size);
    put_u32(payload, 4, 1234);
    return payload;
}

TEST(InstallerLayout, PayloadBehindAnyStubIsFoundAndTrailerEndsAligned) {
    for (size_t stub_size : {0, 1, 7, 8, 13, 4096}) {
        for (size_t packed : {0, 1, 5, 8, 100}) {
            Bytes installer(stub_size, 0x4D);
            const Bytes payload = stored_payload(packed);
            ASSERT_TRUE(append_stored_payload(installer, payload));
            SCOPED_TRACE("stub " + std::to_string(stub_size) + ", packed " + std::to_string(packed));
            EXPECT_EQ(installer.size() % installer_alignment, 0u);
            EXPECT_EQ(0, std::memcmp(installer.data() + installer.size() - 8, "LumoPak1", 8));
            auto found = find_stored_payload(installer);
            ASSERT_TRUE(found.has_value());
            EXPECT_EQ(found->data(), installer.data() + stub_size);
            EXPECT_EQ(Bytes(found->begin(), found->end()), payload);
            // The padding between payload and trailer is zero.
            for (size_t i = stub_size + payload.size(); i < installer.size() - installer_trailer_size; ++i)
                EXPECT_EQ(installer[i], 0);
        }
    }
}

TEST(InstallerLayout, DamagedTrailersAreRefused) {
    const Bytes stub(24, 0x11);
    Bytes good = stub;
    ASSERT_TRUE(append_stored_payload(good, stored_payload(20)));
    const size_t trailer = good.size() - installer_trailer_size;

    struct Case {
        const char* what;
        void (*damage)(Bytes&, size_t trailer);
    };
    const Case cases[] = {
        {"magic altered", [](Bytes& b, size_t t) { b[t + 15] = '2'; }},
        {"length below the size header", [](Bytes& b, size_t t) { put_u32(b, t + 4, 7); }},
        {"payload runs into the trailer", [](Bytes& b, size_t t) {
             put_u32(b, t + 4, t - 24 + 1);
             put_u32(b, 24, t - 24 + 1 - 8);  // its size field agrees
         }},
        {"offset beyond the file", [](Bytes& b, size_t t) { put_u32(b, t, 0xFFFFFFF0u); }},
        {"offset and length wrap 32 bits", [](Bytes& b, size_t t) { put_u32(b, t, 0xFFFFFFFFu); put_u32(b, t + 4, 8); }},
        {"packed size disagrees with length", [](Bytes& b, size_t) { put_u32(b, 24, 21); }},
        {"file shorter than a trailer", [](Bytes& b, size_t) { b.erase(b.begin(), b.end() - 15); }},
        {"trailer not at the end", [](Bytes& b, size_t) { b.push_back(0); }},
    };
    for (const auto& c : cases) {
        Bytes damaged = good;
        c.damage(damaged, trailer);
        EXPECT_FALSE(find_stored_payload(damaged).has_value()) << c.what;
    }
    EXPECT_FALSE(find_stored_payload(Bytes{}).has_value());
}

TEST(InstallerLayout, TailRefusesWhatTheTrailerCannotDescribe) {
    EXPECT_TRUE(installer_tail(0xFFFFFFFFu, 8).has_value());
    EXPECT_FALSE(installer_tail(0x100000000u, 8).has_value());
    EXPECT_FALSE(installer_tail(0, 0x100000000u).has_value());
    EXPECT_FALSE(installer_tail(0, 7).has_value());
}

// A minimal PE image: DOS header, "PE\0\0", COFF header and an optional
// header whose data directory 4 (security) names a certificate table.
Bytes pe_stub(bool pe32_plus) {
    constexpr size_t pe = 0x40;
    const size_t optional_size = pe32_plus ? 240 : 224;
    Bytes stub(pe + 24 + optional_size + 40, 0);
    stub[0] = 'M';
    stub[1] = 'Z';
    put_u32(stub, 0x3C, pe);
    std::memcpy(stub.data() + pe, "PE\0\0", 4);
    put_u16(stub, pe + 4, pe32_plus ? 0x8664 : 0x14C);     // machine
    put_u16(stub, pe + 4 + 16, uint32_t(optional_size));  // size of optional header
    const size_t optional = pe + 24;
    put_u16(stub, optional, pe32_plus ? 0x20B : 0x10B);
    put_u32(stub, optional + (pe32_plus ? 108 : 92), 16);  // number of data directories
    return stub;
}

size_t security_entry(bool pe32_plus) { return 0x40 + 24 + (pe32_plus ? 112 : 96) + 4 * 8; }

// What a signing tool does: zero bytes to align, then the certificate
// table, named by the security directory.
void sign(Bytes& file, bool pe32_plus, size_t zeros) {
    file.insert(file.end(), zeros, 0);
    const size_t table = file.size();
    file.insert(file.end(), 64, 0xCE);
    put_u32(file, security_entry(pe32_plus), table);
    put_u32(file, security_entry(pe32_plus) + 4, 64);
}

TEST(InstallerLayout, SignedInstallerFindsTrailerBeforeCertificateTable) {
    for (bool pe32_plus : {false, true}) {
        for (size_t zeros = 0; zeros < installer_alignment; ++zeros) {
            SCOPED_TRACE((pe32_plus ? "PE32+, " : "PE32, ") + std::to_string(zeros) + " zero bytes");
            Bytes file = pe_stub(pe32_plus);
            const size_t offset = file.size();
            const Bytes payload = stored_payload(33);
            // A trailer that ends where a third-party tool left it, not
            // necessarily aligned, to exercise every count of zero bytes.
            file.insert(file.end(), payload.begin(), payload.end());
            Bytes trailer(16, 0);
            put_u32(trailer, 0, offset);
            put_u32(trailer, 4, payload.size());
            std::memcpy(trailer.data() + 8, "LumoPak1", 8);
            file.insert(file.end(), trailer.begin(), trailer.end());
            sign(file, pe32_plus, zeros);
            auto found = find_stored_payload(file);
            ASSERT_TRUE(found.has_value());
            EXPECT_EQ(found->data(), file.data() + offset);
            EXPECT_EQ(found->size(), payload.size());
        }
    }
}

TEST(InstallerLayout, SignedFileWithoutTrailerBeforeTableIsRefused) {
    // Eight zero bytes are more than alignment explains.
    Bytes file = pe_stub(false);
    ASSERT_TRUE(append_stored_payload(file, stored_payload(9)));
    sign(file, false, 8);
    EXPECT_FALSE(find_stored_payload(file).has_value());
}

// A signed stub carries no payload: one behind its certificate table, or
// inside the table enlarged to hold it (the signature leaves the table out,
// so it still verifies), lies outside what the signature covers.
TEST(InstallerLayout, PayloadBehindOrInsideASignedStubsTableIsRefused) {
    for (bool pe32_plus : {false, true}) {
        SCOPED_TRACE(pe32_plus ? "PE32+" : "PE32");
        Bytes appended = pe_stub(pe32_plus);
        sign(appended, pe32_plus, 0);
        ASSERT_TRUE(append_stored_payload(appended, stored_payload(40)));
        EXPECT_FALSE(find_stored_payload(appended).has_value()) << "appended after the table";

        Bytes inside = pe_stub(pe32_plus);
        sign(inside, pe32_plus, 0);
        const size_t table = inside.size() - 64;
        ASSERT_TRUE(append_stored_payload(inside, stored_payload(40)));
        put_u32(inside, security_entry(pe32_plus) + 4, inside.size() - table);  // the table takes it all in
        put_u32(inside, table, uint32_t(inside.size() - table));                // and so does its certificate
        EXPECT_FALSE(find_stored_payload(inside).has_value()) << "inside an enlarged table";
    }
}

TEST(InstallerLayout, SecurityDirectoryBeyondTheFileFallsBackToTheEnd) {
    Bytes file = pe_stub(false);
    put_u32(file, security_entry(false), 0xFFFFFF00u);
    put_u32(file, security_entry(false) + 4, 0x200);
    ASSERT_TRUE(append_stored_payload(file, stored_payload(3)));
    EXPECT_TRUE(find_stored_payload(file).has_value());
}

}  // namespace
}  // namespace lumo
