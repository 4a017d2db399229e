// The image as the packer streams it: files read back only as the first
// pass saw them, and the unpacked image held against the same description.
#include "tools/lumopack/container_source.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "tools/lumopack/container_writer.h"
#include "tools/lumopack/pack_error.h"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes noise(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = uint8_t(random());
    return bytes;
}

void write(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Three files (one of them empty, one in memory) laid out and digested as
// the packer does, and the whole image they make.
class PlannedImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("container-source-" + std::to_string(getpid()));
        fs::create_directories(folder_);
        contents_ = {noise(200000, 1), Bytes{}, noise(70000, 2), noise(1000, 3)};
        const char* names[] = {"a.bin", "empty", "b.bin", "script"};
        std::vector<ContainerFile> files;
        for (size_t i = 0; i < contents_.size(); ++i) files.push_back({names[i], contents_[i].size()});
        auto layout = lay_out_container(files);
        ASSERT_TRUE(layout);
        image_.size = layout->image_size;
        std::vector<uint32_t> checksums;
        for (size_t i = 0; i < contents_.size(); ++i) {
            PlannedFile file{layout->data_offset[i], contents_[i].size(), nullptr, names[i], {}, {}};
            if (i == 3) {
                file.bytes = contents_[i];
                file.digest = digest_bytes(contents_[i]);
            } else {
                write(folder_ / names[i], contents_[i]);
                file.file = std::make_shared<HeldFile>(open_to_read(folder_ / names[i]));
                file.digest = digest_file(*file.file, file.size, file.shown);
            }
            checksums.push_back(file.digest.whole);
            image_.files.push_back(std::move(file));
        }
        seal_container(*layout, checksums);
        image_.front = layout->front;
        whole_ = layout->front;
        for (const Bytes& c : contents_) whole_.insert(whole_.end(), c.begin(), c.end());
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path folder_;
    std::vector<Bytes> contents_;
    PlannedImage image_;
    Bytes whole_;
};

TEST_F(PlannedImageTest, ReadsAnyRangeAsTheWholeImageHoldsIt) {
    ASSERT_EQ(image_.size, whole_.size());
    const ContainerSource source(image_);
    const uint64_t a = image_.files[0].data_offset, b = image_.files[2].data_offset;
    const std::pair<uint64_t, uint64_t> ranges[] = {
        {0, whole_.size()}, {10, 100}, {a - 5, a + 70000}, {a + 65535, a + 65537}, {b - 3, b + 65536 + 9},
        {whole_.size() - 1, whole_.size()}};
    for (auto [begin, end] : ranges) {
        Bytes out(size_t(end - begin));
        source.read(begin, out);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), whole_.begin() + ptrdiff_t(begin))) << begin << ".." << end;
    }
}

TEST_F(PlannedImageTest, FileChangedAfterTheFirstPassIsNamedWhereverItIsRead) {
    const ContainerSource source(image_);
    struct Case {
        const char* what;
        Bytes content;
    };
    Bytes flipped = contents_[2];
    flipped[69999] ^= 1;  // in the last, short piece
    Bytes shorter(contents_[2].begin(), contents_[2].end() - 1), longer = contents_[2];
    longer.push_back(0);
    const Case cases[] = {{"one bit", flipped}, {"a byte shorter", shorter}, {"a byte longer", longer}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write(folder_ / "b.bin", c.content);
        // A read of the first byte alone still checks the piece it lies in,
        // and a read of the end finds the size changed.
        for (auto [at, n] : {std::pair<uint64_t, size_t>{image_.files[2].data_offset + 65536, 1},
                             {image_.files[2].data_offset + 69990, 10}}) {
            Bytes out(n);
            try {
                source.read(at, out);
                ADD_FAILURE() << "read at " << at << " passed";
            } catch (const PackError& error) {
                EXPECT_NE(std::string(error.what()).find("b.bin: changed"), std::string::npos) << error.what();
            }
        }
    }
    write(folder_ / "b.bin", contents_[2]);
    Bytes out(whole_.size());
    source.read(0, out);
    EXPECT_TRUE(out == whole_);
}

TEST_F(PlannedImageTest, CheckOfTheUnpackedImageTakesBlocksOfAnySizeAndFindsAnyChangedByte) {
    for (size_t block : {size_t(1), size_t(333), size_t(65536), whole_.size()}) {
        ImageCheck check(image_);
        for (size_t at = 0; at < whole_.size(); at += block)
            check.take(std::span(whole_).subspan(at, std::min(block, whole_.size() - at)));
        EXPECT_TRUE(check.whole()) << block;
    }
    for (size_t at : {size_t(0), size_t(60), image_.files[0].data_offset + 123456, whole_.size() - 1}) {
        Bytes damaged = whole_;
        damaged[at] ^= 0x40;
        ImageCheck check(image_);
        check.take(damaged);
        EXPECT_FALSE(check.whole()) << at;
    }
    ImageCheck short_of_the_end(image_);
    short_of_the_end.take(std::span(whole_).first(whole_.size() - 1));
    EXPECT_FALSE(short_of_the_end.whole());
}

}  // namespace
}  // namespace lumo
