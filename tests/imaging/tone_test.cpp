// Tonal operations: greyscale, equalize, stretch and posterize, against
// worked values and plain-formula references, with the operations' contract.
#include "imaging/tone.h"
#include "tests/imaging/colour_test_util.h"

using namespace colour_test;

namespace {

// ---- References, straight from the formulas ----

int RefGrey(const Colour& c) {
    return (11 * c.b + 59 * c.g + 30 * c.r) / 100;
}

int RefPosterize(int i, int n) {
    const int v = i & (0xFF << (8 - n)) & 0xFF;
    int out = 0;
    for (int k = 0; k * n < 8; ++k)
        out += v >> (k * n);
    return out;
}

int Luminance(const Colour& c) {
    return (306 * c.r + 601 * c.g + 117 * c.b) >> 10;
}

// The pixel rebuilt from a new luminance with its own chroma.
Colour WithLuminance(const Colour& c, int y) {
    const int u = (512 * c.b - 339 * c.g - 173 * c.r) >> 10;
    const int v = (512 * c.r - 429 * c.g - 83 * c.b) >> 10;
    return {Clamp(y + ((v * 1400) >> 10)), Clamp(y - ((v * 714) >> 10) - ((u * 348) >> 10)),
            Clamp(y + ((u * 1770) >> 10))};
}

// Every value of the image (pixel values, or luminances at 24 bits).
std::vector<int> Values(KHANDLE h) {
    std::vector<int> values;
    DIBLock d(h);
    for (int y = 0; y < d.height(); ++y)
        for (int x = 0; x < d.width(); ++x) {
            const uint32_t p = PixelAt(h, x, y);
            values.push_back(d.bitCount() == 24
                                 ? Luminance({int(p >> 16), int(p >> 8 & 255), int(p & 255)})
                                 : int(p));
        }
    return values;
}

ColourFn RefEqualize(KHANDLE src) {
    const std::vector<int> values = Values(src);
    return [values](const Colour& c) {
        const int y = Luminance(c);
        const auto atOrBelow =
            std::count_if(values.begin(), values.end(), [&](int v) { return v <= y; });
        return WithLuminance(c, int(int64_t(atOrBelow) * 255 / int64_t(values.size())));
    };
}

ColourFn RefStretch(KHANDLE src) {
    const std::vector<int> values = Values(src);
    const int min = *std::min_element(values.begin(), values.end());
    const int max = *std::max_element(values.begin(), values.end());
    return [=](const Colour& c) {
        const double k = max > min ? 255.0 / (max - min) : 1.0;
        const double y = (Luminance(c) - min) * k;
        return WithLuminance(c, y < 0 ? 0 : y > 255 ? 255 : int(y));
    };
}

// A source whose values lie in lo..hi: 24-bit bytes or greyscale pixel values.
KHANDLE Narrow(int w, int h, Kind kind, uint32_t seed, int lo, int hi) {
    KHANDLE s = RandomSource(w, h, kind, seed);
    DIBLock d(s);
    for (size_t i = 0; i < d->biSizeImage; ++i)
        d.bits()[i] = uint8_t(lo + d.bits()[i] % (hi - lo + 1));
    return s;
}

// ---- Equalize, stretch and posterize against the references ----

Op Equalize() {
    return [](auto s, auto i, auto o) { return EqualizeDIB(s, i, o, nullptr); };
}
Op Stretch() {
    return [](auto s, auto i, auto o) { return StretchDIB(s, i, o, nullptr); };
}

TEST(Levels, EqualizeAndStretchMatchTheReferenceOnRandomImages) {
    for (bool four : kBothBuilds)
        for (Kind kind : {Kind::True24, Kind::Grey8})
            for (const Size& size : kSizes)
                for (const auto& [lo, hi] :
                     {std::pair{0, 255}, std::pair{50, 200}, std::pair{90, 91}}) {
                    FourLanes lanes(four);
                    LeakCheck leaks;
                    KOwnedHandle src(Narrow(size.w, size.h, kind, uint32_t(size.w + lo), lo, hi));
                    const std::string where = BuildName(four) + ", " + KindName(kind) + " " +
                                              std::to_string(size.w) + "x" +
                                              std::to_string(size.h) + " values " +
                                              std::to_string(lo) + ".." + std::to_string(hi);
                    for (const auto& [name, op, ref] :
                         {std::tuple{"equalize", Equalize(), RefEqualize(src.get())},
                          std::tuple{"stretch", Stretch(), RefStretch(src.get())}}) {
                        KHANDLE out = nullptr;
                        ASSERT_EQ(op(nullptr, src.get(), &out), 0) << name << ", " << where;
                        KOwnedHandle owner(out);
                        EXPECT_EQ(
                            FirstDifference(BlockBytes(out), ExpectedBlock(src.get(), ref, true)),
                            "")
                            << name << ", " << where;
                    }
                }
}

TEST(Levels, WorkedValues) {
    struct Case {
        const char* name;
        Op op;
        Kind kind;
        std::vector<uint32_t> in, out; // pixels of one row: grey values or 0xRRGGBB
    };
    const Case cases[] = {
        {"equalize counts at or below",
         Equalize(),
         Kind::Grey8,
         {0, 0, 100, 200},
         {127, 127, 191, 255}},
        {"equalize one grey value", Equalize(), Kind::Grey8, {77, 77, 77}, {255, 255, 255}},
        {"equalize one 24-bit grey",
         Equalize(),
         Kind::True24,
         {0x4D4D4D, 0x4D4D4D},
         {0xFFFFFF, 0xFFFFFF}},
        // Y 76, U -44, V 127: blue 255 - 77, green 255 - 88 + 15, red 255 + 173.
        {"equalize pure red", Equalize(), Kind::True24, {0xFF0000}, {0xFFB6B2}},
        {"stretch 50..200", Stretch(), Kind::Grey8, {50, 125, 200}, {0, 127, 255}},
        {"stretch one value", Stretch(), Kind::Grey8, {90, 90}, {0, 0}},
        {"stretch pure red", Stretch(), Kind::True24, {0xFF0000}, {0xAD0000}},
    };
    for (const Case& c : cases) {
        LeakCheck leaks;
        KOwnedHandle src(RandomSource(int(c.in.size()), 1, c.kind, 4));
        for (size_t x = 0; x < c.in.size(); ++x)
            SetPixel(src.get(), int(x), 0, c.in[x]);
        KHANDLE out = nullptr;
        ASSERT_EQ(c.op(nullptr, src.get(), &out), 0) << c.name;
        KOwnedHandle owner(out);
        for (size_t x = 0; x < c.in.size(); ++x)
            EXPECT_EQ(PixelAt(out, int(x), 0), c.out[x]) << c.name << ", pixel " << x;
    }
}

TEST(Levels, TrueColourGreysStayGrey) {
    KOwnedHandle src(RandomSource(37, 11, Kind::True24, 8));
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 37; ++x)
            SetPixel(src.get(), x, y, (PixelAt(src.get(), x, y) & 0xFF) * 0x010101);
    for (const Op& op : {Equalize(), Stretch()}) {
        KHANDLE out = nullptr;
        ASSERT_EQ(op(nullptr, src.get(), &out), 0);
        KOwnedHandle owner(out);
        int coloured = 0;
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 37; ++x)
                coloured += PixelAt(out, x, y) % 0x010101 != 0;
        EXPECT_EQ(coloured, 0);
    }
}

