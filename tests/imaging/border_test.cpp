#include "imaging/border.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace brellix::test;

namespace {

const int kDepths[] = {1, 4, 8, 24};

BITMAPINFOHEADER Header(KHANDLE h) {
    DIBLock d(h);
    return *d.header();
}

// Row bytes of the stored row `r` (0 = bottom), padding included.
std::vector<uint8_t> StoredRow(KHANDLE h, int r) {
    DIBLock d(h);
    const uint8_t* p = d.row(r);
    return std::vector<uint8_t>(p, p + d.stride());
}

KHANDLE Bordered(KHANDLE src, int top, int bottom, int right, int left, uint32_t c0,
                 uint32_t c1 = 0, uint8_t c2 = 0) {
    KHANDLE out = nullptr;
    EXPECT_EQ(AddBorderDIB(nullptr, src, &out, int16_t(top), int16_t(bottom), int16_t(right),
                           int16_t(left), c0, c1, c2),
              0);
    return out;
}

// The value PixelAt reports for a margin pixel.
uint32_t FillValue(int bits, uint32_t c0, uint32_t c1, uint8_t c2) {
    switch (bits) {
    case 24:
        return ((c0 & 255) << 16) | ((c1 & 255) << 8) | c2;
    case 8:
        return c0 & 255;
    case 4:
        return c0 & 15;
    default:
        return c0 != 0 ? 1 : 0;
    }
}

struct Margins {
    int top, bottom, right, left;
};

std::string Where(int bits, int w, int h, const Margins& m) {
    return std::to_string(bits) + " bits " + std::to_string(w) + "x" + std::to_string(h) + " top " +
           std::to_string(m.top) + " bottom " + std::to_string(m.bottom) + " right " +
           std::to_string(m.right) + " left " + std::to_string(m.left);
}

// The pixel-by-pixel reference: size, header, palette, margins, the image
// at its offset, and clean padding.
void ExpectBordered(KHANDLE src, KHANDLE out, const Margins& m, uint32_t c0, uint32_t c1,
                    uint8_t c2, const std::string& where) {
    ASSERT_NE(out, nullptr) << where;
    const BITMAPINFOHEADER s = Header(src), o = Header(out);
    ASSERT_EQ(o.biWidth, m.left + s.biWidth + m.right) << where;
    ASSERT_EQ(o.biHeight, m.top + s.biHeight + m.bottom) << where;
    EXPECT_EQ(o.biBitCount, s.biBitCount) << where;
    EXPECT_EQ(o.biSizeImage, DIBStride(&o) * uint32_t(o.biHeight)) << where;
    EXPECT_EQ(KML_GlobalSize(out), DIBTotalBytes(&o)) << where;
    BITMAPINFOHEADER same = o;
    same.biWidth = s.biWidth, same.biHeight = s.biHeight, same.biSizeImage = s.biSizeImage;
    EXPECT_EQ(std::memcmp(&same, &s, sizeof s), 0) << "other header fields copied, " << where;
    {
        DIBLock ds(src), dout(out);
        EXPECT_EQ(std::memcmp(ds.palette(), dout.palette(), DIBPaletteBytes(&s)), 0) << where;
    }
    const Rows in = PixelRows(src), got = PixelRows(out);
    const uint32_t fill = FillValue(s.biBitCount, c0, c1, c2);
    int wrong = 0;
    for (int y = 0; y < o.biHeight; ++y)
        for (int x = 0; x < o.biWidth; ++x) {
            const int sx = x - m.left, sy = y - m.top;
            const bool inside = sx >= 0 && sx < s.biWidth && sy >= 0 && sy < s.biHeight;
            const uint32_t want = inside ? in[size_t(sy)][size_t(sx)] : fill;
            wrong += got[size_t(y)][size_t(x)] != want;
        }
    EXPECT_EQ(wrong, 0) << "pixels, " << where;
    EXPECT_EQ(NonZeroPadding(out), 0) << "padding, " << where;
}

// ---- AddBorderDIB: hand-computed rows ----

TEST(AddBorder, ThreeLeftAtOneBitShiftsEveryRowByThreeBits) {
    // Source rows 1011 0011 and 0100 1100 (8 pixels): with 3 fill bits in
    // front the 11 pixels are fff1 0110 011- ----.
    KOwnedHandle src(FromRows(1, {{1, 0, 1, 1, 0, 0, 1, 1}, {0, 1, 0, 0, 1, 1, 0, 0}}));
    struct Case {
        uint32_t colour0;
        std::vector<uint8_t> topRow, bottomRow; // stored bytes of the two rows
    };
    for (const Case& c : {Case{1, {0xF6, 0x60, 0, 0}, {0xE9, 0x80, 0, 0}},
                          Case{0, {0x16, 0x60, 0, 0}, {0x09, 0x80, 0, 0}},
                          Case{200, {0xF6, 0x60, 0, 0}, {0xE9, 0x80, 0, 0}}}) {
        LeakCheck leaks;
        KOwnedHandle out(Bordered(src.get(), 0, 0, 0, 3, c.colour0));
        ASSERT_EQ(Header(out.get()).biWidth, 11);
        EXPECT_EQ(StoredRow(out.get(), 1), c.topRow) << c.colour0;
        EXPECT_EQ(StoredRow(out.get(), 0), c.bottomRow) << c.colour0;
    }
}

TEST(AddBorder, OneBitRightMarginCompletesThePartialByte) {
    // 5 pixels 10110, right 6 with fill 1: 1011 0111 111- ----.
    KOwnedHandle src(FromRows(1, {{1, 0, 1, 1, 0}}));
    KOwnedHandle out(Bordered(src.get(), 0, 0, 6, 0, 1));
    EXPECT_EQ(StoredRow(out.get(), 0), (std::vector<uint8_t>{0xB7, 0xE0, 0, 0}));
    // Left 5 and right 4 with fill 1: 1111 1101 1011 11-- .
    KOwnedHandle both(Bordered(src.get(), 0, 0, 4, 5, 1));
    EXPECT_EQ(StoredRow(both.get(), 0), (std::vector<uint8_t>{0xFD, 0xBC, 0, 0}));
}

TEST(AddBorder, OddLeftMarginsAtFourBitsMoveEveryPixelHalfAByte) {
    KOwnedHandle src(FromRows(4, {{1, 2, 3}, {0xA, 0xB, 0xC}}));
    struct Case {
        Margins m;
        std::vector<uint8_t> topRow;
    };
    // Fill 7.
    for (const Case& c : {Case{{0, 0, 2, 1}, {0x71, 0x23, 0x77, 0}}, // 7 1 2 3 7 7
                          Case{{0, 0, 0, 3}, {0x77, 0x71, 0x23, 0}}, // 7 7 7 1 2 3
                          Case{{0, 0, 1, 0}, {0x12, 0x37, 0, 0}},    // 1 2 3 7
                          Case{{0, 0, 0, 1}, {0x71, 0x23, 0, 0}},    // 7 1 2 3
                          Case{{0, 0, 3, 2}, {0x77, 0x12, 0x37, 0x77}}}) {
        KOwnedHandle out(Bordered(src.get(), c.m.top, c.m.bottom, c.m.right, c.m.left, 7));
        EXPECT_EQ(StoredRow(out.get(), 1), c.topRow) << Where(4, 3, 2, c.m);
        ExpectBordered(src.get(), out.get(), c.m, 7, 0, 0, Where(4, 3, 2, c.m));
    }
    // A pixel left with 1 in front: 7 A | B C -> stored 0x7A 0xBC.
    KOwnedHandle one(Bordered(src.get(), 0, 0, 0, 1, 7));
    EXPECT_EQ(StoredRow(one.get(), 0), (std::vector<uint8_t>{0x7A, 0xBC, 0, 0}));
}

TEST(AddBorder, TopOfThePictureIsTheEndOfTheBlock) {
    // 8 bits, 2x1 image, top 2, bottom 1, fill 9: stored row 0 is the bottom
    // margin, row 1 the image, rows 2 and 3 the top margin.
    KOwnedHandle src(FromRows(8, {{5, 6}}));
    KOwnedHandle out(Bordered(src.get(), 2, 1, 1, 1, 9));
    EXPECT_EQ(StoredRow(out.get(), 0), (std::vector<uint8_t>{9, 9, 9, 9}));
    EXPECT_EQ(StoredRow(out.get(), 1), (std::vector<uint8_t>{9, 5, 6, 9}));
    EXPECT_EQ(StoredRow(out.get(), 2), (std::vector<uint8_t>{9, 9, 9, 9}));
    EXPECT_EQ(StoredRow(out.get(), 3), (std::vector<uint8_t>{9, 9, 9, 9}));
    KOwnedHandle topOnly(Bordered(src.get(), 1, 0, 0, 0, 9));
    EXPECT_EQ(StoredRow(topOnly.get(), 0), (std::vector<uint8_t>{5, 6, 0, 0}));
    EXPECT_EQ(StoredRow(topOnly.get(), 1), (std::vector<uint8_t>{9, 9, 0, 0}));
}

TEST(AddBorder, TrueColourFillIsBlueGreenRedFromColourTwoOneZero) {
    // red = colour0, green = colour1, blue = colour2; only the low byte of
    // the two 32-bit colours counts.
    KOwnedHandle src(FromRows(24, {{0x010203}}));
    KOwnedHandle out(Bordered(src.get(), 0, 0, 1, 1, 0x110, 0x220, 0x33));
    EXPECT_EQ(StoredRow(out.get(), 0),
              (std::vector<uint8_t>{0x33, 0x20, 0x10, 3, 2, 1, 0x33, 0x20, 0x10, 0, 0, 0}));
}

TEST(AddBorder, FillValueAtEachDepth) {
    struct Case {
        int bits;
        uint32_t c0, c1;
        uint8_t c2;
    };
    for (const Case& c :
         {Case{1, 0, 0, 0}, Case{1, 1, 0, 0}, Case{1, 77, 0, 0}, Case{4, 0, 0, 0}, Case{4, 9, 0, 0},
          Case{4, 15, 0, 0}, Case{4, 0x13, 0, 0}, Case{8, 0, 0, 0}, Case{8, 200, 0, 0},
          Case{8, 0x1FF, 0, 0}, Case{24, 255, 0, 0}, Case{24, 1, 2, 3}, Case{24, 0, 0, 255}}) {
        KOwnedHandle src(MakeRandomDIB(7, 5, c.bits, 3));
        const Margins m{3, 2, 5, 4};
        KOwnedHandle out(Bordered(src.get(), m.top, m.bottom, m.right, m.left, c.c0, c.c1, c.c2));
        ExpectBordered(src.get(), out.get(), m, c.c0, c.c1, c.c2,
                       Where(c.bits, 7, 5, m) + " colour0 " + std::to_string(c.c0));
    }
}

TEST(AddBorder, ZeroMarginsGiveACopy) {
    for (int bits : kDepths) {
        // Random source padding: the copy has the same pixels, padding zero.
        KOwnedHandle noisy(MakeRandomDIB(13, 6, bits, 5));
        KOwnedHandle out(Bordered(noisy.get(), 0, 0, 0, 0, 1));
        EXPECT_EQ(ImageContent(out.get()), ImageContent(noisy.get())) << bits;
        EXPECT_EQ(NonZeroPadding(out.get()), 0) << bits;
        // A source with clean padding comes back byte for byte.
        KOwnedHandle clean(FromRows(bits, PixelRows(noisy.get())));
        KOwnedHandle copy(Bordered(clean.get(), 0, 0, 0, 0, 1));
        EXPECT_EQ(BlockBytes(copy.get()), BlockBytes(clean.get())) << bits;
    }
}

TEST(AddBorder, KeepsResolutionPaletteAndShortPalettes) {
    for (int bits : kDepths) {
        KOwnedHandle src(MakeRandomDIB(6, 4, bits, 9));
        {
            DIBLock d(src.get());
            d->biXPelsPerMeter = 3780;
            d->biYPelsPerMeter = 1234;
            if (bits != 24) d.palette()[1] = RGBQUAD{9, 8, 7, 0};
        }
        KOwnedHandle out(Bordered(src.get(), 1, 2, 3, 4, 1));
        ExpectBordered(src.get(), out.get(), {1, 2, 3, 4}, 1, 0, 0,
                       Where(bits, 6, 4, {1, 2, 3, 4}));
        EXPECT_EQ(Header(out.get()).biXPelsPerMeter, 3780);
        EXPECT_EQ(Header(out.get()).biYPelsPerMeter, 1234);
    }
    // An 8-bit image carrying 16 palette entries keeps exactly those.
    KHANDLE h = AllocDIB(5, 3, 8, 16);
    ASSERT_NE(h, nullptr);
    KOwnedHandle shortPal(h);
    {
        DIBLock d(h);
        for (int i = 0; i < 16; ++i)
            d.palette()[i] = RGBQUAD{uint8_t(i), uint8_t(2 * i), 1, 0};
        for (int r = 0; r < 3; ++r)
            for (int x = 0; x < 5; ++x)
                d.row(r)[x] = uint8_t((r * 5 + x) % 16);
    }
    KOwnedHandle out(Bordered(h, 2, 2, 2, 2, 3));
    EXPECT_EQ(Header(out.get()).biClrUsed, 16u);
    ExpectBordered(h, out.get(), {2, 2, 2, 2}, 3, 0, 0, "16-entry palette");
    // biClrUsed 0 at 8 bits means a full 256-entry palette, carried over whole.
    KHANDLE z = AllocDIB(3, 2, 8, 0);
    ASSERT_NE(z, nullptr);
    KOwnedHandle zeroCount(z);
    {
        DIBLock d(z);
        d.palette()[255] = RGBQUAD{1, 2, 3, 0};
        d.row(0)[1] = 255;
    }
    KOwnedHandle full(Bordered(z, 1, 0, 0, 1, 255));
    EXPECT_EQ(Header(full.get()).biClrUsed, 0u);
    ExpectBordered(z, full.get(), {1, 0, 0, 1}, 255, 0, 0, "biClrUsed 0");
}

// ---- AddBorderDIB: against the reference over many sizes and margins ----

TEST(AddBorder, MatchesPixelReferenceForRandomMarginsAndSizes) {
    std::mt19937 rng(20261208);
    for (int bits : kDepths) {
        for (int i = 0; i < 120; ++i) {
            const int w = 1 + int(rng() % 41), h = 1 + int(rng() % 9);
            const Margins m{int(rng() % 18), int(rng() % 18), int(rng() % 18), int(rng() % 18)};
            const uint32_t c0 = rng() % 300, c1 = rng() % 256;
            const auto c2 = uint8_t(rng());
            KOwnedHandle src(MakeRandomDIB(w, h, bits, rng()));
            const auto before = BlockBytes(src.get());
            KOwnedHandle out(Bordered(src.get(), m.top, m.bottom, m.right, m.left, c0, c1, c2));
            ExpectBordered(src.get(), out.get(), m, c0, c1, c2, Where(bits, w, h, m));
            EXPECT_EQ(BlockBytes(src.get()), before) << "source changed, " << Where(bits, w, h, m);
        }
    }
}

// Wide rows: the 24-bit fill goes in chunks, the packed writer crosses many bytes.
TEST(AddBorder, WideMarginsAndRows) {
    for (int bits : kDepths) {
        KOwnedHandle src(MakeRandomDIB(300, 3, bits, 11));
        for (const Margins& m :
             {Margins{1, 1, 200, 131}, Margins{0, 0, 64, 64}, Margins{2, 0, 0, 129}}) {
            KOwnedHandle out(Bordered(src.get(), m.top, m.bottom, m.right, m.left, 5, 6, 7));
            ExpectBordered(src.get(), out.get(), m, 5, 6, 7, Where(bits, 300, 3, m));
        }
    }
}

// ---- AddBorderDIB: contract ----

TEST(AddBorderContract, InvalidParameters) {
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(8, 8, 8, 1));
    const auto before = BlockBytes(src.get());
    for (const Margins& m : {Margins{-1, 0, 0, 0}, Margins{0, -1, 0, 0}, Margins{0, 0, -1, 0},
                             Margins{0, 0, 0, -1}, Margins{-32768, -32768, -32768, -32768}}) {
        ExpectRefused(
            [&](KHANDLE* out) {
                return AddBorderDIB(nullptr, src.get(), out, int16_t(m.top), int16_t(m.bottom),
                                    int16_t(m.right), int16_t(m.left), 0, 0, 0);
            },
            101, Where(8, 8, 8, m));
    }
    ExpectRefused(
        [](KHANDLE* out) { return AddBorderDIB(nullptr, nullptr, out, 1, 1, 1, 1, 0, 0, 0); });
    EXPECT_EQ(AddBorderDIB(nullptr, src.get(), nullptr, 1, 1, 1, 1, 0, 0, 0), 101);

