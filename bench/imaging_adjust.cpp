// The colour adjustments on a 4000 x 3000 24-bit image (and the palette
// and greyscale cases of one table operation), next to a memcpy of the same
// block into a fresh block, the least any operation returning a new image
// can cost.
//
// items/s counts pixels. Run with --reuse_blocks to take the result block's
// first-touch page faults out of the figures.
#include "imaging/adjust.h"

#include "bench/noise_image.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

struct Image {
    KOwnedHandle h;
    size_t bytes;
    explicit Image(int bits, bool grey = false)
        : h(NoiseDIB(kWidth, kHeight, bits, grey)), bytes(KML_GlobalSize(h.get())) {}
};

Image& TrueColor() {
    static Image img(24);
    return img;
}

void BM_MemcpyFreshBlock(benchmark::State& state) {
    Image& img = TrueColor();
    KLock src(img.h.get());
    for (auto _ : state) {
        KOwnedHandle out(KML_GlobalAlloc(KMEM_MOVEABLE, img.bytes));
        KLock dst(out.get());
        std::memcpy(dst.get(), src.get(), img.bytes);
        benchmark::DoNotOptimize(dst.get());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}
BENCHMARK(BM_MemcpyFreshBlock)->Unit(benchmark::kMillisecond);

template <class F> void RunOp(benchmark::State& state, Image& img, F op) {
    for (auto _ : state) {
        KHANDLE out = nullptr;
        if (op(img.h.get(), &out) != 0) {
            state.SkipWithError("operation failed");
            break;
        }
        KML_GlobalFree(out);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

void BM_Brightness24(benchmark::State& state) {
    RunOp(state, TrueColor(),
          [](KHANDLE s, KHANDLE* o) { return AdjustBrightnessContrast(nullptr, s, o, 30, 2); });
}
BENCHMARK(BM_Brightness24)->Unit(benchmark::kMillisecond);

void BM_Contrast24(benchmark::State& state) {
    RunOp(state, TrueColor(),
          [](KHANDLE s, KHANDLE* o) { return AdjustBrightnessContrast(nullptr, s, o, 40, 3); });
}
BENCHMARK(BM_Contrast24)->Unit(benchmark::kMillisecond);

void BM_Solarize24(benchmark::State& state) {
    RunOp(state, TrueColor(),
          [](KHANDLE s, KHANDLE* o) { return AdjustDIB(nullptr, s, o, 128, 4); });
}
BENCHMARK(BM_Solarize24)->Unit(benchmark::kMillisecond);

void BM_Rgb24(benchmark::State& state) {
    RunOp(state, TrueColor(),
          [](KHANDLE s, KHANDLE* o) { return AdjustRGBDIB(nullptr, s, o, 20, -10, 35); });
}
BENCHMARK(BM_Rgb24)->Unit(benchmark::kMillisecond);

void BM_Gamma24(benchmark::State& state) {
    RunOp(state, TrueColor(),
          [](KHANDLE s, KHANDLE* o) { return GammaDIB(nullptr, s, o, 2.2f, 2.2f, 2.2f); });
}
BENCHMARK(BM_Gamma24)->Unit(benchmark::kMillisecond);

void BM_Hms24(benchmark::State& state) {
    RunOp(state, TrueColor(),
          [](KHANDLE s, KHANDLE* o) { return AdjustHMSDIB(nullptr, s, o, 90, 60, 10, 0); });
}
BENCHMARK(BM_Hms24)->Unit(benchmark::kMillisecond);

void BM_Hls24(benchmark::State& state) {
    RunOp(state, TrueColor(),
          [](KHANDLE s, KHANDLE* o) { return AdjustHLSDIB(nullptr, s, o, 20, -30, 10); });
}
BENCHMARK(BM_Hls24)->Unit(benchmark::kMillisecond);

void BM_Colorize24(benchmark::State& state) {
    RunOp(state, TrueColor(),
          [](KHANDLE s, KHANDLE* o) { return ColorizeDIB(nullptr, s, o, 30, 200); });
}
BENCHMARK(BM_Colorize24)->Unit(benchmark::kMillisecond);

void BM_BrightnessGrey(benchmark::State& state) {
    static Image img(8, true);
    RunOp(state, img,
          [](KHANDLE s, KHANDLE* o) { return AdjustBrightnessContrast(nullptr, s, o, 30, 2); });
}
BENCHMARK(BM_BrightnessGrey)->Unit(benchmark::kMillisecond);

void BM_BrightnessPalette8(benchmark::State& state) {
    static Image img(8);
    RunOp(state, img,
          [](KHANDLE s, KHANDLE* o) { return AdjustBrightnessContrast(nullptr, s, o, 30, 2); });
}
BENCHMARK(BM_BrightnessPalette8)->Unit(benchmark::kMillisecond);

} // namespace
