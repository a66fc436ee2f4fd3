#include "imaging/shapes.h"
#include "tests/imaging/deform_test_support.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace deform_test;

namespace {

using ShapeFn = KervErrorCode (*)(StatusControlBlock*, KHANDLE, KHANDLE*, uint8_t, uint8_t,
                                  uint8_t);

using ShareList = std::vector<std::pair<int64_t, int64_t>>;

// Output pixel u of m along n source pixels: from pixel u * n / m, which
// still has k - e * k / m units (e the remainder), then k units a pixel
// (past the last pixel, the last pixel again) until 100.
ShareList BoxShares(int64_t u, int64_t m, int64_t n) {
    const int64_t k = std::max<int64_t>(1, m * 100 / n);
    ShareList out;
    int64_t pos = u * n / m, rem = k - (u * n % m) * k / m;
    for (int64_t need = 100; need > 0; ++pos, rem = k) {
        const int64_t take = std::min(need, rem);
        out.emplace_back(std::min(pos, n - 1), take);
        need -= take;
    }
    return out;
}

uint8_t Box(const Grid& s, const ShareList& across, const ShareList& down, int ch) {
    int64_t sum = 0;
    for (const auto& [i, vs] : down)
        for (const auto& [j, hs] : across)
            sum += s.at(j, i, ch) * hs * vs;
    return uint8_t(sum / 10000);
}

int64_t FloorSqrt(int64_t n) {
    int64_t m = 0;
    while ((m + 1) * (m + 1) <= n)
        ++m;
    return m;
}

Grid CircleReference(const Grid& s, const std::vector<uint8_t>& bg) {
    const int64_t R = std::min(s.w, s.h) / 2, D = std::max<int64_t>(2 * R, 1);
    auto sq = [&](int64_t i) { return (R - i) * (R - i); };
    auto chord = [&](int64_t i) { return std::max<int64_t>(1, 2 * FloorSqrt(R * R - sq(i))); };
    Grid o(static_cast<int>(D), static_cast<int>(D), s.c);
    for (int64_t r = 0; r < D; ++r)
        for (int64_t c = 0; c < D; ++c)
            for (int ch = 0; ch < s.c; ++ch) {
                if (sq(c) + sq(r) > R * R) {
                    o.at(c, r, ch) = bg[size_t(ch)];
                    continue;
                }
                const int64_t w = chord(r), h = chord(c);
                o.at(c, r, ch) = Box(s, BoxShares(c - (2 * R - w) / 2, w, s.w),
                                     BoxShares(r - (2 * R - h) / 2, h, s.h), ch);
            }
    return o;
}

// The pentagon's size and corners as written.
struct Shape {
    int64_t r, Rp, Hp, a, yw;
    Shape(int64_t W, int64_t H) {
        r = W >= 343 * H / 330 ? int64_t(H * 0.5257311211268731) : W / 2;
        Rp = int64_t(r * 1.0514622422537463);
        Hp = Rp + int64_t(Rp * 0.809017);
        a = int64_t(Rp * 1.1755705);
        yw = int64_t(a * 0.9510565);
    }
    // Column c of row y is inside when its centre c + 1/2 lies between the
    // edges (left edge num / den, right edge 2r - num / den), and the two
    // middle columns always are.
    bool Inside(int64_t c, int64_t y) const {
        if (c == r - 1 || c == r) return true;
        const int64_t num = y <= yw ? (r - a / 2) * (yw - y) : r * (y - yw);
        const int64_t den = y <= yw ? yw : Hp - 1 - yw;
        return (2 * c + 1) * den >= 2 * num && (2 * c + 1) * den <= 2 * (2 * r * den - num);
    }
};

Grid PentagonReference(const Grid& s, const std::vector<uint8_t>& bg) {
    const Shape g(s.w, s.h);
    Grid o(static_cast<int>(2 * g.r), static_cast<int>(g.Hp), s.c);
    for (int64_t y = 0; y < g.Hp; ++y) {
        int64_t first = -1, span = 0;
        for (int64_t c = 0; c < 2 * g.r; ++c)
            if (g.Inside(c, y)) {
                if (first < 0) first = c;
                ++span;
            }
        const int64_t k = std::max<int64_t>(1, span * 100 / s.w);
        for (int64_t c = 0; c < 2 * g.r; ++c)
            for (int ch = 0; ch < s.c; ++ch)
                o.at(c, y, ch) = g.Inside(c, y) ? Box(s, IntervalShares(c - first, 100, k, s.w),
                                                      BoxShares(y, g.Hp, s.h), ch)
                                                : bg[size_t(ch)];
    }
    return o;
}

Grid Shaped(ShapeFn fn, KHANDLE src, uint8_t r, uint8_t g, uint8_t b) {
    KHANDLE out = nullptr;
    EXPECT_EQ(fn(nullptr, src, &out, r, g, b), 0);
    KOwnedHandle owner(out);
    return out ? ValuesOf(out) : Grid();
}

// A grey image whose stored rows are given, bottom row first.
KHANDLE Grey(const std::vector<std::vector<int>>& rows) {
    KHANDLE h = Flat(int(rows[0].size()), int(rows.size()), 8, 0, 0, 0);
    DIBLock d(h);
    for (size_t y = 0; y < rows.size(); ++y)
        for (size_t x = 0; x < rows[y].size(); ++x)
            d.row(int32_t(y))[x] = uint8_t(rows[y][x]);
    return h;
}

// ---- Circle: hand-worked ----

TEST(Circle, FourByFourPixelByPixel) {
    // R = 2: sq 4, 1, 0, 1; chords 1, 2, 4, 2. Stored rows bottom first,
    // pixel (x, y) = 40 y + 10 x + 5; background 1.
    KOwnedHandle src(
        Grey({{5, 15, 25, 35}, {45, 55, 65, 75}, {85, 95, 105, 115}, {125, 135, 145, 155}}));
    const Grid got = Shaped(CircleDIB, src.get(), 1, 0, 0);
    const std::vector<std::vector<int>> want = {
        {1, 1, 35, 1},        // row 0: one pixel, one past its chord: the last column
        {1, 30, 70, 55},      // (5 + 15 + 45 + 55) / 4; (65 + 75) / 2; (35 + 75) / 2
        {125, 115, 105, 135}, // column 0's chord of 1 starts one row early: the top row
        {1, 130, 150, 155},
    };
    ASSERT_EQ(got.w, 4);
    ASSERT_EQ(got.h, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(got.at(x, y, 0), want[size_t(y)][size_t(x)]) << x << ", " << y;
}

TEST(Circle, ThreeHundredByTwoHundredGivesTwoHundredSquareWithBackgroundCorners) {
    KOwnedHandle src(Random(300, 200, 24, 8));
    {
        DIBLock d(src.get());
        std::memcpy(d.row(100) + 150 * 3, "\x64\x64\x64\xC8\xC8\xC8", 6); // 100s, then 200s
    }
    const Grid got = Shaped(CircleDIB, src.get(), 7, 8, 9);
    ASSERT_EQ(got.w, 200);
    ASSERT_EQ(got.h, 200);
    for (const auto& [x, y] : {std::pair{0, 0}, {199, 0}, {0, 199}, {199, 199}, {29, 29}})
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_EQ(got.at(x, y, ch), 9 - ch) << x << ", " << y;
    // The middle: chord 200 over 300 columns, 66 units a column from
    // column 150, row 100 whole: (66 x 100 + 34 x 200) / 100.
    EXPECT_EQ(got.at(100, 100, 0), 134);
}

// An image one pixel wide or high: R = 0, one pixel averaging everything.
TEST(Circle, OnePixelLinesBecomeOnePixel) {
    struct Case {
        std::vector<std::vector<int>> rows;
        int want;
    };
    const Case cases[] = {
        {{{77}}, 77},
        {{{10, 20, 30}}, 20},              // 33, 33 and 34 units: 2010 / 100
        {{{0}, {100}, {200}, {255}}, 138}, // 25 units a row: 13875 / 100
        {{{0, 50, 100, 150, 200}}, 100},   // 20 units a column
    };
    for (const Case& c : cases) {
        KOwnedHandle src(Grey(c.rows));
        const Grid got = Shaped(CircleDIB, src.get(), 3, 3, 3);
        ASSERT_EQ(got.w, 1);
        ASSERT_EQ(got.h, 1);
        EXPECT_EQ(got.at(0, 0, 0), c.want);
    }
}

// ---- Pentagon: hand-worked ----

TEST(Pentagon, SizesFollowTheWiderOrNarrowerRule) {
    struct Case {
        int w, h, outW, outH;
    };
    // 100 x 100: narrower than 343 x 100 / 330 = 103, r = 50, Rp = 52,
    // H' = 52 + 42. 400 x 300: r = int(157.7), Rp = 165, H' = 165 + 133.
    // 5 x 5 and 5 x 1000: r = 2, Rp = 2, H' = 2 + 1.
    for (const Case& c : {Case{100, 100, 100, 94}, Case{400, 300, 314, 298}, Case{5, 5, 4, 3},
                          Case{5, 1000, 4, 3}, Case{343, 330, 346, 327}}) {
        KOwnedHandle src(Random(c.w, c.h, 8, 1));
        const Grid got = Shaped(PentagonDIB, src.get(), 0, 0, 0);
        EXPECT_EQ(got.w, c.outW) << c.w << " x " << c.h;
        EXPECT_EQ(got.h, c.outH) << c.w << " x " << c.h;
    }
}

TEST(Pentagon, RowExtentsOfAHundredSquare) {
    // r = 50, a = 61, yw = 58, apex row 93. Background 0 on a flat 200.
    KOwnedHandle src(Flat(100, 100, 8, 200, 0, 0));
    const Grid got = Shaped(PentagonDIB, src.get(), 0, 0, 0);
    struct Row {
        int y, first, last;
    };
    // Base: columns 50 - 30 .. 50 + 30 - 1. Row 29: left edge at 10, the
    // first centre right of it 10. Row 58: full width. Row 76: left edge
    // 50 x 18 / 35 = 25.7. Apex: the two middle columns.
    for (const Row& r :
         {Row{0, 20, 79}, Row{29, 10, 89}, Row{58, 0, 99}, Row{76, 26, 73}, Row{93, 49, 50}})
        for (int x = 0; x < 100; ++x)
            EXPECT_EQ(got.at(x, r.y, 0), x >= r.first && x <= r.last ? 200 : 0)
                << "row " << r.y << ", column " << x;
}

// ---- Against the reference ----

using RefParam = std::tuple<bool, int, Size>;

class ShapeReference : public ::testing::TestWithParam<RefParam> {};

TEST_P(ShapeReference, MatchesTheSteps) {
    const auto& [circle, bits, size] = GetParam();
    KOwnedHandle src(Random(size.w, size.h, bits, uint32_t(size.w * 5 + size.h)));
    const std::vector<uint8_t> before = BlockBytes(src.get());
    KHANDLE out = nullptr;
    ASSERT_EQ((circle ? CircleDIB : PentagonDIB)(nullptr, src.get(), &out, 40, 50, 60), 0);
    KOwnedHandle owner(out);
    const Grid s = ValuesOf(src.get());
    const std::vector<uint8_t> bg = BackgroundBytes(bits, 40, 50, 60);
    const Grid want = circle ? CircleReference(s, bg) : PentagonReference(s, bg);
    ExpectHeaderLike(src.get(), out, want.w, want.h);
    EXPECT_EQ(FirstDifference(ValuesOf(out), want), "");
    EXPECT_EQ(BlockBytes(src.get()), before);
}

std::string RefName(const ::testing::TestParamInfo<RefParam>& info) {
    const auto& [circle, bits, size] = info.param;
    return std::string(circle ? "Circle_" : "Pentagon_") + SizeName(bits, size.w, size.h);
}

INSTANTIATE_TEST_SUITE_P(CircleSizes, ShapeReference,
                         ::testing::Combine(::testing::Values(true), ::testing::Values(8, 24),
                                            ::testing::ValuesIn(TestSizes())),
                         RefName);

const Size kPentagonSizes[] = {{5, 5},   {5, 40},  {40, 5}, {33, 17},  {17, 33},
                               {301, 6}, {64, 31}, {7, 9},  {120, 118}};

INSTANTIATE_TEST_SUITE_P(PentagonSizes, ShapeReference,
                         ::testing::Combine(::testing::Values(false), ::testing::Values(8, 24),
                                            ::testing::ValuesIn(kPentagonSizes)),
                         RefName);

// ---- Weights add up ----

TEST(Shapes, FlatImageStaysFlat) {
    for (int bits : {8, 24})
        for (int w : {1, 2, 5, 6, 17, 40})
            for (int h : {1, 3, 5, 9, 40}) {
                KOwnedHandle src(Flat(w, h, bits, 255, 1, 254));
                for (ShapeFn fn : {CircleDIB, PentagonDIB}) {
                    if (fn == PentagonDIB && (w < 5 || h < 5)) continue;
                    const Grid got = Shaped(fn, src.get(), 255, 1, 254);
                    const std::vector<uint8_t> want = BackgroundBytes(bits, 255, 1, 254);
                    for (size_t i = 0; i < got.v.size(); ++i)
                        ASSERT_EQ(got.v[i], want[i % want.size()]) << SizeName(bits, w, h);
                }
            }
}

// ---- Contract ----

TEST(ShapesContract, PentagonNeedsFiveByFive) {
    LeakCheck leaks;
    for (const Size& size : {Size{4, 5}, Size{5, 4}, Size{1, 1}, Size{4, 400}, Size{400, 4}}) {
        KOwnedHandle src(Random(size.w, size.h, 24, 1));
        ExpectRefused([&](KHANDLE* out) { return PentagonDIB(nullptr, src.get(), out, 0, 0, 0); },
                      101, SizeName(24, size.w, size.h));
    }
}

TEST(ShapesContract, RefusalsFailuresAndStops) {
    const Op circle = [](StatusControlBlock* s, KHANDLE src, KHANDLE* out) {
        return CircleDIB(s, src, out, 1, 2, 3);
    };
    const Op pentagon = [](StatusControlBlock* s, KHANDLE src, KHANDLE* out) {
        return PentagonDIB(s, src, out, 1, 2, 3);
    };
    ExpectRefusals(circle);
    ExpectRefusals(pentagon);
    ExpectContract(circle, 9, 7, 6);   // 2R = 6 rows
    ExpectContract(pentagon, 9, 7, 5); // r = int(3.68), Rp = 3, H' = 3 + 2
}

} // namespace
