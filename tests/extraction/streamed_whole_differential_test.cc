// The streamed run against the whole-image run, with the real decoder over
// the fake platform: for every input, the same files, the same messages in
// the same order, the same early stop and the same status. Inputs: payloads
// the packer writes, with bytes of their packed stream flipped, cut short,
// and with their stored unpacked size raised or lowered; layouts the packer
// never writes (directory behind the data, data out of order or shared);
// the fuzz corpora's images packed, and their streams taken as payloads.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "streamed_and_whole.h"
#include "tools/encoder/encoder.h"
#include "worker_fixture.h"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using test::build_image;
using test::get_le32;
using test::put_le32;
using Bytes = std::vector<uint8_t>;

using test::installer_of;
using test::Seen;

Seen run(const Bytes& installer, ImagePath path, bool stop_after_setup) {
    return test::run_installer(installer, path, stop_after_setup);
}

Bytes packed(const Bytes& image) {
    EncoderOptions options;
    options.level = 1;
    options.threads = 1;
    return pack_stream(image, options);
}

int compared = 0;

void expect_same_runs(const Bytes& installer, const std::string& what) {
    for (const bool stop : {false, true}) {
        const Seen streamed = run(installer, ImagePath::streamed, stop);
        const Seen whole = run(installer, ImagePath::whole, stop);
        ASSERT_EQ(streamed.effects, whole.effects) << what << (stop ? ", early stop" : "");
        ASSERT_TRUE(streamed.files == whole.files) << what;
        ASSERT_EQ(streamed.status, whole.status) << what;
        ++compared;
    }
}

// An add-on as the packer lays it out: setup files first, data in order,
// and several decoder blocks long.
Bytes sample_image(std::mt19937& rng) {
    std::string big(2500000, 0);
    for (auto& c : big) c = char('a' + rng() % 7);
    std::string noise(300000, 0);
    for (auto& c : noise) c = char(rng());
    return build_image({{"Setup.cfg", "[Setup]\r\n"},
                        {"setup.exe", "MZ program"},
                        {"Sounds\\big.bin", big},
                        {"empty", ""},
                        {"Sounds\\noise.bin", noise},
                        {"readme.txt", "last"}})
        .bytes;
}

TEST(StreamedAndWhole, DamagedPackedStreams) {
    std::mt19937 rng(11);
    const Bytes image = sample_image(rng);
    const Bytes stream = packed(image);
    expect_same_runs(installer_of(stream, uint32_t(image.size())), "sound");
    for (int i = 0; i < 40; ++i) {
        Bytes damaged = stream;
        for (int f = 0; f < 1 + i % 3; ++f) damaged[rng() % damaged.size()] ^= uint8_t(1 << (rng() % 8));
        expect_same_runs(installer_of(damaged, uint32_t(image.size())), "flipped " + std::to_string(i));
    }
    for (const size_t keep : {size_t(0), size_t(100), stream.size() / 3, stream.size() - 5}) {
        const Bytes cut(stream.begin(), stream.begin() + keep);
        expect_same_runs(installer_of(cut, uint32_t(image.size())), "cut to " + std::to_string(keep));
    }
}

TEST(StreamedAndWhole, StoredUnpackedSizesRaisedAndLowered) {
    std::mt19937 rng(12);
    const Bytes image = sample_image(rng);
    const Bytes stream = packed(image);
    const uint32_t size = uint32_t(image.size());
    for (const uint32_t claimed : {size + 1, size + 4000, size + (3u << 20), 2 * size, size - 1, size - 300000,
                                   uint32_t(image_header_size), 10u}) {
        expect_same_runs(installer_of(stream, claimed), "unpacked size " + std::to_string(claimed));
    }
}

// Layouts the packer never writes are read whole, and come out the same.
TEST(StreamedAndWhole, LayoutsThePackerNeverWrites) {
    auto base = build_image({{"Setup.cfg", "cfg"}, {"setup.exe", "MZ"}, {"a.txt", "alpha"}, {"b.txt", "bravo"}});
    auto out_of_order = base;  // b's data before a's
    {
        auto& b = out_of_order.bytes;
        const size_t a_entry = base.entry_offsets[2] + entry_data_offset_offset;
        const size_t b_entry = base.entry_offsets[3] + entry_data_offset_offset;
        const uint32_t a = get_le32(b, a_entry), bb = get_le32(b, b_entry);
        std::swap_ranges(b.begin() + a, b.begin() + a + 5, b.begin() + bb);
        put_le32(b, a_entry, bb);
        put_le32(b, b_entry, a);
        out_of_order.reseal_directory();
    }
    auto shared = base;  // b.txt's entry points at a.txt's data
    put_le32(shared.bytes, base.entry_offsets[3] + entry_data_offset_offset,
             get_le32(shared.bytes, base.entry_offsets[2] + entry_data_offset_offset));
    put_le32(shared.bytes, base.entry_offsets[3] + entry_size_offset, 5);
    put_le32(shared.bytes, base.entry_offsets[3] + entry_checksum_offset,
             get_le32(shared.bytes, base.entry_offsets[2] + entry_checksum_offset));
    shared.reseal_directory();
    auto directory_last = base;  // the directory moved behind the data
    {
        auto& b = directory_last.bytes;
        const uint32_t offset = get_le32(b, directory_offset_offset), length = get_le32(b, directory_length_offset);
        const Bytes directory(b.begin() + offset, b.begin() + offset + length);
        b.insert(b.end(), directory.begin(), directory.end());
        put_le32(b, directory_offset_offset, uint32_t(b.size() - length));
        directory_last.reseal_directory();
    }
    for (const auto& [what, image] : {std::pair{"out of order", out_of_order.bytes}, std::pair{"shared", shared.bytes},
                                      std::pair{"directory last", directory_last.bytes}}) {
        const Bytes installer = installer_of(packed(image), uint32_t(image.size()));
        expect_same_runs(installer, what);
        const Seen seen = run(installer, ImagePath::streamed, false);
        EXPECT_EQ(seen.status, extraction_succeeded) << what << ": a valid payload installs";
        EXPECT_EQ(seen.files.size(), 4u) << what;
    }
}

Bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(StreamedAndWhole, FuzzCorpora) {
    const fs::path corpus = fs::path(LUMO_SOURCE_DIR) / "fuzz" / "corpus";
    compared = 0;
    for (const auto& entry : fs::directory_iterator(corpus / "container_walk")) {
        const Bytes image = read_file(entry.path());
        expect_same_runs(installer_of(packed(image), uint32_t(image.size())), entry.path().filename().string());
    }
    std::vector<fs::path> streams;
    for (const auto& entry : fs::directory_iterator(corpus / "unpack_stream")) streams.push_back(entry.path());
    std::sort(streams.begin(), streams.end());
    for (size_t i = 0; i < streams.size(); i += 4) {  // a quarter of them, each with a size of its own
        const Bytes stream = read_file(streams[i]);
        expect_same_runs(installer_of(stream, uint32_t(52 + (i * 7919) % 300000)), streams[i].filename().string());
    }
    EXPECT_GT(compared, 200);
}

}  // namespace
}  // namespace lumo
