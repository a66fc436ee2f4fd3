#include "formats/codec.h"
#include "formats/codec_util.h"
#include "tests/formats/format_test_util.h"

#include <gtest/gtest.h>

using namespace brellix::test;

namespace {

ImageFileInfo BmpInfo(int variant, int compression) {
    ImageFileInfo i;
    i.options.format = 1;
    i.options.variant = variant;
    i.options.compression = compression;
    return i;
}

struct Case {
    int bits, variant, compression;
};

// A palette in an unusual order, so that keeping the order is checked.
void ShufflePalette(KHANDLE h) {
    DIBLock d(h);
    const uint32_t n = DIBPaletteEntries(d.header());
    RGBQUAD* p = d.palette();
    for (uint32_t i = 0; i < n; ++i)
        p[i] = {uint8_t(i * 37 + 5), uint8_t(255 - i), uint8_t(i * 11), 0};
}

}  // namespace

TEST(BmpCodec, RoundTripEveryDepthAndSubType) {
    LeakCheck leaks;
    const Case cases[] = {{1, 10, 1}, {4, 10, 1}, {8, 10, 1}, {24, 10, 1}, {1, 11, 1}, {4, 11, 1},
                          {8, 11, 1}, {24, 11, 1}, {4, 11, 7}, {8, 11, 7}};
    for (const Case& c : cases) {
        for (int w : {1, 3, 17, 64}) {
            SCOPED_TRACE(testing::Message() << c.bits << " bits, variant " << c.variant << ", compression "
                                            << c.compression << ", width " << w);
            KOwnedHandle src(MakeRandomDIB(w, 9, c.bits, 1234 + w));
            if (c.bits <= 8) ShufflePalette(src.get());
            if (c.compression == 7) {  // runs as well as noise
                for (int x = 0; x < w / 2; ++x) SetPixel(src.get(), x, 2, 3);
            }
            {
                DIBLock d(src.get());
                d->biXPelsPerMeter = d->biYPelsPerMeter = 3780;
            }
            std::vector<uint8_t> file;
            ASSERT_EQ(EncodeBytes(EncodeBMP, src.get(), BmpInfo(c.variant, c.compression), &file), 0);
            KOwnedHandle back;
            ImageFileInfo info;
            ASSERT_EQ(DecodeBytes(DecodeBMP, file, &back, &info), 0);
            if (c.variant == 11) {
                EXPECT_EQ(ImageContent(back.get()), ImageContent(src.get()));
                EXPECT_EQ(info.attributes.resolutionUnit, 2);
                EXPECT_DOUBLE_EQ(info.attributes.resolution, 37.8);
            } else {
                EXPECT_EQ(Colors(back.get()), Colors(src.get()));  // OS/2 stores no resolution
            }
            EXPECT_EQ(info.options.variant, c.variant);
            EXPECT_EQ(info.options.compression, c.compression);
        }
    }
}

TEST(BmpCodec, RleIsSmallerForFlatImages) {
    KOwnedHandle src(MakeRandomDIB(200, 50, 8, 1));
    {
        DIBLock d(src.get());
        std::memset(d.bits(), 7, d.stride() * 50);
    }
    std::vector<uint8_t> rle, raw;
    ASSERT_EQ(EncodeBytes(EncodeBMP, src.get(), BmpInfo(11, 7), &rle), 0);
    ASSERT_EQ(EncodeBytes(EncodeBMP, src.get(), BmpInfo(11, 1), &raw), 0);
    const size_t headers = 14 + 40 + 1024;
    EXPECT_LT(rle.size() - headers, (raw.size() - headers) / 10);
}

namespace {

// Builds a BMP file by hand: file header, info header of `hsize` bytes.
std::vector<uint8_t> HandBmp(uint32_t hsize, int32_t w, int32_t h, int bits, uint32_t comp,
                             const std::vector<uint8_t>& extra, const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> f(14 + hsize, 0);
    f[0] = 'B', f[1] = 'M';
    codec::Set32(&f[10], uint32_t(14 + hsize + extra.size()));
    codec::Set32(&f[14], hsize);
    codec::Set32(&f[18], uint32_t(w));
    codec::Set32(&f[22], uint32_t(h));
    codec::Set16(&f[26], 1);
    codec::Set16(&f[28], uint32_t(bits));
    codec::Set32(&f[30], comp);
    f.insert(f.end(), extra.begin(), extra.end());
    f.insert(f.end(), pixels.begin(), pixels.end());
    return f;
}

}  // namespace

