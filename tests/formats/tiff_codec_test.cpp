// TIFF codec: round trips for every sub-type and depth, files written by
// ImageMagick (strips, tiles, planes, 16 bits, CMYK, several pages), files
// read back by ImageMagick, damaged and hostile files, failure paths.
#include "tests/formats/png_jpeg_tiff_gif_tools.h"

namespace brellix::codectest {
namespace {

ImageFileInfo TiffOptions(int compression, int planes = 1) {
    ImageFileInfo info;
    info.options.format = 36;
    info.options.compression = compression;
    info.options.planes = planes;
    return info;
}

struct RoundTripCase {
    int compression;
    int bits;
    bool grey;
};

std::string CaseName(const ::testing::TestParamInfo<RoundTripCase>& p) {
    return "compression" + std::to_string(p.param.compression) + "_" +
           std::to_string(p.param.bits) + "bit" + (p.param.grey ? "_grey" : "");
}

class TiffRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(TiffRoundTrip, PixelsPaletteAndResolutionSurvive) {
    const RoundTripCase c = GetParam();
    LeakCheck leaks;
    KOwnedHandle src(MakeTestDIB(45, 19, c.bits, 7 + c.bits, c.grey));
    if (c.bits == 1 && c.grey) { // black first: stored as min-is-black
        DIBLock d(src.get());
        d.palette()[0] = RGBQUAD{0, 0, 0, 0};
        d.palette()[1] = RGBQUAD{255, 255, 255, 0};
    }
    SetPelsPerMetre(src.get(), 11811);
    ImageFileInfo info = TiffOptions(c.compression);
    info.attributes.resolution = 300;
    info.attributes.resolutionUnit = 1;
    const std::vector<uint8_t> file = Encode(EncodeTIF, src.get(), info);
    Decoded back = Decode(DecodeTIF, file);
    ASSERT_EQ(back.rc, KERV_OK);
    if (c.compression == 3 || c.compression == 5) {
        // Fax files are black and white: the darker entry comes back as
        // black, the lighter as white, the pixels unchanged.
        for (int y = 0; y < 19; ++y)
            for (int x = 0; x < 45; ++x)
                ASSERT_EQ(brellix::test::PixelAt(back.dib.get(), x, y),
                          brellix::test::PixelAt(src.get(), x, y));
    } else {
        EXPECT_EQ(brellix::test::ImageContent(back.dib.get()),
                  brellix::test::ImageContent(src.get()));
    }
    EXPECT_NEAR(back.info.attributes.resolution, 300.0, 1e-3);
    EXPECT_EQ(back.info.attributes.resolutionUnit, 1);
    EXPECT_EQ(back.info.options.compression, c.compression);
}

INSTANTIATE_TEST_SUITE_P(SubTypes, TiffRoundTrip,
                         ::testing::Values(RoundTripCase{3, 1, true}, RoundTripCase{3, 1, false},
                                           RoundTripCase{5, 1, true}, RoundTripCase{5, 1, false},
                                           RoundTripCase{9, 1, false}, RoundTripCase{9, 1, true},
                                           RoundTripCase{9, 4, false}, RoundTripCase{9, 4, true},
                                           RoundTripCase{9, 8, false}, RoundTripCase{9, 8, true},
                                           RoundTripCase{9, 24, false}, RoundTripCase{7, 1, false},
                                           RoundTripCase{7, 4, false}, RoundTripCase{7, 8, true},
                                           RoundTripCase{7, 24, false}, RoundTripCase{1, 1, false},
                                           RoundTripCase{1, 4, false}, RoundTripCase{1, 8, false},
                                           RoundTripCase{1, 24, false}),
                         CaseName);

TEST(TiffCodec, CmykPlanesComeBackWithinRounding) {
    for (const int bits : {24, 8, 4}) {
        LeakCheck leaks;
        KOwnedHandle src(MakeTestDIB(23, 11, bits, 5));
        const std::vector<uint8_t> file = Encode(EncodeTIF, src.get(), TiffOptions(9, 2));
        Decoded back = Decode(DecodeTIF, file);
        ASSERT_EQ(back.rc, KERV_OK);
        EXPECT_EQ(back.info.options.planes, 2);
        DIBLock d(back.dib.get());
        EXPECT_EQ(d.bitCount(), 24);
        int worst = 0;
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 23; ++x)
                worst = std::max(worst,
                                 ChannelDiff(RgbAt(back.dib.get(), x, y), RgbAt(src.get(), x, y)));
        EXPECT_LE(worst, 1) << bits << " bits";
    }
}

TEST(TiffCodec, FaxAndHuffmanNeedOneBitImages) {
    KOwnedHandle src(MakeTestDIB(8, 8, 8, 1));
    for (const int compression : {3, 5}) {
        KervErrorCode rc = 0;
        Encode(EncodeTIF, src.get(), TiffOptions(compression), &rc);
        EXPECT_EQ(rc, KERV_INVALID_PARAM);
    }
    KervErrorCode rc = 0;
    Encode(EncodeTIF, src.get(), TiffOptions(42), &rc);
    EXPECT_EQ(rc, KERV_UNSUPPORTED_VARIANT);
}

// ---- Files from ImageMagick ----

struct ReferenceCase {
    const char* name;
    const char* options; // convert options between the source and the output
    int bits;
    int tolerance;
};

const ReferenceCase kReferences[] = {
    {"rgb_lzw", "-compress LZW", 24, 0},
    {"rgb_zip_predictor", "-compress Zip -define tiff:predictor=2", 24, 0},
    {"rgb16", "-depth 16 -compress None", 24, 1},
    {"rgb16_planes", "-depth 16 -interlace Plane", 24, 1},
    {"rgb_planes", "-interlace Plane -compress LZW", 24, 0},
    {"rgb_tiled", "-define tiff:tile-geometry=16x16", 24, 0},
    {"rgb_tiled_planes", "-define tiff:tile-geometry=32x16 -interlace Plane", 24, 0},
    {"rgb_small_strips", "-define tiff:rows-per-strip=3 -compress RLE", 24, 0},
    {"grey8", "-colorspace Gray -depth 8", 8, 0},
    {"grey16", "-colorspace Gray -depth 16", 8, 1},
    {"grey16_tiled", "-colorspace Gray -depth 16 -define tiff:tile-geometry=16x32", 8, 1},
    {"grey4", "-colorspace Gray -depth 4", 4, 0},
    {"grey2", "-colorspace Gray -depth 2", 4, 0},
    {"bilevel", "-monochrome -depth 1", 1, 0},
    {"bilevel_group4", "-monochrome -depth 1 -compress Group4", 1, 0},
    {"bilevel_min_is_white", "-monochrome -depth 1 -define quantum:polarity=min-is-white", 1, 0},
    // The colour map holds 16-bit levels: the two readers round them apart.
    {"palette8", "-colors 77 -type Palette", 8, 1},
    {"palette4", "-colors 9 -type Palette -depth 4", 4, 1},
    {"cmyk", "-colorspace CMYK", 24, 2},
    {"cmyk_tiled", "-colorspace CMYK -define tiff:tile-geometry=16x16", 24, 2},
    {"rgba", "-alpha set -channel A -fx 'i/w' +channel", 24, 2},
    {"jpeg_ycbcr", "-compress JPEG -quality 90", 24, 0},
};

class TiffReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(TiffReference, DecodesLikeImageMagickSeesIt) {
    REQUIRE_CONVERT();
    const ReferenceCase c = GetParam();
    TempDir dir;
    const fs::path src = dir / "src.ppm", file = dir / (std::string(c.name) + ".tif");
    ASSERT_TRUE(Convert("-size 50x37 gradient:lime-purple -swirl 150 -depth 8 " + Q(src)));
    ASSERT_TRUE(Convert(Q(src) + " " + c.options + " " + Q(file))) << c.options;

