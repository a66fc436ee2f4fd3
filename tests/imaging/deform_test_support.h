// What the deformation tests share: pixel grids, sources, the box-weight
// arithmetic written out plainly, and the checks of the operations'
// contract (failure sweep, a stop at every progress point, refusals).
#pragma once

#include "core/dib.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace deform_test {

using namespace brellix::test;

// Pixel bytes, rows as stored (y = 0 at the bottom), c bytes a pixel.
struct Grid {
    int w = 0, h = 0, c = 1;
    std::vector<uint8_t> v;
    Grid() = default;
    Grid(int width, int height, int channels)
        : w(width), h(height), c(channels), v(size_t(width) * size_t(height) * size_t(channels)) {}
    uint8_t& at(int64_t x, int64_t y, int ch) {
        return v[(size_t(y) * size_t(w) + size_t(x)) * size_t(c) + size_t(ch)];
    }
    uint8_t at(int64_t x, int64_t y, int ch) const {
        return v[(size_t(y) * size_t(w) + size_t(x)) * size_t(c) + size_t(ch)];
    }
};

inline Grid ValuesOf(KHANDLE h) {
    DIBLock d(h);
    Grid g(d.width(), d.height(), d.bitCount() / 8);
    for (int y = 0; y < g.h; ++y)
        std::memcpy(&g.at(0, y, 0), d.row(y), size_t(g.w) * size_t(g.c));
    return g;
}

// Random 24-bit pixels, or 8-bit greyscale ones.
inline KHANDLE Random(int w, int h, int bits, uint32_t seed) {
    return MakeRandomDIB(w, h, bits, seed, bits == 8);
}

// Every pixel the same: blue, green, red at 24 bits, `red` at 8 bits.
inline KHANDLE Flat(int w, int h, int bits, uint8_t red, uint8_t green, uint8_t blue) {
    KHANDLE out = nullptr;
    NewDIB(&out, uint16_t(w), uint16_t(h), uint8_t(bits), bits == 8, 0, 0, 0, nullptr);
    DIBLock d(out);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = d.row(y) + size_t(x) * size_t(bits / 8);
            if (bits == 8)
                p[0] = red;
            else
                p[0] = blue, p[1] = green, p[2] = red;
        }
    return out;
}

// The background pixel's bytes as the tests expect them.
inline std::vector<uint8_t> BackgroundBytes(int bits, uint8_t red, uint8_t green, uint8_t blue) {
    if (bits == 8) return {red};
    return {blue, green, red};
}

// The shares that a line of n source pixels, `step` units each from pixel 0
// on, gives output pixel j of `full` units: the overlap of the unit
// intervals [i step, (i + 1) step) and [j full, (j + 1) full), pixels past
// the last one read as the last one. Pairs of (source pixel, share).
inline std::vector<std::pair<int64_t, int64_t>> IntervalShares(int64_t j, int64_t full,
                                                               int64_t step, int64_t n) {
    std::vector<std::pair<int64_t, int64_t>> out;
    const int64_t from = j * full, to = (j + 1) * full;
    for (int64_t i = from / step; i * step < to; ++i) {
        const int64_t share = std::min((i + 1) * step, to) - std::max(i * step, from);
        out.emplace_back(std::min(i, n - 1), share);
    }
    return out;
}

// The first mismatch, or "" when the grids agree.
inline std::string FirstDifference(const Grid& got, const Grid& want) {
    if (got.w != want.w || got.h != want.h || got.c != want.c)
        return "size " + std::to_string(got.w) + "x" + std::to_string(got.h) + ", want " +
               std::to_string(want.w) + "x" + std::to_string(want.h);
    for (int y = 0; y < got.h; ++y)
        for (int x = 0; x < got.w; ++x)
            for (int ch = 0; ch < got.c; ++ch)
                if (got.at(x, y, ch) != want.at(x, y, ch))
                    return "column " + std::to_string(x) + ", stored row " + std::to_string(y) +
                           ", channel " + std::to_string(ch) + ": got " +
                           std::to_string(got.at(x, y, ch)) + ", want " +
                           std::to_string(want.at(x, y, ch));
    return "";
}

// The result keeps the source's header fields and palette, at its own size.
inline void ExpectHeaderLike(KHANDLE src, KHANDLE out, int w, int h) {
    DIBLock s(src), o(out);
    ASSERT_TRUE(o);
    EXPECT_EQ(o.width(), w);
    EXPECT_EQ(o.height(), h);
    EXPECT_EQ(o->biSizeImage, o.stride() * uint32_t(h));
    BITMAPINFOHEADER same = *o.header();
    same.biWidth = s.width(), same.biHeight = s.height(), same.biSizeImage = s->biSizeImage;
    EXPECT_EQ(std::memcmp(&same, s.header(), sizeof same), 0);
    EXPECT_EQ(std::memcmp(s.palette(), o.palette(), DIBPaletteBytes(s.header())), 0);
}

using Op = SourceOp;

// Progress reports `units` units; every failure path leaves nothing behind
// and the source as it was.
inline void ExpectContract(const Op& op, int w, int h, int units) {
    for (int bits : {8, 24}) {
        SCOPED_TRACE(std::to_string(bits) + " bits");
        KOwnedHandle src(Random(w, h, bits, 99));
        const std::vector<uint8_t> before = BlockBytes(src.get());
        const StatusOp bound = BindSource(op, src.get());
        EXPECT_GT(SweepAllocationFailures(src.get(), [&](KHANDLE* o) { return bound(nullptr, o); }),
                  0);
        EXPECT_EQ(RecordProgress(bound), UnitProgress(units));
        EXPECT_EQ(SweepStops(src.get(), bound), units + 1);
        EXPECT_EQ(BlockBytes(src.get()), before);
    }
}

// Refusals every deformation shares: no slot, no source, depths 1 and 4, a
// compressed block. Nothing is allocated.
inline void ExpectRefusals(const Op& op) {
    LeakCheck leaks;
    KOwnedHandle good(Random(9, 9, 24, 1));
    EXPECT_EQ(op(nullptr, good.get(), nullptr), 101);
    KOwnedHandle one(MakeRandomDIB(9, 9, 1, 1)), four(MakeRandomDIB(9, 9, 4, 1)),
        packed(Random(9, 9, 8, 1));
    DIBLock(packed.get())->biCompression = 1;
    for (KHANDLE bad : {KHANDLE{nullptr}, one.get(), four.get(), packed.get()})
        ExpectRefused([&](KHANDLE* out) { return op(nullptr, bad, out); });
}

// "24bit_33x17" and the like, for case names.
inline std::string SizeName(int bits, int w, int h) {
    return std::to_string(bits) + "bit_" + std::to_string(w) + "x" + std::to_string(h);
}

struct Size {
    int w, h;
};
inline void PrintTo(const Size& s, std::ostream* os) {
    *os << s.w << "x" << s.h;
}
// Odd sizes, lines of one pixel, and rows wide enough for vector loops and
// their tails.
inline const std::vector<Size>& TestSizes() {
    static const std::vector<Size> sizes{{1, 1},   {1, 9},  {9, 1},   {2, 5},   {7, 3},
                                         {33, 17}, {5, 40}, {15, 26}, {301, 6}, {64, 31}};
    return sizes;
}

} // namespace deform_test
