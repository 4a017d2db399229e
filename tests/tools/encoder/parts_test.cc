// The encoder's building blocks, each against the rule the decoder follows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "tools/encoder/wav_finder.h"
#include "tools/encoder/code_lengths.h"
#include "test_images.h"
#include "tools/encoder/encoder.h"
#include "tools/encoder/match_finder.h"
#include "tools/encoder/stream_symbols.h"

namespace lumo {
namespace {

// The decoder's descrambling, written out word by word.
std::vector<uint8_t> descramble(std::vector<uint8_t> s) {
    uint32_t key = 0x546F7669;
    size_t i = 0;
    for (; i + 4 <= s.size(); i += 4) {
        const uint32_t stored = uint32_t(s[i]) | uint32_t(s[i + 1]) << 8 | uint32_t(s[i + 2]) << 16 |
                                uint32_t(s[i + 3]) << 24;
        const uint32_t plain = stored ^ key;
        key = stored + 0x6B2D;
        for (int b = 0; b < 4; ++b) s[i + size_t(b)] = uint8_t(plain >> (8 * b));
    }
    for (int b = 0; i < s.size(); ++i, ++b) s[i] ^= uint8_t(key >> (8 * b));
    return s;
}

TEST(ScrambleStream, FirstWordTakesTheInitialKeyAndTheNextTheStoredWordPlusStep) {
    std::vector<uint8_t> s(8, 0);
    scramble_stream(s);
    // Zero words come out as the keys themselves: 0x546F7669, then 0x546F7669 + 0x6B2D.
    EXPECT_EQ(s, (std::vector<uint8_t>{0x69, 0x76, 0x6F, 0x54, 0x96, 0xE1, 0x6F, 0x54}));
}

TEST(ScrambleStream, EveryTailLengthComesBackThroughTheDecodersRule) {
    for (size_t n : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 33u}) {
        std::vector<uint8_t> plain(n);
        std::iota(plain.begin(), plain.end(), uint8_t(0x30));
        std::vector<uint8_t> s = plain;
        scramble_stream(s);
        EXPECT_EQ(descramble(s), plain) << n << " bytes";
    }
}

double kraft_sum(const std::vector<uint8_t>& lengths) {
    double sum = 0;
    for (uint8_t l : lengths)
        if (l) sum += std::ldexp(1.0, -l);
    return sum;
}

TEST(LimitedCodeLengths, SkewedFrequenciesStayWithin15BitsAndFormACompleteCode) {
    // Fibonacci counts would give a Huffman code 39 bits deep.
    std::vector<uint64_t> freq{1, 1};
    while (freq.size() < 40) freq.push_back(freq[freq.size() - 1] + freq[freq.size() - 2]);
    freq.push_back(0);
    const std::vector<uint8_t> lengths = limited_code_lengths(freq);
    EXPECT_EQ(*std::max_element(lengths.begin(), lengths.end()), 15);
    EXPECT_EQ(lengths.back(), 0);  // unused symbol, no code
    EXPECT_DOUBLE_EQ(kraft_sum(lengths), 1.0);
}

TEST(LimitedCodeLengths, MatchHuffmanWhereTheLimitDoesNotBind) {
    const std::vector<uint64_t> freq{45, 13, 12, 16, 9, 5};
    const std::vector<uint8_t> lengths = limited_code_lengths(freq);
    EXPECT_EQ(coded_bits(freq, lengths), 224u);  // the Huffman cost of these counts
    EXPECT_DOUBLE_EQ(kraft_sum(lengths), 1.0);
}

TEST(LimitedCodeLengths, OneUsedSymbolGetsOneBit) {
    const std::vector<uint64_t> freq{0, 0, 7, 0};
    EXPECT_EQ(limited_code_lengths(freq), (std::vector<uint8_t>{0, 0, 1, 0}));
    EXPECT_EQ(limited_code_lengths(std::vector<uint64_t>(5, 0)), std::vector<uint8_t>(5, 0));
}

TEST(CanonicalCodes, ShorterCodesFirstThenSymbolOrder) {
    const std::vector<uint8_t> lengths{3, 3, 3, 3, 3, 2, 4, 4, 0};
    EXPECT_EQ(canonical_codes(lengths),
              (std::vector<uint16_t>{0b010, 0b011, 0b100, 0b101, 0b110, 0b00, 0b1110, 0b1111, 0}));
}

TEST(StreamSymbols, SlotsCoverTheirValuesExactly) {
    for (uint32_t v = 0; v < kWindowSize; v += (v < 70000 ? 1 : 997)) {
        const int s = distance_slot(v);
        ASSERT_LE(kDistanceSlots.base[size_t(s)], v);
        ASSERT_LT(v - kDistanceSlots.base[size_t(s)], 1u << kDistanceSlots.extra_bits[size_t(s)]) << v;
    }
    EXPECT_EQ(distance_slot(kWindowSize - 1), 47);
    for (uint32_t v = 0; v < 256; ++v) {
        const int l = length_slot(v), s = short_slot(v);
        ASSERT_LT(v - kLengthSlots.base[size_t(l)], 1u << kLengthSlots.extra_bits[size_t(l)]) << v;
        ASSERT_LT(v - kShortSlots.base[size_t(s)], 1u << kShortSlots.extra_bits[size_t(s)]) << v;
    }
}

// A RIFF/WAVE header followed by `data_size` bytes announced and `present`
// bytes really there.
test::Bytes wav_header(uint16_t block_align, uint32_t data_size, size_t present) {
    test::Bytes w;
    auto u32 = [&](uint32_t v) { for (int b = 0; b < 4; ++b) w.push_back(uint8_t(v >> (8 * b))); };
    auto u16 = [&](uint32_t v) { for (int b = 0; b < 2; ++b) w.push_back(uint8_t(v >> (8 * b))); };
    auto tag = [&](const char* t) { for (int i = 0; i < 4; ++i) w.push_back(uint8_t(t[i])); };
    tag("RIFF"); u32(36 + data_size); tag("WAVE");
    tag("LIST"); u32(3); w.insert(w.end(), {'a', 'b', 'c', 0});  // odd chunk, padded
    tag("fmt "); u32(16); u16(1); u16(1); u32(8000); u32(8000u * block_align); u16(block_align); u16(8u * block_align);
    tag("data"); u32(data_size);
    w.resize(w.size() + present, 0x55);
    return w;
}

TEST(FindWavData, SampleBytesAndChannelsFromTheHeaders) {
    const test::Bytes mono16 = wav_header(2, 1000, 1000);
    const size_t mono16_data = mono16.size() - 1000;
    struct Row {
        const char* what;
        test::Bytes image;
        std::vector<AudioRange> expected;
    };
    test::Bytes two = test::random_bytes(100, 1);
    test::append(two, mono16);
    test::append(two, wav_header(4, 400, 400));
    const std::vector<Row> rows = {
        {"16-bit mono: two byte channels", mono16, {{uint32_t(mono16_data), uint32_t(mono16.size()), 2}}},
        {"data cut short by the image end", wav_header(1, 5000, 300),
         {{uint32_t(wav_header(1, 0, 0).size()), uint32_t(wav_header(1, 0, 0).size() + 300), 1}}},
        {"block alignment 6 has no channel count of the format", wav_header(6, 600, 600), {}},
        {"header without its data chunk", test::Bytes(mono16.begin(), mono16.begin() + 40), {}},
        {"two files after other bytes", two,
         {{uint32_t(100 + mono16_data), uint32_t(100 + mono16.size()), 2},
          {uint32_t(two.size() - 400), uint32_t(two.size()), 4}}},
    };
    for (const Row& row : rows) {
        const std::vector<AudioRange> found = find_wav_data(row.image);
        ASSERT_EQ(found.size(), row.expected.size()) << row.what;
        for (size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].begin, row.expected[i].begin) << row.what;
            EXPECT_EQ(found[i].end, row.expected[i].end) << row.what;
            EXPECT_EQ(found[i].channels, row.expected[i].channels) << row.what;
        }
    }
}