    // Blocks that are not usable DIBs: compressed, a bad depth, too short.
    KOwnedHandle packed(MakeRandomDIB(8, 8, 8, 1));
    DIBLock(packed.get())->biCompression = 1;
    KOwnedHandle depth16(MakeRandomDIB(8, 8, 24, 1));
    DIBLock(depth16.get())->biBitCount = 16;
    KOwnedHandle tiny(KML_GlobalAlloc(KMEM_GHND, 20));
    for (KHANDLE bad : {packed.get(), depth16.get(), tiny.get()})
        ExpectRefused(
            [&](KHANDLE* out) { return AddBorderDIB(nullptr, bad, out, 1, 1, 1, 1, 0, 0, 0); });
    EXPECT_EQ(BlockBytes(src.get()), before);
}

TEST(AddBorderContract, SizeBeyondWhatABlockCanHoldIsOutOfMemory) {
    LeakCheck leaks;
    // 24 bits, 32767 x 32767 margins around 1 x 1: about 12 GB of pixels.
    KOwnedHandle src(MakeRandomDIB(1, 1, 24, 1));
    KHANDLE out = reinterpret_cast<KHANDLE>(uintptr_t{1});
    EXPECT_EQ(AddBorderDIB(nullptr, src.get(), &out, 32767, 32767, 32767, 32767, 0, 0, 0), 102);
    EXPECT_EQ(out, nullptr);
    // A header claiming more than its block holds is not read.
    KHANDLE h = AllocDIB(1, 1, 8, 256);
    ASSERT_NE(h, nullptr);
    KOwnedHandle lying(h);
    DIBLock(h)->biWidth = INT32_MAX;
    EXPECT_EQ(AddBorderDIB(nullptr, h, &out, 0, 0, 32767, 32767, 0, 0, 0), 101);
    EXPECT_EQ(out, nullptr);
}