TEST(Levels, OnlyTrueColourAndGreyscaleBeforeAnyAllocation) {
    for (Kind kind : {Kind::Palette8, Kind::Palette4, Kind::Palette1})
        for (const Op& op : {Equalize(), Stretch()}) {
            KOwnedHandle src(RandomSource(5, 5, kind, 1));
            StoppingStatus silent(1000);
            ExpectRefused([&](KHANDLE* out) { return op(&silent.block, src.get(), out); }, -5031,
                          KindName(kind));
            EXPECT_EQ(silent.calls, 0);
        }
}

TEST(Posterize, MatchesTheReferenceForEveryBitCount) {
    for (int n = 1; n <= 8; ++n)
        for (Kind kind : kAllKinds)
            for (const Size& size : kSizes) {
                KOwnedHandle src(RandomSource(size.w, size.h, kind, uint32_t(n * 7 + size.h)));
                KHANDLE out = nullptr;
                ASSERT_EQ(PosterizeDIB(nullptr, src.get(), &out, int16_t(n)), 0);
                KOwnedHandle owner(out);
                const ColourFn ref = [n](const Colour& c) {
                    return Colour{RefPosterize(c.r, n), RefPosterize(c.g, n), RefPosterize(c.b, n)};
                };
                EXPECT_EQ(FirstDifference(BlockBytes(out), ExpectedBlock(src.get(), ref, true)), "")
                    << n << " bits, " << KindName(kind) << " " << size.w << "x" << size.h;
            }
}

