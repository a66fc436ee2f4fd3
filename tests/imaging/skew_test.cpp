#include "imaging/skew.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using namespace brellix::test;

namespace {

// Pixel values as PixelAt reports them, rows as stored (row 0 at the bottom).
struct Grid {
    int w = 0, h = 0;
    std::vector<uint32_t> v;
    uint32_t at(int x, int r) const { return v[size_t(r) * size_t(w) + size_t(x)]; }
};

Grid GridOf(KHANDLE h) {
    Grid g;
    {
        DIBLock d(h);
        g.w = d.width();
        g.h = d.height();
    }
    g.v.resize(size_t(g.w) * size_t(g.h));
    for (int r = 0; r < g.h; ++r)
        for (int x = 0; x < g.w; ++x)
            g.v[size_t(r) * size_t(g.w) + size_t(x)] = PixelAt(h, x, g.h - 1 - r);
    return g;
}

// The offset straight from the formula: the angle in radians from the two
// single-precision constants, the tangent rounded to single precision, the
// product in single precision, at least 1.
int64_t Offset(int angle, int size) {
    float theta = float(angle) * 3.1415927f;
    theta = theta * 0.0055555557f;
    const auto t = static_cast<float>(std::tan(static_cast<long double>(theta)));
    const float product = t * float(size);
    const auto o = static_cast<int64_t>(product);
    return o < 1 ? 1 : o;
}

uint32_t Background(int bits, uint8_t red, uint8_t green, uint8_t blue) {
    return bits == 24 ? (uint32_t(red) << 16) | (uint32_t(green) << 8) | blue : red;
}

// The skew pixel by pixel, as the steps describe it.
Grid Reference(const Grid& src, int hAngle, int vAngle, uint32_t bg) {
    const bool horizontal = hAngle != 0;
    const int angle = horizontal ? std::abs(hAngle) : std::abs(vAngle);
    const bool positive = horizontal ? hAngle > 0 : vAngle > 0;
    const int64_t W = src.w, H = src.h;
    const int64_t o = Offset(angle, int(horizontal ? H : W));
    Grid out;
    out.w = int(horizontal ? W + o : W);
    out.h = int(horizontal ? H : H + o);
    out.v.assign(size_t(out.w) * size_t(out.h), bg);
    for (int64_t r = 0; r < out.h; ++r)
        for (int64_t x = 0; x < out.w; ++x) {
            if (horizontal) {
                const int64_t start = positive ? r * o / H : (H - r) * o / H;
                const int64_t sx = x - start;
                if (sx >= 0 && sx < W) out.v[size_t(r * out.w + x)] = src.at(int(sx), int(r));
            } else {
                const int64_t start = positive ? x * o / W : o - x * o / W;
                const int64_t sr = r - start;
                if (sr >= 0 && sr < H) out.v[size_t(r * out.w + x)] = src.at(int(x), int(sr));
            }
        }
    return out;
}

KervErrorCode Skew(KHANDLE src, KHANDLE* out, int h, int v, uint8_t red = 10, uint8_t green = 20,
                   uint8_t blue = 30, StatusControlBlock* status = nullptr) {
    return SkewDIB(status, src, out, int16_t(h), int16_t(v), red, green, blue);
}

// ---- Hand-computed examples ----

TEST(Skew, FortyFiveDegreesOnAHundredSquareAddsAHundredColumns) {
    KOwnedHandle src(MakeRandomDIB(100, 100, 24, 1));
    for (int angle : {45, -45}) {
        KHANDLE out = nullptr;
        ASSERT_EQ(Skew(src.get(), &out, angle, 0), 0) << angle;
        KOwnedHandle owner(out);
        DIBLock d(out);
        EXPECT_EQ(d.width(), 200) << angle;
        EXPECT_EQ(d.height(), 100) << angle;
    }
    KHANDLE out = nullptr;
    ASSERT_EQ(Skew(src.get(), &out, 0, 45), 0);
    KOwnedHandle owner(out);
    DIBLock d(out);
    EXPECT_EQ(d.width(), 100);
    EXPECT_EQ(d.height(), 200);
}

// A 5 x 5 picture whose pixel (x, row from the bottom) is 10 r + x; tan 45
// x 5 = 5, so row r (or column x) moves by r (x) or 5 - r (5 - x).
TEST(Skew, FiveByFiveAtFortyFiveDegrees) {
    KHANDLE h = nullptr;
    ASSERT_EQ(NewDIB(&h, 5, 5, 8, 1, 0, 0, 0, nullptr), 0);
    KOwnedHandle src(h);
    for (int r = 0; r < 5; ++r)
        for (int x = 0; x < 5; ++x)
            SetPixel(h, x, 4 - r, uint32_t(10 * r + x + 1));
    const uint32_t bg = 200;
    struct Case {
        int hAngle, vAngle;
        int x, r;       // an output pixel (row from the bottom)
        uint32_t value; // what it holds
    };
    for (const Case& c : {
             Case{45, 0, 0, 0, 1},   // bottom row unmoved
             Case{45, 0, 4, 4, 41},  // top row starts at 4
             Case{45, 0, 3, 4, bg},  //   and leaves 0..3 to the background
             Case{45, 0, 9, 0, bg},  // bottom row ends at 4
             Case{45, 0, 6, 2, 25},  // row 2 spans 2..6
             Case{-45, 0, 5, 0, 1},  // bottom row starts at 5
             Case{-45, 0, 1, 4, 41}, // top row starts at 1
             Case{-45, 0, 0, 4, bg}, //
             Case{0, 45, 0, 0, 1},   // column 0 unmoved
             Case{0, 45, 4, 4, 5},   // column 4 starts at row 4
             Case{0, 45, 4, 8, 45},  //   and ends at row 8
             Case{0, 45, 4, 3, bg},  //
             Case{0, -45, 0, 5, 1},  // column 0 starts at row 5
             Case{0, -45, 4, 1, 5},  // column 4 at row 1
             Case{0, -45, 4, 0, bg}, //
         }) {
        KHANDLE out = nullptr;
        ASSERT_EQ(Skew(src.get(), &out, c.hAngle, c.vAngle, uint8_t(bg)), 0);
        KOwnedHandle owner(out);
        const Grid g = GridOf(out);
        ASSERT_EQ(c.hAngle != 0 ? g.w : g.h, 10);
        EXPECT_EQ(g.at(c.x, c.r), c.value)
            << "angles " << c.hAngle << "/" << c.vAngle << " at " << c.x << "," << c.r;
    }
}

TEST(Skew, TinyAngleStillShiftsByOnePixel) {
    // tan 1 degree x 5 is 0.087: the offset is at least 1. Right slant:
    // every row starts at r x 1 / 5 = 0, so the last column is background;
    // left slant: only the bottom row starts at (5 - 0) x 1 / 5 = 1.
    KOwnedHandle src(MakeRandomDIB(5, 5, 24, 3));
    const Grid in = GridOf(src.get());
    const uint32_t bg = Background(24, 1, 2, 3);
    KHANDLE out = nullptr;
    ASSERT_EQ(Skew(src.get(), &out, 1, 0, 1, 2, 3), 0);
    KOwnedHandle right(out);
    Grid g = GridOf(out);
    ASSERT_EQ(g.w, 6);
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(g.at(0, r), in.at(0, r)) << r;
        EXPECT_EQ(g.at(5, r), bg) << r;
    }
    ASSERT_EQ(Skew(src.get(), &out, -1, 0, 1, 2, 3), 0);
    KOwnedHandle left(out);
    g = GridOf(out);
    EXPECT_EQ(g.at(0, 0), bg);
    EXPECT_EQ(g.at(1, 0), in.at(0, 0));
    for (int r = 1; r < 5; ++r) {
        EXPECT_EQ(g.at(0, r), in.at(0, r)) << r;
        EXPECT_EQ(g.at(5, r), bg) << r;
    }
}

