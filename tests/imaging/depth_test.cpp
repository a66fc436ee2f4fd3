// IncreaseDepthDIB: every source/target pair, colours preserved, the header
// rules, argument checks, stop and allocation failures.
#include "imaging/depth.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace brellix::test;

namespace {

struct Pair {
    int from, to;
};
const Pair kPairs[] = {{1, 4}, {1, 8}, {1, 24}, {4, 8}, {4, 24}, {8, 24}};

// The colour (0xRRGGBB) a pixel shows, whatever the depth.
uint32_t ColourAt(KHANDLE h, int x, int y) {
    const uint32_t v = PixelAt(h, x, y);
    DIBLock d(h);
    if (d.bitCount() == 24) return v;
    const RGBQUAD& q = d.palette()[v];
    return (uint32_t{q.rgbRed} << 16) | (uint32_t{q.rgbGreen} << 8) | q.rgbBlue;
}

// Odd widths exercise the partial bytes of 1- and 4-bit rows.
KHANDLE Source(int bits, int w = 13, int h = 5) {
    KHANDLE s = MakeRandomDIB(w, h, bits, 7u * bits + 1);
    DIBLock d(s);
    d->biXPelsPerMeter = 2835;
    d->biYPelsPerMeter = 1417;
    return s;
}

}  // namespace

TEST(IncreaseDepth, KeepsEveryPixelsColourAtEveryPair) {
    LeakCheck leaks;
    for (const Pair& p : kPairs) {
        SCOPED_TRACE(testing::Message() << p.from << " -> " << p.to);
        KHANDLE src = Source(p.from);
        const auto before = BlockBytes(src);
        KHANDLE out = nullptr;
        ASSERT_EQ(IncreaseDepthDIB(nullptr, src, &out, static_cast<uint16_t>(p.to)), 0);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(BlockBytes(src), before);
        {
            DIBLock d(out);
            ASSERT_TRUE(d);
            EXPECT_EQ(d.bitCount(), p.to);
            EXPECT_EQ(d.width(), 13);
            EXPECT_EQ(d.height(), 5);
            const uint32_t entries = p.to == 24 ? 0 : 1u << p.to;
            EXPECT_EQ(d->biClrUsed, entries);
            EXPECT_EQ(d->biClrImportant, entries);
            EXPECT_EQ(d->biSizeImage, DIBStride(p.to, 13) * 5);
            EXPECT_EQ(d->biXPelsPerMeter, 2835);
            EXPECT_EQ(d->biYPelsPerMeter, 1417);
            EXPECT_EQ(KML_GlobalSize(out), 40 + 4 * entries + DIBStride(p.to, 13) * 5);
        }
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 13; ++x) {
                ASSERT_EQ(ColourAt(out, x, y), ColourAt(src, x, y)) << x << "," << y;
                if (p.to != 24) {
                    ASSERT_EQ(PixelAt(out, x, y), PixelAt(src, x, y));
                }
            }
        KML_GlobalFree(out);
        KML_GlobalFree(src);
    }
}

TEST(IncreaseDepth, OneBitBlackWhiteToEightAndTwentyFour) {
    LeakCheck leaks;
    KHANDLE src = nullptr;
    ASSERT_EQ(NewDIB(&src, 4, 1, 1, 0, 0, 0, 0, nullptr), 0);
    SetPixel(src, 1, 0, 1);
    SetPixel(src, 3, 0, 1);
    KHANDLE eight = nullptr, full = nullptr;
    ASSERT_EQ(IncreaseDepthDIB(nullptr, src, &eight, 8), 0);
    ASSERT_EQ(IncreaseDepthDIB(nullptr, src, &full, 24), 0);
    EXPECT_EQ(PixelAt(eight, 0, 0), 0u);
    EXPECT_EQ(PixelAt(eight, 1, 0), 1u);
    {
        DIBLock d(eight);
        const RGBQUAD* pal = d.palette();
        EXPECT_EQ(pal[1].rgbRed, 255);
        EXPECT_EQ(pal[1].rgbGreen, 255);
        EXPECT_EQ(pal[1].rgbBlue, 255);
        for (int i = 2; i < 256; ++i)
            ASSERT_TRUE(pal[i].rgbRed == 0 && pal[i].rgbGreen == 0 && pal[i].rgbBlue == 0) << i;
    }
    EXPECT_EQ(PixelAt(full, 0, 0), 0x000000u);
    EXPECT_EQ(PixelAt(full, 1, 0), 0xFFFFFFu);
    EXPECT_EQ(PixelAt(full, 2, 0), 0x000000u);
    EXPECT_EQ(PixelAt(full, 3, 0), 0xFFFFFFu);
    KML_GlobalFree(eight);
    KML_GlobalFree(full);
    KML_GlobalFree(src);
}