TEST(BmpCodec, SixteenAndThirtyTwoBitsBecomeTwentyFour) {
    // 2 x 1 pixels, 16-bit 5-6-5 bit fields: pure red and pure green.
    std::vector<uint8_t> masks(12);
    codec::Set32(&masks[0], 0xF800), codec::Set32(&masks[4], 0x07E0), codec::Set32(&masks[8], 0x001F);
    auto f16 = HandBmp(40, 2, 1, 16, 3, masks, {0x00, 0xF8, 0xE0, 0x07});
    KOwnedHandle h;
    ASSERT_EQ(DecodeBytes(DecodeBMP, f16, &h), 0);
    EXPECT_EQ(Colors(h.get()), (std::vector<uint32_t>{0xFF0000, 0x00FF00}));
    // Plain 16 bits is 5-5-5; 0x7FFF is white, 0x0010 a dark blue (16/31).
    auto f555 = HandBmp(40, 2, 1, 16, 0, {}, {0xFF, 0x7F, 0x10, 0x00});
    ASSERT_EQ(DecodeBytes(DecodeBMP, f555, &h), 0);
    EXPECT_EQ(Colors(h.get()), (std::vector<uint32_t>{0xFFFFFF, 0x000084}));
    // 32 bits top-down, 124-byte header with masks inside: rows come out flipped.
    std::vector<uint8_t> px = {1, 2, 3, 0, 4, 5, 6, 0};
    auto f32 = HandBmp(124, 1, -2, 32, 0, {}, px);
    ASSERT_EQ(DecodeBytes(DecodeBMP, f32, &h), 0);
    EXPECT_EQ(Colors(h.get()), (std::vector<uint32_t>{0x030201, 0x060504}));
    DIBLock d(h.get());
    EXPECT_GT(d->biHeight, 0);
}

TEST(BmpCodec, RleDeltaAndEscapesDecode) {
    // 4 x 3, RLE8: bottom row "run 2 of 5, absolute 1 2 3" (the 3 falls
    // outside), end of line, a delta of (1, 1), one 9, end of bitmap.
    std::vector<uint8_t> pal(256 * 4, 0);
    const std::vector<uint8_t> data = {2, 5, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 1, 9, 0, 1};
    auto f = HandBmp(40, 4, 3, 8, 1, pal, data);
    KOwnedHandle h;
    ASSERT_EQ(DecodeBytes(DecodeBMP, f, &h), 0);
    EXPECT_EQ(PixelAt(h.get(), 0, 2), 5u);  // bottom row is stored first
    EXPECT_EQ(PixelAt(h.get(), 2, 2), 1u);
    EXPECT_EQ(PixelAt(h.get(), 3, 2), 2u);
    EXPECT_EQ(PixelAt(h.get(), 1, 0), 9u);  // row 2 from the bottom = top row
    EXPECT_EQ(PixelAt(h.get(), 0, 1), 0u);  // skipped pixels stay 0
}

TEST(BmpCodec, OutOfRangeIndexesAreClamped) {
    // Two palette entries, pixel values 0 and 200.
    std::vector<uint8_t> pal = {0, 0, 0, 0, 255, 255, 255, 0};
    auto f = HandBmp(40, 2, 1, 8, 0, pal, {0, 200, 0, 0});
    codec::Set32(&f[46], 2);
    KOwnedHandle h;
    ASSERT_EQ(DecodeBytes(DecodeBMP, f, &h), 0);
    EXPECT_EQ(PixelAt(h.get(), 1, 0), 1u);
}

