#include "imaging/resample.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace brellix::test;

namespace {

// Pixel values as the averaging sees them, rows as stored (row 0 at the
// bottom): 24 bits three bytes a pixel, 8 bits the index, 4 bits the blue
// component of the pixel's palette entry.
struct Grid {
    int w = 0, h = 0, c = 1;
    std::vector<uint8_t> v;
    uint8_t at(int64_t r, int64_t x, int ch) const {
        return v[(size_t(r) * size_t(w) + size_t(x)) * size_t(c) + size_t(ch)];
    }
};

Grid ValuesOf(KHANDLE h) {
    DIBLock d(h);
    Grid g;
    g.w = d.width();
    g.h = d.height();
    g.c = d.bitCount() == 24 ? 3 : 1;
    g.v.resize(size_t(g.w) * size_t(g.h) * size_t(g.c));
    for (int r = 0; r < g.h; ++r) {
        const uint8_t* row = d.row(r);
        for (int x = 0; x < g.w; ++x) {
            uint8_t* o = &g.v[(size_t(r) * size_t(g.w) + size_t(x)) * size_t(g.c)];
            if (d.bitCount() == 24) {
                std::memcpy(o, row + 3 * x, 3);
            } else if (d.bitCount() == 8) {
                o[0] = row[x];
            } else {
                const int index = (x % 2) ? row[x / 2] & 15 : row[x / 2] >> 4;
                o[0] = d.palette()[index].rgbBlue;
            }
        }
    }
    return g;
}

// The averaging written as directly as possible: every output pixel walks
// its footprint column by column and row by row, reads past the image taken
// from the last column or row.
Grid Reference(const Grid& src, int outW, int outH) {
    const double sx = double(outW) / src.w, sy = double(outH) / src.h;
    int64_t kx = static_cast<int64_t>(256 / sx + 0.5), ky = static_cast<int64_t>(256 / sy + 0.5);
    kx = std::max<int64_t>(kx, 1);
    ky = std::max<int64_t>(ky, 1);
    const uint64_t D = uint64_t(kx) * uint64_t(ky);
    Grid out;
    out.w = outW;
    out.h = outH;
    out.c = src.c;
    out.v.resize(size_t(outW) * size_t(outH) * size_t(src.c));
    for (int y = 0; y < outH; ++y) {
        const double fy = y / sy;
        const auto cy = static_cast<int64_t>(fy);
        const auto wy0 = static_cast<int64_t>(256.5 - (fy - double(cy)) * 256);
        for (int x = 0; x < outW; ++x) {
            const double fx = x / sx;
            const auto cx = static_cast<int64_t>(fx);
            const auto wx0 = static_cast<int64_t>(256.5 - (fx - double(cx)) * 256);
            uint64_t sum[3] = {0, 0, 0};
            int64_t rowsLeft = ky, rowWeight = wy0;
            for (int64_t r = cy; rowsLeft > 0; ++r) {
                const int64_t wr = std::min(rowWeight, rowsLeft);
                int64_t colsLeft = kx, colWeight = wx0;
                for (int64_t c = cx; colsLeft > 0; ++c) {
                    const int64_t wc = std::min(colWeight, colsLeft);
                    for (int ch = 0; ch < src.c; ++ch)
                        sum[ch] += uint64_t(src.at(std::min<int64_t>(r, src.h - 1),
                                                   std::min<int64_t>(c, src.w - 1), ch)) *
                                   uint64_t(wc) * uint64_t(wr);
                    colsLeft -= wc;
                    colWeight = 256;
                }
                rowsLeft -= wr;
                rowWeight = 256;
            }
            for (int ch = 0; ch < src.c; ++ch)
                out.v[(size_t(y) * size_t(outW) + size_t(x)) * size_t(src.c) + size_t(ch)] =
                    static_cast<uint8_t>(sum[ch] / D);
        }
    }
    return out;
}

// A source made of one value everywhere (every byte of every pixel).
KHANDLE Uniform(int w, int h, int bits, uint8_t value) {
    KHANDLE s = AllocDIB(w, h, bits, bits == 24 ? 0 : 256);
    EXPECT_TRUE(s);
    DIBLock d(s);
    std::memset(d.bits(), value, d->biSizeImage);
    return s;
}

std::string Where(int bits, int w, int h, int ow, int oh) {
    return std::to_string(bits) + " bits, " + std::to_string(w) + " x " + std::to_string(h) +
           " -> " + std::to_string(ow) + " x " + std::to_string(oh);
}

// Checks the result's header and palette; the values it holds.
Grid CheckedResult(KHANDLE out, int srcBits, int ow, int oh, const std::string& where) {
    DIBLock d(out);
    EXPECT_TRUE(d) << where;
    if (!d) return {};
    const int bits = srcBits == 24 ? 24 : 8;
    EXPECT_EQ(d->biSize, 40u) << where;
    EXPECT_EQ(d->biWidth, ow) << where;
    EXPECT_EQ(d->biHeight, oh) << where;
    EXPECT_EQ(d->biPlanes, 1) << where;
    EXPECT_EQ(d->biBitCount, bits) << where;
    EXPECT_EQ(d->biCompression, 0u) << where;
    EXPECT_EQ(d->biSizeImage, DIBStride(uint32_t(bits), uint32_t(ow)) * uint32_t(oh)) << where;
    EXPECT_EQ(d->biXPelsPerMeter, 0) << where;
    EXPECT_EQ(d->biYPelsPerMeter, 0) << where;
    EXPECT_EQ(d->biClrUsed, bits == 8 ? 256u : 0u) << where;
    EXPECT_EQ(d->biClrImportant, bits == 8 ? 256u : 0u) << where;
    if (bits == 8) {
        for (int i = 0; i < 256; ++i) {
            const RGBQUAD e = d.palette()[i];
            if (e.rgbBlue != i || e.rgbGreen != i || e.rgbRed != i || e.rgbReserved != 0) {
                ADD_FAILURE() << where << ": palette entry " << i << " is not grey";
                break;
            }
        }
    }
    d = DIBLock(nullptr);
    return ValuesOf(out);
}

// Resamples and compares with the reference; false at the first mismatch
// (reported) so sweeps stop flooding the log.
bool MatchesReference(KHANDLE src, int bits, int ow, int oh) {
    const Grid in = ValuesOf(src);
    const std::string where = Where(bits, in.w, in.h, ow, oh);
    KHANDLE out = nullptr;
    const KervErrorCode rc = ResampleDIB(nullptr, src, &out, int16_t(ow), uint16_t(oh));
    EXPECT_EQ(rc, 0) << where;
    if (rc != 0) return false;
    const Grid got = CheckedResult(out, bits, ow, oh, where);
    KML_GlobalFree(out);
    const Grid want = Reference(in, ow, oh);
    if (got.v == want.v) return true;
    size_t i = 0;
    while (i < got.v.size() && got.v[i] == want.v[i])
        ++i;
    const size_t px = i / size_t(want.c);
    ADD_FAILURE() << where << ": first difference at stored row " << px / size_t(ow) << ", column "
                  << px % size_t(ow) << ": got " << int(got.v[i]) << ", want " << int(want.v[i]);
    return false;
}

const int kAveragedDepths[] = {24, 8, 4};

// ---- Agreement with the direct sum ----

// Every width pair 1..40 with heights from a spread of small sizes, and the
// same with the axes swapped. A read past the top row leaves the block, and
// so does a read past its last column where the row has no padding (widths
// that are multiples of 4, and every 4-bit source, which is read from an
// unpadded buffer): the sanitizers see those. Reads past the last column of
// lower rows pick up padding or the next row's random bytes and show up as
// differences from the direct sum.
TEST(ResampleSweep, AllSmallSizePairsMatchTheDirectSum) {
    LeakCheck leaks;
    const int kFew[] = {1, 2, 3, 7, 16, 39};
    for (int bits : kAveragedDepths) {
        for (int swap = 0; swap < 2; ++swap) {
            for (int a = 1; a <= 40; ++a) {
                for (int b : kFew) {
                    const int w = swap ? b : a, h = swap ? a : b;
                    KOwnedHandle src(
                        MakeRandomPaletteDIB(w, h, bits, uint32_t(a * 131 + b * 7 + bits)));
                    ASSERT_TRUE(src);
                    for (int oa = 1; oa <= 40; ++oa)
                        for (int ob : kFew) {
                            const int ow = swap ? ob : oa, oh = swap ? oa : ob;
                            ASSERT_TRUE(MatchesReference(src.get(), bits, ow, oh));
                        }
                }
            }
        }
    }
}

struct SizePair {
    int w, h, ow, oh;
};

// Ratios the small sweep cannot reach: big reductions (sums past 32 bits),
// enlargements beyond 512 times (a footprint that would round to nothing),
// near-identity and common photo ratios. 797 -> 512 and 49 -> 512 are pairs
// whose last footprint reaches past the last column or row by a fraction.
TEST(ResampleSweep, LargeAndUnusualRatiosMatchTheDirectSum) {
    LeakCheck leaks;
    const SizePair kPairs[] = {
        {640, 480, 320, 240}, {333, 211, 1000, 634}, {100, 100, 99, 101}, {257, 3, 256, 5},
        {1000, 3, 7, 2},      {3, 1000, 2, 7},       {7, 5, 3000, 4},     {1, 1, 1000, 600},
        {2, 3, 1300, 1},      {4000, 2, 3, 1},       {97, 89, 1, 1},      {1, 1, 1, 1},
        {5, 3, 32767, 1},     {301, 200, 997, 3},    {30000, 1, 2, 1},    {797, 3, 512, 2},
        {3, 797, 2, 512},     {49, 2, 512, 3},       {2, 49, 3, 512},     {857, 98, 512, 1024},
        {7, 1000, 5, 999},    {1000, 7, 999, 5},
    };
    for (int bits : kAveragedDepths)
        for (const SizePair& s : kPairs) {
            KOwnedHandle src(MakeRandomPaletteDIB(s.w, s.h, bits, uint32_t(s.w * 3 + s.h + bits)));
            ASSERT_TRUE(src);
            EXPECT_TRUE(MatchesReference(src.get(), bits, s.ow, s.oh));
        }
}

// Extreme reductions: the reduced rows and the sums outgrow 32 bits, and a
// white image must still come out white (no wrapped sum).
TEST(ResampleExtremes, HugeReductionsKeepExactSums) {
    LeakCheck leaks;
    // 70000 columns into one: a row sum of 255 x 256 x 70000 passes 2^32;
    // 70000 rows into one: a column sum does.
    const SizePair kPairs[] = {{70000, 1, 1, 1}, {32767, 3, 1, 1}, {3, 32767, 2, 1},
                               {70000, 2, 3, 1}, {1, 70000, 1, 1}, {2, 70000, 3, 2}};
    for (const SizePair& s : kPairs) {
        KOwnedHandle src(MakeRandomPaletteDIB(s.w, s.h, 8, 77));
        ASSERT_TRUE(src);
        EXPECT_TRUE(MatchesReference(src.get(), 8, s.ow, s.oh));
        for (int bits : {8, 24}) {
            KOwnedHandle white(Uniform(s.w, s.h, bits, 255));
            KHANDLE out = nullptr;
            ASSERT_EQ(ResampleDIB(nullptr, white.get(), &out, int16_t(s.ow), uint16_t(s.oh)), 0);
            KOwnedHandle own(out);
            const Grid g = ValuesOf(out);
            EXPECT_TRUE(std::all_of(g.v.begin(), g.v.end(), [](uint8_t v) { return v == 255; }))
                << Where(bits, s.w, s.h, s.ow, s.oh);
        }
    }
}

// ---- Hand-computed pictures ----

KHANDLE Resampled(KHANDLE src, int ow, int oh) {
    KHANDLE out = nullptr;
    EXPECT_EQ(ResampleDIB(nullptr, src, &out, int16_t(ow), uint16_t(oh)), 0);
    return out;
}

TEST(ResamplePictures, HalvingAveragesEachTwoByTwoBlock) {
    LeakCheck leaks;
    // Every 2 x 2 block holds 10, 20 / 30, 40 in every channel: 25.
    for (int bits : {24, 8}) {
        KOwnedHandle src(Uniform(6, 4, bits, 0));
        const uint8_t block[2][2] = {{10, 20}, {30, 40}};
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x) {
                const uint32_t v = block[y % 2][x % 2];
                SetPixel(src.get(), x, y, bits == 24 ? v * 0x010101u : v);
            }
        KOwnedHandle out(Resampled(src.get(), 3, 2));
        const Grid g = CheckedResult(out.get(), bits, 3, 2, Where(bits, 6, 4, 3, 2));
        EXPECT_EQ(g.v, std::vector<uint8_t>(size_t(3 * 2 * g.c), 25)) << bits << " bits";
    }
}

