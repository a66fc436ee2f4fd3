#include "imaging/palette.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace brellix::test;

namespace {

using Bytes = std::vector<uint8_t>;

struct CaseName {
    template <class P> std::string operator()(const ::testing::TestParamInfo<P>& p) const {
        return p.param.name;
    }
};

const RGBQUAD kUnwritten{9, 9, 9, 9};

struct Parsed {
    KervErrorCode rc;
    uint16_t count;
    std::array<RGBQUAD, 256> palette;
};

// Parses a copy of exactly `bytes` on the heap, so a read past the end is
// caught by the address sanitizer.
template <class Parser> Parsed Parse(Parser parser, const Bytes& bytes) {
    Parsed p;
    p.count = 777;
    p.palette.fill(kUnwritten);
    auto copy = std::make_unique<uint8_t[]>(bytes.size() + 1);
    if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
    p.rc = parser(copy.get(), bytes.size(), p.palette.data(), &p.count);
    return p;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

bool Same(const RGBQUAD& e, int r, int g, int b) {
    return e.rgbRed == r && e.rgbGreen == g && e.rgbBlue == b && e.rgbReserved == 0;
}

// ---- The text form ----

// Entry i of the generated palettes: easy to tell apart, every width of
// number used.
std::array<int, 3> TextEntry(int i) {
    return {i, 255 - i, (i * 37) % 256};
}

std::string TextPalette(int entries, const std::string& head = "KERV-PAL\r\n0100\r\n") {
    std::string s = head + std::to_string(entries) + "\r\n";
    for (int i = 0; i < entries; ++i) {
        const auto e = TextEntry(i);
        s +=
            std::to_string(e[0]) + " " + std::to_string(e[1]) + " " + std::to_string(e[2]) + "\r\n";
    }
    return s;
}

// A 16-entry palette whose first line is `first`.
std::string WithFirstLine(const std::string& first) {
    const std::string s = TextPalette(16);
    const size_t begin = s.find("16\r\n") + 4;
    return s.substr(0, begin) + first + s.substr(s.find("\r\n", begin));
}

struct TextCase {
    std::string name;
    std::string bytes;
    KervErrorCode rc;
    uint16_t count;
    std::array<int, 3> first; // entry 0 when rc is 0
};

class TextPalettes : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextPalettes, Parse) {
    const TextCase& c = GetParam();
    const Parsed p = Parse(ParsePaletteText, Text(c.bytes));
    EXPECT_EQ(p.rc, c.rc);
    EXPECT_EQ(p.count, c.count);
    if (c.rc != 0) return;
    EXPECT_TRUE(Same(p.palette[0], c.first[0], c.first[1], c.first[2]));
    for (int i = 1; i < c.count; ++i) {
        const auto e = TextEntry(i);
        EXPECT_TRUE(Same(p.palette[size_t(i)], e[0], e[1], e[2])) << i;
    }
    for (size_t i = c.count; i < 256; ++i)
        EXPECT_EQ(std::memcmp(&p.palette[i], &kUnwritten, 4), 0) << "entry " << i << " written";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextPalettes,
    ::testing::Values(
        TextCase{"Sixteen", TextPalette(16), 0, 16, {0, 255, 0}},
        TextCase{"TwoHundredFiftySix", TextPalette(256), 0, 256, {0, 255, 0}},
        TextCase{"LowerCaseSignature", TextPalette(16, "kerv-pal\r\n0100\r\n"), 0, 16, {0, 255, 0}},
        TextCase{"LineEndsNotLookedAt", TextPalette(16, "KERV-PALxy0100zw"), 0, 16, {0, 255, 0}},
        TextCase{"AnythingAfterTheLastLine", TextPalette(16) + "junk\r\n1 2 3", 0, 16, {0, 255, 0}},
        TextCase{"FinalLineFeedMissing",
                 TextPalette(16).substr(0, TextPalette(16).size() - 1),
                 0,
                 16,
                 {0, 255, 0}},
        TextCase{"AboveTwoFiftyFiveIsTwoFiftyFive", WithFirstLine("300 12 7"), 0, 16, {255, 12, 7}},
        TextCase{"NegativeIsZero", WithFirstLine("-5 -255 999"), 0, 16, {0, 0, 255}},
        TextCase{"TwoSpaces", WithFirstLine("1  2 3"), 312, 0, {}},
        TextCase{"FourDigits", WithFirstLine("1000 2 3"), 312, 0, {}},
        TextCase{"SignWithoutDigits", WithFirstLine("- 2 3"), 312, 0, {}},
        TextCase{"LetterInANumber", WithFirstLine("1 2a 3"), 312, 0, {}},
        TextCase{"BlueEndedBySpace", WithFirstLine("1 2 3 "), 312, 0, {}},
        TextCase{"LineFeedOnlyLines", "KERV-PAL\r\n0100\r\n16\r\n1 2 3\n4 5 6\n", 312, 0, {}},
        TextCase{"OtherSignature", TextPalette(16, "KERV-PAK\r\n0100\r\n"), 312, 0, {}},
        TextCase{"OtherVersion", TextPalette(16, "KERV-PAL\r\n0200\r\n"), 529, 0, {}},
        TextCase{"ThirtyTwoEntries", TextPalette(32), 528, 0, {}},
        TextCase{"OversizedCount", TextPalette(999).substr(0, 40), 528, 0, {}},
        TextCase{"CountNotANumber", "KERV-PAL\r\n0100\r\n1x\r\n", 528, 0, {}},
        TextCase{"FewerLinesThanCounted",
                 TextPalette(16, "KERV-PAL\r\n0100\r\n").replace(16, 2, "256"),
                 202,
                 0,
                 {}},
        TextCase{"Empty", "", 202, 0, {}},
        TextCase{"RiffFile", std::string("RIFF\x10\0\0\0PAL data\x04\0\0\0", 20), 312, 0, {}}),
    CaseName());

TEST(TextPalette, EveryTruncationEndsShortAndNothingIsReadPastTheEnd) {
    for (const int entries : {16, 256}) {
        const Bytes whole = Text(TextPalette(entries));
        for (size_t t = 0; t < whole.size(); ++t) {
            const Parsed p = Parse(ParsePaletteText, Bytes(whole.begin(), whole.begin() + long(t)));
            // Only the final LF may be missing.
            EXPECT_EQ(p.rc, t + 1 == whole.size() ? 0 : 202) << entries << " entries cut at " << t;
            EXPECT_EQ(p.count, t + 1 == whole.size() ? entries : 0) << t;
        }
    }
}

TEST(TextPalette, GarbageAndDamagedFilesGiveACode) {
    std::mt19937 rng(17);
    const Bytes good = Text(TextPalette(16));
    for (int i = 0; i < 3000; ++i) {
        Bytes b = good;
        if (i % 3 == 0) {
            b.resize(rng() % 400);
            for (auto& v : b)
                v = uint8_t(rng());
        } else {
            for (int k = 0; k < 1 + i % 4; ++k)
                b[rng() % b.size()] = uint8_t(rng());
            b.resize(rng() % (b.size() + 1));
        }
        const Parsed p = Parse(ParsePaletteText, b);
        const bool known = p.rc == 0 || p.rc == 202 || p.rc == 312 || p.rc == 528 || p.rc == 529;
        ASSERT_TRUE(known) << p.rc;
        EXPECT_EQ(p.count, p.rc == 0 ? 16 : 0);
    }
}

// ---- The RIFF form ----

void Put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
void PutId(Bytes& b, const char* id) {
    b.insert(b.end(), id, id + 4);
}

// A RIFF palette; the sizes and the count may lie.
struct Riff {
    int entries = 16;
    long countField = -1;   // -1: entries
    long dataSizeDelta = 0; // added to the true data size field
    long riffSize = -1;     // -1: true size
    Bytes before;           // chunks inside the RIFF, before "data"
    Bytes top;              // bytes before the RIFF chunk
    const char* form = "PAL ";
    const char* dataId = "data";

