// Processors without the vector paths the build knows of: the weight pick
// runs on the portable path alone.
#include "payload/audio_weight_pick.h"

namespace lumo {

bool weight_pick_avx2_available() { return false; }

int weight_pick_avx2(const AudioRun& run, int16_t symbol_31, int16_t shared_delta_31) {
    return weight_pick_portable(run, symbol_31, shared_delta_31);
}

}  // namespace lumo
