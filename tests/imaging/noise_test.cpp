#include "core/random.h"
#include "imaging/noise.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using namespace brellix::test;

namespace {

constexpr uint16_t kRandom = 0, kUniform = 1;

// The generator as the platform's C runtime defines it, kept apart from the
// program's copy.
struct Lcg {
    uint32_t state;
    int next() {
        state = state * 214013u + 2531011u;
        return int((state >> 16) & 0x7FFF);
    }
    int noise() { return ((next() >> 7) & 255) - 128; }
};

// The program's generator must continue exactly where the reference stands.
void ExpectSameGeneratorState(Lcg reference, const std::string& where) {
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(KervRand(), reference.next()) << where << ", draw " << i;
}

uint8_t Clamped(double v) {
    return uint8_t(std::clamp(v, 0.0, 255.0));
}

// Noise as the rules state it, over the pixel bytes of a block: stored rows
// bottom first, pixels left to right, the bytes of a pixel in memory order
// (blue, green, red).
std::vector<uint8_t> Reference(KHANDLE src, uint16_t type, int amount, Lcg& g) {
    std::vector<uint8_t> block = BlockBytes(src);
    DIBLock d(src);
    const size_t bitsAt = size_t(d.bits() - reinterpret_cast<const uint8_t*>(d.header()));
    const int c = d.bitCount() / 8;
    for (int r = 0; r < d.height(); ++r)
        for (int x = 0; x < d.width(); ++x) {
            uint8_t* px = block.data() + bitsAt + size_t(r) * d.stride() + size_t(x) * size_t(c);
            if (type == kUniform) {
                for (int ch = 0; ch < c; ++ch)
                    px[ch] = Clamped(px[ch] + std::trunc(g.noise() * amount / 100.0));
            } else if (g.next() / 327 < amount) {
                for (int ch = 0; ch < c; ++ch)
                    px[ch] = Clamped(px[ch] + g.noise());
            }
        }
    return block;
}

KHANDLE Noised(KHANDLE src, uint16_t type, int32_t amount) {
    KHANDLE out = nullptr;
    EXPECT_EQ(AddNoiseDIB(nullptr, src, &out, type, amount), KERV_OK);
    return out;
}

// A seed whose first draw satisfies `want`, found with the reference.
template <class P> uint32_t SeedWhoseFirstDraw(P want) {
    for (uint32_t seed = 0;; ++seed) {
        Lcg g{seed};
        if (want(g)) return seed;
    }
}

// ---- Against the reference ----

struct RandomCase {
    int bits, w, h;
    uint16_t type;
    int amount;
};

void PrintTo(const RandomCase& c, std::ostream* os) {
    *os << (c.type == kUniform ? "uniform " : "random ") << c.amount << ", " << c.bits << " bits "
        << c.w << "x" << c.h;
}

class NoiseMatchesReference : public testing::TestWithParam<RandomCase> {};

TEST_P(NoiseMatchesReference, EveryByteAndTheGeneratorState) {
    const RandomCase& c = GetParam();
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(c.w, c.h, c.bits, uint32_t(c.w * 7 + c.h), c.bits == 8));
    const std::vector<uint8_t> before = BlockBytes(src.get());
    const uint32_t seed = uint32_t(c.amount * 1000 + c.w * 10 + c.h + c.type);
    Lcg g{seed};
    const std::vector<uint8_t> want = Reference(src.get(), c.type, c.amount, g);
    KervSrand(seed);
    KOwnedHandle out(Noised(src.get(), c.type, c.amount));
    ASSERT_NE(out.get(), nullptr);
    EXPECT_EQ(BlockBytes(out.get()), want);
    EXPECT_EQ(BlockBytes(src.get()), before);
    ExpectSameGeneratorState(g, "after the call");
}

std::vector<RandomCase> RandomCases() {
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 4},   {2, 3},  {3, 2},
                                         {7, 3}, {33, 17}, {130, 5}};
    std::vector<RandomCase> cases;
    for (uint16_t type : {kRandom, kUniform})
        for (int amount : {0, 1, 37, 100})
            for (int bits : {8, 24})
                for (auto [w, h] : sizes)
                    cases.push_back({bits, w, h, type, amount});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, NoiseMatchesReference, testing::ValuesIn(RandomCases()),
                         [](const testing::TestParamInfo<RandomCase>& i) {
                             const RandomCase& c = i.param;
                             return std::string(c.type == kUniform ? "Uniform" : "Random") +
                                    std::to_string(c.amount) + "_" + std::to_string(c.bits) +
                                    "bit_" + std::to_string(c.w) + "x" + std::to_string(c.h);
                         });

// ---- Amount 0 ----

struct ZeroCase {
    uint16_t type;
    int bits;
};

class NoiseAmountZero : public testing::TestWithParam<ZeroCase> {};

