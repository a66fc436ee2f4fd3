// JPEG codec: round trips within JPEG's error, the quality rule checked
// against cjpeg, files from cjpeg and ImageMagick (CMYK included), files read
// back by djpeg, damaged and hostile files, failure paths.
#include "tests/formats/png_jpeg_tiff_gif_tools.h"

namespace brellix::codectest {
namespace {

ImageFileInfo JpegOptions(int variant = 70, int16_t factor = 15) {
    ImageFileInfo info;
    info.options.format = 17;
    info.options.variant = variant;
    info.options.compressionFactor = factor;
    return info;
}

// Finds a marker segment (its bytes after the length) in a JPEG stream.
std::vector<uint8_t> Segment(const std::vector<uint8_t>& f, uint8_t marker, int nth = 0) {
    size_t p = 2;
    while (p + 4 <= f.size() && f[p] == 0xFF) {
        const uint8_t m = f[p + 1];
        const size_t len = (size_t(f[p + 2]) << 8) | f[p + 3];
        if (m == marker && nth-- == 0) return {f.begin() + p + 4, f.begin() + p + 2 + len};
        if (m == 0xDA) break;
        p += 2 + len;
    }
    return {};
}

bool HasMarker(const std::vector<uint8_t>& f, uint8_t marker) {
    return !Segment(f, marker).empty();
}

struct ErrorStats {
    int worst = 0;
    double mean = 0;
};
ErrorStats Compare(KHANDLE a, KHANDLE b) {
    ErrorStats s;
    DIBLock da(a), db(b);
    if (!da || !db || da.width() != db.width() || da.height() != db.height()) return {999, 999};
    double sum = 0;
    for (int y = 0; y < da.height(); ++y)
        for (int x = 0; x < da.width(); ++x) {
            const int d = ChannelDiff(RgbAt(a, x, y), RgbAt(b, x, y));
            s.worst = std::max(s.worst, d);
            sum += d;
        }
    s.mean = sum / (double(da.width()) * da.height());
    return s;
}

TEST(JpegCodec, StandardAndProgressiveRoundTripsStayClose) {
    LeakCheck leaks;
    KOwnedHandle src(MakeSmoothDIB(67, 45));
    for (const int variant : {70, 71}) {
        const std::vector<uint8_t> file = Encode(EncodeJPG, src.get(), JpegOptions(variant));
        EXPECT_EQ(HasMarker(file, 0xC0), variant == 70);
        EXPECT_EQ(HasMarker(file, 0xC2), variant == 71);
        Decoded back = Decode(DecodeJPG, file);
        ASSERT_EQ(back.rc, KERV_OK);
        DIBLock d(back.dib.get());
        EXPECT_EQ(d.bitCount(), 24);
        EXPECT_EQ(back.info.options.variant, variant);
        const ErrorStats e = Compare(src.get(), back.dib.get());
        EXPECT_LE(e.worst, 24) << "variant " << variant;
        EXPECT_LT(e.mean, 3.5) << "variant " << variant;
    }
}

// Tables are kept baseline-compatible (at most 255), as cjpeg -baseline does.
TEST(JpegCodec, QualityIsOneHundredMinusTheCompressionFactorAsCjpegWritesIt) {
    REQUIRE_TOOL("cjpeg");
    TempDir dir;
    KOwnedHandle src(MakeSmoothDIB(32, 24));
    WritePpm(dir / "src.ppm", src.get());
    for (const int factor : {15, 0, 40, 90}) {
        const std::vector<uint8_t> ours =
            Encode(EncodeJPG, src.get(), JpegOptions(70, static_cast<int16_t>(factor)));
        const fs::path ref = dir / "ref.jpg";
        ASSERT_TRUE(RunShell("cjpeg -baseline -quality " + std::to_string(100 - factor) + " " +
                             Q(dir / "src.ppm") + " > " + Q(ref)));
        const std::vector<uint8_t> theirs = ReadFileBytes(ref);
        for (int table = 0; table < 2; ++table) {
            const std::vector<uint8_t> a = Segment(ours, 0xDB, table),
                                       b = Segment(theirs, 0xDB, table);
            ASSERT_FALSE(a.empty());
            EXPECT_EQ(a, b) << "quantisation table " << table << " at factor " << factor;
        }
    }
}

TEST(JpegCodec, GreyImagesOfAnyDepthAreWrittenAsGrey) {
    struct Case {
        int bits;
        bool greyRamp;
        int components;
    };
    for (const Case c : {Case{8, true, 1}, Case{4, true, 1}, Case{1, false, 3}, Case{4, false, 3},
                         Case{8, false, 3}}) {
        LeakCheck leaks;
        KOwnedHandle src(MakeTestDIB(20, 12, c.bits, 3, c.greyRamp));
        if (c.bits == 1) { // a black and white pair counts as grey
            DIBLock d(src.get());
            d.palette()[0] = RGBQUAD{0, 0, 0, 0};
            d.palette()[1] = RGBQUAD{255, 255, 255, 0};
        }
        const int expected = c.bits == 1 ? 1 : c.components;
        const std::vector<uint8_t> file = Encode(EncodeJPG, src.get(), JpegOptions(70, 0));
        const std::vector<uint8_t> sof = Segment(file, 0xC0);
        ASSERT_GE(sof.size(), 6u);
        EXPECT_EQ(sof[5], expected) << c.bits << " bits";
        Decoded back = Decode(DecodeJPG, file);
        ASSERT_EQ(back.rc, KERV_OK);
        EXPECT_EQ(IsDIBGreyScaled(back.dib.get()), expected == 1);
        // Quality 100: only rounding and, for colour, chroma subsampling of
        // random pixels remain.
        if (expected == 1) {
            EXPECT_LE(Compare(src.get(), back.dib.get()).worst, 2);
        }
    }
}

TEST(JpegCodec, ResolutionTravelsAsJfifDensity) {
    KOwnedHandle src(MakeSmoothDIB(8, 8));
    struct Case {
        double value;
        int unit;
    };
    for (const Case c : {Case{300, 1}, Case{118, 2}}) {
        ImageFileInfo info = JpegOptions();
        info.attributes.resolution = c.value;
        info.attributes.resolutionUnit = c.unit;
        Decoded back = Decode(DecodeJPG, Encode(EncodeJPG, src.get(), info));
        ASSERT_EQ(back.rc, KERV_OK);
        EXPECT_DOUBLE_EQ(back.info.attributes.resolution, c.value);
        EXPECT_EQ(back.info.attributes.resolutionUnit, c.unit);
        DIBLock d(back.dib.get());
        EXPECT_EQ(d->biXPelsPerMeter, c.unit == 1 ? 11811 : 11800);
    }
    // No resolution given anywhere: the file says nothing either.
    Decoded none = Decode(DecodeJPG, Encode(EncodeJPG, src.get(), JpegOptions()));
    EXPECT_EQ(none.info.attributes.resolutionUnit, 0);
}

// ---- Files from other encoders ----

struct ReferenceCase {
    const char* name;
    const char* make; // shell command; %s source PPM, %o output
    bool viaDjpeg;    // compare with djpeg's pixels (exact) or convert's
    int bits;
    int tolerance;
};

const ReferenceCase kReferences[] = {
    {"cjpeg_baseline", "cjpeg -quality 80 %s > %o", true, 24, 0},
    {"cjpeg_progressive", "cjpeg -progressive %s > %o", true, 24, 0},
    {"cjpeg_grey", "cjpeg -grayscale %s > %o", true, 8, 0},
    {"cjpeg_restart", "cjpeg -restart 2 -sample 1x1 %s > %o", true, 24, 0},
    {"convert_cmyk", "convert %s -colorspace CMYK %o", false, 24, 2},
    {"convert_progressive_cmyk", "convert %s -colorspace CMYK -interlace JPEG %o", false, 24, 2},
};

class JpegReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(JpegReference, DecodesLikeTheReferenceDecoder) {
    REQUIRE_CONVERT();
    REQUIRE_TOOL("cjpeg");
    REQUIRE_TOOL("djpeg");
    const ReferenceCase c = GetParam();
    TempDir dir;
    const fs::path src = dir / "src.ppm", file = dir / (std::string(c.name) + ".jpg");
    ASSERT_TRUE(Convert("-size 53x31 gradient:orange-navy -swirl 120 -depth 8 " + Q(src)));
    std::string cmd = c.make;
    cmd.replace(cmd.find("%s"), 2, Q(src));
    cmd.replace(cmd.find("%o"), 2, Q(file));
    if (cmd.rfind("convert ", 0) == 0) cmd.replace(0, 7, ConvertTool());
    ASSERT_TRUE(RunShell(cmd)) << cmd;

