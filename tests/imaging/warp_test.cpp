#include "imaging/warp.h"
#include "tests/imaging/deform_test_support.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace deform_test;

namespace {

using Shares = std::vector<std::vector<std::pair<int64_t, int64_t>>>;

// One direction's stream as the steps read: the first source pixel supplies
// the index, a used-up pixel gives way to the next (never past the last)
// with the step of the output pixel being built. Index 0 and a single
// pixel are copied (steps of 100).
Shares Streamed(int index, int64_t n) {
    auto step = [&](int64_t c) -> int64_t {
        if (index == 0 || n == 1) return 100;
        const int64_t tx = WarpStepTable[index], cx = n / 2;
        const double sx = double(tx) / double(cx);
        const int64_t s = int64_t(double(c) * sx) + index;
        return c >= cx ? 2 * (tx + index) - s : s;
    };
    Shares out(static_cast<size_t>(n));
    int64_t pos = 0, rem = step(0);
    for (int64_t o = 0; o < n; ++o)
        for (int64_t need = 100; need > 0;) {
            if (rem == 0) {
                pos = std::min(pos + 1, n - 1);
                rem = step(o);
            }
            const int64_t take = std::min(need, rem);
            out[size_t(o)].emplace_back(pos, take);
            need -= take;
            rem -= take;
        }
    return out;
}

Grid Reference(const Grid& s, int x, int y) {
    const Shares across = Streamed(x, s.w), down = Streamed(y, s.h);
    Grid o(s.w, s.h, s.c);
    for (int r = 0; r < s.h; ++r)
        for (int c = 0; c < s.w; ++c)
            for (int ch = 0; ch < s.c; ++ch) {
                int64_t sum = 0;
                for (const auto& [i, vs] : down[size_t(r)])
                    for (const auto& [j, hs] : across[size_t(c)])
                        sum += s.at(j, i, ch) * hs * vs;
                o.at(c, r, ch) = uint8_t(sum / 10000);
            }
    return o;
}

Grid Warped(KHANDLE src, int x, int y) {
    KHANDLE out = nullptr;
    EXPECT_EQ(WarpDIB(nullptr, src, &out, int16_t(x), int16_t(y)), 0) << x << ", " << y;
    KOwnedHandle owner(out);
    return out ? ValuesOf(out) : Grid();
}

// A grey line along one direction, stored in pixel order.
KHANDLE Line(const std::vector<int>& values, bool across) {
    const int n = int(values.size());
    KHANDLE h = Flat(across ? n : 1, across ? 1 : n, 8, 0, 0, 0);
    DIBLock d(h);
    for (int i = 0; i < n; ++i)
        (across ? d.row(0)[i] : d.row(i)[0]) = uint8_t(values[size_t(i)]);
    return h;
}

TEST(WarpTable, EntriesReadAsGivenAndFallFromOneOn) {
    struct Entry {
        int index, value;
    };
    for (const Entry& e : {Entry{0, 0}, Entry{1, 680}, Entry{19, 270}, Entry{20, 260},
                           Entry{76, 54}, Entry{99, 2}, Entry{100, 0}, Entry{101, -2},
                           Entry{150, -87}, Entry{179, -132}, Entry{180, -133}, Entry{200, -160}})
        EXPECT_EQ(WarpStepTable[e.index], e.value) << "index " << e.index;
    for (int i = 2; i <= 200; ++i)
        EXPECT_LT(WarpStepTable[i], WarpStepTable[i - 1]) << "index " << i;
}

// ---- Hand-worked lines ----

// Four grey pixels 0, 100, 200, 255 along one direction, the other left
// alone (index 100).
struct HandCase {
    const char* name;
    int index;
    bool across;
    std::vector<int> want;
};

// Index 150: tx = -87, cx = 2, steps 150, 107, 63, 106. Column 0 gives 100
// then 50; column 1 (step 107) 50 then 57; column 2 (step 63) 43 then 20;
// the last column the rest.
// Index 50: tx = 126, steps 50, 113, 176, 113. Column 0 gives 50, column 1
// (step of output 0: 50) the other 50 and is used up exactly; column 2
// starts with output 1, supplying its step 113: 100, then 13; the last
// column the rest.
const HandCase kHand[] = {
    {"PinchAcross", 150, true, {0, 50, 143, 244}},
    {"PinchDown", 150, false, {0, 50, 143, 244}},
    {"PunchAcross", 50, true, {50, 200, 247, 255}},
    {"PunchDown", 50, false, {50, 200, 247, 255}},
    {"NeutralAcross", 100, true, {0, 100, 200, 255}},
    {"IndexZeroDown", 0, false, {0, 100, 200, 255}},
};

void PrintTo(const HandCase& c, std::ostream* os) {
    *os << c.name;
}

class WarpHand : public ::testing::TestWithParam<HandCase> {};

TEST_P(WarpHand, FourPixelLine) {
    const HandCase& c = GetParam();
    KOwnedHandle src(Line({0, 100, 200, 255}, c.across));
    const Grid got = Warped(src.get(), c.across ? c.index : 100, c.across ? 100 : c.index);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(c.across ? got.at(i, 0, 0) : got.at(0, i, 0), c.want[size_t(i)]) << i;
}

std::string HandName(const ::testing::TestParamInfo<HandCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Lines, WarpHand, ::testing::ValuesIn(kHand), HandName);

// ---- Identities and directions ----

TEST(Warp, NeutralAndZeroIndexesGiveTheImageBack) {
    struct Case {
        int x, y;
    };
    for (const Size& size : TestSizes())
        for (int bits : {8, 24}) {
            KOwnedHandle src(Random(size.w, size.h, bits, 4));
            for (const Case& c : {Case{100, 100}, Case{0, 0}, Case{0, 100}, Case{100, 0}})
                EXPECT_EQ(FirstDifference(Warped(src.get(), c.x, c.y), ValuesOf(src.get())), "")
                    << SizeName(bits, size.w, size.h) << " indexes " << c.x << ", " << c.y;
        }
}

// Where a bright line a quarter of the way in ends up: the weighted mean
// position of the output.
double Centre(const Grid& g, bool across) {
    double sum = 0, weight = 0;
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            sum += g.at(x, y, 0) * double(across ? x : y);
            weight += g.at(x, y, 0);
        }
    return sum / weight;
}

