#include "core/dib.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace brellix::test;

namespace {

const int kDepths[] = {1, 4, 8, 24};

TEST(DIBLayout, StrideIsPaddedToFourBytes) {
    struct Case {
        uint32_t bits, width, stride;
    };
    for (const Case& c : {Case{1, 1, 4}, Case{24, 1, 4}, Case{24, 3, 12}, Case{1, 33, 8},
                          Case{4, 9, 8}, Case{8, 5, 8}, Case{24, 4000, 12000}, Case{1, 32, 4}})
        EXPECT_EQ(DIBStride(c.bits, c.width), c.stride) << c.bits << " bits x " << c.width;
}

TEST(NewDIB, FillsHeaderAndDefaultPalettes) {
    for (int bits : kDepths) {
        KHANDLE h = nullptr;
        ASSERT_EQ(NewDIB(&h, 7, 3, static_cast<uint8_t>(bits), 0, 0, 0, 0, nullptr), 0);
        KOwnedHandle owner(h);
        DIBLock d(h);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->biSize, 40u);
        EXPECT_EQ(d->biWidth, 7);
        EXPECT_EQ(d->biHeight, 3);
        EXPECT_EQ(d->biPlanes, 1);
        EXPECT_EQ(d->biCompression, 0u);
        EXPECT_EQ(d->biSizeImage, DIBStride(bits, 7) * 3);
        EXPECT_EQ(d->biXPelsPerMeter, 0);
        const uint32_t entries = bits == 24 ? 0 : 1u << bits;
        EXPECT_EQ(d->biClrUsed, entries);
        EXPECT_EQ(d->biClrImportant, entries);
        EXPECT_EQ(KML_GlobalSize(h), 40 + 4 * entries + d->biSizeImage);
    }
    KHANDLE h = nullptr;
    ASSERT_EQ(NewDIB(&h, 1, 1, 1, 0, 0, 0, 0, nullptr), 0);
    {
        DIBLock d(h);
        const RGBQUAD* p = d.palette();
        EXPECT_EQ(p[0].rgbRed + p[0].rgbGreen + p[0].rgbBlue + p[0].rgbReserved, 0);
        EXPECT_EQ(p[1].rgbRed & p[1].rgbGreen & p[1].rgbBlue & p[1].rgbReserved, 255);
    }
    KML_GlobalFree(h);
    ASSERT_EQ(NewDIB(&h, 1, 1, 4, 0, 0, 0, 0, nullptr), 0);
    {
        DIBLock d(h);
        const RGBQUAD* p = d.palette();
        EXPECT_EQ(p[1].rgbRed, 128);  // maroon
        EXPECT_EQ(p[1].rgbBlue, 0);
        EXPECT_EQ(p[7].rgbGreen, 192);  // silver
        EXPECT_EQ(p[12].rgbBlue, 255);  // blue
        EXPECT_EQ(p[12].rgbRed, 0);
    }
    KML_GlobalFree(h);
    ASSERT_EQ(NewDIB(&h, 1, 1, 8, 0, 0, 0, 0, nullptr), 0);
    {
        DIBLock d(h);
        const RGBQUAD* p = d.palette();
        // green outermost, red in the middle, blue innermost
        EXPECT_EQ(p[1].rgbBlue, 51);
        EXPECT_EQ(p[6].rgbRed, 51);
        EXPECT_EQ(p[36].rgbGreen, 51);
        EXPECT_EQ(p[215].rgbRed & p[215].rgbGreen & p[215].rgbBlue, 255);
        EXPECT_EQ(p[216].rgbRed | p[255].rgbGreen | p[230].rgbBlue, 0);
    }
    KML_GlobalFree(h);
    ASSERT_EQ(NewDIB(&h, 1, 1, 8, 1, 0, 0, 0, nullptr), 0);
    EXPECT_TRUE(IsDIBGreyScaled(h));
    KML_GlobalFree(h);
}

