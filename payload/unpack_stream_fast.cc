// The fast decoder. It reads the same bits at the same buffer positions as
// the reference decoder (same 8 KiB buffer, same refill and flush points)
// and writes the same window, so output and progress reports agree for
// every input, valid or not. What it does differently:
//
// - one unaligned 64-bit load per pass serves the symbol, its extra bits and
//   a following distance code (at most 51 bits), or up to five literals, or
//   audio bytes until fewer than 15 bits are left, each still with the
//   checks of a pass of its own;
// - symbols come from a lookup table indexed by the first 10 bits, filled
//   from the code ranges next to each code table; longer codes take the
//   reference path;
// - the loop state lives in locals, written back around the rare calls that
//   need it (refill, flush, code-length block);
// - matches that do not cross the window end are copied in words of exact
//   length (memmove for long ones, periodic words for close repeats);
//   across the window end they go byte by byte as in the reference;
// - audio bytes run in stretches that end before the next flush is due, so
//   that the flush check is made once per stretch; within a stretch the
//   channels are visited in their fixed order, each step with its channel
//   known at compile time (payload/fast_audio_predictor.h), and groups of
//   passes that can reach neither the count nor the refill point run
//   without those checks;
// - the extra symbol that the reference reads after the last byte is not
//   read: it changes neither the output nor the reports.

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "payload/bit_input.h"
#include "payload/code_length_block.h"
#include "payload/code_table.h"
#include "payload/fast_audio_predictor.h"
#include "payload/match_tables.h"
#include "payload/stream_decoders.h"

