// Colour adjustments: hand-worked colours at every depth, plain-formula
// references on random images, the hue model over every colour, and the
// operations' contract.
#include "imaging/adjust.h"
#include "tests/imaging/colour_test_util.h"

#include <cmath>
#include <limits>

using namespace colour_test;

namespace {

// ---- References, straight from the formulas ----

int RefBrightness(int v, int value) {
    return Clamp(v + value * 255 / 100);
}

int RefContrast(int v, int value) {
    value = value < -100 ? -100 : value > 100 ? 100 : value;
    int lut[256];
    if (value >= 0) {
        const int c = value * 127 / 100;
        const float slope = 255.0f / float(255 - 2 * c);
        float a = 0.0f;
        for (int i = 0; i < 256; ++i) {
            if (i <= c) {
                lut[i] = 0;
            } else if (i >= 255 - c) {
                lut[i] = 255;
            } else {
                lut[i] = int(a);
                a += slope;
            }
        }
    } else {
        const int c = value * -127 / 100;
        const float slope = float(255 - 2 * c) * 0.003921569f;
        float a = float(c) + 1.0f;
        for (int i = 0; i < 256; ++i, a += slope)
            lut[i] = int(a);
    }
    return lut[v];
}

int RefSolarize(int v, int t) {
    return v <= t ? v : 255 - v;
}
int RefPercent(int v, int p) {
    return Clamp(v + v * p / 100);
}

int RefHms(int i, int highlight, int midtone, int shadow) {
    if (i == 0) return 0;
    const int t = highlight * 255 / 100;
    int v = i < t ? 256 * i / t : 255;
    if (i == 255) return v;
    if (v >= 97 && v <= 159) v = Clamp(v - 50 + midtone);
    const int s = shadow * 255 / 100;
    return v < s ? 0 : (v - s) * 256 / (256 - s);
}

int RefGamma(int i, float g) {
    const double e = 1.0 / g;
    const double big = std::pow(255.0, e);
    if (!std::isfinite(big) || 255.0 / big == 0.0) return int(255.0 * std::pow(i / 255.0, e) + 0.5);
    return int(std::pow(double(i), e) * (255.0 / big) + 0.5);
}

int Round16(int x) {
    return (x >> 4) + ((x & 15) >= 8 ? 1 : 0);
}

struct HLS {
    int h, s, l;
    bool operator==(const HLS&) const = default;
};

// Sixteenths throughout; the largest component is looked for red first.
HLS RefRGBToHLS(int r, int g, int b) {
    const int R = 16 * r, G = 16 * g, B = 16 * b;
    const int max = std::max({R, G, B}), min = std::min({R, G, B});
    const int L = Round16((max + min) / 2);
    if (max == min) return {0, 0, L};
    const int d = max - min;
    const int s = L <= 128 ? max + min : 8160 - max - min;
    const int S = Round16(d * 4080 / s);
    int h;
    if (R == max)
        h = g >= b ? (g - b) * 10880 / d : ((g - b) * 15360 / d + 5760) * 51 / 72;
    else if (G == max)
        h = (b - r) * 10880 / d + 1360;
    else
        h = (r - g) * 10880 / d + 2720;
    return {Round16(h), S, L};
}

Colour RefHLSToRGB(int H, int S, int L) {
    if (S == 0) return {L, L, L};
    const int m2 = L < 128 ? L * (255 + S) / 255 : L + S - S * L / 255;
    const int m1 = 2 * L - m2;
    auto component = [&](int h) {
        if (h < 680) return 16 * m1 + 16 * (m2 - m1) * h / 680;
        if (h < 2040) return 16 * m2;
        if (h < 2720) return 16 * m1 + 16 * (m2 - m1) * (2720 - h) / 680;
        return 16 * m1;
    };
    int hr = 16 * H + 1360, hb = 16 * H - 1360;
    if (hr > 4080) hr -= 4080;
    if (hb < 0) hb += 4080;
    return {Round16(component(hr)), Round16(component(16 * H)), Round16(component(hb))};
}

Colour RefHlsAdjust(const Colour& c, int hue, int sat, int lum) {
    const HLS x = RefRGBToHLS(c.r, c.g, c.b);
    int h = x.h + hue * 255 / 100;
    if (h < 0) h += 255;
    if (h > 255) h -= 255;
    return RefHLSToRGB(h, RefPercent(x.s, sat), RefPercent(x.l, lum));
}

Colour RefColorize(const Colour& c, int hue, int sat) {
    const int max = std::max({c.r, c.g, c.b}), min = std::min({c.r, c.g, c.b});
    return RefHLSToRGB(hue, sat, (max + min + 1) / 2);
}

// Per-channel functions as a colour function.
ColourFn Channels(std::function<int(int)> r, std::function<int(int)> g, std::function<int(int)> b) {
    return [=](const Colour& c) { return Colour{r(c.r), g(c.g), b(c.b)}; };
}
ColourFn Each(const std::function<int(int)>& f) {
    return Channels(f, f, f);
}

// ---- The operations under test ----

Op Brightness(int v) {
    return [v](auto s, auto i, auto o) { return AdjustBrightnessContrast(s, i, o, int16_t(v), 2); };
}
Op Contrast(int v) {
    return [v](auto s, auto i, auto o) { return AdjustBrightnessContrast(s, i, o, int16_t(v), 3); };
}
// AdjustDIB, whose mode 4 is solarize.
Op Curve(int v, int mode) {
    return [=](auto s, auto i, auto o) { return AdjustDIB(s, i, o, int16_t(v), uint16_t(mode)); };
}
Op Rgb(int r, int g, int b) {
    return [=](auto s, auto i, auto o) {
        return AdjustRGBDIB(s, i, o, int16_t(r), int16_t(g), int16_t(b));
    };
}
Op Hls(int h, int sat, int l) {
    return [=](auto s, auto i, auto o) {
        return AdjustHLSDIB(s, i, o, int16_t(h), int16_t(sat), int16_t(l));
    };
}
Op Hms(int h, int m, int sh) {
    return [=](auto s, auto i, auto o) {
        return AdjustHMSDIB(s, i, o, int16_t(h), int16_t(m), int16_t(sh), 0);
    };
}
Op Gamma(float r, float g, float b) {
    return [=](auto s, auto i, auto o) { return GammaDIB(s, i, o, r, g, b); };
}
Op Colorize(int h, int sat) {
    return [=](auto s, auto i, auto o) { return ColorizeDIB(s, i, o, int16_t(h), int16_t(sat)); };
}

// ---- Against the references on random images ----

struct OpCase {
    const char* name;
    Op op;
    ColourFn ref;
    bool greyAware;
};

const OpCase kOps[] = {
    {"Brightness37", Brightness(37), Each([](int v) { return RefBrightness(v, 37); }), true},
    {"BrightnessMinus64", Curve(-64, 2), Each([](int v) { return RefBrightness(v, -64); }), true},
    {"Contrast45", Contrast(45), Each([](int v) { return RefContrast(v, 45); }), true},
    {"ContrastMinus73", Curve(-73, 3), Each([](int v) { return RefContrast(v, -73); }), true},
    {"Contrast0", Contrast(0), Each([](int v) { return RefContrast(v, 0); }), true},
    {"Solarize100", Curve(100, 4), Each([](int v) { return RefSolarize(v, 100); }), true},
    {"Rgb", Rgb(50, -50, 13),
     Channels([](int v) { return RefPercent(v, 50); }, [](int v) { return RefPercent(v, -50); },
              [](int v) { return RefPercent(v, 13); }),
     false},
    {"Hls", Hls(37, -20, 15), [](const Colour& c) { return RefHlsAdjust(c, 37, -20, 15); }, false},
    {"HlsExtremes", Hls(-100, 100, -61),
     [](const Colour& c) { return RefHlsAdjust(c, -100, 100, -61); }, false},
    {"Hms", Hms(80, 30, 20), Each([](int v) { return RefHms(v, 80, 30, 20); }), true},
    {"Gamma", Gamma(2.2f, 1.0f, 0.45f),
     Channels([](int v) { return RefGamma(v, 2.2f); }, [](int v) { return RefGamma(v, 1.0f); },
              [](int v) { return RefGamma(v, 0.45f); }),
     true},
    {"GammaSmallAndHuge", Gamma(0.0001f, 0.03f, 3e38f),
     Channels([](int v) { return RefGamma(v, 0.0001f); }, [](int v) { return RefGamma(v, 0.03f); },
              [](int v) { return RefGamma(v, 3e38f); }),
     true},
    {"Colorize", Colorize(200, 128), [](const Colour& c) { return RefColorize(c, 200, 128); },
     false},
};

std::string OpName(const testing::TestParamInfo<std::tuple<OpCase, Kind>>& p) {
    return std::string(std::get<0>(p.param).name) + "_" + KindName(std::get<1>(p.param));
}

class AdjustOp : public testing::TestWithParam<std::tuple<OpCase, Kind>> {};

TEST_P(AdjustOp, MatchesPlainFormulasOnRandomImages) {
    const auto& [c, kind] = GetParam();
    for (bool four : kBothBuilds)
        for (const Size& size : kSizes) {
            FourLanes lanes(four);
            SCOPED_TRACE(BuildName(four));
            LeakCheck leaks;
            KOwnedHandle src(RandomSource(size.w, size.h, kind, uint32_t(size.w * 31 + size.h)));
            const auto before = BlockBytes(src.get());
            KHANDLE out = nullptr;
            ASSERT_EQ(c.op(nullptr, src.get(), &out), 0) << size.w << "x" << size.h;
            KOwnedHandle owner(out);
            EXPECT_EQ(
                FirstDifference(BlockBytes(out), ExpectedBlock(src.get(), c.ref, c.greyAware)), "")
                << size.w << "x" << size.h;
            EXPECT_EQ(BlockBytes(src.get()), before) << "source changed";
        }
}

TEST_P(AdjustOp, ProgressCountsRowsOrPaletteEntries) {
    const auto& [c, kind] = GetParam();
    KOwnedHandle src(RandomSource(7, 3, kind, 5));
    const bool rows = kind == Kind::True24 || (kind == Kind::Grey8 && c.greyAware);
    EXPECT_EQ(RecordProgress(BindSource(c.op, src.get())),
              UnitProgress(rows ? 3 : 1 << BitsOf(kind)));
}

TEST_P(AdjustOp, StopAtEveryProgressPointKeepsNothing) {
    const auto& [c, kind] = GetParam();
    KOwnedHandle src(RandomSource(7, 3, kind, 6));
    EXPECT_GE(SweepStops(src.get(), BindSource(c.op, src.get())), 2);
}

TEST_P(AdjustOp, EveryAllocationFailureIsCleanedUp) {
    const auto& [c, kind] = GetParam();
    KOwnedHandle src(RandomSource(9, 4, kind, 7));
    EXPECT_GT(SweepAllocationFailures(src.get(),
                                      [&](KHANDLE* out) { return c.op(nullptr, src.get(), out); }),
              0);
}

INSTANTIATE_TEST_SUITE_P(AllDepths, AdjustOp,
                         testing::Combine(testing::ValuesIn(kOps), testing::ValuesIn(kAllKinds)),
                         OpName);

// ---- Hand-worked colours ----

struct Example {
    const char* name;
    Op op;
    Colour in, out;
    bool greyAware;
};

// clang-format off
const Example kExamples[] = {
    {"Brightness100IsWhite", Brightness(100), {10, 128, 0}, {255, 255, 255}, true},
    {"BrightnessMinus100IsBlack", Brightness(-100), {10, 128, 255}, {0, 0, 0}, true},
    {"Brightness50AddsA127", Brightness(50), {100, 0, 200}, {227, 127, 255}, true},
    {"Brightness32767", Brightness(32767), {0, 1, 2}, {255, 255, 255}, true},
    {"BrightnessMinus32768", Brightness(-32768), {255, 254, 253}, {0, 0, 0}, true},
    {"BrightnessThroughTheToneCurve", Curve(-20, 2), {51, 50, 255}, {0, 0, 204}, true},
    {"Contrast100SplitsAt128", Contrast(100), {127, 128, 0}, {0, 255, 0}, true},
    {"Contrast32767IsContrast100", Contrast(32767), {127, 128, 255}, {0, 255, 255}, true},
    {"ContrastMinus100Is128", Contrast(-100), {0, 77, 255}, {128, 128, 128}, true},
    {"ContrastMinus32768Is128", Contrast(-32768), {0, 200, 255}, {128, 128, 128}, true},
    {"Contrast0SubtractsOne", Contrast(0), {1, 128, 254}, {0, 127, 253}, true},
    {"Contrast0KeepsEnds", Contrast(0), {0, 255, 100}, {0, 255, 99}, true},
    // c = 63, slope 255 / 129: 100 -> int(36 x 1.9767) = 71, 191 -> int(127 x 1.9767) = 251.
    {"Contrast50", Curve(50, 3), {63, 100, 191}, {0, 71, 251}, true},
    {"Contrast50Top", Curve(50, 3), {64, 65, 192}, {0, 1, 255}, true},
    {"Solarize255ChangesNothing", Curve(255, 4), {0, 128, 255}, {0, 128, 255}, true},
    {"Solarize0InvertsAbove0", Curve(0, 4), {0, 1, 255}, {0, 254, 0}, true},
    {"Solarize100", Curve(100, 4), {100, 101, 200}, {100, 154, 55}, true},
    {"SolarizeMinus32768InvertsAll", Curve(-32768, 4), {0, 1, 255}, {255, 254, 0}, true},
    {"Solarize32767ChangesNothing", Curve(32767, 4), {0, 1, 255}, {0, 1, 255}, true},
    {"RedPlus50On200", Rgb(50, -50, 0), {200, 101, 77}, {255, 51, 77}, false},
    {"RgbFullRange", Rgb(100, -100, -33), {100, 100, 100}, {200, 0, 67}, false},
    // Red is H 0, S 255, L 128, and comes back as m2 = 255, m1 = 1 after any
    // turn that wraps to the same hue.
    {"HueZeroOnRed", Hls(0, 0, 0), {255, 0, 0}, {255, 1, 1}, false},
    {"HuePlus100WrapsToRed", Hls(100, 0, 0), {255, 0, 0}, {255, 1, 1}, false},
    {"HueMinus100WrapsToRed", Hls(-100, 0, 0), {255, 0, 0}, {255, 1, 1}, false},
    // +84 steps from red: red angle 2704 -> 16 + 95 sixteenths -> 7.
    {"HuePlus33TurnsRedToGreen", Hls(33, 0, 0), {255, 0, 0}, {7, 255, 1}, false},
    {"SaturationMinus100IsGreyOfLightness", Hls(0, -100, 0), {200, 100, 50}, {125, 125, 125}, false},
    {"LightnessMinus100IsBlack", Hls(0, 0, -100), {200, 100, 50}, {0, 0, 0}, false},
    // H 14, S 153, L 125 and back: m2 = 200, m1 = 50, green 800 + 790 -> 99.
    {"HlsZeroRoundTrip", Hls(0, 0, 0), {200, 100, 50}, {200, 99, 50}, false},
    {"HmsNeutralIsIdentity", Hms(100, 50, 0), {0, 97, 254}, {0, 97, 254}, true},
    // t = 127: 50 -> 12800 / 127 = 100; 127 and up -> 255.
    {"Highlight50", Hms(50, 50, 0), {50, 127, 200}, {100, 255, 255}, true},
    {"Midtone80Moves97To159", Hms(100, 80, 0), {96, 97, 159}, {96, 127, 189}, true},
    // s = 51: 50 -> 0, 100 -> 49 x 256 / 205 = 61, 254 -> 253.
    {"Shadow20", Hms(100, 50, 20), {50, 100, 254}, {0, 61, 253}, true},
    {"Shadow20Keeps255", Hms(100, 50, 20), {0, 255, 51}, {0, 255, 0}, true},
    {"Highlight0IsWhiteAbove0", Hms(0, 50, 0), {0, 1, 128}, {0, 255, 255}, true},
    {"HighlightMinus32768", Hms(-32768, 50, 0), {0, 1, 255}, {0, 255, 255}, true},
    {"Highlight32767IsBlack", Hms(32767, 50, 0), {0, 128, 255}, {0, 0, 0}, true},
    {"Midtone32767", Hms(100, 32767, 0), {96, 97, 159}, {96, 255, 255}, true},
    {"MidtoneMinus32768", Hms(100, -32768, 0), {96, 97, 160}, {96, 0, 160}, true},
    {"Shadow32767KeepsOnly255", Hms(100, 50, 32767), {1, 254, 255}, {0, 0, 255}, true},
    {"ShadowMinus32768", Hms(100, 50, -32768), {0, 1, 254}, {0, 255, 255}, true},
    {"Gamma1IsIdentity", Gamma(1.0f, 1.0f, 1.0f), {0, 128, 255}, {0, 128, 255}, true},
    {"Gamma22Maps128To186", Gamma(2.2f, 2.2f, 2.2f), {128, 0, 255}, {186, 0, 255}, true},
    // 0.5: e = 2, 128^2 / 255 = 64.25.
    {"GammaPerChannel", Gamma(2.2f, 1.0f, 0.5f), {128, 128, 128}, {186, 128, 64}, true},
    {"Gamma00001", Gamma(0.0001f, 0.0001f, 0.0001f), {0, 254, 255}, {0, 0, 255}, true},
    {"GammaHuge", Gamma(3e38f, 3e38f, 3e38f), {0, 1, 128}, {0, 255, 255}, true},
    {"ColorizeKeepsBlack", Colorize(77, 255), {0, 0, 0}, {0, 0, 0}, false},
    {"ColorizeKeepsWhite", Colorize(200, 255), {255, 255, 255}, {255, 255, 255}, false},
    // L 128: m2 = 255, m1 = 1.
    {"ColorizeRedFullSaturation", Colorize(0, 255), {128, 128, 128}, {255, 1, 1}, false},
    {"ColorizeSaturation0IsGrey", Colorize(90, 0), {200, 100, 50}, {125, 125, 125}, false},
};
// clang-format on

struct ExampleAt {
    Example e;
    Kind kind;
};

// Greyscale images only carry greys.
std::vector<ExampleAt> ExamplesAtEveryDepth() {
    std::vector<ExampleAt> all;
    for (const Example& e : kExamples)
        for (Kind k : kAllKinds)
            if (k != Kind::Grey8 || (e.in.r == e.in.g && e.in.g == e.in.b)) all.push_back({e, k});
    return all;
}

class AdjustExample : public testing::TestWithParam<ExampleAt> {};

TEST_P(AdjustExample, GivesTheWorkedColour) {
    const Example& e = GetParam().e;
    const Kind kind = GetParam().kind;
    LeakCheck leaks;
    KOwnedHandle src(OneColourSource(kind, e.in));
    KHANDLE out = nullptr;
    ASSERT_EQ(e.op(nullptr, src.get(), &out), 0);
    KOwnedHandle owner(out);
    DIBLock s(src.get()), d(out);
    ASSERT_TRUE(d);
    if (kind == Kind::True24) {
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                const uint32_t v = PixelAt(out, x, y);
                EXPECT_EQ((Colour{int(v >> 16), int(v >> 8 & 255), int(v & 255)}), e.out);
            }
        return;
    }
    const uint32_t stride = s.stride(), rows = uint32_t(s.height());
    const bool pixelsChange = kind == Kind::Grey8 && e.greyAware;
    if (pixelsChange) { // through the red table
        EXPECT_EQ(PixelAt(out, 4, 2), uint32_t(e.out.r));
        EXPECT_TRUE(GreyRamp(d.header()));
        return;
    }
    EXPECT_EQ(std::memcmp(s.bits(), d.bits(), size_t(stride) * rows), 0) << "pixels untouched";
    const RGBQUAD q = d.palette()[kind == Kind::Grey8 ? e.in.r : 1];
    EXPECT_EQ((Colour{q.rgbRed, q.rgbGreen, q.rgbBlue}), e.out);
    const bool keepsReserved = std::string(e.name) == "HmsNeutralIsIdentity";
    for (uint32_t i = 0; i < DIBPaletteEntries(d.header()); ++i)
        EXPECT_EQ(d.palette()[i].rgbReserved, keepsReserved ? s.palette()[i].rgbReserved : 0)
            << "entry " << i;
}

