#include "imaging/perspective.h"
#include "tests/imaging/deform_test_support.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace deform_test;

namespace {

using PerspectiveFn = KervErrorCode (*)(StatusControlBlock*, KHANDLE, KHANDLE*, uint8_t, int16_t,
                                        uint8_t, uint8_t, uint8_t);

// Output pixel j of a line squeezed with `step` units a source pixel.
uint8_t Squeezed(const Grid& s, bool column, int64_t line, int64_t j, int64_t step, int ch) {
    const int64_t n = column ? s.h : s.w;
    int64_t sum = 0;
    for (const auto& [i, share] : IntervalShares(j, 100000, step, n))
        sum += share * (column ? s.at(line, i, ch) : s.at(i, line, ch));
    return uint8_t(sum / 100000);
}

// Both perspectives as their steps read, one output line at a time.
Grid Reference(const Grid& s, bool horizontal, int side, int amount,
               const std::vector<uint8_t>& bg) {
    const int64_t L = horizontal ? s.h : s.w; // the length that is shortened
    const int64_t n = horizontal ? s.w : s.h; // lines
    const int64_t sN = std::max<int64_t>(1, (100 - amount) * L / 100);
    Grid o(s.w, s.h, s.c);
    for (int64_t line = 0; line < n; ++line) {
        int64_t from, to;
        if (horizontal) {
            const int64_t h = (L - sN) / 2;
            const auto k = int64_t(float(line) * (float(h) / float(n)));
            from = side == 0 ? h - k : k;
            to = side == 0 ? L - h + k : L - k;
        } else if ((L - sN) / 2 == 0) {
            from = 0, to = L; // nothing to shorten: the row is copied
        } else {
            const int64_t h = (L - sN) / 2;
            const float m = float(n) / float(h), y = float(line);
            if (side == 0) {
                from = int64_t(y / m);
                to = int64_t((y - float(int64_t(float(L) * m))) / -m);
            } else {
                from = int64_t((y - float(int64_t(float(h) * m))) / -m);
                to = int64_t((y - float(int64_t(-float(L - h) * m))) / m);
            }
        }
        const int64_t step = std::max<int64_t>(1, (to - from) * 100000 / L);
        for (int64_t i = 0; i < L; ++i)
            for (int ch = 0; ch < s.c; ++ch) {
                const bool inside = i >= from && i <= to;
                const uint8_t v =
                    inside ? Squeezed(s, horizontal, line, i - from, step, ch) : bg[size_t(ch)];
                (horizontal ? o.at(line, i, ch) : o.at(i, line, ch)) = v;
            }
    }
    return o;
}

Grid Deformed(PerspectiveFn fn, KHANDLE src, int side, int amount, uint8_t r, uint8_t g,
              uint8_t b) {
    KHANDLE out = nullptr;
    EXPECT_EQ(fn(nullptr, src, &out, uint8_t(side), int16_t(amount), r, g, b), 0);
    KOwnedHandle owner(out);
    return out ? ValuesOf(out) : Grid();
}

// ---- Hand-worked examples ----

// A grey column image whose stored row i holds 10 i + 3; background 200.
// Amount 100 on 10 rows: s = 1, h = 4, a = 4 / W. Expected stored rows 0..9
// of one column, -1 for background.
struct HandCase {
    const char* name;
    int width, side, column;
    std::vector<int> rows;
};

const HandCase kHandH[] = {
    // x = 0, side 0: rows 4..6, step 20,000: five rows, five rows, the last.
    {"LeftEdgeOfOneColumn", 1, 0, 0, {-1, -1, -1, -1, 23, 73, 93, -1, -1, -1}},
    // Side 1 leaves column 0 whole: rows 0..10 at step 100,000.
    {"RightSideLeavesColumnZero", 3, 1, 0, {3, 13, 23, 33, 43, 53, 63, 73, 83, 93}},
    // a = 4/3: x = 1 fills rows 3..7 at step 40,000 (4 + 4 + 2 tenths).
    {"SecondColumnStepForty", 3, 0, 1, {-1, -1, -1, 11, 35, 61, 85, 93, -1, -1}},
    // x = 2 fills rows 2..8 at step 60,000 (6 + 4, 2 + 6 + 2, ...).
    {"ThirdColumnStepSixty", 3, 0, 2, {-1, -1, 7, 23, 39, 57, 73, 89, 93, -1}},
    // Side 1, x = 2: rows 2..8, the same squeeze as side 0's third column.
    {"RightSideThirdColumn", 3, 1, 2, {-1, -1, 7, 23, 39, 57, 73, 89, 93, -1}},
};

void PrintTo(const HandCase& c, std::ostream* os) {
    *os << c.name;
}

class HPerspectiveHand : public ::testing::TestWithParam<HandCase> {};

TEST_P(HPerspectiveHand, AmountHundredOnTenRows) {
    const HandCase& c = GetParam();
    KOwnedHandle src(Flat(c.width, 10, 8, 0, 0, 0));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < c.width; ++x)
            DIBLock(src.get()).row(y)[x] = uint8_t(10 * y + 3);
    const Grid got = Deformed(HPerspectiveDIB, src.get(), c.side, 100, 200, 0, 0);
    ASSERT_EQ(got.h, 10);
    for (int y = 0; y < 10; ++y)
        EXPECT_EQ(got.at(c.column, y, 0), c.rows[size_t(y)] < 0 ? 200 : c.rows[size_t(y)])
            << "stored row " << y;
}

