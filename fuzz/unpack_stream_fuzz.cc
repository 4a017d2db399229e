// The packed stream decoder on arbitrary streams.
//
// Input: a u32 little-endian word, then the packed stream. The word's low 10
// bits are the output size (the time of a run grows with the output, and the
// properties hold alike for small areas; the tests decode big ones); its high
// 16 bits pick the window's starting contents: zeros, as the installer
// starts, when they are 0, a pattern made from them otherwise.
//
// Properties:
//  - the decoder writes only inside the output area (guard pages behind it,
//    a filled slack before it);
//  - it reads only inside the packed stream (it ends at a guard page);
//
// unpack_stream itself is the fast decoder over a freshly allocated, zeroed
// window; here the windows are allocated once and filled before each call,
// since allocating 1 MiB for every call would slow the fuzzer a
// hundredfold under the sanitizers.
//  - the fast decoder and the reference decoder give the same bytes, the
//    same progress reports, which never add up to more than the output area,
//    and the same answer on whether the stream filled the output by itself;
//    as the two are called in turn, state that one carried over from an
//    earlier call would show as a difference.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/guarded_buffer.h"
#include "payload/match_tables.h"
#include "payload/stream_decoders.h"

namespace {

using lumo::fuzz::GuardedBuffer;

constexpr uint32_t output_size_mask = (1u << 10) - 1;

struct RecordingSink final : lumo::ProgressSink {
    std::vector<uint32_t> reports;
    void report_progress(uint32_t bytes) override { reports.push_back(bytes); }
};

// The longest match: the last length slot, its extra bits, the per-use
// constant and the additions for far distances.
constexpr uint32_t longest_match =
    lumo::length_slots.back().base + (1u << lumo::length_slots.back().extra_bits) + 3 + 2;
// A call writes the window from its start, at most the output, one more
// match and a word of the fast decoder's copies.
constexpr size_t dirtied_by_call = output_size_mask + 1 + longest_match + 16;
static_assert(dirtied_by_call < lumo::window_size);

// A window for each decoder, allocated once. Its starting contents are zeros
// as allocate_window hands them out for a pattern of 0, else a 4 KiB run of
// pseudo-random bytes from `pattern`, repeated. Between calls with the same
// pattern only the part a call can have written is filled again.
class StartingWindow {
public:
    uint8_t* prepare(uint16_t pattern) {
        if (!window_) window_ = lumo::allocate_window();
        FUZZ_CHECK(window_ != nullptr);
        make_run(pattern);
        const size_t fill = pattern == pattern_ ? dirtied_by_call : lumo::window_size;
        for (size_t at = 0; at < fill; at += run_size)
            std::memcpy(window_.get() + at, run_, std::min(run_size, fill - at));
        pattern_ = pattern;
        return window_.get();
    }

private:
    static constexpr size_t run_size = 4096;

    void make_run(uint16_t pattern) {
        uint32_t state = pattern * 0x9E3779B9u | 1;
        for (size_t i = 0; i < run_size; ++i) {
            state ^= state << 13, state ^= state >> 17, state ^= state << 5;
            run_[i] = pattern == 0 ? 0 : uint8_t(state);
        }
    }

    lumo::Window window_;
    int pattern_ = -1;
    uint8_t run_[run_size];
};

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
    GuardedBuffer stream({data + 4, size - 4});

    static StartingWindow fast_window, reference_window;

    GuardedBuffer fast(output_size);
    RecordingSink fast_progress;
    const int32_t fast_answer = lumo::unpack_stream_fast(stream.data(), stream.end(), fast.data(), fast.end(),
                                                         fast_progress, fast_window.prepare(pattern));
    FUZZ_CHECK(fast_answer == 0 || fast_answer == 1);
    FUZZ_CHECK(fast.slack_intact());
    FUZZ_CHECK(total(fast_progress.reports) <= output_size);

    GuardedBuffer reference(output_size);
    RecordingSink reference_progress;
    FUZZ_CHECK(lumo::unpack_stream_reference(stream.data(), stream.end(), reference.data(), reference.end(),
                                             reference_progress, reference_window.prepare(pattern)) == fast_answer);
    FUZZ_CHECK(reference.slack_intact());
    FUZZ_CHECK(std::equal(fast.data(), fast.end(), reference.data()));
    FUZZ_CHECK(fast_progress.reports == reference_progress.reports);
    return 0;
}
