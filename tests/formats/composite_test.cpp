#include "formats/composite.h"
#include "formats/dibroutines.h"
#include "imaging/tone.h"
#include "tests/formats/composite_reference.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace brellix::test;
using namespace brellix::test::ref;

namespace {

class BlendTablesEnvironment : public testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(InitBlendTables(), 0); }
};
testing::Environment* const kTables = testing::AddGlobalTestEnvironment(new BlendTablesEnvironment);

// ---- Test images ----

// 8-bit levels: a quarter 0, a quarter 255, the rest anything.
KHANDLE RandomLevels(int w, int h, uint32_t seed) {
    KHANDLE m = MakeRandomDIB(w, h, 8, seed, true);
    DIBLock d(m);
    std::mt19937 rng(seed * 7 + 1);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = DIBRowFromTop(d.header(), y);
        for (int x = 0; x < w; ++x) {
            const uint32_t pick = rng() % 4;
            if (pick == 0) row[x] = 0;
            if (pick == 1) row[x] = 255;
        }
    }
    return m;
}

// Sorted (a <= b <= c <= d) ranges on a few channels, the others passing all.
void RandomRanges(uint8_t* q, std::mt19937& rng) {
    for (int i = 0; i < 10; ++i) {
        uint8_t* p = q + 4 * i;
        if (rng() % 3 != 0) {
            p[0] = 0, p[1] = 0, p[2] = 255, p[3] = 255;
            continue;
        }
        int v[4];
        for (int& x : v)
            x = int(rng() % 256);
        std::sort(v, v + 4);
        for (int k = 0; k < 4; ++k)
            p[k] = uint8_t(v[k]);
    }
}

const char* kModeNames[] = {"Normal",    "Darken",     "Lighten",   "Hue",        "Saturation",
                            "Color",     "Luminosity", "Multiply",  "Screen",     "Dissolve",
                            "Overlay",   "HardLight",  "SoftLight", "Difference", "ColorDodge",
                            "ColorBurn", "Exclusion"};

KervErrorCode Composite(KHANDLE canvas, KHANDLE cover, KHANDLE layer, KHANDLE mask,
                        const Placement& p) {
    BlendRangeTables tables;
    const uint16_t n = p.ranges ? BuildBlendRanges(p.ranges, &tables) : 0;
    const LayerRect rect{p.left, p.top, p.left, p.top}; // right and bottom are not used
    return CompositeLayer(canvas, cover, layer, mask, uint8_t(p.opacity), uint8_t(p.mode), rect,
                          p.keep, n ? &tables : nullptr);
}

// ---- Every mode against the reference ----

struct ModeCase {
    int mode;
    int channels;
};

class EveryMode : public testing::TestWithParam<ModeCase> {};

