// The main of the image-operation benchmarks.
//
// --reuse_blocks keeps freed blocks in the heap (no mmap for big blocks, no
// trimming), so a result block reuses pages already mapped: the figures then
// show the operation's own work without the kernel's first-touch page faults,
// comparable with a memcpy into a warm buffer. Without it, compare with a
// memcpy into a fresh block.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--reuse_blocks") == 0) {
            mallopt(M_MMAP_MAX, 0);
            mallopt(M_TRIM_THRESHOLD, 1 << 30);
            continue;
        }
        args.push_back(argv[i]);
    }
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
