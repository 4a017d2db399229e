#include "tools/encoder/encoder.h"
#include "tools/encoder/stream_joiner.h"

namespace lumo {

void scramble_stream(std::span<uint8_t> stream) {
    Scrambler scrambler;
    const size_t words = stream.size() - stream.size() % 4;
    scrambler.scramble_words(stream.first(words));
    scrambler.scramble_tail(stream.subspan(words));
}

}  // namespace lumo
