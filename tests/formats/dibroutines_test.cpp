#include "formats/codec.h"
#include "formats/dibroutines.h"
#include "tests/formats/format_test_util.h"

#include <gtest/gtest.h>

using namespace brellix::test;

TEST(ResizeDIB, ExactSizeDepthAndPaletteKept) {
    LeakCheck leaks;
    for (int bits : {1, 4, 8, 24})
        for (const auto& [w, h] : {std::pair{1, 1}, {7, 3}, {40, 41}, {3, 90}}) {
            SCOPED_TRACE(testing::Message() << bits << " bits to " << w << " x " << h);
            KOwnedHandle src(MakeRandomDIB(13, 11, bits, 5));
            {
                DIBLock d(src.get());
                d->biXPelsPerMeter = 2835;
            }
            const auto before = BlockBytes(src.get());
            KHANDLE out = nullptr;
            ASSERT_EQ(ResizeDIB(nullptr, src.get(), &out, w, h), 0);
            KOwnedHandle owner(out);
            EXPECT_EQ(BlockBytes(src.get()), before);
            DIBLock s(src.get()), d(out);
            EXPECT_EQ(d.width(), w);
            EXPECT_EQ(d.height(), h);
            EXPECT_EQ(d.bitCount(), bits);
            EXPECT_EQ(d->biXPelsPerMeter, 2835);
            EXPECT_EQ(d->biSizeImage, d.stride() * uint32_t(h));
            EXPECT_EQ(std::memcmp(s.palette(), d.palette(), DIBPaletteBytes(s.header())), 0);
            // Each output pixel is the source pixel under its centre.
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(PixelAt(out, x, y), PixelAt(src.get(), (2 * x + 1) * 13 / (2 * w), (2 * y + 1) * 11 / (2 * h)));
        }
}

TEST(ResizeDIB, SameSizeIsIdentityAndFailuresAreClean) {
    KOwnedHandle src(MakeRandomDIB(9, 5, 4, 3));
    KHANDLE out = nullptr;
    ASSERT_EQ(ResizeDIB(nullptr, src.get(), &out, 9, 5), 0);
    KOwnedHandle owner(out);
    EXPECT_EQ(ImageContent(out), ImageContent(src.get()));
    ExpectRefused([&](KHANDLE* r) { return ResizeDIB(nullptr, src.get(), r, 0, 5); });
    ExpectRefused([&](KHANDLE* r) { return ResizeDIB(nullptr, nullptr, r, 3, 5); });
    EXPECT_GE(SweepAllocationFailures(src.get(), [&](KHANDLE* r) { return ResizeDIB(nullptr, src.get(), r, 20, 20); }), 1);
    const StatusOp enlarge = [&](StatusControlBlock* s, KHANDLE* r) {
        return ResizeDIB(s, src.get(), r, 20, 20);
    };
    EXPECT_GE(SweepStops(src.get(), enlarge), 1);
}

TEST(InvertDIB, NegativeThroughPaletteOrPixels) {
    LeakCheck leaks;
    for (int bits : {1, 4, 8, 24}) {
        KOwnedHandle src(MakeRandomDIB(11, 4, bits, 9));
        KHANDLE out = nullptr;
        ASSERT_EQ(InvertDIB(nullptr, src.get(), &out), 0);
        KOwnedHandle owner(out);
        const auto a = Colors(src.get()), b = Colors(out);
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(b[i], a[i] ^ 0xFFFFFFu) << bits;
        KHANDLE twice = nullptr;
        ASSERT_EQ(InvertDIB(nullptr, out, &twice), 0);
        KOwnedHandle owner2(twice);
        EXPECT_EQ(Colors(twice), a);
        EXPECT_GE(SweepAllocationFailures(src.get(), [&](KHANDLE* r) { return InvertDIB(nullptr, src.get(), r); }), 1);
    }
}

TEST(InvertDIB, GreyscaleImageKeepsItsRampAndInvertsItsPixels) {
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(13, 5, 8, 4, /*grey=*/true));
    ASSERT_TRUE(IsDIBGreyScaled(src.get()));
    KHANDLE out = nullptr;
    ASSERT_EQ(InvertDIB(nullptr, src.get(), &out), 0);
    KOwnedHandle owner(out);
    EXPECT_TRUE(IsDIBGreyScaled(out));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 13; ++x)
            ASSERT_EQ(PixelAt(out, x, y), 255 - PixelAt(src.get(), x, y)) << x << "," << y;
    // Row padding is left as it was.
    {
        DIBLock a(src.get()), b(out);
        for (int r = 0; r < 5; ++r) EXPECT_EQ(b.row(r)[13], a.row(r)[13]);
    }
    // A stop at the start and at every row: 100, nothing handed out.
    EXPECT_EQ(SweepStops(src.get(), BindSource(InvertDIB, src.get())), 6);
    EXPECT_GE(SweepAllocationFailures(src.get(), [&](KHANDLE* r) { return InvertDIB(nullptr, src.get(), r); }), 1);
}

