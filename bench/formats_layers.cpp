// Layered files: flattening ten 4000 x 3000 layers onto a canvas (Normal at
// full opacity, and a blend mode under a mask), and reading a 5-layer
// Photoshop document. Items per second count layer pixels composited.
//
// BRELLIX_BENCH_PSD names the document to read (bench/psd_vs_imagemagick.sh
// passes ImageMagick's); without it a document of five 4000 x 3000 layers is
// built here, PackBits, with transparency on four of them.
#include "core/dib.h"
#include "core/kmem.h"
#include "formats/codec.h"
#include "formats/composite.h"
#include "formats/imagefile.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 4000, kHeight = 3000, kLayers = 10;
constexpr int64_t kPixels = int64_t{kWidth} * kHeight;

KHANDLE Noise(int bits, uint32_t seed) {
    KHANDLE h = AllocDIB(kWidth, kHeight, bits, bits == 8 ? 256 : 0);
    DIBLock d(h);
    if (bits == 8)
        for (int i = 0; i < 256; ++i)
            d.palette()[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    uint32_t state = seed;
    for (size_t i = 0; i < d->biSizeImage; ++i) {
        state = state * 214013u + 2531011u;
        d.bits()[i] = static_cast<uint8_t>(state >> 16);
    }
    return h;
}

struct Pictures {
    KOwnedHandle canvas, cover, layers[2], mask;
    Pictures() {
        if (InitBlendTables() != KERV_OK) std::abort();
        canvas.reset(Noise(24, 1));
        cover.reset(AllocDIB(kWidth, kHeight, 8, 256));
        layers[0].reset(Noise(24, 2));
        layers[1].reset(Noise(24, 3));
        mask.reset(Noise(8, 4));
    }
};

Pictures& Shared() {
    static Pictures p;
    return p;
}

// Ten layers in turn over the canvas, as the conduit composites them. The
// canvas starts covered, as over an opaque background layer, or bare, with
// nothing painted yet, so that coverage builds up layer by layer.
void Flatten(benchmark::State& state, uint8_t mode, uint8_t opacity, bool masked,
             bool bare = false) {
    Pictures& p = Shared();
    const LayerRect rect{0, 0, kWidth, kHeight};
    for (auto _ : state) {
        state.PauseTiming();
        {
            DIBLock c(p.cover.get());
            std::memset(c.bits(), bare ? 0 : 255, c->biSizeImage);
        }
        state.ResumeTiming();
        for (int i = 0; i < kLayers; ++i)
            if (CompositeLayer(p.canvas.get(), p.cover.get(), p.layers[i % 2].get(),
                               masked ? p.mask.get() : nullptr, opacity, mode, rect, false,
                               nullptr) != KERV_OK)
                state.SkipWithError("composite failed");
    }
    state.SetItemsProcessed(state.iterations() * kLayers * kPixels);
}

void BM_FlattenNormal(benchmark::State& state) {
    Flatten(state, kBlendNormal, 255, false);
}
void BM_FlattenMultiplyMasked(benchmark::State& state) {
    Flatten(state, kBlendMultiply, 200, true);
}
void BM_FlattenOverlayMasked(benchmark::State& state) {
    Flatten(state, kBlendOverlay, 200, true);
}
void BM_FlattenHueMasked(benchmark::State& state) {
    Flatten(state, kBlendHue, 200, true);
}
void BM_FlattenNormalHalf(benchmark::State& state) {
    Flatten(state, kBlendNormal, 128, false);
}
void BM_FlattenMultiplyMaskedBare(benchmark::State& state) {
    Flatten(state, kBlendMultiply, 200, true, true);
}
BENCHMARK(BM_FlattenNormal)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FlattenNormalHalf)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FlattenMultiplyMasked)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FlattenMultiplyMaskedBare)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FlattenOverlayMasked)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FlattenHueMasked)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- Reading a layered document ----