TEST(AddBorderContract, EveryAllocationFailureIsCleanedUp) {
    for (int bits : kDepths) {
        KOwnedHandle src(MakeRandomDIB(11, 6, bits, 1));
        const int points = SweepAllocationFailures(src.get(), [&](KHANDLE* out) {
            return AddBorderDIB(nullptr, src.get(), out, 2, 3, 4, 5, 1, 2, 3);
        });
        EXPECT_GT(points, 0) << bits << " bits";
    }
}

TEST(AddBorderContract, ProgressIsCoarse) {
    KOwnedHandle src(MakeRandomDIB(10, 10, 24, 3));
    const StatusOp border = [&](StatusControlBlock* s, KHANDLE* out) {
        return AddBorderDIB(s, src.get(), out, 1, 1, 1, 1, 0, 0, 0);
    };
    EXPECT_EQ(RecordProgress(border), (Progress{{0, 100}, {25, 100}, {75, 100}, {100, 100}}));

    // The last call's answer is not consulted; no callback means no calls.
    StoppingStatus late(4);
    KHANDLE out = nullptr;
    ASSERT_EQ(border(&late.block, &out), 0);
    KOwnedHandle owner2(out);
    EXPECT_EQ(late.calls, 4);
    StatusControlBlock silent;
    ASSERT_EQ(border(&silent, &out), 0);
    KOwnedHandle owner3(out);
}

