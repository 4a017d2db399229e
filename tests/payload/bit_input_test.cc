#include "payload/bit_input.h"

#include <gtest/gtest.h>

#include <vector>

#include "payload/code_length_block.h"
#include "payload/code_table.h"
#include "tests/support/bit_writer.h"

namespace lumo {
namespace {

using test::BitWriter;
using test::scramble;

TEST(ReadPacked, KeyRunsOnTheStoredWords) {
    // Stored words 0 and 0x6B2D: the first is XORed with the initial key, the
    // second with 0 + 0x6B2D, the two tail bytes with the low bytes of
    // 0x6B2D + 0x6B2D = 0xD65A.
    const std::vector<uint8_t> stored = {0, 0, 0, 0, 0x2D, 0x6B, 0, 0, 0x5A, 0xD6};
    BitInput in;
    in.set_source(stored.data(), stored.data() + stored.size());
    uint8_t out[12] = {};
    ASSERT_EQ(in.read_packed(out, 12), 10);
    const uint8_t expected[10] = {0x69, 0x76, 0x6F, 0x54, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(out, out + 10), std::vector<uint8_t>(expected, expected + 10));
    EXPECT_EQ(in.read_packed(out, 4), -1);
}

TEST(ReadPacked, SameStoredWordGivesTheSameNextKey) {
    // Two streams that differ in the first word but share the second: their
    // third words descramble alike.
    std::vector<uint8_t> a = {1, 2, 3, 4, 9, 9, 9, 9, 0x10, 0x20, 0x30, 0x40};
    std::vector<uint8_t> b = {7, 7, 7, 7, 9, 9, 9, 9, 0x10, 0x20, 0x30, 0x40};
    uint8_t pa[12], pb[12];
    BitInput ia, ib;
    ia.set_source(a.data(), a.data() + a.size());
    ib.set_source(b.data(), b.data() + b.size());
    ASSERT_EQ(ia.read_packed(pa, 12), 12);
    ASSERT_EQ(ib.read_packed(pb, 12), 12);
    EXPECT_NE(std::vector<uint8_t>(pa + 4, pa + 8), std::vector<uint8_t>(pb + 4, pb + 8));
    EXPECT_EQ(std::vector<uint8_t>(pa + 8, pa + 12), std::vector<uint8_t>(pb + 8, pb + 12));
}

TEST(ReadPacked, RoundTripsEveryTailLength) {
    for (size_t size : {1, 2, 3, 4, 5, 6, 7, 8, 13}) {
        std::vector<uint8_t> plain(size);
        for (size_t i = 0; i < size; ++i) plain[i] = uint8_t(0xA0 + 7 * i);
        const auto stored = scramble(plain);
        BitInput in;
        in.set_source(stored.data(), stored.data() + stored.size());
        std::vector<uint8_t> out(16, 0xEE);
        ASSERT_EQ(in.read_packed(out.data(), 16), int32_t(size));
        out.resize(size);
        EXPECT_EQ(out, plain) << size;
        EXPECT_EQ(in.read_position, stored.data() + size);
    }
}

// A stream that the first fill reads whole: the first refill finds nothing
// more, yet moves the last 32 bytes to the front and the offset back.
TEST(BitInputFill, RefillAfterTheEndKeepsTheStaleBytes) {
    std::vector<uint8_t> plain(8192);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 31 + (i >> 8));
    const auto stored = scramble(plain);
    BitInput in;
    in.set_source(stored.data(), stored.data() + stored.size());
    in.fill_input();
    ASSERT_EQ(in.fill_end, 8192);
    in.byte_offset = 8170;
    in.bit_offset = 5;
    in.refill_input();
    EXPECT_EQ(in.byte_offset, 10u);
    EXPECT_EQ(in.bit_offset, 5u);
    EXPECT_EQ(in.fill_end, 10);
    for (size_t i = 0; i < 32; ++i) ASSERT_EQ(in.bytes[i], plain[8160 + i]) << i;
    for (size_t i = 32; i < 8192; ++i) ASSERT_EQ(in.bytes[i], plain[i]) << i;
}

TEST(BitInputFill, EmptyStreamLeavesFillEndMinusOne) {
    BitInput in;
    const uint8_t none[1] = {};
    in.set_source(none, none);
    in.fill_input();
    EXPECT_EQ(in.fill_end, -1);
    EXPECT_EQ(in.peek_bits(), 0u);
}

TEST(BitInputFill, RefillReadsTheNextPartBehindTheKeptBytes) {
    std::vector<uint8_t> plain(8192 + 100);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i ^ (i >> 7));
    const auto stored = scramble(plain);
    BitInput in;
    in.set_source(stored.data(), stored.data() + stored.size());
    in.fill_input();
    in.byte_offset = 8163;
    in.refill_input();
    EXPECT_EQ(in.byte_offset, 3u);
    EXPECT_EQ(in.fill_end, 132);
    for (size_t i = 0; i < 132; ++i) ASSERT_EQ(in.bytes[i], plain[8160 + i]) << i;
}