TEST(Warp, PinchAndPunchBendOppositeWays) {
    // Punch enlarges the middle, so the edges shrink and the line moves
    // out towards them; pinch does the opposite.
    for (bool across : {true, false}) {
        std::vector<int> values(41, 0);
        values[10] = 255;
        KOwnedHandle src(Line(values, across));
        for (int e : {10, 30, 60, 99}) {
            const double punched = Centre(Warped(src.get(), 100 - e, 100 - e), across);
            const double pinched = Centre(Warped(src.get(), 100 + e, 100 + e), across);
            EXPECT_LT(punched, 10.0) << "punch " << e;
            EXPECT_GT(pinched, 10.0) << "pinch " << e;
        }
    }
}

// ---- Against the reference ----

struct Indexes {
    int x, y;
};

void PrintTo(const Indexes& ix, std::ostream* os) {
    *os << "indexes " << ix.x << ", " << ix.y;
}

using RefParam = std::tuple<int, Size, Indexes>;

class WarpReference : public ::testing::TestWithParam<RefParam> {};

TEST_P(WarpReference, MatchesTheStreams) {
    const auto& [bits, size, ix] = GetParam();
    KOwnedHandle src(Random(size.w, size.h, bits, uint32_t(size.w * 7 + size.h * 3 + ix.x)));
    const std::vector<uint8_t> before = BlockBytes(src.get());
    KHANDLE out = nullptr;
    ASSERT_EQ(WarpDIB(nullptr, src.get(), &out, int16_t(ix.x), int16_t(ix.y)), 0);
    KOwnedHandle owner(out);
    ExpectHeaderLike(src.get(), out, size.w, size.h);
    EXPECT_EQ(FirstDifference(ValuesOf(out), Reference(ValuesOf(src.get()), ix.x, ix.y)), "");
    EXPECT_EQ(BlockBytes(src.get()), before);
}

// Cylinders (100, 100 - e) and (100 - e, 100), pinch, punch, the extremes.
// (24, 3) on 15 x 26: cx * (tx / cx) falls just short of tx in double for
// cx = 7 (tx 230) and cy = 13 (tx 480), so the middle column and row take
// the mirrored step, which differs there from the rising one.
const Indexes kIndexes[] = {{100, 37}, {163, 100}, {150, 150}, {50, 50},  {1, 1}, {200, 200},
                            {0, 180},  {139, 2},   {2, 139},   {101, 99}, {24, 3}};

std::string RefName(const ::testing::TestParamInfo<RefParam>& info) {
    const auto& [bits, size, ix] = info.param;
    return "x" + std::to_string(ix.x) + "_y" + std::to_string(ix.y) + "_" +
           SizeName(bits, size.w, size.h);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WarpReference,
                         ::testing::Combine(::testing::Values(8, 24),
                                            ::testing::ValuesIn(TestSizes()),
                                            ::testing::ValuesIn(kIndexes)),
                         RefName);

// ---- Weights add up, streams never stall ----

// Every index across, paired with itself and with its mirror down.
TEST(Warp, FlatImageStaysFlatForEveryIndex) {
    for (const Size& size :
         {Size{1, 1}, Size{1, 7}, Size{7, 1}, Size{2, 2}, Size{3, 5}, Size{33, 17}})
        for (int bits : {8, 24}) {
            KOwnedHandle src(Flat(size.w, size.h, bits, 255, 0, 131));
            const Grid want = ValuesOf(src.get());
            for (int x = 0; x <= 200; ++x)
                for (int y : {x, 200 - x})
                    ASSERT_EQ(FirstDifference(Warped(src.get(), x, y), want), "")
                        << SizeName(bits, size.w, size.h) << " indexes " << x << ", " << y;
        }
}

// ---- Contract ----

TEST(WarpContract, IndexesOutsideTheTable) {
    LeakCheck leaks;
    KOwnedHandle src(Random(8, 8, 24, 3));
    for (const Indexes& ix : {Indexes{-1, 100}, Indexes{201, 100}, Indexes{100, 250},
                              Indexes{100, -50}, Indexes{-32768, 0}, Indexes{0, 32767}})
        ExpectRefused(
            [&](KHANDLE* out) {
                return WarpDIB(nullptr, src.get(), out, int16_t(ix.x), int16_t(ix.y));
            },
            101, std::to_string(ix.x) + ", " + std::to_string(ix.y));
}

TEST(WarpContract, RefusalsFailuresAndStops) {
    const Op op = [](StatusControlBlock* s, KHANDLE src, KHANDLE* out) {
        return WarpDIB(s, src, out, 130, 60);
    };
    ExpectRefusals(op);
    ExpectContract(op, 6, 7, 7); // progress: output rows
}

} // namespace