std::string HandName(const ::testing::TestParamInfo<HandCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Columns, HPerspectiveHand, ::testing::ValuesIn(kHandH), HandName);

TEST(VPerspectiveHand, TenColumnsEightRowsAmountHundred) {
    // Stored row values 20 x + 5. s = 1, h = 4, m = 2 exactly.
    KOwnedHandle src(Flat(10, 8, 8, 0, 0, 0));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x)
            DIBLock(src.get()).row(y)[x] = uint8_t(20 * x + 5);
    struct Row {
        int side, y;
        std::vector<int> values; // -1: background 9
    };
    const Row rows[] = {
        // Top edge short. Row 0: left 0, right 10, a copy.
        {0, 0, {5, 25, 45, 65, 85, 105, 125, 145, 165, 185}},
        // Row 7: left 3, right int(6.5) = 6, step 30,000.
        {0, 7, {-1, -1, -1, 29, 95, 161, 185, -1, -1, -1}},
        // Bottom edge short. Row 0: c0 = 8, c1 = -12: columns 4..6, step
        // 20,000: five pixels, five pixels, the last.
        {1, 0, {-1, -1, -1, -1, 45, 145, 185, -1, -1, -1}},
        // Row 7: left int(0.5) = 0, right int(9.5) = 9, step 90,000.
        {1, 7, {7, 29, 51, 73, 95, 117, 139, 161, 183, 185}},
    };
    for (const Row& r : rows) {
        const Grid got = Deformed(VPerspectiveDIB, src.get(), r.side, 100, 9, 0, 0);
        ASSERT_EQ(got.w, 10);
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(got.at(x, r.y, 0), r.values[size_t(x)] < 0 ? 9 : r.values[size_t(x)])
                << "side " << r.side << ", stored row " << r.y << ", column " << x;
    }
}

// ---- Against the reference ----

struct Setting {
    bool horizontal;
    int side, amount;
};

void PrintTo(const Setting& s, std::ostream* os) {
    *os << (s.horizontal ? "horizontal" : "vertical") << " side " << s.side << " amount "
        << s.amount;
}

using RefParam = std::tuple<int, Size, Setting>;

class PerspectiveReference : public ::testing::TestWithParam<RefParam> {};

