// Noise (both types) and mosaic on a 4000 x 3000 image, 24 bits and 8-bit
// grey. items/s counts pixels.
//
// Noise draws one number per sample (uniform) or per pixel plus one per
// disturbed sample (random); the generator is one sequential chain, so
// these figures are bound by it. The mosaic cost hardly depends on the
// pixel values, a little on the block size.
#include "core/random.h"
#include "imaging/mosaic.h"
#include "imaging/noise.h"

#include "bench/noise_image.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

KHANDLE TrueColor() {
    static KOwnedHandle h(NoiseDIB(kWidth, kHeight, 24));
    return h.get();
}

KHANDLE Grey() {
    static KOwnedHandle h(NoiseDIB(kWidth, kHeight, 8, true));
    return h.get();
}

template <class F> void Run(benchmark::State& state, KHANDLE src, F op) {
    KervSrand(1);
    for (auto _ : state) {
        KHANDLE out = nullptr;
        if (op(src, &out) != 0) {
            state.SkipWithError("the operation failed");
            break;
        }
        KML_GlobalFree(out);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

// range(0): type (0 random, 1 uniform), range(1): amount.
void BM_Noise24(benchmark::State& state) {
    const auto type = uint16_t(state.range(0));
    const auto amount = int32_t(state.range(1));
    Run(state, TrueColor(),
        [&](KHANDLE s, KHANDLE* o) { return AddNoiseDIB(nullptr, s, o, type, amount); });
}
BENCHMARK(BM_Noise24)
    ->ArgNames({"type", "amount"})
    ->Args({0, 50})
    ->Args({0, 100})
    ->Args({1, 50})
    ->Unit(benchmark::kMillisecond);

void BM_NoiseGrey(benchmark::State& state) {
    const auto type = uint16_t(state.range(0));
    const auto amount = int32_t(state.range(1));
    Run(state, Grey(),
        [&](KHANDLE s, KHANDLE* o) { return AddNoiseDIB(nullptr, s, o, type, amount); });
}
BENCHMARK(BM_NoiseGrey)
    ->ArgNames({"type", "amount"})
    ->Args({0, 50})
    ->Args({1, 50})
    ->Unit(benchmark::kMillisecond);

// range(0) x range(1): the block size.
void BM_Mosaic24(benchmark::State& state) {
    const auto bw = int16_t(state.range(0)), bh = int16_t(state.range(1));
    Run(state, TrueColor(),
        [&](KHANDLE s, KHANDLE* o) { return MosaicDIB(nullptr, s, nullptr, o, bw, bh); });
}
BENCHMARK(BM_Mosaic24)
    ->ArgNames({"w", "h"})
    ->Args({2, 2})
    ->Args({8, 8})
    ->Args({32, 32})
    ->Args({4000, 3000})
    ->Unit(benchmark::kMillisecond);

void BM_MosaicGrey(benchmark::State& state) {
    const auto bw = int16_t(state.range(0)), bh = int16_t(state.range(1));
    Run(state, Grey(),
        [&](KHANDLE s, KHANDLE* o) { return MosaicDIB(nullptr, s, nullptr, o, bw, bh); });
}
BENCHMARK(BM_MosaicGrey)->ArgNames({"w", "h"})->Args({8, 8})->Unit(benchmark::kMillisecond);

} // namespace
