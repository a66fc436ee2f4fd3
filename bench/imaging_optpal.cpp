// Optimized palettes of a 4000 x 3000 24-bit image: the median cut's
// counting pass (which should run near memory speed), its generation (which
// does not depend on the image's size), and the octree.
//
// items/s counts source pixels. "Photo" is a smooth picture with grain, as
// photographs are, or the binary PPM named by BRELLIX_BENCH_PHOTO (what
// bench/optpal_vs_imagemagick.sh uses); "Noise" gives every pixel a random
// colour (the worst case for both counters and the tree).
#include "imaging/optpal.h"

#include "bench/ppm_image.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

// Soft gradients, a few large shapes and a little grain.
KHANDLE PhotoDIB(int width, int height) {
    KHANDLE h = AllocDIB(width, height, 24, 0);
    if (!h) return nullptr;
    DIBLock d(h);
    uint32_t state = 99;
    for (int r = 0; r < height; ++r) {
        uint8_t* p = d.row(r);
        for (int x = 0; x < width; ++x, p += 3) {
            state = state * 214013u + 2531011u;
            const int grain = int((state >> 16) & 7) - 4;
            const double u = double(x) / width, v = double(r) / height;
            const bool disc = (u - 0.6) * (u - 0.6) + (v - 0.4) * (v - 0.4) < 0.04;
            const double sky = 0.5 + 0.5 * std::sin(3.0 * u + 2.0 * v);
            const int red = int(disc ? 200 - 60 * v : 40 + 150 * sky * v);
            const int green = int(disc ? 120 + 40 * u : 60 + 120 * sky);
            const int blue = int(disc ? 30 : 90 + 140 * (1 - v) * sky);
            p[0] = uint8_t(std::clamp(blue + grain, 0, 255));
            p[1] = uint8_t(std::clamp(green + grain, 0, 255));
            p[2] = uint8_t(std::clamp(red + grain, 0, 255));
        }
    }
    return h;
}

KHANDLE PhotoOrFile() {
    if (const char* path = std::getenv("BRELLIX_BENCH_PHOTO")) {
        if (KHANDLE h = ReadPPM(path)) return h;
        std::fprintf(stderr, "cannot read %s as a binary PPM, using the made-up photo\n", path);
    }
    return PhotoDIB(kWidth, kHeight);
}

KHANDLE Photo() {
    static KOwnedHandle img(PhotoOrFile());
    return img.get();
}
KHANDLE Noise() {
    static KOwnedHandle img(NoiseDIB(kWidth, kHeight, 24));
    return img.get();
}
KHANDLE Noise8() {
    static KOwnedHandle img(NoiseDIB(kWidth, kHeight, 8));
    return img.get();
}

int64_t PixelCount(KHANDLE h) {
    DIBLock d(h);
    return d ? int64_t(d.width()) * d.height() : 0;
}

KHANDLE Source(int which) {
    return which == 0 ? Photo() : which == 1 ? Noise() : Noise8();
}
const char* Label(int which) {
    return which == 0 ? "photo" : which == 1 ? "noise" : "noise 8-bit";
}

// Begin and count one image; generation is not part of it.
void BM_MedianCutCount(benchmark::State& state) {
    KHANDLE img = Source(int(state.range(0)));
    for (auto _ : state) {
        PaletteAccumulator acc;
        if (acc.Begin(kPaletteMedianCut, 256, 8) != 0 || acc.AddImage(img) != 0) {
            state.SkipWithError("counting failed");
            break;
        }
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * PixelCount(img));
    state.SetLabel(Label(int(state.range(0))));
}
BENCHMARK(BM_MedianCutCount)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Generation alone: the counting happens with the clock stopped.
void BM_MedianCutGenerate(benchmark::State& state) {
    KHANDLE img = Source(int(state.range(0)));
    RGBQUAD palette[256];
    for (auto _ : state) {
        state.PauseTiming();
        PaletteAccumulator acc;
        acc.Begin(kPaletteMedianCut, 256, 8);
        acc.AddImage(img);
        state.ResumeTiming();
        benchmark::DoNotOptimize(acc.Generate(palette, false));
    }
    state.SetLabel(Label(int(state.range(0))));
}
BENCHMARK(BM_MedianCutGenerate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Begin, add, generate: what a 256-colour reduction pays before dithering.
void BM_Whole(benchmark::State& state) {
    const auto kind = uint8_t(state.range(0));
    KHANDLE img = Source(int(state.range(1)));
    RGBQUAD palette[256];
    for (auto _ : state) {
        PaletteAccumulator acc;
        if (acc.Begin(kind, 256, 8) != 0 || acc.AddImage(img) != 0) {
            state.SkipWithError("adding failed");
            break;
        }
        benchmark::DoNotOptimize(acc.Generate(palette, false));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * PixelCount(img));
    state.SetLabel(std::string(kind == kPaletteMedianCut ? "median cut, " : "octree, ") +
                   Label(int(state.range(1))));
}
BENCHMARK(BM_Whole)
    ->Args({kPaletteMedianCut, 0})
    ->Args({kPaletteMedianCut, 1})
    ->Args({kPaletteOctree, 0})
    ->Args({kPaletteOctree, 1})
    ->Args({kPaletteOctree, 2})
    ->Unit(benchmark::kMillisecond);

} // namespace
