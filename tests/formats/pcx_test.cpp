#include "formats/codec.h"
#include "formats/codec_util.h"
#include "tests/formats/format_test_util.h"

#include <gtest/gtest.h>

using namespace brellix::test;

namespace {
ImageFileInfo PcxInfo(int variant, double dpi = 0) {
    ImageFileInfo i;
    i.options.format = 24;
    i.options.variant = variant;
    if (dpi > 0) i.attributes = {dpi, 1};
    return i;
}
}  // namespace

TEST(PcxCodec, RoundTripEveryDepthAndVersion) {
    LeakCheck leaks;
    const std::pair<int, int> cases[] = {{1, 80}, {1, 81}, {4, 81}, {1, 82}, {4, 82}, {8, 82}, {24, 82}};
    for (const auto& [bits, variant] : cases)
        for (int w : {1, 7, 8, 33}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, variant " << variant << ", width " << w);
            KOwnedHandle src(MakeRandomDIB(w, 5, bits, 77 + w));
            std::vector<uint8_t> file;
            ASSERT_EQ(EncodeBytes(EncodePCX, src.get(), PcxInfo(variant, 150), &file), 0);
            KOwnedHandle back;
            ImageFileInfo info;
            ASSERT_EQ(DecodeBytes(DecodePCX, file, &back, &info), 0);
            EXPECT_EQ(Colors(back.get()), Colors(src.get()));
            if (bits <= 8) {  // indexes and palette order kept
                for (int x = 0; x < w; ++x) EXPECT_EQ(PixelAt(back.get(), x, 2), PixelAt(src.get(), x, 2));
            }
            EXPECT_EQ(info.attributes.resolutionUnit, 1);
            EXPECT_EQ(info.attributes.resolution, 150);
            EXPECT_EQ(info.options.variant, bits >= 8 ? 82 : variant);
        }
}

TEST(PcxCodec, VersionZeroStoresTheDarkerColourAsBlack) {
    KOwnedHandle src(MakeRandomDIB(16, 2, 1, 3));
    {
        DIBLock d(src.get());
        d.palette()[0] = {255, 255, 255, 0};
        d.palette()[1] = {0, 0, 0, 0};
    }
    std::vector<uint8_t> file;
    ASSERT_EQ(EncodeBytes(EncodePCX, src.get(), PcxInfo(80), &file), 0);
    KOwnedHandle back;
    ASSERT_EQ(DecodeBytes(DecodePCX, file, &back), 0);
    EXPECT_EQ(Colors(back.get()), Colors(src.get()));
}

TEST(PcxCodec, HostileFilesAreRefused) {
    LeakCheck leaks;
    std::vector<uint8_t> h(128, 0);
    h[0] = 0x0A, h[1] = 5, h[2] = 1, h[3] = 8, h[65] = 1;
    codec::Set16(&h[8], 40000), codec::Set16(&h[10], 60000), codec::Set16(&h[66], 40002);
    KOwnedHandle out;
    EXPECT_EQ(DecodeBytes(DecodePCX, h, &out), KERV_IMAGE_TOO_LARGE);
    codec::Set16(&h[66], 2);  // bytes per line too small for the width
    EXPECT_EQ(DecodeBytes(DecodePCX, h, &out), KERV_CORRUPT_FILE);
    h[3] = 3;
    EXPECT_EQ(DecodeBytes(DecodePCX, h, &out), KERV_UNSUPPORTED_VARIANT);
    h[0] = 0x0B;
    EXPECT_EQ(DecodeBytes(DecodePCX, h, &out), KERV_CORRUPT_FILE);

    for (int bits : {1, 4, 8, 24}) {
        KOwnedHandle src(MakeRandomDIB(9, 4, bits, 1));
        std::vector<uint8_t> file;
        ASSERT_EQ(EncodeBytes(EncodePCX, src.get(), PcxInfo(82), &file), 0);
        // Every cut inside the pixel data fails; an 8-bit file loses its palette
        // first, which is a valid (grey) file, so cut before it.
        const size_t end = bits == 8 ? file.size() - 769 : file.size();
        for (size_t n = 0; n < end; ++n) {
            std::vector<uint8_t> cut(file.begin(), file.begin() + n);
            KOwnedHandle hh;
            EXPECT_NE(DecodeBytes(DecodePCX, cut, &hh), 0) << bits << " bits cut at " << n;
        }
    }
}

TEST(PcxCodec, AgreesWithReferenceTools) {
    if (!HaveTool("convert") || !HaveTool("ppmtopcx")) GTEST_SKIP() << "ImageMagick/netpbm missing";
    TempDir dir;
    KOwnedHandle src(MakeRandomDIB(29, 11, 24, 8));
    std::vector<uint8_t> ppm;
    ImageFileInfo pi;
    pi.options.format = 29;
    pi.options.variant = 91;
    ASSERT_EQ(EncodeBytes(EncodePXM, src.get(), pi, &ppm), 0);
    WriteFileBytes(dir / "src.ppm", ppm);
    struct Ref {
        const char* cmd;
        const char* file;
    };
    const Ref refs[] = {
        {"ppmtopcx src.ppm > p24.pcx", "p24.pcx"},
        {"ppmquant 16 src.ppm | ppmtopcx > p4.pcx", "p4.pcx"},
        {"ppmquant 16 src.ppm | ppmtopcx -packed > p4packed.pcx", "p4packed.pcx"},
        {"ppmquant 200 src.ppm | ppmtopcx > p8.pcx", "p8.pcx"},
        {"ppmtopgm src.ppm | pgmtopbm | ppmtopcx > p1.pcx", "p1.pcx"},
        {"convert src.ppm im24.pcx", "im24.pcx"},
        {"convert src.ppm -colors 100 im8.pcx", "im8.pcx"},
        {"convert src.ppm -monochrome im1.pcx", "im1.pcx"},
    };
    for (const Ref& r : refs) {
        SCOPED_TRACE(r.cmd);
        ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && " + r.cmd), 0);
        KOwnedHandle h;
        ASSERT_EQ(DecodeBytes(DecodePCX, ReadFileBytes(dir / r.file), &h), 0);
        ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && pcxtoppm " + r.file + " > ref.ppm"), 0);
        EXPECT_EQ(Colors(h.get()), ColorsOfPnmFile(dir / "ref.ppm"));
    }
    // Brellix's files, read by netpbm and ImageMagick.
    for (const auto& [bits, variant] : {std::pair{1, 80}, {4, 81}, {8, 82}, {24, 82}}) {
        SCOPED_TRACE(testing::Message() << bits << " bits");
        KOwnedHandle img(MakeRandomDIB(29, 11, bits, 9));
        std::vector<uint8_t> file;
        ASSERT_EQ(EncodeBytes(EncodePCX, img.get(), PcxInfo(variant), &file), 0);
        WriteFileBytes(dir / "out.pcx", file);
        ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && pcxtoppm out.pcx > ref.ppm"), 0);
        EXPECT_EQ(ColorsOfPnmFile(dir / "ref.ppm"), Colors(img.get()));
        // ImageMagick 6 shows every 1-bit PCX inverted (ppmtopcx's own too),
        // so it is consulted for the other depths only.
        if (bits == 1) continue;
        ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && convert out.pcx -depth 8 ref2.ppm"), 0);
        EXPECT_EQ(ColorsOfPnmFile(dir / "ref2.ppm"), Colors(img.get()));
    }
}
