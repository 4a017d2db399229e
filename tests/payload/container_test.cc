#include "payload/container.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"

namespace lumo {
namespace {

using test::build_image;
using test::BuiltImage;
using test::get_le32;
using test::put_le32;

const std::vector<test::ImageFile> five_files = {
    {"Setup.exe", "MZ program"},
    {"Setup.cfg", "script text"},
    {"data\\one.bin", std::string(100, 'x')},
    {"data\\two.bin", ""},
    {"readme.txt", "read me"},
};

// What a walk saw: the names of the entries handed over, and the verdict.
struct Walk {
    std::vector<std::string> names;
    bool ok = false;
};

Walk walk(const std::vector<uint8_t>& bytes) {
    Walk w;
    w.ok = walk_image(std::span<const uint8_t>(bytes), [&](const DirectoryEntry& e) {
        w.names.emplace_back(e.name);
    });
    return w;
}

TEST(Container, WalksEveryEntryWithItsData) {
    const BuiltImage image = build_image(five_files);
    std::vector<std::string> names, datas;
    EXPECT_TRUE(walk_image(std::span<const uint8_t>(image.bytes), [&](const DirectoryEntry& e) {
        names.emplace_back(e.name);
        datas.emplace_back(reinterpret_cast<const char*>(e.data.data()), e.data.size());
    }));
    ASSERT_EQ(names.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(names[i], five_files[i].name);
        EXPECT_EQ(datas[i], five_files[i].data);
    }
}

TEST(Container, EmptyDirectoryValidatesWithoutFiles) {
    const Walk w = walk(build_image({}).bytes);
    EXPECT_TRUE(w.ok);
    EXPECT_TRUE(w.names.empty());
}

// Each row damages a valid image of five files; `walked` is how many entries
// must have been handed over before the walk stops (all five: it passes).
struct Damage {
    const char* what;
    std::function<void(BuiltImage&)> apply;
    bool ok;
    size_t walked;
};

class ContainerDamage : public testing::TestWithParam<Damage> {};

TEST_P(ContainerDamage, IsFoundWhereItLies) {
    BuiltImage image = build_image(five_files);
    GetParam().apply(image);
    const Walk w = walk(image.bytes);
    EXPECT_EQ(w.ok, GetParam().ok);
    EXPECT_EQ(w.names.size(), GetParam().walked);
}

size_t entry(const BuiltImage& i, int n) { return i.entry_offsets[n]; }

INSTANTIATE_TEST_SUITE_P(
    Cases, ContainerDamage,
    testing::Values(
        Damage{"signature, last zero byte", [](BuiltImage& i) { i.bytes[25] = '!'; i.reseal_header(); }, false, 0},
        Damage{"signature with a right header checksum still fails", [](BuiltImage& i) { i.bytes[4] = '['; i.reseal_header(); }, false, 0},
        Damage{"header checksum field", [](BuiltImage& i) { i.bytes[0] ^= 1; }, false, 0},
        Damage{"reserved header bytes are covered", [](BuiltImage& i) { i.bytes[27] ^= 0x40; }, false, 0},
        Damage{"last reserved header byte", [](BuiltImage& i) { i.bytes[51] ^= 1; }, false, 0},
        Damage{"data end field", [](BuiltImage& i) { i.bytes[44] ^= 1; }, false, 0},
        Damage{"one byte of the directory", [](BuiltImage& i) { i.bytes[entry(i, 4) + 20] ^= 1; }, false, 0},
        Damage{"entry reserved fields are not read", [](BuiltImage& i) { i.bytes[entry(i, 1) + 17] = 9; i.reseal_directory(); }, true, 5},
        Damage{"data of entry 3 of 5", [](BuiltImage& i) { i.bytes[i.data_offsets[2] + 50] ^= 1; }, false, 2},
        Damage{"data checksum of entry 3 of 5", [](BuiltImage& i) { i.bytes[entry(i, 2) + 4] ^= 1; i.reseal_directory(); }, false, 2},
        Damage{"data ending exactly at data end passes",
               [](BuiltImage& i) { put_le32(i.bytes, 44, uint32_t(i.data_offsets[4] + 7)); i.reseal_header(); }, true, 5},
        Damage{"data ending one byte past data end fails",
               [](BuiltImage& i) { put_le32(i.bytes, 44, uint32_t(i.data_offsets[4] + 6)); i.reseal_header(); }, false, 4},
        Damage{"data range wrapping 32 bits fails", [](BuiltImage& i) {
                   put_le32(i.bytes, entry(i, 0) + 12, 0xFFFFFFF8);  // + 10 bytes wraps to 2
                   i.reseal_directory();
               }, false, 0},
        Damage{"data end beyond the image with data beyond it", [](BuiltImage& i) {
                   put_le32(i.bytes, 44, 0xFFFFFFFF);
                   put_le32(i.bytes, entry(i, 1) + 12, uint32_t(i.bytes.size() - 5));
                   i.reseal_directory();
               }, false, 1},
        Damage{"directory range leaving the image", [](BuiltImage& i) {
                   put_le32(i.bytes, 32, uint32_t(i.bytes.size()));
                   i.reseal_header();
               }, false, 0},
        Damage{"directory offset far outside the image", [](BuiltImage& i) {
                   put_le32(i.bytes, 36, 0xFFFFFFF0);
                   put_le32(i.bytes, 32, 0);
                   put_le32(i.bytes, 40, 0x546F7669);  // checksum of nothing
                   i.reseal_header();
               }, false, 0},
        Damage{"next entry beyond the image", [](BuiltImage& i) {
                   put_le32(i.bytes, entry(i, 1), 0x7FFFFFF0);
                   i.reseal_directory();
               }, false, 2},
        Damage{"name without a zero before the image ends", [](BuiltImage& i) {
                   // The entry after entry 4 then lies over the file data
                   // at the image's end, its name on the last two bytes "me".
                   const size_t next = i.bytes.size() - 24 - 2;
                   put_le32(i.bytes, entry(i, 3), uint32_t(next - entry(i, 3) - 24));
                   i.reseal_directory();
               }, false, 4},
        Damage{"image cut inside the terminating entry", [](BuiltImage& i) {
                   // The walk goes on past the directory range: only the
                   // image bounds it.
                   i.bytes.resize(entry(i, 4) + 24 + 11 + 2);
                   put_le32(i.bytes, 44, 0);
                   i.reseal_header();
               }, false, 0}),
    [](const testing::TestParamInfo<Damage>& info) { return "row" + std::to_string(info.index); });

TEST(Container, ZeroSizeEntryPassesWithTheSeedAsChecksum) {
    BuiltImage image = build_image({{"empty", ""}});
    EXPECT_EQ(get_le32(image.bytes, image.entry_offsets[0] + 4), 0x546F7669u);
    const Walk w = walk(image.bytes);
    EXPECT_TRUE(w.ok);
    EXPECT_EQ(w.names, std::vector<std::string>{"empty"});
}

TEST(Container, ImageShorterThanItsHeaderIsCorrupt) {
    std::vector<uint8_t> bytes = build_image({}).bytes;
    bytes.resize(51);
    ImageHeader header;
    EXPECT_FALSE(validate_image_header(bytes, header));
}

TEST(Container, WalkerStaysStoppedAfterTheEnd) {
    const BuiltImage image = build_image({{"a", "1"}});
    ImageHeader header;
    ASSERT_TRUE(validate_image_header(image.bytes, header));
    DirectoryWalker walker(image.bytes, header);
    DirectoryEntry e;
    EXPECT_EQ(walker.next(e), DirectoryWalker::Step::entry);
    EXPECT_EQ(walker.next(e), DirectoryWalker::Step::end);
    EXPECT_EQ(walker.next(e), DirectoryWalker::Step::end);
}

struct StoredCase {
    std::vector<uint8_t> bytes;
    bool ok;
    uint32_t unpacked;
    size_t stream_size;
};

TEST(StoredPayload, SizeHeaderIsCheckedAgainstTheBytes) {
    const StoredCase cases[] = {
        {{}, false, 0, 0},
        {{0, 0, 0, 0, 5, 0, 0}, false, 0, 0},                        // header cut short
        {{0, 0, 0, 0, 5, 0, 0, 0}, true, 5, 0},                      // empty stream
        {{3, 0, 0, 0, 0, 1, 0, 0, 9, 9, 9}, true, 256, 3},           // exactly the stream
        {{3, 0, 0, 0, 0, 1, 0, 0, 9, 9, 9, 7}, true, 256, 3},        // trailing bytes ignored
        {{4, 0, 0, 0, 0, 1, 0, 0, 9, 9, 9}, false, 0, 0},            // one byte missing
        {{0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 1}, false, 0, 0},      // absurd packed size
    };
    for (const auto& c : cases) {
        StoredPayload p;
        ASSERT_EQ(parse_stored_payload(c.bytes, p), c.ok) << c.bytes.size();
        if (!c.ok) continue;
        EXPECT_EQ(p.unpacked_size, c.unpacked);
        EXPECT_EQ(p.packed_stream.size(), c.stream_size);
        EXPECT_EQ(p.packed_stream.data(), c.bytes.data() + 8);
    }
}

}  // namespace
}  // namespace lumo