// Call 1 is the start (its answer is ignored), call 2 follows the top
// margin, call 3 the image rows, call 4 is the end.
TEST(AddBorderContract, StopAtEitherProgressPointKeepsNothing) {
    for (int bits : kDepths) {
        KOwnedHandle src(MakeRandomDIB(9, 5, bits, 2));
        EXPECT_EQ(SweepStops(src.get(),
                             [&](StatusControlBlock* s, KHANDLE* out) {
                                 return AddBorderDIB(s, src.get(), out, 2, 2, 2, 2, 1, 0, 0);
                             }),
                  3)
            << bits << " bits";
    }
}

// ---- CropImage ----

KervErrorCode Crop(KHANDLE src, KHANDLE* out, int fromCentre, int left, int top, int right,
                   int bottom, int width, int height) {
    return CropImage(nullptr, src, out, int16_t(fromCentre), left, top, right, bottom,
                     int16_t(width), int16_t(height));
}

struct Rect {
    int left, top, right, bottom; // right and bottom exclusive
};

// The output must be the source's rectangle, pixel for pixel, with the
// source's header fields and palette.
void ExpectCrop(KHANDLE src, KHANDLE out, const Rect& r, const std::string& where) {
    ASSERT_NE(out, nullptr) << where;
    const BITMAPINFOHEADER s = Header(src), o = Header(out);
    ASSERT_EQ(o.biWidth, r.right - r.left) << where;
    ASSERT_EQ(o.biHeight, r.bottom - r.top) << where;
    EXPECT_EQ(o.biBitCount, s.biBitCount) << where;
    EXPECT_EQ(o.biClrUsed, s.biClrUsed) << where;
    const Rows in = PixelRows(src), got = PixelRows(out);
    int wrong = 0;
    for (int y = 0; y < o.biHeight; ++y)
        for (int x = 0; x < o.biWidth; ++x)
            wrong += got[size_t(y)][size_t(x)] != in[size_t(r.top + y)][size_t(r.left + x)];
    EXPECT_EQ(wrong, 0) << where;
}