INSTANTIATE_TEST_SUITE_P(AllDepths, AdjustExample, testing::ValuesIn(ExamplesAtEveryDepth()),
                         [](const testing::TestParamInfo<ExampleAt>& p) {
                             return std::string(p.param.e.name) + "_" + KindName(p.param.kind);
                         });

// ---- The hue model ----

TEST(HueModel, WorkedColours) {
    struct Case {
        Colour rgb;
        HLS hls;
    };
    // (255, 0, 100): ((-100 x 15360 / 4080) + 5760) x 51 / 72 = 3813 -> 238.
    // (100, 200, 50): -50 x 10880 / 2400 = -226, + 1360 = 1134 -> 71.
    const Case cases[] = {{{255, 0, 0}, {0, 255, 128}},     {{0, 255, 0}, {85, 255, 128}},
                          {{0, 0, 255}, {170, 255, 128}},   {{77, 77, 77}, {0, 0, 77}},
                          {{200, 100, 50}, {14, 153, 125}}, {{255, 0, 100}, {238, 255, 128}},
                          {{200, 180, 160}, {21, 68, 180}}, {{100, 200, 50}, {71, 153, 125}},
                          {{50, 100, 200}, {156, 153, 125}}};
    for (const Case& c : cases) {
        uint8_t h, s, l;
        RGBToHLS(uint8_t(c.rgb.r), uint8_t(c.rgb.g), uint8_t(c.rgb.b), &h, &s, &l);
        EXPECT_EQ((HLS{h, s, l}), c.hls) << c.rgb;
    }
    uint8_t r, g, b;
    HLSToRGB(84, 255, 128, &r, &g, &b);
    EXPECT_EQ((Colour{r, g, b}), (Colour{7, 255, 1}));
    HLSToRGB(14, 153, 125, &r, &g, &b);
    EXPECT_EQ((Colour{r, g, b}), (Colour{200, 99, 50}));
    HLSToRGB(33, 0, 77, &r, &g, &b);
    EXPECT_EQ((Colour{r, g, b}), (Colour{77, 77, 77}));
}

