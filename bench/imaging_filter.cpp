// The filter commands and the unsharp mask on a 24-bit 4000 x 3000 image
// (and the 8-bit greyscale one), next to CopyDIB of the same block as the
// yardstick: every operation here writes a new block of that size.
//
// items/s counts pixels. The source is noise unless BRELLIX_BENCH_LARGE names
// a binary PPM file of any size, which is how bench/filter_vs_imagemagick.sh
// runs both programs on the same pixels. No path depends on pixel values.
#include "imaging/filter.h"

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

int64_t Pixels(KHANDLE h) {
    DIBLock d(h);
    return int64_t(d.width()) * d.height();
}

template <class F> void Run(benchmark::State& state, KHANDLE src, F op) {
    for (auto _ : state) {
        KHANDLE out = nullptr;
        if (op(src, &out) != 0) {
            state.SkipWithError("operation failed");
            break;
        }
        KML_GlobalFree(out);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * Pixels(src));
}

void BM_CopyDIB24(benchmark::State& state) {
    Run(state, TrueColor(), [](KHANDLE s, KHANDLE* o) { return CopyDIB(s, o); });
}
BENCHMARK(BM_CopyDIB24)->Unit(benchmark::kMillisecond);

// Arguments: the filter codes, 3 x 3 first.
void FilterCodes(benchmark::internal::Benchmark* b) {
    for (int code : {FILTER_EMBOSS, FILTER_SHARPEN, FILTER_SOFTEN, FILTER_SOFTEN_MORE,
                     FILTER_TRACE_CONTOUR, FILTER_EDGE_ENHANCE, FILTER_EDGE_ENHANCE_MORE,
                     FILTER_FIND_EDGES, FILTER_FIND_HORIZONTAL_EDGES, FILTER_FIND_VERTICAL_EDGES,
                     FILTER_BLUR, FILTER_BLUR_MORE, FILTER_SHARPEN_MORE})
        b->Arg(code);
    b->ArgName("code")->Unit(benchmark::kMillisecond);
}

void BM_Filter24(benchmark::State& state) {
    const int code = int(state.range(0));
    Run(state, TrueColor(),
        [code](KHANDLE s, KHANDLE* o) { return FilterDIB(nullptr, s, o, 24, code); });
}
BENCHMARK(BM_Filter24)->Apply(FilterCodes);

void BM_FilterGrey(benchmark::State& state) {
    const int code = int(state.range(0));
    Run(state, Grey(), [code](KHANDLE s, KHANDLE* o) { return FilterDIB(nullptr, s, o, 8, code); });
}
BENCHMARK(BM_FilterGrey)->Apply(FilterCodes);

void BM_Unsharp24(benchmark::State& state) {
    const auto strength = uint16_t(state.range(0));
    Run(state, TrueColor(),
        [strength](KHANDLE s, KHANDLE* o) { return UnsharpMask(nullptr, s, o, 10, strength); });
}
BENCHMARK(BM_Unsharp24)->DenseRange(1, 4)->ArgName("strength")->Unit(benchmark::kMillisecond);

// Weights too large for 16-bit sums: the 32-bit path, for comparison.
void BM_Wide5x5_24(benchmark::State& state) {
    FilterKernel k{1000, 0, {}};
    for (int i = 0; i < 25; ++i)
        k.weights[i] = int16_t(100 * (i % 7) - 250);
    Run(state, TrueColor(),
        [&k](KHANDLE s, KHANDLE* o) { return Apply5x5to24BPP(nullptr, s, o, &k); });
}
BENCHMARK(BM_Wide5x5_24)->Unit(benchmark::kMillisecond);

} // namespace