TEST(ResamplePictures, DoublingRepeatsEachPixelIntoATwoByTwoBlock) {
    LeakCheck leaks;
    for (int bits : {24, 8}) {
        KOwnedHandle src(MakeRandomPaletteDIB(5, 3, bits, 5));
        KOwnedHandle out(Resampled(src.get(), 10, 6));
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 10; ++x)
                ASSERT_EQ(PixelAt(out.get(), x, y), PixelAt(src.get(), x / 2, y / 2))
                    << bits << " bits, at " << x << ", " << y;
    }
}

TEST(ResamplePictures, SameSizeKeepsEveryPixel) {
    LeakCheck leaks;
    for (int bits : {24, 8}) {
        KOwnedHandle src(MakeRandomPaletteDIB(37, 11, bits, 9));
        KOwnedHandle out(Resampled(src.get(), 37, 11));
        EXPECT_EQ(ValuesOf(out.get()).v, ValuesOf(src.get()).v) << bits << " bits";
    }
}

// Beyond 512 times the footprint would round to 0 and the average divide
// by 0: it is kept at 1/256 pixel, so every output pixel repeats one source
// pixel, the left ones first.
TEST(ResamplePictures, EnlargingBeyond512TimesStillRepeatsPixels) {
    LeakCheck leaks;
    // Three rows from two, so rows are blended (and divided) too.
    for (int bits : {24, 8}) {
        KOwnedHandle src(Uniform(2, 2, bits, 10));
        for (int y = 0; y < 2; ++y)
            SetPixel(src.get(), 1, y, bits == 24 ? 200 * 0x010101u : 200);
        KOwnedHandle out(Resampled(src.get(), 1300, 3));
        const Grid g = CheckedResult(out.get(), bits, 1300, 3, Where(bits, 2, 2, 1300, 3));
        ASSERT_EQ(g.v.size(), size_t(1300 * 3 * g.c));
        for (int r = 0; r < 3; ++r) {
            const auto first = g.v.begin() + r * 1300 * g.c, last = first + 1300 * g.c;
            EXPECT_EQ(*first, 10) << bits << " bits, row " << r;
            EXPECT_EQ(*(last - 1), 200) << bits << " bits, row " << r;
            EXPECT_TRUE(std::is_sorted(first, last)) << bits << " bits, row " << r;
            EXPECT_TRUE(std::all_of(first, last, [](uint8_t v) { return v == 10 || v == 200; }))
                << bits << " bits, row " << r;
        }
    }
}

