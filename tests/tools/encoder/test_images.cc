#include "test_images.h"

#include <cmath>
#include <string>

namespace lumo::test {

namespace {
struct Random {
    uint64_t state;
    uint64_t next() {  // splitmix64
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return uint32_t(next() % n); }
};
}  // namespace

void append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

Bytes random_bytes(size_t n, uint64_t seed) {
    Random r{seed};
    Bytes out(n);
    for (uint8_t& b : out) b = uint8_t(r.next());
    return out;
}

Bytes word_text(size_t n, uint64_t seed) {
    static const char* const words[] = {"the ", "installer ", "writes ", "files ", "below ", "staging ",
                                        "folder ", "and ", "starts ", "setup ", "program ", "of ",
                                        "add-on ", "product ", "version ", "checks ", "a ", "with ",
                                        "\n", "Lumo ", "payload ", "packed ", "stream ", "window "};
    Random r{seed};
    Bytes out;
    while (out.size() < n) {
        const std::string w = words[r.below(sizeof words / sizeof *words)];
        out.insert(out.end(), w.begin(), w.end());
        if (r.below(9) == 0) out.push_back(uint8_t('0' + r.below(10)));
    }
    out.resize(n);
    return out;
}

Bytes symbol_mix(size_t n, uint64_t seed) {
    Random r{seed};
    const Bytes block = random_bytes(64, seed + 1);
    Bytes out;
    while (out.size() < n) {
        switch (r.below(4)) {
        case 0:  // the block again, one byte in 16 changed
            for (size_t i = 0; i < block.size(); ++i)
                out.push_back(i % 16 == 15 ? uint8_t(r.next()) : block[i]);
            break;
        case 1:  // records whose fields recur at the record stride
            for (int k = 0; k < 8; ++k) {
                const uint32_t id = r.below(1000);
                for (int b = 0; b < 4; ++b) out.push_back(uint8_t(id >> (8 * b)));
                out.insert(out.end(), {'R', 'E', 'C', ':', 0, 0, 1, 0});
            }
            break;
        case 2:  // two-byte echoes at short distances between fresh bytes
            for (int k = 0; k < 16; ++k) {
                const uint8_t a = uint8_t(r.next()), b = uint8_t(r.next());
                out.insert(out.end(), {a, b, uint8_t(r.next()), uint8_t(r.next()), a, b, uint8_t(r.next())});
            }
            break;
        default:  // fresh bytes
            for (int k = 0; k < 32; ++k) out.push_back(uint8_t(r.next()));
        }
    }
    out.resize(n);
    return out;
}

Bytes wav_file(size_t frames, int channels, uint64_t seed) {
    Random r{seed};
    const uint32_t data_size = uint32_t(frames * size_t(channels) * 2);
    Bytes out;
    auto u32 = [&](uint32_t v) { for (int b = 0; b < 4; ++b) out.push_back(uint8_t(v >> (8 * b))); };
    auto u16 = [&](uint32_t v) { for (int b = 0; b < 2; ++b) out.push_back(uint8_t(v >> (8 * b))); };
    auto tag = [&](const char* t) { for (int i = 0; i < 4; ++i) out.push_back(uint8_t(t[i])); };
    tag("RIFF"); u32(36 + data_size); tag("WAVE");
    tag("fmt "); u32(16); u16(1); u16(uint32_t(channels)); u32(44100); u32(44100u * uint32_t(channels) * 2);
    u16(uint32_t(channels) * 2); u16(16);
    tag("data"); u32(data_size);
    for (size_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) {
            const double t = double(f) / 44100.0;
            const int sample = int(9000 * std::sin(2 * M_PI * (220 + 110 * c) * t) +
                                   3000 * std::sin(2 * M_PI * 3.1 * t)) + int(r.below(64)) - 32;
            u16(uint32_t(sample) & 0xFFFF);
        }
    return out;
}

Bytes far_repeats(size_t n, uint64_t seed) {
    Random r{seed};
    const Bytes piece = random_bytes(40000, seed + 7);
    Bytes out;
    while (out.size() < n) {
        if (out.size() > (1u << 20) && r.below(2) == 0) {
            // Something from nearly a whole window back, or a third of one.
            const size_t back = r.below(2) == 0 ? (1u << 20) - 5000 : 300000;
            const size_t from = out.size() - back;
            for (size_t i = 0; i < 3000; ++i) {
                const uint8_t b = out[from + i];
                out.push_back(b);
            }
        } else if (r.below(3) == 0) {
            append(out, piece);
        } else {
            append(out, random_bytes(20000, r.next()));
        }
    }
    out.resize(n);
    return out;
}

}  // namespace lumo::test
