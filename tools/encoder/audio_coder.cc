#include "tools/encoder/audio_coder.h"

#include <algorithm>
#include <cstring>

namespace lumo {

namespace {
uint32_t load_u32(std::span<const uint8_t> d, size_t at) {
    return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 | uint32_t(d[at + 3]) << 24;
}
bool tag_at(std::span<const uint8_t> d, size_t at, const char* tag) {
    return at + 4 <= d.size() && std::memcmp(&d[at], tag, 4) == 0;
}
}  // namespace

std::vector<AudioRange> find_wav_data(std::span<const uint8_t> image) {
    std::vector<AudioRange> ranges;
    size_t at = 0;
    while (at + 12 <= image.size()) {
        if (!(tag_at(image, at, "RIFF") && tag_at(image, at + 8, "WAVE"))) {
            ++at;
            continue;
        }
        const size_t riff_end = std::min<size_t>(image.size(), at + 8 + size_t(load_u32(image, at + 4)));
        size_t chunk = at + 12;
        int block_align = 0;
        size_t next = at + 4;
        // Real files hold a handful of chunks before "data"; the bound keeps a
        // file of made-up headers from costing time quadratic in its size.
        for (int chunks = 0; chunk + 8 <= riff_end && chunks < 64; ++chunks) {
            const size_t size = load_u32(image, chunk + 4);
            const size_t body = chunk + 8;
            if (tag_at(image, chunk, "fmt ") && size >= 16 && body + 16 <= image.size()) {
                block_align = int(image[body + 12]) | int(image[body + 13]) << 8;
            } else if (tag_at(image, chunk, "data")) {
                const size_t end = std::min(image.size(), body + size);
                if (block_align >= 1 && block_align <= kMaxChannels && end > body)
                    ranges.push_back({uint32_t(body), uint32_t(end), block_align});
                next = std::max(next, end);
                break;
            }
            chunk = body + size + (size & 1);
        }
        at = next;
    }
    return ranges;
}

void code_audio(std::span<const uint8_t> data, uint32_t begin, uint32_t end, int count, AudioState& state,
                std::vector<uint8_t>& out) {
    auto channels = state.predictor.load<max_audio_channels>();
    int32_t delta = state.channel_delta;
    int k = state.current;
    const size_t first = out.size();
    out.resize(first + (end - begin));
    uint8_t* symbol = out.data() + first;
    for (uint32_t pos = begin; pos < end; ++pos) {
        *symbol++ = state.predictor.code_step(channels[size_t(k)], k, delta, data[pos]);
        if (++k == count) k = 0;
    }
    state.predictor.store<max_audio_channels>(channels);
    state.channel_delta = delta;
    state.current = k;
}

}  // namespace lumo