// A true-colour image written as GIF gets a palette of its own colours: an
// image of at most 256 colours, each exact at five bits a channel, comes out
// with every pixel unchanged (the standard colour cube could not do that).
TEST(DepthConversions, GifTakesTheImagesOwnPalette) {
    LeakCheck leaks;
    KOwnedHandle rgb(MakeRandomDIB(37, 23, 24, 9));
    {
        DIBLock d(rgb.get());
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 37; ++x) {
                const int k = (x * 7 + y * 13) % 200;  // 200 colours
                const auto widen = [](int c) { return uint8_t(c * 8 + c / 4); };
                uint8_t* p = DIBRowFromTop(d.header(), y) + 3 * x;
                p[0] = widen(k % 32), p[1] = widen((k * 3) % 32), p[2] = widen(k / 7);
            }
    }
    FormatOptions options;
    KHANDLE out = nullptr;
    ASSERT_EQ(ConvertForEncoder(nullptr, rgb.get(), 10, options, &out), 0);
    KOwnedHandle reduced(out);
    ASSERT_NE(out, nullptr);
    DIBLock d(out);
    EXPECT_EQ(d.bitCount(), 8);
    EXPECT_EQ(Colors(out), Colors(rgb.get()));
}

TEST(OrderedDither2, TwoColoursFromOneComponent) {
    LeakCheck leaks;
    // Flat greys dither to the matching share of white pixels.
    for (int level : {0, 64, 128, 255}) {
        KHANDLE g = nullptr;
        ASSERT_EQ(NewDIB(&g, 16, 16, 24, 0, uint32_t(level), uint32_t(level), uint32_t(level), nullptr), 0);
        KOwnedHandle src(g);
        KHANDLE out = nullptr;
        ASSERT_EQ(OrderedDither2(nullptr, g, &out, 0), 0);
        KOwnedHandle owner(out);
        int white = 0;
        for (uint32_t c : Colors(out)) white += c == 0xFFFFFF;
        EXPECT_NEAR(white, level * 256 / 255, 4) << level;
    }
    // Component choice: pure red is white in red, black in green and blue.
    KHANDLE r = nullptr;
    ASSERT_EQ(NewDIB(&r, 8, 8, 24, 0, 255, 0, 0, nullptr), 0);
    KOwnedHandle red(r);
    for (uint8_t comp : {1, 2, 3}) {
        KHANDLE out = nullptr;
        ASSERT_EQ(OrderedDither2(nullptr, r, &out, comp), 0);
        KOwnedHandle owner(out);
        for (uint32_t c : Colors(out)) ASSERT_EQ(c, comp == 1 ? 0xFFFFFFu : 0u);
    }
    ExpectRefused([&](KHANDLE* out) { return OrderedDither2(nullptr, r, out, 4); });
}

TEST(DepthConversions, IncreaseReduceGrey) {
    LeakCheck leaks;
    for (int bits : {1, 4, 8}) {
        KOwnedHandle src(MakeRandomDIB(10, 3, bits, 4));
        for (int to : {8, 24}) {
            if (to <= bits) continue;
            KHANDLE out = nullptr;
            ASSERT_EQ(IncreaseDIBDepth(nullptr, src.get(), &out, to), 0);
            KOwnedHandle owner(out);
            EXPECT_EQ(Colors(out), Colors(src.get()));
        }
    }
    KOwnedHandle rgb(MakeRandomDIB(30, 30, 24, 4));
    KHANDLE out = nullptr;
    const auto a = Colors(rgb.get());
    ASSERT_EQ(ConvertToGreyScale(nullptr, rgb.get(), &out), 0);
    KOwnedHandle grey(out);
    EXPECT_TRUE(IsDIBGreyScaled(out));
    EXPECT_EQ(PixelAt(out, 0, 0), ((a[0] >> 16) * 299 + (a[0] >> 8 & 255) * 587 + (a[0] & 255) * 114 + 500) / 1000);
}