TEST(HueModel, RGBToHLSMatchesTheFormulasForEveryColour) {
    int wrong = 0;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b) {
                uint8_t h, s, l;
                RGBToHLS(uint8_t(r), uint8_t(g), uint8_t(b), &h, &s, &l);
                if (!(HLS{h, s, l} == RefRGBToHLS(r, g, b)) && ++wrong < 5)
                    ADD_FAILURE() << Colour{r, g, b};
            }
    EXPECT_EQ(wrong, 0);
}

TEST(HueModel, HLSToRGBMatchesTheFormulasForEveryTriple) {
    int wrong = 0;
    for (int H = 0; H < 256; ++H)
        for (int S = 0; S < 256; ++S)
            for (int L = 0; L < 256; ++L) {
                uint8_t r, g, b;
                HLSToRGB(uint8_t(H), uint8_t(S), uint8_t(L), &r, &g, &b);
                if (!(Colour{r, g, b} == RefHLSToRGB(H, S, L)) && ++wrong < 5)
                    ADD_FAILURE() << H << " " << S << " " << L;
            }
    EXPECT_EQ(wrong, 0);
}

// The image path of the hue operations, exhaustively: a 4096 x 4096 image
// holding every colour once, through either build of the kernels.
class HueImagePath : public testing::TestWithParam<bool> {};

