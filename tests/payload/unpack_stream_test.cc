#include "payload/unpack_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "payload/audio_predictor.h"
#include "payload/bit_input.h"
#include "payload/stream_decoders.h"
#include "tests/support/bit_writer.h"
#include "tests/support/recording_sink.h"

namespace lumo {
namespace {

using test::BitWriter;
using test::PrefixCode;
using test::RecordingSink;

struct Decoded {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> reports;
};

// Decodes a plain (not yet scrambled) stream into an output area of `size`
// bytes that starts out filled with 0xEE, with unpack_stream and with the
// reference decoder, which must agree.
Decoded decode(const std::vector<uint8_t>& plain, size_t size) {
    const std::vector<uint8_t> stored = test::scramble(plain);
    Decoded d;
    d.bytes.assign(size, 0xEE);
    RecordingSink sink;
    EXPECT_EQ(unpack_stream(stored.data(), stored.data() + stored.size(), d.bytes.data(),
                            d.bytes.data() + size, sink),
              1);
    d.reports = sink.reports;

    Decoded r;
    r.bytes.assign(size, 0xEE);
    RecordingSink reference_sink;
    const auto window = allocate_window();
    unpack_stream_reference(stored.data(), stored.data() + stored.size(), r.bytes.data(),
                            r.bytes.data() + size, reference_sink, window.get());
    EXPECT_TRUE(r.bytes == d.bytes) << "the reference decoder disagrees";
    EXPECT_EQ(reference_sink.reports, d.reports) << "the reference decoder disagrees";
    return d;
}

std::vector<uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

// An LZ stream written symbol by symbol. By default every main symbol has a
// 9-bit code (its value), every distance slot 6 bits and every repeat-length
// slot 5 bits.
class LzStream {
public:
    explicit LzStream(std::vector<uint8_t> main_lengths = std::vector<uint8_t>(298, 9))
        : main_(std::move(main_lengths)) {
        test::put_code_length_block(w_, false, false, 1, all_lengths());
    }

    void literal(uint8_t b) { main_.put(w_, b); }
    void literals(const std::string& s) {
        for (char c : s) literal(uint8_t(c));
    }
    // A long match: length slot and extra bits, distance slot and extra bits.
    void long_match(unsigned length_slot, uint32_t length_extra, unsigned distance_slot,
                    uint32_t distance_extra) {
        static const unsigned length_bits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                                 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
        main_.put(w_, 270 + length_slot);
        w_.put(length_extra, length_bits[length_slot]);
        distance_.put(w_, distance_slot);
        w_.put(distance_extra, distance_bits(distance_slot));
    }
    // A long match of length 3 (slot 0) at any distance from 1 to 2^20.
    void match3(uint32_t distance) {
        unsigned slot = 0;
        while (slot + 1 < 48 && distance_base(slot + 1) + 1 <= distance) ++slot;
        long_match(0, 0, slot, distance - 1 - distance_base(slot));
    }
    void repeat_last() { main_.put(w_, 256); }
    // Old distance k (1 newest .. 4 oldest) with a repeat-length slot without extra bits.
    void old_distance(unsigned k, unsigned length_slot) {
        main_.put(w_, 256 + k);
        repeat_.put(w_, length_slot);
    }
    void short_match(unsigned slot, uint32_t extra) {
        static const unsigned bits[8] = {2, 2, 3, 4, 5, 6, 6, 6};
        main_.put(w_, 261 + slot);
        w_.put(extra, bits[slot]);
    }
    void table_switch(std::vector<uint8_t> main_lengths) {
        main_.put(w_, 269);
        main_ = PrefixCode(std::move(main_lengths));
        test::put_code_length_block(w_, false, false, 1, all_lengths());
    }
    BitWriter& writer() { return w_; }
    const std::vector<uint8_t>& plain() const { return w_.bytes(); }

    static unsigned distance_bits(unsigned slot) { return slot < 4 ? 0 : slot < 34 ? (slot - 2) / 2 : 16; }
    static uint32_t distance_base(unsigned slot) {
        uint32_t base = 0;
        for (unsigned i = 0; i < slot; ++i) base += 1u << distance_bits(i);
        return base;
    }

private:
    std::vector<uint8_t> all_lengths() const {
        std::vector<uint8_t> l = main_.lengths();
        l.insert(l.end(), distance_.lengths().begin(), distance_.lengths().end());
        l.insert(l.end(), repeat_.lengths().begin(), repeat_.lengths().end());
        return l;
    }

