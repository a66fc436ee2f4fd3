#include "formats/codec.h"
#include "formats/codec_util.h"
#include "tests/formats/format_test_util.h"

#include <gtest/gtest.h>

using namespace brellix::test;

namespace {
ImageFileInfo TgaInfo(int depth, int compression) {
    ImageFileInfo i;
    i.options.format = 35;
    i.options.depth = uint8_t(depth);
    i.options.compression = compression;
    return i;
}
uint32_t To555(uint32_t c) {  // what survives a 16-bit file
    auto q = [](uint32_t v) { v >>= 3; return (v << 3) | (v >> 2); };
    return q(c >> 16 & 255) << 16 | q(c >> 8 & 255) << 8 | q(c & 255);
}
}  // namespace

TEST(TgaCodec, RoundTripEverySubType) {
    LeakCheck leaks;
    for (int depth : {8, 16, 24})
        for (int compression : {1, 2})
            for (int srcBits : {1, 4, 8, 24}) {
                if (depth == 8 && srcBits == 24) continue;  // reduced by the writer first
                SCOPED_TRACE(testing::Message() << "depth " << depth << ", compression " << compression
                                                << ", source " << srcBits << " bits");
                KOwnedHandle src(MakeRandomDIB(21, 6, srcBits, 5 + depth));
                if (srcBits >= 8) {  // runs, including one spanning 200 pixels
                    for (int x = 0; x < 10; ++x) SetPixel(src.get(), x, 1, PixelAt(src.get(), 0, 1));
                }
                std::vector<uint8_t> file;
                ASSERT_EQ(EncodeBytes(EncodeTGA, src.get(), TgaInfo(depth, compression), &file), 0);
                KOwnedHandle back;
                ImageFileInfo info;
                ASSERT_EQ(DecodeBytes(DecodeTGA, file, &back, &info), 0);
                auto want = Colors(src.get());
                if (depth == 16)
                    for (auto& c : want) c = To555(c);
                EXPECT_EQ(Colors(back.get()), want);
                EXPECT_EQ(info.options.compression, compression);
                if (depth == 8 && srcBits == 8) {  // indexes and palette kept
                    EXPECT_EQ(ImageContent(back.get()), ImageContent(src.get()));
                }
            }
}

TEST(TgaCodec, GreyImagesStayGrey) {
    KOwnedHandle src(MakeRandomDIB(8, 8, 8, 2, true));
    std::vector<uint8_t> file;
    ASSERT_EQ(EncodeBytes(EncodeTGA, src.get(), TgaInfo(8, 2), &file), 0);
    EXPECT_EQ(file[2], 11);  // RLE grey
    KOwnedHandle back;
    ASSERT_EQ(DecodeBytes(DecodeTGA, file, &back), 0);
    EXPECT_TRUE(IsDIBGreyScaled(back.get()));
    EXPECT_EQ(ImageContent(back.get()), ImageContent(src.get()));
}

TEST(TgaCodec, OriginsAndRunsAcrossRows) {
    // 2 x 2 true colour, RLE, top-right origin; one run of 3 crossing rows.
    std::vector<uint8_t> f(18, 0);
    f[2] = 10, f[12] = 2, f[14] = 2, f[16] = 24, f[17] = 0x30;
    const uint8_t body[] = {0x82, 1, 2, 3, 0x00, 9, 8, 7};
    f.insert(f.end(), body, body + sizeof body);
    KOwnedHandle h;
    ASSERT_EQ(DecodeBytes(DecodeTGA, f, &h), 0);
    // File order: top row right to left, then the bottom row.
    EXPECT_EQ(Colors(h.get()), (std::vector<uint32_t>{0x030201, 0x030201, 0x070809, 0x030201}));
}