TEST(Posterize, WorkedValues) {
    struct Case {
        int n, in, out;
    };
    // 100 = 011 00100: 011 011 01 = 109.
    for (const Case& c : {Case{3, 100, 109}, Case{3, 255, 255}, Case{8, 100, 100}, Case{8, 1, 1},
                          Case{1, 127, 0}, Case{1, 128, 255}, Case{2, 64, 85}, Case{2, 128, 170},
                          Case{2, 192, 255}, Case{7, 3, 2}, Case{7, 255, 255}}) {
        for (Kind kind : kAllKinds) {
            KOwnedHandle src(OneColourSource(kind, {c.in, c.in, c.in}));
            KHANDLE out = nullptr;
            ASSERT_EQ(PosterizeDIB(nullptr, src.get(), &out, int16_t(c.n)), 0);
            KOwnedHandle owner(out);
            const uint32_t p = PixelAt(out, 2, 1);
            DIBLock d(out);
            const uint32_t got = kind == Kind::True24  ? p >> 16
                                 : kind == Kind::Grey8 ? p
                                                       : d.palette()[p].rgbRed;
            EXPECT_EQ(got, uint32_t(c.out)) << c.n << " bits on " << c.in << ", " << KindName(kind);
        }
    }
    KOwnedHandle src(RandomSource(3, 3, Kind::True24, 1));
    for (int n : {0, 9, -1, 32767, -32768})
        ExpectRefused(
            [&](KHANDLE* out) { return PosterizeDIB(nullptr, src.get(), out, int16_t(n)); }, 101,
            std::to_string(n));
}

// ---- Greyscale ----

// What the source pixel at (x, y) shows.
Colour ColourAt(KHANDLE h, int x, int y) {
    const uint32_t p = PixelAt(h, x, y);
    DIBLock d(h);
    if (d.bitCount() == 24) return {int(p >> 16), int(p >> 8 & 255), int(p & 255)};
    const RGBQUAD q = d.palette()[p];
    return {q.rgbRed, q.rgbGreen, q.rgbBlue};
}

void ExpectGreyOf(KHANDLE src, KHANDLE out, const std::string& where) {
    DIBLock s(src), d(out);
    ASSERT_TRUE(d) << where;
    EXPECT_EQ(d.bitCount(), 8) << where;
    EXPECT_TRUE(GreyRamp(d.header())) << where;
    EXPECT_EQ(d.width(), s.width()) << where;
    EXPECT_EQ(d.height(), s.height()) << where;
    EXPECT_EQ(d->biXPelsPerMeter, s->biXPelsPerMeter) << where;
    EXPECT_EQ(d->biSizeImage, d.stride() * uint32_t(d.height())) << where;
    int wrong = 0;
    for (int y = 0; y < s.height(); ++y)
        for (int x = 0; x < s.width(); ++x)
            wrong += PixelAt(out, x, y) != uint32_t(RefGrey(ColourAt(src, x, y)));
    EXPECT_EQ(wrong, 0) << where;
}

TEST(Greyscale, EveryDepthMatchesTheReference) {
    for (Kind kind : kAllKinds)
        for (const Size& size : kSizes) {
            LeakCheck leaks;
            KOwnedHandle src(RandomSource(size.w, size.h, kind, uint32_t(size.w * 3 + size.h)));
            const auto before = BlockBytes(src.get());
            KHANDLE out = nullptr;
            ASSERT_EQ(GreyscaleDIB(nullptr, src.get(), &out), 0);
            KOwnedHandle owner(out);
            ExpectGreyOf(src.get(), out,
                         KindName(kind) + " " + std::to_string(size.w) + "x" +
                             std::to_string(size.h));
            EXPECT_EQ(BlockBytes(src.get()), before);
        }
}

