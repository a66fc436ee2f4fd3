// Borders and crop on a 4000 x 3000 image, next to a plain memcpy of the
// result's number of bytes as the yardstick.
//
// AddBorderDIB with 10-pixel margins writes a 4020 x 3020 block; the memcpy
// benchmarks copy exactly that many bytes. items/s counts output pixels.
#include "imaging/border.h"

#include "bench/noise_image.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 4000, kHeight = 3000, kMargin = 10;
constexpr int kOutWidth = kWidth + 2 * kMargin, kOutHeight = kHeight + 2 * kMargin;

KOwnedHandle& Image(int bits) {
    static KOwnedHandle img1(NoiseDIB(kWidth, kHeight, 1)), img4(NoiseDIB(kWidth, kHeight, 4)),
        img8(NoiseDIB(kWidth, kHeight, 8)), img24(NoiseDIB(kWidth, kHeight, 24));
    switch (bits) {
    case 1:
        return img1;
    case 4:
        return img4;
    case 8:
        return img8;
    default:
        return img24;
    }
}

// The block AddBorderDIB builds at 24 bits: header plus padded rows.
size_t BorderedBytes() {
    return sizeof(BITMAPINFOHEADER) + size_t(DIBStride(24, kOutWidth)) * kOutHeight;
}

void Items(benchmark::State& state, size_t bytes) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
    state.SetItemsProcessed(int64_t(state.iterations()) * kOutWidth * kOutHeight);
}

// memcpy into a buffer that is already mapped: the fastest possible copy.
void BM_MemcpyWarm(benchmark::State& state) {
    const size_t bytes = BorderedBytes();
    std::vector<uint8_t> src(bytes, 7), dst(bytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    Items(state, bytes);
}
BENCHMARK(BM_MemcpyWarm)->Unit(benchmark::kMillisecond);

// memcpy into a fresh block from the memory manager, as the operation must
// do for its result (the page faults of a new block included).
void BM_MemcpyFreshBlock(benchmark::State& state) {
    const size_t bytes = BorderedBytes();
    std::vector<uint8_t> src(bytes, 7);
    for (auto _ : state) {
        KOwnedHandle out(KML_GlobalAlloc(KMEM_MOVEABLE, bytes));
        KLock dst(out.get());
        std::memcpy(dst.get(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.get());
        benchmark::ClobberMemory();
    }
    Items(state, bytes);
}
BENCHMARK(BM_MemcpyFreshBlock)->Unit(benchmark::kMillisecond);

void BM_AddBorder(benchmark::State& state) {
    const int bits = int(state.range(0));
    KHANDLE src = Image(bits).get();
    for (auto _ : state) {
        KHANDLE out = nullptr;
        if (AddBorderDIB(nullptr, src, &out, kMargin, kMargin, kMargin, kMargin, 200, 100, 50) !=
            0) {
            state.SkipWithError("AddBorderDIB failed");
            break;
        }
        benchmark::DoNotOptimize(out);
        KML_GlobalFree(out);
    }
    Items(state,
          sizeof(BITMAPINFOHEADER) + size_t(DIBStride(uint32_t(bits), kOutWidth)) * kOutHeight);
}
// 24 bits is the figure to hold against BM_MemcpyFreshBlock.
BENCHMARK(BM_AddBorder)->Arg(24)->Arg(8)->Arg(4)->Arg(1)->Unit(benchmark::kMillisecond);

// An odd left margin: the 1 and 4-bit rows are shifted, not copied.
void BM_AddBorderShifted(benchmark::State& state) {
    const int bits = int(state.range(0));
    KHANDLE src = Image(bits).get();
    for (auto _ : state) {
        KHANDLE out = nullptr;
        if (AddBorderDIB(nullptr, src, &out, kMargin, kMargin, kMargin, 3, 1, 0, 0) != 0) {
            state.SkipWithError("AddBorderDIB failed");
            break;
        }
        benchmark::DoNotOptimize(out);
        KML_GlobalFree(out);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}
BENCHMARK(BM_AddBorderShifted)->Arg(4)->Arg(1)->Unit(benchmark::kMillisecond);

// 10 pixels cut from each edge, at 24 bits.
void BM_Crop24(benchmark::State& state) {
    KHANDLE src = Image(24).get();
    for (auto _ : state) {
        KHANDLE out = nullptr;
        if (CropImage(nullptr, src, &out, 0, kMargin, kMargin, kMargin, kMargin, 0, 0) != 0) {
            state.SkipWithError("CropImage failed");
            break;
        }
        benchmark::DoNotOptimize(out);
        KML_GlobalFree(out);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * (kWidth - 2 * kMargin) *
                            (kHeight - 2 * kMargin));
}
BENCHMARK(BM_Crop24)->Unit(benchmark::kMillisecond);

} // namespace
