// Shared helpers for the test programs: test images, block comparisons, the
// failure-path sweep and temporary folders.
#pragma once

#include "core/dib.h"
#include "core/kmem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace brellix::test {

// A DIB with pseudo-random pixels (deterministic in seed). Palette images
// get NewDIB's default palette, or the grey ramp when grey is set (8 bits).
KHANDLE MakeRandomDIB(int width, int height, int bitCount, uint32_t seed, bool grey = false);
// Every byte of the block.
std::vector<uint8_t> BlockBytes(KHANDLE h);
// Header fields, palette and the meaningful pixel bits of every row (row
// padding and unused low bits of a 1/4-bit row excluded).
std::vector<uint8_t> ImageContent(KHANDLE h);
// Palette index (or packed 0xRRGGBB for 24 bits) at column x, row y from the top.
uint32_t PixelAt(KHANDLE h, int x, int y);
void SetPixel(KHANDLE h, int x, int y, uint32_t value);

// Sweeps every failure path of an operation: for n = 1, 2, ... the nth
// allocation fails, until the operation succeeds. Each failing run must
// return 102 (or the code in `alsoAllowed`), leave *result null and leave the
// live-block count where it was; the source must not change. Returns the
// number of failure points exercised.
int SweepAllocationFailures(KHANDLE source, const std::function<KervErrorCode(KHANDLE*)>& op);

// A status block whose callback answers "stop" from call number `stopAt` on
// (1 = the first call).
struct StoppingStatus {
    StatusControlBlock block;
    int calls = 0;
    explicit StoppingStatus(int stopAt = 1);
};

// Live-block count at construction; EXPECTs the same count at destruction.
class LeakCheck {
  public:
    LeakCheck();
    ~LeakCheck();

  private:
    size_t start_;
};

// A fresh temporary folder, removed with its contents at scope end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

void WriteFileBytes(const std::filesystem::path& p, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& p);

}  // namespace brellix::test