TEST(NewDIB, BackgroundBecomesEveryPixel) {
    struct Case {
        int bits;
        uint8_t r, g, b;
        uint32_t pixel;
    };
    const Case cases[] = {
        {8, 255, 255, 255, 215}, {8, 0, 0, 0, 0},          {4, 255, 0, 0, 9},
        {4, 250, 250, 250, 15},  {1, 255, 255, 255, 1},     {1, 100, 100, 100, 0},
        {24, 1, 2, 3, 0x010203}, {24, 0, 0, 0, 0},          {8, 52, 0, 0, 6},
    };
    for (const Case& c : cases) {
        KHANDLE h = nullptr;
        ASSERT_EQ(NewDIB(&h, 13, 4, static_cast<uint8_t>(c.bits), 0, c.r, c.g, c.b, nullptr), 0);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 13; ++x)
                ASSERT_EQ(PixelAt(h, x, y), c.pixel) << c.bits << " bits at " << x << "," << y;
        KML_GlobalFree(h);
    }
    // Black writes nothing: every pixel byte stays zero.
    for (int bits : kDepths) {
        KHANDLE h = nullptr;
        ASSERT_EQ(NewDIB(&h, 9, 2, static_cast<uint8_t>(bits), 0, 0, 0, 0, nullptr), 0);
        DIBLock d(h);
        for (uint32_t i = 0; i < d->biSizeImage; ++i) ASSERT_EQ(d.bits()[i], 0);
        d = DIBLock(nullptr);
        KML_GlobalFree(h);
    }
}

TEST(NewDIB, UsesAGivenPalette) {
    RGBQUAD pal[16];
    for (int i = 0; i < 16; ++i) pal[i] = {static_cast<uint8_t>(i), 0, static_cast<uint8_t>(255 - i), 0};
    KHANDLE h = nullptr;
    ASSERT_EQ(NewDIB(&h, 3, 3, 4, 0, 250, 0, 5, pal), 0);
    EXPECT_EQ(PixelAt(h, 2, 2), 5u);  // (255-5, 0, 5) is entry 5
    {
        DIBLock d(h);
        EXPECT_EQ(std::memcmp(d.palette(), pal, sizeof pal), 0);
    }
    KML_GlobalFree(h);
}

TEST(NewDIB, RefusesBadArguments) {
    LeakCheck leaks;
    KHANDLE h = reinterpret_cast<KHANDLE>(uintptr_t{8});
    EXPECT_EQ(NewDIB(&h, 0, 5, 8, 0, 0, 0, 0, nullptr), KERV_INVALID_PARAM);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(NewDIB(&h, 5, 0, 8, 0, 0, 0, 0, nullptr), KERV_INVALID_PARAM);
    EXPECT_EQ(NewDIB(&h, 5, 5, 24, 1, 0, 0, 0, nullptr), KERV_INVALID_PARAM);
    EXPECT_EQ(NewDIB(&h, 5, 5, 4, 1, 0, 0, 0, nullptr), KERV_INVALID_PARAM);
    for (int bits : {0, 2, 16, 32})
        EXPECT_EQ(NewDIB(&h, 5, 5, static_cast<uint8_t>(bits), 0, 0, 0, 0, nullptr), KERV_INVALID_PARAM);
    EXPECT_EQ(NewDIB(nullptr, 5, 5, 8, 0, 0, 0, 0, nullptr), KERV_INVALID_PARAM);
}

TEST(NewDIB, EveryAllocationFailureIsClean) {
    for (int bits : kDepths)
        EXPECT_EQ(SweepAllocationFailures(nullptr, [&](KHANDLE* r) {
                      return NewDIB(r, 10, 10, static_cast<uint8_t>(bits), 0, 9, 9, 9, nullptr);
                  }),
                  2);
}

TEST(CopyDIB, DuplicatesTheWholeBlock) {
    for (int bits : kDepths) {
        KOwnedHandle src(MakeRandomDIB(11, 7, bits, 3));
        KHANDLE copy = nullptr;
        ASSERT_EQ(CopyDIB(src.get(), &copy), 0);
        EXPECT_NE(copy, src.get());
        EXPECT_EQ(BlockBytes(copy), BlockBytes(src.get()));
        KML_GlobalFree(copy);
        SweepAllocationFailures(src.get(), [&](KHANDLE* r) { return CopyDIB(src.get(), r); });
    }
    KHANDLE r = nullptr;
    EXPECT_EQ(CopyDIB(nullptr, &r), KERV_INVALID_PARAM);
    EXPECT_EQ(CopyDIB(reinterpret_cast<KHANDLE>(uintptr_t{0x50}), &r), KERV_INVALID_PARAM);
}

