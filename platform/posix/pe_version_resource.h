// The version resource of a Windows program, read from its bytes: what
// GetFileVersionInfoA and VerQueryValueA answer on Windows. Every read is
// bounded by the bytes given; a damaged or hostile file is only "no version
// information".
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/platform.h"

namespace lumo {

// Where the RT_VERSION resource lies in a PE32 or PE32+ file: the file
// offset and size of its data. Absent when the file is no such program or
// carries no version resource.
struct ResourceSpan {
    uint64_t offset = 0;
    uint32_t size = 0;
};
std::optional<ResourceSpan> find_version_resource(std::span<const uint8_t> file);

// Answers the two queries of the update check from a version block
// (VS_VERSIONINFO): "\" (the fixed file information) and
// "\StringFileInfo\040904B0\ProductName" (as UTF-8). Keys compare without
// regard to letter case, as VerQueryValueA does.
VersionInfo query_version_block(std::span<const uint8_t> block);

}  // namespace lumo
