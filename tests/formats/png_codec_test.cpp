// PNG codec: round trips, files written by ImageMagick and netpbm, files read
// back by ImageMagick, damaged and hostile files, failure paths.
#include "tests/formats/png_jpeg_tiff_gif_tools.h"

#include <cstring>

namespace brellix::codectest {
namespace {

ImageFileInfo PngOptions(bool interlace) {
    ImageFileInfo info;
    info.options.format = 28;
    info.options.interlace = interlace ? 1 : 0;
    return info;
}

struct RoundTripCase {
    int bits;
    bool grey;
    bool interlace;
};

std::string CaseName(const ::testing::TestParamInfo<RoundTripCase>& p) {
    return std::to_string(p.param.bits) + "bit" + (p.param.grey ? "_grey" : "") +
           (p.param.interlace ? "_interlaced" : "");
}

class PngRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(PngRoundTrip, PixelsPaletteAndResolutionSurvive) {
    const RoundTripCase c = GetParam();
    LeakCheck leaks;
    KOwnedHandle src(MakeTestDIB(29, 17, c.bits, 11 + c.bits, c.grey));
    SetPelsPerMetre(src.get(), 11811);
    ImageFileInfo info = PngOptions(c.interlace);
    const std::vector<uint8_t> file = Encode(EncodePNG, src.get(), info);
    ASSERT_GT(file.size(), 8u);
    EXPECT_EQ(file[28], c.interlace ? 1 : 0) << "interlace method in IHDR";