    Bytes Build() const {
        Bytes data;
        data.push_back(0), data.push_back(3); // version 0x300
        const uint32_t count = uint32_t(countField < 0 ? entries : countField);
        data.push_back(uint8_t(count)), data.push_back(uint8_t(count >> 8));
        for (int i = 0; i < entries; ++i) {
            data.push_back(uint8_t(i));             // red
            data.push_back(uint8_t(100 + i % 100)); // green
            data.push_back(uint8_t(255 - i));       // blue
            data.push_back(0xAA);                   // flags
        }
        Bytes body;
        PutId(body, form);
        body.insert(body.end(), before.begin(), before.end());
        PutId(body, dataId);
        Put32(body, uint32_t(long(data.size()) + dataSizeDelta));
        body.insert(body.end(), data.begin(), data.end());
        Bytes b = top;
        PutId(b, "RIFF");
        Put32(b, uint32_t(riffSize < 0 ? long(body.size()) : riffSize));
        b.insert(b.end(), body.begin(), body.end());
        return b;
    }
};

Bytes Chunk(const char* id, Bytes body, bool pad = true) {
    Bytes b;
    PutId(b, id);
    Put32(b, uint32_t(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    if (pad && body.size() % 2) b.push_back(0);
    return b;
}

struct RiffCase {
    std::string name;
    Riff riff;
    KervErrorCode rc;
    uint16_t count;
};

class RiffPalettes : public ::testing::TestWithParam<RiffCase> {};

TEST_P(RiffPalettes, Parse) {
    const RiffCase& c = GetParam();
    const Parsed p = Parse(ParseRiffPalette, c.riff.Build());
    EXPECT_EQ(p.rc, c.rc);
    EXPECT_EQ(p.count, c.count);
    if (c.rc != 0) return;
    const int n = c.riff.entries;
    for (int i = 0; i < n; ++i)
        EXPECT_TRUE(Same(p.palette[size_t(i)], i, 100 + i % 100, 255 - i)) << i;
    for (int i = n; i < c.count; ++i)
        EXPECT_TRUE(Same(p.palette[size_t(i)], 0, 0, 0)) << i;
    for (size_t i = c.count; i < 256; ++i)
        EXPECT_EQ(std::memcmp(&p.palette[i], &kUnwritten, 4), 0) << "entry " << i << " written";
}

Riff With(void (*change)(Riff&)) {
    Riff r;
    change(r);
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RiffPalettes,
    ::testing::Values(
        RiffCase{"Sixteen", Riff{}, 0, 16},
        RiffCase{"TwentyReportTwoHundredFiftySix", With([](Riff& r) { r.entries = 20; }), 0, 256},
        RiffCase{"FiveReportSixteen", With([](Riff& r) { r.entries = 5; }), 0, 16},
        RiffCase{"One", With([](Riff& r) { r.entries = 1; }), 0, 16},
        RiffCase{"TwoHundredFiftySix", With([](Riff& r) { r.entries = 256; }), 0, 256},
        RiffCase{"CountZero", With([](Riff& r) { r.countField = 0; }), 528, 0},
        RiffCase{"CountThreeHundred", With([](Riff& r) { r.entries = 300; }), 528, 0},
        RiffCase{"CountBeyondTheChunk", With([](Riff& r) { r.countField = 20; }), 528, 0},
        RiffCase{"DataSizeNotAMultipleOfFour", With([](Riff& r) { r.dataSizeDelta = -2; }), 528, 0},
        RiffCase{"DataSizeOdd", With([](Riff& r) { r.dataSizeDelta = -1; }), 528, 0},
        RiffCase{"DataSizeZero", With([](Riff& r) { r.dataSizeDelta = -68; }), 528, 0},
        RiffCase{"DataLargerThanTheFile", With([](Riff& r) { r.dataSizeDelta = 400; }), 202, 0},
        RiffCase{"RiffLargerThanTheFile", With([](Riff& r) { r.riffSize = 1 << 30; }), 0, 16},
        RiffCase{"DataOutsideTheRiff", With([](Riff& r) { r.riffSize = 4; }), 312, 0},
        RiffCase{"OddChunkBeforeData", With([](Riff& r) { r.before = Chunk("junk", Bytes(5, 7)); }),
                 0, 16},
        RiffCase{"OddChunkMissingItsPad",
                 With([](Riff& r) { r.before = Chunk("junk", Bytes(5, 7), false); }), 312, 0},
        RiffCase{"OtherRiffFirst", With([](Riff& r) {
                     Bytes wave;
                     PutId(wave, "WAVE");
                     r.top = Chunk("RIFF", wave);
                 }),
                 0, 16},
        RiffCase{"FormWave", With([](Riff& r) { r.form = "WAVE"; }), 312, 0},
        RiffCase{"NoDataChunk", With([](Riff& r) { r.dataId = "date"; }), 312, 0}),
    CaseName());

TEST(RiffPalette, EveryTruncationAndNonsense) {
    const Bytes whole = Riff{}.Build(); // RIFF header 12, data header 8, body 68
    for (size_t t = 0; t < whole.size(); ++t) {
        const Parsed p = Parse(ParseRiffPalette, Bytes(whole.begin(), whole.begin() + long(t)));
        EXPECT_EQ(p.rc, t < 20 ? 312 : 202) << "cut at " << t;
        EXPECT_EQ(p.count, 0) << t;
    }
    EXPECT_EQ(Parse(ParseRiffPalette, Text(std::string("RIFX\x10\0\0\0PAL ", 12))).rc, 312);
    EXPECT_EQ(Parse(ParseRiffPalette, Text(TextPalette(16))).rc, 312);
    std::mt19937 rng(4);
    for (int i = 0; i < 3000; ++i) {
        Bytes b = whole;
        for (int k = 0; k < 1 + i % 3; ++k)
            b[rng() % b.size()] = uint8_t(rng());
        const Parsed p = Parse(ParseRiffPalette, b);
        ASSERT_TRUE(p.rc == 0 || p.rc == 202 || p.rc == 312 || p.rc == 528) << p.rc;
    }
}

// ---- Files ----

TEST(PaletteFiles, ReadFromDisk) {
    TempDir dir;
    const auto text = dir / "grüne Töne.pal", riff = dir / "riff.pal", big = dir / "big.pal",
               huge = dir / "huge.pal";
    WriteFileBytes(text, Text(TextPalette(16)));
    WriteFileBytes(riff, With([](Riff& r) { r.entries = 20; }).Build());
    // A text palette followed by megabytes: only its head is read.
    WriteFileBytes(big, Text(TextPalette(256) + std::string(6 << 20, 'x')));
    // A RIFF palette in a file beyond the cap is not read at all.
    WriteFileBytes(huge, Riff{}.Build());
    std::filesystem::resize_file(huge, kMaxRiffPaletteFileBytes + 1);

    struct Case {
        std::filesystem::path path;
        bool riffReader;
        KervErrorCode rc;
        uint16_t count;
    };
    for (const Case& c : {Case{text, false, 0, 16}, Case{riff, true, 0, 256},
                          Case{big, false, 0, 256}, Case{huge, true, 312, 0},
                          Case{riff, false, 312, 0}, Case{dir / "missing.pal", false, 201, 0},
                          Case{dir / "missing.pal", true, 201, 0}, Case{dir.path(), false, 201, 0},
                          Case{dir.path(), true, 201, 0}, Case{"", true, 201, 0}}) {
        std::array<RGBQUAD, 256> pal{};
        uint16_t count = 99;
        const KervErrorCode rc = c.riffReader ? ReadRiffPaletteFile(c.path, pal.data(), &count)
                                              : ReadPaletteFile(c.path, pal.data(), &count);
        EXPECT_EQ(rc, c.rc) << c.path << (c.riffReader ? " riff" : " text");
        EXPECT_EQ(count, c.count) << c.path;
    }
    uint16_t count = 0;
    RGBQUAD pal[256];
    EXPECT_EQ(ReadPaletteFile(text, nullptr, &count), 101);
    EXPECT_EQ(ReadRiffPaletteFile(riff, pal, nullptr), 101);
    EXPECT_EQ(ParsePaletteText(nullptr, 0, pal, &count), 202);
}

TEST(PaletteFiles, RiffWorkBlockThatCannotBeHad) {
    TempDir dir;
    WriteFileBytes(dir / "p.pal", Riff{}.Build());
    LeakCheck leaks;
    RGBQUAD pal[256];
    uint16_t count = 5;
    KML_FailNthAllocation(1);
    EXPECT_EQ(ReadRiffPaletteFile(dir / "p.pal", pal, &count), 102);
    KML_FailNthAllocation(0);
    EXPECT_EQ(count, 0);
}

// ---- Palette replacement ----

struct ReplaceCase {
    std::string name;
    int bits;
    uint32_t clrUsed;
    uint32_t count;
    KervErrorCode rc;
};

class ReplacePalette : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplacePalette, NewTableSameIndexes) {
    const ReplaceCase& c = GetParam();
    LeakCheck leaks;
    KOwnedHandle src(AllocDIB(33, 7, c.bits, c.clrUsed));
    {
        DIBLock d(src.get());
        std::mt19937 rng(8);
        for (size_t i = 0; i < d->biSizeImage; ++i)
            d.bits()[i] = uint8_t(rng());
        for (uint32_t i = 0; i < c.clrUsed; ++i)
            d.palette()[i] = RGBQUAD{uint8_t(i), 1, 2, 0};
    }
    std::array<RGBQUAD, 256> fresh;
    for (size_t i = 0; i < 256; ++i)
        fresh[i] = RGBQUAD{uint8_t(255 - i), uint8_t(i), 77, 0};
    const Bytes before = BlockBytes(src.get());
    KHANDLE out = reinterpret_cast<KHANDLE>(uintptr_t{1});
    ASSERT_EQ(ReplacePaletteDIB(src.get(), &out, c.count, fresh.data()), c.rc);
    EXPECT_EQ(BlockBytes(src.get()), before);
    if (c.rc != 0) {
        EXPECT_EQ(out, nullptr);
        return;
    }
    KOwnedHandle result(out);
    Bytes want = before;
    std::memcpy(want.data() + 40, fresh.data(), c.count * 4);
    EXPECT_EQ(BlockBytes(out), want) << "only the table changes";
    EXPECT_GT(SweepAllocationFailures(src.get(),
                                      [&](KHANDLE* r) {
                                          return ReplacePaletteDIB(src.get(), r, c.count,
                                                                   fresh.data());
                                      }),
              0);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReplacePalette,
                         ::testing::Values(ReplaceCase{"EightBitWith256", 8, 256, 256, 0},
                                           ReplaceCase{"EightBit256WithSixteen", 8, 256, 16, 601},
                                           ReplaceCase{"EightBitShortTable", 8, 100, 100, 0},
                                           ReplaceCase{"EightBitShortTableWith256", 8, 100, 256,
                                                       601},
                                           ReplaceCase{"FourBitWithSixteen", 4, 16, 16, 0},
                                           ReplaceCase{"OneBitWithTwo", 1, 2, 2, 0},
                                           ReplaceCase{"TrueColourWithSixteen", 24, 0, 16, 601}),
                         CaseName());

TEST(ReplacePalette, MissingArguments) {
    KOwnedHandle src(AllocDIB(3, 3, 4, 16));
    RGBQUAD pal[16] = {};
    KHANDLE out = nullptr;
    EXPECT_EQ(ReplacePaletteDIB(nullptr, &out, 16, pal), 101);
    EXPECT_EQ(ReplacePaletteDIB(src.get(), nullptr, 16, pal), 101);
    EXPECT_EQ(ReplacePaletteDIB(src.get(), &out, 16, nullptr), 101);
    EXPECT_EQ(out, nullptr);
}

} // namespace
