// Median, erode, dilate and despeckle on a 4000 x 3000 image, 24 bits and
// 8-bit grey.
//
// items/s counts pixels. The 24-bit source is noise unless
// BRELLIX_BENCH_LARGE names a binary PPM file, which is how
// bench/median_vs_imagemagick.sh runs both programs on the same pixels.
// The filters have no data-dependent branches, so the pixels only matter
// to the comparison.
#include "imaging/rank.h"

#include "bench/ppm_image.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

KHANDLE TrueColor() {
    static KOwnedHandle h(PictureOrNoise("BRELLIX_BENCH_LARGE", kWidth, kHeight));
    return h.get();
}

KHANDLE Grey() {
    static KOwnedHandle h(NoiseDIB(kWidth, kHeight, 8, true));
    return h.get();
}

template <class F> void Run(benchmark::State& state, KHANDLE src, F op) {
    int64_t pixels = 0;
    {
        DIBLock d(src);
        pixels = int64_t(d.width()) * d.height();
    }
    for (auto _ : state) {
        KHANDLE out = nullptr;
        if (op(src, &out) != 0) {
            state.SkipWithError("the filter failed");
            break;
        }
        KML_GlobalFree(out);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * pixels);
}

// range(0): 0 erode, 1 median, 2 dilate.
void BM_Rank24(benchmark::State& state) {
    const auto mode = int32_t(state.range(0));
    Run(state, TrueColor(),
        [mode](KHANDLE s, KHANDLE* o) { return RankFilterDIB(nullptr, s, o, mode); });
}
BENCHMARK(BM_Rank24)->ArgName("mode")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_Despeckle24(benchmark::State& state) {
    Run(state, TrueColor(), [](KHANDLE s, KHANDLE* o) { return DespeckleDIB(nullptr, s, o); });
}
BENCHMARK(BM_Despeckle24)->Unit(benchmark::kMillisecond);

void BM_RankGrey(benchmark::State& state) {
    const auto mode = int32_t(state.range(0));
    Run(state, Grey(),
        [mode](KHANDLE s, KHANDLE* o) { return RankFilterDIB(nullptr, s, o, mode); });
}
BENCHMARK(BM_RankGrey)->ArgName("mode")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_DespeckleGrey(benchmark::State& state) {
    Run(state, Grey(), [](KHANDLE s, KHANDLE* o) { return DespeckleDIB(nullptr, s, o); });
}
BENCHMARK(BM_DespeckleGrey)->Unit(benchmark::kMillisecond);

} // namespace