    BitWriter w_;
    PrefixCode main_;
    PrefixCode distance_ = PrefixCode::flat(48, 6);
    PrefixCode repeat_ = PrefixCode::flat(28, 5);
};

std::string zeros(size_t n) { return std::string(n, '\0'); }

struct LzCase {
    const char* what;
    std::function<void(LzStream&)> write;
    std::string expected;
};

class LzDecoding : public testing::TestWithParam<LzCase> {};

TEST_P(LzDecoding, ProducesTheBytes) {
    LzStream s;
    GetParam().write(s);
    const std::string& expected = GetParam().expected;
    EXPECT_EQ(decode(s.plain(), expected.size()).bytes, bytes_of(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LzDecoding,
    testing::Values(
        LzCase{"literals", [](LzStream& s) { s.literals("abc"); }, "abc"},
        LzCase{"short match, extra 0: distance 1, length 2",
               [](LzStream& s) { s.literal('a'); s.short_match(0, 0); }, "aaa"},
        LzCase{"short match slot 1, extra 1: distance 6",
               [](LzStream& s) { s.literals("abcdef"); s.short_match(1, 1); }, "abcdefab"},
        LzCase{"long match: base + 3, overlapping copy",
               [](LzStream& s) { s.literal('x'); s.long_match(0, 0, 0, 0); }, "xxxx"},
        LzCase{"long match length slot 9 with extra 1: 10 + 3 + 1",
               [](LzStream& s) { s.literals("ab"); s.long_match(9, 1, 1, 0); s.literal('z'); },
               "ab" + std::string("abababababababa").substr(0, 14) + "z"},
        LzCase{"distance 8191: no extra length",
               [](LzStream& s) { s.literal('a'); s.match3(8191); s.literal('z'); }, "a" + zeros(3) + "z"},
        LzCase{"distance 8192: one extra length unit",
               [](LzStream& s) { s.literal('a'); s.match3(8192); s.literal('z'); }, "a" + zeros(4) + "z"},
        LzCase{"distance 262143: one extra",
               [](LzStream& s) { s.literal('a'); s.match3(262143); s.literal('z'); }, "a" + zeros(4) + "z"},
        LzCase{"distance 262144: two extra",
               [](LzStream& s) { s.literal('a'); s.match3(262144); s.literal('z'); }, "a" + zeros(5) + "z"},
        LzCase{"longest distance reaches the zeroed window",
               [](LzStream& s) { s.literal('a'); s.match3(1 << 20); s.literal('z'); }, "a" + zeros(5) + "z"},
        LzCase{"repeat of the last match: same length and distance",
               [](LzStream& s) { s.literals("abcd"); s.match3(4); s.repeat_last(); }, "abcdabcdab"},
        LzCase{"repeat takes the adjusted length, not adjusted again",
               [](LzStream& s) { s.literal('a'); s.match3(8192); s.repeat_last(); s.literal('z'); },
               "a" + zeros(8) + "z"},
        LzCase{"repeat before any match copies nothing",
               [](LzStream& s) { s.literals("ab"); s.repeat_last(); s.literal('c'); }, "abc"},
        LzCase{"old distance 300 gains one unit (>= 257)",
               [](LzStream& s) {
                   for (int i = 0; i < 300; ++i) s.literal(uint8_t('A' + i % 26));
                   s.match3(300);
                   s.old_distance(1, 0);  // 2 + 1
               },
               [] {
                   std::string p;
                   for (int i = 0; i < 300; ++i) p += char('A' + i % 26);
                   return p + p.substr(0, 6);
               }()},
        LzCase{"old distance 256 gains nothing",
               [](LzStream& s) {
                   for (int i = 0; i < 256; ++i) s.literal(uint8_t(i));
                   s.match3(256);
                   s.old_distance(1, 0);  // 2
                   s.literal('z');
               },
               [] {
                   std::string p;
                   for (int i = 0; i < 256; ++i) p += char(i);
                   return p + p.substr(0, 5) + "z";
               }()},
        LzCase{"the repeat pushes its distance into the ring too",
               [](LzStream& s) {
                   s.literals("0123456789");
                   s.match3(7);       // ring: 7
                   s.match3(8);       // 7 8
                   s.match3(9);       // 7 8 9
                   s.repeat_last();   // 7 8 9 9
                   s.old_distance(4, 0);  // the oldest: 7, length 2
               },
               "0123456789" "345" "567" "789" "345" "77"},
        LzCase{"old distances count back from the newest",
               [](LzStream& s) {
                   s.literals("abcdefgh");
                   s.match3(2);           // ring: 2
                   s.match3(5);           // 2 5
                   s.old_distance(2, 0);  // second newest: 2
                   s.old_distance(1, 1);  // newest: 2 again, length 3
               },
               "abcdefgh" "ghg" "ghg" "hg" "hgh"},
        LzCase{"table switch: new codes from the next symbol on",
               [](LzStream& s) {
                   s.literal('a');
                   std::vector<uint8_t> l(298, 10);
                   l['b'] = 2;
                   s.table_switch(l);
                   s.writer().put(0, 2);  // 'b' in its new 2-bit code
                   s.literal('b');
               },
               "abb"},
        LzCase{"after the stream decoding goes on over zero bytes",
               [](LzStream& s) {
                   std::vector<uint8_t> l(298, 10);
                   l['Q'] = 2;  // the all-zero code
                   s.table_switch(l);
                   s.literal('A');
               },
               "AQQQQ"}),
    [](const testing::TestParamInfo<LzCase>& info) { return "row" + std::to_string(info.index); });

TEST(UnpackStream, EmptyOutputReportsOneEmptyBlock) {
    LzStream s;
    s.literals("abc");
    const Decoded d = decode(s.plain(), 0);
    EXPECT_EQ(d.reports, std::vector<uint32_t>{0});
}

TEST(UnpackStream, EmptyStreamStillProducesTheWantedCount) {
    const Decoded d = decode({}, 10);
    EXPECT_EQ(d.bytes.size(), 10u);
    EXPECT_EQ(d.reports, std::vector<uint32_t>{10});
}

TEST(UnpackStream, SmallImageArrivesInOneBlockAtTheEnd) {
    LzStream s;
    for (int i = 0; i < 1000; ++i) s.literal(uint8_t(i));
    const Decoded d = decode(s.plain(), 1000);
    EXPECT_EQ(d.reports, std::vector<uint32_t>{1000});
}

TEST(UnpackStream, LastMatchPastTheWantedCountDropsTheFinalBlockWhole) {
    LzStream s;
    s.literal('a');
    s.match3(1);  // four bytes for an area of three
    const Decoded d = decode(s.plain(), 3);
    EXPECT_EQ(d.bytes, bytes_of("\xEE\xEE\xEE"));
    EXPECT_TRUE(d.reports.empty());
}

// Flushes come when fewer than 270 positions are left before the bytes not
// yet emitted. A last literal at the window's final position leaves the
// write position at the window size, unmasked, so the final flush is one
// block, not a wrapped pair with an empty second half.
TEST(UnpackStream, ImageOfExactlyTheWindowSize) {
    LzStream s;
    const size_t size = 1 << 20;
    for (size_t i = 0; i < size; ++i) s.literal(uint8_t(i % 251));
    const Decoded d = decode(s.plain(), size);
    EXPECT_EQ(d.reports, (std::vector<uint32_t>{1048307, 269}));
    for (size_t i = 0; i < size; i += 4099) ASSERT_EQ(d.bytes[i], uint8_t(i % 251)) << i;
}

// 256 distinct bytes, then matches at distance 256 until well past the end of
// the 1 MiB window: copies wrap the write position to 0 and read from the
// window's end, and the window is flushed in blocks before it is overwritten.
TEST(UnpackStream, MatchesWrapAroundTheWindow) {
    LzStream s;
    for (int i = 0; i < 256; ++i) s.literal(uint8_t(i * 7));
    const size_t size = 3 * 1024 * 1024 + 1024;
    for (size_t produced = 256; produced < size; produced += 256)
        s.long_match(27, 29, 15, 63);  // length 224 + 3 + 29 = 256, distance 192 + 1 + 63 = 256
    const Decoded d = decode(s.plain(), size);
    size_t total = 0;
    for (uint32_t r : d.reports) total += r;
    EXPECT_EQ(total, size);
    EXPECT_GE(d.reports.size(), 4u);
    for (size_t i = 0; i < size; ++i)
        ASSERT_EQ(d.bytes[i], uint8_t((i % 256) * 7)) << "at " << i;
}

// --- Audio mode ----------------------------------------------------------

// Audio symbols written with 9-bit codes (the symbol's value); the encoder
// runs the same predictor to find the symbol of each wanted byte.
class AudioStream {
public:
    void block(unsigned channels) {
        if (started_) code_.put(w_, audio_mode_ ? 256 : 269);
        started_ = true;
        audio_mode_ = true;
        channel_count_ = int(channels);
        if (current_ >= channel_count_) current_ = 0;
        test::put_code_length_block(w_, true, false, channels, std::vector<uint8_t>(257 * channels, 9));
    }
    void lz_block() {
        if (started_) code_.put(w_, audio_mode_ ? 256 : 269);
        started_ = true;
        audio_mode_ = false;
        test::put_code_length_block(w_, false, false, 1, std::vector<uint8_t>(374, 9));
    }
    void symbol(uint32_t s) { code_.put(w_, s); }
    void byte(uint8_t b) {
        if (!audio_mode_) {
            code_.put(w_, b);
            return;
        }
        AudioChannel& v = channels_[current_];
        const uint8_t s = uint8_t(audio_prediction(v, channel_delta_) - b);
        audio_update(v, channel_delta_, s, b);
        code_.put(w_, s);
        if (++current_ == channel_count_) current_ = 0;
    }
    const std::vector<uint8_t>& plain() const { return w_.bytes(); }

private:
    BitWriter w_;
    PrefixCode code_ = PrefixCode::flat(298, 9);  // audio tables use the first 257 codes
    bool started_ = false;
    bool audio_mode_ = false;
    int channel_count_ = 1;
    int current_ = 0;
    int32_t channel_delta_ = 0;
    std::array<AudioChannel, 4> channels_{};
};

TEST(AudioDecoding, FirstBytesAreTheChannelsLastBytesMinusTheSymbol) {
    // All weights are 0 until a channel's 32nd byte: the prediction is then
    // that channel's last byte. Three channels rotate 0, 1, 2, 0, 1, 2.
    AudioStream s;
    s.block(3);
    for (uint32_t sym : {5u, 200u, 0u, 3u, 10u, 255u}) s.symbol(sym);
    const Decoded d = decode(s.plain(), 6);
    const uint8_t b0 = uint8_t(0 - 5), b1 = uint8_t(0 - 200), b2 = 0;
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{b0, b1, b2, uint8_t(b0 - 3), uint8_t(b1 - 10),
                                             uint8_t(b2 - 255)}));
}

std::vector<uint8_t> wave(size_t n, unsigned channels) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) {
        const size_t t = i / channels, c = i % channels;
        out[i] = uint8_t(128 + int(90 * ((t * (3 + c)) % 64) / 64) - 45 + int((t * t) % 7));
    }
    return out;
}

