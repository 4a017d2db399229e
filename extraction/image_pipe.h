// The container image's hand-off from the thread that decodes it to the
// worker that writes its files. The decoder emits each block out of its own
// buffer and, before it writes over bytes it emitted, waits until the
// worker has let go of them; the worker takes the blocks in order and lets
// go of what it has read. Nothing is copied on the way, and the memory is
// the decoder's bounded buffer, whatever the image's size.
//
// One thread on each side. The positions and counts are atomics; each side
// waits on a signal of its own, which the other gives after every change
// the waiter may be waiting for.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "payload/image_output.h"
#include "platform/platform.h"

namespace lumo {

class ImagePipe final : public ImageOutput {
public:
    struct Block {
        const uint8_t* bytes = nullptr;
        uint32_t size = 0;
    };

    explicit ImagePipe(Platform& platform) : blocks_ready_(platform.create_signal()), room_(platform.create_signal()) {}
    // Whether the signals could be made; a pipe without them is not used.
    bool ready() const { return blocks_ready_ && room_; }

    // The decoder's side: ImageOutput, and the end of decoding.
    bool emit(const uint8_t* bytes, uint32_t n) override;
    bool reuse(uint64_t position) override;
    void close();

    // The worker's side. The next block, waiting for it; false once the
    // decoder has ended and every block has been taken.
    bool take(Block& block);
    // Done with the image's bytes below `position`.
    void release(uint64_t position);
    // Nothing more is wanted: the decoder stops at its next block or wait.
    void stop();

private:
    static constexpr uint32_t ring_size = 16;
    std::array<Block, ring_size> ring_;
    std::atomic<uint32_t> put_{0};    // blocks put into the ring
    std::atomic<uint32_t> taken_{0};  // blocks taken out of it
    std::atomic<uint64_t> released_{0};
    std::atomic<bool> closed_{false};
    std::atomic<bool> stopped_{false};
    std::unique_ptr<Signal> blocks_ready_;  // the worker waits on it
    std::unique_ptr<Signal> room_;          // the decoder waits on it
};

}  // namespace lumo