TEST(Skew, HorizontalWinsOverVerticalWhenBothAreGiven) {
    KOwnedHandle src(MakeRandomDIB(9, 7, 8, 4, true));
    KHANDLE a = nullptr, b = nullptr;
    ASSERT_EQ(Skew(src.get(), &a, 30, 60), 0);
    KOwnedHandle ownA(a);
    ASSERT_EQ(Skew(src.get(), &b, 30, 0), 0);
    KOwnedHandle ownB(b);
    EXPECT_EQ(BlockBytes(a), BlockBytes(b));
}

TEST(Skew, KeepsHeaderFieldsAndPalette) {
    KOwnedHandle src(MakeRandomDIB(8, 6, 8, 5));
    {
        DIBLock d(src.get());
        d->biXPelsPerMeter = 2835;
        d->biYPelsPerMeter = 1000;
        d.palette()[7] = RGBQUAD{1, 2, 3, 0};
    }
    KHANDLE out = nullptr;
    ASSERT_EQ(Skew(src.get(), &out, 0, -20), 0);
    KOwnedHandle owner(out);
    DIBLock s(src.get()), d(out);
    EXPECT_EQ(d->biXPelsPerMeter, 2835);
    EXPECT_EQ(d->biYPelsPerMeter, 1000);
    EXPECT_EQ(d->biClrUsed, s->biClrUsed);
    EXPECT_EQ(d->biSizeImage, d.stride() * uint32_t(d.height()));
    EXPECT_EQ(KML_GlobalSize(out), DIBTotalBytes(d.header()));
    EXPECT_EQ(std::memcmp(s.palette(), d.palette(), 1024), 0);
}