// Uniform draws one number per sample, random one per pixel; neither
// changes a byte.
TEST_P(NoiseAmountZero, ChangesNothingButDraws) {
    const ZeroCase& c = GetParam();
    const int w = 9, h = 4;
    KOwnedHandle src(MakeRandomDIB(w, h, c.bits, 8, c.bits == 8));
    KervSrand(99);
    KOwnedHandle out(Noised(src.get(), c.type, 0));
    EXPECT_EQ(BlockBytes(out.get()), BlockBytes(src.get()));
    Lcg g{99};
    const int draws = c.type == kUniform ? w * h * (c.bits / 8) : w * h;
    for (int i = 0; i < draws; ++i)
        g.next();
    ExpectSameGeneratorState(g, std::to_string(draws) + " draws");
}

INSTANTIATE_TEST_SUITE_P(Cases, NoiseAmountZero,
                         testing::Values(ZeroCase{kUniform, 8}, ZeroCase{kUniform, 24},
                                         ZeroCase{kRandom, 8}, ZeroCase{kRandom, 24}),
                         [](const testing::TestParamInfo<ZeroCase>& i) {
                             return std::string(i.param.type == kUniform ? "Uniform" : "Random") +
                                    "_" + std::to_string(i.param.bits) + "bit";
                         });

// ---- Random with amount 100: the draw decides at 32700 ----

struct DecisionCase {
    const char* name;
    int r; // the first draw
    bool disturbed;
};

class NoiseRandomDecision : public testing::TestWithParam<DecisionCase> {};