// A 16-colour image becomes greyscale made of its palette's blue
// components; red and green play no part.
TEST(ResamplePictures, SixteenColoursBecomeGreyFromTheBlueComponents) {
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomPaletteDIB(9, 4, 4, 21));
    {
        DIBLock d(src.get());
        for (int i = 0; i < 16; ++i)
            d.palette()[i] = RGBQUAD{uint8_t(i * 16 + 3), uint8_t(255 - i), uint8_t(i * 7), 0};
    }
    KOwnedHandle out(Resampled(src.get(), 9, 4));
    CheckedResult(out.get(), 4, 9, 4, "4 bits, same size");
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x)
            ASSERT_EQ(PixelAt(out.get(), x, y), PixelAt(src.get(), x, y) * 16 + 3)
                << x << ", " << y;
}

// An index past a short palette reads as 0 instead of bytes beyond it.
TEST(ResamplePictures, IndexPastAShortPaletteReadsAsBlack) {
    LeakCheck leaks;
    KHANDLE raw = AllocDIB(2, 1, 4, 2);
    ASSERT_TRUE(raw);
    KOwnedHandle src(raw);
    {
        DIBLock d(src.get());
        d.palette()[0] = RGBQUAD{200, 0, 0, 0};
        d.palette()[1] = RGBQUAD{100, 0, 0, 0};
        d.bits()[0] = 0x1F; // pixel 0 index 1, pixel 1 index 15 (no entry)
    }
    KOwnedHandle out(Resampled(src.get(), 2, 1));
    EXPECT_EQ(PixelAt(out.get(), 0, 0), 100u);
    EXPECT_EQ(PixelAt(out.get(), 1, 0), 0u);
}