TEST_P(EveryMode, MatchesTheFormulasBitForBit) {
    const ModeCase mc = GetParam();
    const bool grey = mc.channels == 1;
    const int bits = grey ? 8 : 24;
    struct Size {
        int w, h;
    };
    const Size sizes[] = {{1, 1}, {7, 3}, {33, 17}, {130, 5}};
    uint32_t seed = uint32_t(mc.mode * 100 + mc.channels);
    for (const Size& cs : sizes)
        for (int variant = 0; variant < 8; ++variant) {
            ++seed;
            std::mt19937 rng(seed);
            const bool withMask = variant & 1, withRanges = variant & 2, withCover = variant != 4;
            const int lw = std::max(1, cs.w + int(rng() % 7) - 3),
                      lh = std::max(1, cs.h + int(rng() % 5) - 2);
            Placement p;
            p.mode = mc.mode;
            p.opacity = variant == 0 ? 255 : int(rng() % 256);
            p.left = int(rng() % 9) - 4, p.top = int(rng() % 7) - 3;
            uint8_t ranges[40];
            RandomRanges(ranges, rng);
            if (withRanges) p.ranges = ranges;
            SCOPED_TRACE(testing::Message()
                         << cs.w << "x" << cs.h << " variant " << variant << " layer " << lw << "x"
                         << lh << " at " << p.left << "," << p.top << " opacity " << p.opacity);
            KOwnedHandle canvas(MakeRandomDIB(cs.w, cs.h, bits, seed, grey));
            KOwnedHandle layer(MakeRandomDIB(lw, lh, bits, seed + 1000, grey));
            KOwnedHandle cover(withCover ? RandomLevels(cs.w, cs.h, seed + 2000) : nullptr);
            KOwnedHandle mask(withMask ? RandomLevels(lw, lh, seed + 3000) : nullptr);
            Img want = ImgOf(canvas.get());
            Img wantCover = withCover ? ImgOf(cover.get()) : Img{};
            const Img maskImg = withMask ? ImgOf(mask.get()) : Img{};
            Reference(want, withCover ? &wantCover : nullptr, ImgOf(layer.get()),
                      withMask ? &maskImg : nullptr, p);
            const std::vector<uint8_t> layerBefore = BlockBytes(layer.get());
            ASSERT_EQ(Composite(canvas.get(), cover.get(), layer.get(), mask.get(), p), 0);
            EXPECT_EQ(ImgOf(canvas.get()).v, want.v);
            if (withCover) {
                EXPECT_EQ(ImgOf(cover.get()).v, wantCover.v) << "coverage";
            }
            EXPECT_EQ(BlockBytes(layer.get()), layerBefore) << "the layer is never changed";
        }
}

std::vector<ModeCase> AllModes() {
    std::vector<ModeCase> v;
    for (int mode = 0; mode < kBlendModeCount; ++mode) {
        v.push_back({mode, 3});
        if (mode < 3 || mode > 6) v.push_back({mode, 1});
    }
    return v;
}

INSTANTIATE_TEST_SUITE_P(Composite, EveryMode, testing::ValuesIn(AllModes()),
                         [](const testing::TestParamInfo<ModeCase>& i) {
                             return std::string(kModeNames[i.param.mode]) +
                                    (i.param.channels == 3 ? "_Rgb" : "_Grey");
                         });

// ---- Hand-computed pixels ----

struct PixelCase {
    const char* name;
    int mode;
    int d[3], s[3]; // red, green, blue
    int opacity, mask, cover;
    int want[3];
    int wantCover;
};

class HandPixel : public testing::TestWithParam<PixelCase> {};

TEST_P(HandPixel, GivesTheWorkedValue) {
    const PixelCase& pc = GetParam();
    auto colour = [](const int* c) {
        return uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | uint32_t(c[2]);
    };
    KOwnedHandle canvas(FromRows(24, {{colour(pc.d)}}));
    KOwnedHandle layer(FromRows(24, {{colour(pc.s)}}));
    KOwnedHandle cover(FromRows(8, {{uint32_t(pc.cover)}}, true));
    KOwnedHandle mask(FromRows(8, {{uint32_t(pc.mask)}}, true));
    Placement p;
    p.mode = pc.mode, p.opacity = pc.opacity;
    ASSERT_EQ(Composite(canvas.get(), cover.get(), layer.get(), mask.get(), p), 0);
    EXPECT_EQ(PixelAt(canvas.get(), 0, 0), colour(pc.want));
    EXPECT_EQ(PixelAt(cover.get(), 0, 0), uint32_t(pc.wantCover));
}