// ---- Against the reference ----

struct RefCase {
    int w, h, bits, hAngle, vAngle;
};

std::string Signed(const char* axis, int a) {
    return std::string(axis) + (a < 0 ? "Minus" : "") + std::to_string(std::abs(a));
}

std::string RefName(const ::testing::TestParamInfo<RefCase>& p) {
    const RefCase& c = p.param;
    return (c.hAngle != 0 ? Signed("h", c.hAngle) : Signed("v", c.vAngle)) + "_" +
           std::to_string(c.w) + "x" + std::to_string(c.h) + "_" + std::to_string(c.bits) + "bit";
}

std::vector<RefCase> RefCases() {
    std::vector<RefCase> cases;
    const int sizes[][2] = {{5, 5}, {7, 9}, {33, 17}, {67, 5}, {5, 67}, {130, 7}};
    for (const auto& s : sizes)
        for (int bits : {8, 24})
            for (int a : {1, 13, 45, 60, 89, -1, -30, -89}) {
                cases.push_back({s[0], s[1], bits, a, 0});
                cases.push_back({s[0], s[1], bits, 0, a});
            }
    return cases;
}

class SkewReference : public ::testing::TestWithParam<RefCase> {};

TEST_P(SkewReference, MatchesThePixelByPixelRule) {
    const RefCase c = GetParam();
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(c.w, c.h, c.bits, uint32_t(c.w * 131 + c.h), c.bits == 8));
    const auto before = BlockBytes(src.get());
    KHANDLE out = nullptr;
    ASSERT_EQ(Skew(src.get(), &out, c.hAngle, c.vAngle, 77, 88, 99), 0);
    KOwnedHandle owner(out);
    const Grid want =
        Reference(GridOf(src.get()), c.hAngle, c.vAngle, Background(c.bits, 77, 88, 99));
    const Grid got = GridOf(out);
    ASSERT_EQ(got.w, want.w);
    ASSERT_EQ(got.h, want.h);
    int wrong = 0;
    for (size_t i = 0; i < got.v.size(); ++i)
        wrong += got.v[i] != want.v[i];
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(NonZeroPadding(out), 0);
    EXPECT_EQ(BlockBytes(src.get()), before);
}

INSTANTIATE_TEST_SUITE_P(SizesAnglesDepths, SkewReference, ::testing::ValuesIn(RefCases()),
                         RefName);

// Offsets at every angle: the output size follows the single-precision
// formula. At heights 1217, 1436, 1598 and 1629 (angles 84, 77, 79 and 74)
// a product in double precision would give one column less.
TEST(Skew, OutputSizeFollowsTheFormulaAtEveryAngle) {
    for (int size : {5, 100, 180, 1000, 1217, 1436, 1598, 1629})
        for (int angle = 1; angle < 90; ++angle) {
            const int64_t o = Offset(angle, size);
            if (size + o > 32767) continue;
            KOwnedHandle src(MakeRandomDIB(5, size, 8, 1, true));
            KHANDLE out = nullptr;
            ASSERT_EQ(Skew(src.get(), &out, angle, 0), 0) << angle;
            KOwnedHandle owner(out);
            EXPECT_EQ(DIBLock(out).width(), 5 + o) << "angle " << angle << ", height " << size;
        }
}

// ---- Contract ----

struct BadCase {
    const char* name;
    int w, h, bits, hAngle, vAngle;
};

std::string BadName(const ::testing::TestParamInfo<BadCase>& p) {
    return p.param.name;
}

class SkewRefuses : public ::testing::TestWithParam<BadCase> {};

