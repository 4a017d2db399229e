#include "platform/posix/pe_version_resource.h"

#include <string>

#include "platform/posix/wine_text.h"

namespace lumo {

namespace {

// Little-endian reads that answer false instead of reading past the end.
struct Bytes {
    std::span<const uint8_t> data;

    bool has(uint64_t offset, uint64_t size) const { return offset <= data.size() && size <= data.size() - offset; }
    bool u16(uint64_t offset, uint32_t& value) const {
        if (!has(offset, 2)) return false;
        value = data[offset] | data[offset + 1] << 8;
        return true;
    }
    bool u32(uint64_t offset, uint32_t& value) const {
        if (!has(offset, 4)) return false;
        value = static_cast<uint32_t>(data[offset]) | static_cast<uint32_t>(data[offset + 1]) << 8 |
                static_cast<uint32_t>(data[offset + 2]) << 16 | static_cast<uint32_t>(data[offset + 3]) << 24;
        return true;
    }
};

// PE layout constants (winnt.h).
constexpr uint32_t pe_signature = 0x00004550;  // "PE\0\0"
constexpr uint32_t optional_magic_pe32 = 0x10B;
constexpr uint32_t optional_magic_pe32_plus = 0x20B;
constexpr uint32_t resource_directory_index = 2;
constexpr uint32_t section_header_size = 40;
constexpr uint32_t resource_type_version = 16;  // RT_VERSION
constexpr uint32_t version_info_id = 1;         // VS_VERSION_INFO
constexpr uint32_t subdirectory_bit = 0x80000000;
constexpr uint32_t fixed_info_signature = 0xFEEF04BD;
constexpr uint32_t fixed_info_size = 52;  // VS_FIXEDFILEINFO

struct Section {
    uint32_t virtual_address, virtual_size, raw_size, raw_offset;
};

// The file offset of the bytes at `rva`, which must hold `size` bytes inside
// one section's raw data.
std::optional<uint64_t> file_offset(const Bytes& file, uint64_t sections, uint32_t count, uint32_t rva,
                                    uint32_t size) {
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t at = sections + uint64_t{i} * section_header_size;
        Section s{};
        if (!file.u32(at + 8, s.virtual_size) || !file.u32(at + 12, s.virtual_address) ||
            !file.u32(at + 16, s.raw_size) || !file.u32(at + 20, s.raw_offset))
            return std::nullopt;
        if (rva < s.virtual_address) continue;
        uint64_t into = uint64_t{rva} - s.virtual_address;
        if (into + size > s.raw_size) continue;
        uint64_t offset = s.raw_offset + into;
        if (!file.has(offset, size)) return std::nullopt;
        return offset;
    }
    return std::nullopt;
}

// One level of the resource tree: the entry with `id`, or the first entry
// when `id` is absent. Returns the entry's target offset (relative to the
// resource section); nothing when the entry is missing or is not of the kind
// wanted (a subdirectory or a data entry).
std::optional<uint32_t> resource_entry(const Bytes& file, uint64_t directory, std::optional<uint32_t> id,
                                       bool want_subdirectory) {
    uint32_t named = 0, ids = 0;
    if (!file.u16(directory + 12, named) || !file.u16(directory + 14, ids)) return std::nullopt;
    uint32_t total = named + ids;
    for (uint32_t i = 0; i < total; ++i) {
        uint64_t entry = directory + 16 + uint64_t{i} * 8;
        uint32_t name = 0, target = 0;
        if (!file.u32(entry, name) || !file.u32(entry + 4, target)) return std::nullopt;
        // Named entries come first; an id search skips them.
        if (id && (i < named || name != *id)) continue;
        bool is_subdirectory = target & subdirectory_bit;
        if (is_subdirectory != want_subdirectory) return std::nullopt;
        return target & ~subdirectory_bit;
    }
    return std::nullopt;
}

}  // namespace