// Worked by hand from the formulas:
//  half Normal: a = 128, n = 255, w = (128 x 65536 + 127) / 255 = 32897,
//    out = (32639 d + 32897 s + 32768) >> 16: 100, 200 -> 150; 0, 255 -> 128.
//  Multiply at full strength: B = (200 x 100 + 128) / 255 = 78, and t = X = Y = 78.
//  Screen over half coverage: n = 128 + 127 = 255, w = 65536; B = 255 - (215 x 155 + 128) / 255 =
//  124,
//    X = (124 x 128 + 100 x 127 + 128) / 255 = 112.
//  Hue of blue on red: the blue of hue 2720 with red's luma 1224 and chroma 4080 is
//    (0, 0, 4080) + 776 = (776, 776, 4856), pulled to (872, 872, 4080), /16 = (54, 54, 255).
//  Empty canvas: copied whatever the mode; coverage = (200 x 90 + 128) / 255 = 71.
const PixelCase kHandPixels[] = {
    {"HalfNormal", 0, {100, 0, 10}, {200, 255, 10}, 128, 255, 255, {150, 128, 10}, 255},
    {"MultiplyFull", 7, {200, 200, 200}, {100, 100, 100}, 255, 255, 255, {78, 78, 78}, 255},
    {"ScreenOverHalfCoverage",
     8,
     {40, 40, 40},
     {100, 100, 100},
     255,
     255,
     128,
     {112, 112, 112},
     255},
    {"HueOfBlueOnRed", 3, {255, 0, 0}, {0, 0, 255}, 255, 255, 255, {54, 54, 255}, 255},
    {"EmptyCanvasTakesTheLayer", 13, {9, 9, 9}, {30, 60, 90}, 200, 90, 0, {30, 60, 90}, 71},
    {"ZeroMaskLeavesAlone", 0, {1, 2, 3}, {200, 200, 200}, 255, 0, 17, {1, 2, 3}, 17},
};

INSTANTIATE_TEST_SUITE_P(Composite, HandPixel, testing::ValuesIn(kHandPixels),
                         [](const testing::TestParamInfo<PixelCase>& i) { return i.param.name; });

// ---- The edge cases of the compositing rules ----

TEST(CompositeLayer, OpaqueNormalOverCoveredCanvasReplacesIt) {
    KOwnedHandle canvas(MakeRandomDIB(37, 11, 24, 1));
    KOwnedHandle layer(MakeRandomDIB(37, 11, 24, 2));
    KOwnedHandle cover(AllocDIB(37, 11, 8, 256));
    {
        DIBLock c(cover.get());
        std::memset(c.bits(), 255, c->biSizeImage);
    }
    ASSERT_EQ(Composite(canvas.get(), cover.get(), layer.get(), nullptr, Placement{}), 0);
    EXPECT_EQ(PixelRows(canvas.get()), PixelRows(layer.get()));
    for (const auto& row : PixelRows(cover.get()))
        for (uint32_t v : row)
            ASSERT_EQ(v, 255u);
}

TEST(CompositeLayer, FirstLayerOnAnEmptyCanvasIsCopiedWhateverTheMode) {
    for (int mode = 0; mode < kBlendModeCount; ++mode) {
        SCOPED_TRACE(kModeNames[mode]);
        KOwnedHandle canvas(MakeRandomDIB(19, 6, 24, 3));
        KOwnedHandle layer(MakeRandomDIB(19, 6, 24, 4));
        KOwnedHandle cover(AllocDIB(19, 6, 8, 256)); // all 0
        KOwnedHandle mask(RandomLevels(19, 6, 5));
        Placement p;
        p.mode = mode, p.opacity = 77;
        ASSERT_EQ(Composite(canvas.get(), cover.get(), layer.get(), mask.get(), p), 0);
        const Rows got = PixelRows(canvas.get()), src = PixelRows(layer.get()),
                   before = PixelRows(KOwnedHandle(MakeRandomDIB(19, 6, 24, 3)).get()),
                   m = PixelRows(mask.get()), c = PixelRows(cover.get());
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 19; ++x) {
                const uint32_t a = (m[y][x] * 77 + 128) / 255;
                EXPECT_EQ(got[y][x], a == 0 ? before[y][x] : src[y][x]) << x << "," << y;
                EXPECT_EQ(c[y][x], a) << x << "," << y;
            }
    }
}

