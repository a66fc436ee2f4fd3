#include "imaging/rank.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

using namespace brellix::test;

namespace {

enum class Op { Erode, Median, Dilate, Despeckle };

const char* OpName(Op op) {
    switch (op) {
    case Op::Erode:
        return "Erode";
    case Op::Median:
        return "Median";
    case Op::Dilate:
        return "Dilate";
    default:
        return "Despeckle";
    }
}

KervErrorCode RunOp(Op op, StatusControlBlock* status, KHANDLE src, KHANDLE* out) {
    switch (op) {
    case Op::Erode:
        return RankFilterDIB(status, src, out, 0);
    case Op::Median:
        return RankFilterDIB(status, src, out, 1);
    case Op::Dilate:
        return RankFilterDIB(status, src, out, 2);
    default:
        return DespeckleDIB(status, src, out);
    }
}

KHANDLE Filtered(Op op, KHANDLE src) {
    KHANDLE out = nullptr;
    EXPECT_EQ(RunOp(op, nullptr, src, &out), KERV_OK) << OpName(op);
    return out;
}

// The filters as the rules state them: gather the nine window values
// (indexes clamped to the image), sort them, pick.
Samples Reference(const Samples& in, Op op) {
    Samples out = in;
    for (int r = 0; r < in.h; ++r)
        for (int x = 0; x < in.w; ++x)
            for (int ch = 0; ch < in.c; ++ch) {
                std::vector<int> nine;
                for (int dr = -1; dr <= 1; ++dr)
                    for (int dx = -1; dx <= 1; ++dx)
                        nine.push_back(in.at(std::clamp(r + dr, 0, in.h - 1),
                                             std::clamp(x + dx, 0, in.w - 1), ch));
                const int centre = in.at(r, x, ch);
                int sum = 0;
                for (int v : nine)
                    sum += v;
                std::sort(nine.begin(), nine.end());
                int value = 0;
                switch (op) {
                case Op::Erode:
                    value = nine[0];
                    break;
                case Op::Median:
                    value = nine[4];
                    break;
                case Op::Dilate:
                    value = nine[8];
                    break;
                case Op::Despeckle: {
                    const int mean = (sum - centre) >> 3;
                    value = std::abs(mean - centre) > 48 ? nine[4] : centre;
                    break;
                }
                }
                out.at(r, x, ch) = uint8_t(value);
            }
    return out;
}

// An image from rows of grey levels, top row first; 24 bits repeat the
// level in blue, green and red.
KHANDLE FromLevels(int bits, const std::vector<std::vector<int>>& levels) {
    Rows rows;
    for (const auto& line : levels) {
        rows.emplace_back();
        for (int v : line)
            rows.back().push_back(bits == 24 ? uint32_t(v) * 0x010101u : uint32_t(v));
    }
    return FromRows(bits, rows, bits == 8);
}

std::vector<std::vector<int>> Levels(KHANDLE h, int channel = 0) {
    std::vector<std::vector<int>> levels;
    for (const auto& row : PixelRows(h)) {
        levels.emplace_back();
        for (uint32_t v : row)
            levels.back().push_back(int((v >> (8 * channel)) & 255));
    }
    return levels;
}

// ---- Against the reference on random images ----

struct RandomCase {
    Op op;
    int bits, w, h;
};

void PrintTo(const RandomCase& c, std::ostream* os) {
    *os << OpName(c.op) << " " << c.bits << " bits " << c.w << "x" << c.h;
}

class RankMatchesReference : public testing::TestWithParam<RandomCase> {};

TEST_P(RankMatchesReference, EveryByteOfTheBlock) {
    const RandomCase& c = GetParam();
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(c.w, c.h, c.bits, uint32_t(c.w * 131 + c.h), c.bits == 8));
    const std::vector<uint8_t> before = BlockBytes(src.get());
    KOwnedHandle out(Filtered(c.op, src.get()));
    ASSERT_NE(out.get(), nullptr);
    EXPECT_EQ(BlockBytes(out.get()),
              BlockWithSamples(src.get(), Reference(SamplesOf(src.get()), c.op)));
    EXPECT_EQ(BlockBytes(src.get()), before);
}

std::vector<RandomCase> RandomCases() {
    const std::pair<int, int> sizes[] = {{1, 3}, {2, 3},   {3, 3},  {1, 9},   {3, 5},
                                         {7, 3}, {33, 17}, {67, 4}, {130, 5}, {301, 3}};
    std::vector<RandomCase> cases;
    for (Op op : {Op::Erode, Op::Median, Op::Dilate, Op::Despeckle})
        for (int bits : {8, 24})
            for (auto [w, h] : sizes)
                cases.push_back({op, bits, w, h});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Sizes, RankMatchesReference, testing::ValuesIn(RandomCases()),
                         [](const testing::TestParamInfo<RandomCase>& i) {
                             return std::string(OpName(i.param.op)) + "_" +
                                    std::to_string(i.param.bits) + "bit_" +
                                    std::to_string(i.param.w) + "x" + std::to_string(i.param.h);
                         });

