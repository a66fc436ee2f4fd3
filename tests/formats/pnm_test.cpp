#include "formats/codec.h"
#include "tests/formats/format_test_util.h"

#include <gtest/gtest.h>

using namespace brellix::test;

namespace {
ImageFileInfo PnmInfo(int format, int variant) {
    ImageFileInfo i;
    i.options.format = format;
    i.options.variant = variant;
    return i;
}
std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }
}  // namespace

TEST(PnmCodec, HandMadeFilesDecode) {
    struct Case {
        std::string file;
        std::vector<uint32_t> colors;
        int bits;
    };
    const Case cases[] = {
        {"P1\n# comment\n3 1\n1 0\n1", {0x000000, 0xFFFFFF, 0x000000}, 1},
        {"P1 3 1 101", {0x000000, 0xFFFFFF, 0x000000}, 1},  // no blanks needed
        {std::string("P4\n3 1\n") + char(0xA0), {0x000000, 0xFFFFFF, 0x000000}, 1},
        {"P2 2 1 1000 0 1000", {0x000000, 0xFFFFFF}, 8},
        {"P2 3 1 1000 500 2000 1", {0x808080, 0xFFFFFF, 0x000000}, 8},  // above maxval: maxval
        {std::string("P5 2 1 65535\n") + char(0x80) + char(0x00) + char(0xFF) + char(0xFF),
         {0x808080, 0xFFFFFF}, 8},
        {"P3 1 2 15 15 0 0 0 0 15", {0xFF0000, 0x0000FF}, 24},
        {std::string("P6 1 1 255\n") + char(1) + char(2) + char(3), {0x010203}, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        KOwnedHandle h;
        ASSERT_EQ(DecodeBytes(DecodePXM, Bytes(c.file), &h), 0);
        EXPECT_EQ(Colors(h.get()), c.colors);
        DIBLock d(h.get());
        EXPECT_EQ(d.bitCount(), c.bits);
        if (c.bits == 8) {
            EXPECT_TRUE(IsPaletteKervGreyScale(d.header()));
        }
    }
}

TEST(PnmCodec, BadFilesGiveCodes) {
    LeakCheck leaks;
    const std::pair<std::string, KervErrorCode> cases[] = {
        {"P7 1 1 255\n", KERV_CORRUPT_FILE},
        {"P2 1 1 0 0", KERV_CORRUPT_FILE},
        {"P2 1 1 70000 0", KERV_CORRUPT_FILE},
        {"P3 2 1 255 1 2 3 4", KERV_CORRUPT_FILE},
        {"P1 2 2 1 0 2 1", KERV_CORRUPT_FILE},
        {"P6 100000 100000 255\n", KERV_IMAGE_TOO_LARGE},
        {"P5 0 3 255\n", KERV_CORRUPT_FILE},
        {"P5 99999999999 3 255\n", KERV_CORRUPT_FILE},
        {"P6 2 2 255", KERV_CORRUPT_FILE},
    };
    for (const auto& [file, code] : cases) {
        KOwnedHandle h;
        EXPECT_EQ(DecodeBytes(DecodePXM, Bytes(file), &h), code) << file;
    }
}

TEST(PnmCodec, RoundTripBothEncodings) {
    LeakCheck leaks;
    for (int variant : {90, 91}) {
        for (int w : {1, 8, 9, 40}) {
            SCOPED_TRACE(testing::Message() << "variant " << variant << ", width " << w);
            KOwnedHandle bw(MakeRandomDIB(w, 4, 1, 3));
            KOwnedHandle grey(MakeRandomDIB(w, 4, 8, 4, true));
            KOwnedHandle rgb(MakeRandomDIB(w, 4, 24, 5));
            const std::pair<KHANDLE, int> cases[] = {{bw.get(), 22}, {grey.get(), 25}, {rgb.get(), 29}};
            for (const auto& [dib, format] : cases) {
                std::vector<uint8_t> file;
                ASSERT_EQ(EncodeBytes(EncodePXM, dib, PnmInfo(format, variant), &file), 0);
                KOwnedHandle back;
                ImageFileInfo info;
                ASSERT_EQ(DecodeBytes(DecodePXM, file, &back, &info), 0);
                EXPECT_EQ(Colors(back.get()), Colors(dib));
                EXPECT_EQ(info.options.variant, variant);
                EXPECT_EQ(info.options.format, format);
                if (variant == 90) {  // plain lines stay under 70 characters
                    size_t col = 0, longest = 0;
                    for (uint8_t c : file) col = c == '\n' ? 0 : col + 1, longest = std::max(longest, col);
                    EXPECT_LE(longest, 70u);
                }
            }
        }
    }
}

TEST(PnmCodec, PalettesMapToColoursAndGreys) {
    // A 4-bit colour image written as PPM and PGM; a 1-bit image with white at 0.
    KOwnedHandle img(MakeRandomDIB(10, 3, 4, 8));
    std::vector<uint8_t> file;
    ASSERT_EQ(EncodeBytes(EncodePXM, img.get(), PnmInfo(29, 91), &file), 0);
    KOwnedHandle back;
    ASSERT_EQ(DecodeBytes(DecodePXM, file, &back), 0);
    EXPECT_EQ(Colors(back.get()), Colors(img.get()));
    ASSERT_EQ(EncodeBytes(EncodePXM, img.get(), PnmInfo(25, 91), &file), 0);
    ASSERT_EQ(DecodeBytes(DecodePXM, file, &back), 0);
    const auto colors = Colors(img.get()), greys = Colors(back.get());
    for (size_t i = 0; i < colors.size(); ++i) {
        const uint32_t c = colors[i];
        const uint32_t g = ((c >> 16 & 255) * 299 + (c >> 8 & 255) * 587 + (c & 255) * 114 + 500) / 1000;
        EXPECT_EQ(greys[i], g * 0x010101);
    }
    KOwnedHandle inv(MakeRandomDIB(10, 3, 1, 2));
    {
        DIBLock d(inv.get());
        d.palette()[0] = {255, 255, 255, 0};
        d.palette()[1] = {0, 0, 0, 0};
    }
    ASSERT_EQ(EncodeBytes(EncodePXM, inv.get(), PnmInfo(22, 91), &file), 0);
    ASSERT_EQ(DecodeBytes(DecodePXM, file, &back), 0);
    EXPECT_EQ(Colors(back.get()), Colors(inv.get()));
    KOwnedHandle eight(MakeRandomDIB(4, 4, 8, 1));
    EXPECT_EQ(EncodeBytes(EncodePXM, eight.get(), PnmInfo(22, 91), &file), KERV_INVALID_PARAM);
}

TEST(PnmCodec, TruncatedFilesFail) {
    for (int format : {22, 25, 29})
        for (int variant : {90, 91}) {
            KOwnedHandle src(MakeRandomDIB(11, 3, format == 22 ? 1 : format == 25 ? 8 : 24, 1, format == 25));
            std::vector<uint8_t> file;
            ASSERT_EQ(EncodeBytes(EncodePXM, src.get(), PnmInfo(format, variant), &file), 0);
            // A plain file may lose its final newline and last digit's tail
            // only where the number stays complete; cut before the last sample.
            const size_t end = variant == 90 ? file.size() - 4 : file.size();
            for (size_t n = 0; n < end; ++n) {
                std::vector<uint8_t> cut(file.begin(), file.begin() + n);
                KOwnedHandle h;
                EXPECT_NE(DecodeBytes(DecodePXM, cut, &h), 0) << format << "/" << variant << " cut at " << n;
            }
        }
}

TEST(PnmCodec, AgreesWithNetpbm) {
    if (!HaveTool("pnmtopnm") || !HaveTool("pamdepth")) GTEST_SKIP() << "netpbm missing";
    TempDir dir;
    KOwnedHandle src(MakeRandomDIB(19, 7, 24, 3));
    std::vector<uint8_t> file;
    ASSERT_EQ(EncodeBytes(EncodePXM, src.get(), PnmInfo(29, 91), &file), 0);
    WriteFileBytes(dir / "src.ppm", file);
    // maxval 1000, plain and raw; greys; bitmaps.
    const char* cmds[] = {
        "pamdepth 1000 src.ppm > m.ppm", "pamdepth 1000 src.ppm | pnmtopnm -plain > m.ppm",
        "ppmtopgm src.ppm | pamdepth 1000 > m.ppm", "ppmtopgm src.ppm | pgmtopbm > m.ppm",
        "ppmtopgm src.ppm | pgmtopbm | pnmtopnm -plain > m.ppm", "pamdepth 7 src.ppm | pnmtopnm -plain > m.ppm"};
    for (const char* cmd : cmds) {
        SCOPED_TRACE(cmd);
        ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && " + cmd), 0);
        KOwnedHandle h;
        ASSERT_EQ(DecodeBytes(DecodePXM, ReadFileBytes(dir / "m.ppm"), &h), 0);
        // netpbm's own conversion to 8 bits (rounding as ours).
        ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && pamdepth 255 m.ppm | pnmtopnm > ref.ppm"), 0);
        const auto ref = ReadFileBytes(dir / "ref.ppm");
        KOwnedHandle r;
        ASSERT_EQ(DecodeBytes(DecodePXM, ref, &r), 0);
        EXPECT_EQ(Colors(h.get()), Colors(r.get()));
    }
    // netpbm reads what Brellix writes: pamtopnm would fail on a bad file,
    // and the plain/raw conversions must agree byte for byte with ours.
    for (int variant : {90, 91}) {
        ASSERT_EQ(EncodeBytes(EncodePXM, src.get(), PnmInfo(29, variant), &file), 0);
        WriteFileBytes(dir / "out.ppm", file);
        ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && pnmtopnm out.ppm > raw.ppm"), 0);
        std::vector<uint8_t> raw;
        ASSERT_EQ(EncodeBytes(EncodePXM, src.get(), PnmInfo(29, 91), &raw), 0);
        EXPECT_EQ(ColorsOfPnmFile(dir / "raw.ppm"), Colors(src.get()));
    }
}
