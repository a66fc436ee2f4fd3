#include "imaging/smear.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace brellix::test;

namespace {

// Pixel bytes, rows as stored (row 0 at the bottom): C bytes a pixel.
struct Grid {
    int w = 0, h = 0, c = 1;
    std::vector<uint8_t> v;
    uint8_t& at(int x, int r, int ch) {
        return v[(size_t(r) * size_t(w) + size_t(x)) * size_t(c) + size_t(ch)];
    }
    uint8_t at(int x, int r, int ch) const {
        return v[(size_t(r) * size_t(w) + size_t(x)) * size_t(c) + size_t(ch)];
    }
};

Grid GridOf(KHANDLE h) {
    DIBLock d(h);
    Grid g;
    g.w = d.width();
    g.h = d.height();
    g.c = d.bitCount() / 8;
    for (int r = 0; r < g.h; ++r)
        g.v.insert(g.v.end(), d.row(r), d.row(r) + size_t(g.w) * size_t(g.c));
    return g;
}

// A DIB whose stored rows hold the given bytes (8 bits, grey palette).
KHANDLE FromBytes(int w, int h, const std::vector<uint8_t>& bytes) {
    KHANDLE out = nullptr;
    EXPECT_EQ(NewDIB(&out, uint16_t(w), uint16_t(h), 8, 1, 0, 0, 0, nullptr), 0);
    DIBLock d(out);
    for (int r = 0; r < h; ++r)
        std::memcpy(d.row(r), bytes.data() + size_t(r) * size_t(w), size_t(w));
    return out;
}

int Differences(const Grid& a, const Grid& b) {
    if (a.w != b.w || a.h != b.h || a.c != b.c) return -1;
    int n = 0;
    for (size_t i = 0; i < a.v.size(); ++i)
        n += a.v[i] != b.v[i];
    return n;
}

// ---- Wind: the reference ----

// Each row swept from the wind's side; the running value starts as the
// first pixel; the difference's magnitude is scaled by f / 100 and
// truncated, its sign kept; the result is limited to 255.
Grid WindReference(const Grid& src, int strength, int direction) {
    const int f = (strength > 20 ? 0 : strength) + 78;
    Grid out = src;
    for (int r = 0; r < src.h; ++r)
        for (int ch = 0; ch < src.c; ++ch) {
            int running = src.at(direction == 0 ? 0 : src.w - 1, r, ch);
            for (int i = 0; i < src.w; ++i) {
                const int x = direction == 0 ? i : src.w - 1 - i;
                const int p = src.at(x, r, ch);
                const int d = running - p;
                const int scaled = std::abs(d) * f / 100;
                int q = p + (d < 0 ? -scaled : scaled);
                if (q > 255) q = 255;
                out.at(x, r, ch) = uint8_t(q);
                running = q;
            }
        }
    return out;
}

KervErrorCode Wind(KHANDLE src, KHANDLE* out, int strength, int direction,
                   StatusControlBlock* status = nullptr) {
    return WindDIB(status, src, out, 0, 0, int16_t(strength), int16_t(direction));
}

// ---- Wind: hand-computed rows ----

TEST(Wind, RowsSweptFromEitherSide) {
    // Strength 2 (f = 80) on 0, 100, 200:
    //   from the left:  0; 100 - 80 = 20; 200 + (20 - 200) x 0.8 = 56
    //   from the right: 200; 100 + 80 = 180; 0 + 180 x 0.8 = 144
    KOwnedHandle src(FromBytes(3, 1, {0, 100, 200}));
    struct Case {
        int direction;
        std::vector<uint8_t> row;
    };
    for (const Case& c : {Case{0, {0, 20, 56}}, Case{1, {144, 180, 200}}}) {
        KHANDLE out = nullptr;
        ASSERT_EQ(Wind(src.get(), &out, 2, c.direction), 0);
        KOwnedHandle owner(out);
        EXPECT_EQ(GridOf(out).v, c.row) << "direction " << c.direction;
    }
}

TEST(Wind, NegativeDifferencesAreTruncatedTowardZero) {
    // Strength 1 (f = 79): 1 then 100 gives 100 + (-99 x 79 / 100) =
    // 100 - 78 = 22 (rounding down would give 21); 100 then 1 gives
    // 1 + 78 = 79.
    KOwnedHandle up(FromBytes(2, 1, {1, 100}));
    KHANDLE out = nullptr;
    ASSERT_EQ(Wind(up.get(), &out, 1, 0), 0);
    KOwnedHandle a(out);
    EXPECT_EQ(GridOf(out).v, (std::vector<uint8_t>{1, 22}));
    KOwnedHandle down(FromBytes(2, 1, {100, 1}));
    ASSERT_EQ(Wind(down.get(), &out, 1, 0), 0);
    KOwnedHandle b(out);
    EXPECT_EQ(GridOf(out).v, (std::vector<uint8_t>{100, 79}));
}

TEST(Wind, StrengthAboveTwentyBehavesAsZero) {
    KOwnedHandle src(MakeRandomDIB(37, 5, 24, 8));
    const Grid f78 = WindReference(GridOf(src.get()), 0, 0);
    for (int strength : {21, 25, 100, 32767}) {
        KHANDLE out = nullptr;
        ASSERT_EQ(Wind(src.get(), &out, strength, 0), 0) << strength;
        KOwnedHandle owner(out);
        EXPECT_EQ(Differences(GridOf(out), f78), 0) << strength;
    }
    // Strength 20 is the strongest: f = 98.
    KHANDLE out = nullptr;
    ASSERT_EQ(Wind(src.get(), &out, 20, 0), 0);
    KOwnedHandle owner(out);
    EXPECT_GT(Differences(GridOf(out), f78), 0);
}

TEST(Wind, EachChannelRunsOnItsOwn) {
    // Two pixels: blue 0 -> 200, green 200 -> 0, red 50 -> 50 (strength 2).
    KHANDLE h = nullptr;
    ASSERT_EQ(NewDIB(&h, 2, 1, 24, 0, 0, 0, 0, nullptr), 0);
    KOwnedHandle src(h);
    SetPixel(h, 0, 0, 0x32C800); // red 50, green 200, blue 0
    SetPixel(h, 1, 0, 0x3200C8); // red 50, green 0, blue 200
    KHANDLE out = nullptr;
    ASSERT_EQ(Wind(h, &out, 2, 0), 0);
    KOwnedHandle owner(out);
    // blue 200 + (0 - 200) x 0.8 = 40; green 0 + 200 x 0.8 = 160; red 50.
    EXPECT_EQ(PixelAt(out, 1, 0), 0x32A028u);
}

// ---- Wind: against the reference ----

struct WindCase {
    int w, h, bits, strength, direction;
};

std::string WindName(const ::testing::TestParamInfo<WindCase>& p) {
    const WindCase& c = p.param;
    return std::string(c.direction == 0 ? "fromLeft" : "fromRight") + "_strength" +
           std::to_string(c.strength) + "_" + std::to_string(c.w) + "x" + std::to_string(c.h) +
           "_" + std::to_string(c.bits) + "bit";
}

const int kSizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {7, 3}, {33, 17}, {67, 5}, {130, 4}};

