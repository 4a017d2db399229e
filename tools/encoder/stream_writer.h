// Writes the packed stream: code-length blocks, delta-coded against the
// lengths of the block before where that is shorter, and the symbols coded
// with the tables they set up.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/encoder/bit_writer.h"
#include "tools/encoder/stream_symbols.h"

namespace lumo {

struct BlockKind {
    bool audio = false;
    int channels = 1;  // audio channels, 1..4

    size_t table_size() const { return audio ? size_t(kAudioSymbols) * size_t(channels) : size_t(kLzTableSize); }
};

class StreamWriter {
public:
    // What the decoder holds as old lengths when the writer's first block
    // comes: all zero at the start of the stream; not known to a writer whose
    // bits follow those of another, whose first block then keeps none.
    enum class Start { stream, unknown_lengths };

    // A `thorough` writer searches for the cheapest form of each code-length
    // block it writes, and may give up a little of a block's optimal code for a
    // shorter code-length block (`thorough()`, for the caller choosing lengths).
    explicit StreamWriter(bool thorough = false, Start start = Start::stream)
        : thorough_(thorough), old_known_(start == Start::stream ? kLengthAreaSize : 0) {}
    bool thorough() const { return thorough_; }

    // Bits a code-length block for `lengths` (table_size() entries) takes, as
    // written (a thorough writer's estimate leaves out its search for the
    // cheapest form, and so may be a little above what it writes).
    uint64_t tables_bits(BlockKind kind, std::span<const uint8_t> lengths) const;
    // Exactly the bits write_tables() would write.
    uint64_t written_tables_bits(BlockKind kind, std::span<const uint8_t> lengths) const;

    // Writes the code-length block, in its cheaper form.
    void write_tables(BlockKind kind, std::span<const uint8_t> lengths);

    BitWriter& bits() { return bits_; }
    uint64_t kept_tables() const { return kept_tables_; }

private:
    struct LengthCode {
        uint8_t symbol;  // 0..15 delta, 16 repeat previous, 17 / 18 zero runs
        uint8_t extra;   // the run length field of 16..18
    };
    struct Encoded {
        bool keep;
        std::vector<LengthCode> codes;
        std::vector<uint8_t> code_lengths;  // of the 19 bit-length symbols
        uint64_t bits;
    };
    Encoded encode(BlockKind kind, std::span<const uint8_t> lengths, bool keep) const;
    // `thorough`: also searches for the cheapest choice of runs.
    Encoded best_encoding(BlockKind kind, std::span<const uint8_t> lengths, bool thorough) const;
    Encoded shorten(BlockKind kind, std::span<const uint8_t> lengths, Encoded e) const;

    bool thorough_;
    BitWriter bits_;
    // What the decoder adds the next block's deltas to. It starts all zero;
    // after a block only the entries that block filled are known.
    std::array<uint8_t, kLengthAreaSize> old_lengths_{};
    size_t old_known_;
    uint64_t kept_tables_ = 0;
};

}  // namespace lumo
