// The hand-off between the decoding thread and the worker, under real
// threads: each side waits on its signal only when the other must wake it,
// and no wake-up may be lost however the two interleave.
#include "extraction/image_pipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/fake/fake_platform.h"

namespace lumo {
namespace {

// The decoder writes block i (a 4-byte count) into a buffer of eight slots
// and, before it writes over a slot, asks for that place back; the worker
// checks each block and lets go of it. With eight slots against a ring of
// sixteen, both sides run into waits all the time.
TEST(ImagePipe, EveryBlockArrivesInOrderAndNoWakeUpIsLost) {
    FakePlatform platform;
    ImagePipe pipe(platform);
    ASSERT_TRUE(pipe.ready());
    constexpr uint32_t blocks = 300000, slots = 8;
    uint32_t buffer[slots];
    std::atomic<bool> decoder_done{false};
    std::thread decoder([&] {
        for (uint32_t i = 0; i < blocks; ++i) {
            if (i >= slots && !pipe.reuse(uint64_t(i - slots + 1) * 4)) break;
            buffer[i % slots] = i;
            if (!pipe.emit(reinterpret_cast<const uint8_t*>(&buffer[i % slots]), 4)) break;
            if (i % 7 == 0) std::this_thread::yield();
        }
        pipe.close();
        decoder_done = true;
    });
    std::atomic<uint32_t> received{0};
    std::atomic<bool> in_order{true};
    std::thread worker([&] {
        ImagePipe::Block block;
        for (uint32_t expected = 0; pipe.take(block); ++expected) {
            uint32_t value;
            std::memcpy(&value, block.bytes, 4);
            if (block.size != 4 || value != expected) in_order = false;
            received = expected + 1;
            if (expected % 5 == 0) std::this_thread::yield();
            pipe.release(uint64_t(expected + 1) * 4);
        }
    });
    // A lost wake-up leaves both sides waiting: end them rather than hang.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!decoder_done && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool finished = decoder_done;
    if (!finished) {
        pipe.stop();
        pipe.close();
    }
    decoder.join();
    worker.join();
    EXPECT_TRUE(finished) << "both sides waited for each other after block " << received;
    EXPECT_EQ(received, blocks);
    EXPECT_TRUE(in_order);
}

// Stopped from the worker's side while the decoder waits for room: the
// decoder's wait ends and it is told to stop.
TEST(ImagePipe, StopEndsTheDecodersWait) {
    FakePlatform platform;
    ImagePipe pipe(platform);
    std::atomic<bool> told_to_stop{false};
    std::thread decoder([&] { told_to_stop = !pipe.reuse(1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pipe.stop();
    decoder.join();
    EXPECT_TRUE(told_to_stop);
}

}  // namespace
}  // namespace lumo