std::vector<WindCase> WindCases() {
    std::vector<WindCase> cases;
    for (const auto& s : kSizes)
        for (int bits : {8, 24})
            for (int strength : {1, 2, 10, 20, 21, 32767})
                for (int direction : {0, 1})
                    cases.push_back({s[0], s[1], bits, strength, direction});
    return cases;
}

class WindReferenceTest : public ::testing::TestWithParam<WindCase> {};

TEST_P(WindReferenceTest, MatchesTheSweepRule) {
    const WindCase c = GetParam();
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(c.w, c.h, c.bits, uint32_t(c.w * 7 + c.h + c.strength)));
    const auto before = BlockBytes(src.get());
    KHANDLE out = nullptr;
    ASSERT_EQ(Wind(src.get(), &out, c.strength, c.direction), 0);
    KOwnedHandle owner(out);
    EXPECT_EQ(Differences(GridOf(out), WindReference(GridOf(src.get()), c.strength, c.direction)),
              0);
    EXPECT_EQ(NonZeroPadding(out), 0);
    EXPECT_EQ(BlockBytes(src.get()), before);
}

INSTANTIATE_TEST_SUITE_P(SizesStrengthsDepths, WindReferenceTest, ::testing::ValuesIn(WindCases()),
                         WindName);

// ---- Motion blur: the reference ----

