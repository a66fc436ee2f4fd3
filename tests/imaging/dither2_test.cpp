#include "imaging/dither.h"
#include "imaging/dither_tables.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

using namespace brellix::test;

namespace {

// ---- A plain reference, written from the rules ----

int Level(int blue, int green, int red, int component) {
    switch (component) {
    case 0:
        return std::min(255, (11 * blue + 59 * green + 30 * red) / 100);
    case 1:
        return red;
    case 2:
        return green;
    default:
        return blue;
    }
}

// The whole picture as levels (top row first) and the range of the table's
// levels. A 24-bit picture goes through a level image with the grey ramp.
struct Levels {
    int w = 0, h = 0, min = 255, max = 0;
    std::vector<int> v;
};

Levels LevelsOf(KHANDLE src, int component, bool weighted) {
    DIBLock d(src);
    Levels l;
    l.w = d.width(), l.h = d.height();
    const bool ramp = d.bitCount() == 24;
    const int entries = ramp ? 256 : int(DIBPaletteEntries(d.header()));
    std::vector<int> entryLevel(256, weighted ? dither_tables::kTwoColorWeight[0] : 0);
    for (int i = 0; i < entries; ++i) {
        const RGBQUAD e = ramp ? RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0} : d.palette()[i];
        int v = Level(e.rgbBlue, e.rgbGreen, e.rgbRed, component);
        if (weighted) v = dither_tables::kTwoColorWeight[v];
        entryLevel[size_t(i)] = v;
        l.min = std::min(l.min, v);
        l.max = std::max(l.max, v);
    }
    for (int y = 0; y < l.h; ++y)
        for (int x = 0; x < l.w; ++x) {
            const uint32_t p = PixelAt(src, x, y);
            const int index =
                ramp ? Level(int(p & 255), int((p >> 8) & 255), int(p >> 16), component) : int(p);
            l.v.push_back(entryLevel[size_t(index)]);
        }
    return l;
}

struct Tap {
    int dy, dx, share;
};

std::vector<Tap> Taps(int kernel, int e) {
    switch (kernel) {
    case 1:
        return {{0, 1, 7 * e / 16}, {1, -1, 3 * e / 16}, {1, 0, 5 * e / 16}, {1, 1, e / 16}};
    case 2:
        return {{0, 1, (8 * e) >> 5},  {0, 2, (4 * e) >> 5}, {1, -2, (2 * e) >> 5},
                {1, -1, (4 * e) >> 5}, {1, 0, (8 * e) >> 5}, {1, 1, (4 * e) >> 5},
                {1, 2, (2 * e) >> 5}};
    case 3:
        return {{0, 1, 8 * e / 42},  {0, 2, 4 * e / 42}, {1, -2, 2 * e / 42}, {1, -1, 4 * e / 42},
                {1, 0, 8 * e / 42},  {1, 1, 4 * e / 42}, {1, 2, 2 * e / 42},  {2, -2, e / 42},
                {2, -1, 2 * e / 42}, {2, 0, 4 * e / 42}, {2, 1, 2 * e / 42},  {2, 2, e / 42}};
    default:
        return {};
    }
}

std::vector<int> Reference(Levels l, int kernel) {
    const int threshold = (l.max + l.min) / 2;
    std::vector<int> out;
    for (int y = 0; y < l.h; ++y)
        for (int x = 0; x < l.w; ++x) {
            const int v = l.v[size_t(y * l.w + x)];
            const bool white = v > threshold;
            out.push_back(white);
            for (const Tap& t : Taps(kernel, white ? v - l.max : v - l.min)) {
                const int ty = y + t.dy, tx = x + t.dx;
                if (ty >= l.h || tx < 0 || tx >= l.w) continue;
                int& n = l.v[size_t(ty * l.w + tx)];
                n = std::clamp(n + t.share, l.min, l.max);
            }
        }
    return out;
}

std::vector<int> BitsOf(KHANDLE h) {
    std::vector<int> out;
    for (const auto& row : PixelRows(h))
        out.insert(out.end(), row.begin(), row.end());
    return out;
}

// Random pixels; palette sources a random table (grey ramp for kGrey).
constexpr int kGrey = 0;
KHANDLE Source(int w, int h, int bits, uint32_t seed) {
    KHANDLE s = MakeRandomPaletteDIB(w, h, bits == kGrey ? 8 : bits, seed, bits == kGrey);
    DIBLock d(s);
    d->biXPelsPerMeter = 3780;
    d->biYPelsPerMeter = 2835;
    return s;
}