TEST(Crop, FiveFromEachEdgeOfANarrowImageKeepsAllColumns) {
    for (int bits : kDepths) {
        KOwnedHandle src(MakeRandomDIB(8, 100, bits, 4));
        KHANDLE out = nullptr;
        ASSERT_EQ(Crop(src.get(), &out, 0, 5, 5, 5, 5, 0, 0), 0) << bits;
        KOwnedHandle owner(out);
        ExpectCrop(src.get(), out, {0, 5, 8, 95}, std::to_string(bits) + " bits");
    }
}

TEST(Crop, MarginsLargerThanTheImageBothWaysFailBeforeAllocating) {
    for (int bits : kDepths) {
        LeakCheck leaks;
        KOwnedHandle src(MakeRandomDIB(8, 100, bits, 4));
        const auto before = BlockBytes(src.get());
        struct Case {
            int fromCentre, left, top, right, bottom, width, height;
        };
        for (const Case& c : {Case{0, 5, 60, 5, 60, 0, 0}, Case{0, 9, 101, 0, 0, 0, 0},
                              Case{1, 0, 0, 0, 0, 9, 101}, Case{1, 0, 0, 0, 0, 32767, 32767}}) {
            ExpectRefused(
                [&](KHANDLE* out) {
                    return Crop(src.get(), out, c.fromCentre, c.left, c.top, c.right, c.bottom,
                                c.width, c.height);
                },
                -5026);
        }
        EXPECT_EQ(BlockBytes(src.get()), before);
    }
}

