// The version reader of the POSIX platform: real Windows programs built with
// the MinGW resource compiler, hand-made version blocks, and damaged files.
#include "platform/posix/pe_version_resource.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "platform/posix/posix_platform.h"

namespace lumo {
namespace {

std::vector<uint8_t> program(const std::string& name) {
    std::string path = std::string(LUMO_PRODUCT_PROGRAMS) + "/" + name + ".exe";
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(bytes.empty()) << path << " missing: the MinGW-w64 tools (scripts/install-deps.sh) build it";
    return bytes;
}

VersionInfo read_program(const std::vector<uint8_t>& file) {
    auto resource = find_version_resource(file);
    if (!resource) return {};
    EXPECT_LE(resource->offset + resource->size, file.size());
    return query_version_block(std::span<const uint8_t>(file).subspan(resource->offset, resource->size));
}

TEST(PeVersionResource, ProgramsBuiltWithTheResourceCompiler) {
    struct Case {
        const char* program;
        bool fixed;
        uint32_t ms, ls;
        bool named;
        std::string name;
    };
    const Case cases[] = {
        {"english32", true, 0x00050005, 0x000A0000, true, "Lumo Burner"},   // PE32
        {"english64", true, 0x00010002, 0x01000004, true, "Lumo Burner"},   // PE32+, 1.2.256.4
        {"german32", true, 0x00050005, 0x000A0000, false, ""},              // only 040704B0
        {"german64", true, 0x00050005, 0x000A0000, false, ""},
        {"plain64", false, 0, 0, false, ""},                                // no version resource
    };
    for (const Case& c : cases) {
        VersionInfo info = read_program(program(c.program));
        EXPECT_EQ(info.has_fixed_info, c.fixed) << c.program;
        EXPECT_EQ(info.file_version_ms, c.ms) << c.program;
        EXPECT_EQ(info.file_version_ls, c.ls) << c.program;
        EXPECT_EQ(info.has_product_name, c.named) << c.program;
        EXPECT_EQ(info.product_name, c.name) << c.program;
    }
    EXPECT_FALSE(find_version_resource(program("plain64")));
}

// Damaged programs: every truncation and many random byte changes give an
// answer without reading outside the file (the sanitizer build checks).
TEST(PeVersionResource, DamagedProgramsNeverReadOutside) {
    for (const char* name : {"english32", "english64"}) {
        const std::vector<uint8_t> whole = program(name);
        for (size_t size = 0; size <= whole.size(); size += 7) {
            std::vector<uint8_t> cut(whole.begin(), whole.begin() + size);
            read_program(cut);
        }
        std::mt19937 random(1234);
        int still_found = 0;
        for (int round = 0; round < 3000; ++round) {
            std::vector<uint8_t> damaged = whole;
            for (int flips = 0; flips < 4; ++flips)
                damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
            still_found += read_program(damaged).has_fixed_info;
        }
        EXPECT_GT(still_found, 0) << name;  // most changes miss the resource
    }
}

// A version block node: wLength, wValueLength, wType, key, value, children.
struct Node {
    std::u16string key;
    std::vector<uint8_t> value;
    uint16_t type = 0;           // 1: text, value length counted in UTF-16 units
    std::vector<Node> children;
    int length_change = 0;       // to damage wLength
};

void pad4(std::vector<uint8_t>& out) {
    while (out.size() % 4) out.push_back(0);
}

std::vector<uint8_t> build(const Node& node) {
    std::vector<uint8_t> out(6, 0);
    for (char16_t c : node.key) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    pad4(out);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const Node& c : node.children) {
        pad4(out);
        auto child = build(c);
        out.insert(out.end(), child.begin(), child.end());
    }
    uint16_t length = static_cast<uint16_t>(out.size() + node.length_change);
    uint16_t value_length = static_cast<uint16_t>(node.type == 1 ? node.value.size() / 2 : node.value.size());
    out[0] = static_cast<uint8_t>(length);
    out[1] = static_cast<uint8_t>(length >> 8);
    out[2] = static_cast<uint8_t>(value_length);
    out[3] = static_cast<uint8_t>(value_length >> 8);
    out[4] = static_cast<uint8_t>(node.type);
    return out;
}

std::vector<uint8_t> utf16(const std::u16string& text) {
    std::vector<uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::vector<uint8_t> fixed_info(uint32_t signature, uint32_t ms, uint32_t ls) {
    std::vector<uint8_t> out(52, 0);
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(signature >> 8 * i);
        out[8 + i] = static_cast<uint8_t>(ms >> 8 * i);
        out[12 + i] = static_cast<uint8_t>(ls >> 8 * i);
    }
    return out;
}

Node version_block(const std::u16string& table, const std::u16string& name_key, const std::u16string& name) {
    Node product{name_key, utf16(name), 1, {}};
    Node strings{u"StringFileInfo", {}, 1, {Node{table, {}, 1, {product}}}};
    return Node{u"VS_VERSION_INFO", fixed_info(0xFEEF04BD, 0x00070001, 0x00020003), 0, {strings}};
}

TEST(VersionBlock, Queries) {
    struct Case {
        const char* what;
        std::vector<uint8_t> block;
        bool fixed;
        bool named;
        std::string name;
    };
    Node no_signature = version_block(u"040904B0", u"ProductName", u"X");
    no_signature.value = fixed_info(0x12345678, 1, 1);
    Node short_fixed = version_block(u"040904B0", u"ProductName", u"X");
    short_fixed.value.resize(40);
    Node overlong = version_block(u"040904B0", u"ProductName", u"X");
    overlong.length_change = 8;
    Node child_overlong = version_block(u"040904B0", u"ProductName", u"X");
    child_overlong.children[0].children[0].children[0].length_change = 200;
    Node other_first = version_block(u"040904B0", u"ProductName", u"Lumo");
    other_first.children[0].children.insert(other_first.children[0].children.begin(),
                                            Node{u"040704B0", {}, 1, {Node{u"ProductName", utf16(u"Brenner"), 1, {}}}});
    const Case cases[] = {
        {"plain", build(version_block(u"040904B0", u"ProductName", u"Lumo Burner")), true, true, "Lumo Burner"},
        {"keys in other case", build(version_block(u"040904b0", u"PRODUCTNAME", u"Lumo")), true, true, "Lumo"},
        {"non-ASCII name as UTF-8", build(version_block(u"040904B0", u"ProductName", u"L\u00fcmo \U0001F3B5")), true,
         true, "L\xC3\xBCmo \xF0\x9F\x8E\xB5"},
        {"other table only", build(version_block(u"040704B0", u"ProductName", u"Lumo")), true, false, ""},
        {"English table after a German one", build(other_first), true, true, "Lumo"},
        {"other code page", build(version_block(u"040904E4", u"ProductName", u"Lumo")), true, false, ""},
        {"fixed info without signature", build(no_signature), false, true, "X"},
        {"fixed info too short", build(short_fixed), false, true, "X"},
        {"block longer than its bytes", build(overlong), false, false, ""},
        {"child longer than its parent", build(child_overlong), true, false, ""},
        {"empty block", {}, false, false, ""},
        {"six zero bytes", std::vector<uint8_t>(6, 0), false, false, ""},
    };
    for (const Case& c : cases) {
        VersionInfo info = query_version_block(c.block);
        EXPECT_EQ(info.has_fixed_info, c.fixed) << c.what;
        if (c.fixed) { EXPECT_EQ(info.file_version_ms, 0x00070001u) << c.what; }
        EXPECT_EQ(info.has_product_name, c.named) << c.what;
        EXPECT_EQ(info.product_name, c.name) << c.what;
    }
}

TEST(VersionBlock, EveryCutOfABlockIsSafe) {
    std::vector<uint8_t> block = build(version_block(u"040904B0", u"ProductName", u"Lumo Burner"));
    for (size_t size = 0; size < block.size(); ++size) {
        // A copy of exactly `size` bytes, so that any read past it is caught.
        std::vector<uint8_t> cut(block.begin(), block.begin() + size);
        VersionInfo info = query_version_block(cut);
        EXPECT_FALSE(info.has_fixed_info || info.has_product_name) << size;  // the root no longer fits
    }
}

// Another process shortens the product's program and writes it again while
// the update check reads its version, over and over: each read gives the
// version or none, and the run goes on. (Mapped, the program's pages past
// its new end would end the run with SIGBUS.)
TEST(PosixProduct, ProgramChangingWhileItIsReadIsHarmless) {
    const std::vector<uint8_t> bytes = program("english64");
    const auto resource = find_version_resource(bytes);
    ASSERT_TRUE(resource.has_value());
    const std::string path = testing::TempDir() + "changing-lumo.exe";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

    PosixPlatform platform;
    ASSERT_EQ(platform.version_info_size(path), resource->size) << "the program as it stands";

    std::atomic<bool> done = false;
    std::thread changer([&] {
        while (!done) {
            const int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
            if (fd < 0) continue;
            if (write(fd, bytes.data(), bytes.size()) < 0) break;
            close(fd);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    int whole = 0, none = 0;
    for (int i = 0; i < 3000; ++i) {
        const uint32_t size = platform.version_info_size(path);
        VersionInfo info;
        const bool read = platform.read_version_info(path, resource->size, info);
        EXPECT_TRUE(size == 0 || size == resource->size) << size;
        EXPECT_TRUE(!read || !info.has_fixed_info || info.file_version_ms == 0x00010002u) << i;
        (size == resource->size ? whole : none) += 1;
    }
    done = true;
    changer.join();
    std::printf("%d reads found the version, %d found none\n", whole, none);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace lumo
