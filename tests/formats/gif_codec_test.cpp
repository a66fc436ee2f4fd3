// GIF codec: round trips for every depth, version and interlacing, the
// transparent index, files written by ImageMagick, files read back by it,
// damaged and hostile files, failure paths.
#include "tests/formats/png_jpeg_tiff_gif_tools.h"

#include <cstring>

namespace brellix::codectest {
namespace {

ImageFileInfo GifOptions(int variant, bool interlace, uint16_t transparent = KERV_NO_TRANSPARENCY) {
    ImageFileInfo info;
    info.options.format = 10;
    info.options.variant = variant;
    info.options.interlace = interlace ? 1 : 0;
    info.transparentIndex = transparent;
    return info;
}

struct RoundTripCase {
    int bits;
    int variant;
    bool interlace;
};

std::string CaseName(const ::testing::TestParamInfo<RoundTripCase>& p) {
    return std::to_string(p.param.bits) + "bit_" + (p.param.variant == 40 ? "87a" : "89a") +
           (p.param.interlace ? "_interlaced" : "");
}

class GifRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(GifRoundTrip, PixelsAndPaletteSurvive) {
    const RoundTripCase c = GetParam();
    LeakCheck leaks;
    // 21 rows: every interlace pass gets a different share of rows.
    KOwnedHandle src(MakeTestDIB(35, 21, c.bits, 3 + c.bits));
    const uint16_t transparent = c.bits == 1 ? 1 : 6;
    const std::vector<uint8_t> file =
        Encode(EncodeGIF, src.get(), GifOptions(c.variant, c.interlace, transparent));
    ASSERT_GT(file.size(), 13u);
    EXPECT_EQ(std::memcmp(file.data(), c.variant == 40 ? "GIF87a" : "GIF89a", 6), 0);
    Decoded back = Decode(DecodeGIF, file);
    ASSERT_EQ(back.rc, KERV_OK);
    EXPECT_EQ(brellix::test::ImageContent(back.dib.get()), brellix::test::ImageContent(src.get()));
    EXPECT_EQ(back.info.options.interlace, c.interlace ? 1 : 0);
    EXPECT_EQ(back.info.options.variant, c.variant);
    // 87a has no graphics control extension, so no transparency.
    EXPECT_EQ(back.info.transparentIndex, c.variant == 41 ? transparent : KERV_NO_TRANSPARENCY);
}

INSTANTIATE_TEST_SUITE_P(AllDepths, GifRoundTrip,
                         ::testing::Values(RoundTripCase{1, 40, false}, RoundTripCase{1, 41, true},
                                           RoundTripCase{4, 40, true}, RoundTripCase{4, 41, false},
                                           RoundTripCase{8, 40, false}, RoundTripCase{8, 40, true},
                                           RoundTripCase{8, 41, false}, RoundTripCase{8, 41, true}),
                         CaseName);

TEST(GifCodec, TwentyFourBitImagesAreRefused) {
    KOwnedHandle src(MakeTestDIB(4, 4, 24, 1));
    KervErrorCode rc = 0;
    Encode(EncodeGIF, src.get(), GifOptions(41, false), &rc);
    EXPECT_EQ(rc, KERV_INVALID_PARAM);
}

TEST(GifCodec, ATransparentIndexOutsideThePaletteIsNotWritten) {
    KOwnedHandle src(MakeTestDIB(4, 4, 4, 1));
    Decoded back = Decode(DecodeGIF, Encode(EncodeGIF, src.get(), GifOptions(41, false, 200)));
    ASSERT_EQ(back.rc, KERV_OK);
    EXPECT_EQ(back.info.transparentIndex, KERV_NO_TRANSPARENCY);
}

// ---- Files from ImageMagick ----

struct ReferenceCase {
    const char* name;
    const char* options;
    int bits;
};

const ReferenceCase kReferences[] = {
    {"colours256", "-colors 200", 8},  {"interlaced", "-colors 64 -interlace GIF", 8},
    {"colours16", "-colors 16", 4},    {"colours4", "-colors 4", 4},
    {"two_colours", "-monochrome", 1}, {"grey", "-colorspace Gray -colors 32", 8},
};

class GifReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(GifReference, DecodesLikeImageMagickSeesIt) {
    REQUIRE_CONVERT();
    const ReferenceCase c = GetParam();
    TempDir dir;
    const fs::path src = dir / "src.ppm", file = dir / (std::string(c.name) + ".gif");
    ASSERT_TRUE(Convert("-size 43x29 gradient:gold-teal -swirl 200 -depth 8 " + Q(src)));
    ASSERT_TRUE(Convert(Q(src) + " " + c.options + " " + Q(file)));
    LeakCheck leaks;
    Decoded d = DecodeFile(DecodeGIF, file);
    ASSERT_EQ(d.rc, KERV_OK);
    EXPECT_EQ(DIBLock(d.dib.get()).bitCount(), c.bits);
    EXPECT_EQ(MaxDifference(d.dib.get(), ConvertToPnm(file, dir)), 0);
    if (std::string(c.name) == "interlaced") {
        EXPECT_EQ(d.info.options.interlace, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Encoders, GifReference, ::testing::ValuesIn(kReferences),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(GifCodec, TransparencyFromImageMagickIsRecorded) {
    REQUIRE_CONVERT();
    TempDir dir;
    const fs::path file = dir / "t.gif";
    ASSERT_TRUE(Convert("-size 10x6 xc:navy -fill red -draw 'rectangle 2,1 4,3' -transparent red " +
                        Q(file)));
    Decoded d = DecodeFile(DecodeGIF, file);
    ASSERT_EQ(d.rc, KERV_OK);
    ASSERT_NE(d.info.transparentIndex, KERV_NO_TRANSPARENCY);
    EXPECT_EQ(brellix::test::PixelAt(d.dib.get(), 3, 2), d.info.transparentIndex);
    EXPECT_NE(brellix::test::PixelAt(d.dib.get(), 0, 0), d.info.transparentIndex);
    EXPECT_EQ(RgbAt(d.dib.get(), 0, 0), 0x000080u);
}

// An image smaller than the logical screen sits at its offset; the rest is
// the background colour.
TEST(GifCodec, AnImageOnALargerScreenIsPlacedAtItsOffset) {
    REQUIRE_CONVERT();
    TempDir dir;
    const fs::path file = dir / "page.gif";
    ASSERT_TRUE(Convert("-size 6x4 xc:red -background blue -repage 20x10+9+3 " + Q(file)));
    Decoded d = DecodeFile(DecodeGIF, file);
    ASSERT_EQ(d.rc, KERV_OK);
    DIBLock lock(d.dib.get());
    ASSERT_EQ(lock.width(), 20);
    ASSERT_EQ(lock.height(), 10);
    EXPECT_EQ(RgbAt(d.dib.get(), 9, 3), 0xFF0000u);
    EXPECT_EQ(RgbAt(d.dib.get(), 14, 6), 0xFF0000u);
    const uint8_t background = ReadFileBytes(file)[11]; // the screen's background index
    EXPECT_EQ(brellix::test::PixelAt(d.dib.get(), 0, 0), background);
    EXPECT_EQ(brellix::test::PixelAt(d.dib.get(), 15, 3), background);
    EXPECT_EQ(brellix::test::PixelAt(d.dib.get(), 9, 7), background);
}

TEST(GifCodec, UncoveredScreenShowsTheBackgroundIndex) {
    // Our own 6 x 4 file, moved to 9,3 on a 20 x 10 screen with background 5.
    KOwnedHandle src(MakeTestDIB(6, 4, 4, 8));
    {
        DIBLock d(src.get());
        std::memset(d.bits(), 0x22, size_t(d.stride()) * 4); // every pixel index 2
    }
    std::vector<uint8_t> file = Encode(EncodeGIF, src.get(), GifOptions(41, false));
    file[6] = 20, file[8] = 10, file[11] = 5;
    const size_t desc = 13 + 16 * 3;
    ASSERT_EQ(file[desc], 0x2C);
    file[desc + 1] = 9, file[desc + 3] = 3;
    Decoded d = Decode(DecodeGIF, file);
    ASSERT_EQ(d.rc, KERV_OK);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool inside = x >= 9 && x < 15 && y >= 3 && y < 7;
            ASSERT_EQ(brellix::test::PixelAt(d.dib.get(), x, y), inside ? 2u : 5u) << x << "," << y;
        }
}

TEST(GifCodec, OnlyTheFirstFrameIsRead) {
    REQUIRE_CONVERT();
    TempDir dir;
    const fs::path file = dir / "anim.gif";
    ASSERT_TRUE(Convert("-size 8x8 xc:red xc:lime xc:blue " + Q(file)));
    Decoded d = DecodeFile(DecodeGIF, file);
    ASSERT_EQ(d.rc, KERV_OK);
    EXPECT_EQ(RgbAt(d.dib.get(), 4, 4), 0xFF0000u);
}

// ---- Files read back by ImageMagick ----

class GifWrittenFile : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(GifWrittenFile, ImageMagickSeesTheSamePixels) {
    REQUIRE_CONVERT();
    const RoundTripCase c = GetParam();
    TempDir dir;
    KOwnedHandle src(MakeTestDIB(27, 19, c.bits, 90 + c.bits));
    const fs::path file = dir / "out.gif";
    WriteFileBytes(file, Encode(EncodeGIF, src.get(), GifOptions(c.variant, c.interlace)));
    EXPECT_EQ(MaxDifference(src.get(), ConvertToPnm(file, dir)), 0);
}

INSTANTIATE_TEST_SUITE_P(AllDepths, GifWrittenFile,
                         ::testing::Values(RoundTripCase{1, 40, false}, RoundTripCase{4, 41, true},
                                           RoundTripCase{8, 40, true}, RoundTripCase{8, 41, false}),
                         CaseName);

// ---- Damaged and hostile files ----

TEST(GifCodec, TruncatedFilesAreRefused) {
    // Only the closing trailer byte may go: the image is complete without it.
    for (const bool interlace : {false, true}) {
        KOwnedHandle src(MakeTestDIB(40, 30, 8, 9));
        ExpectPrefixesRefused(DecodeGIF, Encode(EncodeGIF, src.get(), GifOptions(41, interlace, 3)),
                              1);
    }
}

TEST(GifCodec, FlippedBytesGiveACodeNotACrash) {
    KOwnedHandle src(MakeTestDIB(20, 20, 8, 4));
    const std::vector<uint8_t> file = Encode(EncodeGIF, src.get(), GifOptions(41, true, 2));
    LeakCheck leaks;
    for (size_t i = 0; i < file.size(); i += 7) {
        std::vector<uint8_t> bad = file;
        bad[i] ^= 0x5A;
        const KervErrorCode rc = Decode(DecodeGIF, bad).rc;
        EXPECT_TRUE(rc == KERV_OK || rc == KERV_CORRUPT_FILE || rc == KERV_IMAGE_TOO_LARGE)
            << "byte " << i << " gave " << rc;
    }
}

std::vector<uint8_t> GifWithScreen(uint16_t w, uint16_t h) {
    std::vector<uint8_t> f = {
        'G',  'I', 'F', '8', '9', 'a', uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8),
        0xF7, 0,   0};
    f.resize(f.size() + 256 * 3, 0x40);
    // One 1 x 1 image, then the trailer.
    f.insert(f.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, 0x3B});
    return f;
}

TEST(GifCodec, HugeScreensAreRefusedBeforeAnyAllocation) {
    // GIF sizes stop at 65535; that square is far beyond the block limit.
    ExpectRefusedWithoutAllocating(DecodeGIF, GifWithScreen(65535, 65535), KERV_IMAGE_TOO_LARGE);
    ExpectRefusedWithoutAllocating(DecodeGIF, GifWithScreen(50000, 50000), KERV_IMAGE_TOO_LARGE);
    Decoded small = Decode(DecodeGIF, GifWithScreen(3, 2));
    EXPECT_EQ(small.rc, KERV_OK);
}

TEST(GifCodec, NotAGifAndBadArguments) {
    EXPECT_EQ(Decode(DecodeGIF, {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B}).rc,
              KERV_CORRUPT_FILE); // no image at all
    EXPECT_EQ(Decode(DecodeGIF, {0x89, 'P', 'N', 'G'}).rc, KERV_CORRUPT_FILE);
    DecodeRequest req;
    EXPECT_EQ(DecodeGIF(req, nullptr, nullptr), KERV_INVALID_PARAM);
    EncodeRequest enc;
    std::vector<uint8_t> out;
    EXPECT_EQ(EncodeGIF(enc, &out), KERV_INVALID_PARAM);
}

// ---- Failure paths ----

TEST(GifCodec, EveryAllocationFailureIsReportedAndCleanedUp) {
    KOwnedHandle src(MakeTestDIB(17, 9, 4, 2));
    const std::vector<uint8_t> file = Encode(EncodeGIF, src.get(), GifOptions(41, true, 1));
    EXPECT_GE(SweepDecode(DecodeGIF, file), 2);
    EXPECT_GE(SweepEncode(EncodeGIF, src.get(), GifOptions(41, true, 1)), 1);
}

TEST(GifCodec, StopRequestsEndTheWorkCleanly) {
    LeakCheck leaks;
    KOwnedHandle src(MakeTestDIB(30, 40, 8, 2));
    const std::vector<uint8_t> file = Encode(EncodeGIF, src.get(), GifOptions(41, true));
    brellix::test::StoppingStatus stopDecode(3);
    EXPECT_EQ(Decode(DecodeGIF, file, &stopDecode.block).rc, KERV_STOPPED);
    brellix::test::StoppingStatus stopEncode(3);
    KervErrorCode rc = 0;
    Encode(EncodeGIF, src.get(), GifOptions(40, false), &rc, &stopEncode.block);
    EXPECT_EQ(rc, KERV_STOPPED);
}

} // namespace
} // namespace brellix::codectest