TEST(Crop, CentreFourByFourOfNineByNineKeepsTwoToFive) {
    for (int bits : kDepths) {
        KOwnedHandle src(MakeRandomDIB(9, 9, bits, 6));
        KHANDLE out = nullptr;
        ASSERT_EQ(Crop(src.get(), &out, 1, 0, 0, 0, 0, 4, 4), 0) << bits;
        KOwnedHandle owner(out);
        ExpectCrop(src.get(), out, {2, 2, 6, 6}, std::to_string(bits) + " bits");
    }
}

// Hand-worked rectangles on a 20 x 12 image.
TEST(Crop, RectanglesFromEdgesAndCentre) {
    struct Case {
        const char* name;
        int fromCentre, left, top, right, bottom, width, height;
        Rect want;
    };
    const Case cases[] = {
        {"edges, all four", 0, 3, 2, 4, 1, 0, 0, {3, 2, 16, 11}},
        {"edges, none", 0, 0, 0, 0, 0, 0, 0, {0, 0, 20, 12}},
        {"edges, one column left", 0, 10, 0, 9, 0, 0, 0, {10, 0, 11, 12}},
        {"edges, columns add up to the width: kept", 0, 10, 1, 10, 1, 0, 0, {0, 1, 20, 11}},
        {"edges, rows add up to more: kept", 0, 1, 7, 1, 7, 0, 0, {1, 0, 19, 12}},
        {"edges, both exactly the size: whole image", 0, 10, 6, 10, 6, 0, 0, {0, 0, 20, 12}},
        {"edges, one way too big only", 0, 30, 1, 0, 1, 0, 0, {0, 1, 20, 11}},
        {"centre, smaller both ways", 1, 0, 0, 0, 0, 5, 3, {8, 5, 13, 8}},
        {"centre, odd into even", 1, 0, 0, 0, 0, 7, 11, {7, 1, 14, 12}},
        {"centre, same size", 1, 0, 0, 0, 0, 20, 12, {0, 0, 20, 12}},
        {"centre, wider than the image", 1, 0, 0, 0, 0, 25, 4, {0, 4, 20, 8}},
        {"centre, taller than the image", 1, 0, 0, 0, 0, 1, 40, {10, 0, 11, 12}},
        {"centre mode ignores margins", 1, 5, 5, 5, 5, 2, 2, {9, 5, 11, 7}},
        {"edges mode ignores sizes", 0, 1, 1, 1, 1, 3, 3, {1, 1, 19, 11}},
    };
    for (int bits : kDepths) {
        KOwnedHandle src(MakeRandomDIB(20, 12, bits, 8));
        for (const Case& c : cases) {
            LeakCheck leaks;
            KHANDLE out = nullptr;
            ASSERT_EQ(Crop(src.get(), &out, c.fromCentre, c.left, c.top, c.right, c.bottom, c.width,
                           c.height),
                      0)
                << c.name << ", " << bits << " bits";
            KOwnedHandle owner(out);
            ExpectCrop(src.get(), out, c.want, std::string(c.name) + ", " + std::to_string(bits));
        }
    }
}

