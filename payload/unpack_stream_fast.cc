// The fast decoder. It reads the same bits at the same input buffer
// positions as the reference decoder (same 8 KiB buffer, same refill points)
// and makes the same progress reports with the same bytes behind them, for
// every input, valid or not. What it does differently:
//
// - Output. The reference decodes into a 1 MiB ring and copies each block
//   out when the ring is about to wrap; here the bytes go to a flat buffer
//   that holds the window's 1 MiB of history before the block under way,
//   and a flush hands the block on where it lies (payload/image_output.h).
//   When the next block might not fit behind the last, the buffer is
//   compacted: the history moves to the front. So every match reads its
//   source in one piece, and the buffer's size does not depend on the
//   image's. Before the image's first byte the buffer holds the window's
//   starting contents, as the reference's untouched ring positions do.
// - Input. A 64-bit buffer of stream bits (payload/bit_reader.h) is
//   refilled from the input buffer without a branch, once a pass; the next
//   symbol is looked up from the bits already there, so that the lookup
//   need not wait for the refill's load.
// - Symbols. One lookup by the next 10 bits answers the symbol and, for
//   matches, the length or distance of its slot with the extra bits folded
//   in (payload/fast_lookup.h); longer codes take the reference path. A
//   literal is followed by up to three more from the bits already loaded.
//   Code-length blocks are read with a lookup too
//   (payload/fast_code_length_block.h).
// - Matches are copied in words, up to payload/match_copy.h's overrun past
//   their end where later bytes go anyway, or zeros when decoding gives up.
// - Audio bytes run in stretches, each step with its channel known at
//   compile time (payload/fast_audio_predictor.h); whole rounds of the
//   channels that can reach neither the stretch's end, nor the refill
//   point, nor a channel's weight pick run without those checks and keep
//   the channels' state in locals.
// - The extra symbol that the reference reads after the last byte is not
//   read: it changes neither the output nor the reports.
//
// The fast loops run while no pass needs more than their checks: the pass
// that starts at the stop position (the last byte of the output or a flush
// due) is made by careful_pass, with every check of the reference loop in
// its order.

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "payload/bit_input.h"
#include "payload/bit_reader.h"
#include "payload/code_length_block.h"
#include "payload/code_table.h"
#include "payload/fast_audio_predictor.h"
#include "payload/fast_code_length_block.h"
#include "payload/fast_lookup.h"
#include "payload/match_copy.h"
#include "payload/match_tables.h"
#include "payload/stream_decoders.h"

namespace lumo {
namespace {

// A flush is due once a block holds this many bytes: the reference flushes
// when fewer than flush_margin window positions are left before its
// unflushed bytes.
constexpr uint64_t flush_span = window_size - flush_margin + 1;
// No pass writes more than this many bytes.
constexpr uint64_t longest_pass = 260;
// The most a block writes from its start: its last pass starts before the
// flush is due, and word copies write a little past a match's end.
constexpr uint64_t block_reach = flush_span - 1 + longest_pass + match_overrun;
constexpr uint64_t buffer_capacity = window_size + stream_block_room + block_reach;

// The ring position a match reads from, counted back from the one it
// writes: distance 0 reads the position itself, what was written there a
// whole window before.
constexpr uint32_t ring_distance(uint32_t distance) { return ((distance - 1) & window_mask) + 1; }

// Past this offset of the next byte to load, the true byte offset may be
// past the refill point and is worked out exactly.
constexpr uint32_t input_check_offset = loop_refill_threshold - 8;

// Where an audio stretch stands: the input bits, the next byte's place and
// the delta shared by the channels.
struct AudioCursor {
    BitReader in;
    uint8_t* out;
    int32_t delta;
};

class FastDecoder {
public:
    // `buffer` holds `capacity` bytes, the first window_size of them the
    // history before the image.
    FastDecoder(uint8_t* buffer, uint64_t capacity, uint64_t size, ImageOutput& output)
        : buffer_(buffer), capacity_(capacity), size_(size), block_(buffer + window_size), output_(output) {}