    Decoded back = Decode(DecodePNG, file);
    ASSERT_EQ(back.rc, KERV_OK);
    EXPECT_EQ(brellix::test::ImageContent(back.dib.get()), brellix::test::ImageContent(src.get()));
    EXPECT_DOUBLE_EQ(back.info.attributes.resolution, 300.0);
    EXPECT_EQ(back.info.attributes.resolutionUnit, 1);
    EXPECT_EQ(back.info.options.interlace, c.interlace ? 1 : 0);
    EXPECT_EQ(back.info.transparentIndex, KERV_NO_TRANSPARENCY);
}

INSTANTIATE_TEST_SUITE_P(
    AllDepths, PngRoundTrip,
    ::testing::Values(RoundTripCase{1, false, false}, RoundTripCase{1, false, true},
                      RoundTripCase{4, false, false}, RoundTripCase{4, false, true},
                      RoundTripCase{4, true, false}, RoundTripCase{8, false, false},
                      RoundTripCase{8, false, true}, RoundTripCase{8, true, false},
                      RoundTripCase{8, true, true}, RoundTripCase{24, false, false},
                      RoundTripCase{24, false, true}),
    CaseName);

TEST(PngCodec, GreyImagesAreWrittenAsGreyAndReadAsCanonicalGreyscale) {
    KOwnedHandle src(MakeTestDIB(16, 9, 8, 3, true));
    const std::vector<uint8_t> file = Encode(EncodePNG, src.get(), PngOptions(false));
    EXPECT_EQ(file[25], 0) << "colour type grey";
    EXPECT_EQ(file[24], 8);
    Decoded back = Decode(DecodePNG, file);
    ASSERT_EQ(back.rc, KERV_OK);
    EXPECT_TRUE(IsDIBGreyScaled(back.dib.get()));
}

TEST(PngCodec, TransparentIndexTravelsAsTrns) {
    for (const bool grey : {false, true}) {
        KOwnedHandle src(MakeTestDIB(10, 10, 8, 5, grey));
        ImageFileInfo info = PngOptions(false);
        info.transparentIndex = 77;
        const std::vector<uint8_t> file = Encode(EncodePNG, src.get(), info);
        Decoded back = Decode(DecodePNG, file);
        ASSERT_EQ(back.rc, KERV_OK);
        EXPECT_EQ(back.info.transparentIndex, 77) << (grey ? "grey" : "palette");
        EXPECT_EQ(brellix::test::ImageContent(back.dib.get()),
                  brellix::test::ImageContent(src.get()));
    }
}

TEST(PngCodec, ResolutionFromTheRequestWinsOverTheDibs) {
    KOwnedHandle src(MakeTestDIB(4, 4, 24, 1));
    SetPelsPerMetre(src.get(), 3780); // 96 dpi
    ImageFileInfo info = PngOptions(false);
    info.attributes.resolution = 50; // per centimetre
    info.attributes.resolutionUnit = 2;
    Decoded back = Decode(DecodePNG, Encode(EncodePNG, src.get(), info));
    ASSERT_EQ(back.rc, KERV_OK);
    DIBLock d(back.dib.get());
    EXPECT_EQ(d->biXPelsPerMeter, 5000);
    EXPECT_DOUBLE_EQ(back.info.attributes.resolution, 127.0);
}

// A palette whose pixels use indices beyond the DIB's entry count still
// gives a valid file: the palette is padded.
TEST(PngCodec, ShortPaletteIsPaddedToTheIndicesUsed) {
    KOwnedHandle src(AllocDIB(3, 1, 8, 4));
    {
        DIBLock d(src.get());
        d.palette()[1] = RGBQUAD{1, 2, 3, 0};
        d.bits()[0] = 1;
        d.bits()[1] = 9;
        d.bits()[2] = 3;
    }
    Decoded back = Decode(DecodePNG, Encode(EncodePNG, src.get(), PngOptions(false)));
    ASSERT_EQ(back.rc, KERV_OK);
    EXPECT_EQ(brellix::test::PixelAt(back.dib.get(), 1, 0), 9u);
    EXPECT_EQ(RgbAt(back.dib.get(), 0, 0), 0x030201u);
}

// ---- Files from other encoders ----

struct ReferenceCase {
    const char* name;
    const char* command; // %s = source PPM, %o = output; run through the shell
    int bits;            // depth the DIB must have
    int tolerance;       // largest channel difference from convert's view
    const char* view;    // options for convert's reading
};

std::string Expand(std::string cmd, const fs::path& src, const fs::path& out,
                   const fs::path& grey) {
    auto replace = [&](const std::string& key, const std::string& value) {
        for (size_t p = 0; (p = cmd.find(key, p)) != std::string::npos; p += value.size())
            cmd.replace(p, key.size(), value);
    };
    replace("%s", Q(src));
    replace("%o", Q(out));
    replace("%g", Q(grey));
    replace("convert ", ConvertTool() + " ");
    return cmd;
}

const ReferenceCase kReferences[] = {
    {"grey1",
     "convert %s -colorspace Gray -depth 1 -define png:color-type=0 -define png:bit-depth=1 %o", 1,
     0, ""},
    {"grey2",
     "convert %s -colorspace Gray -depth 2 -define png:color-type=0 -define png:bit-depth=2 %o", 4,
     0, ""},
    {"grey4",
     "convert %s -colorspace Gray -depth 4 -define png:color-type=0 -define png:bit-depth=4 %o", 4,
     0, ""},
    {"grey8", "convert %s -colorspace Gray -define png:color-type=0 -define png:bit-depth=8 %o", 8,
     0, ""},
    {"grey16", "convert %s -colorspace Gray -depth 16 -define png:color-type=0 %o", 8, 1, ""},
    {"palette1", "pnmquant 2 %s | pnmtopng > %o", 1, 0, ""},
    {"palette2", "pnmquant 4 %s | pnmtopng > %o", 4, 0, ""},
    {"palette4", "pnmquant 12 %s | pnmtopng > %o", 4, 0, ""},
    {"palette8", "pnmquant 100 %s | pnmtopng > %o", 8, 0, ""},
    {"palette_interlaced", "pnmquant 12 %s | pnmtopng -interlace > %o", 4, 0, ""},
    {"rgb8", "convert %s -define png:color-type=2 %o", 24, 0, ""},
    {"rgb16", "convert %s -depth 16 -define png:color-type=2 %o", 24, 1, ""},
    {"rgb_interlaced", "convert %s -define png:color-type=2 -interlace PNG %o", 24, 0, ""},
    {"grey_alpha8",
     "convert %s -colorspace Gray \\( %g -negate \\) -alpha off -compose CopyOpacity -composite "
     "-define png:color-type=4 %o",
     8, 1, ""},
    {"grey_alpha16",
     "convert %s -colorspace Gray \\( %g -negate \\) -alpha off -compose CopyOpacity -composite "
     "-depth 16 -define png:color-type=4 %o",
     8, 1, ""},
    {"rgba8",
     "convert %s \\( %g -negate \\) -alpha off -compose CopyOpacity -composite -define "
     "png:color-type=6 %o",
     24, 1, ""},
    {"rgba16",
     "convert %s \\( %g -negate \\) -alpha off -compose CopyOpacity -composite -depth 16 -define "
     "png:color-type=6 %o",
     24, 1, ""},
    {"rgba_interlaced",
     "convert %s \\( %g -negate \\) -alpha off -compose CopyOpacity -composite -define "
     "png:color-type=6 -interlace PNG %o",
     24, 1, ""},
};

class PngReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(PngReference, DecodesLikeImageMagickSeesIt) {
    REQUIRE_CONVERT();
    REQUIRE_TOOL("pnmtopng");
    const ReferenceCase c = GetParam();
    TempDir dir;
    const fs::path src = dir / "src.ppm", grey = dir / "grey.pgm",
                   file = dir / (std::string(c.name) + ".png");
    ASSERT_TRUE(Convert("-size 37x23 gradient:red-blue -swirl 90 -depth 8 " + Q(src)));
    ASSERT_TRUE(Convert(Q(src) + " -colorspace Gray -depth 8 " + Q(grey)));
    ASSERT_TRUE(RunShell(Expand(std::string("( ") + c.command + " )", src, file, grey)))
        << c.command;