TEST(BitInputFields, PeekIsMostSignificantBitFirstAndSkipMovesOn) {
    BitInput in;
    in.bytes[0] = 0b1011'0011;
    in.bytes[1] = 0b0101'1100;
    in.bytes[2] = 0b1110'0001;
    EXPECT_EQ(in.peek_bits(), 0b1011'0011'0101'1100u);
    in.skip_bits(3);
    EXPECT_EQ(in.peek_bits(), 0b1'0011'0101'1100'111u);
    EXPECT_EQ(in.read_bits(7), 0b1001101u);
    EXPECT_EQ(in.byte_offset, 1u);
    EXPECT_EQ(in.bit_offset, 2u);
    EXPECT_EQ(in.read_bits(0), 0u);
    in.skip_bits(16);
    EXPECT_EQ(in.byte_offset, 3u);
    EXPECT_EQ(in.bit_offset, 2u);
}

// decode_symbol on one table, fed one 16-bit value.
struct SymbolCase {
    const char* what;
    std::vector<uint8_t> lengths;
    uint32_t peeked;
    uint32_t symbol;
    uint32_t consumed;  // bits
};

class DecodeSymbol : public testing::TestWithParam<SymbolCase> {};

TEST_P(DecodeSymbol, ReadsTheCodeAtThePeekedValue) {
    const SymbolCase& c = GetParam();
    CodeTable table;
    // What earlier tables left in the list: positions that this build does
    // not fill keep it.
    for (size_t i = 0; i < table.symbol_list.size(); ++i) table.symbol_list[i] = uint16_t(200 + i);
    build_code_table(c.lengths.data(), uint32_t(c.lengths.size()), table);

    BitInput in;
    in.bytes[0] = uint8_t(c.peeked >> 8);
    in.bytes[1] = uint8_t(c.peeked);
    EXPECT_EQ(decode_symbol(in, table), c.symbol);
    EXPECT_EQ(in.byte_offset * 8 + in.bit_offset, c.consumed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeSymbol,
    testing::Values(
        SymbolCase{"canonical order: by length, then by value", {2, 1, 3, 3}, 0xE000, 3, 3},
        SymbolCase{"shortest code is all zeros", {2, 1, 3, 3}, 0x0000, 1, 1},
        SymbolCase{"second code of length 3", {2, 1, 3, 3}, 0xC000, 2, 3},
        SymbolCase{"one symbol of length 1: any value below 0x8000", {0, 1, 0}, 0x7FFF, 1, 1},
        SymbolCase{"one symbol of length 1: past its code reads an unfilled position",
                   {0, 1, 0}, 0x8000, 201, 15},
        SymbolCase{"no codes at all: 15 bits, position 0", {0, 0, 0, 0}, 0x1234, 200, 15},
        SymbolCase{"lowest peeked bit is ignored against a capped limit", {1, 1, 1}, 0xFFFF, 1, 1},
        SymbolCase{"position past the symbol count reads position 0", {2, 2, 2}, 0xC000, 0, 15},
        SymbolCase{"lengths count modulo 16", {17, 1}, 0x8000, 1, 1},
        SymbolCase{"15-bit codes", {1, 15, 15}, 0x8002, 2, 15},
        SymbolCase{"past the last 15-bit code", {1, 15, 15}, 0xFFFE, 0, 15}),
    [](const testing::TestParamInfo<SymbolCase>& info) { return "row" + std::to_string(info.index); });

TEST(BuildCodeTable, LimitsAreCumulativeAndCapped) {
    CodeTable t;
    const uint8_t lengths[5] = {1, 2, 3, 3, 0};
    build_code_table(lengths, 5, t);
    EXPECT_EQ(t.limit[0], 0u);
    EXPECT_EQ(t.limit[1], 0x8000u);
    EXPECT_EQ(t.limit[2], 0xC000u);
    EXPECT_EQ(t.limit[3], 0xFFFFu);  // 0x10000, capped
    EXPECT_EQ(t.limit[15], 0xFFFFu);
    EXPECT_EQ(t.first_position[3], 2u);
    EXPECT_EQ(t.symbol_count, 5u);
}

// --- Code-length blocks -------------------------------------------------

struct BlockInput {
    std::vector<uint8_t> stored;
    BitInput in;
    explicit BlockInput(const BitWriter& w) : stored(scramble(w.bytes())) {
        in.set_source(stored.data(), stored.data() + stored.size());
        in.fill_input();
    }
};

std::vector<uint8_t> lz_lengths(uint8_t first) {
    std::vector<uint8_t> l(lz_table_size, 9);
    l[0] = first;
    return l;
}

TEST(ReadCodeTables, DeltasAddToTheOldLengthsModulo16) {
    BitWriter w;
    test::put_code_length_block(w, false, false, 1, lz_lengths(3));
    // keep old lengths; entry 0 gets delta 15 on 3: (15 + 3) & 15 = 2.
    w.put(0, 1);   // LZ mode
    w.put(1, 1);   // keep old lengths
    for (int c = 0; c < 19; ++c) w.put(5, 4);
    w.put(15, 5);  // entry 0: delta 15
    for (uint32_t i = 1; i < lz_table_size; ++i) w.put(0, 5);  // unchanged
    BlockInput b(w);
    CodeTables t;
    read_code_tables(b.in, t);
    EXPECT_EQ(t.old_lengths[0], 3);
    read_code_tables(b.in, t);
    EXPECT_EQ(t.old_lengths[0], 2);
    EXPECT_EQ(t.old_lengths[1], 9);
    EXPECT_EQ(t.old_lengths[373], 9);
    EXPECT_EQ(t.old_lengths[374], 0);  // beyond the table size: the area starts from zeros
}

TEST(ReadCodeTables, KeepBitZeroStartsFromZero) {
    BitWriter w;
    test::put_code_length_block(w, false, false, 1, lz_lengths(3));
    test::put_code_length_block(w, false, false, 1, lz_lengths(4));  // deltas written against zeros
    BlockInput b(w);
    CodeTables t;
    read_code_tables(b.in, t);
    read_code_tables(b.in, t);
    EXPECT_EQ(t.old_lengths[0], 4);  // not 3 + 4
    EXPECT_EQ(t.old_lengths[200], 9);
}

TEST(ReadCodeTables, RunEndsTheBlockAtTheTableSize) {
    BitWriter w;
    w.put(0, 1);  // LZ mode
    w.put(0, 1);  // old lengths from zero
    for (int c = 0; c < 19; ++c) w.put(5, 4);
    for (uint32_t i = 0; i < 370; ++i) w.put(9, 5);  // entries 0..369: length 9
    w.put(18, 5);  // zeros: 11 + 127 = 138 of them, but only 4 fit
    w.put(127, 7);
    w.put(0x1A5, 9);  // the first bits after the block
    BlockInput b(w);
    CodeTables t;
    read_code_tables(b.in, t);
    EXPECT_EQ(b.in.read_bits(9), 0x1A5u);
    EXPECT_EQ(t.old_lengths[369], 9);
    EXPECT_EQ(t.old_lengths[370], 0);
}

TEST(ReadCodeTables, RepeatAtTheFirstPositionRepeatsZero) {
    BitWriter w;
    w.put(0, 1);
    w.put(0, 1);
    for (int c = 0; c < 19; ++c) w.put(5, 4);
    w.put(16, 5);  // repeat the previous length...
    w.put(3, 2);   // ...6 times, with no previous length
    w.put(7, 5);   // entry 6
    w.put(16, 5);  // repeat 7 three times
    w.put(0, 2);
    for (uint32_t i = 10; i < lz_table_size; ++i) w.put(1, 5);
    BlockInput b(w);
    CodeTables t;
    read_code_tables(b.in, t);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(t.old_lengths[i], 0) << i;
    for (int i = 6; i < 10; ++i) EXPECT_EQ(t.old_lengths[i], 7) << i;
    EXPECT_EQ(t.old_lengths[10], 1);
}

struct ChannelCase {
    int32_t current_before;
    unsigned channels;
    int32_t current_after;
};

TEST(ReadCodeTables, CurrentChannelResetsOnlyWhenOutOfTheNewCount) {
    const ChannelCase cases[] = {{3, 2, 0}, {1, 2, 1}, {2, 2, 0}, {3, 4, 3}, {0, 1, 0}};
    for (const auto& c : cases) {
        BitWriter w;
        test::put_code_length_block(w, true, false, c.channels,
                                    std::vector<uint8_t>(257 * c.channels, 9));
        BlockInput b(w);
        CodeTables t;
        t.current_channel = c.current_before;
        read_code_tables(b.in, t);
        EXPECT_TRUE(t.audio_mode);
        EXPECT_EQ(t.channel_count, int32_t(c.channels));
        EXPECT_EQ(t.current_channel, c.current_after) << c.current_before << " " << c.channels;
    }
}

}  // namespace
}  // namespace lumo
