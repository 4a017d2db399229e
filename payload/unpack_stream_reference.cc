// The reference decoder: every step as the format describes it, one symbol
// and one byte at a time, every window position masked.

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "payload/audio_predictor.h"
#include "payload/bit_input.h"
#include "payload/code_length_block.h"
#include "payload/code_table.h"
#include "payload/match_tables.h"
#include "payload/stream_decoders.h"

namespace lumo {
namespace {

class ReferenceDecoder {
public:
    ReferenceDecoder(uint8_t* window, uint8_t* output_begin, uint8_t* output_end,
                     ProgressSink& progress)
        : window_(window), output_position_(output_begin), output_end_(output_end),
          progress_(progress) {}

    // True when the stored stream produced the whole output by itself.
    bool run(const uint8_t* packed_begin, const uint8_t* packed_end);

private:
    // Input and code tables.
    BitInput in_;
    CodeTables tables_;

    // Window and output.
    uint8_t* window_;                // window_size bytes, zeroed by the caller
    uint32_t write_position_ = 0;    // window position of the next decoded byte
    uint32_t flushed_position_ = 0;  // bytes before it have been emitted
    int64_t bytes_left_ = 0;         // output bytes still to produce, minus one
    uint8_t* output_position_;
    uint8_t* output_end_;
    ProgressSink& progress_;

    // Match history.
    std::array<uint32_t, 4> old_distances_{};
    uint32_t ring_counter_ = 0;  // matches so far; the next distance goes to [ring_counter_ & 3]
    uint32_t last_distance_ = 0;
    uint32_t last_length_ = 0;

    // Audio predictor.
    int32_t channel_delta_ = 0;
    std::array<AudioChannel, max_audio_channels> channels_{};