// Low-contrast images, where despeckle mostly keeps samples and the
// threshold decides often.
TEST(RankMatchesReference, DespeckleOnLowContrastImages) {
    for (int bits : {8, 24}) {
        KOwnedHandle src(MakeRandomDIB(45, 11, bits, 9, bits == 8));
        {
            DIBLock d(src.get());
            for (int r = 0; r < d.height(); ++r)
                for (uint32_t i = 0; i < d.stride(); ++i)
                    d.row(r)[i] = uint8_t(100 + d.row(r)[i] % 120);
        }
        KOwnedHandle out(Filtered(Op::Despeckle, src.get()));
        EXPECT_EQ(BlockBytes(out.get()),
                  BlockWithSamples(src.get(), Reference(SamplesOf(src.get()), Op::Despeckle)))
            << bits;
    }
}

// ---- Hand-computed pictures ----

struct PictureCase {
    std::string name;
    Op op;
    std::vector<std::vector<int>> in, want;
};

void PrintTo(const PictureCase& c, std::ostream* os) {
    *os << c.name;
}

class RankPictures : public testing::TestWithParam<std::tuple<PictureCase, int>> {};

TEST_P(RankPictures, GiveTheHandComputedLevels) {
    const auto& [c, bits] = GetParam();
    KOwnedHandle src(FromLevels(bits, c.in));
    KOwnedHandle out(Filtered(c.op, src.get()));
    ASSERT_NE(out.get(), nullptr);
    for (int ch = 0; ch < (bits == 24 ? 3 : 1); ++ch)
        EXPECT_EQ(Levels(out.get(), ch), c.want) << "channel " << ch;
}

const std::vector<std::vector<int>> kDot = {
    {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 255, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}};
const std::vector<std::vector<int>> kBlack(5, std::vector<int>(5, 0));
const std::vector<std::vector<int>> kSquare = {{0, 0, 0, 0, 0},
                                               {0, 255, 255, 255, 0},
                                               {0, 255, 255, 255, 0},
                                               {0, 255, 255, 255, 0},
                                               {0, 0, 0, 0, 0}};
// One column: the window of a sample is its vertical neighbours, each
// three times over (the column is its own left and right neighbour).
const std::vector<std::vector<int>> kColumn = {{10}, {200}, {30}, {40}, {250}};

std::vector<PictureCase> PictureCases() {
    return {
        {"WhiteDotErodedAway", Op::Erode, kDot, kBlack},
        {"WhiteDotDilatedToASquare", Op::Dilate, kDot, kSquare},
        {"WhiteDotMedianRemoves", Op::Median, kDot, kBlack},
        // Each neighbour's mean is 255 / 8 = 31 from its own 0: kept.
        {"WhiteDotDespeckled", Op::Despeckle, kDot, kBlack},
        {"ColumnErode", Op::Erode, kColumn, {{10}, {10}, {30}, {30}, {40}}},
        {"ColumnDilate", Op::Dilate, kColumn, {{200}, {200}, {200}, {250}, {250}}},
        {"ColumnMedian", Op::Median, kColumn, {{10}, {30}, {40}, {40}, {250}}},
        // Means of the neighbours 81, 65, 97, 115, 171: all more than 48 away.
        {"ColumnDespeckle", Op::Despeckle, kColumn, {{10}, {30}, {40}, {40}, {250}}},
        // Corner dot: replicated edges give it 4 of the 9 window places.
        {"CornerDotMedianRemoves",
         Op::Median,
         {{255, 0, 0}, {0, 0, 0}, {0, 0, 0}},
         {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}},
        {"CornerDotDilated",
         Op::Dilate,
         {{255, 0, 0}, {0, 0, 0}, {0, 0, 0}},
         {{255, 255, 0}, {255, 255, 0}, {0, 0, 0}}},
        // The block's inner corner sees 4 white samples of 9; its other
        // pixels see 6 (the edge counts twice).
        {"CornerBlockMedianLosesItsInnerCorner",
         Op::Median,
         {{255, 255, 0}, {255, 255, 0}, {0, 0, 0}},
         {{255, 255, 0}, {255, 0, 0}, {0, 0, 0}}},
        {"FlatImageUnchanged",
         Op::Median,
         {{77, 77, 77}, {77, 77, 77}, {77, 77, 77}},
         {{77, 77, 77}, {77, 77, 77}, {77, 77, 77}}},
    };
}