// An 8-bit image with 16 palette entries: the result grows to the grey ramp.
TEST(Greyscale, ShortPaletteGrowsToTheRamp) {
    KOwnedHandle src(AllocDIB(11, 6, 8, 16));
    {
        DIBLock d(src.get());
        std::mt19937 rng(3);
        for (uint32_t i = 0; i < 16; ++i)
            d.palette()[i] = RGBQUAD{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
        for (int r = 0; r < 6; ++r)
            for (int x = 0; x < 11; ++x)
                d.row(r)[x] = uint8_t(rng() % 16);
    }
    KHANDLE out = nullptr;
    ASSERT_EQ(GreyscaleDIB(nullptr, src.get(), &out), 0);
    KOwnedHandle owner(out);
    ExpectGreyOf(src.get(), out, "16 entries");
    EXPECT_EQ(SweepAllocationFailures(
                  src.get(), [&](KHANDLE* o) { return GreyscaleDIB(nullptr, src.get(), o); }),
              2)
        << "the copy and the larger palette";
}

TEST(Greyscale, WorkedColours) {
    struct Case {
        Colour in;
        int grey;
    };
    for (const Case& c : {Case{{255, 0, 0}, 76}, Case{{255, 255, 255}, 255}, Case{{0, 0, 255}, 28},
                          Case{{0, 255, 0}, 150}, Case{{200, 100, 50}, 124}, Case{{0, 0, 0}, 0}})
        for (Kind kind : {Kind::True24, Kind::Palette8, Kind::Palette4, Kind::Palette1}) {
            KOwnedHandle src(OneColourSource(kind, c.in));
            KHANDLE out = nullptr;
            ASSERT_EQ(GreyscaleDIB(nullptr, src.get(), &out), 0);
            KOwnedHandle owner(out);
            EXPECT_TRUE(IsDIBGreyScaled(out));
            EXPECT_EQ(PixelAt(out, 4, 2), uint32_t(c.grey)) << c.in << ", " << KindName(kind);
        }
}

// ---- Contract, every operation at every depth it takes ----

struct ToneOp {
    const char* name;
    Op op;
    bool levels; // equalize or stretch: 24-bit and greyscale only
};
const ToneOp kToneOps[] = {
    {"Greyscale", [](auto s, auto i, auto o) { return GreyscaleDIB(s, i, o); }, false},
    {"Equalize", Equalize(), true},
    {"Stretch", Stretch(), true},
    {"Posterize3", [](auto s, auto i, auto o) { return PosterizeDIB(s, i, o, 3); }, false},
};

struct ToneOpAt {
    ToneOp op;
    Kind kind;
};
std::vector<ToneOpAt> ToneOpsAtTheirDepths() {
    std::vector<ToneOpAt> all;
    for (const ToneOp& op : kToneOps)
        for (Kind k : kAllKinds)
            if (!op.levels || k == Kind::True24 || k == Kind::Grey8) all.push_back({op, k});
    return all;
}

class ToneContract : public testing::TestWithParam<ToneOpAt> {};

TEST_P(ToneContract, ProgressUnits) {
    const auto& [c, kind] = GetParam();
    KOwnedHandle src(RandomSource(7, 3, kind, 5));
    // Rows, twice for the two passes of the levels; palette entries for
    // greyscale of an 8-bit image, after the raise to 8 bits (3 rows) below 8.
    Progress want;
    auto run = [&](int units) {
        const Progress one = UnitProgress(units);
        want.insert(want.end(), one.begin(), one.end());
    };
    if (c.levels) {
        run(6);
    } else if (c.name == std::string("Greyscale")) {
        if (BitsOf(kind) < 8) run(3);
        run(kind == Kind::True24 ? 3 : 256);
    } else {
        run(kind == Kind::True24 || kind == Kind::Grey8 ? 3 : 1 << BitsOf(kind));
    }
    EXPECT_EQ(RecordProgress(BindSource(c.op, src.get())), want);
}

// Greyscale below 8 bits is two operations in a row: the end of the raise
// and the start of the conversion are both unconsulted calls.
TEST_P(ToneContract, StopAtEveryProgressPointKeepsNothing) {
    const auto& [c, kind] = GetParam();
    KOwnedHandle src(RandomSource(7, 3, kind, 6));
    const bool twoOperations = c.name == std::string("Greyscale") && BitsOf(kind) < 8;
    EXPECT_GE(SweepStops(src.get(), BindSource(c.op, src.get()),
                         twoOperations ? StopTaking::BeforeTheEnd : StopTaking::AtOnce),
              2);
}

TEST_P(ToneContract, EveryAllocationFailureIsCleanedUp) {
    KOwnedHandle src(RandomSource(9, 4, GetParam().kind, 7));
    EXPECT_GT(
        SweepAllocationFailures(
            src.get(), [&](KHANDLE* out) { return GetParam().op.op(nullptr, src.get(), out); }),
        0);
}

TEST_P(ToneContract, NullHandlesAndUnusableBlocks) {
    LeakCheck leaks;
    KOwnedHandle packed(RandomSource(4, 4, GetParam().kind, 2));
    DIBLock(packed.get())->biCompression = 1;
    const Op& op = GetParam().op.op;
    EXPECT_EQ(op(nullptr, packed.get(), nullptr), 101);
    for (KHANDLE bad : {KHANDLE{nullptr}, packed.get()})
        ExpectRefused([&](KHANDLE* out) { return op(nullptr, bad, out); });
}

INSTANTIATE_TEST_SUITE_P(TheirDepths, ToneContract, testing::ValuesIn(ToneOpsAtTheirDepths()),
                         [](const testing::TestParamInfo<ToneOpAt>& p) {
                             return std::string(p.param.op.name) + "_" + KindName(p.param.kind);
                         });

} // namespace