// ---- Refusals, failures and stops ----

TEST(ResampleContract, RefusesBadArgumentsWithTheSlotCleared) {
    LeakCheck leaks;
    KOwnedHandle rgb(MakeRandomPaletteDIB(8, 8, 24, 1)), mono(MakeRandomPaletteDIB(8, 8, 1, 1));
    KOwnedHandle garbage(KML_GlobalAlloc(KMEM_GHND, 64));
    KOwnedHandle compressed(MakeRandomPaletteDIB(8, 8, 8, 1));
    {
        DIBLock d(compressed.get());
        d->biCompression = 1;
    }
    struct Case {
        const char* what;
        KHANDLE src;
        int w, h;
    };
    const Case kCases[] = {
        {"null source", nullptr, 4, 4},         {"width 0", rgb.get(), 0, 4},
        {"negative width", rgb.get(), -3, 4},   {"height 0", rgb.get(), 4, 0},
        {"1-bit source", mono.get(), 4, 4},     {"not a DIB", garbage.get(), 4, 4},
        {"compressed", compressed.get(), 4, 4},
    };
    for (const Case& c : kCases)
        ExpectRefused(
            [&](KHANDLE* out) {
                return ResampleDIB(nullptr, c.src, out, int16_t(c.w), uint16_t(c.h));
            },
            KERV_INVALID_PARAM, c.what);
    EXPECT_EQ(ResampleDIB(nullptr, rgb.get(), nullptr, 4, 4), KERV_INVALID_PARAM);
}