TEST(AudioDecoding, RoundTripsThroughModeAndChannelSwitches) {
    // Predictor state, the shared channel delta and the current channel all
    // carry across switches; the channel restarts only when out of range.
    const std::vector<uint8_t> data = wave(3000, 3);
    AudioStream s;
    size_t i = 0;
    auto put = [&](size_t n) {
        for (size_t end = i + n; i < end; ++i) s.byte(data[i]);
    };
    s.block(3);
    put(101);     // ends with the next byte on channel 2
    s.lz_block();
    put(50);
    s.block(4);   // channel 2 stays
    put(700);
    s.block(2);   // channel out of range restarts at 0
    put(1000);
    s.block(1);
    put(3000 - i);
    EXPECT_EQ(decode(s.plain(), data.size()).bytes, data);
}

// Guards against a hang. The all-zero code is the repeat symbol, which
// copies nothing before any match; the stream ends in 16 KiB of zeros, so
// the stale buffer that decoding reads on past the end is all zeros too,
// and only repeats follow, forever. Decoding gives up after 2 refills that
// find the stream used up, the final flush emits what there is, and the
// rest of the output area is zeros.
TEST(UnpackStream, EndlessPassesWithoutOutputStop) {
    std::vector<uint8_t> lengths(298, 10);
    lengths[256] = 1;
    LzStream s(lengths);
    s.literals("AB");
    std::vector<uint8_t> plain = s.plain();
    plain.resize(plain.size() + 16384, 0);
    const Decoded d = decode(plain, 5);
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{'A', 'B', 0, 0, 0}));
    EXPECT_EQ(d.reports, std::vector<uint32_t>{2});
}

