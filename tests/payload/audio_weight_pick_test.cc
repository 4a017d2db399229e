#include "payload/audio_weight_pick.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace lumo {
namespace {

// The pick as written: eleven sums in 32-bit integers, the first smallest,
// over a run whose every value is in place.
int pick_by_rule(const AudioRun& r) {
    uint32_t sums[11] = {};
    for (int i = 0; i < 32; ++i) {
        const int32_t e = r.symbol[i] * 8;
        const int32_t terms[5] = {r.delta[i + 3], r.delta[i + 3] - r.delta[i + 2],
                                  r.delta[i + 2] - r.delta[i + 1], r.delta[i + 1] - r.delta[i],
                                  r.shared_delta[i]};
        sums[0] += uint32_t(std::abs(e));
        for (int t = 0; t < 5; ++t) {
            sums[1 + 2 * t] += uint32_t(std::abs(e - terms[t]));
            sums[2 + 2 * t] += uint32_t(std::abs(e + terms[t]));
        }
    }
    int best = 0;
    for (int k = 1; k < 11; ++k)
        if (sums[k] < sums[best]) best = k;
    return best;
}

struct Path {
    const char* name;
    WeightPick pick;
};

// A path sees the run without its last symbol and shared delta, which come
// as arguments.
int pick_by_path(const Path& p, const AudioRun& r) {
    AudioRun without_31 = r;
    without_31.symbol[31] = 999;
    without_31.shared_delta[31] = -999;
    return p.pick(without_31, r.symbol[31], r.shared_delta[31]);
}

std::vector<Path> paths() {
    std::vector<Path> p = {{"portable", weight_pick_portable}, {"chosen", weight_pick()}};
    if (weight_pick_avx2_available()) p.push_back({"avx2", weight_pick_avx2});
    return p;
}

// Runs as the predictor fills them: symbols and deltas are signed bytes.
AudioRun random_run(std::mt19937& rng, int spread) {
    std::uniform_int_distribution<int> value(-spread, spread - 1);
    AudioRun r;
    for (auto& s : r.symbol) s = int16_t(value(rng));
    for (auto& s : r.shared_delta) s = int16_t(value(rng));
    for (auto& d : r.delta) d = int16_t(value(rng));
    return r;
}

TEST(WeightPick, EveryPathFollowsTheRule) {
    std::mt19937 rng(7);
    // Small spreads make ties common; 128 reaches the largest terms.
    for (int spread : {1, 2, 4, 16, 128}) {
        for (int n = 0; n < 2000; ++n) {
            const AudioRun r = random_run(rng, spread);
            const int expected = pick_by_rule(r);
            for (const Path& p : paths()) ASSERT_EQ(pick_by_path(p, r), expected) << p.name << ", spread " << spread;
        }
    }
}

TEST(WeightPick, ExtremeRunsAndTiesToTheLowerIndex) {
    struct Case {
        const char* what;
        int16_t symbol, shared_delta, delta;
        int expected;
    };
    const Case cases[] = {
        // All zero: eleven equal sums, the first wins.
        {"all zero", 0, 0, 0, 0},
        // e = -1024 against d1 = -128, cd = -128: |e - d1| = |e - cd| = 896 are smallest.
        {"largest negative terms", -128, -128, -128, 1},
        // e = 1016 against d1 = 127 and cd = -128: |e + cd| = 888 beats |e - d1| = 889.
        {"largest positive symbol", 127, -128, 127, 10},
        // e = -1024 against d1 = cd = 127: |e + d1| and |e + cd| tie at 897;
        // |e - d1| = 1151 gives a sum of 36832, which still fits 16 bits.
        {"largest sums, tied", -128, 127, 127, 2},
    };
    for (const Case& c : cases) {
        AudioRun r;
        r.symbol.fill(c.symbol);
        r.shared_delta.fill(c.shared_delta);
        r.delta.fill(c.delta);
        ASSERT_EQ(pick_by_rule(r), c.expected) << c.what;
        for (const Path& p : paths()) EXPECT_EQ(pick_by_path(p, r), c.expected) << p.name << ": " << c.what;
    }
}

}  // namespace
}  // namespace lumo