KHANDLE Flat(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    KHANDLE s = nullptr;
    EXPECT_EQ(NewDIB(&s, uint16_t(w), uint16_t(h), 24, 0, r, g, b, nullptr), 0);
    return s;
}

KOwnedHandle TwoColors(KHANDLE src, int kernel, int component, bool weighted) {
    KHANDLE out = nullptr;
    EXPECT_EQ(DitherTo2Colors(nullptr, src, &out, uint8_t(kernel), uint8_t(component), weighted),
              0);
    return KOwnedHandle(out);
}

// ---- Against the reference ----

using Choice = std::tuple<int, int, bool>; // kernel, component, weighted

std::string ChoiceName(const ::testing::TestParamInfo<Choice>& info) {
    const char* kernels[] = {"Threshold", "FloydSteinberg", "Burkes", "Stucki"};
    const char* components[] = {"Grey", "Red", "Green", "Blue"};
    return std::string(kernels[std::get<0>(info.param)]) + components[std::get<1>(info.param)] +
           (std::get<2>(info.param) ? "Weighted" : "");
}

class TwoColorChoices : public ::testing::TestWithParam<Choice> {};

TEST_P(TwoColorChoices, MatchThePlainReference) {
    const auto [kernel, component, weighted] = GetParam();
    const struct { int w, h; } kSizes[] = {{1, 1}, {7, 3}, {33, 17}, {130, 4}, {2, 9}};
    for (int bits : {24, 8, 4, kGrey})
        for (auto sz : kSizes) {
            LeakCheck leaks;
            KOwnedHandle src(Source(sz.w, sz.h, bits, uint32_t(sz.w * 7 + sz.h + bits)));
            KOwnedHandle out = TwoColors(src.get(), kernel, component, weighted);
            ASSERT_TRUE(out);
            EXPECT_EQ(BitsOf(out.get()),
                      Reference(LevelsOf(src.get(), component, weighted), kernel))
                << bits << " bits, " << sz.w << " x " << sz.h;
        }
}

INSTANTIATE_TEST_SUITE_P(Dither, TwoColorChoices,
                         ::testing::Combine(::testing::Range(0, 4), ::testing::Range(0, 4),
                                            ::testing::Bool()),
                         ChoiceName);

// ---- Hand-computed pictures ----

TEST(TwoColorPictures, WhiteStaysWhiteWithBlackThenWhitePalette) {
    LeakCheck leaks;
    KOwnedHandle white(Flat(13, 3, 255, 255, 255));
    for (int kernel = 0; kernel < 4; ++kernel)
        for (int component = 0; component < 4; ++component)
            for (bool weighted : {false, true}) {
                KOwnedHandle out = TwoColors(white.get(), kernel, component, weighted);
                DIBLock d(out.get());
                ASSERT_TRUE(d);
                EXPECT_EQ(d->biBitCount, 1);
                EXPECT_EQ(d->biClrUsed, 2u);
                EXPECT_EQ(d->biClrImportant, 2u);
                const RGBQUAD black = d.palette()[0], w = d.palette()[1];
                EXPECT_TRUE(black.rgbBlue == 0 && black.rgbGreen == 0 && black.rgbRed == 0);
                EXPECT_TRUE(w.rgbBlue == 255 && w.rgbGreen == 255 && w.rgbRed == 255);
                // 13 pixels: eight, then five in the high bits of the second byte.
                for (int r = 0; r < 3; ++r)
                    EXPECT_EQ(std::vector<uint8_t>(d.row(r), d.row(r) + 4),
                              (std::vector<uint8_t>{0xFF, 0xF8, 0, 0}))
                        << kernel << "/" << component << "/" << weighted;
            }
}

// 2 x 2 of level 100 between 0 and 255 (threshold 127), Floyd-Steinberg:
// top left black, error 100: right 143, below 131, below right 106. Top
// right white, error -112: below left 131 - 21 = 110, below 106 - 35 = 71.
// Bottom left black, error 110: right 71 + 48 = 119, black.
TEST(TwoColorPictures, TwoByTwoGreyDiffusesByHand) {
    LeakCheck leaks;
    KOwnedHandle grey(Flat(2, 2, 100, 100, 100));
    for (int component = 0; component < 4; ++component)
        EXPECT_EQ(BitsOf(TwoColors(grey.get(), 1, component, false).get()),
                  (std::vector<int>{0, 1, 0, 0}));
}

