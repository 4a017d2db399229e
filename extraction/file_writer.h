// The file writer: one payload entry out to its file below the staging folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "payload/progress_sink.h"
#include "platform/platform.h"

namespace lumo {

// Files go out in chunks of at most this many bytes; the meter hears of each.
inline constexpr uint32_t write_chunk_size = 65536;

// Creates (or replaces) the file at `full_path` and writes `size` bytes of
// `data` to it. Missing folders are created one per pass, from the outermost
// missing one inwards, never above `staging_folder` itself (which the first
// file creates when it is missing). False when the file cannot be created or
// a chunk is not written in full.
bool write_file(Platform& platform, const std::string& staging_folder, const std::string& full_path,
                const uint8_t* data, uint32_t size, ProgressSink& meter);

}  // namespace lumo