// A Photoshop document of five full-size layers, PackBits; layers 2..5 carry
// a transparency channel of a diagonal ramp.
std::vector<uint8_t> SyntheticPsd() {
    std::vector<uint8_t> o;
    auto be16 = [&](uint32_t v) { o.push_back(uint8_t(v >> 8)), o.push_back(uint8_t(v)); };
    auto be32 = [&](uint32_t v) { be16(v >> 16), be16(v & 0xFFFF); };
    auto packRow = [](const uint8_t* p, size_t n, std::vector<uint8_t>* out) {
        for (size_t i = 0; i < n;) { // literal packets only: noise does not repeat
            const size_t k = std::min<size_t>(128, n - i);
            out->push_back(uint8_t(k - 1));
            out->insert(out->end(), p + i, p + i + k);
            i += k;
        }
    };
    std::vector<uint8_t> row(kWidth);
    uint32_t state = 9;
    auto channel = [&](bool ramp) {
        std::vector<uint8_t> counts, data;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                state = state * 214013u + 2531011u;
                row[size_t(x)] =
                    ramp ? uint8_t((x + y) * 255 / (kWidth + kHeight)) : uint8_t(state >> 16);
            }
            const size_t before = data.size();
            packRow(row.data(), row.size(), &data);
            counts.push_back(uint8_t((data.size() - before) >> 8));
            counts.push_back(uint8_t(data.size() - before));
        }
        std::vector<uint8_t> c = {0, 1};
        c.insert(c.end(), counts.begin(), counts.end());
        c.insert(c.end(), data.begin(), data.end());
        return c;
    };
    o = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
    be16(3), be32(kHeight), be32(kWidth), be16(8), be16(3);
    be32(0), be32(0);
    std::vector<std::vector<uint8_t>> records, data;
    for (int l = 0; l < 5; ++l) {
        std::vector<uint8_t> r;
        std::swap(o, r);
        be32(0), be32(0), be32(kHeight), be32(kWidth);
        const int channels = l == 0 ? 3 : 4;
        be16(uint32_t(channels));
        for (int c = 0; c < channels; ++c) {
            data.push_back(channel(c == 3));
            be16(c == 3 ? 0xFFFF : uint32_t(c));
            be32(uint32_t(data.back().size()));
        }
        const uint8_t tail[] = {'8', 'B', 'I', 'M', 'n', 'o', 'r', 'm', 255, 0, 0, 0,   0,   0,
                                0,   12,  0,   0,   0,   0,   0,   0,   0,   0, 3, 'L', 'y', 'r'};
        o.insert(o.end(), tail, tail + sizeof tail);
        std::swap(o, r);
        records.push_back(r);
    }
    std::vector<uint8_t> info = {0, 5};
    for (const auto& r : records)
        info.insert(info.end(), r.begin(), r.end());
    for (const auto& d : data)
        info.insert(info.end(), d.begin(), d.end());
    if (info.size() & 1) info.push_back(0);
    be32(uint32_t(info.size() + 8));
    be32(uint32_t(info.size()));
    o.insert(o.end(), info.begin(), info.end());
    be32(0);
    // A white merged image: PackBits rows of one repeat packet each.
    be16(1);
    for (int i = 0; i < 3 * kHeight; ++i)
        be16(64);
    for (int i = 0; i < 3 * kHeight; ++i)
        for (int k = 0; k < 32; ++k)
            o.push_back(k < 31 ? 0x81 : uint8_t(257 - (kWidth - 31 * 128))), o.push_back(255);
    return o;
}

const std::string& PsdPath() {
    static const std::string path = [] {
        if (const char* p = std::getenv("BRELLIX_BENCH_PSD")) return std::string(p);
        const std::string p = "/tmp/brellix-bench-layers.psd";
        const auto bytes = SyntheticPsd();
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p;
    }();
    return path;
}

void BM_ReadPSD(benchmark::State& state) {
    if (InitBlendTables() != KERV_OK) std::abort();
    const std::string& path = PsdPath();
    for (auto _ : state) {
        KHANDLE h = nullptr;
        if (ReadImageFile(path, nullptr, &h, nullptr, nullptr) != KERV_OK) {
            state.SkipWithError("read failed");
            break;
        }
        KML_GlobalFree(h);
    }
    state.SetItemsProcessed(state.iterations() * 5 * kPixels);
}
BENCHMARK(BM_ReadPSD)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
