// The container writer: images that the installer's own walker accepts, and
// refusals where the format's 32-bit fields end.
#include "tools/lumopack/container_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/checksum.h"
#include "payload/container.h"

namespace lumo {
namespace {

using Bytes = std::vector<uint8_t>;

struct Walked {
    std::string name;
    Bytes data;
    uint32_t checksum;
};

std::vector<Walked> walk(const Bytes& image) {
    std::vector<Walked> seen;
    EXPECT_TRUE(walk_image(image, [&](const DirectoryEntry& e) {
        seen.push_back({std::string(e.name), Bytes(e.data.begin(), e.data.end()), e.data_checksum});
    }));
    return seen;
}

TEST(ContainerWriter, ImageWalksBackToTheFilesInOrder) {
    const Bytes setup = {'#', ' ', 'x', '\n'}, empty, big(70000, 0x5A);
    const std::vector<ContainerFileData> files = {
        {"Setup.cfg", setup}, {"empty.dat", empty}, {"sub\\deeper\\big.bin", big}, {"caf\xE9.txt", setup}};
    auto image = build_container_image(files);
    ASSERT_TRUE(image.has_value());

    const auto seen = walk(*image);
    ASSERT_EQ(seen.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(seen[i].name, files[i].name);
        EXPECT_EQ(seen[i].data, Bytes(files[i].data.begin(), files[i].data.end()));
    }
    // An empty file carries the seed as its checksum.
    EXPECT_EQ(seen[1].checksum, checksum_seed);

    // Data end is the image's end, and the reserved fields are zero.
    ImageHeader header;
    ASSERT_TRUE(validate_image_header(*image, header));
    EXPECT_EQ(header.data_end, image->size());
    for (size_t at : {26, 27, 28, 29, 30, 31, 48, 49, 50, 51}) EXPECT_EQ((*image)[at], 0) << "header byte " << at;
}

TEST(ContainerWriter, EmptyImageHasOnlyTheTerminatingEntry) {
    auto image = build_container_image({});
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), image_header_size + directory_entry_size);
    EXPECT_TRUE(walk(*image).empty());
}

TEST(ContainerWriter, SizesBeyondThirtyTwoBitsAreRefusedBeforeAllocating) {
    // Laid out from sizes alone: nothing of these sizes is allocated.
    const std::vector<std::vector<ContainerFile>> refused = {
        {{"huge.bin", 0x100000000ull}},
        {{"a.bin", 0x80000000ull}, {"b.bin", 0x80000000ull}},
        {{"a.bin", 0xFFFFFFFFull - image_header_size - 2 * directory_entry_size - 5}},  // header pushes it over
    };
    for (const auto& files : refused) EXPECT_FALSE(lay_out_container(files).has_value()) << files[0].name;
}

}  // namespace
}  // namespace lumo
