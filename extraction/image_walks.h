// The two ways the worker goes through the container image, entry by
// entry, writing each file and handing it to the entry hook:
//
// - streamed, while the image is decoded beside it: the header and the
//   directory are read from the image's start and checked, then each
//   entry's data as it comes, written as it arrives and checked before the
//   file gets its name. This holds for every layout the packer writes: the
//   directory behind the header and each entry's data behind the last.
// - whole, over an image decoded at once into memory, for the layouts that
//   cannot be read in order (directory elsewhere, data out of order or
//   shared between entries): every valid payload still installs.
//
// Both give the same files, messages and early stop for the same image.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "extraction/extraction_worker.h"
#include "extraction/image_stream.h"
#include "extraction/progress_meter.h"

namespace lumo {

enum class WalkOutcome {
    all_written,    // the terminating entry was reached
    stopped_early,  // the entry hook asked for it
    corrupt,        // a check failed
    copy_error,     // the file `failed_path` names could not be written
    no_memory,      // the directory or the image could not be held
    other_layout,   // not streamed: the whole image must be read
};

// `stream_can_fill`: the most the packed stream makes from its own bytes. A
// directory longer than that is damaged and is refused before it is held, as
// the whole path refuses such an image; the entries' data past it is
// streamed as it comes.
WalkOutcome walk_streamed_image(ExtractionRun& run, ImageStream& image, uint64_t image_size, uint64_t stream_can_fill,
                                ProgressMeter& meter, std::string& failed_path);
WalkOutcome walk_whole_image(ExtractionRun& run, std::span<const uint8_t> image, ProgressMeter& meter,
                             std::string& failed_path);

// The full path of an entry below the staging folder, or "" when its name is
// one the installer never writes: a name that could leave the staging folder
// or does not fit the path buffer makes the payload corrupt.
std::string full_path_of(ExtractionRun& run, std::string_view entry_name);

}  // namespace lumo