    StreamedImage run(PackedFeed& feed);

private:
    BitInput in_;
    CodeTables tables_;
    MainLookup main_lookup_;
    SlotLookup<48> distance_lookup_;
    SlotLookup<28> repeat_lookup_;
    std::array<SymbolLookup, max_audio_channels> audio_lookup_;

    // Output. Positions are counted in bytes decoded from the start.
    uint8_t* const buffer_;
    const uint64_t capacity_;
    const uint64_t size_;
    // Position x lies at block_[x - block_start_]; the window_size bytes
    // before block_ hold the positions before block_start_. block_ stays
    // window_size bytes into the buffer; compacting moves block_start_ on.
    uint8_t* const block_;
    uint64_t block_start_ = 0;
    // The block_start_ before the last compaction: the buffer's bytes from
    // block_ on still held positions from there on, which may still be read.
    uint64_t earlier_start_ = 0;
    bool compacted_ = false;
    ImageOutput& output_;
    uint64_t emitted_ = 0;   // bytes of the image handed on so far
    uint64_t produced_ = 0;  // bytes decoded
    uint64_t flushed_ = 0;   // start of the current block
    uint64_t stop_ = 0;  // the fast loops leave the pass that starts here to careful_pass
    bool done_ = false;
    bool stopped_ = false;  // the output wants no more
    // At the end: the last pass wrote one byte (a literal or an audio byte)
    // and left the reference's write position unmasked.
    bool ended_on_single_byte_ = false;

    std::array<uint32_t, 4> old_distances_{};
    uint32_t ring_counter_ = 0;
    uint32_t last_distance_ = 0;
    uint32_t last_length_ = 0;

    int32_t channel_delta_ = 0;
    FastAudioPredictor audio_;

