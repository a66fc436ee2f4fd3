// JPEG decode and encode of a 4000 x 3000 picture, to compare with djpeg and
// cjpeg on the same file (bench/jpeg_compare.sh). BRELLIX_BENCH_JPEG names the
// file; without it a synthetic picture is encoded first.
#include "core/dib.h"
#include "core/kmem.h"
#include "formats/codec.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

KHANDLE SyntheticPicture() {
    KHANDLE dib = AllocDIB(kWidth, kHeight, 24, 0);
    DIBLock d(dib);
    std::mt19937 rng(7);
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = DIBRowFromTop(d.header(), y);
        for (int x = 0; x < kWidth; ++x) {
            const int noise = static_cast<int>(rng() % 17) - 8;
            auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
            row[3 * x] = clamp(x * 255 / kWidth + noise);
            row[3 * x + 1] = clamp(y * 255 / kHeight + noise);
            row[3 * x + 2] =
                clamp(128 + static_cast<int>(90 * std::sin((x + 2 * y) / 37.0)) + noise);
        }
    }
    return dib;
}

const std::vector<uint8_t>& TestFile() {
    static const std::vector<uint8_t> file = [] {
        if (const char* path = std::getenv("BRELLIX_BENCH_JPEG")) {
            std::ifstream f(path, std::ios::binary);
            return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
        }
        KOwnedHandle dib(SyntheticPicture());
        ImageFileInfo info;
        info.options.compressionFactor = 15;
        EncodeRequest req;
        req.dib = dib.get();
        req.info = &info;
        std::vector<uint8_t> out;
        EncodeJPG(req, &out);
        return out;
    }();
    return file;
}

void BM_DecodeJPG(benchmark::State& state) {
    const std::vector<uint8_t>& file = TestFile();
    DecodeRequest req;
    req.data = file.data();
    req.size = file.size();
    for (auto _ : state) {
        KHANDLE dib = nullptr;
        if (DecodeJPG(req, &dib, nullptr) != KERV_OK) {
            state.SkipWithError("decode failed");
            break;
        }
        KML_GlobalFree(dib);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_DecodeJPG)->Unit(benchmark::kMillisecond)->UseRealTime();

void EncodeBench(benchmark::State& state, int variant) {
    const std::vector<uint8_t>& file = TestFile();
    DecodeRequest dreq;
    dreq.data = file.data();
    dreq.size = file.size();
    KHANDLE raw = nullptr;
    if (DecodeJPG(dreq, &raw, nullptr) != KERV_OK) {
        state.SkipWithError("decode failed");
        return;
    }
    KOwnedHandle dib(raw);
    ImageFileInfo info;
    info.options.compressionFactor = 15; // quality 85
    info.options.variant = variant;
    EncodeRequest req;
    req.dib = dib.get();
    req.info = &info;
    std::vector<uint8_t> out;
    for (auto _ : state) {
        out.clear();
        if (EncodeJPG(req, &out) != KERV_OK) {
            state.SkipWithError("encode failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
void BM_EncodeJPG(benchmark::State& state) {
    EncodeBench(state, 70);
}
void BM_EncodeJPGProgressive(benchmark::State& state) {
    EncodeBench(state, 71);
}
BENCHMARK(BM_EncodeJPG)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EncodeJPGProgressive)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