TEST(CompositeLayer, NegativeLeftSkipsLayerColumns) {
    // Left -10 on a 100-wide canvas, layer 50 wide: canvas columns 0..39
    // come from layer columns 10..49, the rest stays.
    KOwnedHandle canvas(MakeRandomDIB(100, 4, 24, 6));
    KOwnedHandle layer(MakeRandomDIB(50, 4, 24, 7));
    const Rows before = PixelRows(canvas.get()), src = PixelRows(layer.get());
    Placement p;
    p.left = -10;
    ASSERT_EQ(Composite(canvas.get(), nullptr, layer.get(), nullptr, p), 0);
    const Rows got = PixelRows(canvas.get());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(got[y][x], x < 40 ? src[y][x + 10] : before[y][x]) << x << "," << y;
}

TEST(CompositeLayer, LayersOutsideTheCanvasPaintNothing) {
    struct Where {
        int left, top;
    };
    for (const Where& w : {Where{20, 0}, Where{-5, 0}, Where{0, 9}, Where{0, -3},
                           Where{INT32_MAX, 0}, Where{INT32_MIN, INT32_MIN}, Where{0, INT32_MAX}}) {
        KOwnedHandle canvas(MakeRandomDIB(20, 9, 24, 8));
        KOwnedHandle layer(MakeRandomDIB(5, 3, 24, 9));
        const auto before = BlockBytes(canvas.get());
        Placement p;
        p.left = w.left, p.top = w.top;
        ASSERT_EQ(Composite(canvas.get(), nullptr, layer.get(), nullptr, p), 0);
        EXPECT_EQ(BlockBytes(canvas.get()), before) << w.left << "," << w.top;
    }
}

TEST(CompositeLayer, MultiplyWithWhiteLeavesTheCanvas) {
    // On a covered canvas (mask 255, or no canvas mask at all).
    for (bool grey : {false, true})
        for (bool withCover : {false, true}) {
            const int bits = grey ? 8 : 24;
            KOwnedHandle canvas(MakeRandomDIB(23, 7, bits, 10, grey));
            KHANDLE white = nullptr;
            ASSERT_EQ(NewDIB(&white, 23, 7, uint8_t(bits), grey, 255, 255, 255, nullptr), 0);
            KOwnedHandle layer(white);
            KOwnedHandle cover(withCover ? AllocDIB(23, 7, 8, 256) : nullptr);
            if (withCover) {
                DIBLock c(cover.get());
                std::memset(c.bits(), 255, c->biSizeImage);
            }
            const auto before = PixelRows(canvas.get());
            Placement p;
            p.mode = kBlendMultiply;
            ASSERT_EQ(Composite(canvas.get(), cover.get(), layer.get(), nullptr, p), 0);
            EXPECT_EQ(PixelRows(canvas.get()), before) << (grey ? "grey" : "rgb") << withCover;
        }
}

TEST(CompositeLayer, DissolveTakesWholePixelsWhereTheNoiseIsBelowTheOpacity) {
    KOwnedHandle canvas(MakeRandomDIB(140, 3, 24, 12));
    KOwnedHandle layer(MakeRandomDIB(140, 3, 24, 13));
    const Rows before = PixelRows(canvas.get()), src = PixelRows(layer.get());
    Placement p;
    p.mode = kBlendDissolve, p.opacity = 128;
    ASSERT_EQ(Composite(canvas.get(), nullptr, layer.get(), nullptr, p), 0);
    const Rows got = PixelRows(canvas.get());
    int taken = 0;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 140; ++x) {
            const bool take = NoiseAt(x, y) < 128;
            taken += take;
            ASSERT_EQ(got[y][x], take ? src[y][x] : before[y][x]) << x << "," << y;
        }
    EXPECT_GT(taken, 140) << "about half the pixels";
    EXPECT_LT(taken, 280);
}