TEST(IncreaseDepth, IndexBeyondTheTableBecomesBlack) {
    LeakCheck leaks;
    KHANDLE src = Source(8, 3, 1);
    {
        DIBLock d(src);
        d->biClrUsed = 4;  // a short table; the block keeps its size
    }
    // With a 4-entry table the pixels start 16 bytes earlier.
    {
        DIBLock d(src);
        d.row(0)[0] = 2;
        d.row(0)[1] = 200;
    }
    KHANDLE out = nullptr;
    ASSERT_EQ(IncreaseDepthDIB(nullptr, src, &out, 24), 0);
    RGBQUAD q;
    {
        DIBLock s(src);
        q = s.palette()[2];
    }
    EXPECT_EQ(PixelAt(out, 0, 0), (uint32_t{q.rgbRed} << 16) | (uint32_t{q.rgbGreen} << 8) | q.rgbBlue);
    EXPECT_EQ(PixelAt(out, 1, 0), 0u);
    KML_GlobalFree(out);
    KML_GlobalFree(src);
}

TEST(IncreaseDepth, RefusesBadArguments) {
    LeakCheck leaks;
    KHANDLE eight = Source(8), full = Source(24), four = Source(4);
    ExpectRefused([](KHANDLE* out) { return IncreaseDepthDIB(nullptr, nullptr, out, 24); });
    EXPECT_EQ(IncreaseDepthDIB(nullptr, eight, nullptr, 24), KERV_INVALID_PARAM);
    const struct {
        KHANDLE src;
        int target;
    } bad[] = {{eight, 8}, {eight, 4}, {eight, 16}, {eight, 1}, {eight, 0}, {four, 4},
               {four, 1}, {full, 24}, {full, 8}, {full, 32}};
    for (const auto& b : bad)
        ExpectRefused(
            [&](KHANDLE* out) {
                return IncreaseDepthDIB(nullptr, b.src, out, static_cast<uint16_t>(b.target));
            },
            KERV_INVALID_PARAM, std::to_string(b.target));
    KML_GlobalFree(eight);
    KML_GlobalFree(full);
    KML_GlobalFree(four);
}

TEST(IncreaseDepth, ReportsRowsAndStops) {
    LeakCheck leaks;
    KHANDLE src = Source(4, 9, 6);
    // 0 of 100, then rows 0..5 of 6, then 6 of 6.
    const auto to = [src](int bits) -> StatusOp {
        return [src, bits](StatusControlBlock* s, KHANDLE* out) {
            return IncreaseDepthDIB(s, src, out, uint16_t(bits));
        };
    };
    EXPECT_EQ(RecordProgress(to(8)), UnitProgress(6));
    // Calls: 1 the start (not consulted alone), 2..7 the rows, 8 the end.
    EXPECT_EQ(SweepStops(src, to(24)), 7);
    KML_GlobalFree(src);
}

TEST(IncreaseDepth, AllocationFailuresFreeEverything) {
    for (const Pair& p : kPairs) {
        KHANDLE src = Source(p.from);
        const int points = SweepAllocationFailures(src, [&](KHANDLE* out) {
            return IncreaseDepthDIB(nullptr, src, out, static_cast<uint16_t>(p.to));
        });
        EXPECT_GE(points, 2) << p.from << " -> " << p.to;
        KML_GlobalFree(src);
    }
}