TEST(CropDIB, CutsTheRectangleAtEveryDepthAndOffset) {
    for (int bits : kDepths) {
        KOwnedHandle src(MakeRandomDIB(37, 9, bits, 17 + bits));
        for (int left : {0, 1, 3, 7, 8, 9, 15}) {
            for (uint32_t width : {1u, 5u, 8u, 13u, 22u}) {
                const int top = 2;
                const uint32_t height = 5;
                KHANDLE out = nullptr;
                ASSERT_EQ(CropDIB(src.get(), &out, left, top, width, height), 0);
                KOwnedHandle owner(out);
                DIBLock d(out);
                ASSERT_TRUE(d);
                EXPECT_EQ(d->biWidth, static_cast<int32_t>(width));
                EXPECT_EQ(d->biHeight, static_cast<int32_t>(height));
                EXPECT_EQ(d->biSizeImage, DIBStride(bits, width) * height);
                for (uint32_t y = 0; y < height; ++y)
                    for (uint32_t x = 0; x < width; ++x)
                        ASSERT_EQ(PixelAt(out, static_cast<int>(x), static_cast<int>(y)),
                                  PixelAt(src.get(), left + static_cast<int>(x), top + static_cast<int>(y)))
                            << bits << " bits, left " << left << ", width " << width << " at " << x;
            }
        }
        KHANDLE r = nullptr;
        EXPECT_EQ(CropDIB(src.get(), &r, 30, 0, 8, 1), KERV_INVALID_PARAM) << "outside the image";
        EXPECT_EQ(CropDIB(src.get(), &r, 0, 0, 0, 1), KERV_INVALID_PARAM);
        EXPECT_EQ(CropDIB(src.get(), &r, -1, 0, 2, 1), KERV_INVALID_PARAM);
        SweepAllocationFailures(src.get(), [&](KHANDLE* res) { return CropDIB(src.get(), res, 3, 1, 9, 4); });
    }
}

TEST(CropDIB, OneBitAtLeftThreeStartsOnAByteBoundary) {
    KHANDLE h = nullptr;
    ASSERT_EQ(NewDIB(&h, 16, 1, 1, 0, 0, 0, 0, nullptr), 0);
    KOwnedHandle src(h);
    SetPixel(h, 3, 0, 1);
    SetPixel(h, 5, 0, 1);
    KHANDLE out = nullptr;
    ASSERT_EQ(CropDIB(h, &out, 3, 0, 8, 1), 0);
    KOwnedHandle owner(out);
    DIBLock d(out);
    EXPECT_EQ(d.bits()[0], 0xA0);  // pixels 3 and 5 become bits 7 and 5
}

TEST(CropDIBRect, EqualsCropWithWidthAndHeight) {
    KOwnedHandle src(MakeRandomDIB(20, 20, 24, 5));
    KHANDLE a = nullptr, b = nullptr;
    ASSERT_EQ(CropDIBRect(src.get(), &a, 2, 3, 12, 19), 0);
    ASSERT_EQ(CropDIB(src.get(), &b, 2, 3, 10, 16), 0);
    EXPECT_EQ(BlockBytes(a), BlockBytes(b));
    KML_GlobalFree(a);
    KML_GlobalFree(b);
    EXPECT_EQ(CropDIBRect(src.get(), &a, 5, 5, 5, 9), KERV_INVALID_PARAM);
    // Extreme corners whose difference does not fit 32 bits are refused, not wrapped.
    EXPECT_EQ(CropDIBRect(src.get(), &a, INT32_MIN, 0, INT32_MAX, 5), KERV_INVALID_PARAM);
    EXPECT_EQ(CropDIBRect(src.get(), &a, 0, INT32_MIN + 1, 5, INT32_MAX), KERV_INVALID_PARAM);
    EXPECT_EQ(a, nullptr);
}