TEST(CompositeLayer, KeepCoverageBlendsButLeavesTheCanvasMask) {
    KOwnedHandle canvas(MakeRandomDIB(9, 9, 24, 14)), canvas2(MakeRandomDIB(9, 9, 24, 14));
    KOwnedHandle layer(MakeRandomDIB(9, 9, 24, 15));
    KOwnedHandle cover(RandomLevels(9, 9, 16)), cover2(RandomLevels(9, 9, 16));
    Placement p;
    p.mode = kBlendScreen, p.opacity = 200;
    ASSERT_EQ(Composite(canvas.get(), cover.get(), layer.get(), nullptr, p), 0);
    const auto coverBefore = BlockBytes(cover2.get());
    p.keep = true;
    ASSERT_EQ(Composite(canvas2.get(), cover2.get(), layer.get(), nullptr, p), 0);
    EXPECT_EQ(BlockBytes(cover2.get()), coverBefore);
    EXPECT_EQ(PixelRows(canvas2.get()), PixelRows(canvas.get()));
}

TEST(CompositeLayer, ModesWithoutKernelBlendAsNormal) {
    struct Case {
        int mode;
        bool grey;
    };
    for (const Case& c : {Case{3, true}, Case{6, true}, Case{17, false}, Case{255, true}}) {
        KOwnedHandle a(MakeRandomDIB(13, 5, c.grey ? 8 : 24, 17, c.grey)),
            b(MakeRandomDIB(13, 5, c.grey ? 8 : 24, 17, c.grey));
        KOwnedHandle layer(MakeRandomDIB(13, 5, c.grey ? 8 : 24, 18, c.grey));
        KOwnedHandle ca(RandomLevels(13, 5, 19)), cb(RandomLevels(13, 5, 19));
        Placement p;
        p.opacity = 150;
        ASSERT_EQ(Composite(a.get(), ca.get(), layer.get(), nullptr, p), 0);
        p.mode = c.mode;
        ASSERT_EQ(Composite(b.get(), cb.get(), layer.get(), nullptr, p), 0);
        EXPECT_EQ(BlockBytes(b.get()), BlockBytes(a.get())) << c.mode;
        EXPECT_EQ(BlockBytes(cb.get()), BlockBytes(ca.get())) << c.mode;
    }
}

TEST(SelectBlendKernel, OnlyForModesTheChannelsHave) {
    for (int mode = -1; mode <= 18; ++mode) {
        const bool valid = mode >= 0 && mode <= 16;
        EXPECT_EQ(SelectBlendKernel(mode, 3) != nullptr, valid) << mode;
        EXPECT_EQ(SelectBlendKernel(mode, 1) != nullptr, valid && (mode < 3 || mode > 6)) << mode;
        EXPECT_EQ(SelectBlendKernel(mode, 2), nullptr) << mode;
    }
}

// ---- Blend ranges ----

TEST(BuildBlendRanges, PassingEverythingMakesNoCurve) {
    uint8_t q[40];
    for (int i = 0; i < 10; ++i)
        q[4 * i] = 0, q[4 * i + 1] = 0, q[4 * i + 2] = 255, q[4 * i + 3] = 255;
    BlendRangeTables t;
    EXPECT_EQ(BuildBlendRanges(q, &t), 0);
    EXPECT_EQ(t.count, 0);
    // ... and compositing with them is compositing without.
    KOwnedHandle a(MakeRandomDIB(11, 4, 24, 20)), b(MakeRandomDIB(11, 4, 24, 20));
    KOwnedHandle layer(MakeRandomDIB(11, 4, 24, 21));
    KOwnedHandle ca(RandomLevels(11, 4, 22)), cb(RandomLevels(11, 4, 22));
    Placement p;
    p.mode = kBlendOverlay, p.opacity = 99;
    ASSERT_EQ(Composite(a.get(), ca.get(), layer.get(), nullptr, p), 0);
    p.ranges = q;
    ASSERT_EQ(Composite(b.get(), cb.get(), layer.get(), nullptr, p), 0);
    EXPECT_EQ(BlockBytes(b.get()), BlockBytes(a.get()));
}

