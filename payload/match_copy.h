// Match copies of the fast decoder within one flat buffer: the destination
// is where the next decoded byte goes, the source lies `distance` (1 or
// more) back, inside the buffer. Each copy produces what the format's
// byte-by-byte copy produces: byte i is read from `distance` back once the
// bytes before it are written, so a distance below the length repeats the
// bytes just written (distance 1 repeats one byte).
#pragma once

#include <cstdint>
#include <cstring>

namespace lumo {

namespace match_copy_detail {

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
struct Bytes16 {
    uint8_t b[16];
};

// Copies n <= 32 bytes as two possibly overlapping head and tail pieces,
// every load before any store, so that it acts like memmove.
inline void move_small(uint8_t* dst, const uint8_t* src, uint32_t n) {
    if (n >= 16) {
        const auto a = load<Bytes16>(src), b = load<Bytes16>(src + n - 16);
        store(dst, a), store(dst + n - 16, b);
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

// The pattern period, a whole number of distances of at least 8 bytes, from
// which 8-byte words can be copied for distances 2..7.
inline uint32_t pattern_period(uint32_t distance) { return distance * ((8 + distance - 1) / distance); }

}  // namespace match_copy_detail

// Writes exactly the match's bytes. Answers the end of the match.
inline uint8_t* copy_match_exact(uint8_t* dst, uint32_t distance, uint32_t length) {
    using namespace match_copy_detail;
    const uint8_t* src = dst - distance;
    if (distance >= length) {
        // The source ends before the destination starts: a plain copy.
        if (length <= 32)
            move_small(dst, src, length);
        else
            std::memcpy(dst, src, length);
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
        // A pattern of 2..7 bytes: byte by byte for one period, then eight
        // bytes at a time from a whole number of periods back.
        const uint32_t period = pattern_period(distance);
        uint32_t i = 0;
        for (; i < length && i < period; ++i) dst[i] = src[i];
        for (; i + 8 <= length; i += 8) store(dst + i, load<uint64_t>(dst + i - period));
        for (; i < length; ++i) dst[i] = dst[i - period];
    }
    return dst + length;
}

// Bytes past the match's end that copy_match_overrun may write.
inline constexpr uint32_t match_overrun = 32;

// Writes the match's bytes in whole words and up to match_overrun bytes of
// garbage behind them, for buffers where bytes decoded later go there.
// Answers the end of the match.
inline uint8_t* copy_match_overrun(uint8_t* dst, uint32_t distance, uint32_t length) {
    using namespace match_copy_detail;
    const uint8_t* src = dst - distance;
    uint8_t* const end = dst + length;
    if (distance >= 16) {
        // Each 16-byte piece reads bytes that are in place before it.
        store(dst, load<Bytes16>(src));
        store(dst + 16, load<Bytes16>(src + 16));
        if (length > 32) {
            dst += 32, src += 32;
            do {
                store(dst, load<Bytes16>(src));
                dst += 16, src += 16;
            } while (dst < end);
        }
    } else if (distance >= 8) {
        for (int i = 0; i < 4; ++i) store(dst + 8 * i, load<uint64_t>(src + 8 * i));
        if (length > 32) {
            dst += 32, src += 32;
            do {
                store(dst, load<uint64_t>(src));
                dst += 8, src += 8;
            } while (dst < end);
        }
    } else if (distance == 1 || distance == 2 || distance == 4) {
        // Periods that divide a word: the word of the pattern, repeated.
        const uint64_t v = distance == 1   ? 0x0101010101010101ull * *src
                           : distance == 2 ? 0x0001000100010001ull * load<uint16_t>(src)
                                           : 0x0000000100000001ull * load<uint32_t>(src);
        for (int i = 0; i < 4; ++i) store(dst + 8 * i, v);
        for (uint8_t* p = dst + 32; p < end; p += 8) store(p, v);
    } else {
        const uint32_t period = pattern_period(distance);
        for (uint32_t i = 0; i < period; ++i) dst[i] = src[i];
        for (uint32_t i = period; i < length; i += 8) store(dst + i, load<uint64_t>(dst + i - period));
    }
    return end;
}

}  // namespace lumo