TEST(Pad4Mac, PlacesAOneBitImageOnThePage) {
    KOwnedHandle src(MakeRandomDIB(13, 6, 1, 77));
    KHANDLE out = nullptr;
    ASSERT_EQ(Pad4Mac(src.get(), &out), 0);
    KOwnedHandle owner(out);
    EXPECT_EQ(KML_GlobalSize(out), 51888u);
    DIBLock d(out);
    EXPECT_EQ(d->biWidth, 576);
    EXPECT_EQ(d->biHeight, 720);
    EXPECT_EQ(d->biSizeImage, 51840u);
    for (int y = 0; y < 720; y += 1)
        for (int x = 0; x < 576; x += (y < 6 ? 1 : 37)) {
            const uint32_t expected = (y < 6 && x < 13) ? PixelAt(src.get(), x, y) : 1;
            ASSERT_EQ(PixelAt(out, x, y), expected) << x << "," << y;
        }
    KOwnedHandle wide(MakeRandomDIB(577, 2, 1, 1));
    KOwnedHandle eight(MakeRandomDIB(5, 5, 8, 1));
    KHANDLE r = nullptr;
    EXPECT_EQ(Pad4Mac(wide.get(), &r), KERV_INVALID_PARAM);
    EXPECT_EQ(Pad4Mac(eight.get(), &r), KERV_INVALID_PARAM);
    SweepAllocationFailures(src.get(), [&](KHANDLE* res) { return Pad4Mac(src.get(), res); });
}