TEST(BuildBlendRanges, RampsInPercentOfTheirWidth) {
    uint8_t q[40];
    for (int i = 0; i < 10; ++i)
        q[4 * i] = 0, q[4 * i + 1] = 0, q[4 * i + 2] = 255, q[4 * i + 3] = 255;
    const uint8_t own[4] = {50, 100, 200, 250}, under[4] = {0, 0, 0, 0};
    std::memcpy(q + 16, own, 4);   // channel 2 (green), the layer's
    std::memcpy(q + 36, under, 4); // channel 4, underneath: built, never consulted
    BlendRangeTables t;
    ASSERT_EQ(BuildBlendRanges(q, &t), 2);
    EXPECT_FALSE(t.layerNoCurve[2]);
    EXPECT_TRUE(t.canvasNoCurve[2]);
    EXPECT_FALSE(t.canvasNoCurve[4]);
    // 50 % of the ramp is 127.5 levels, truncated.
    struct Point {
        int v, want;
    };
    for (const Point& pt :
         {Point{0, 0}, Point{50, 0}, Point{75, 127}, Point{60, 51}, Point{100, 255},
          Point{200, 255}, Point{225, 127}, Point{249, 5}, Point{250, 0}, Point{255, 0}})
        EXPECT_EQ(t.layerCurve[2][pt.v], pt.want) << pt.v;
    EXPECT_EQ(t.canvasCurve[4][0], 255);
    EXPECT_EQ(t.canvasCurve[4][1], 0);
}

TEST(BuildBlendRanges, AnyBytesGiveACurveWithoutFaults) {
    std::mt19937 rng(23);
    for (int n = 0; n < 2000; ++n) {
        uint8_t q[40];
        for (uint8_t& b : q)
            b = uint8_t(rng() % 4 == 0 ? 0 : rng() % 4 == 0 ? 255 : rng());
        BlendRangeTables t;
        const uint16_t count = BuildBlendRanges(q, &t);
        ASSERT_EQ(count, ActiveCurves(q));
        for (int ch = 0; ch < 5; ++ch) {
            const uint8_t* p = q + 8 * ch;
            if (t.layerNoCurve[ch]) continue;
            // Sorted ranges follow the written curve exactly; others only have to be defined.
            if (p[0] <= p[1] && p[1] <= p[2] && p[2] <= p[3]) {
                for (int v = 0; v < 256; ++v)
                    ASSERT_EQ(t.layerCurve[ch][v], Curve(p, v)) << v;
            }
        }
    }
}

TEST(CompositeLayer, CanvasCurvesAreSkippedWhereNothingIsPaintedYet) {
    // Underneath, only value 0 passes channel 1: a covered grey canvas of
    // 100 keeps the layer out, an uncovered one takes it.
    uint8_t q[40];
    for (int i = 0; i < 10; ++i)
        q[4 * i] = 0, q[4 * i + 1] = 0, q[4 * i + 2] = 255, q[4 * i + 3] = 255;
    std::memset(q + 12, 0, 4);
    KOwnedHandle canvas(FromRows(8, {{100, 100}}, true));
    KOwnedHandle layer(FromRows(8, {{7, 8}}, true));
    KOwnedHandle cover(FromRows(8, {{255, 0}}, true));
    Placement p;
    p.ranges = q;
    ASSERT_EQ(Composite(canvas.get(), cover.get(), layer.get(), nullptr, p), 0);
    EXPECT_EQ(PixelRows(canvas.get()), (Rows{{100, 8}}));
    EXPECT_EQ(PixelRows(cover.get()), (Rows{{255, 255}}));
}

// ---- Canvas depths ----