namespace lumo {
namespace {

constexpr uint32_t lookup_bits = 10;
// A 64-bit load at any bit offset holds 57 stream bits: a code of up to 15
// bits and as many more codes of table length as fit behind it.
constexpr uint32_t extra_symbols_per_load = (57 - max_code_length) / lookup_bits;
// Peeks load eight bytes at the byte offset; the padding behind the buffer
// keeps that inside the input object wherever the offset stands.
static_assert(BitInput::padding >= 8);

// Entry: symbol in the low 16 bits, code length in the high ones; length 0
// sends the value down the reference path.
using SymbolLookup = std::array<uint32_t, 1u << lookup_bits>;

// For each 10-bit prefix: the one (symbol, length) that every 16-bit value
// with that prefix decodes to when that length is at most 10, else 0.
//
// Codes of length L take the values [limit[L - 1], limit[L]). Uncapped
// limits of lengths up to 10 are multiples of 2^(16 - L), so those ranges
// fall on prefix boundaries and all values of a prefix share one position.
// A limit capped at 0xFFFF stands for 0x10000: the lowest bit of a peek is
// cleared, so no value reaches 0xFFFF.
void build_lookup(const CodeTable& t, SymbolLookup& lookup) {
    constexpr uint32_t shift = 16 - lookup_bits;
    const auto bound = [&](uint32_t i) { return t.limit[i] == 0xFFFF ? 0x10000u : t.limit[i]; };
    uint32_t p = 0;
    for (uint32_t length = 1; length <= lookup_bits; ++length) {
        const uint32_t low = bound(length - 1);
        const uint32_t end = bound(length) >> shift;
        for (; p < end; ++p) {
            const uint32_t position =
                t.first_position[length] + (((p << shift) - low) >> (16 - length));
            lookup[p] = t.symbol_list[position < t.symbol_count ? position : 0] | length << 16;
        }
    }
    for (; p < lookup.size(); ++p) lookup[p] = 0;  // longer codes: the reference path
}

// The symbol whose code starts at the top of `bits`, and the code's length:
// from the lookup, or for codes longer than its 10 bits the reference way
// (the lowest of the 16 peeked bits is not looked at, so 15 valid bits do).
struct Decoded {
    uint32_t symbol, length;
};
[[gnu::always_inline]] inline Decoded decode_at(const CodeTable& table, const SymbolLookup& lookup,
                                                uint64_t bits) {
    const uint32_t entry = lookup[bits >> (64 - lookup_bits)];
    if (entry >> 16) [[likely]]
        return {entry & 0xFFFF, entry >> 16};
    const uint32_t v = uint32_t(bits >> 48) & 0xFFFE;
    const uint32_t length = code_length_of(table, v);
    return {table.symbol_list[symbol_position(table, v, length)], length};
}

inline uint64_t load_be64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

template <typename Word>
inline Word load(const uint8_t* p) {
    Word w;
    std::memcpy(&w, p, sizeof w);
    return w;
}
template <typename Word>
inline void store(uint8_t* p, Word w) {
    std::memcpy(p, &w, sizeof w);
}

// Copies n <= 32 bytes as two possibly overlapping head and tail pieces,
// every load before any store, so that it acts like memmove.
inline void move_small(uint8_t* dst, const uint8_t* src, uint32_t n) {
    if (n >= 16) {
        const uint64_t a = load<uint64_t>(src), b = load<uint64_t>(src + 8);
        const uint64_t c = load<uint64_t>(src + n - 16), d = load<uint64_t>(src + n - 8);
        store(dst, a), store(dst + 8, b), store(dst + n - 16, c), store(dst + n - 8, d);
    } else if (n >= 8) {
        const uint64_t a = load<uint64_t>(src), b = load<uint64_t>(src + n - 8);
        store(dst, a), store(dst + n - 8, b);
    } else if (n >= 4) {
        const uint32_t a = load<uint32_t>(src), b = load<uint32_t>(src + n - 4);
        store(dst, a), store(dst + n - 4, b);
    } else if (n >= 2) {
        const uint16_t a = load<uint16_t>(src), b = load<uint16_t>(src + n - 2);
        store(dst, a), store(dst + n - 2, b);
    } else if (n == 1) {
        *dst = *src;
    }
}

// The match copy into the window; answers the write position after it.
// Byte by byte, each byte read from `distance` back (so a distance below the
// length repeats the bytes just written), positions masked: that is what
// every path here produces.
inline uint32_t copy_in_window(uint8_t* window, uint32_t to, uint32_t length, uint32_t distance) {
    const uint32_t from = (to - distance) & window_mask;
    if (to + length > window_size || from + length > window_size) {
        // Across the end of the window: the plain way.
        for (uint32_t i = 0; i < length; ++i) {
            window[to] = window[(to - distance) & window_mask];
            to = (to + 1) & window_mask;
        }
        return to;
    }
    uint8_t* dst = window + to;
    const uint8_t* src = window + from;
    if (distance >= length) {
        // The source lies wholly before the destination, or after its start,
        // where the byte-wise copy reads each byte before it overwrites it:
        // both are a memmove.
        if (length <= 32)
            move_small(dst, src, length);
        else
            std::memmove(dst, src, length);
    } else if (distance >= 8) {
        // A close repeat: eight bytes at a time, each piece read from bytes
        // already in place; the tail piece rewrites some of them with the
        // same values.
        uint32_t i = 0;
        for (; i + 8 <= length; i += 8) store(dst + i, load<uint64_t>(src + i));
        if (i < length) store(dst + length - 8, load<uint64_t>(src + length - 8));
    } else if (distance == 1) {
        std::memset(dst, *src, length);
    } else {
        // A pattern of 2..7 bytes (or distance 0, which rewrites a byte with
        // itself): byte by byte for one period of at least 8 bytes, then
        // eight bytes at a time from a whole number of periods back.
        const uint32_t period = distance == 0 ? 0 : distance * ((8 + distance - 1) / distance);
        uint32_t i = 0;
        for (; i < length && (i < period || period == 0); ++i) dst[i] = src[i];
        for (; i + 8 <= length; i += 8) store(dst + i, load<uint64_t>(dst + i - period));
        for (; i < length; ++i) dst[i] = dst[i - period];
    }
    return (to + length) & window_mask;
}

class FastDecoder {
public:
    FastDecoder(uint8_t* window, uint8_t* output_begin, uint8_t* output_end, ProgressSink& progress)
        : window_(window), output_position_(output_begin), output_end_(output_end),
          progress_(progress) {}

    // True when the stored stream produced the whole output by itself.
    bool run(const uint8_t* packed_begin, const uint8_t* packed_end);

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
    FastAudioPredictor audio_;

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

