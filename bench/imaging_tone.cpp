// The tonal operations on a 4000 x 3000 24-bit image, and on an 8-bit
// greyscale one where the operation works on its pixel values.
//
// items/s counts pixels. Run with --reuse_blocks to take the result block's
// first-touch page faults out of the figures.
#include "imaging/tone.h"

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

template <class F> void RunOp(benchmark::State& state, KHANDLE src, F op) {
    for (auto _ : state) {
        KHANDLE out = nullptr;
        if (op(src, &out) != 0) {
            state.SkipWithError("operation failed");
            break;
        }
        KML_GlobalFree(out);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

void BM_Greyscale24(benchmark::State& state) {
    RunOp(state, TrueColor(), [](KHANDLE s, KHANDLE* o) { return GreyscaleDIB(nullptr, s, o); });
}
BENCHMARK(BM_Greyscale24)->Unit(benchmark::kMillisecond);

void BM_Equalize24(benchmark::State& state) {
    RunOp(state, TrueColor(),
          [](KHANDLE s, KHANDLE* o) { return EqualizeDIB(nullptr, s, o, nullptr); });
}
BENCHMARK(BM_Equalize24)->Unit(benchmark::kMillisecond);

void BM_Stretch24(benchmark::State& state) {
    RunOp(state, TrueColor(),
          [](KHANDLE s, KHANDLE* o) { return StretchDIB(nullptr, s, o, nullptr); });
}
BENCHMARK(BM_Stretch24)->Unit(benchmark::kMillisecond);

void BM_Posterize24(benchmark::State& state) {
    RunOp(state, TrueColor(), [](KHANDLE s, KHANDLE* o) { return PosterizeDIB(nullptr, s, o, 3); });
}
BENCHMARK(BM_Posterize24)->Unit(benchmark::kMillisecond);

void BM_EqualizeGrey(benchmark::State& state) {
    RunOp(state, Grey(), [](KHANDLE s, KHANDLE* o) { return EqualizeDIB(nullptr, s, o, nullptr); });
}
BENCHMARK(BM_EqualizeGrey)->Unit(benchmark::kMillisecond);

} // namespace