// Values a hand-edited script may carry: each either fails with 101 or
// gives a crop inside the image, never a read outside it.
TEST(Crop, HostileValuesNeverLeaveTheImage) {
    struct Case {
        const char* name;
        int fromCentre, left, top, right, bottom, width, height;
        KervErrorCode code;
        Rect want; // when code is 0
    };
    const Case cases[] = {
        {"negative left", 0, -3, 0, 0, 0, 0, 0, 101, {}},
        {"negative top", 0, 0, -1, 0, 0, 0, 0, 101, {}},
        {"negative right", 0, 0, 0, -2, 0, 0, 0, 101, {}},
        {"negative bottom", 0, 0, 0, 0, -7, 0, 0, 101, {}},
        {"negative pair", 0, -5, 0, -5, 0, 0, 0, 101, {}},
        {"negative left, right too big: columns kept", 0, -3, 1, 30, 1, 0, 0, 0, {0, 1, 20, 11}},
        {"lowest left", 0, INT_MIN, 0, 0, 0, 0, 0, 101, {}},
        {"lowest right", 0, 0, 0, INT_MIN, 0, 0, 0, 101, {}},
        {"lowest left and right", 0, INT_MIN, 0, INT_MIN, 0, 0, 0, 101, {}},
        {"highest margins", 0, INT_MAX, INT_MAX, INT_MAX, INT_MAX, 0, 0, -5026, {}},
        {"highest and lowest", 0, INT_MAX, 0, INT_MIN, 0, 0, 0, 101, {}},
        {"lowest top, highest bottom", 0, 0, INT_MIN, 0, INT_MAX, 0, 0, 101, {}},
        {"centre, zero width", 1, 0, 0, 0, 0, 0, 5, 101, {}},
        {"centre, zero both", 1, 0, 0, 0, 0, 0, 0, 101, {}},
        {"centre, negative width", 1, 0, 0, 0, 0, -4, 5, 101, {}},
        {"centre, negative height", 1, 0, 0, 0, 0, 4, -32768, 101, {}},
        {"centre, negative flag", -1, 0, 0, 0, 0, 4, 4, 0, {8, 4, 12, 8}},
    };
    for (int bits : kDepths) {
        KOwnedHandle src(MakeRandomDIB(20, 12, bits, 10));
        const auto before = BlockBytes(src.get());
        for (const Case& c : cases) {
            LeakCheck leaks;
            KHANDLE out = reinterpret_cast<KHANDLE>(uintptr_t{1});
            const KervErrorCode rc = Crop(src.get(), &out, c.fromCentre, c.left, c.top, c.right,
                                          c.bottom, c.width, c.height);
            EXPECT_EQ(rc, c.code) << c.name << ", " << bits << " bits";
            KOwnedHandle owner(out);
            if (rc == 0 && c.code == 0)
                ExpectCrop(src.get(), out, c.want,
                           std::string(c.name) + ", " + std::to_string(bits));
            else
                EXPECT_EQ(out, nullptr) << c.name;
        }
        EXPECT_EQ(BlockBytes(src.get()), before);
    }
}