// The step from the direction, with the sine and cosine rounded to single
// precision from a wider computation.
struct Step {
    int dx, dy;
};

int ScaledRef(long double v) {
    const auto f = static_cast<float>(v);
    const float thousandths = f * 1000.0f;
    return int(thousandths) * 256 / 1000;
}

Step StepRef(int direction) {
    direction %= 360;
    if (direction < 0) direction += 360;
    int a = 450 - direction;
    if (a > 360) a -= 360;
    if (a > 180) a -= 180;
    auto rad = [](int deg) { return static_cast<long double>(float(deg) * 0.017453292f); };
    if (a < 90) return {ScaledRef(std::cos(rad(a))), ScaledRef(std::sin(rad(a)))};
    if (a == 90) return {0, 256};
    if (a < 180) return {-ScaledRef(std::cos(rad(180 - a))), ScaledRef(std::sin(rad(180 - a)))};
    return {-256, 0};
}

// Every pixel: itself, then samples k = 1.. behind and ahead at
// (256 x -/+ k dx) >> 8, each direction stopping at the first sample
// outside; the truncated average.
Grid BlurReference(const Grid& src, int intensity, int direction) {
    const Step s = StepRef(direction);
    const int half = intensity / 2;
    Grid out = src;
    for (int y = 0; y < src.h; ++y)
        for (int x = 0; x < src.w; ++x) {
            int sum[3] = {0, 0, 0};
            int n = 0;
            auto add = [&](int sx, int sy) {
                for (int ch = 0; ch < src.c; ++ch)
                    sum[ch] += src.at(sx, sy, ch);
                ++n;
            };
            add(x, y);
            for (int sign : {-1, 1}) {
                const int count = sign < 0 ? half : intensity - half;
                for (int k = 1; k <= count; ++k) {
                    const int sx = (256 * x + sign * k * s.dx) >> 8;
                    const int sy = (256 * y + sign * k * s.dy) >> 8;
                    if (sx < 0 || sx >= src.w || sy < 0 || sy >= src.h) break;
                    add(sx, sy);
                }
            }
            for (int ch = 0; ch < src.c; ++ch)
                out.at(x, y, ch) = uint8_t(sum[ch] / n);
        }
    return out;
}

KervErrorCode Blur(KHANDLE src, KHANDLE* out, int intensity, int direction,
                   StatusControlBlock* status = nullptr) {
    return MotionBlurDIB(status, src, out, int16_t(intensity), int16_t(direction));
}

// ---- Motion blur: hand-computed ----

TEST(MotionBlur, TheStepOfTheReferenceAtKnownAngles) {
    // The reference itself, checked by hand: cos 45 x 1000 = 707,
    // 707 x 256 / 1000 = 180; cos 30 = 866 -> 221, sin 30 = 500 -> 128.
    // 60 x 0.017453292 in single precision lands just past pi / 3, where
    // the cosine is 0.49999997: 499 -> 127 (the exact cosine would give 128).
    struct Case {
        int direction, dx, dy;
    };
    for (const Case& c :
         {Case{0, 0, 256}, Case{90, -256, 0}, Case{45, 180, 180}, Case{135, -180, 180},
          Case{60, 221, 128}, Case{180, 0, 256}, Case{270, -256, 0}, Case{300, -221, 128}}) {
        const Step s = StepRef(c.direction);
        EXPECT_EQ(s.dx, c.dx) << c.direction;
        EXPECT_EQ(s.dy, c.dy) << c.direction;
    }
}

