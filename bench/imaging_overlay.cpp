// Colour replacement and the watermark overlay on a 4000 x 3000 24-bit image
// (and the other depths).
//
// items/s counts image pixels for the colour replacement and watermark
// pixels for the overlay (a 2000 x 1500 watermark covers a quarter of the
// image). The 24-bit pictures are noise unless BRELLIX_BENCH_LARGE and
// BRELLIX_BENCH_WATERMARK name binary PPM files, which is how
// bench/overlay_vs_imagemagick.sh runs both programs on the same pixels.
#include "imaging/overlay.h"

#include "bench/ppm_image.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

KHANDLE Large24() {
    static KOwnedHandle h(PictureOrNoise("BRELLIX_BENCH_LARGE", kWidth, kHeight));
    return h.get();
}
KHANDLE Watermark24() {
    static KOwnedHandle h(PictureOrNoise("BRELLIX_BENCH_WATERMARK", kWidth / 2, kHeight / 2));
    return h.get();
}
KHANDLE Large(int bits, bool grey = false) {
    static KOwnedHandle g(NoiseDIB(kWidth, kHeight, 8, true)), p8(NoiseDIB(kWidth, kHeight, 8)),
        p4(NoiseDIB(kWidth, kHeight, 4)), p1(NoiseDIB(kWidth, kHeight, 1));
    if (bits == 24) return Large24();
    if (bits == 8) return grey ? g.get() : p8.get();
    return bits == 4 ? p4.get() : p1.get();
}

template <class F> void Run(benchmark::State& state, KHANDLE src, int64_t pixels, F op) {
    for (auto _ : state) {
        KHANDLE out = nullptr;
        if (op(src, &out) != 0) {
            state.SkipWithError("operation failed");
            break;
        }
        KML_GlobalFree(out);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * pixels);
}

// range(0) tolerance in percent. The colour is a mid grey, so on a photo
// some pixels change at 10 percent.
void BM_ReplaceColor24(benchmark::State& state) {
    const auto tolerance = int16_t(state.range(0));
    Run(state, Large24(), int64_t(kWidth) * kHeight, [&](KHANDLE s, KHANDLE* o) {
        return ReplaceColorDIB(s, o, RGB(128, 128, 128), RGB(255, 0, 0), tolerance);
    });
}
BENCHMARK(BM_ReplaceColor24)->Arg(0)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

// range(0) depth, range(1) greyscale.
void BM_ReplaceColorIndexed(benchmark::State& state) {
    Run(state, Large(int(state.range(0)), state.range(1) != 0), int64_t(kWidth) * kHeight,
        [](KHANDLE s, KHANDLE* o) {
            return ReplaceColorDIB(s, o, RGB(128, 128, 128), RGB(255, 0, 0), 10);
        });
}
BENCHMARK(BM_ReplaceColorIndexed)
    ->Args({8, 1})
    ->Args({8, 0})
    ->Args({4, 0})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond);

int64_t WatermarkPixels() {
    DIBLock d(Watermark24());
    return int64_t(d.width()) * d.height();
}

// Centred, opacity 50; range(0) uses transparency (tolerance 10 around
// white), range(1) the opacity.
void BM_Watermark24(benchmark::State& state) {
    const auto transparency = int16_t(state.range(0));
    const auto opacity = uint8_t(state.range(1));
    Run(state, Large24(), WatermarkPixels(), [&](KHANDLE s, KHANDLE* o) {
        return OverlayWatermark(nullptr, s, o, 50, 50, opacity, Watermark24(), 255, 255, 255, 10,
                                transparency);
    });
}
BENCHMARK(BM_Watermark24)
    ->Args({0, 50})
    ->Args({1, 50})
    ->Args({0, 100})
    ->Unit(benchmark::kMillisecond);

void BM_WatermarkIndexed(benchmark::State& state) {
    Run(state, Large(int(state.range(0)), state.range(1) != 0), WatermarkPixels(),
        [](KHANDLE s, KHANDLE* o) {
            return OverlayWatermark(nullptr, s, o, 50, 50, 50, Watermark24(), 255, 255, 255, 10, 1);
        });
}
BENCHMARK(BM_WatermarkIndexed)
    ->Args({8, 1})
    ->Args({8, 0})
    ->Args({4, 0})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond);

} // namespace