    LeakCheck leaks;
    Decoded d = DecodeFile(DecodeTIF, file);
    ASSERT_EQ(d.rc, KERV_OK);
    EXPECT_EQ(DIBLock(d.dib.get()).bitCount(), c.bits);
    if (c.bits == 8 && std::string(c.name).rfind("grey", 0) == 0) {
        EXPECT_TRUE(IsDIBGreyScaled(d.dib.get()));
    }
    // JPEG inside TIFF: our YCbCr conversion is libtiff's, convert's is
    // libjpeg's; allow the difference of the two.
    const int tolerance = std::string(c.name) == "jpeg_ycbcr" ? 3 : c.tolerance;
    const int diff = MaxDifference(d.dib.get(), ConvertToPnm(file, dir));
    EXPECT_GE(diff, 0);
    EXPECT_LE(diff, tolerance);
}

INSTANTIATE_TEST_SUITE_P(Layouts, TiffReference, ::testing::ValuesIn(kReferences),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(TiffCodec, OnlyTheFirstPageOfAMultiPageFileIsRead) {
    REQUIRE_CONVERT();
    TempDir dir;
    const fs::path file = dir / "pages.tif";
    ASSERT_TRUE(Convert("-size 12x8 xc:red -size 30x20 xc:blue " + Q(file)));
    Decoded d = DecodeFile(DecodeTIF, file);
    ASSERT_EQ(d.rc, KERV_OK);
    DIBLock lock(d.dib.get());
    EXPECT_EQ(lock.width(), 12);
    EXPECT_EQ(lock.height(), 8);
    EXPECT_EQ(RgbAt(d.dib.get(), 5, 5), 0xFF0000u);
}

TEST(TiffCodec, ResolutionPerCentimetreIsKept) {
    REQUIRE_CONVERT();
    TempDir dir;
    const fs::path file = dir / "cm.tif";
    ASSERT_TRUE(Convert("-size 4x4 xc:gray -units PixelsPerCentimeter -density 40 " + Q(file)));
    Decoded d = DecodeFile(DecodeTIF, file);
    ASSERT_EQ(d.rc, KERV_OK);
    EXPECT_EQ(d.info.attributes.resolutionUnit, 2);
    EXPECT_NEAR(d.info.attributes.resolution, 40.0, 1e-4);
    EXPECT_EQ(DIBLock(d.dib.get())->biXPelsPerMeter, 4000);
}

// ---- Files read back by ImageMagick ----

class TiffWrittenFile : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(TiffWrittenFile, ImageMagickSeesTheSamePixels) {
    REQUIRE_CONVERT();
    const RoundTripCase c = GetParam();
    TempDir dir;
    KOwnedHandle src(MakeTestDIB(31, 17, c.bits, 60 + c.bits, c.grey));
    if (c.bits == 1) { // fax readers see black and white only
        DIBLock d(src.get());
        d.palette()[0] = RGBQUAD{0, 0, 0, 0};
        d.palette()[1] = RGBQUAD{255, 255, 255, 0};
    }
    const fs::path file = dir / "out.tif";
    WriteFileBytes(file, Encode(EncodeTIF, src.get(), TiffOptions(c.compression)));
    EXPECT_EQ(MaxDifference(src.get(), ConvertToPnm(file, dir)), 0);
}

INSTANTIATE_TEST_SUITE_P(SubTypes, TiffWrittenFile,
                         ::testing::Values(RoundTripCase{3, 1, false}, RoundTripCase{5, 1, false},
                                           RoundTripCase{9, 1, false}, RoundTripCase{9, 4, false},
                                           RoundTripCase{9, 8, true}, RoundTripCase{9, 8, false},
                                           RoundTripCase{9, 24, false}, RoundTripCase{7, 4, false},
                                           RoundTripCase{7, 24, false}, RoundTripCase{1, 8, false},
                                           RoundTripCase{1, 24, false}),
                         CaseName);

TEST(TiffCodec, ImageMagickReadsOurCmyk) {
    REQUIRE_CONVERT();
    TempDir dir;
    KOwnedHandle src(MakeTestDIB(13, 9, 24, 3));
    const fs::path file = dir / "cmyk.tif";
    WriteFileBytes(file, Encode(EncodeTIF, src.get(), TiffOptions(7, 2)));
    const int diff = MaxDifference(src.get(), ConvertToPnm(file, dir, "-colorspace sRGB"));
    EXPECT_GE(diff, 0);
    EXPECT_LE(diff, 2);
}

// ---- Damaged and hostile files ----

TEST(TiffCodec, TruncatedFilesAreRefused) {
    // The directory sits at the end of a file libtiff writes, so every cut
    // loses it or the pixels before it; only the closing next-directory
    // pointer (4 zero bytes) may go missing without harm.
    for (const int compression : {9, 1, 3}) {
        KOwnedHandle src(MakeTestDIB(40, 30, compression == 3 ? 1 : 24, 9));
        ExpectPrefixesRefused(DecodeTIF, Encode(EncodeTIF, src.get(), TiffOptions(compression)), 4);
    }
}

TEST(TiffCodec, FlippedBytesGiveACodeNotACrash) {
    KOwnedHandle src(MakeTestDIB(20, 20, 8, 4));
    const std::vector<uint8_t> file = Encode(EncodeTIF, src.get(), TiffOptions(9));
    LeakCheck leaks;
    for (size_t i = 0; i < file.size(); i += 3) {
        std::vector<uint8_t> bad = file;
        bad[i] ^= 0x5A;
        const KervErrorCode rc = Decode(DecodeTIF, bad).rc;
        EXPECT_TRUE(rc == KERV_OK || rc == KERV_CORRUPT_FILE || rc == KERV_UNSUPPORTED_VARIANT ||
                    rc == KERV_IMAGE_TOO_LARGE)
            << "byte " << i << " gave " << rc;
    }
}

TEST(TiffCodec, LibtiffMessagesNeverReachStderr) {
    KOwnedHandle src(MakeTestDIB(16, 16, 24, 4));
    const std::vector<uint8_t> file = Encode(EncodeTIF, src.get(), TiffOptions(9));
    TempDir dir;
    int failures = 0;
    const std::string said = CaptureStderr(dir, [&] {
        for (size_t i = 0; i < file.size(); i += 2) {
            std::vector<uint8_t> bad = file;
            bad[i] ^= 0xFF;
            failures += Decode(DecodeTIF, bad).rc != KERV_OK;
        }
        failures +=
            Decode(DecodeTIF, std::vector<uint8_t>(file.begin(), file.end() - 20)).rc != KERV_OK;
    });
    EXPECT_GT(failures, 0);
    EXPECT_EQ(said, "");
}

// A minimal little-endian TIFF: one strip of 8-bit grey claiming w x h.
std::vector<uint8_t> TiffWithDimensions(uint32_t w, uint32_t h) {
    std::vector<uint8_t> f = {'I', 'I', 42, 0, 8, 0, 0, 0};
    struct Entry {
        uint16_t tag, type;
        uint32_t count, value;
    };
    const Entry entries[] = {{256, 4, 1, w}, {257, 4, 1, h}, {258, 3, 1, 8},
                             {259, 3, 1, 1}, {262, 3, 1, 1}, {273, 4, 1, 200},
                             {277, 3, 1, 1}, {278, 4, 1, h}, {279, 4, 1, 16}};
    auto put16 = [&](uint16_t v) { f.push_back(uint8_t(v)), f.push_back(uint8_t(v >> 8)); };
    auto put32 = [&](uint32_t v) { put16(uint16_t(v)), put16(uint16_t(v >> 16)); };
    put16(static_cast<uint16_t>(std::size(entries)));
    for (const Entry& e : entries) {
        put16(e.tag), put16(e.type), put32(e.count);
        if (e.type == 3)
            put16(uint16_t(e.value)), put16(0);
        else
            put32(e.value);
    }
    put32(0);
    f.resize(216, 0x80);
    return f;
}

TEST(TiffCodec, HugeDimensionsAreRefusedBeforeAnyAllocation) {
    ExpectRefusedWithoutAllocating(DecodeTIF, TiffWithDimensions(100000, 100000),
                                   KERV_IMAGE_TOO_LARGE);
    ExpectRefusedWithoutAllocating(DecodeTIF, TiffWithDimensions(60000, 60000),
                                   KERV_IMAGE_TOO_LARGE);
    // The same header at a sane size is a valid (if short) image.
    Decoded small = Decode(DecodeTIF, TiffWithDimensions(4, 4));
    EXPECT_EQ(small.rc, KERV_OK);
}

TEST(TiffCodec, NotATiffAndBadArguments) {
    EXPECT_EQ(Decode(DecodeTIF, {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0}).rc, KERV_CORRUPT_FILE);
    EXPECT_EQ(Decode(DecodeTIF, {}).rc, KERV_CORRUPT_FILE);
    DecodeRequest req;
    EXPECT_EQ(DecodeTIF(req, nullptr, nullptr), KERV_INVALID_PARAM);
    EncodeRequest enc;
    std::vector<uint8_t> out;
    EXPECT_EQ(EncodeTIF(enc, &out), KERV_INVALID_PARAM);
}

// ---- Failure paths ----

TEST(TiffCodec, EveryAllocationFailureIsReportedAndCleanedUp) {
    KOwnedHandle src(MakeTestDIB(17, 9, 4, 2));
    EXPECT_GE(SweepDecode(DecodeTIF, Encode(EncodeTIF, src.get(), TiffOptions(9))), 2);
    EXPECT_GE(SweepEncode(EncodeTIF, src.get(), TiffOptions(9, 2)), 2);
}

TEST(TiffCodec, StopRequestsEndTheWorkCleanly) {
    LeakCheck leaks;
    KOwnedHandle src(MakeTestDIB(30, 300, 8, 2));
    const std::vector<uint8_t> file = Encode(EncodeTIF, src.get(), TiffOptions(7));
    brellix::test::StoppingStatus stopDecode(3);
    EXPECT_EQ(Decode(DecodeTIF, file, &stopDecode.block).rc, KERV_STOPPED);
    brellix::test::StoppingStatus stopEncode(3);
    KervErrorCode rc = 0;
    Encode(EncodeTIF, src.get(), TiffOptions(7), &rc, &stopEncode.block);
    EXPECT_EQ(rc, KERV_STOPPED);
}

} // namespace
} // namespace brellix::codectest
