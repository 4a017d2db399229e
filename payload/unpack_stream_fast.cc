// The fast decoder. It reads the same bits at the same buffer positions as
// the reference decoder (same 8 KiB buffer, same refill points) and writes
// the same window, so output and progress reports agree for every input,
// valid or not. What it does differently:
//
// - the bit position is one local counter and a peek is one unaligned
//   32-bit load, which also serves the extra bits that follow a code;
// - symbols come from a lookup table indexed by the first 10 bits of the
//   peek, built beside each code table; values whose code is longer, or that
//   fall on an irregular code (capped limits, past the last code), take the
//   reference path;
// - matches that neither wrap nor overlap are copied with memmove, close
//   repeats (distance below the length) chunk by chunk; every other match
//   goes byte by byte as in the reference;
// - the extra symbol that the reference reads after the last byte is not
//   read: it changes neither the output nor the reports.

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "payload/audio_predictor.h"
#include "payload/bit_input.h"
#include "payload/code_length_block.h"
#include "payload/code_table.h"
#include "payload/match_tables.h"
#include "payload/stream_decoders.h"

namespace lumo {
namespace {

constexpr uint32_t flush_margin = 270;
constexpr uint32_t lookup_bits = 10;
// The lookup table may only be used where the buffer holds four bytes at the
// byte offset: the padding behind the buffer guarantees it.
static_assert(BitInput::padding >= 4);

// Entry: symbol in the low 16 bits, code length in the high ones; length 0
// sends the value down the reference path.
using SymbolLookup = std::array<uint32_t, 1u << lookup_bits>;

uint32_t raw_position(const CodeTable& t, uint32_t v, uint32_t length) {
    return t.first_position[length] + ((v - t.limit[length - 1]) >> (16 - length));
}

// For each 10-bit prefix: the one (symbol, length) that every 16-bit value
// with that prefix decodes to, if there is one and the length fits the
// prefix. Lengths never decrease with the value and positions never decrease
// for one length, so comparing the prefix's lowest and highest value decides.
// (Limits of codes up to 10 bits long fall on prefix boundaries unless capped
// at 0xFFFF, which no masked value reaches, so the comparison only guards.)
void build_lookup(const CodeTable& t, SymbolLookup& lookup) {
    constexpr uint32_t span = 1u << (16 - lookup_bits);
    for (uint32_t p = 0; p < lookup.size(); ++p) {
        const uint32_t lo = p * span, hi = (lo + span - 1) & 0xFFFE;
        const uint32_t length = code_length_of(t, lo);
        lookup[p] = 0;
        if (length > lookup_bits || code_length_of(t, hi) != length) continue;
        const uint32_t position = raw_position(t, lo, length);
        if (raw_position(t, hi, length) != position) continue;
        const uint32_t symbol = t.symbol_list[position < t.symbol_count ? position : 0];
        lookup[p] = symbol | length << 16;
    }
}

inline uint32_t load_be32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}

class FastDecoder {
public:
    FastDecoder(uint8_t* window, uint8_t* output_begin, uint8_t* output_end, ProgressSink& progress)
        : window_(window), output_position_(output_begin), output_end_(output_end),
          progress_(progress) {}

    void run(const uint8_t* packed_begin, const uint8_t* packed_end);

private:
    BitInput in_;
    CodeTables tables_;
    SymbolLookup main_lookup_, distance_lookup_, repeat_lookup_;
    std::array<SymbolLookup, max_audio_channels> audio_lookup_;

    uint8_t* window_;
    uint32_t write_position_ = 0;
    uint32_t flushed_position_ = 0;
    int64_t bytes_left_ = 0;
    uint8_t* output_position_;
    uint8_t* output_end_;
    ProgressSink& progress_;

    std::array<uint32_t, 4> old_distances_{};
    uint32_t ring_counter_ = 0;
    uint32_t last_distance_ = 0;
    uint32_t last_length_ = 0;

    int32_t channel_delta_ = 0;
    std::array<AudioChannel, max_audio_channels> channels_{};

    // The input position in bits; in_.byte_offset and in_.bit_offset are
    // brought up to date only around the calls that use them.
    uint32_t bit_position_ = 0;

    void store_position() {
        in_.byte_offset = bit_position_ >> 3;
        in_.bit_offset = bit_position_ & 7;
    }
    void load_position() { bit_position_ = in_.byte_offset * 8 + in_.bit_offset; }

    void read_tables() {
        store_position();
        read_code_tables(in_, tables_);
        load_position();
        if (tables_.audio_mode) {
            for (int32_t k = 0; k < tables_.channel_count; ++k)
                build_lookup(tables_.audio[k], audio_lookup_[k]);
        } else {
            build_lookup(tables_.main, main_lookup_);
            build_lookup(tables_.distance, distance_lookup_);
            build_lookup(tables_.repeat_length, repeat_lookup_);
        }
    }

    // The next 32 bits from the bit position, the first in the top bit; at
    // least 25 of them are stream bits.
    uint32_t peek32() const {
        return load_be32(in_.bytes.data() + (bit_position_ >> 3)) << (bit_position_ & 7);
    }
    uint32_t read_bits(uint32_t n) {
        const uint32_t v = n == 0 ? 0 : peek32() >> (32 - n);
        bit_position_ += n;
        return v;
    }
    uint32_t decode(const CodeTable& table, const SymbolLookup& lookup) {
        const uint32_t bits = peek32();
        const uint32_t entry = lookup[bits >> (32 - lookup_bits)];
        if (entry >> 16) {
            bit_position_ += entry >> 16;
            return entry & 0xFFFF;
        }
        const uint32_t v = (bits >> 16) & 0xFFFE;
        const uint32_t length = code_length_of(table, v);
        bit_position_ += length;
        return table.symbol_list[symbol_position(table, v, length)];
    }