TEST_P(HueImagePath, MatchesTheFormulasForEveryColour) {
    FourLanes lanes(GetParam());
    KOwnedHandle src(AllocDIB(4096, 4096, 24, 0));
    ASSERT_TRUE(src);
    {
        DIBLock d(src.get());
        for (int r = 0; r < 4096; ++r)
            for (int x = 0; x < 4096; ++x) {
                const uint32_t c = uint32_t(r) * 4096 + uint32_t(x);
                std::memcpy(d.row(r) + 3 * x, &c, 3);
            }
    }
    struct Case {
        const char* name;
        Op op;
        ColourFn ref;
    };
    const Case cases[] = {
        {"round trip", Hls(0, 0, 0), [](const Colour& c) { return RefHlsAdjust(c, 0, 0, 0); }},
        {"adjusted", Hls(-37, 20, -15),
         [](const Colour& c) { return RefHlsAdjust(c, -37, 20, -15); }},
        {"colorized", Colorize(250, 99), [](const Colour& c) { return RefColorize(c, 250, 99); }},
    };
    for (const Case& c : cases) {
        KHANDLE out = nullptr;
        ASSERT_EQ(c.op(nullptr, src.get(), &out), 0);
        KOwnedHandle owner(out);
        EXPECT_EQ(FirstDifference(BlockBytes(out), ExpectedBlock(src.get(), c.ref, false)), "")
            << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Builds, HueImagePath, testing::ValuesIn(kBothBuilds),
                         [](const testing::TestParamInfo<bool>& p) {
                             return std::string(p.param ? "FourLanes" : "WidestLanes");
                         });

// ---- Contract ----

// Out-of-range values, each parameter alone at the edges of its range and of
// 16 bits.
TEST(AdjustContract, RefusalsAllocateNothing) {
    struct Case {
        std::string name;
        Op op;
    };
    std::vector<Case> cases = {
        {"brightness mode 0",
         [](auto s, auto i, auto o) { return AdjustBrightnessContrast(s, i, o, 10, 0); }},
        {"brightness mode 4",
         [](auto s, auto i, auto o) { return AdjustBrightnessContrast(s, i, o, 10, 4); }},
        {"tone curve mode 5", Curve(10, 5)},
        {"tone curve mode 65535", Curve(10, 65535)},
        {"gamma 0", Gamma(0.0f, 1.0f, 1.0f)},
        {"gamma 0.0000999", Gamma(1.0f, 0.0000999f, 1.0f)},
        {"gamma -2", Gamma(1.0f, 1.0f, -2.0f)},
        {"gamma lowest", Gamma(1.0f, 1.0f, std::numeric_limits<float>::lowest())},
        {"gamma NaN", Gamma(std::numeric_limits<float>::quiet_NaN(), 1.0f, 1.0f)},
        {"gamma infinite", Gamma(1.0f, std::numeric_limits<float>::infinity(), 1.0f)},
    };
    for (int v : {-32768, -101, 101, 32767})
        for (int k = 0; k < 3; ++k) {
            const int p[3] = {k == 0 ? v : 0, k == 1 ? v : 0, k == 2 ? v : 0};
            const std::string at = " parameter " + std::to_string(k) + " = " + std::to_string(v);
            cases.push_back({"rgb" + at, Rgb(p[0], p[1], p[2])});
            cases.push_back({"hls" + at, Hls(p[0], p[1], p[2])});
        }
    for (int v : {-32768, -1, 256, 32767}) {
        cases.push_back({"colorize hue " + std::to_string(v), Colorize(v, 0)});
        cases.push_back({"colorize saturation " + std::to_string(v), Colorize(0, v)});
    }
    KOwnedHandle src(RandomSource(7, 3, Kind::True24, 1));
    StoppingStatus silent(1000);
    for (const Case& c : cases)
        ExpectRefused([&](KHANDLE* out) { return c.op(&silent.block, src.get(), out); }, 101,
                      c.name);
    EXPECT_EQ(silent.calls, 0) << "no progress before the checks";
}

TEST(AdjustContract, NullHandlesAndUnusableBlocks) {
    KOwnedHandle packed(RandomSource(4, 4, Kind::Palette8, 2));
    DIBLock(packed.get())->biCompression = 1;
    KOwnedHandle depth16(RandomSource(4, 4, Kind::True24, 2));
    DIBLock(depth16.get())->biBitCount = 16;
    KOwnedHandle tiny(KML_GlobalAlloc(KMEM_GHND, 20));
    for (const OpCase& c : kOps) {
        LeakCheck leaks;
        EXPECT_EQ(c.op(nullptr, packed.get(), nullptr), 101) << c.name;
        for (KHANDLE bad : {KHANDLE{nullptr}, packed.get(), depth16.get(), tiny.get()})
            ExpectRefused([&](KHANDLE* out) { return c.op(nullptr, bad, out); }, 101, c.name);
    }
}

// The neutral highlight/midtone/shadow is a plain copy: reserved bytes and
// all, at every depth.
TEST(AdjustContract, NeutralHighlightMidtoneShadowIsAPlainCopy) {
    for (Kind kind : kAllKinds) {
        LeakCheck leaks;
        KOwnedHandle src(RandomSource(13, 5, kind, 3));
        KHANDLE out = nullptr;
        ASSERT_EQ(AdjustHMSDIB(nullptr, src.get(), &out, 100, 50, 0, 12345), 0);
        KOwnedHandle owner(out);
        EXPECT_NE(out, src.get());
        EXPECT_EQ(BlockBytes(out), BlockBytes(src.get())) << KindName(kind);
        EXPECT_EQ(SweepAllocationFailures(src.get(),
                                          [&](KHANDLE* o) {
                                              return AdjustHMSDIB(nullptr, src.get(), o, 100, 50, 0,
                                                                  0);
                                          }),
                  1);
    }
}

} // namespace