TEST(CompositeLayer, GreyCanvasTakesTrueColourLayersAsTheirGrey) {
    KOwnedHandle a(MakeRandomDIB(17, 5, 8, 24, true)), b(MakeRandomDIB(17, 5, 8, 24, true));
    KOwnedHandle layer(MakeRandomDIB(17, 5, 24, 25));
    KHANDLE g = nullptr;
    ASSERT_EQ(GreyscaleDIB(nullptr, layer.get(), &g), 0);
    KOwnedHandle grey(g);
    KOwnedHandle mask(RandomLevels(17, 5, 26));
    Placement p;
    p.mode = kBlendSoftLight, p.opacity = 180, p.left = 2;
    ASSERT_EQ(Composite(a.get(), nullptr, grey.get(), mask.get(), p), 0);
    const auto layerBefore = BlockBytes(layer.get());
    LeakCheck leaks;
    ASSERT_EQ(Composite(b.get(), nullptr, layer.get(), mask.get(), p), 0);
    EXPECT_EQ(BlockBytes(b.get()), BlockBytes(a.get()));
    EXPECT_EQ(BlockBytes(layer.get()), layerBefore);
}

TEST(CompositeLayer, TrueColourCanvasTakesPaletteLayersAsTheirColours) {
    for (int bits : {1, 4, 8}) {
        KOwnedHandle a(MakeRandomDIB(21, 4, 24, 27)), b(MakeRandomDIB(21, 4, 24, 27));
        KOwnedHandle layer(MakeRandomPaletteDIB(21, 4, bits, 28));
        KHANDLE t = nullptr;
        ASSERT_EQ(IncreaseDIBDepth(nullptr, layer.get(), &t, 24), 0);
        KOwnedHandle wide(t);
        Placement p;
        p.mode = kBlendDifference, p.opacity = 201, p.top = -1;
        ASSERT_EQ(Composite(a.get(), nullptr, wide.get(), nullptr, p), 0);
        ASSERT_EQ(Composite(b.get(), nullptr, layer.get(), nullptr, p), 0);
        EXPECT_EQ(BlockBytes(b.get()), BlockBytes(a.get())) << bits;
    }
}

class PaletteCanvas : public testing::TestWithParam<int> {};

TEST_P(PaletteCanvas, CopiesPixelValuesWhereTheMaskIsNotZero) {
    const int bits = GetParam();
    for (bool withMask : {false, true}) {
        SCOPED_TRACE(withMask ? "masked" : "plain");
        KOwnedHandle canvas(MakeRandomPaletteDIB(29, 7, bits, 30));
        KOwnedHandle layer(MakeRandomPaletteDIB(11, 5, bits, 31));
        KOwnedHandle cover(RandomLevels(29, 7, 32));
        KOwnedHandle mask(withMask ? RandomLevels(11, 5, 33) : nullptr);
        Rows want = PixelRows(canvas.get()), wantCover = PixelRows(cover.get());
        const Rows src = PixelRows(layer.get());
        const Rows m = withMask ? PixelRows(mask.get()) : Rows{};
        const int left = 21, top = -2; // cut on the right and at the top
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 29; ++x) {
                const int lx = x - left, ly = y - top;
                if (lx < 0 || ly < 0 || lx >= 11 || ly >= 5) continue;
                if (withMask && m[ly][lx] == 0) continue;
                want[y][x] = src[ly][lx];
                if (withMask) wantCover[y][x] = m[ly][lx];
            }
        Placement p;
        p.left = left, p.top = top, p.mode = kBlendMultiply, p.opacity = 3; // neither is used
        ASSERT_EQ(Composite(canvas.get(), cover.get(), layer.get(), mask.get(), p), 0);
        EXPECT_EQ(PixelRows(canvas.get()), want);
        EXPECT_EQ(PixelRows(cover.get()), wantCover);
    }
}

INSTANTIATE_TEST_SUITE_P(Composite, PaletteCanvas, testing::Values(1, 4, 8),
                         [](const testing::TestParamInfo<int>& i) {
                             return std::to_string(i.param) + "Bits";
                         });

// ---- Refusals ----

