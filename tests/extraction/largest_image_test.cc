// The largest add-on the format holds, a container image of 4 GiB - 1 bytes,
// read from an installer file of more than 3 GiB, through the real decoder
// and the worker. Sizes and offsets past 2^31 and near 2^32 are where a
// 32-bit size_t, long or file offset would wrap or turn negative: the 32-bit
// build (preset posix32) runs this as the installer's own arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "extraction/extraction_worker.h"
#include "image_builder.h"
#include "payload/installer_layout.h"
#include "payload/unpack_stream.h"
#include "platform/fake/fake_platform.h"
#include "zero_run_stream.h"

namespace lumo {
namespace {

using namespace lumo::test;

TEST(ChecksumOfZeros, EqualsTheChecksumOfTheBytes) {
    for (uint32_t start : {checksum_seed, 0xFFFFFFFFu, 0x12345678u})
        for (size_t count : {0, 1, 7, 1000, 65537}) {
            const std::vector<uint8_t> zeros(count, 0);
            EXPECT_EQ(checksum_of_zeros(count, start), container_checksum(zeros.data(), count, start)) << count;
        }
}

// The installer file as the platform shows it: the stub's bytes, a hole of
// zeros, the stored payload from `payload_offset` on, its padding and
// trailer. Only the read pieces are ever in memory.
class FarInstaller final : public FakePlatform {
public:
    FarInstaller(uint64_t payload_offset, std::vector<uint8_t> stored)
        : payload_offset_(payload_offset), stored_(std::move(stored)) {
        tail_ = *installer_tail(payload_offset_, stored_.size());
    }
    std::map<std::string, uint64_t> finished;  // path -> bytes written

    uint64_t installer_size() override { return payload_offset_ + stored_.size() + tail_.size(); }
    bool read_installer(uint64_t offset, uint8_t* destination, size_t size) override {
        if (offset > installer_size() || size > installer_size() - offset) return false;
        for (; size > 0; ++offset, ++destination, --size) *destination = byte_at(offset);
        return true;
    }
    std::unique_ptr<OutputFile> create_file(const std::string& path, const TakenNames&) override {
        return std::make_unique<CountingFile>(*this, path);
    }

private:
    // Counts what is written; the worker has checked the data's checksum
    // before it gives the file its name.
    class CountingFile final : public OutputFile {
    public:
        CountingFile(FarInstaller& owner, std::string path) : owner_(owner), path_(std::move(path)) {}
        bool write(const uint8_t*, uint32_t size, uint32_t& written) override {
            bytes_ += size;
            written = size;
            return true;
        }
        bool finish() override {
            owner_.finished[path_] = bytes_;
            return true;
        }

    private:
        FarInstaller& owner_;
        std::string path_;
        uint64_t bytes_ = 0;
    };

    uint8_t byte_at(uint64_t offset) const {
        if (offset < 100) return 0x90;  // the stub
        if (offset < payload_offset_) return 0;
        offset -= payload_offset_;
        if (offset < stored_.size()) return stored_[size_t(offset)];
        return tail_[size_t(offset - stored_.size())];
    }

    uint64_t payload_offset_;
    std::vector<uint8_t> stored_;
    std::vector<uint8_t> tail_;
};

class NoStop final : public EntryHook {
public:
    AfterEntry entry_written(const std::string&, const std::string&) override { return AfterEntry::go_on; }
};

TEST(LargestImage, AddOnOf4GiBMinus1FromAnInstallerOfMoreThan3GiBIsWrittenWhole) {
    // Header and directory, then one entry of zeros up to the last byte the
    // image's 32-bit fields can name.
    BuiltImage image = build_image({{"Sounds\\Zeros.bin", ""}});
    const uint64_t image_size = 0xFFFFFFFFu;
    const uint64_t data_size = image_size - image.bytes.size();
    put_le32(image.bytes, image.entry_offsets[0] + entry_size_offset, uint32_t(data_size));
    put_le32(image.bytes, image.entry_offsets[0] + entry_checksum_offset, checksum_of_zeros(data_size));
    put_le32(image.bytes, data_end_offset, uint32_t(image_size));
    image.reseal_directory();

    ZeroRunStream stream;
    stream.literals(image.bytes);
    stream.zeros(data_size);
    const std::vector<uint8_t> packed = stream.stored();
    std::vector<uint8_t> stored(8, 0);
    put_le32(stored, 0, uint32_t(packed.size()));
    put_le32(stored, 4, uint32_t(image_size));
    stored.insert(stored.end(), packed.begin(), packed.end());

    const uint64_t payload_offset = 0xC0000000u;  // 3 GiB
    FarInstaller platform(payload_offset, stored);
    ASSERT_GT(platform.installer_size(), payload_offset + packed.size());
    NoStop hook;
    ExtractionRun run{platform, platform.temp + "Lumo.40/", hook, unpack_stream_to};
    run_extraction_worker(run);

    EXPECT_EQ(run.status.load(), extraction_succeeded);
    EXPECT_EQ(platform.log_index("message_box"), -1);
    EXPECT_EQ(platform.finished, (std::map<std::string, uint64_t>{{"/tmp/Lumo.40/Sounds/Zeros.bin", data_size}}));
    EXPECT_TRUE(platform.logged("progress 100"));
}

}  // namespace
}  // namespace lumo
