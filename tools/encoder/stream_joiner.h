// Joins the parts' bit strings into one packed stream, bit to bit (a part
// ends wherever its last symbol does), pads it to whole words, scrambles it
// and hands it on in order.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tools/encoder/image_source.h"

namespace lumo {

// The running key of the scrambling, carried from word to word.
class Scrambler {
public:
    // Scrambles whole little-endian words in place.
    void scramble_words(std::span<uint8_t> words);
    // Scrambles a tail of 1 to 3 bytes with the low bytes of the key.
    void scramble_tail(std::span<uint8_t> tail) const;

private:
    uint32_t key_ = 0x546F7669;  // the decoder's key at the start of a process
};

class StreamJoiner {
public:
    explicit StreamJoiner(StreamSink& sink) : sink_(sink) {}

    // Appends `bits` bits of `bytes`, most significant first.
    void append(std::span<const uint8_t> bytes, uint64_t bits);

    // Pads the stream with zero bits to a whole byte and zero bytes to a
    // whole word, and hands on the rest. Fewer than five bytes then follow
    // the last symbol, so the decoder's final look past the wanted output
    // finds too little to read a symbol. Returns the stream's size in bytes.
    uint64_t finish();

private:
    void flush_words();

    StreamSink& sink_;
    Scrambler scrambler_;
    std::vector<uint8_t> pending_;  // whole bytes not yet handed on
    uint8_t partial_ = 0;           // bits of the next byte, from its top
    int partial_bits_ = 0;          // how many, 0..7
    uint64_t written_ = 0;
};

}  // namespace lumo