TEST_P(PerspectiveReference, MatchesTheSteps) {
    const auto& [bits, size, set] = GetParam();
    KOwnedHandle src(Random(size.w, size.h, bits, uint32_t(size.w * 31 + size.h + set.amount)));
    const std::vector<uint8_t> before = BlockBytes(src.get());
    KHANDLE out = nullptr;
    const PerspectiveFn fn = set.horizontal ? HPerspectiveDIB : VPerspectiveDIB;
    ASSERT_EQ(fn(nullptr, src.get(), &out, uint8_t(set.side), int16_t(set.amount), 10, 20, 30), 0);
    KOwnedHandle owner(out);
    ExpectHeaderLike(src.get(), out, size.w, size.h);
    const Grid want = Reference(ValuesOf(src.get()), set.horizontal, set.side, set.amount,
                                BackgroundBytes(bits, 10, 20, 30));
    EXPECT_EQ(FirstDifference(ValuesOf(out), want), "");
    EXPECT_EQ(BlockBytes(src.get()), before);
}

const Setting kSettings[] = {{true, 0, 3},  {true, 1, 27},  {true, 0, 64},  {true, 1, 100},
                             {false, 0, 3}, {false, 1, 27}, {false, 0, 64}, {false, 1, 100}};

std::string RefName(const ::testing::TestParamInfo<RefParam>& info) {
    const auto& [bits, size, set] = info.param;
    return std::string(set.horizontal ? "H" : "V") + "_side" + std::to_string(set.side) +
           "_amount" + std::to_string(set.amount) + "_" + SizeName(bits, size.w, size.h);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PerspectiveReference,
                         ::testing::Combine(::testing::Values(8, 24),
                                            ::testing::ValuesIn(TestSizes()),
                                            ::testing::ValuesIn(kSettings)),
                         RefName);

// The horizontal perspective goes through the columns in bands of a few
// kilobytes; rows wider than one band (1024 pixels at 24 bits, 3072 at 8)
// carry every column's stream across band boundaries.
TEST(Perspective, RowsWiderThanABand) {
    struct Case {
        int bits, w, h;
    };
    for (const Case& c : {Case{24, 2100, 5}, Case{8, 3100, 4}, Case{24, 1025, 3}})
        for (int side = 0; side <= 1; ++side) {
            KOwnedHandle src(Random(c.w, c.h, c.bits, uint32_t(c.w + side)));
            const Grid got = Deformed(HPerspectiveDIB, src.get(), side, 60, 1, 2, 3);
            const Grid want =
                Reference(ValuesOf(src.get()), true, side, 60, BackgroundBytes(c.bits, 1, 2, 3));
            EXPECT_EQ(FirstDifference(got, want), "")
                << SizeName(c.bits, c.w, c.h) << " side " << side;
        }
}

// ---- Weights add up ----

TEST(Perspective, FlatImageStaysFlatForEveryAmountAndSide) {
    for (const Size& size : {Size{13, 11}, Size{2, 29}, Size{40, 3}})
        for (int bits : {8, 24}) {
            KOwnedHandle src(Flat(size.w, size.h, bits, 255, 7, 130));
            const Grid want = ValuesOf(src.get());
            for (int side = 0; side <= 1; ++side)
                for (int amount = 3; amount <= 100; ++amount)
                    for (PerspectiveFn fn : {HPerspectiveDIB, VPerspectiveDIB})
                        ASSERT_EQ(FirstDifference(
                                      Deformed(fn, src.get(), side, amount, 255, 7, 130), want),
                                  "")
                            << SizeName(bits, size.w, size.h) << " side " << side << " amount "
                            << amount;
        }
}

// The slopes are single precision: where a float product falls just short
// of a whole number the line is one pixel shorter at each end than exact
// arithmetic would make it.
TEST(Perspective, SlopesAreSinglePrecision) {
    struct Case {
        const char* name;
        PerspectiveFn fn;
        int w, h, amount, line, first, last;
    };
    const Case cases[] = {
        // h = 14, a = 14 / 46: 23 x a is 6.9999995 in float (7 exactly), so
        // column 23 fills rows 14 - 6 .. 29 - 14 + 6.
        {"HorizontalColumn23", HPerspectiveDIB, 46, 29, 100, 23, 8, 21},
        // h = 7, m = 2 / 7, c = int(15 m) = 4: row 0 ends at int(4 / m),
        // 13.999999 in float (14 exactly).
        {"VerticalRow0", VPerspectiveDIB, 15, 2, 90, 0, 0, 13},
    };
    for (const Case& c : cases) {
        KOwnedHandle src(Flat(c.w, c.h, 8, 50, 0, 0));
        const Grid got = Deformed(c.fn, src.get(), 0, c.amount, 9, 0, 0);
        const int n = c.fn == HPerspectiveDIB ? c.h : c.w;
        for (int i = 0; i < n; ++i) {
            const uint8_t v = c.fn == HPerspectiveDIB ? got.at(c.line, i, 0) : got.at(i, c.line, 0);
            EXPECT_EQ(v, i >= c.first && i <= c.last ? 50 : 9) << c.name << " at " << i;
        }
    }
}