TEST(MotionBlur, LevelLineAveragesNeighboursAndFewerAtTheEdges) {
    // Direction 90 steps (-256, 0): intensity 2 takes one sample behind
    // (x + 1) and one ahead (x - 1). Row 0, 30, 60, 90:
    //   x 0: (0 + 30) / 2 = 15        x 1: (30 + 60 + 0) / 3 = 30
    //   x 2: (60 + 90 + 30) / 3 = 60  x 3: (90 + 60) / 2 = 75
    KOwnedHandle src(FromBytes(4, 1, {0, 30, 60, 90}));
    KHANDLE out = nullptr;
    ASSERT_EQ(Blur(src.get(), &out, 2, 90), 0);
    KOwnedHandle owner(out);
    EXPECT_EQ(GridOf(out).v, (std::vector<uint8_t>{15, 30, 60, 75}));
}

TEST(MotionBlur, DiagonalSamplesRoundDown) {
    // Direction 45 steps (180, 180) in 1/256 pixel: the sample behind is at
    // (256 x - 180) >> 8 = x - 1, the one ahead at (256 x + 180) >> 8 = x.
    // Centre of a 3 x 3: (p(0,0) + 2 p(1,1)) / 3; corner (0,0): nothing
    // behind, itself ahead.
    KOwnedHandle src(FromBytes(3, 3, {30, 0, 0, 0, 90, 0, 0, 0, 200}));
    KHANDLE out = nullptr;
    ASSERT_EQ(Blur(src.get(), &out, 2, 45), 0);
    KOwnedHandle owner(out);
    const Grid g = GridOf(out);
    EXPECT_EQ(g.at(1, 1, 0), (30 + 90 + 90) / 3);
    EXPECT_EQ(g.at(0, 0, 0), 30);
    EXPECT_EQ(g.at(2, 2, 0), (90 + 200 + 200) / 3);
}

TEST(MotionBlur, IntensityZeroReturnsEveryPixelUnchanged) {
    for (int bits : {8, 24})
        for (int direction : {0, 45, 90, 200, 359}) {
            KOwnedHandle src(MakeRandomDIB(13, 6, bits, 4));
            KHANDLE out = nullptr;
            ASSERT_EQ(Blur(src.get(), &out, 0, direction), 0);
            KOwnedHandle owner(out);
            EXPECT_EQ(Differences(GridOf(out), GridOf(src.get())), 0)
                << bits << " bits, direction " << direction;
        }
}

TEST(MotionBlur, DirectionsEqualModuloOneEightyAndAnyValueIsReduced) {
    KOwnedHandle src(MakeRandomDIB(31, 23, 24, 5));
    struct Case {
        int a, b;
    };
    for (const Case& c : {Case{30, 210}, Case{90, 270}, Case{-90, 270}, Case{725, 5},
                          Case{-32768, 352}, Case{32767, 7}, Case{360, 0}, Case{0, 180}}) {
        KHANDLE x = nullptr, y = nullptr;
        ASSERT_EQ(Blur(src.get(), &x, 7, c.a), 0) << c.a;
        KOwnedHandle ownX(x);
        ASSERT_EQ(Blur(src.get(), &y, 7, c.b), 0) << c.b;
        KOwnedHandle ownY(y);
        EXPECT_EQ(BlockBytes(x), BlockBytes(y)) << c.a << " and " << c.b;
    }
}

// ---- Motion blur: against the reference ----

struct BlurCase {
    int w, h, bits, intensity, direction;
};

std::string BlurName(const ::testing::TestParamInfo<BlurCase>& p) {
    const BlurCase& c = p.param;
    return "intensity" + std::to_string(c.intensity) + "_dir" + (c.direction < 0 ? "Minus" : "") +
           std::to_string(std::abs(c.direction)) + "_" + std::to_string(c.w) + "x" +
           std::to_string(c.h) + "_" + std::to_string(c.bits) + "bit";
}