// (200, 10, 10): grey (110 + 590 + 6000) / 100 = 67, red 200, green and
// blue 10. Grey 130 is white, but weighted it becomes 91 of 1..254: black.
TEST(TwoColorPictures, ComponentAndWeightingDecide) {
    LeakCheck leaks;
    KOwnedHandle reddish(Flat(1, 1, 200, 10, 10)), grey(Flat(1, 1, 130, 130, 130));
    const int want[] = {0, 1, 0, 0};
    for (int component = 0; component < 4; ++component)
        EXPECT_EQ(BitsOf(TwoColors(reddish.get(), 0, component, false).get())[0], want[component])
            << component;
    EXPECT_EQ(BitsOf(TwoColors(grey.get(), 1, 0, false).get())[0], 1);
    EXPECT_EQ(BitsOf(TwoColors(grey.get(), 1, 0, true).get())[0], 0);
    EXPECT_EQ(dither_tables::kTwoColorWeight[130], 91);
}

// A table of two levels, 100 and 200 (threshold 150): index 7 lies past it,
// reads as black and leaves the range alone, so level 200 is still white.
TEST(TwoColorPictures, IndexPastTheTableIsBlackAndOutsideTheRange) {
    LeakCheck leaks;
    KOwnedHandle src(AllocDIB(3, 1, 8, 2));
    {
        DIBLock d(src.get());
        d.palette()[0] = RGBQUAD{100, 100, 100, 0};
        d.palette()[1] = RGBQUAD{200, 200, 200, 0};
        d.bits()[0] = 1, d.bits()[1] = 7, d.bits()[2] = 0;
    }
    EXPECT_EQ(BitsOf(TwoColors(src.get(), 0, 0, false).get()), (std::vector<int>{1, 0, 0}));
    EXPECT_EQ(BitsOf(TwoColors(src.get(), 1, 0, false).get()),
              Reference(LevelsOf(src.get(), 0, false), 1));
}

TEST(TwoColorPictures, ResolutionIsTheSources) {
    LeakCheck leaks;
    KOwnedHandle src(Source(5, 5, 8, 1));
    KOwnedHandle out = TwoColors(src.get(), 3, 0, false);
    DIBLock d(out.get());
    EXPECT_EQ(d->biXPelsPerMeter, 3780);
    EXPECT_EQ(d->biYPelsPerMeter, 2835);
}

// ---- Contract ----

TEST(TwoColorContract, RefusesBadArgumentsWithTheSlotCleared) {
    LeakCheck leaks;
    KOwnedHandle rgb(Source(4, 4, 24, 1)), mono(Source(4, 4, 1, 1));
    const struct {
        const char* what;
        KHANDLE src;
        int kernel, component;
    } kCases[] = {
        {"null source", nullptr, 1, 0},
        {"1-bit source", mono.get(), 1, 0},
        {"kernel 4", rgb.get(), 4, 0},
        {"component 4", rgb.get(), 1, 4},
    };
    for (const auto& c : kCases)
        ExpectRefused(
            [&](KHANDLE* out) {
                return DitherTo2Colors(nullptr, c.src, out, uint8_t(c.kernel), uint8_t(c.component),
                                       0);
            },
            KERV_INVALID_PARAM, c.what);
    EXPECT_EQ(DitherTo2Colors(nullptr, rgb.get(), nullptr, 1, 0, 0), KERV_INVALID_PARAM);
}

TEST(TwoColorContract, FailuresAndStopsFreeEverything) {
    for (int bits : {24, 8, 4}) {
        KOwnedHandle src(Source(11, 6, bits, 2));
        for (int kernel = 0; kernel < 4; ++kernel) {
            const int points = SweepAllocationFailures(src.get(), [&](KHANDLE* out) {
                return DitherTo2Colors(nullptr, src.get(), out, uint8_t(kernel), 0, 1);
            });
            EXPECT_GE(points, 2) << bits << " bits";
            // Calls: the start (answer not asked for), six rows, the end.
            EXPECT_EQ(SweepStops(src.get(),
                                 [&](StatusControlBlock* s, KHANDLE* out) {
                                     return DitherTo2Colors(s, src.get(), out, uint8_t(kernel), 2,
                                                            0);
                                 }),
                      7)
                << bits << " bits, kernel " << kernel;
        }
    }
}

} // namespace
