// Nearest-colour search: plain scan, and the cache warm with the colours
// of a working set (hash hits) or with fresh colours (sorted-cell searches).
#include "core/dib.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

std::vector<RGBQUAD> Palette256() {
    std::mt19937 rng(7);
    std::vector<RGBQUAD> p(256);
    for (auto& e : p)
        e = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), 0};
    return p;
}

std::vector<uint32_t> Colours(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> v(n);
    for (auto& c : v) c = rng() & 0xFFFFFF;
    return v;
}

void Lookups(benchmark::State& state, bool useCache, size_t distinct) {
    const std::vector<RGBQUAD> pal = Palette256();
    const std::vector<uint32_t> colours = Colours(distinct, 11);
    ColorMatchCacheOwner cache;
    if (useCache && !cache.create(256)) {
        state.SkipWithError("no cache");
        return;
    }
    ColorMatchCache* c = useCache ? cache.get() : nullptr;
    for (uint32_t v : colours)  // warm up
        benchmark::DoNotOptimize(FindNearestPaletteIndex(static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                                                         static_cast<uint8_t>(v), pal.data(), 256, 4, c));
    uint64_t n = 0;
    for (auto _ : state) {
        unsigned sum = 0;
        for (uint32_t v : colours)
            sum += FindNearestPaletteIndex(static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                                           static_cast<uint8_t>(v), pal.data(), 256, 4, c);
        benchmark::DoNotOptimize(sum);
        n += colours.size();
    }
    state.counters["lookups/s"] = benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsRate);
}

// 1000 colours that the 4096-slot hash keeps: the warm-cache case of dithering
// and rotating images with a limited number of distinct colours.
void BM_NearestWarmCache(benchmark::State& s) { Lookups(s, true, 1000); }
// A million different colours: most miss the hash and search their sorted cell.
void BM_NearestCacheFreshColours(benchmark::State& s) { Lookups(s, true, 1000000); }
void BM_NearestPlainScan(benchmark::State& s) { Lookups(s, false, 100000); }

BENCHMARK(BM_NearestWarmCache);
BENCHMARK(BM_NearestCacheFreshColours);
BENCHMARK(BM_NearestPlainScan);

}  // namespace

BENCHMARK_MAIN();