// ---- Settled edges ----

// A column longer than 100,000 rows: amount 100 leaves bottom - top = 1,
// whose step 100,000 / H would be 0 units and stall the stream; it is 1.
TEST(Perspective, ColumnsLongerThanTheFullWeightStillAdvance) {
    const int H = 100001;
    KOwnedHandle src(AllocDIB(1, H, 8, 256));
    {
        DIBLock d(src.get());
        for (int y = 0; y < H; ++y)
            d.row(y)[0] = uint8_t(y < 100000 ? (y % 2 ? 250 : 0) : 77);
    }
    const Grid got = Deformed(HPerspectiveDIB, src.get(), 0, 100, 1, 0, 0);
    ASSERT_EQ(got.h, H);
    // Rows 50000 and 50001 are filled: the first takes one unit from each
    // of the first 100,000 rows (their mean, 125), the second the last row.
    EXPECT_EQ(got.at(0, 50000, 0), 125);
    EXPECT_EQ(got.at(0, 50001, 0), 77);
    EXPECT_EQ(got.at(0, 49999, 0), 1);
    EXPECT_EQ(got.at(0, 50002, 0), 1);
}

// Widths 1 and 2 (and a small amount on a narrow image) have h = 0: no
// slope, m = H / 0. The rows come back whole.
TEST(Perspective, VerticalOnImagesTooNarrowToShortenIsACopy) {
    struct Case {
        int w, amount;
    };
    for (const Case& c : {Case{1, 100}, Case{2, 100}, Case{2, 3}, Case{33, 3}})
        for (int bits : {8, 24})
            for (int side = 0; side <= 1; ++side) {
                KOwnedHandle src(Random(c.w, 6, bits, 5));
                EXPECT_EQ(
                    FirstDifference(Deformed(VPerspectiveDIB, src.get(), side, c.amount, 1, 2, 3),
                                    ValuesOf(src.get())),
                    "")
                    << "width " << c.w << " amount " << c.amount << " " << bits << " bits";
            }
}

// ---- Contract ----

TEST(PerspectiveContract, ParametersOutsideTheirRanges) {
    LeakCheck leaks;
    KOwnedHandle src(Random(8, 8, 24, 3));
    struct Case {
        int side, amount;
    };
    for (PerspectiveFn fn : {HPerspectiveDIB, VPerspectiveDIB})
        for (const Case& c : {Case{0, 2}, Case{1, 101}, Case{0, -3}, Case{0, 0}, Case{1, -100},
                              Case{2, 50}, Case{255, 3}})
            ExpectRefused(
                [&](KHANDLE* out) {
                    return fn(nullptr, src.get(), out, uint8_t(c.side), int16_t(c.amount), 0, 0, 0);
                },
                101, "side " + std::to_string(c.side) + " amount " + std::to_string(c.amount));
}

TEST(PerspectiveContract, RefusalsFailuresAndStops) {
    for (PerspectiveFn fn : {HPerspectiveDIB, VPerspectiveDIB}) {
        const Op op = [fn](StatusControlBlock* s, KHANDLE src, KHANDLE* out) {
            return fn(s, src, out, 1, 40, 1, 2, 3);
        };
        ExpectRefusals(op);
        // Progress: 9 columns for the horizontal one, 5 rows for the vertical.
        ExpectContract(op, 9, 5, fn == HPerspectiveDIB ? 9 : 5);
    }
}

} // namespace