std::vector<BlurCase> BlurCases() {
    const int pairs[][2] = {{0, 45},   {1, 0},  {2, 90},  {5, 45},   {5, 135},  {5, 60},  {13, 300},
                            {40, 179}, {40, 1}, {7, 270}, {3, 180},  {200, 30}, {6, -45}, {5, 725},
                            {9, 89},   {9, 91}, {4, 10},  {11, 100}, {5, 30}};
    std::vector<BlurCase> cases;
    for (const auto& s : kSizes)
        for (int bits : {8, 24})
            for (const auto& p : pairs)
                cases.push_back({s[0], s[1], bits, p[0], p[1]});
    return cases;
}

class MotionBlurReference : public ::testing::TestWithParam<BlurCase> {};

TEST_P(MotionBlurReference, MatchesThePerPixelRule) {
    const BlurCase c = GetParam();
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(c.w, c.h, c.bits, uint32_t(c.w * 3 + c.h + c.intensity)));
    const auto before = BlockBytes(src.get());
    KHANDLE out = nullptr;
    ASSERT_EQ(Blur(src.get(), &out, c.intensity, c.direction), 0);
    KOwnedHandle owner(out);
    EXPECT_EQ(Differences(GridOf(out), BlurReference(GridOf(src.get()), c.intensity, c.direction)),
              0);
    EXPECT_EQ(NonZeroPadding(out), 0);
    EXPECT_EQ(BlockBytes(src.get()), before);
}

INSTANTIATE_TEST_SUITE_P(SizesIntensitiesDirections, MotionBlurReference,
                         ::testing::ValuesIn(BlurCases()), BlurName);

// A flat picture stays flat whatever the sampling: every average of equal
// values is that value.
TEST(MotionBlur, FlatPicturesStayFlat) {
    for (int intensity : {1, 5, 40, 200}) {
        KHANDLE h = nullptr;
        ASSERT_EQ(NewDIB(&h, 90, 40, 24, 0, 201, 7, 99, nullptr), 0);
        KOwnedHandle src(h);
        KHANDLE out = nullptr;
        ASSERT_EQ(Blur(h, &out, intensity, 33), 0);
        KOwnedHandle owner(out);
        EXPECT_EQ(BlockBytes(out), BlockBytes(h)) << intensity;
    }
}

// ---- Contract ----

struct BadCase {
    const char* name;
    std::function<KervErrorCode(KHANDLE, KHANDLE*)> op;
    int bits;
};

std::string BadName(const ::testing::TestParamInfo<BadCase>& p) {
    return p.param.name;
}

class SmearRefuses : public ::testing::TestWithParam<BadCase> {};

TEST_P(SmearRefuses, WithInvalidParameterAndNothingAllocated) {
    const BadCase& c = GetParam();
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(9, 9, c.bits, 2));
    const auto before = BlockBytes(src.get());
    ExpectRefused([&](KHANDLE* out) { return c.op(src.get(), out); });
    EXPECT_EQ(BlockBytes(src.get()), before);
}

KervErrorCode WindRaw(KHANDLE s, KHANDLE* o, int mode, int reserved, int strength, int direction) {
    return WindDIB(nullptr, s, o, int16_t(mode), int16_t(reserved), int16_t(strength),
                   int16_t(direction));
}

