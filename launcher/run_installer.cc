// The installer's run as shipped: every entry written, the payload unpacked
// by the packed stream decoder.
#include "launcher/run_installer.h"

#include "payload/unpack_stream.h"

namespace lumo {

int run_installer(Platform& platform) {
    WriteEverything entry_hook;
    return run_installer(platform, entry_hook,
                         [](const uint8_t* packed_begin, const uint8_t* packed_end, uint8_t* image_begin,
                            uint8_t* image_end, ProgressSink& meter) {
                             unpack_stream(packed_begin, packed_end, image_begin, image_end, meter);
                         });
}

}  // namespace lumo