TEST_P(SkewRefuses, WithInvalidParameterAndNothingAllocated) {
    const BadCase c = GetParam();
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(c.w, c.h, c.bits, 2));
    ASSERT_TRUE(src);
    const auto before = BlockBytes(src.get());
    ExpectRefused([&](KHANDLE* out) { return Skew(src.get(), out, c.hAngle, c.vAngle); });
    EXPECT_EQ(BlockBytes(src.get()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Parameters, SkewRefuses,
    ::testing::Values(
        BadCase{"BothAnglesZero", 9, 9, 24, 0, 0}, BadCase{"Horizontal90", 9, 9, 24, 90, 0},
        BadCase{"HorizontalMinus90", 9, 9, 24, -90, 0}, BadCase{"Vertical90", 9, 9, 24, 0, 90},
        BadCase{"HorizontalMinus32768", 9, 9, 24, -32768, 0},
        BadCase{"Vertical32767", 9, 9, 24, 0, 32767}, BadCase{"FourColumns", 4, 9, 24, 10, 0},
        BadCase{"FourRows", 9, 4, 8, 0, 10}, BadCase{"OneByOne", 1, 1, 24, 10, 0},
        BadCase{"FourBits", 9, 9, 4, 10, 0}, BadCase{"OneBit", 9, 9, 1, 10, 0},
        // tan 89 x 600 = 34374 columns more.
        BadCase{"WiderThan32767", 5, 600, 8, 89, 0}, BadCase{"TallerThan32767", 600, 5, 8, 0, -89},
        BadCase{"SourceWidthPlusOffsetBeyond", 32760, 5, 8, 60, 0}),
    BadName);

TEST(SkewContract, NullHandlesAndUnusableBlocks) {
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(9, 9, 24, 1));
    EXPECT_EQ(Skew(src.get(), nullptr, 10, 0), 101);
    KOwnedHandle packed(MakeRandomDIB(9, 9, 24, 1));
    DIBLock(packed.get())->biCompression = 1;
    KOwnedHandle tiny(KML_GlobalAlloc(KMEM_GHND, 20));
    for (KHANDLE bad : {KHANDLE{nullptr}, packed.get(), tiny.get()})
        ExpectRefused([&](KHANDLE* out) { return Skew(bad, out, 10, 0); });
}

TEST(SkewContract, TheLargestOutputIsMade) {
    // 45 degrees on 5 rows adds 5 columns: 32762 + 5 = 32767.
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(32762, 5, 8, 1, true));
    KHANDLE out = nullptr;
    ASSERT_EQ(Skew(src.get(), &out, 45, 0), 0);
    KOwnedHandle owner(out);
    EXPECT_EQ(DIBLock(out).width(), 32767);
}

TEST(SkewContract, EveryAllocationFailureIsCleanedUp) {
    for (int bits : {8, 24})
        for (int v : {0, 30}) {
            KOwnedHandle src(MakeRandomDIB(11, 7, bits, 1));
            const int points = SweepAllocationFailures(
                src.get(), [&](KHANDLE* out) { return Skew(src.get(), out, v == 0 ? -25 : 0, v); });
            EXPECT_GT(points, 0) << bits << " bits";
        }
}

TEST(SkewContract, ProgressCountsOutputRows) {
    for (int v : {0, 30}) {
        KOwnedHandle src(MakeRandomDIB(7, 6, 24, 3));
        KHANDLE out = nullptr;
        ASSERT_EQ(Skew(src.get(), &out, v == 0 ? 30 : 0, v), 0);
        const int rows = DIBLock(out).height();
        KML_GlobalFree(out);
        EXPECT_EQ(RecordProgress([&](StatusControlBlock* s, KHANDLE* o) {
                      return Skew(src.get(), o, v == 0 ? 30 : 0, v, 0, 0, 0, s);
                  }),
                  UnitProgress(rows))
            << "vertical " << v;
    }
}

// Call 1 is the start, calls 2 .. rows + 1 the rows, then the end (whose
// answer is not consulted).
TEST(SkewContract, StopAtEveryProgressPointKeepsNothing) {
    for (int v : {0, -40}) {
        KOwnedHandle src(MakeRandomDIB(6, 5, 8, 2, true));
        KHANDLE probe = nullptr;
        ASSERT_EQ(Skew(src.get(), &probe, v == 0 ? 40 : 0, v), 0);
        const int rows = DIBLock(probe).height();
        KML_GlobalFree(probe);
        EXPECT_EQ(SweepStops(src.get(),
                             [&](StatusControlBlock* s, KHANDLE* out) {
                                 return Skew(src.get(), out, v == 0 ? 40 : 0, v, 0, 0, 0, s);
                             }),
                  rows + 1)
            << "vertical " << v;
    }
}

} // namespace