    void audio_loop();
    template <int C>
    void audio_run(uint32_t room, bool& table_switch, bool& gave_up);
    void lz_loop();
    void flush_window();
    void emit_output(const uint8_t* bytes, uint32_t n);
};

bool FastDecoder::run(const uint8_t* packed_begin, const uint8_t* packed_end) {
    in_.set_source(packed_begin, packed_end);
    bytes_left_ = output_end_ - output_position_;
    in_.fill_input();
    load_position();
    read_tables();
    bytes_left_ -= 1;

    while (bytes_left_ >= 0 && in_.stale_refills <= max_stale_refills) {
        if (tables_.audio_mode)
            audio_loop();
        else
            lz_loop();
    }
    store_position();
    const bool filled = bytes_left_ < 0 && !in_.read_past_stored_end();
    flush_window();
    return filled;
}

// The audio mode, until the wanted count is reached or a block switches to
// the LZ mode. Each audio pass writes one byte, so the pass at which the
// flush check next holds is known in advance: the passes before it run as
// one stretch (audio_run) that checks only the refill point and the count,
// and a stretch ends early at a table switch or when the input gives up.
void FastDecoder::audio_loop() {
    while (bytes_left_ >= 0) {
        write_position_ &= window_mask;
        if ((bit_position_ >> 3) > loop_refill_threshold) {
            store_position();
            in_.refill_input();
            load_position();
            if (in_.stale_refills > max_stale_refills) break;
        }
        if (((flushed_position_ - write_position_) & window_mask) < flush_margin &&
            flushed_position_ != write_position_)
            flush_window();

        // The flush check first holds again this many passes on.
        const uint32_t gap = (flushed_position_ - write_position_) & window_mask;
        const uint32_t until_flush = (gap == 0 ? window_size : gap) - (flush_margin - 1);
        const uint32_t room = uint32_t(std::min<int64_t>(bytes_left_ + 1, until_flush));

        bool table_switch = false, gave_up = false;
        switch (tables_.channel_count) {
        case 1: audio_run<1>(room, table_switch, gave_up); break;
        case 2: audio_run<2>(room, table_switch, gave_up); break;
        case 3: audio_run<3>(room, table_switch, gave_up); break;
        default: audio_run<4>(room, table_switch, gave_up); break;
        }
        if (gave_up) break;
        if (table_switch) {
            read_tables();
            if (in_.stale_refills > max_stale_refills || !tables_.audio_mode) break;
        }
    }
}

// Up to `room` audio passes with C channels, each after the checks of its own
// pass (the first pass's were made by the caller). Stops early at a table
// switch symbol (consumed, left for the caller to act on) or when the input
// gives up. The channels are visited in groups, in their fixed order, so
// that each step knows its channel and lookup table at compile time.
template <int C>
void FastDecoder::audio_run(uint32_t room, bool& table_switch, bool& gave_up) {
    uint8_t* const window = window_;
    const uint8_t* const input = in_.bytes.data();
    uint32_t pos = bit_position_;
    uint32_t write = write_position_;
    uint32_t count = 0;
    int32_t delta = channel_delta_;
    auto channels = audio_.load<C>();

    // Stream bits from `pos` on, MSB first; `avail` of them are valid.
    uint64_t bits = 0;
    uint32_t avail = 0;
    int32_t stopped_at = 0;  // the channel of the pass that did not run
    // One audio pass after its checks: false when the symbol was a table
    // switch, which ends the stretch.
    const auto step = [&](int k) {
        if (avail < max_code_length) {
            bits = load_be64(input + (pos >> 3)) << (pos & 7);
            avail = 64 - (pos & 7);
        }
        const auto [s, n] = decode_at(tables_.audio[k], audio_lookup_[k], bits);
        bits <<= n;
        pos += n;
        avail -= n;
        if (s == audio_table_switch_symbol) [[unlikely]]
            return table_switch = true, stopped_at = k, false;
        window[write & window_mask] = audio_.decode_step(channels[k], k, delta, uint8_t(s));
        write += 1;
        count += 1;
        return true;
    };
    // A pass with the checks of the reference loop: the count, then the
    // refill point (the first pass's were made by the caller).
    const auto checked_pass = [&](int k) {
        if (count == room) return stopped_at = k, false;
        if (count > 0 && (pos >> 3) > loop_refill_threshold) {
            bit_position_ = pos;
            store_position();
            in_.refill_input();
            load_position();
            pos = bit_position_;
            avail = 0;
            if (in_.stale_refills > max_stale_refills) return gave_up = true, stopped_at = k, false;
        }
        return step(k);
    };
    const auto group = [&]<int... K>(std::integer_sequence<int, K...>, auto pass) {
        return (pass(K) && ...);
    };
    constexpr auto channel_order = std::make_integer_sequence<int, C>{};

    int32_t k = tables_.current_channel % C;
    bool going = true;
    for (; k != 0 && going; k = k + 1 == C ? 0 : k + 1) going = checked_pass(k);
    while (going) {
        // Whole groups of passes in which neither check can hold: each pass
        // reads at most 15 bits, so the refill point is this far off.
        constexpr uint32_t refill_bit = (loop_refill_threshold + 1) * 8;
        const uint32_t clear = pos < refill_bit ? (refill_bit - 1 - pos) / max_code_length : 0;
        const uint32_t passes = std::min(room - count, clear);
        for (uint32_t groups = passes / C; groups > 0 && going; --groups)
            going = group(channel_order, step);
        if (going) going = group(channel_order, checked_pass);
    }
    tables_.current_channel = stopped_at;
    audio_.store<C>(channels);
    channel_delta_ = delta;
    bit_position_ = pos;
    // As one pass per byte leaves it: masked before each byte, not after.
    if (count > 0) write_position_ = ((write - 1) & window_mask) + 1;
    bytes_left_ -= count;
}

// The LZ mode, until the wanted count is reached or a block switches to the
// audio mode. Each pass is one pass of the reference loop; the bit position,
// write position and byte count live in locals and go back to the members
// around the rare calls that use them (refill, flush, table switch).
void FastDecoder::lz_loop() {
    uint8_t* const window = window_;
    const uint8_t* const input = in_.bytes.data();
    uint32_t pos = bit_position_;
    uint32_t write = write_position_;
    int64_t left = bytes_left_;
    const auto save = [&] {
        bit_position_ = pos;
        write_position_ = write;
        bytes_left_ = left;
    };
    const auto restore = [&] {
        pos = bit_position_;
        write = write_position_;
        left = bytes_left_;
    };

    // Symbols and extra bits come from `bits`, the 57 or more stream bits
    // at `pos` loaded once per pass; both move on together.
    uint64_t bits = 0;
    const auto take = [&](uint32_t n) {
        const uint32_t v = uint32_t((bits >> (63 - n)) >> 1);  // 0 for n = 0
        bits <<= n;
        pos += n;
        return v;
    };
    const auto symbol = [&](const CodeTable& table, const SymbolLookup& lookup) {
        const auto [s, n] = decode_at(table, lookup, bits);
        bits <<= n;
        pos += n;
        return s;
    };
    const auto match = [&](uint32_t length, uint32_t distance) {
        last_distance_ = distance;
        old_distances_[ring_counter_ & 3] = distance;
        ring_counter_ += 1;
        left -= length;
        last_length_ = length;
        write = copy_in_window(window, write, length, distance);
    };

    while (left >= 0) {
        write &= window_mask;
        if ((pos >> 3) > loop_refill_threshold) {
            save();
            store_position();
            in_.refill_input();
            load_position();
            restore();
            if (in_.stale_refills > max_stale_refills) break;
        }
        if (((flushed_position_ - write) & window_mask) < flush_margin && flushed_position_ != write) {
            save();
            flush_window();
        }
        bits = load_be64(input + (pos >> 3)) << (pos & 7);

        const uint32_t s = symbol(tables_.main, main_lookup_);
        if (s < repeat_match_symbol) {
            window[write++] = uint8_t(s);
            left -= 1;
            // More literals from the bits already loaded, each with the
            // checks of a pass of its own; anything else goes round the loop.
            for (uint32_t more = 0; more < extra_symbols_per_load && left >= 0; ++more) {
                write &= window_mask;
                if ((pos >> 3) > loop_refill_threshold) break;
                if (((flushed_position_ - write) & window_mask) < flush_margin && flushed_position_ != write)
                    break;
                const uint32_t entry = main_lookup_[bits >> (64 - lookup_bits)];
                if ((entry >> 16) == 0 || (entry & 0xFFFF) >= repeat_match_symbol) break;
                bits <<= entry >> 16;
                pos += entry >> 16;
                window[write++] = uint8_t(entry);
                left -= 1;
            }
        } else if (s >= first_long_match_symbol) {
            const MatchSlot& l = length_slots[s - first_long_match_symbol];
            uint32_t length = l.base + 3 + take(l.extra_bits);
            const MatchSlot& d = distance_slots[symbol(tables_.distance, distance_lookup_)];
            const uint32_t distance = d.base + 1 + take(d.extra_bits);
            length += (distance >= far_distance_2) + (distance >= far_distance_3);
            match(length, distance);
        } else if (s < first_short_match_symbol) {
            if (s == repeat_match_symbol) {
                match(last_length_, last_distance_);
                continue;
            }
            const uint32_t distance = old_distances_[(ring_counter_ - (s - 256)) & 3];
            const MatchSlot& l = length_slots[symbol(tables_.repeat_length, repeat_lookup_)];
            uint32_t length = l.base + 2 + take(l.extra_bits);
            length += (distance >= far_distance_1) + (distance >= far_distance_2) +
                      (distance >= far_distance_3);
            match(length, distance);
        } else if (s != lz_table_switch_symbol) {
            const MatchSlot& d = short_distance_slots[s - first_short_match_symbol];
            match(2, d.base + 1 + take(d.extra_bits));
        } else {
            save();
            read_tables();
            restore();
            if (in_.stale_refills > max_stale_refills) break;
            if (tables_.audio_mode) return;
        }
    }
    save();
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
    // Reversed ranges count as empty ones.
    if (packed_end < packed_begin) packed_end = packed_begin;
    if (output_end < output_begin) output_end = output_begin;
    std::unique_ptr<FastDecoder> decoder;
    if (window != nullptr)
        decoder.reset(new (std::nothrow) FastDecoder(window, output_begin, output_end, progress));
    if (decoder == nullptr) {
        // Out of memory: no image, and one that fails every check.
        std::fill(output_begin, output_end, uint8_t(0));
        return 0;
    }
    return decoder->run(packed_begin, packed_end) ? 1 : 0;
}

}  // namespace lumo