    void read_tables();
    void start_block();
    void lz_loop();
    void audio_loop();
    template <int C>
    void audio_run(uint64_t room, bool& table_switch);
    template <int C>
    int audio_groups(AudioCursor& cursor, std::array<FastAudioPredictor::Channel, C>& channels,
                     uint64_t groups);
    void careful_pass();
    void careful_lz_symbol();
    void careful_audio_symbol();
    void put_byte(uint8_t byte);
    void flush(uint32_t write_position);
    void emit(uint64_t position, uint32_t n);
};

StreamedImage FastDecoder::run(PackedFeed& feed) {
    in_.set_source(feed);
    in_.fill_input();
    read_tables();
    start_block();
    while (!done_) {
        if (produced_ < stop_) {
            if (tables_.audio_mode)
                audio_loop();
            else
                lz_loop();
        }
        if (!done_) careful_pass();
    }
    // The loops leave the input's position in in_.
    const bool filled = produced_ >= size_ && !in_.read_past_stored_end();
    // The reference's write position: masked at the start of each pass, not
    // after a one-byte pass.
    const uint32_t write_position = ended_on_single_byte_
                                        ? uint32_t((produced_ - 1) & window_mask) + 1
                                        : uint32_t(produced_ & window_mask);
    // Stopped by the output: nothing more is wanted.
    if (!stopped_) flush(write_position);
    return {filled, emitted_, in_.stale_refills > max_stale_refills};
}

void FastDecoder::read_tables() {
    read_code_tables_fast(in_, tables_);
    if (tables_.audio_mode) {
        for (int32_t k = 0; k < tables_.channel_count; ++k)
            build_symbol_lookup(tables_.audio[k], audio_lookup_[k]);
    } else {
        build_main_lookup(tables_.main, main_lookup_);
        distance_lookup_.build(tables_.distance, distance_slots, 1);
        repeat_lookup_.build(tables_.repeat_length, length_slots, 2);
    }
}

// Room for the block that starts at flushed_, and where the fast loops
// stop in it. Set done_ when the output wants no more.
void FastDecoder::start_block() {
    if (window_size + (flushed_ - block_start_) + block_reach > capacity_) {
        // The history moves to the front, and the block goes behind it.
        std::memmove(buffer_, block_ + (flushed_ - block_start_) - window_size, window_size);
        earlier_start_ = block_start_;
        block_start_ = flushed_;
        compacted_ = true;
    }
    // The block's bytes go where earlier blocks lay, once they are read.
    if (compacted_ && !output_.reuse(earlier_start_ + (flushed_ - block_start_) + block_reach)) {
        stopped_ = done_ = true;
        return;
    }
    // The pass at the last byte is made carefully, so that the end knows
    // whether it was a one-byte pass.
    stop_ = std::min(std::max<uint64_t>(size_, 1) - 1, flushed_ + flush_span);
}

// The LZ mode, until a pass needs care or a block switches to the audio mode.
void FastDecoder::lz_loop() {
    namespace me = main_entry;
    BitReader in(in_);
    const uint8_t* const input_check = in.bytes + input_check_offset;
    uint8_t* const block = block_;
    uint8_t* out = block + (produced_ - block_start_);
    uint8_t* const stop = block + (stop_ - block_start_);
    auto old_distances = old_distances_;
    uint32_t ring_counter = ring_counter_;
    uint32_t last_distance = last_distance_, last_length = last_length_;

    const auto save = [&] {
        in.store(in_);
        produced_ = block_start_ + uint64_t(out - block);
        old_distances_ = old_distances;
        ring_counter_ = ring_counter;
        last_distance_ = last_distance;
        last_length_ = last_length;
    };
    const auto match = [&](uint32_t length, uint32_t distance) {
        last_distance = distance;
        old_distances[ring_counter & 3] = distance;
        ring_counter += 1;
        last_length = length;
        out = copy_match_overrun(out, ring_distance(distance), length);
    };

    // The entry of the next main symbol is looked up from the bits already
    // there, before the pass's refill, so that the lookup need not wait for
    // the refill's load: a pass leaves at least 10 bits (a whole code of
    // the lookup's length) for it, or looks up again after its own refill.
    in.refill();
    uint32_t entry = main_lookup_[in.bits >> (64 - me::main_bits)];
    // Every pass starts with at least 56 bits: each way through the loop
    // ends with a refill.
    while (out < stop) {
        // Below the check offset, a pass and the literals that follow it
        // from the same load (at most 56 bits, all counted in below the
        // next byte to load) end before the refill point.
        const bool near_refill = in.next > input_check;
        if (near_refill) [[unlikely]] {
            if ((in.bit_position() >> 3) > loop_refill_threshold) {
                save();
                in_.refill_input();
                if (in_.stale_refills > max_stale_refills) {
                    done_ = true;
                    return;
                }
                in.load(in_);
                in.refill();
            }
        }
        if (me::kind(entry) == me::miss) [[unlikely]] {
            const LongCode c = decode_long_code(tables_.main, in.bits);
            entry = me::make(c.symbol, c.length, c.code);
        }
        if (me::is_literal(entry)) {
            in.consume(me::total(entry));
            *out++ = uint8_t(me::payload(entry));
            entry = main_lookup_[in.bits >> (64 - me::main_bits)];
            // More literals from the bits already loaded, each a pass with
            // the one check that can hold. Three of at most 10 bits after
            // one of at most 15 leave 11 for the next lookup.
            for (int more = 0; more < 3 && me::is_literal(entry) && out < stop && !near_refill; ++more) {
                in.consume(me::total(entry));
                *out++ = uint8_t(me::payload(entry));
                entry = main_lookup_[in.bits >> (64 - me::main_bits)];
            }
            in.refill();
            continue;
        }
        const StreamBits bits = in.bits;
        const uint32_t total = me::total(entry);
        in.consume(total);
        switch (me::kind(entry)) {
        case me::long_match: {
            uint32_t length = top_bits(bits, total) + uint32_t(me::payload(entry));
            const SlotValue d =
                slot_value_at(tables_.distance, distance_lookup_, distance_slots, 1, in.bits);
            in.consume(d.total);
            length += (d.value >= far_distance_2) + (d.value >= far_distance_3);
            match(length, d.value);
            break;
        }
        case me::short_match:
            match(2, top_bits(bits, total) + uint32_t(me::payload(entry)));
            break;
        case me::old_distance: {
            const uint32_t distance = old_distances[(ring_counter - uint32_t(me::payload(entry))) & 3];
            const SlotValue l =
                slot_value_at(tables_.repeat_length, repeat_lookup_, length_slots, 2, in.bits);
            in.consume(l.total);
            match(l.value + (distance >= far_distance_1) + (distance >= far_distance_2) +
                      (distance >= far_distance_3),
                  distance);
            break;
        }
        case me::repeat:
            match(last_length, last_distance);
            break;
        default:  // the table switch
            save();
            read_tables();
            if (in_.stale_refills > max_stale_refills) {
                done_ = true;
                return;
            }
            if (tables_.audio_mode) return;
            in.load(in_);
            break;
        }
        // A match leaves as few as 5 bits.
        in.refill();
        entry = main_lookup_[in.bits >> (64 - me::main_bits)];
    }
    save();
}

void FastDecoder::put_byte(uint8_t byte) {
    block_[produced_ - block_start_] = byte;
    produced_ += 1;
}

// One pass as the reference makes it, with every check in its order.
void FastDecoder::careful_pass() {
    if (produced_ >= size_) {
        // The fast loops stop before the last byte, so the pass that got
        // here wrote more than one byte.
        done_ = true;
        ended_on_single_byte_ = false;
        return;
    }
    if (in_.byte_offset > loop_refill_threshold) in_.refill_input();
    if (in_.stale_refills > max_stale_refills) {
        done_ = true;
        ended_on_single_byte_ = false;
        return;
    }
    if (produced_ - flushed_ >= flush_span) {
        flush(uint32_t(produced_ & window_mask));
        if (!stopped_) start_block();
        if (stopped_) return;
    }
    const uint64_t before = produced_;
    if (tables_.audio_mode)
        careful_audio_symbol();
    else
        careful_lz_symbol();
    if (produced_ >= size_) {
        done_ = true;
        ended_on_single_byte_ = produced_ - before == 1;
    }
}

void FastDecoder::careful_lz_symbol() {
    const auto match = [&](uint32_t length, uint32_t distance) {
        last_distance_ = distance;
        old_distances_[ring_counter_ & 3] = distance;
        ring_counter_ += 1;
        last_length_ = length;
        copy_match_overrun(block_ + (produced_ - block_start_), ring_distance(distance), length);
        produced_ += length;
    };
    const uint32_t s = decode_symbol(in_, tables_.main);
    if (s < repeat_match_symbol) {
        put_byte(uint8_t(s));
    } else if (s >= first_long_match_symbol) {
        const MatchSlot& l = length_slots[s - first_long_match_symbol];
        uint32_t length = l.base + 3 + in_.read_bits(l.extra_bits);
        const MatchSlot& d = distance_slots[decode_symbol(in_, tables_.distance)];
        const uint32_t distance = d.base + 1 + in_.read_bits(d.extra_bits);
        length += (distance >= far_distance_2) + (distance >= far_distance_3);
        match(length, distance);
    } else if (s == lz_table_switch_symbol) {
        read_tables();
    } else if (s == repeat_match_symbol) {
        match(last_length_, last_distance_);
    } else if (s < first_short_match_symbol) {
        const uint32_t distance = old_distances_[(ring_counter_ - (s - repeat_match_symbol)) & 3];
        const MatchSlot& l = length_slots[decode_symbol(in_, tables_.repeat_length)];
        const uint32_t length = l.base + 2 + in_.read_bits(l.extra_bits) + (distance >= far_distance_1) +
                                (distance >= far_distance_2) + (distance >= far_distance_3);
        match(length, distance);
    } else {
        const MatchSlot& d = short_distance_slots[s - first_short_match_symbol];
        match(2, d.base + 1 + in_.read_bits(d.extra_bits));
    }
}

void FastDecoder::careful_audio_symbol() {
    const int32_t k = tables_.current_channel;
    const uint32_t s = decode_symbol(in_, tables_.audio[k]);
    if (s == audio_table_switch_symbol) {
        read_tables();
        return;
    }
    auto channels = audio_.load<max_audio_channels>();
    put_byte(audio_.decode_step(channels[k], k, channel_delta_, uint8_t(s)));
    audio_.store<max_audio_channels>(channels);
    if (++tables_.current_channel == tables_.channel_count) tables_.current_channel = 0;
}

// The audio mode, until a pass needs care or a block switches to the LZ
// mode. Each audio pass writes one byte, so the passes up to the stop run
// as one stretch (audio_run) that checks only the refill point, and a
// stretch ends early at a table switch or when the input gives up.
void FastDecoder::audio_loop() {
    while (!done_ && produced_ < stop_) {
        bool table_switch = false;
        const uint64_t room = stop_ - produced_;
        switch (tables_.channel_count) {
        case 1: audio_run<1>(room, table_switch); break;
        case 2: audio_run<2>(room, table_switch); break;
        case 3: audio_run<3>(room, table_switch); break;
        default: audio_run<4>(room, table_switch); break;
        }
        if (done_) return;
        if (table_switch) {
            read_tables();
            if (in_.stale_refills > max_stale_refills) done_ = true;
            if (!tables_.audio_mode) return;
        }
    }
}

// Up to `room` audio passes with C channels, each after the refill check of
// its pass. Stops early at a table switch symbol (consumed, left for the
// caller to act on) or when the input gives up. The channels are visited in
// groups, in their fixed order, so that each step knows its channel and
// lookup table at compile time.
template <int C>
void FastDecoder::audio_run(uint64_t room, bool& table_switch) {
    AudioCursor c{BitReader(in_), block_ + (produced_ - block_start_), channel_delta_};
    uint8_t* const end = c.out + room;
    auto channels = audio_.load<C>();
    int32_t stopped_at = 0;  // the channel of the pass that did not run

    // A pass with the checks of the reference loop: the count, then the
    // refill point. False when it did not run or read a table switch.
    const auto checked_pass = [&](int k) {
        if (c.out == end) return stopped_at = k, false;
        if ((c.in.bit_position() >> 3) > loop_refill_threshold) {
            c.in.store(in_);
            in_.refill_input();
            if (in_.stale_refills > max_stale_refills) return done_ = true, stopped_at = k, false;
            c.in.load(in_);
        }
        c.in.refill();
        const auto [s, n] = symbol_at(tables_.audio[k], audio_lookup_[k], c.in.bits);
        c.in.consume(n);
        if (s == audio_table_switch_symbol) return table_switch = true, stopped_at = k, false;
        *c.out++ = audio_.decode_step(channels[k], k, c.delta, uint8_t(s));
        return true;
    };
    const auto group = [&]<int... K>(std::integer_sequence<int, K...>) {
        return (checked_pass(K) && ...);
    };

    int32_t k = tables_.current_channel % C;
    bool going = true;
    for (; k != 0 && going; k = k + 1 == C ? 0 : k + 1) going = checked_pass(k);
    while (going) {
        // Whole groups in which no check can hold and no channel ends its
        // run: each pass reads at most 15 bits, so the refill point is
        // this far off.
        constexpr uint32_t refill_bit = (loop_refill_threshold + 1) * 8;
        const uint32_t position = c.in.bit_position();
        const uint64_t clear = position < refill_bit ? (refill_bit - 1 - position) / max_code_length : 0;
        uint64_t groups = std::min<uint64_t>(uint64_t(end - c.out), clear) / C;
        for (int j = 0; j < C; ++j)
            groups = std::min<uint64_t>(groups, FastAudioPredictor::bytes_before_pick(channels[j]));
        // The rounds take each channel's last byte from a round back: so it
        // is, in value, once a whole round has been made (as below).
        bool last_bytes_behind = c.out - block_ >= C;
        for (int j = 0; j < C && last_bytes_behind; ++j)
            last_bytes_behind = c.out[j - C] == uint8_t(channels[j].last_byte);
        if (groups > 0 && last_bytes_behind) {
            const int stop = audio_groups<C>(c, channels, groups);
            if (stop >= 0) {
                table_switch = true;
                stopped_at = stop;
                break;
            }
        }
        going = group(std::make_integer_sequence<int, C>{});
    }
    tables_.current_channel = stopped_at;
    audio_.store<C>(channels);
    channel_delta_ = c.delta;
    c.in.store(in_);
    produced_ = block_start_ + uint64_t(c.out - block_);
}

// `groups` rounds of the C channels, none of which ends a channel's run or
// reaches a check, behind a round that holds the channels' last bytes.
// Answers the channel whose symbol was a table switch
// (consumed), or -1. Out of line and without calls, so that the stretch
// keeps its state in registers.
template <int C>
[[gnu::noinline]] int FastDecoder::audio_groups(AudioCursor& cursor,
                                                std::array<FastAudioPredictor::Channel, C>& channels,
                                                uint64_t groups) {
    BitReader in = cursor.in;
    uint8_t* out = cursor.out;
    int32_t delta = cursor.delta;
    FastAudioPredictor::Rounds<C> rounds(audio_, channels);
    int stop = -1;
    // A refill leaves bits for three symbols; the next symbol's lookup uses
    // the bits already there (at least 11), so that it need not wait for
    // the refill's load.
    const auto step = [&](int k) {
        uint32_t entry = audio_lookup_[k][in.bits >> (64 - 10)];
        if (k % 3 == 0) in.refill();
        if (entry == 0) [[unlikely]] {
            in.refill();
            const LongCode l = decode_long_code(tables_.audio[k], in.bits);
            if (l.symbol == audio_table_switch_symbol) {
                in.consume(l.length);
                stop = k;
                return false;
            }
            entry = l.length | l.symbol << 8;
        }
        in.consume(symbol_entry_length(entry));
        *out = rounds.decode(k, delta, uint8_t(symbol_entry_symbol(entry)), out[-C]);
        ++out;
        return true;
    };
    const auto group = [&]<int... K>(std::integer_sequence<int, K...>) { return (step(K) && ...); };
    for (; groups > 0; --groups) {
        if (!group(std::make_integer_sequence<int, C>{})) break;
        rounds.next_round();
    }
    // Each channel's last byte: in the round under way for the channels
    // that had theirs, else in the round before.
    const int done = stop < 0 ? 0 : stop;
    uint8_t last_bytes[C];
    for (int k = 0; k < C; ++k) last_bytes[k] = out[k - done - (k < done ? 0 : C)];
    rounds.finish(channels, done, last_bytes);
    cursor = {in, out, delta};
    return stop;
}

// The reference's flush, at its write position: the bytes since the last
// flush, in one piece or, where the ring wraps, two.
void FastDecoder::flush(uint32_t write_position) {
    const uint32_t flushed_position = uint32_t(flushed_ & window_mask);
    if (write_position < flushed_position) {
        emit(flushed_, window_size - flushed_position);
        emit(flushed_ + (window_size - flushed_position), write_position);
    } else {
        emit(flushed_, write_position - flushed_position);
    }
    flushed_ = produced_;
}

// The reference's emit of the n bytes decoded from `position` on: refused
// whole when it would run past the output's end. What is emitted becomes
// the image's next bytes, whatever was refused before.
void FastDecoder::emit(uint64_t position, uint32_t n) {
    if (stopped_ || n > size_ - emitted_) return;
    if (!output_.emit(block_ + (position - block_start_), n)) stopped_ = done_ = true;
    emitted_ += n;
}

}  // namespace

uint64_t stream_buffer_size(uint64_t image_size) {
    // A small image needs no room for more blocks than its own.
    return std::min(buffer_capacity, window_size + image_size + block_reach);
}

StreamedImage unpack_stream_fast_in(PackedFeed& feed, uint64_t image_size, ImageOutput& output, uint8_t* buffer) {
    std::unique_ptr<FastDecoder> decoder(new (std::nothrow)
                                             FastDecoder(buffer, stream_buffer_size(image_size), image_size, output));
    StreamedImage result;
    result.gave_up = true;
    if (decoder != nullptr) {
        result = decoder->run(feed);
        // The buffer goes: whoever reads the blocks must be done with them.
        output.reuse(result.emitted);
    }
    return result;
}

StreamedImage unpack_stream_fast_to(PackedFeed& feed, uint64_t image_size, ImageOutput& output,
                                    const uint8_t* history) {
    uint8_t* buffer = static_cast<uint8_t*>(std::calloc(size_t(stream_buffer_size(image_size)), 1));
    StreamedImage result;
    result.gave_up = true;
    if (buffer != nullptr) {
        if (history != nullptr) std::memcpy(buffer, history, window_size);
        result = unpack_stream_fast_in(feed, image_size, output, buffer);
    }
    std::free(buffer);
    return result;
}

}  // namespace lumo