TEST_P(NoiseRandomDecision, AtAmount100) {
    const DecisionCase& c = GetParam();
    const uint32_t seed = SeedWhoseFirstDraw([&c](Lcg& g) { return g.next() == c.r; });
    KHANDLE h = nullptr;
    ASSERT_EQ(NewDIB(&h, 1, 1, 24, 0, 128, 128, 128, nullptr), 0);
    KOwnedHandle src(h);
    KervSrand(seed);
    KOwnedHandle out(Noised(src.get(), kRandom, 100));
    Lcg g{seed};
    EXPECT_EQ(g.next(), c.r);
    if (c.disturbed) {
        // Blue, green, red in that order, each with its own full noise value.
        const int blue = 128 + g.noise(), green = 128 + g.noise(), red = 128 + g.noise();
        EXPECT_EQ(PixelAt(out.get(), 0, 0), uint32_t(red << 16 | green << 8 | blue));
    } else {
        EXPECT_EQ(PixelAt(out.get(), 0, 0), 0x808080u);
    }
    ExpectSameGeneratorState(g, c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Draws, NoiseRandomDecision,
    testing::Values(DecisionCase{"r0", 0, true}, DecisionCase{"r32699", 32699, true},
                    DecisionCase{"r32700", 32700, false}, DecisionCase{"r32767", 32767, false}),
    [](const testing::TestParamInfo<DecisionCase>& i) { return i.param.name; });

// ---- Uniform: truncation toward zero and clamping ----

struct UniformCase {
    const char* name;
    int level;
    int noiseIndex; // the first draw's (r >> 7) & 255; noise = index - 128
    int amount;
    int want; // worked out by hand
};

class NoiseUniformSample : public testing::TestWithParam<UniformCase> {};

TEST_P(NoiseUniformSample, OnAGreyPixel) {
    const UniformCase& c = GetParam();
    const uint32_t seed =
        SeedWhoseFirstDraw([&c](Lcg& g) { return ((g.next() >> 7) & 255) == c.noiseIndex; });
    KHANDLE h = nullptr;
    ASSERT_EQ(NewDIB(&h, 1, 1, 8, 1, 0, 0, 0, nullptr), 0);
    KOwnedHandle src(h);
    SetPixel(src.get(), 0, 0, uint32_t(c.level));
    KervSrand(seed);
    KOwnedHandle out(Noised(src.get(), kUniform, c.amount));
    EXPECT_EQ(int(PixelAt(out.get(), 0, 0)), c.want);
}

INSTANTIATE_TEST_SUITE_P(Samples, NoiseUniformSample,
                         testing::Values(
                             // -127 x 50 / 100 = -63.5: -63 toward zero (floor would give 36).
                             UniformCase{"NegativeHalfTruncatesUp", 100, 1, 50, 37},
                             // 127 x 50 / 100 = 63.5: 63.
                             UniformCase{"PositiveHalfTruncatesDown", 100, 255, 50, 163},
                             // -128 x 1 / 100 = -1.28: -1.
                             UniformCase{"SmallAmountNegative", 100, 0, 1, 99},
                             UniformCase{"ClampedAtZero", 30, 0, 100, 0},
                             UniformCase{"ClampedAt255", 200, 255, 100, 255},
                             UniformCase{"NoiseZeroKeeps", 77, 128, 100, 77}),
                         [](const testing::TestParamInfo<UniformCase>& i) { return i.param.name; });

// ---- Arguments ----

TEST(NoiseArguments, RefuseOutOfRangeValuesWithTheSlotCleared) {
    KOwnedHandle grey(MakeRandomDIB(3, 3, 8, 1, true));
    KOwnedHandle one(MakeRandomDIB(3, 3, 1, 1)), four(MakeRandomDIB(3, 3, 4, 1));
    struct Case {
        const char* name;
        KHANDLE src;
        uint16_t type;
        int32_t amount;
    };
    for (const Case& c :
         {Case{"null source", nullptr, kUniform, 10}, Case{"type 2", grey.get(), 2, 10},
          Case{"type 65535", grey.get(), 65535, 10}, Case{"amount -1", grey.get(), kRandom, -1},
          Case{"amount 101", grey.get(), kUniform, 101},
          Case{"amount 0xFFFF (-1 in 16 bits)", grey.get(), kUniform, 0xFFFF},
          Case{"amount 0x8000", grey.get(), kUniform, 0x8000},
          Case{"1 bit", one.get(), kUniform, 10}, Case{"4 bits", four.get(), kRandom, 10}})
        ExpectRefused(
            [&](KHANDLE* out) { return AddNoiseDIB(nullptr, c.src, out, c.type, c.amount); },
            KERV_INVALID_PARAM, c.name);
    EXPECT_EQ(AddNoiseDIB(nullptr, grey.get(), nullptr, kUniform, 10), KERV_INVALID_PARAM);
}

TEST(NoiseArguments, AmountIsReadAsSixteenBits) {
    KOwnedHandle src(MakeRandomDIB(11, 5, 24, 2));
    for (uint16_t type : {kRandom, kUniform}) {
        KervSrand(5);
        KOwnedHandle plain(Noised(src.get(), type, 50));
        KervSrand(5);
        KOwnedHandle wide(Noised(src.get(), type, 0x10000 + 50));
        EXPECT_EQ(BlockBytes(wide.get()), BlockBytes(plain.get())) << type;
    }
}

TEST(NoiseArguments, SameSeedSamePicture) {
    KOwnedHandle src(MakeRandomDIB(23, 6, 8, 2, true));
    for (uint16_t type : {kRandom, kUniform}) {
        KervSrand(1234);
        KOwnedHandle first(Noised(src.get(), type, 60));
        KervSrand(1234);
        KOwnedHandle second(Noised(src.get(), type, 60));
        EXPECT_EQ(BlockBytes(first.get()), BlockBytes(second.get())) << type;
        EXPECT_NE(BlockBytes(first.get()), BlockBytes(src.get())) << type;
    }
}

// ---- The contract ----

class NoiseContract : public testing::TestWithParam<std::tuple<uint16_t, int>> {};

TEST_P(NoiseContract, EveryAllocationFailureFreesEverything) {
    const auto [type, bits] = GetParam();
    KOwnedHandle src(MakeRandomDIB(17, 5, bits, 3, bits == 8));
    const int points = SweepAllocationFailures(
        src.get(), [&](KHANDLE* out) { return AddNoiseDIB(nullptr, src.get(), out, type, 40); });
    EXPECT_EQ(points, 1) << "the copy";
}

TEST_P(NoiseContract, StopAtEveryRowLeavesNothing) {
    const auto [type, bits] = GetParam();
    const int height = 5;
    KOwnedHandle src(MakeRandomDIB(6, height, bits, 4, bits == 8));
    EXPECT_EQ(SweepStops(src.get(),
                         [&](StatusControlBlock* s, KHANDLE* out) {
                             return AddNoiseDIB(s, src.get(), out, type, 70);
                         }),
              height + 1);
}

TEST_P(NoiseContract, ProgressCountsStoredRows) {
    const auto [type, bits] = GetParam();
    KOwnedHandle src(MakeRandomDIB(5, 3, bits, 6, bits == 8));
    EXPECT_EQ(RecordProgress([&](StatusControlBlock* s, KHANDLE* out) {
                  return AddNoiseDIB(s, src.get(), out, type, 20);
              }),
              UnitProgress(3));
}

INSTANTIATE_TEST_SUITE_P(Types, NoiseContract,
                         testing::Combine(testing::Values(kRandom, kUniform),
                                          testing::Values(8, 24)),
                         [](const testing::TestParamInfo<std::tuple<uint16_t, int>>& i) {
                             return std::string(std::get<0>(i.param) == kUniform ? "Uniform"
                                                                                 : "Random") +
                                    "_" + std::to_string(std::get<1>(i.param)) + "bit";
                         });

} // namespace