// The kept span of one direction, worked out independently of the
// operation's own helpers, for a sweep of small and hostile values.
struct Expected {
    bool ok;
    int from, to;
};
Expected EdgeReference(int size, int before, int after) {
    const long long cut = (long long)before + after;
    if (size <= cut) return {true, 0, size};
    // Kept columns before .. size - after - 1; they must exist in the image.
    const long long from = before, last = (long long)size - after - 1;
    if (from < 0 || last >= size) return {false, 0, 0};
    return {true, int(from), int(last + 1)};
}
Expected CentreReference(int size, int target) {
    if (size <= target) return {true, 0, size};
    const int from = std::max(0, size / 2 - target / 2);
    if (target <= 0) return {false, 0, 0};
    return {true, from, from + target};
}

TEST(Crop, SweepOfSmallAndNegativeValuesMatchesTheReference) {
    std::mt19937 rng(77);
    auto pick = [&] { return int(rng() % 31) - 8; }; // -8 .. 22
    for (int bits : kDepths) {
        for (int i = 0; i < 400; ++i) {
            const int W = 1 + int(rng() % 16), H = 1 + int(rng() % 16);
            KOwnedHandle src(MakeRandomDIB(W, H, bits, rng()));
            const bool centre = rng() % 2;
            const int a = pick(), b = pick(), c = pick(), d = pick();
            KervErrorCode want = 0;
            Expected cols{}, rows{};
            if (!centre) {
                cols = EdgeReference(W, a, c); // left a, right c
                rows = EdgeReference(H, b, d); // top b, bottom d
                if (W - a - c < 0 && H - b - d < 0) want = -5026;
            } else {
                cols = CentreReference(W, a);
                rows = CentreReference(H, b);
                if (W < a && H < b) want = -5026;
            }
            if (want == 0 && !(cols.ok && rows.ok)) want = 101;
            const std::string where = std::to_string(bits) + " bits " + std::to_string(W) + "x" +
                                      std::to_string(H) + (centre ? " centre " : " edges ") +
                                      std::to_string(a) + " " + std::to_string(b) + " " +
                                      std::to_string(c) + " " + std::to_string(d);
            KHANDLE out = reinterpret_cast<KHANDLE>(uintptr_t{1});
            const KervErrorCode rc = centre ? Crop(src.get(), &out, 1, 0, 0, 0, 0, a, b)
                                            : Crop(src.get(), &out, 0, a, b, c, d, 0, 0);
            KOwnedHandle owner(out);
            ASSERT_EQ(rc, want) << where;
            if (rc == 0)
                ExpectCrop(src.get(), out, {cols.from, rows.from, cols.to, rows.to}, where);
            else
                EXPECT_EQ(out, nullptr) << where;
        }
    }
}

TEST(CropContract, InvalidParametersAndFailures) {
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(10, 10, 8, 1));
    EXPECT_EQ(Crop(src.get(), nullptr, 0, 1, 1, 1, 1, 0, 0), 101);
    KOwnedHandle packed(MakeRandomDIB(8, 8, 8, 1));
    DIBLock(packed.get())->biCompression = 1;
    for (KHANDLE bad : {KHANDLE{nullptr}, packed.get()})
        ExpectRefused([&](KHANDLE* out) { return Crop(bad, out, 0, 1, 1, 1, 1, 0, 0); });

    for (int bits : kDepths) {
        KOwnedHandle img(MakeRandomDIB(13, 9, bits, 2));
        EXPECT_GT(
            SweepAllocationFailures(
                img.get(), [&](KHANDLE* o) { return Crop(img.get(), o, 0, 3, 1, 2, 2, 0, 0); }),
            0);
        EXPECT_GT(
            SweepAllocationFailures(
                img.get(), [&](KHANDLE* o) { return Crop(img.get(), o, 1, 0, 0, 0, 0, 5, 5); }),
            0);
    }
}

TEST(CropContract, ReportsNoProgress) {
    KOwnedHandle src(MakeRandomDIB(10, 10, 24, 1));
    StoppingStatus stop(1);
    KHANDLE out = nullptr;
    ASSERT_EQ(CropImage(&stop.block, src.get(), &out, 0, 1, 1, 1, 1, 0, 0), 0);
    KOwnedHandle owner(out);
    EXPECT_EQ(stop.calls, 0);
}

} // namespace
