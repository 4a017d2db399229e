// The extraction worker: the body of the installer's second thread. It
// unpacks the stored payload into the container image, checks the image,
// writes its files below the staging folder, keeps the progress meter up to
// date, and ends by recording the extraction status and closing the dialog.
//
// The image is streamed: a thread of the worker's own decodes it into a
// bounded buffer while the worker reads it, so that memory stays a few MiB
// whatever the add-on's size, writing overlaps decoding, and an early stop
// ends the decoding too (extraction/image_walks.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "extraction/entry_hook.h"
#include "payload/bit_input.h"
#include "payload/image_output.h"
#include "payload/unpack_stream.h"
#include "platform/platform.h"

namespace lumo {

// The packed stream decoder as the worker runs it: decodes the packed stream
// that `feed` hands over into an image of `image_size` bytes, block by block
// to `output`. The installer passes unpack_stream_to; tests may pass a
// stand-in to reach the worker's own paths.
using UnpackFunction = std::function<StreamedImage(PackedFeed& feed, uint64_t image_size, ImageOutput& output)>;

// Reserves a whole container image, for the layouts that are not streamed:
// `size` zeroed bytes that std::free releases, or null when the memory is
// not there. The installer uses zeroed_image.
using AllocateFunction = void* (*)(size_t size);
void* zeroed_image(size_t size);

// How the worker reads the image: streamed where the layout allows (every
// layout the packer writes) and whole otherwise, or always whole.
enum class ImagePath { streamed, whole };

// Extraction status values.
inline constexpr int32_t extraction_unset = 0;
inline constexpr int32_t extraction_succeeded = 1;  // all files written, or an early stop
inline constexpr int32_t extraction_failed = -1;    // after the worker's own message

// What one run shares between the start-up code and the worker.
struct ExtractionRun {
    Platform& platform;
    std::string staging_folder;  // ends in the platform's separator
    EntryHook& entry_hook;
    UnpackFunction unpack;
    AllocateFunction allocate = zeroed_image;
    ImagePath image_path = ImagePath::streamed;
    // Written once by the worker, with an atomic exchange, before the dialog
    // closes; read by the start-up code after the dialog has closed.
    std::atomic<int32_t> status{extraction_unset};
};

// The path buffer of the worker holds 512 bytes with the terminating zero;
// a file whose full path is longer is never written.
inline constexpr size_t max_full_path_length = 511;

void run_extraction_worker(ExtractionRun& run);

}  // namespace lumo
