// Shared helpers for the test programs: test images, block comparisons, the
// checks of the image operations' contract (failure sweep, stop sweep,
// progress record, refusals) and temporary folders.
#pragma once

#include "core/dib.h"
#include "core/kmem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace brellix::test {

// A DIB with pseudo-random pixels (deterministic in seed). Palette images
// get NewDIB's default palette, or the grey ramp when grey is set (8 bits).
KHANDLE MakeRandomDIB(int width, int height, int bitCount, uint32_t seed, bool grey = false);
// Random bytes over the whole pixel array, row padding included, then a
// table of 2^bits random entries (reserved bytes 0), or the grey ramp when
// grey is set (8 bits). Made with AllocDIB, so any size goes; null when it
// cannot be had.
KHANDLE MakeRandomPaletteDIB(int width, int height, int bitCount, uint32_t seed, bool grey = false);
// Every byte of the block.
std::vector<uint8_t> BlockBytes(KHANDLE h);
// Header fields, palette and the meaningful pixel bits of every row (row
// padding and unused low bits of a 1/4-bit row excluded).
std::vector<uint8_t> ImageContent(KHANDLE h);
// Bytes of the row padding, and unused low bits of a row's last pixel byte,
// that are not zero.
int NonZeroPadding(KHANDLE h);
// The pixel bytes of an 8- or 24-bit DIB: rows as stored (row 0 at the
// bottom), c bytes a pixel.
struct Samples {
    int w = 0, h = 0, c = 1;
    std::vector<uint8_t> v;
    size_t index(int r, int x, int ch) const {
        return (size_t(r) * size_t(w) + size_t(x)) * size_t(c) + size_t(ch);
    }
    uint8_t& at(int r, int x, int ch) { return v[index(r, x, ch)]; }
    uint8_t at(int r, int x, int ch) const { return v[index(r, x, ch)]; }
};
Samples SamplesOf(KHANDLE h);
// The block of `h` with its pixel bytes replaced by `s`: header, palette,
// row padding and anything after the pixels kept.
std::vector<uint8_t> BlockWithSamples(KHANDLE h, const Samples& s);
// Palette index (or packed 0xRRGGBB for 24 bits) at column x, row y from the top.
uint32_t PixelAt(KHANDLE h, int x, int y);
void SetPixel(KHANDLE h, int x, int y, uint32_t value);

// Pixel values row by row, top row first, as PixelAt reports them.
using Rows = std::vector<std::vector<uint32_t>>;
// A DIB holding `rows` (all of one length): NewDIB's default palette, or
// the grey ramp when grey is set (8 bits). Row padding is zero.
KHANDLE FromRows(int bits, const Rows& rows, bool grey = false);
// Every pixel of the image, at its own size.
Rows PixelRows(KHANDLE h);

// Sweeps every failure path of an operation: for n = 1, 2, ... the nth
// allocation fails, until the operation succeeds. Each failing run must
// return 102, leave *result null and leave the live-block count where it
// was; the source must not change. Returns the number of failure points
// exercised.
int SweepAllocationFailures(KHANDLE source, const std::function<KervErrorCode(KHANDLE*)>& op);

// A status block whose callback answers "stop" from call number `stopAt` on
// (1 = the first call).
struct StoppingStatus {
    StatusControlBlock block;
    int calls = 0;
    explicit StoppingStatus(int stopAt = 1);
};

// An operation bound to its parameters: given the status block, the source
// and the result slot.
using SourceOp = std::function<KervErrorCode(StatusControlBlock*, KHANDLE, KHANDLE*)>;
// An operation bound to its source as well.
using StatusOp = std::function<KervErrorCode(StatusControlBlock*, KHANDLE*)>;
StatusOp BindSource(const SourceOp& op, KHANDLE source);

// Where a stop answer ends the work. An operation consults every progress
// call but its first and its last, so a stop asked from call k on ends it
// at call max(k, 2). A job made of several operations in a row also ignores
// the answers at the end of one and the start of the next: there the stop
// only has to come before the last call.
enum class StopTaking { AtOnce, BeforeTheEnd };

// Stops an operation at every progress point: for k = 1, 2, ... runs it with
// StoppingStatus(k) until a run completes. Every stopped run must return
// 100, leave *result null, leave the live-block count where it was and end
// where `taking` says; no input may change by a byte. The completing run
// must be the one asked to stop only at its last call (whose answer is not
// consulted). Returns the number of stopped runs: the progress calls of a
// whole run less one.
int SweepStops(const std::vector<KHANDLE>& inputs, const StatusOp& op,
               StopTaking taking = StopTaking::AtOnce);
inline int SweepStops(KHANDLE source, const StatusOp& op, StopTaking taking = StopTaking::AtOnce) {
    return SweepStops(std::vector<KHANDLE>{source}, op, taking);
}

// (current, total) at each progress call.
using Progress = std::vector<std::pair<int32_t, int32_t>>;
// The progress calls of a run that must succeed (its result is freed). A
// given block is used as it is, pass fields and all, with a recording
// callback put in.
Progress RecordProgress(const StatusOp& op, StatusControlBlock* block = nullptr);
// The calls of one operation over `units` units: (0, 100), then (i, units)
// before each unit i, then (units, units).
Progress UnitProgress(int units);

// A call that must be refused with `code` before it allocates anything: the
// result slot, given non-null, comes back null, and the memory manager sees
// no allocation. `what` names the case in failure messages.
void ExpectRefused(const std::function<KervErrorCode(KHANDLE*)>& call,
                   KervErrorCode code = KERV_INVALID_PARAM, const std::string& what = "");

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