    LeakCheck leaks;
    Decoded d = DecodeFile(DecodeJPG, file);
    ASSERT_EQ(d.rc, KERV_OK);
    EXPECT_EQ(DIBLock(d.dib.get()).bitCount(), c.bits);
    Pnm ref;
    if (c.viaDjpeg) {
        ASSERT_TRUE(RunShell("djpeg -pnm " + Q(file) + " > " + Q(dir / "ref.pnm")));
        ref = ReadPnm(dir / "ref.pnm");
    } else {
        ref = ConvertToPnm(file, dir, "-colorspace sRGB");
    }
    const int diff = MaxDifference(d.dib.get(), ref);
    EXPECT_GE(diff, 0);
    EXPECT_LE(diff, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(Encoders, JpegReference, ::testing::ValuesIn(kReferences),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- Files read back by djpeg and ImageMagick ----

TEST(JpegCodec, DjpegAndConvertReadOurFilesWithTheSamePixels) {
    REQUIRE_TOOL("djpeg");
    REQUIRE_CONVERT();
    TempDir dir;
    KOwnedHandle colour(MakeSmoothDIB(41, 27));
    KOwnedHandle grey(MakeTestDIB(41, 27, 8, 4, true));
    for (KHANDLE src : {colour.get(), grey.get()}) {
        for (const int variant : {70, 71}) {
            const fs::path file = dir / "ours.jpg";
            const std::vector<uint8_t> bytes = Encode(EncodeJPG, src, JpegOptions(variant));
            WriteFileBytes(file, bytes);
            Decoded ours = Decode(DecodeJPG, bytes);
            ASSERT_EQ(ours.rc, KERV_OK);
            ASSERT_TRUE(RunShell("djpeg -pnm " + Q(file) + " > " + Q(dir / "d.pnm")));
            EXPECT_EQ(MaxDifference(ours.dib.get(), ReadPnm(dir / "d.pnm")), 0);
            EXPECT_EQ(MaxDifference(ours.dib.get(), ConvertToPnm(file, dir)), 0);
        }
    }
}

// ---- Damaged and hostile files ----

TEST(JpegCodec, TruncatedFilesAreRefused) {
    KOwnedHandle src(MakeSmoothDIB(48, 40));
    for (const int variant : {70, 71})
        ExpectPrefixesRefused(DecodeJPG, Encode(EncodeJPG, src.get(), JpegOptions(variant)), 0);
}

TEST(JpegCodec, FlippedBytesGiveACodeNotACrash) {
    KOwnedHandle src(MakeSmoothDIB(24, 24));
    const std::vector<uint8_t> file = Encode(EncodeJPG, src.get(), JpegOptions(71));
    LeakCheck leaks;
    for (size_t i = 2; i < file.size(); i += 5) {
        std::vector<uint8_t> bad = file;
        bad[i] ^= 0xA5;
        const KervErrorCode rc = Decode(DecodeJPG, bad).rc;
        EXPECT_TRUE(rc == KERV_OK || rc == KERV_CORRUPT_FILE || rc == KERV_UNSUPPORTED_VARIANT ||
                    rc == KERV_IMAGE_TOO_LARGE)
            << "byte " << i << " gave " << rc;
    }
}

TEST(JpegCodec, LibjpegMessagesNeverReachStderr) {
    KOwnedHandle src(MakeSmoothDIB(24, 24));
    const std::vector<uint8_t> file = Encode(EncodeJPG, src.get(), JpegOptions(71));
    TempDir dir;
    int failures = 0;
    const std::string said = CaptureStderr(dir, [&] {
        for (size_t i = 2; i < file.size(); i += 3) {
            std::vector<uint8_t> bad = file;
            bad[i] ^= 0xFF;
            failures += Decode(DecodeJPG, bad).rc != KERV_OK;
        }
    });
    EXPECT_GT(failures, 0);
    EXPECT_EQ(said, "");
}

std::vector<uint8_t> WithDimensions(std::vector<uint8_t> file, uint16_t w, uint16_t h) {
    size_t p = 2;
    while (p + 9 < file.size() && !(file[p] == 0xFF && file[p + 1] == 0xC0))
        p += 2 + ((file[p + 2] << 8) | file[p + 3]);
    file[p + 5] = static_cast<uint8_t>(h >> 8);
    file[p + 6] = static_cast<uint8_t>(h);
    file[p + 7] = static_cast<uint8_t>(w >> 8);
    file[p + 8] = static_cast<uint8_t>(w);
    return file;
}

TEST(JpegCodec, HugeDimensionsAreRefusedBeforeAnyAllocation) {
    KOwnedHandle src(MakeSmoothDIB(16, 16));
    const std::vector<uint8_t> file = Encode(EncodeJPG, src.get(), JpegOptions());
    // Beyond what JPEG allows, and within it but beyond our block size.
    ExpectRefusedWithoutAllocating(DecodeJPG, WithDimensions(file, 65535, 65535),
                                   KERV_IMAGE_TOO_LARGE);
    ExpectRefusedWithoutAllocating(DecodeJPG, WithDimensions(file, 60000, 60000),
                                   KERV_IMAGE_TOO_LARGE);
    // A small claim with too little data behind it is simply damaged.
    EXPECT_EQ(Decode(DecodeJPG, WithDimensions(file, 300, 300)).rc, KERV_CORRUPT_FILE);
}

TEST(JpegCodec, NotAJpegAndBadArguments) {
    EXPECT_EQ(Decode(DecodeJPG, {0x89, 'P', 'N', 'G'}).rc, KERV_CORRUPT_FILE);
    EXPECT_EQ(Decode(DecodeJPG, {}).rc, KERV_CORRUPT_FILE);
    EXPECT_EQ(Decode(DecodeJPG, {0xFF, 0xD8, 0xFF, 0xD9}).rc, KERV_CORRUPT_FILE);
    DecodeRequest req;
    EXPECT_EQ(DecodeJPG(req, nullptr, nullptr), KERV_INVALID_PARAM);
    EncodeRequest enc;
    std::vector<uint8_t> out;
    EXPECT_EQ(EncodeJPG(enc, &out), KERV_INVALID_PARAM);
}

// ---- Failure paths ----

TEST(JpegCodec, EveryAllocationFailureIsReportedAndCleanedUp) {
    REQUIRE_CONVERT();
    TempDir dir;
    ASSERT_TRUE(Convert("-size 9x7 gradient:red-blue -colorspace CMYK " + Q(dir / "cmyk.jpg")));
    EXPECT_GE(SweepDecode(DecodeJPG, ReadFileBytes(dir / "cmyk.jpg")), 2); // DIB and scratch
    KOwnedHandle palette(MakeTestDIB(9, 7, 4, 1));
    EXPECT_GE(SweepEncode(EncodeJPG, palette.get(), JpegOptions(71)), 1);
}

TEST(JpegCodec, StopRequestsEndTheWorkCleanly) {
    LeakCheck leaks;
    KOwnedHandle src(MakeSmoothDIB(40, 64));
    const std::vector<uint8_t> file = Encode(EncodeJPG, src.get(), JpegOptions());
    brellix::test::StoppingStatus stopDecode(3);
    EXPECT_EQ(Decode(DecodeJPG, file, &stopDecode.block).rc, KERV_STOPPED);
    brellix::test::StoppingStatus stopEncode(3);
    KervErrorCode rc = 0;
    Encode(EncodeJPG, src.get(), JpegOptions(), &rc, &stopEncode.block);
    EXPECT_EQ(rc, KERV_STOPPED);
}

} // namespace
} // namespace brellix::codectest
