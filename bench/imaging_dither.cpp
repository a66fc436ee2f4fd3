// Colour reduction on a 24-bit 4000 x 3000 picture: the standard palettes,
// a given 256-entry palette, the exact search, and black and white.
//
// items/s counts pixels. The picture is a smooth synthetic photograph
// (colour fields, gradients and a little grain) unless BRELLIX_BENCH_LARGE
// names a binary PPM file, which is how bench/dither_vs_imagemagick.sh runs
// both programs on the same pixels. Unlike most operations, the cost here
// depends on the pixels: colour matching is paid once per distinct key.
//
// DitherToPalette keeps its cache between calls; the "Cold" runs release it
// before every call (as the dispatcher does after each command), the "Warm"
// runs keep it (as a batch applying one palette file to many images does).
#include "imaging/dither.h"

#include "bench/ppm_image.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

// Slowly varying colour with some grain, like a photograph rather than noise.
KHANDLE PhotoLike() {
    KHANDLE h = NoiseDIB(kWidth, kHeight, 24); // the grain
    if (!h) return nullptr;
    DIBLock d(h);
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = d.row(y);
        for (int x = 0; x < kWidth; ++x) {
            const double u = x / 700.0, v = y / 500.0;
            const double base[3] = {110 + 90 * std::sin(u + 0.7 * v),
                                    120 + 80 * std::sin(1.3 * v - u),
                                    100 + 100 * std::cos(0.6 * u * v)};
            for (int c = 0; c < 3; ++c) {
                const double grain = (row[3 * x + c] & 15) - 7.5;
                row[3 * x + c] = uint8_t(std::clamp(base[c] + grain, 0.0, 255.0));
            }
        }
    }
    return h;
}

KHANDLE Picture() {
    static KOwnedHandle h([] {
        if (const char* path = std::getenv("BRELLIX_BENCH_LARGE")) {
            if (KHANDLE p = ReadPPM(path)) return p;
            std::fprintf(stderr, "cannot read %s as a binary PPM, using a synthetic picture\n",
                         path);
        }
        return PhotoLike();
    }());
    return h.get();
}

// The colour map beside the program in the build tree: bench/../share/brellix.
std::string MapPath() {
    if (const char* dir = std::getenv("BRELLIX_DATA_DIR")) return std::string(dir) + "/KCD.DAT";
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string path = n > 0 ? std::string(exe, size_t(n)) : std::string();
    path = path.substr(0, path.rfind('/'));
    return path.substr(0, path.rfind('/')) + "/share/brellix/KCD.DAT";
}

// A fixed 256-entry palette: the cube and 40 greys between its levels.
const RGBQUAD* Palette256() {
    static RGBQUAD p[256];
    for (int i = 0; i < 216; ++i)
        p[i] = kStandardCube256[i];
    for (int i = 0; i < 40; ++i) {
        const auto g = uint8_t(6 + i * 6);
        p[216 + i] = RGBQUAD{g, g, g, 0};
    }
    return p;
}

template <class F> void Run(benchmark::State& state, F op) {
    KHANDLE src = Picture();
    for (auto _ : state) {
        KHANDLE out = nullptr;
        if (op(src, &out) != 0) {
            state.SkipWithError("the reduction failed");
            break;
        }
        KML_GlobalFree(out);
    }
    DIBLock d(src);
    state.SetItemsProcessed(int64_t(state.iterations()) * d.width() * d.height());
}

void BM_DitherToPaletteDiffused256Cold(benchmark::State& state) {
    Run(state, [](KHANDLE s, KHANDLE* o) {
        ReleaseDitherCache();
        return DitherToPalette(nullptr, s, o, 8, Palette256(), 2, 0, 256);
    });
}
BENCHMARK(BM_DitherToPaletteDiffused256Cold)->Unit(benchmark::kMillisecond);

void BM_DitherToPaletteDiffused256Warm(benchmark::State& state) {
    Run(state, [](KHANDLE s, KHANDLE* o) {
        return DitherToPalette(nullptr, s, o, 8, Palette256(), 2, 0, 256);
    });
}
BENCHMARK(BM_DitherToPaletteDiffused256Warm)->Unit(benchmark::kMillisecond);

void BM_DitherToPaletteNearest256Cold(benchmark::State& state) {
    Run(state, [](KHANDLE s, KHANDLE* o) {
        ReleaseDitherCache();
        return DitherToPalette(nullptr, s, o, 8, Palette256(), 0, 0, 256);
    });
}
BENCHMARK(BM_DitherToPaletteNearest256Cold)->Unit(benchmark::kMillisecond);

// Standard palettes: range(0) target bits, range(1) method.
void BM_DitherToStandardPalette(benchmark::State& state) {
    const auto bits = uint8_t(state.range(0)), method = uint8_t(state.range(1));
    const std::string map = MapPath();
    Run(state, [&](KHANDLE s, KHANDLE* o) {
        return DitherToStandardPalette(nullptr, s, o, bits, method, 0, map);
    });
}
BENCHMARK(BM_DitherToStandardPalette)
    ->ArgsProduct({{4, 8}, {0, 1, 2}})
    ->ArgNames({"bits", "method"})
    ->Unit(benchmark::kMillisecond);

void BM_DitherDIBDiffusedCube(benchmark::State& state) {
    Run(state,
        [](KHANDLE s, KHANDLE* o) { return DitherDIB(nullptr, s, o, 8, nullptr, 2, 0, 256, 100); });
}
BENCHMARK(BM_DitherDIBDiffusedCube)->Unit(benchmark::kMillisecond);

// range(0): the kernel.
void BM_DitherTo2Colors(benchmark::State& state) {
    const auto kernel = uint8_t(state.range(0));
    Run(state, [&](KHANDLE s, KHANDLE* o) { return DitherTo2Colors(nullptr, s, o, kernel, 0, 0); });
}
BENCHMARK(BM_DitherTo2Colors)->DenseRange(0, 3)->ArgName("kernel")->Unit(benchmark::kMillisecond);

} // namespace