// Both decoders answer whether the stored stream itself filled the output:
// asked for one byte more than it holds, they read past its last byte. The
// streams end inside the first buffer, just behind the first refill point
// (so that the refill finds nothing and the end moves to the buffer's front),
// and after several refills. Literals have 9-bit codes, so the zero bits
// that pad the last byte never hold one more.
TEST(UnpackStream, DecodersTellWhetherTheStreamFilledTheOutput) {
    const auto literals_for = [](size_t stream_bytes) {
        LzStream probe;
        const size_t block_bits = probe.writer().bit_count();
        EXPECT_LT(block_bits, stream_bytes * 8);
        return (stream_bytes * 8 - block_bits) / 9;
    };
    for (size_t wanted : {size_t(400), size_t(8180), size_t(30000)}) {
        SCOPED_TRACE("a stream of about " + std::to_string(wanted) + " bytes");
        LzStream s;
        const size_t count = literals_for(wanted);
        std::string text;
        for (size_t i = 0; i < count; ++i) text += char('a' + i % 26);
        s.literals(text);
        const auto stored = test::scramble(s.plain());
        if (wanted == 8180) {
            ASSERT_GT(stored.size(), size_t(loop_refill_threshold) + 3);
        }
        for (auto decoder : {unpack_stream_reference, unpack_stream_fast}) {
            for (size_t extra : {0, 1, 1000}) {
                std::vector<uint8_t> out(count + extra);
                RecordingSink sink;
                const auto window = allocate_window();
                EXPECT_EQ(decoder(stored.data(), stored.data() + stored.size(), out.data(), out.data() + out.size(),
                                  sink, window.get()),
                          extra == 0 ? 1 : 0)
                    << extra << " bytes more than the stream holds";
            }
        }
        std::vector<uint8_t> out(count);
        RecordingSink sink;
        EXPECT_TRUE(unpack_stream_filled(stored.data(), stored.data() + stored.size(), out.data(), out.data() + count, sink));
        EXPECT_EQ(std::string(out.begin(), out.end()), text);
    }
}