TEST(GetDIBStats, ReportsSizeDepthAndGreyscale) {
    KHANDLE h = nullptr;
    ASSERT_EQ(NewDIB(&h, 300, 200, 8, 1, 0, 0, 0, nullptr), 0);
    uint16_t w = 0, ht = 0, bits = 0;
    uint32_t grey = 0;
    EXPECT_EQ(GetDIBStats(h, &w, &ht, &bits, &grey), 0);
    EXPECT_EQ(w, 300);
    EXPECT_EQ(ht, 200);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(grey, 1u);
    EXPECT_EQ(GetDIBStats(h, nullptr, nullptr, nullptr, nullptr), 0);
    KML_GlobalFree(h);
    ASSERT_EQ(NewDIB(&h, 3, 2, 8, 0, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(GetDIBStats(h, nullptr, nullptr, nullptr, &grey), 0);
    EXPECT_EQ(grey, 0u);
    KML_GlobalFree(h);
    EXPECT_EQ(GetDIBStats(nullptr, &w, nullptr, nullptr, nullptr), KERV_INVALID_PARAM);
}

TEST(LocateColorInPal, FindsAndSnaps) {
    KHANDLE h = nullptr;
    ASSERT_EQ(NewDIB(&h, 2, 2, 4, 0, 0, 0, 0, nullptr), 0);
    uint8_t r = 200, g = 10, b = 20;
    EXPECT_EQ(LocateColorInPal(h, &r, &g, &b, false), 9);  // red
    EXPECT_EQ(r, 200);
    EXPECT_EQ(LocateColorInPal(h, &r, &g, &b, true), 9);
    EXPECT_EQ(r, 255);
    EXPECT_EQ(g, 0);
    EXPECT_EQ(b, 0);
    // Exactly between black (0) and maroon (1, red 128): the lower index.
    r = 64, g = 0, b = 0;
    EXPECT_EQ(LocateColorInPal(h, &r, &g, &b, false), 0);
    KML_GlobalFree(h);
    ASSERT_EQ(NewDIB(&h, 2, 2, 24, 0, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(LocateColorInPal(h, &r, &g, &b, false), -1);
    KML_GlobalFree(h);
    EXPECT_EQ(LocateColorInPal(nullptr, &r, &g, &b, false), 101);
}

TEST(GreyScaleToKervGreyScale, BringsAnyGreyPaletteIntoCanonicalOrder) {
    // A reversed grey ramp: index i shows grey 255 - i.
    RGBQUAD pal[256];
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(255 - i);
        pal[i] = {v, v, v, 0};
    }
    KHANDLE h = nullptr;
    ASSERT_EQ(NewDIB(&h, 5, 2, 8, 0, 0, 0, 0, pal), 0);
    KOwnedHandle owner(h);
    SetPixel(h, 0, 0, 10);
    SetPixel(h, 4, 1, 0);
    EXPECT_FALSE(IsDIBGreyScaled(h));
    EXPECT_EQ(GreyScaleToKervGreyScale(h), 0);
    EXPECT_TRUE(IsDIBGreyScaled(h));
    EXPECT_EQ(PixelAt(h, 0, 0), 245u);
    EXPECT_EQ(PixelAt(h, 4, 1), 255u);  // index 0 was white
    EXPECT_EQ(PixelAt(h, 1, 0), 0u);    // the black background was index 255

    // A short grey palette grows to 256 entries, same handle.
    KHANDLE s = AllocDIB(3, 1, 8, 4);
    ASSERT_NE(s, nullptr);
    KOwnedHandle shortOwner(s);
    {
        DIBLock d(s);
        const uint8_t greys[4] = {0, 85, 170, 255};
        for (int i = 0; i < 4; ++i) d.palette()[i] = {greys[i], greys[i], greys[i], 0};
        d.bits()[0] = 1, d.bits()[1] = 2, d.bits()[2] = 3;
    }
    EXPECT_EQ(GreyScaleToKervGreyScale(s), 0);
    EXPECT_TRUE(IsDIBGreyScaled(s));
    EXPECT_EQ(PixelAt(s, 0, 0), 85u);
    EXPECT_EQ(PixelAt(s, 1, 0), 170u);
    EXPECT_EQ(PixelAt(s, 2, 0), 255u);

    // A colour palette is left alone.
    KOwnedHandle colour(MakeRandomDIB(4, 4, 8, 1));
    const auto before = BlockBytes(colour.get());
    EXPECT_EQ(GreyScaleToKervGreyScale(colour.get()), 0);
    EXPECT_EQ(BlockBytes(colour.get()), before);
}

TEST(ApplyMaskToDIB, FadesTowardsWhiteUnderTheMask) {
    for (int bits : {8, 24}) {
        KOwnedHandle img(MakeRandomDIB(9, 4, bits, 9, bits == 8));
        const auto before = BlockBytes(img.get());
        KHANDLE m = nullptr;
        ASSERT_EQ(NewDIB(&m, 9, 4, 8, 1, 255, 255, 255, nullptr), 0);
        KOwnedHandle mask(m);
        EXPECT_EQ(ApplyMaskToDIB(img.get(), m), 0);
        EXPECT_EQ(BlockBytes(img.get()), before) << "an all-255 mask changes nothing";

        KHANDLE z = nullptr;
        ASSERT_EQ(NewDIB(&z, 10, 5, 8, 1, 0, 0, 0, nullptr), 0);
        KOwnedHandle zero(z);
        EXPECT_EQ(ApplyMaskToDIB(img.get(), z), 0);
        DIBLock d(img.get());
        const int bytes = bits == 8 ? 9 : 27;
        for (int y = 0; y < 4; ++y)
            for (int i = 0; i < bytes; ++i) ASSERT_EQ(DIBRowFromTop(d.header(), y)[i], 255);
    }
    // A hand-computed level: (p * m + 255 * (255 - m)) / 255 rounded.
    KHANDLE img = nullptr, m = nullptr;
    ASSERT_EQ(NewDIB(&img, 1, 1, 24, 0, 200, 100, 0, nullptr), 0);
    ASSERT_EQ(NewDIB(&m, 1, 1, 8, 1, 128, 128, 128, nullptr), 0);
    EXPECT_EQ(ApplyMaskToDIB(img, m), 0);
    EXPECT_EQ(PixelAt(img, 0, 0), (227u << 16) | (177u << 8) | 127u);
    KOwnedHandle small(m);
    KOwnedHandle big(MakeRandomDIB(2, 2, 24, 1));
    EXPECT_EQ(ApplyMaskToDIB(big.get(), m), KERV_INVALID_PARAM) << "mask smaller than the image";
    KOwnedHandle onebit(MakeRandomDIB(1, 1, 1, 1));
    const auto before = BlockBytes(onebit.get());
    EXPECT_EQ(ApplyMaskToDIB(onebit.get(), m), 0);
    EXPECT_EQ(BlockBytes(onebit.get()), before) << "other depths are left alone";
    KML_GlobalFree(img);
    EXPECT_EQ(ApplyMaskToDIB(nullptr, m), KERV_INVALID_PARAM);
}

TEST(DIBLock, RefusesBlocksThatAreNotUsableImages) {
    KOwnedHandle tiny(KML_GlobalAlloc(KMEM_GHND, 20));
    EXPECT_FALSE(DIBLock(tiny.get()));
    KOwnedHandle h(MakeRandomDIB(4, 4, 8, 1));
    {
        KLock l(h.get());
        l.as<BITMAPINFOHEADER>()->biHeight = 4000;  // claims more rows than the block holds
    }
    EXPECT_FALSE(DIBLock(h.get()));
    KHANDLE r = nullptr;
    EXPECT_EQ(CropDIB(h.get(), &r, 0, 0, 1, 1), KERV_INVALID_PARAM);
}

}  // namespace