TEST(BmpCodec, HostileHeadersAreRefused) {
    LeakCheck leaks;
    KOwnedHandle h;
    EXPECT_EQ(DecodeBytes(DecodeBMP, HandBmp(40, 100000, 100000, 24, 0, {}, {}), &h), KERV_IMAGE_TOO_LARGE);
    EXPECT_EQ(DecodeBytes(DecodeBMP, HandBmp(40, 0, 5, 24, 0, {}, {}), &h), KERV_CORRUPT_FILE);
    EXPECT_EQ(DecodeBytes(DecodeBMP, HandBmp(40, 5, 5, 7, 0, {}, {}), &h), KERV_UNSUPPORTED_VARIANT);
    EXPECT_EQ(DecodeBytes(DecodeBMP, HandBmp(40, 5, 5, 8, 4, {}, {}), &h), KERV_UNSUPPORTED_VARIANT);
    EXPECT_EQ(DecodeBytes(DecodeBMP, {'B', 'M', 0}, &h), KERV_CORRUPT_FILE);
    // 60000 x 60000 at 24 bits is within the side limit but beyond the block size.
    EXPECT_EQ(DecodeBytes(DecodeBMP, HandBmp(40, 60000, 60000, 24, 0, {}, {}), &h), KERV_IMAGE_TOO_LARGE);
}

TEST(BmpCodec, EveryTruncationGivesAnError) {
    LeakCheck leaks;
    for (const Case& c : {Case{1, 11, 1}, Case{8, 11, 7}, Case{4, 11, 7}, Case{24, 10, 1}}) {
        KOwnedHandle src(MakeRandomDIB(13, 7, c.bits, 99));
        std::vector<uint8_t> file;
        ASSERT_EQ(EncodeBytes(EncodeBMP, src.get(), BmpInfo(c.variant, c.compression), &file), 0);
        for (size_t n = 0; n + 1 < file.size(); ++n) {
            std::vector<uint8_t> cut(file.begin(), file.begin() + n);
            KOwnedHandle h;
            // RLE may end early at a row boundary only when the last row is complete.
            EXPECT_NE(DecodeBytes(DecodeBMP, cut, &h), 0) << c.bits << " bits cut at " << n;
        }
    }
}

TEST(BmpCodec, AllocationFailuresAreClean) {
    KOwnedHandle src(MakeRandomDIB(20, 10, 8, 5));
    std::vector<uint8_t> file;
    ASSERT_EQ(EncodeBytes(EncodeBMP, src.get(), BmpInfo(11, 7), &file), 0);
    const int points = SweepAllocationFailures(src.get(), [&](KHANDLE* out) {
        DecodeRequest req;
        req.data = file.data();
        req.size = file.size();
        return DecodeBMP(req, out, nullptr);
    });
    EXPECT_GE(points, 1);
}

TEST(BmpCodec, StopsWhenAsked) {
    KOwnedHandle src(MakeRandomDIB(20, 10, 24, 5));
    std::vector<uint8_t> file;
    ASSERT_EQ(EncodeBytes(EncodeBMP, src.get(), BmpInfo(11, 1), &file), 0);
    StoppingStatus stop(2);
    DecodeRequest req;
    req.data = file.data();
    req.size = file.size();
    req.status = &stop.block;
    KHANDLE h = nullptr;
    LeakCheck leaks;
    EXPECT_EQ(DecodeBMP(req, &h, nullptr), KERV_STOPPED);
    EXPECT_EQ(h, nullptr);
}

