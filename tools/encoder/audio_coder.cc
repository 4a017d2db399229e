#include "tools/encoder/audio_coder.h"

namespace lumo {

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