// A sound stream needs at most one refill that finds it used up: its last
// bits are among the 32 bytes a refill keeps. Decoding gives up after the
// second, so streams that end at every place around the first two refills
// must still come back whole and be told to have filled their output.
TEST(UnpackStream, StreamsEndingAroundARefillDecodeWhole) {
    size_t shortest = SIZE_MAX, longest = 0;
    for (size_t base : {size_t(6960), size_t(14230)}) {
        for (size_t count = base; count < base + 160; ++count) {
            LzStream s;
            std::string text;
            for (size_t i = 0; i < count; ++i) text += char('a' + (i * 7) % 26);
            s.literals(text);
            const auto stored = test::scramble(s.plain());
            shortest = std::min(shortest, stored.size());
            longest = std::max(longest, stored.size());
            for (auto decoder : {unpack_stream_reference, unpack_stream_fast}) {
                std::vector<uint8_t> out(count);
                RecordingSink sink;
                const auto window = allocate_window();
                ASSERT_EQ(decoder(stored.data(), stored.data() + stored.size(), out.data(), out.data() + out.size(),
                                  sink, window.get()),
                          1)
                    << count << " literals, a stream of " << stored.size() << " bytes";
                ASSERT_EQ(std::string(out.begin(), out.end()), text) << stored.size() << " bytes";
            }
        }
    }
    // Around the end of the first fill and of the first refill.
    EXPECT_LT(shortest, size_t(input_buffer_size - refill_keep));
    EXPECT_GT(longest, size_t(2 * input_buffer_size - refill_keep + 8));
}

TEST(UnpackStream, WindowThatCannotBeAllocatedLeavesZeros) {
    LzStream s;
    s.literals("abc");
    const auto stored = test::scramble(s.plain());
    for (auto decoder : {unpack_stream_reference, unpack_stream_fast}) {
        std::vector<uint8_t> out(3, 0xEE);
        RecordingSink sink;
        EXPECT_EQ(decoder(stored.data(), stored.data() + stored.size(), out.data(),
                          out.data() + out.size(), sink, nullptr),
                  0);
        EXPECT_EQ(out, std::vector<uint8_t>(3, 0));
        EXPECT_TRUE(sink.reports.empty());
    }
}

TEST(UnpackStream, ReversedRangesCountAsEmpty) {
    LzStream s;
    s.literals("abc");
    const auto stored = test::scramble(s.plain());
    for (auto decoder : {unpack_stream_reference, unpack_stream_fast}) {
        const auto window = allocate_window();
        std::vector<uint8_t> out(3, 0xEE);
        RecordingSink sink;
        // Output end before its begin: nothing is written, one empty block.
        decoder(stored.data(), stored.data() + stored.size(), out.data() + 3, out.data(), sink,
                window.get());
        EXPECT_EQ(out, std::vector<uint8_t>(3, 0xEE));
        EXPECT_EQ(sink.reports, std::vector<uint32_t>{0});
        // Stream end before its begin: decoded as an empty stream (zero bits,
        // literal 0 in a fresh main table).
        RecordingSink sink2;
        const auto window2 = allocate_window();
        decoder(stored.data() + 4, stored.data(), out.data(), out.data() + 3, sink2, window2.get());
        EXPECT_EQ(out, std::vector<uint8_t>(3, 0));
        EXPECT_EQ(sink2.reports, std::vector<uint32_t>{3});
    }
}

}  // namespace
}  // namespace lumo
