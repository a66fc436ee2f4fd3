// BMP 24-bit reading and writing of a 4000 x 3000 image (36 MB of pixels),
// through ReadImageFile and WriteImageFile: the file comes from a warm page
// cache. Bytes per second count the file's size.
#include "formats/imagefile.h"
#include "core/dib.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <random>
#include <unistd.h>

namespace {

struct Fixture {
    std::string dir;
    std::string file;
    KHANDLE dib = nullptr;
    Fixture() {
        char tmpl[] = "/tmp/brellix-bench-XXXXXX";
        dir = mkdtemp(tmpl);
        file = dir + "/big.bmp";
        NewDIB(&dib, 4000, 3000, 24, 0, 0, 0, 0, nullptr);
        DIBLock d(dib);
        std::mt19937 rng(1);
        uint32_t* p = reinterpret_cast<uint32_t*>(d.bits());
        for (size_t i = 0; i < size_t(d.stride()) * 3000 / 4; ++i) p[i] = rng();
        WriteImageFile(file, dib, 1, 1, OutputOptions{});
    }
    ~Fixture() {
        KML_GlobalFree(dib);
        std::filesystem::remove_all(dir);
    }
};

Fixture& Shared() {
    static Fixture f;
    return f;
}

void BM_ReadBMP24(benchmark::State& state) {
    Fixture& f = Shared();
    const auto size = std::filesystem::file_size(f.file);
    for (auto _ : state) {
        KHANDLE h = nullptr;
        if (ReadImageFile(f.file, nullptr, &h, nullptr, nullptr) != 0) state.SkipWithError("read failed");
        KML_GlobalFree(h);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}
BENCHMARK(BM_ReadBMP24)->Unit(benchmark::kMillisecond)->UseRealTime();

// A new output file each time, as a batch run over new names writes.
void BM_WriteBMP24(benchmark::State& state) {
    Fixture& f = Shared();
    const std::string out = f.dir + "/out.bmp";
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(out);
        state.ResumeTiming();
        if (WriteImageFile(out, f.dib, 1, 1, OutputOptions{}) != 0) state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(std::filesystem::file_size(out)));
}
BENCHMARK(BM_WriteBMP24)->Unit(benchmark::kMillisecond)->UseRealTime();

// Over an existing file: ext4 flushes a file renamed over another, so this
// one includes the disk write.
void BM_ReplaceBMP24(benchmark::State& state) {
    Fixture& f = Shared();
    const std::string out = f.dir + "/out.bmp";
    for (auto _ : state)
        if (WriteImageFile(out, f.dib, 1, 1, OutputOptions{}) != 0) state.SkipWithError("write failed");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(std::filesystem::file_size(out)));
}
BENCHMARK(BM_ReplaceBMP24)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