TEST(ResampleContract, EveryAllocationFailureFreesEverything) {
    // Reduction, two-column enlargement and wide footprints, at each depth.
    const SizePair kPairs[] = {{40, 30, 20, 15}, {10, 7, 33, 21}, {50, 9, 3, 2}};
    for (int bits : kAveragedDepths)
        for (const SizePair& s : kPairs) {
            KOwnedHandle src(MakeRandomPaletteDIB(s.w, s.h, bits, 3));
            const int points = SweepAllocationFailures(src.get(), [&](KHANDLE* out) {
                return ResampleDIB(nullptr, src.get(), out, int16_t(s.ow), uint16_t(s.oh));
            });
            EXPECT_GE(points, bits == 4 ? 5 : 4) << Where(bits, s.w, s.h, s.ow, s.oh);
        }
}

// A stop at every output row; 12 rows give 14 calls.
TEST(ResampleContract, StopLeavesNothingBehind) {
    for (int bits : kAveragedDepths) {
        KOwnedHandle src(MakeRandomPaletteDIB(30, 20, bits, 4));
        EXPECT_EQ(SweepStops(src.get(),
                             [&](StatusControlBlock* s, KHANDLE* out) {
                                 return ResampleDIB(s, src.get(), out, 45, 12);
                             }),
                  13)
            << bits << " bits";
    }
}

TEST(ResampleContract, ProgressCountsOutputRows) {
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomPaletteDIB(30, 20, 24, 4));
    // The start, 9 rows, the end.
    EXPECT_EQ(RecordProgress([&](StatusControlBlock* s, KHANDLE* out) {
                  return ResampleDIB(s, src.get(), out, 17, 9);
              }),
              UnitProgress(9));
}

} // namespace