INSTANTIATE_TEST_SUITE_P(
    Parameters, SmearRefuses,
    ::testing::Values(
        BadCase{"WindStrength0", [](KHANDLE s, KHANDLE* o) { return Wind(s, o, 0, 0); }, 24},
        BadCase{"WindStrengthMinus5", [](KHANDLE s, KHANDLE* o) { return Wind(s, o, -5, 1); }, 8},
        BadCase{"WindDirection2", [](KHANDLE s, KHANDLE* o) { return Wind(s, o, 5, 2); }, 24},
        BadCase{"WindDirectionMinus1", [](KHANDLE s, KHANDLE* o) { return Wind(s, o, 5, -1); }, 24},
        BadCase{"WindMode1", [](KHANDLE s, KHANDLE* o) { return WindRaw(s, o, 1, 0, 5, 0); }, 24},
        BadCase{"WindReserved1", [](KHANDLE s, KHANDLE* o) { return WindRaw(s, o, 0, 1, 5, 0); },
                24},
        BadCase{"WindFourBits", [](KHANDLE s, KHANDLE* o) { return Wind(s, o, 5, 0); }, 4},
        BadCase{"WindOneBit", [](KHANDLE s, KHANDLE* o) { return Wind(s, o, 5, 0); }, 1},
        BadCase{"BlurIntensityMinus1", [](KHANDLE s, KHANDLE* o) { return Blur(s, o, -1, 0); }, 24},
        BadCase{"BlurIntensity201", [](KHANDLE s, KHANDLE* o) { return Blur(s, o, 201, 0); }, 8},
        BadCase{"BlurIntensity32767", [](KHANDLE s, KHANDLE* o) { return Blur(s, o, 32767, 0); },
                8},
        BadCase{"BlurFourBits", [](KHANDLE s, KHANDLE* o) { return Blur(s, o, 5, 45); }, 4},
        BadCase{"BlurOneBit", [](KHANDLE s, KHANDLE* o) { return Blur(s, o, 5, 45); }, 1}),
    BadName);

TEST(SmearContract, NullHandlesAndUnusableBlocks) {
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(9, 9, 24, 1));
    EXPECT_EQ(Wind(src.get(), nullptr, 5, 0), 101);
    EXPECT_EQ(Blur(src.get(), nullptr, 5, 0), 101);
    KOwnedHandle packed(MakeRandomDIB(9, 9, 24, 1));
    DIBLock(packed.get())->biCompression = 1;
    for (KHANDLE bad : {KHANDLE{nullptr}, packed.get()}) {
        ExpectRefused([&](KHANDLE* out) { return Wind(bad, out, 5, 0); }, 101, "wind");
        ExpectRefused([&](KHANDLE* out) { return Blur(bad, out, 5, 0); }, 101, "blur");
    }
}

TEST(SmearContract, EveryAllocationFailureIsCleanedUp) {
    for (int bits : {8, 24}) {
        KOwnedHandle src(MakeRandomDIB(11, 7, bits, 1));
        EXPECT_GT(SweepAllocationFailures(src.get(),
                                          [&](KHANDLE* out) { return Wind(src.get(), out, 3, 1); }),
                  0);
        EXPECT_GT(SweepAllocationFailures(
                      src.get(), [&](KHANDLE* out) { return Blur(src.get(), out, 5, 45); }),
                  0);
    }
}

TEST(SmearContract, ProgressCountsRowsAndBlurClearsThePassCount) {
    KOwnedHandle src(MakeRandomDIB(7, 6, 24, 3));
    for (bool blur : {false, true}) {
        StatusControlBlock block;
        block.passCount = 3;
        block.pass = 1;
        EXPECT_EQ(RecordProgress(
                      [&](StatusControlBlock* s, KHANDLE* out) {
                          return blur ? Blur(src.get(), out, 5, 45, s)
                                      : Wind(src.get(), out, 5, 0, s);
                      },
                      &block),
                  UnitProgress(6))
            << (blur ? "blur" : "wind");
        EXPECT_EQ(block.passCount, blur ? 0 : 3);
    }
}

// Call 1 is the start, calls 2 .. 6 the rows, call 7 the end (whose answer
// is not consulted).
TEST(SmearContract, StopAtEveryProgressPointKeepsNothing) {
    for (int bits : {8, 24}) {
        KOwnedHandle src(MakeRandomDIB(6, 5, bits, 2));
        for (bool blur : {false, true})
            EXPECT_EQ(SweepStops(src.get(),
                                 [&](StatusControlBlock* s, KHANDLE* out) {
                                     return blur ? Blur(src.get(), out, 5, 45, s)
                                                 : Wind(src.get(), out, 5, 0, s);
                                 }),
                      6)
                << (blur ? "blur" : "wind") << ", " << bits << " bits";
    }
}

} // namespace