INSTANTIATE_TEST_SUITE_P(Pictures, RankPictures,
                         testing::Combine(testing::ValuesIn(PictureCases()),
                                          testing::Values(8, 24)),
                         [](const testing::TestParamInfo<std::tuple<PictureCase, int>>& i) {
                             return std::get<0>(i.param).name + "_" +
                                    std::to_string(std::get<1>(i.param)) + "bit";
                         });

// ---- The despeckle threshold ----

struct ThresholdCase {
    std::string name;
    int centre;
    int oddNeighbour; // one neighbour's level; the other seven are 100
    int want;
};

void PrintTo(const ThresholdCase& c, std::ostream* os) {
    *os << c.name;
}

class DespeckleThreshold : public testing::TestWithParam<std::tuple<ThresholdCase, int, int>> {};

// A 20-wide image of 100s with the centre at column x and the odd neighbour
// right of it: column 1 lies in the first sixteen samples of a row, column
// 18 in the row's tail at both depths, so both code paths decide.
TEST_P(DespeckleThreshold, DecidesOnTheRoundedDownMean) {
    const auto& [c, bits, x] = GetParam();
    std::vector<std::vector<int>> rows(3, std::vector<int>(20, 100));
    rows[1][size_t(x)] = c.centre;
    rows[1][size_t(x) + 1] = c.oddNeighbour;
    KOwnedHandle src(FromLevels(bits, rows));
    KOwnedHandle out(Filtered(Op::Despeckle, src.get()));
    ASSERT_NE(out.get(), nullptr);
    EXPECT_EQ(Levels(out.get())[1][size_t(x)], c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DespeckleThreshold,
    testing::Combine(testing::Values(
                         // Neighbours' mean 100.
                         ThresholdCase{"Above48Kept", 148, 100, 148},
                         ThresholdCase{"Above49Replaced", 149, 100, 100},
                         ThresholdCase{"Below48Kept", 52, 100, 52},
                         ThresholdCase{"Below49Replaced", 51, 100, 100},
                         // Sum 807: the mean is 100 (807 >> 3), not 101 rounded.
                         ThresholdCase{"RoundedDownMeanAbove49Replaced", 149, 107, 100},
                         ThresholdCase{"RoundedDownMeanBelow48Kept", 52, 107, 52}),
                     testing::Values(8, 24), testing::Values(1, 18)),
    [](const testing::TestParamInfo<std::tuple<ThresholdCase, int, int>>& i) {
        return std::get<0>(i.param).name + "_" + std::to_string(std::get<1>(i.param)) + "bit_" +
               (std::get<2>(i.param) == 1 ? "Vector" : "Tail");
    });

// ---- 24 bits: three independent channels ----

TEST(RankChannels, ErodeDarkensRedOnlyNextToADarkerRed) {
    // Every pixel red 200, green 30, blue 30; the right pixel of the middle
    // row has red 40. Its window reaches columns 2 and 3 of every row.
    KHANDLE h = nullptr;
    ASSERT_EQ(NewDIB(&h, 4, 3, 24, 0, 200, 30, 30, nullptr), 0);
    KOwnedHandle src(h);
    SetPixel(src.get(), 3, 1, 0x281E1E); // red 40
    KOwnedHandle out(Filtered(Op::Erode, src.get()));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(PixelAt(out.get(), x, y), x >= 2 ? 0x281E1Eu : 0xC81E1Eu) << x << "," << y;
}

TEST(RankChannels, EachChannelFiltersLikeAGreyImageOfItsOwn) {
    for (Op op : {Op::Erode, Op::Median, Op::Dilate, Op::Despeckle}) {
        KOwnedHandle src(MakeRandomDIB(19, 6, 24, 4));
        KOwnedHandle out(Filtered(op, src.get()));
        for (int ch = 0; ch < 3; ++ch) {
            KOwnedHandle plane(FromLevels(8, Levels(src.get(), ch)));
            KOwnedHandle filteredPlane(Filtered(op, plane.get()));
            EXPECT_EQ(Levels(out.get(), ch), Levels(filteredPlane.get()))
                << OpName(op) << " channel " << ch;
        }
    }
}

TEST(RankChannels, PaletteImagesAreFilteredByTheirIndexes) {
    KOwnedHandle src(MakeRandomDIB(9, 4, 8, 12)); // the colour cube, not grey
    KOwnedHandle out(Filtered(Op::Median, src.get()));
    EXPECT_EQ(BlockBytes(out.get()),
              BlockWithSamples(src.get(), Reference(SamplesOf(src.get()), Op::Median)));
}

// ---- The contract ----

TEST(RankContract, RefusesBadArgumentsWithTheSlotCleared) {
    KOwnedHandle grey(MakeRandomDIB(4, 4, 8, 1, true));
    KOwnedHandle one(MakeRandomDIB(4, 4, 1, 1)), four(MakeRandomDIB(4, 4, 4, 1));
    struct Case {
        const char* name;
        KHANDLE src;
        int32_t mode;
    };
    for (const Case& c : {Case{"null source", nullptr, 1}, Case{"mode -1", grey.get(), -1},
                          Case{"mode 3", grey.get(), 3}, Case{"1 bit", one.get(), 1},
                          Case{"4 bits", four.get(), 0}})
        ExpectRefused([&](KHANDLE* out) { return RankFilterDIB(nullptr, c.src, out, c.mode); },
                      KERV_INVALID_PARAM, c.name);
    EXPECT_EQ(RankFilterDIB(nullptr, grey.get(), nullptr, 1), KERV_INVALID_PARAM);
    EXPECT_EQ(DespeckleDIB(nullptr, grey.get(), nullptr), KERV_INVALID_PARAM);
    for (KHANDLE bad : {KHANDLE{nullptr}, one.get(), four.get()})
        ExpectRefused([&](KHANDLE* out) { return DespeckleDIB(nullptr, bad, out); });
}

class RankShortImages : public testing::TestWithParam<std::tuple<Op, int, int>> {};

// The copy is made and freed again before the height is refused.
TEST_P(RankShortImages, AreRefusedAfterTheCopy) {
    const auto [op, bits, height] = GetParam();
    KOwnedHandle src(MakeRandomDIB(5, height, bits, 2, bits == 8));
    LeakCheck leaks;
    const uint64_t allocations = KML_AllocationCount();
    KHANDLE out = reinterpret_cast<KHANDLE>(uintptr_t{1});
    EXPECT_EQ(RunOp(op, nullptr, src.get(), &out), KERV_INVALID_PARAM);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(KML_AllocationCount() - allocations, 1u);
}

INSTANTIATE_TEST_SUITE_P(Heights, RankShortImages,
                         testing::Combine(testing::Values(Op::Erode, Op::Median, Op::Dilate,
                                                          Op::Despeckle),
                                          testing::Values(8, 24), testing::Values(1, 2)),
                         [](const testing::TestParamInfo<std::tuple<Op, int, int>>& i) {
                             return std::string(OpName(std::get<0>(i.param))) + "_" +
                                    std::to_string(std::get<1>(i.param)) + "bit_" +
                                    std::to_string(std::get<2>(i.param)) + "rows";
                         });

class RankFailures : public testing::TestWithParam<std::tuple<Op, int>> {};

TEST_P(RankFailures, EveryAllocationFailureFreesEverything) {
    const auto [op, bits] = GetParam();
    KOwnedHandle src(MakeRandomDIB(21, 7, bits, 3, bits == 8));
    const int points = SweepAllocationFailures(
        src.get(), [op, &src](KHANDLE* out) { return RunOp(op, nullptr, src.get(), out); });
    EXPECT_EQ(points, 2) << "the copy and the line buffers";
}

// Stops at every progress call: the first (0 of 100) and the last (height
// of height) are not consulted; any row is.
TEST_P(RankFailures, StopAtEveryRowLeavesNothing) {
    const auto [op, bits] = GetParam();
    const int height = 6;
    KOwnedHandle src(MakeRandomDIB(13, height, bits, 5, bits == 8));
    const StatusOp run = [op, &src](StatusControlBlock* s, KHANDLE* out) {
        return RunOp(op, s, src.get(), out);
    };
    EXPECT_EQ(SweepStops(src.get(), run), height + 1);
}

TEST_P(RankFailures, ProgressCountsStoredRows) {
    const auto [op, bits] = GetParam();
    KOwnedHandle src(MakeRandomDIB(8, 4, bits, 6, bits == 8));
    EXPECT_EQ(RecordProgress([op, &src](StatusControlBlock* s, KHANDLE* out) {
                  return RunOp(op, s, src.get(), out);
              }),
              UnitProgress(4));
}

INSTANTIATE_TEST_SUITE_P(Ops, RankFailures,
                         testing::Combine(testing::Values(Op::Erode, Op::Median, Op::Dilate,
                                                          Op::Despeckle),
                                          testing::Values(8, 24)),
                         [](const testing::TestParamInfo<std::tuple<Op, int>>& i) {
                             return std::string(OpName(std::get<0>(i.param))) + "_" +
                                    std::to_string(std::get<1>(i.param)) + "bit";
                         });

} // namespace
