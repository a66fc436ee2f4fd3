// Rotate, flip and mirror on a 4000 x 3000 24-bit image (and a few other
// depths), next to a plain memcpy of the same block as the yardstick.
//
// items/s counts source pixels; "out_px/s" counts output pixels where the
// output is larger (free turns).
#include "imaging/rotate.h"

#include "bench/noise_image.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

// Deterministic noise pixels, so blends do real work.
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

// memcpy into a buffer that is already mapped: the fastest possible copy.
void BM_MemcpyWarm(benchmark::State& state) {
    Image& img = TrueColor();
    std::vector<uint8_t> dst(img.bytes);
    KLock src(img.h.get());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.get(), img.bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(img.bytes));
    state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}
BENCHMARK(BM_MemcpyWarm)->Unit(benchmark::kMillisecond);

// memcpy into a fresh block from the memory manager, as every operation
// must do for its result (the page faults of a new block included).
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
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(img.bytes));
    state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}
BENCHMARK(BM_MemcpyFreshBlock)->Unit(benchmark::kMillisecond);

template <class F>
void RunOp(benchmark::State& state, Image& img, F op) {
    int64_t outPixels = 0;
    for (auto _ : state) {
        KHANDLE out = nullptr;
        if (op(img.h.get(), &out) != 0) {
            state.SkipWithError("operation failed");
            break;
        }
        {
            DIBLock d(out);
            outPixels += int64_t(d.width()) * d.height();
        }
        KML_GlobalFree(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(img.bytes));
    state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
    state.counters["out_px/s"] = benchmark::Counter(double(outPixels), benchmark::Counter::kIsRate);
}

void BM_Flip24(benchmark::State& state) {
    RunOp(state, TrueColor(), [](KHANDLE s, KHANDLE* o) { return FlipDIB(nullptr, s, o); });
}
BENCHMARK(BM_Flip24)->Unit(benchmark::kMillisecond);

void BM_Mirror24(benchmark::State& state) {
    RunOp(state, TrueColor(), [](KHANDLE s, KHANDLE* o) { return MirrorDIB(nullptr, s, o); });
}
BENCHMARK(BM_Mirror24)->Unit(benchmark::kMillisecond);

void BM_RotateExact24(benchmark::State& state) {
    const double angle = double(state.range(0));
    RunOp(state, TrueColor(),
          [angle](KHANDLE s, KHANDLE* o) { return RotateDIB(nullptr, s, o, angle, 1, 0, 0, 0, 1); });
}
BENCHMARK(BM_RotateExact24)->Arg(90)->Arg(180)->Arg(270)->Unit(benchmark::kMillisecond);

void BM_RotateFree24(benchmark::State& state) {
    const double angle = double(state.range(0));
    RunOp(state, TrueColor(),
          [angle](KHANDLE s, KHANDLE* o) { return RotateDIB(nullptr, s, o, angle, 1, 255, 255, 255, 1); });
}
BENCHMARK(BM_RotateFree24)->Arg(30)->Arg(45)->Arg(5)->Unit(benchmark::kMillisecond);

void BM_RotateFreeGrey(benchmark::State& state) {
    static Image img(8, true);
    RunOp(state, img, [](KHANDLE s, KHANDLE* o) { return RotateDIB(nullptr, s, o, 30, 1, 0, 0, 128, 1); });
}
BENCHMARK(BM_RotateFreeGrey)->Unit(benchmark::kMillisecond);

void BM_RotateFreePalette8(benchmark::State& state) {
    static Image img(8);
    RunOp(state, img, [](KHANDLE s, KHANDLE* o) { return RotateDIB(nullptr, s, o, 30, 1, 10, 20, 30, 1); });
}
BENCHMARK(BM_RotateFreePalette8)->Unit(benchmark::kMillisecond);

void BM_RotateExact90Other(benchmark::State& state) {
    static Image img1(1), img4(4), img8(8);
    Image& img = state.range(0) == 1 ? img1 : state.range(0) == 4 ? img4 : img8;
    RunOp(state, img, [](KHANDLE s, KHANDLE* o) { return RotateDIB(nullptr, s, o, 90, 1, 0, 0, 0, 1); });
}
BENCHMARK(BM_RotateExact90Other)->Arg(1)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_MirrorOther(benchmark::State& state) {
    static Image img1(1), img4(4), img8(8);
    Image& img = state.range(0) == 1 ? img1 : state.range(0) == 4 ? img4 : img8;
    RunOp(state, img, [](KHANDLE s, KHANDLE* o) { return MirrorDIB(nullptr, s, o); });
}
BENCHMARK(BM_MirrorOther)->Arg(1)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);

}  // namespace