// Files written by ImageMagick and netpbm decode to the same colours the
// tools see; files Brellix writes are read back by them.
TEST(BmpCodec, AgreesWithReferenceTools) {
    if (!HaveTool("convert") || !HaveTool("bmptoppm")) GTEST_SKIP() << "ImageMagick/netpbm missing";
    TempDir dir;
    KOwnedHandle src(MakeRandomDIB(37, 21, 24, 7));
    {
        DIBLock d(src.get());  // flat areas give RLE runs
        for (int r = 0; r < 10; ++r) std::memset(d.row(r), 0x40, d.stride());
    }
    std::vector<uint8_t> raw;
    ASSERT_EQ(EncodeBytes(EncodeBMP, src.get(), BmpInfo(11, 1), &raw), 0);
    WriteFileBytes(dir / "src.bmp", raw);
    ASSERT_EQ(Shell("bmptoppm " + Q(dir / "src.bmp") + " > " + Q(dir / "src.ppm")), 0);
    ASSERT_EQ(ColorsOfPnmFile(dir / "src.ppm"), Colors(src.get()));

    struct Ref {
        const char* cmd;
        const char* file;
        int tolerance;  // 5-6-5 expansion rounds differently between readers
    };
    const Ref refs[] = {
        {"convert src.ppm -colors 200 -compress RLE bmp3:rle8.bmp", "rle8.bmp", 0},
        {"convert src.ppm -colors 14 -type Palette -depth 4 -compress RLE bmp3:rle4.bmp", "rle4.bmp", 0},
        {"ppmtobmp -os2 src.ppm > os2.bmp", "os2.bmp", 0},
        {"ppmtobmp -windows src.ppm > win.bmp", "win.bmp", 0},
        {"convert src.ppm -colors 2 -type Bilevel bmp3:mono.bmp", "mono.bmp", 0},
        {"convert src.ppm bmp:v5.bmp", "v5.bmp", 0},
        {"convert src.ppm -define bmp:subtype=RGB565 bmp:rgb565.bmp", "rgb565.bmp", 8},
        {"convert src.ppm -alpha on bmp:argb.bmp", "argb.bmp", 0},
    };
    for (const Ref& r : refs) {
        SCOPED_TRACE(r.cmd);
        ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && " + r.cmd), 0);
        KOwnedHandle h;
        ASSERT_EQ(DecodeBytes(DecodeBMP, ReadFileBytes(dir / r.file), &h), 0);
        ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && convert " + r.file + " -depth 8 ref.ppm"), 0);
        const auto ref = ColorsOfPnmFile(dir / "ref.ppm");
        const auto ours = Colors(h.get());
        ASSERT_EQ(ours.size(), ref.size());
        if (r.tolerance == 0) {
            EXPECT_EQ(ours, ref);
            continue;
        }
        for (size_t i = 0; i < ours.size(); ++i)
            for (int sh = 0; sh < 24; sh += 8)
                EXPECT_NEAR(int(ours[i] >> sh & 255), int(ref[i] >> sh & 255), r.tolerance);
    }

    // Brellix's own files, every sub-type, read by ImageMagick.
    KOwnedHandle pal8(MakeRandomDIB(37, 21, 8, 3));
    KOwnedHandle pal4(MakeRandomDIB(37, 21, 4, 4));
    const std::pair<KHANDLE, ImageFileInfo> outs[] = {
        {src.get(), BmpInfo(10, 1)}, {pal8.get(), BmpInfo(10, 1)}, {pal8.get(), BmpInfo(11, 7)},
        {pal4.get(), BmpInfo(11, 7)}, {pal4.get(), BmpInfo(11, 1)}};
    int n = 0;
    for (const auto& [dib, info] : outs) {
        std::vector<uint8_t> bytes;
        ASSERT_EQ(EncodeBytes(EncodeBMP, dib, info, &bytes), 0);
        const std::string name = "out" + std::to_string(n++) + ".bmp";
        WriteFileBytes(dir / name, bytes);
        ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && convert " + name + " -depth 8 ref.ppm"), 0) << name;
        EXPECT_EQ(ColorsOfPnmFile(dir / "ref.ppm"), Colors(dib)) << name;
    }
}

TEST(BmpCodec, Os2VersionTwoAndPackedDibHeaders) {
    KOwnedHandle src(MakeRandomDIB(10, 4, 8, 21));
    std::vector<uint8_t> win;
    ASSERT_EQ(EncodeBytes(EncodeBMP, src.get(), BmpInfo(11, 1), &win), 0);
    // The same file with a 64-byte OS/2 2.x header: 24 more header bytes.
    std::vector<uint8_t> os2(win.begin(), win.begin() + 54);
    os2.insert(os2.end(), 24, 0);
    os2.insert(os2.end(), win.begin() + 54, win.end());
    codec::Set32(&os2[10], codec::Le32(&win[10]) + 24);
    codec::Set32(&os2[14], 64);
    KOwnedHandle h;
    ImageFileInfo info;
    ASSERT_EQ(DecodeBytes(DecodeBMP, os2, &h, &info), 0);
    EXPECT_EQ(Colors(h.get()), Colors(src.get()));
    EXPECT_EQ(info.options.variant, 10);
    // A packed DIB (no file header), as .dib files and the clipboard hold them.
    std::vector<uint8_t> packed(win.begin() + 14, win.end());
    ASSERT_EQ(DecodeBytes(DecodeBMP, packed, &h, &info), 0);
    EXPECT_EQ(ImageContent(h.get()), ImageContent(src.get()));
    EXPECT_EQ(info.options.format, 6);
}
