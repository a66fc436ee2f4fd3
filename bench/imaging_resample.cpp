// ResampleDIB on photo-sized images: halving a 24-bit 4000 x 3000, enlarging
// 1000 x 750 to 4000 x 3000, and a few other ratios and depths.
//
// items/s counts output pixels. The sources are noise unless the environment
// names binary PPM files (BRELLIX_BENCH_LARGE for the 4000 x 3000 image,
// BRELLIX_BENCH_SMALL for the 1000 x 750 one), which is how
// bench/resample_vs_imagemagick.sh runs both programs on the same pixels.
// The timing does not depend on the pixel values (no data-dependent
// branches), only the comparison script cares.
#include "imaging/resample.h"

#include "bench/ppm_image.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

KHANDLE Large24() {
    static KOwnedHandle h(PictureOrNoise("BRELLIX_BENCH_LARGE", 4000, 3000));
    return h.get();
}
KHANDLE Small24() {
    static KOwnedHandle h(PictureOrNoise("BRELLIX_BENCH_SMALL", 1000, 750));
    return h.get();
}

void Run(benchmark::State& state, KHANDLE src, int width, int height) {
    for (auto _ : state) {
        KHANDLE out = nullptr;
        if (ResampleDIB(nullptr, src, &out, int16_t(width), uint16_t(height)) != 0) {
            state.SkipWithError("ResampleDIB failed");
            break;
        }
        KML_GlobalFree(out);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * width * height);
}

void BM_Halve24(benchmark::State& state) {
    Run(state, Large24(), 2000, 1500);
}
BENCHMARK(BM_Halve24)->Unit(benchmark::kMillisecond);

void BM_Enlarge24(benchmark::State& state) {
    Run(state, Small24(), 4000, 3000);
}
BENCHMARK(BM_Enlarge24)->Unit(benchmark::kMillisecond);

// Ratios that are not whole numbers: footprints of two or three columns with
// uneven weights.
void BM_Reduce24Uneven(benchmark::State& state) {
    Run(state, Large24(), 1234, 789);
}
BENCHMARK(BM_Reduce24Uneven)->Unit(benchmark::kMillisecond);

void BM_Enlarge24Uneven(benchmark::State& state) {
    Run(state, Small24(), 2937, 2203);
}
BENCHMARK(BM_Enlarge24Uneven)->Unit(benchmark::kMillisecond);

// A thumbnail: wide footprints (about 25 x 25 pixels).
void BM_Thumbnail24(benchmark::State& state) {
    Run(state, Large24(), 160, 120);
}
BENCHMARK(BM_Thumbnail24)->Unit(benchmark::kMillisecond);

void BM_HalveGrey(benchmark::State& state) {
    static KOwnedHandle img(NoiseDIB(4000, 3000, 8, true));
    Run(state, img.get(), 2000, 1500);
}
BENCHMARK(BM_HalveGrey)->Unit(benchmark::kMillisecond);

void BM_Halve4Bit(benchmark::State& state) {
    static KOwnedHandle img(NoiseDIB(4000, 3000, 4));
    Run(state, img.get(), 2000, 1500);
}
BENCHMARK(BM_Halve4Bit)->Unit(benchmark::kMillisecond);

} // namespace