std::optional<ResourceSpan> find_version_resource(std::span<const uint8_t> data) {
    Bytes file{data};
    if (!file.has(0, 64) || data[0] != 'M' || data[1] != 'Z') return std::nullopt;
    uint32_t pe = 0, signature = 0;
    if (!file.u32(0x3C, pe) || !file.u32(pe, signature) || signature != pe_signature) return std::nullopt;

    uint64_t coff = uint64_t{pe} + 4;
    uint32_t section_count = 0, optional_size = 0, magic = 0;
    if (!file.u16(coff + 2, section_count) || !file.u16(coff + 16, optional_size)) return std::nullopt;
    uint64_t optional = coff + 20;
    if (!file.u16(optional, magic)) return std::nullopt;
    uint64_t directory_count_at, directories_at;
    if (magic == optional_magic_pe32) {
        directory_count_at = optional + 92;
        directories_at = optional + 96;
    } else if (magic == optional_magic_pe32_plus) {
        directory_count_at = optional + 108;
        directories_at = optional + 112;
    } else {
        return std::nullopt;
    }
    uint32_t directory_count = 0, resource_rva = 0, resource_size = 0;
    if (!file.u32(directory_count_at, directory_count) || directory_count <= resource_directory_index)
        return std::nullopt;
    uint64_t resource_entry_at = directories_at + resource_directory_index * 8;
    if (resource_entry_at + 8 > optional + optional_size) return std::nullopt;
    if (!file.u32(resource_entry_at, resource_rva) || !file.u32(resource_entry_at + 4, resource_size))
        return std::nullopt;
    if (resource_rva == 0 || resource_size < 16) return std::nullopt;

    uint64_t sections = optional + optional_size;
    // The resource tree as one stretch of the file; offsets inside it are
    // relative to its start and checked against its size.
    auto root = file_offset(file, sections, section_count, resource_rva, 16);
    if (!root) return std::nullopt;
    auto mapped_size = [&](uint32_t offset, uint32_t size) -> std::optional<uint64_t> {
        if (uint64_t{offset} + size > resource_size || uint64_t{resource_rva} + offset > UINT32_MAX)
            return std::nullopt;
        return file_offset(file, sections, section_count, resource_rva + offset, size);
    };

    // Type RT_VERSION, then name VS_VERSION_INFO (or the first name), then the
    // first language: three levels, never deeper.
    auto type_dir = resource_entry(file, *root, resource_type_version, true);
    if (!type_dir) return std::nullopt;
    auto type_at = mapped_size(*type_dir, 16);
    if (!type_at) return std::nullopt;
    auto name_dir = resource_entry(file, *type_at, version_info_id, true);
    if (!name_dir) name_dir = resource_entry(file, *type_at, std::nullopt, true);
    if (!name_dir) return std::nullopt;
    auto name_at = mapped_size(*name_dir, 16);
    if (!name_at) return std::nullopt;
    auto data_entry = resource_entry(file, *name_at, std::nullopt, false);
    if (!data_entry) return std::nullopt;
    auto data_entry_at = mapped_size(*data_entry, 16);
    if (!data_entry_at) return std::nullopt;

    uint32_t data_rva = 0, data_size = 0;
    if (!file.u32(*data_entry_at, data_rva) || !file.u32(*data_entry_at + 4, data_size) || data_size == 0)
        return std::nullopt;
    auto data_at = file_offset(file, sections, section_count, data_rva, data_size);
    if (!data_at) return std::nullopt;
    return ResourceSpan{*data_at, data_size};
}

namespace {

// One node of a version block: wLength, wValueLength, wType, the UTF-16 key,
// then the value and the children, each aligned to four bytes.
struct Node {
    uint64_t start = 0, end = 0;  // the node's bytes, [start, end)
    std::string key;
    uint64_t value = 0;           // offset of the value
    uint64_t value_bytes = 0;     // its size in bytes (text values count in UTF-16 units)
    uint64_t children = 0;        // offset of the first child
};

uint64_t align4(uint64_t offset) { return (offset + 3) & ~uint64_t{3}; }

bool ascii_equal_ignoring_case(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return i == a.size() && !b[i];
}

// The node at `start`, which must lie inside [start, limit).
std::optional<Node> read_node(const Bytes& block, uint64_t start, uint64_t limit) {
    uint32_t length = 0, value_length = 0, type = 0;
    if (!block.u16(start, length) || !block.u16(start + 2, value_length) || !block.u16(start + 4, type))
        return std::nullopt;
    if (length < 6 || start + length > limit) return std::nullopt;
    Node node;
    node.start = start;
    node.end = start + length;
    uint64_t at = start + 6;
    for (;;) {
        uint32_t unit = 0;
        if (at + 2 > node.end || !block.u16(at, unit)) return std::nullopt;
        at += 2;
        if (unit == 0) break;
        append_utf8(node.key, unit);
    }
    node.value = align4(at);
    node.value_bytes = type == 1 ? uint64_t{value_length} * 2 : value_length;
    if (node.value > node.end) node.value = node.end;
    if (node.value_bytes > node.end - node.value) node.value_bytes = node.end - node.value;
    node.children = align4(node.value + node.value_bytes);
    return node;
}

// The child of `parent` whose key matches `key`.
std::optional<Node> child(const Bytes& block, const Node& parent, const char* key) {
    uint64_t at = parent.children;
    while (at + 6 <= parent.end) {
        auto node = read_node(block, at, parent.end);
        if (!node) return std::nullopt;
        if (ascii_equal_ignoring_case(node->key, key)) return node;
        at = align4(node->end);
    }
    return std::nullopt;
}

}  // namespace

VersionInfo query_version_block(std::span<const uint8_t> data) {
    VersionInfo info;
    Bytes block{data};
    auto root = read_node(block, 0, data.size());
    if (!root) return info;

    uint32_t signature = 0;
    if (root->value_bytes >= fixed_info_size && block.u32(root->value, signature) &&
        signature == fixed_info_signature) {
        info.has_fixed_info = block.u32(root->value + 8, info.file_version_ms) &&
                              block.u32(root->value + 12, info.file_version_ls);
    }

    auto strings = child(block, *root, "StringFileInfo");
    auto table = strings ? child(block, *strings, "040904B0") : std::nullopt;
    auto name = table ? child(block, *table, "ProductName") : std::nullopt;
    if (name) {
        info.has_product_name = true;
        info.product_name = utf16le_to_utf8(data.subspan(name->value, name->value_bytes));
    }
    return info;
}

}  // namespace lumo