    void decode_audio_symbol();
    void decode_lz_symbol();
    void copy_match(uint32_t length, uint32_t distance);
    void flush_window();
    void emit_output(const uint8_t* bytes, uint32_t n);
};

void FastDecoder::run(const uint8_t* packed_begin, const uint8_t* packed_end) {
    in_.set_source(packed_begin, packed_end);
    bytes_left_ = output_end_ - output_position_;
    in_.fill_input();
    load_position();
    read_tables();
    bytes_left_ -= 1;

    while (bytes_left_ >= 0) {
        write_position_ &= window_mask;
        if ((bit_position_ >> 3) > loop_refill_threshold) {
            store_position();
            in_.refill_input();
            load_position();
        }
        if (((flushed_position_ - write_position_) & window_mask) < flush_margin &&
            flushed_position_ != write_position_)
            flush_window();
        if (tables_.audio_mode)
            decode_audio_symbol();
        else
            decode_lz_symbol();
    }
    flush_window();
}

void FastDecoder::decode_audio_symbol() {
    const int32_t k = tables_.current_channel;
    const uint32_t s = decode(tables_.audio[k], audio_lookup_[k]);
    if (s == audio_table_switch_symbol) {
        read_tables();
        return;
    }
    window_[write_position_] = predict_audio(channels_[k], channel_delta_, uint8_t(s));
    write_position_ += 1;
    if (++tables_.current_channel == tables_.channel_count) tables_.current_channel = 0;
    bytes_left_ -= 1;
}

void FastDecoder::decode_lz_symbol() {
    const uint32_t s = decode(tables_.main, main_lookup_);
    if (s < repeat_match_symbol) {
        window_[write_position_] = uint8_t(s);
        write_position_ += 1;
        bytes_left_ -= 1;
    } else if (s >= first_long_match_symbol) {
        const MatchSlot& l = length_slots[s - first_long_match_symbol];
        uint32_t length = l.base + 3 + read_bits(l.extra_bits);
        const MatchSlot& d = distance_slots[decode(tables_.distance, distance_lookup_)];
        const uint32_t distance = d.base + 1 + read_bits(d.extra_bits);
        if (distance >= far_distance_2) length += 1;
        if (distance >= far_distance_3) length += 1;
        copy_match(length, distance);
    } else if (s == lz_table_switch_symbol) {
        read_tables();
    } else if (s == repeat_match_symbol) {
        copy_match(last_length_, last_distance_);
    } else if (s < first_short_match_symbol) {
        const uint32_t distance = old_distances_[(ring_counter_ - (s - 256)) & 3];
        const MatchSlot& l = length_slots[decode(tables_.repeat_length, repeat_lookup_)];
        uint32_t length = l.base + 2 + read_bits(l.extra_bits);
        if (distance >= far_distance_1) length += 1;
        if (distance >= far_distance_2) length += 1;
        if (distance >= far_distance_3) length += 1;
        copy_match(length, distance);
    } else {
        const MatchSlot& d = short_distance_slots[s - first_short_match_symbol];
        copy_match(2, d.base + 1 + read_bits(d.extra_bits));
    }
}

void FastDecoder::copy_match(uint32_t length, uint32_t distance) {
    last_distance_ = distance;
    old_distances_[ring_counter_ & 3] = distance;
    ring_counter_ += 1;
    bytes_left_ -= length;
    last_length_ = length;

    const uint32_t to = write_position_;
    const uint32_t from = (to - distance) & window_mask;
    if (to + length <= window_size && from + length <= window_size) {
        uint8_t* dst = window_ + to;
        const uint8_t* src = window_ + from;
        if (distance >= length) {
            // The source is read before any byte of it is overwritten (it lies
            // wholly before the destination, or after it, where the byte-wise
            // copy reads each byte before reaching it).
            std::memmove(dst, src, length);
        } else if (distance == 1) {
            std::memset(dst, *src, length);
        } else if (distance >= 8) {
            // A close repeat: each chunk of `distance` bytes reads only
            // bytes already in place.
            for (uint32_t done = 0; done < length; done += distance)
                std::memcpy(dst + done, src + done, std::min(distance, length - done));
        } else {
            for (uint32_t i = 0; i < length; ++i) dst[i] = src[i];
        }
        write_position_ = (to + length) & window_mask;
        return;
    }
    for (uint32_t i = 0; i < length; ++i) {
        window_[write_position_] = window_[(write_position_ - distance) & window_mask];
        write_position_ = (write_position_ + 1) & window_mask;
    }
}

void FastDecoder::flush_window() {
    if (write_position_ < flushed_position_) {
        emit_output(window_ + flushed_position_, window_size - flushed_position_);
        emit_output(window_, write_position_);
    } else {
        emit_output(window_ + flushed_position_, write_position_ - flushed_position_);
    }
    flushed_position_ = write_position_;
}

void FastDecoder::emit_output(const uint8_t* bytes, uint32_t n) {
    if (n > size_t(output_end_ - output_position_)) return;
    if (n != 0) std::memcpy(output_position_, bytes, n);
    output_position_ += n;
    progress_.report_progress(n);
}

}  // namespace

int32_t unpack_stream_fast(const uint8_t* packed_begin, const uint8_t* packed_end,
                           uint8_t* output_begin, uint8_t* output_end, ProgressSink& progress,
                           uint8_t* window) {
    if (window == nullptr) {
        std::fill(output_begin, output_end, uint8_t(0));
        return 1;
    }
    auto decoder = std::make_unique<FastDecoder>(window, output_begin, output_end, progress);
    decoder->run(packed_begin, packed_end);
    return 1;
}

}  // namespace lumo