    void decode_audio_symbol();
    void decode_lz_symbol();
    void copy_match(uint32_t length, uint32_t distance);
    void flush_window();
    void emit_output(const uint8_t* bytes, uint32_t n);
};

bool ReferenceDecoder::run(const uint8_t* packed_begin, const uint8_t* packed_end) {
    in_.set_source(packed_begin, packed_end);
    bytes_left_ = output_end_ - output_position_;
    in_.fill_input();
    read_code_tables(in_, tables_);
    bytes_left_ -= 1;

    while (bytes_left_ >= 0) {
        write_position_ &= window_mask;
        if (in_.byte_offset > loop_refill_threshold) in_.refill_input();
        if (in_.stale_refills > max_stale_refills) break;
        if (((flushed_position_ - write_position_) & window_mask) < flush_margin &&
            flushed_position_ != write_position_)
            flush_window();
        if (tables_.audio_mode)
            decode_audio_symbol();
        else
            decode_lz_symbol();
    }
    const bool filled = bytes_left_ < 0 && !in_.read_past_stored_end();

    // Format note: one more symbol is read when at least five bytes seem
    // left; fill_end is compared unsigned, so after an empty stream (-1) this
    // always holds. It changes no output.
    if (uint32_t(in_.fill_end) >= in_.byte_offset + 5) {
        if (tables_.audio_mode) {
            if (decode_symbol(in_, tables_.audio[tables_.current_channel]) == audio_table_switch_symbol)
                read_code_tables(in_, tables_);
        } else {
            if (decode_symbol(in_, tables_.main) == lz_table_switch_symbol)
                read_code_tables(in_, tables_);
        }
    }
    flush_window();
    // Given up on a used-up stream: zeros behind the bytes decoded.
    if (in_.stale_refills > max_stale_refills) std::fill(output_position_, output_end_, uint8_t(0));
    return filled;
}

void ReferenceDecoder::decode_audio_symbol() {
    const uint32_t s = decode_symbol(in_, tables_.audio[tables_.current_channel]);
    if (s == audio_table_switch_symbol) {
        read_code_tables(in_, tables_);
        return;
    }
    window_[write_position_] =
        predict_audio(channels_[tables_.current_channel], channel_delta_, uint8_t(s));
    write_position_ += 1;
    if (++tables_.current_channel == tables_.channel_count) tables_.current_channel = 0;
    bytes_left_ -= 1;
}

void ReferenceDecoder::decode_lz_symbol() {
    const uint32_t s = decode_symbol(in_, tables_.main);
    if (s < repeat_match_symbol) {
        window_[write_position_] = uint8_t(s);
        write_position_ += 1;
        bytes_left_ -= 1;
    } else if (s >= first_long_match_symbol) {
        const MatchSlot& l = length_slots[s - first_long_match_symbol];
        uint32_t length = l.base + 3 + in_.read_bits(l.extra_bits);
        const MatchSlot& d = distance_slots[decode_symbol(in_, tables_.distance)];
        const uint32_t distance = d.base + 1 + in_.read_bits(d.extra_bits);
        if (distance >= far_distance_2) length += 1;
        if (distance >= far_distance_3) length += 1;
        copy_match(length, distance);
    } else if (s == lz_table_switch_symbol) {
        read_code_tables(in_, tables_);
    } else if (s == repeat_match_symbol) {
        copy_match(last_length_, last_distance_);
    } else if (s < first_short_match_symbol) {
        const uint32_t distance = old_distances_[(ring_counter_ - (s - 256)) & 3];
        const MatchSlot& l = length_slots[decode_symbol(in_, tables_.repeat_length)];
        uint32_t length = l.base + 2 + in_.read_bits(l.extra_bits);
        if (distance >= far_distance_1) length += 1;
        if (distance >= far_distance_2) length += 1;
        if (distance >= far_distance_3) length += 1;
        copy_match(length, distance);
    } else {
        const MatchSlot& d = short_distance_slots[s - first_short_match_symbol];
        copy_match(2, d.base + 1 + in_.read_bits(d.extra_bits));
    }
}

// Format note: every match, the repeat of the last one too, pushes its
// distance into the ring of old distances; a repeat before any match pushes 0.
void ReferenceDecoder::copy_match(uint32_t length, uint32_t distance) {
    last_distance_ = distance;
    old_distances_[ring_counter_ & 3] = distance;
    ring_counter_ += 1;
    bytes_left_ -= length;
    last_length_ = length;
    for (uint32_t i = 0; i < length; ++i) {
        window_[write_position_] = window_[(write_position_ - distance) & window_mask];
        write_position_ = (write_position_ + 1) & window_mask;
    }
}

void ReferenceDecoder::flush_window() {
    if (write_position_ < flushed_position_) {
        emit_output(window_ + flushed_position_, window_size - flushed_position_);
        emit_output(window_, write_position_);
    } else {
        emit_output(window_ + flushed_position_, write_position_ - flushed_position_);
    }
    flushed_position_ = write_position_;
}

// Format note: a block that would run past the output end is refused whole,
// without a progress report; the bytes already emitted stay.
void ReferenceDecoder::emit_output(const uint8_t* bytes, uint32_t n) {
    if (n > size_t(output_end_ - output_position_)) return;
    if (n != 0) std::memcpy(output_position_, bytes, n);
    output_position_ += n;
    progress_.report_progress(n);
}

}  // namespace

int32_t unpack_stream_reference(const uint8_t* packed_begin, const uint8_t* packed_end,
                                uint8_t* output_begin, uint8_t* output_end,
                                ProgressSink& progress, uint8_t* window) {
    // Reversed ranges count as empty ones.
    if (packed_end < packed_begin) packed_end = packed_begin;
    if (output_end < output_begin) output_end = output_begin;
    std::unique_ptr<ReferenceDecoder> decoder;
    if (window != nullptr)
        decoder.reset(new (std::nothrow) ReferenceDecoder(window, output_begin, output_end, progress));
    if (decoder == nullptr) {
        // Out of memory: no image, and one that fails every check.
        std::fill(output_begin, output_end, uint8_t(0));
        return 0;
    }
    return decoder->run(packed_begin, packed_end) ? 1 : 0;
}

}  // namespace lumo
