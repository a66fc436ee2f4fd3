// Perspective, warp (cylinders, pinch, punch), circle and pentagon on a
// 24-bit 4000 x 3000 image, and a few on greyscale.
//
// items/s counts output pixels. The source is noise unless the environment
// names a binary PPM file (BRELLIX_BENCH_LARGE), which is how
// bench/deform_vs_imagemagick.sh runs both programs on the same pixels.
#include "imaging/perspective.h"
#include "imaging/shapes.h"
#include "imaging/warp.h"

#include "bench/ppm_image.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
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

using Op = std::function<KervErrorCode(KHANDLE, KHANDLE*)>;

void Run(benchmark::State& state, KHANDLE src, const Op& op) {
    int64_t outPixels = 0;
    for (auto _ : state) {
        KHANDLE out = nullptr;
        if (op(src, &out) != 0) {
            state.SkipWithError("operation failed");
            break;
        }
        {
            DIBLock d(out);
            outPixels += int64_t(d.width()) * d.height();
        }
        KML_GlobalFree(out);
    }
    state.SetItemsProcessed(outPixels);
}

// Amounts: 30 (a gentle slope) and 100 (the shortest edge).
void BM_HPerspective24(benchmark::State& state) {
    const auto amount = int16_t(state.range(0));
    Run(state, TrueColor(), [amount](KHANDLE s, KHANDLE* o) {
        return HPerspectiveDIB(nullptr, s, o, 0, amount, 255, 255, 255);
    });
}
BENCHMARK(BM_HPerspective24)->Arg(30)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_VPerspective24(benchmark::State& state) {
    const auto amount = int16_t(state.range(0));
    Run(state, TrueColor(), [amount](KHANDLE s, KHANDLE* o) {
        return VPerspectiveDIB(nullptr, s, o, 1, amount, 255, 255, 255);
    });
}
BENCHMARK(BM_VPerspective24)->Arg(30)->Arg(100)->Unit(benchmark::kMillisecond);

// Indexes as the commands pass them: cylinders (100, 100 - e) and
// (100 - e, 100), pinch (100 + e, 100 + e), punch (100 - e, 100 - e).
void BM_Warp24(benchmark::State& state) {
    const auto x = int16_t(state.range(0)), y = int16_t(state.range(1));
    Run(state, TrueColor(), [x, y](KHANDLE s, KHANDLE* o) { return WarpDIB(nullptr, s, o, x, y); });
}
BENCHMARK(BM_Warp24)
    ->ArgNames({"x", "y"})
    ->Args({100, 50})  // horizontal cylinder, effect 50
    ->Args({50, 100})  // vertical cylinder, effect 50
    ->Args({150, 150}) // pinch 50
    ->Args({50, 50})   // punch 50
    ->Args({200, 200}) // pinch 100
    ->Args({100, 100}) // neutral
    ->Unit(benchmark::kMillisecond);

void BM_Circle24(benchmark::State& state) {
    Run(state, TrueColor(),
        [](KHANDLE s, KHANDLE* o) { return CircleDIB(nullptr, s, o, 255, 255, 255); });
}
BENCHMARK(BM_Circle24)->Unit(benchmark::kMillisecond);

void BM_Pentagon24(benchmark::State& state) {
    Run(state, TrueColor(),
        [](KHANDLE s, KHANDLE* o) { return PentagonDIB(nullptr, s, o, 255, 255, 255); });
}
BENCHMARK(BM_Pentagon24)->Unit(benchmark::kMillisecond);

void BM_DeformGrey(benchmark::State& state) {
    const int which = int(state.range(0));
    Run(state, Grey(), [which](KHANDLE s, KHANDLE* o) {
        switch (which) {
        case 0:
            return HPerspectiveDIB(nullptr, s, o, 0, 30, 255, 0, 0);
        case 1:
            return VPerspectiveDIB(nullptr, s, o, 0, 30, 255, 0, 0);
        case 2:
            return WarpDIB(nullptr, s, o, 150, 150);
        case 3:
            return CircleDIB(nullptr, s, o, 255, 0, 0);
        default:
            return PentagonDIB(nullptr, s, o, 255, 0, 0);
        }
    });
}
// 0 horizontal perspective, 1 vertical, 2 pinch, 3 circle, 4 pentagon.
BENCHMARK(BM_DeformGrey)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

} // namespace