TEST(TgaCodec, HostileFilesAreRefused) {
    LeakCheck leaks;
    std::vector<uint8_t> f(18, 0);
    f[2] = 2, f[16] = 24;
    codec::Set16(&f[12], 60000), codec::Set16(&f[14], 60000);
    KOwnedHandle h;
    EXPECT_EQ(DecodeBytes(DecodeTGA, f, &h), KERV_IMAGE_TOO_LARGE);
    f[16] = 7;
    EXPECT_EQ(DecodeBytes(DecodeTGA, f, &h), KERV_UNSUPPORTED_VARIANT);
    f[2] = 0;
    EXPECT_EQ(DecodeBytes(DecodeTGA, f, &h), KERV_CORRUPT_FILE);
    // Found by fuzzing: a colour-mapped file whose map is empty.
    std::vector<uint8_t> empty(18, 0);
    empty[1] = 1, empty[2] = 1, empty[7] = 24, empty[12] = 1, empty[14] = 1, empty[16] = 8;
    empty.push_back(0);
    ASSERT_EQ(DecodeBytes(DecodeTGA, empty, &h), 0);
    EXPECT_EQ(Colors(h.get()), std::vector<uint32_t>{0});
    for (int depth : {8, 16, 24})
        for (int comp : {1, 2}) {
            KOwnedHandle src(MakeRandomDIB(9, 5, 8, 3));
            std::vector<uint8_t> file;
            ASSERT_EQ(EncodeBytes(EncodeTGA, src.get(), TgaInfo(depth, comp), &file), 0);
            for (size_t n = 0; n < file.size(); ++n) {
                std::vector<uint8_t> cut(file.begin(), file.begin() + n);
                EXPECT_NE(DecodeBytes(DecodeTGA, cut, &h), 0) << depth << "/" << comp << " cut at " << n;
            }
        }
}

TEST(TgaCodec, AgreesWithReferenceTools) {
    if (!HaveTool("convert") || !HaveTool("pamtotga")) GTEST_SKIP() << "ImageMagick/netpbm missing";
    TempDir dir;
    KOwnedHandle src(MakeRandomDIB(23, 9, 24, 4));
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
        {"pamtotga -rgb src.ppm > rgb.tga", "rgb.tga"},
        {"pamtotga -rgb -norle src.ppm > rgbraw.tga", "rgbraw.tga"},
        {"ppmquant 50 src.ppm | pamtotga -cmap > cmap.tga", "cmap.tga"},
        {"ppmtopgm src.ppm | pamtotga -mono > grey.tga", "grey.tga"},
        {"convert src.ppm -orient TopLeft top.tga", "top.tga"},
        {"convert src.ppm -compress RLE rle.tga", "rle.tga"},
        {"convert src.ppm -alpha on rgba.tga", "rgba.tga"},
        {"convert src.ppm -colors 30 -type Palette pal.tga", "pal.tga"},
    };
    for (const Ref& r : refs) {
        SCOPED_TRACE(r.cmd);
        ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && " + r.cmd), 0);
        KOwnedHandle h;
        ASSERT_EQ(DecodeBytes(DecodeTGA, ReadFileBytes(dir / r.file), &h), 0);
        // netpbm is the reference reader: ImageMagick 6 flips pamtotga's
        // bottom-up files.
        ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && tgatoppm " + r.file + " > ref.ppm"), 0);
        EXPECT_EQ(Colors(h.get()), ColorsOfPnmFile(dir / "ref.ppm"));
    }
    for (const auto& [bits, depth, comp] : {std::tuple{8, 8, 2}, {8, 8, 1}, {24, 24, 2}, {24, 24, 1}, {24, 16, 2}}) {
        SCOPED_TRACE(testing::Message() << bits << " bits as " << depth);
        KOwnedHandle img(MakeRandomDIB(23, 9, bits, 6));
        std::vector<uint8_t> file;
        ASSERT_EQ(EncodeBytes(EncodeTGA, img.get(), TgaInfo(depth, comp), &file), 0);
        WriteFileBytes(dir / "out.tga", file);
        ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && tgatoppm out.tga > ref.ppm"), 0);
        auto want = Colors(img.get());
        const auto ref = ColorsOfPnmFile(dir / "ref.ppm");
        if (depth != 16) {
            EXPECT_EQ(ref, want);
            continue;
        }
        // Readers widen 5-bit samples with different rounding.
        ASSERT_EQ(ref.size(), want.size());
        for (size_t i = 0; i < ref.size(); ++i)
            for (int sh = 0; sh < 24; sh += 8)
                EXPECT_NEAR(int(ref[i] >> sh & 255), int(To555(want[i]) >> sh & 255), 4);
    }
}
