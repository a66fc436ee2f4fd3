// Skew, wind and motion blur on a 4000 x 3000 24-bit image (and greyscale).
//
// items/s counts output pixels. The 24-bit source is noise unless
// BRELLIX_BENCH_LARGE names a binary PPM, which is how
// bench/overlay_vs_imagemagick.sh runs both programs on the same pixels.
#include "imaging/skew.h"
#include "imaging/smear.h"

#include "bench/ppm_image.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

KHANDLE Large24() {
    static KOwnedHandle h(PictureOrNoise("BRELLIX_BENCH_LARGE", kWidth, kHeight));
    return h.get();
}
KHANDLE LargeGrey() {
    static KOwnedHandle h(NoiseDIB(kWidth, kHeight, 8, true));
    return h.get();
}

template <class F> void Run(benchmark::State& state, KHANDLE src, F op) {
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

// The dialog's default: 20 degrees horizontally; range(0) < 0 slants the
// other way, range(1) picks the vertical direction.
void BM_Skew24(benchmark::State& state) {
    const auto angle = int16_t(state.range(0));
    const bool vertical = state.range(1) != 0;
    Run(state, Large24(), [&](KHANDLE s, KHANDLE* o) {
        return SkewDIB(nullptr, s, o, vertical ? 0 : angle, vertical ? angle : 0, 255, 255, 255);
    });
}
BENCHMARK(BM_Skew24)->Args({20, 0})->Args({-20, 0})->Args({20, 1})->Args({-60, 1})->Unit(
    benchmark::kMillisecond);

void BM_SkewGrey(benchmark::State& state) {
    const auto angle = int16_t(state.range(0));
    const bool vertical = state.range(1) != 0;
    Run(state, LargeGrey(), [&](KHANDLE s, KHANDLE* o) {
        return SkewDIB(nullptr, s, o, vertical ? 0 : angle, vertical ? angle : 0, 9, 9, 9);
    });
}
BENCHMARK(BM_SkewGrey)->Args({20, 0})->Args({20, 1})->Unit(benchmark::kMillisecond);

// Strength 5 (the default); range(0) is the direction.
void BM_Wind24(benchmark::State& state) {
    const auto direction = int16_t(state.range(0));
    Run(state, Large24(),
        [&](KHANDLE s, KHANDLE* o) { return WindDIB(nullptr, s, o, 0, 0, 5, direction); });
}
BENCHMARK(BM_Wind24)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_WindGrey(benchmark::State& state) {
    Run(state, LargeGrey(),
        [](KHANDLE s, KHANDLE* o) { return WindDIB(nullptr, s, o, 0, 0, 5, 0); });
}
BENCHMARK(BM_WindGrey)->Unit(benchmark::kMillisecond);

// range(0) intensity, range(1) direction; 5 at 45 degrees is the default.
void BM_MotionBlur24(benchmark::State& state) {
    const auto intensity = int16_t(state.range(0)), direction = int16_t(state.range(1));
    Run(state, Large24(),
        [&](KHANDLE s, KHANDLE* o) { return MotionBlurDIB(nullptr, s, o, intensity, direction); });
}
BENCHMARK(BM_MotionBlur24)
    ->Args({5, 45})
    ->Args({5, 0})
    ->Args({5, 90})
    ->Args({5, 60})
    ->Args({20, 45})
    ->Args({40, 45})
    ->Unit(benchmark::kMillisecond);

void BM_MotionBlurGrey(benchmark::State& state) {
    Run(state, LargeGrey(),
        [](KHANDLE s, KHANDLE* o) { return MotionBlurDIB(nullptr, s, o, 5, 45); });
}
BENCHMARK(BM_MotionBlurGrey)->Unit(benchmark::kMillisecond);

} // namespace
