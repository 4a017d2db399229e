// The packed stream decoder on arbitrary streams.
//
// Input: a u32 little-endian word, then the packed stream. The word's low 10
// bits are the output size (the time of a run grows with the output, and the
// properties hold alike for small areas; the tests decode big ones); its high
// 16 bits pick the window's starting contents: zeros, as the installer
// starts, when they are 0, else one of three patterns.
//
// Properties:
//  - the decoder writes only inside the output area (guard pages behind it,
//    a filled slack before it);
//  - it reads only inside the packed stream (it ends at a guard page);
//  - the fast decoder and the reference decoder give the same bytes, the
//    same progress reports, which never add up to more than the output area,
//    and the same answer on whether the stream filled the output by itself;
//    as the two are called in turn, state that one carried over from an
//    earlier call would show as a difference.
//
// The installer's decoder takes a fresh buffer of a few MiB for each image,
// with the window's history at its front. Here the buffers, and the
// reference's windows, are made and filled once for each starting pattern
// and kept: between calls only the part a call can have written is made as
// it was, since filling megabytes for every input of a few hundred bytes
// (and the page faults of fresh ones) would slow the fuzzer tenfold.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/guarded_buffer.h"
#include "payload/match_copy.h"
#include "payload/match_tables.h"
#include "payload/stream_decoders.h"

namespace {

using lumo::fuzz::ReusedGuardedBuffer;

// The longest input scripts/fuzz.sh gives the target: the stream buffer's
// first size (a longer input, from a corpus, grows it).
constexpr size_t longest_input = 16384;

constexpr uint32_t output_size_mask = (1u << 10) - 1;
constexpr size_t pattern_count = 4;  // zeros and three patterns

struct RecordingSink final : lumo::ProgressSink {
    std::vector<uint32_t> reports;
    void report_progress(uint32_t bytes) override { reports.push_back(bytes); }
};

// The longest match: the last length slot, its extra bits, the per-use
// constant and the additions for far distances.
constexpr uint32_t longest_match =
    lumo::length_slots.back().base + (1u << lumo::length_slots.back().extra_bits) + 3 + 2;
// A call writes from the image's first byte on: at most the output, one
// more match and a word copy's overrun.
constexpr size_t dirtied_by_call = output_size_mask + 1 + longest_match + lumo::match_overrun;
static_assert(dirtied_by_call < lumo::window_size);

// The starting contents of one pattern, for both decoders: zeros as
// allocate_window hands them out, or a 4 KiB run of pseudo-random bytes
// repeated. Made once; after a call only the part it can have written is
// filled again.
class StartingWindows {
public:
    explicit StartingWindows(size_t index)
        : reference_(lumo::allocate_window()),
          fast_(static_cast<uint8_t*>(std::calloc(fast_size, 1))) {
        FUZZ_CHECK(reference_ != nullptr && fast_ != nullptr);
        uint32_t state = uint32_t(index) * 0x9E3779B9u | 1;
        for (size_t i = 0; i < run_size; ++i) {
            state ^= state << 13, state ^= state >> 17, state ^= state << 5;
            run_[i] = index == 0 ? 0 : uint8_t(state);
        }
        for (size_t at = 0; at < lumo::window_size; at += run_size) {
            std::memcpy(reference_.get() + at, run_, run_size);
            std::memcpy(fast_.get() + at, run_, run_size);
        }
    }
    uint8_t* reference() { return reference_.get(); }
    uint8_t* fast() { return fast_.get(); }
    // What the last call wrote made as it was.
    void restore() {
        std::memcpy(reference_.get(), run_, dirtied_by_call);
        std::memset(fast_.get() + lumo::window_size, 0, dirtied_by_call);
    }

private:
    static constexpr size_t run_size = 4096;
    static_assert(dirtied_by_call <= run_size && lumo::window_size % run_size == 0);
    static inline const size_t fast_size = size_t(lumo::stream_buffer_size(output_size_mask));
    lumo::Window reference_;
    lumo::Window fast_;
    uint8_t run_[run_size];
};

StartingWindows& windows_for(uint16_t pattern) {
    static std::array<std::unique_ptr<StartingWindows>, pattern_count> windows;
    const size_t index = pattern == 0 ? 0 : 1 + pattern % (pattern_count - 1);
    if (!windows[index]) windows[index] = std::make_unique<StartingWindows>(index);
    return *windows[index];
}

uint64_t total(const std::vector<uint32_t>& reports) {
    uint64_t sum = 0;
    for (uint32_t r : reports) sum += r;
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const uint32_t word =
        uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
    const uint32_t output_size = word & output_size_mask;
    const uint16_t pattern = uint16_t(word >> 16);
    // Made once: a fresh mapping for every input costs more than the input.
    static ReusedGuardedBuffer stream(longest_input), fast(output_size_mask), reference(output_size_mask);
    stream.place({data + 4, size - 4});
    StartingWindows& windows = windows_for(pattern);

    fast.place(output_size);
    RecordingSink fast_progress;
    const int32_t fast_answer = lumo::unpack_stream_fast_in(stream.data(), stream.end(), fast.data(), fast.end(),
                                                            fast_progress, windows.fast());
    FUZZ_CHECK(fast_answer == 0 || fast_answer == 1);
    FUZZ_CHECK(fast.slack_intact());
    FUZZ_CHECK(total(fast_progress.reports) <= output_size);

    reference.place(output_size);
    RecordingSink reference_progress;
    FUZZ_CHECK(lumo::unpack_stream_reference(stream.data(), stream.end(), reference.data(), reference.end(),
                                             reference_progress, windows.reference()) == fast_answer);
    windows.restore();
    FUZZ_CHECK(reference.slack_intact());
    FUZZ_CHECK(std::equal(fast.data(), fast.end(), reference.data()));
    FUZZ_CHECK(fast_progress.reports == reference_progress.reports);
    return 0;
}