TEST(CompositeLayer, RefusesWhatItCannotPlace) {
    KOwnedHandle rgb(MakeRandomDIB(10, 10, 24, 40)), layer(MakeRandomDIB(4, 4, 24, 41));
    KOwnedHandle pal(MakeRandomPaletteDIB(10, 10, 8, 42)), pal4(MakeRandomPaletteDIB(4, 4, 4, 43));
    KOwnedHandle levels10(RandomLevels(10, 10, 44)), levels4(RandomLevels(4, 4, 45)),
        levels5(RandomLevels(5, 4, 46)), rgbMask(MakeRandomDIB(4, 4, 24, 47)),
        levels12(RandomLevels(12, 12, 48)), levels9(RandomLevels(9, 10, 49));
    KOwnedHandle full(MakeRandomDIB(10, 10, 24, 50));
    struct Case {
        const char* what;
        KHANDLE canvas, cover, layer, mask;
        KervErrorCode want;
    };
    const Case cases[] = {
        {"no canvas", nullptr, nullptr, layer.get(), nullptr, 101},
        {"no layer", rgb.get(), nullptr, nullptr, nullptr, 101},
        {"canvas mask of another size", rgb.get(), levels4.get(), layer.get(), nullptr, 101},
        {"canvas mask not 8 bits", rgb.get(), full.get(), layer.get(), nullptr, 101},
        {"layer mask of another size", rgb.get(), nullptr, layer.get(), levels5.get(), 101},
        {"layer mask not 8 bits", rgb.get(), nullptr, layer.get(), rgbMask.get(), 101},
        {"canvas-sized layer, smaller mask", rgb.get(), nullptr, full.get(), levels9.get(), 101},
        {"palette canvas, layer of another depth", pal.get(), nullptr, pal4.get(), nullptr, 101},
        {"canvas-sized layer, larger mask", rgb.get(), levels10.get(), full.get(), levels12.get(),
         0},
        {"matching mask", rgb.get(), levels10.get(), layer.get(), levels4.get(), 0},
    };
    for (const Case& c : cases) {
        const auto before = c.canvas ? BlockBytes(c.canvas) : std::vector<uint8_t>{};
        EXPECT_EQ(
            CompositeLayer(c.canvas, c.cover, c.layer, c.mask, 255, 0, LayerRect{}, false, nullptr),
            c.want)
            << c.what;
        if (c.want != 0 && c.canvas) {
            EXPECT_EQ(BlockBytes(c.canvas), before) << c.what;
        }
    }
}

TEST(CompositeLayer, NeedsTheBlendTables) {
    KOwnedHandle canvas(MakeRandomDIB(3, 3, 24, 51)), layer(MakeRandomDIB(3, 3, 24, 52));
    FreeBlendTables();
    EXPECT_EQ(CompositeLayer(canvas.get(), nullptr, layer.get(), nullptr, 255, 0, LayerRect{},
                             false, nullptr),
              KERV_INVALID_PARAM);
    ASSERT_EQ(InitBlendTables(), 0);
    EXPECT_EQ(CompositeLayer(canvas.get(), nullptr, layer.get(), nullptr, 255, 0, LayerRect{},
                             false, nullptr),
              0);
}

TEST(CompositeLayer, OutOfMemoryLeavesTheCanvasAlone) {
    // A true colour layer on a grey canvas needs a converted copy.
    KOwnedHandle canvas(MakeRandomDIB(15, 6, 8, 53, true)), layer(MakeRandomDIB(15, 6, 24, 54));
    const auto before = BlockBytes(canvas.get());
    int failures = 0;
    for (uint64_t n = 1; n < 100; ++n) {
        LeakCheck leaks;
        KML_FailNthAllocation(n);
        const KervErrorCode e = CompositeLayer(canvas.get(), nullptr, layer.get(), nullptr, 255, 7,
                                               LayerRect{}, false, nullptr);
        KML_FailNthAllocation(0);
        if (e == 0) break;
        ++failures;
        EXPECT_EQ(e, KERV_NO_MEMORY) << n;
        EXPECT_EQ(BlockBytes(canvas.get()), before) << n;
    }
    EXPECT_GT(failures, 0);
    EXPECT_NE(BlockBytes(canvas.get()), before);
}

} // namespace