// Guards against trees ordered by comparisons cut at the end of a stretch:
// the cut made later walks trust prefixes the bytes do not share.
TEST(MatchFinder, EveryMatchIsRealAndLongerThanTheOneBefore) {
    test::Bytes data = test::word_text(400000, 41);
    test::append(data, test::symbol_mix(200000, 42));
    for (MatchFinder::Search search : {MatchFinder::Search::chains, MatchFinder::Search::trees}) {
        MatchFinder finder(data, search, 48, 128);
        Match found[8];
        size_t checked = 0;
        for (uint32_t pos = 0; pos < data.size(); ++pos) {
            // Stretches end every 1000 bytes, so the room left varies as in a parse.
            const uint32_t room = std::min<uint32_t>(kMaxMatchLength, 1000 - pos % 1000);
            const size_t n = finder.find(pos, room, found, 8);
            for (size_t i = 0; i < n; ++i) {
                const Match m = found[i];
                ASSERT_LE(m.length, room);
                ASSERT_GE(m.length, min_long_length(m.distance));
                ASSERT_TRUE(m.distance >= 1 && m.distance <= pos && m.distance <= kWindowSize);
                ASSERT_TRUE(std::equal(&data[pos], &data[pos] + m.length, &data[pos - m.distance])) << pos;
                if (i > 0) {
                    ASSERT_GT(m.length, found[i - 1].length);
                }
                ++checked;
            }
        }
        EXPECT_GT(checked, data.size() / 4);
    }
}

}  // namespace
}  // namespace lumo