    LeakCheck leaks;
    Decoded d = DecodeFile(DecodePNG, file);
    ASSERT_EQ(d.rc, KERV_OK);
    DIBLock lock(d.dib.get());
    EXPECT_EQ(lock.bitCount(), c.bits);
    if (std::strncmp(c.name, "grey", 4) == 0 && c.bits == 8) {
        EXPECT_TRUE(IsDIBGreyScaled(d.dib.get()));
    }
    const int diff = MaxDifference(d.dib.get(), ConvertToPnm(file, dir, c.view));
    EXPECT_GE(diff, 0) << "size differs from convert's, or convert failed";
    EXPECT_LE(diff, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(ColourTypes, PngReference, ::testing::ValuesIn(kReferences),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(PngCodec, PaletteTransparencyFromPnmtopngBecomesTheTransparentIndex) {
    REQUIRE_CONVERT();
    REQUIRE_TOOL("pnmtopng");
    TempDir dir;
    const fs::path src = dir / "src.ppm", file = dir / "trns.png";
    ASSERT_TRUE(Convert(
        "-size 20x10 'xc:#102030' -fill '#6e0090' -draw 'rectangle 5,2 9,6' -depth 8 " + Q(src)));
    ASSERT_TRUE(RunShell("pnmtopng -transparent =rgb:6e/00/90 " + Q(src) + " > " + Q(file)));
    Decoded d = DecodeFile(DecodePNG, file);
    ASSERT_EQ(d.rc, KERV_OK);
    ASSERT_NE(d.info.transparentIndex, KERV_NO_TRANSPARENCY);
    // The transparent entry keeps its colour; the pixels point at it.
    EXPECT_EQ(brellix::test::PixelAt(d.dib.get(), 6, 3), d.info.transparentIndex);
    EXPECT_EQ(RgbAt(d.dib.get(), 6, 3), 0x6e0090u);
    EXPECT_EQ(RgbAt(d.dib.get(), 0, 0), 0x102030u);
}

TEST(PngCodec, PartlyTransparentPaletteEntriesAreCompositedOntoWhite) {
    REQUIRE_TOOL("pnmtopng");
    TempDir dir;
    const fs::path src = dir / "src.ppm", alpha = dir / "alpha.pgm", file = dir / "pa.png";
    // Two colours; the second is half transparent wherever it appears.
    WriteFileBytes(src,
                   {'P', '6', ' ', '2', ' ', '1', ' ', '2', '5', '5', '\n', 0, 0, 200, 100, 0, 0});
    WriteFileBytes(alpha, {'P', '5', ' ', '2', ' ', '1', ' ', '2', '5', '5', '\n', 255, 128});
    ASSERT_TRUE(RunShell("pnmtopng -alpha=" + Q(alpha) + " " + Q(src) + " > " + Q(file)));
    Decoded d = DecodeFile(DecodePNG, file);
    ASSERT_EQ(d.rc, KERV_OK);
    EXPECT_EQ(RgbAt(d.dib.get(), 0, 0), 0x0000C8u);
    // 100 at alpha 128 over white: (100 * 128 + 255 * 127 + 127) / 255 = 177.
    EXPECT_EQ(RgbAt(d.dib.get(), 1, 0), 0xB17F7Fu);
}

// ---- Files read back by ImageMagick ----

class PngWrittenFile : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(PngWrittenFile, ImageMagickSeesTheSamePixels) {
    REQUIRE_CONVERT();
    const RoundTripCase c = GetParam();
    TempDir dir;
    KOwnedHandle src(MakeTestDIB(33, 21, c.bits, 40 + c.bits, c.grey));
    const fs::path file = dir / "out.png";
    WriteFileBytes(file, Encode(EncodePNG, src.get(), PngOptions(c.interlace)));
    EXPECT_EQ(MaxDifference(src.get(), ConvertToPnm(file, dir)), 0);
}

INSTANTIATE_TEST_SUITE_P(
    AllDepths, PngWrittenFile,
    ::testing::Values(RoundTripCase{1, false, false}, RoundTripCase{4, false, true},
                      RoundTripCase{4, true, false}, RoundTripCase{8, false, false},
                      RoundTripCase{8, true, true}, RoundTripCase{24, false, false},
                      RoundTripCase{24, false, true}),
    CaseName);

// ---- Damaged and hostile files ----

TEST(PngCodec, TruncatedFilesAreRefused) {
    for (const bool interlace : {false, true}) {
        KOwnedHandle src(MakeTestDIB(40, 30, 24, 9));
        const std::vector<uint8_t> file = Encode(EncodePNG, src.get(), PngOptions(interlace));
        ExpectPrefixesRefused(DecodePNG, file, 0);
    }
    KOwnedHandle pal(MakeTestDIB(40, 30, 4, 9));
    ExpectPrefixesRefused(DecodePNG, Encode(EncodePNG, pal.get(), PngOptions(false)), 0);
}

TEST(PngCodec, FlippedBytesGiveACodeNotACrash) {
    KOwnedHandle src(MakeTestDIB(20, 20, 8, 4));
    const std::vector<uint8_t> file = Encode(EncodePNG, src.get(), PngOptions(true));
    LeakCheck leaks;
    for (size_t i = 8; i < file.size(); i += 3) {
        std::vector<uint8_t> bad = file;
        bad[i] ^= 0x5A;
        Decoded d = Decode(DecodePNG, bad);
        EXPECT_TRUE(d.rc == KERV_OK || d.rc == KERV_CORRUPT_FILE)
            << "byte " << i << " gave " << d.rc;
    }
}

std::vector<uint8_t> PngWithHeader(uint32_t w, uint32_t h, uint8_t depth, uint8_t type) {
    std::vector<uint8_t> f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                              0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    for (const uint32_t v : {w, h})
        for (int s = 24; s >= 0; s -= 8)
            f.push_back(static_cast<uint8_t>(v >> s));
    f.insert(f.end(), {depth, type, 0, 0, 0});
    const uint32_t crc = Crc32(f.data() + 12, 17);
    for (int s = 24; s >= 0; s -= 8)
        f.push_back(static_cast<uint8_t>(crc >> s));
    // An IDAT chunk so the header is all that is wrong.
    f.insert(f.end(), {0, 0, 0, 0, 'I', 'D', 'A', 'T', 0x35, 0xAF, 0x06, 0x1E});
    return f;
}

TEST(PngCodec, HugeDimensionsAreRefusedBeforeAnyAllocation) {
    ExpectRefusedWithoutAllocating(DecodePNG, PngWithHeader(100000, 100000, 8, 2),
                                   KERV_IMAGE_TOO_LARGE);
    ExpectRefusedWithoutAllocating(DecodePNG, PngWithHeader(60000, 60000, 8, 6),
                                   KERV_IMAGE_TOO_LARGE);
    ExpectRefusedWithoutAllocating(DecodePNG, PngWithHeader(0, 10, 8, 0), KERV_CORRUPT_FILE);
}

// Found by the fuzzer: a metadata chunk claiming 2 GB made libpng allocate
// and clear that much before finding the file short.
TEST(PngCodec, OversizedMetadataChunkIsRefused) {
    std::vector<uint8_t> f = PngWithHeader(16, 12, 16, 0);
    f.resize(33); // signature and IHDR only
    f.insert(f.end(), {0x7F, 0xFF, 0xFF, 0xF0, 't', 'E', 'X', 't', 'a', 0, 'b'});
    EXPECT_EQ(Decode(DecodePNG, f).rc, KERV_CORRUPT_FILE);
}

TEST(PngCodec, NotAPngAndBadArguments) {
    const std::vector<uint8_t> junk = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0};
    EXPECT_EQ(Decode(DecodePNG, junk).rc, KERV_CORRUPT_FILE);
    EXPECT_EQ(Decode(DecodePNG, {}).rc, KERV_CORRUPT_FILE);
    DecodeRequest req;
    EXPECT_EQ(DecodePNG(req, nullptr, nullptr), KERV_INVALID_PARAM);
    EncodeRequest enc;
    std::vector<uint8_t> out;
    EXPECT_EQ(EncodePNG(enc, &out), KERV_INVALID_PARAM);
}

// ---- Failure paths ----

TEST(PngCodec, EveryAllocationFailureIsReportedAndCleanedUp) {
    KOwnedHandle src(MakeTestDIB(12, 9, 24, 2));
    EXPECT_GE(SweepDecode(DecodePNG, Encode(EncodePNG, src.get(), PngOptions(true))), 1);
    EXPECT_GE(SweepEncode(EncodePNG, src.get(), PngOptions(true)), 0);
}

TEST(PngCodec, StopRequestsEndTheWorkCleanly) {
    LeakCheck leaks;
    KOwnedHandle src(MakeTestDIB(30, 30, 8, 2));
    const std::vector<uint8_t> file = Encode(EncodePNG, src.get(), PngOptions(true));
    brellix::test::StoppingStatus stopDecode(5);
    EXPECT_EQ(Decode(DecodePNG, file, &stopDecode.block).rc, KERV_STOPPED);
    brellix::test::StoppingStatus stopEncode(5);
    KervErrorCode rc = 0;
    Encode(EncodePNG, src.get(), PngOptions(false), &rc, &stopEncode.block);
    EXPECT_EQ(rc, KERV_STOPPED);
}

} // namespace
} // namespace brellix::codectest
