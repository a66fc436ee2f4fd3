#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brellix::test;

namespace {

// The file as built; every test reads it afresh.
std::vector<uint8_t> File() {
    return ReadFileBytes(BRELLIX_KCD_PATH);
}

int Key(int r, int g, int b) {
    return (r >> 3) * 1024 + (g >> 3) * 32 + (b >> 3);
}
int Widen(int c) {
    return c * 8 + c / 4;
}

struct Colour {
    int r, g, b;
};

// The 16 Windows colours, as red, green, blue.
const Colour kWindows[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                             {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                             {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                             {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

// The nearest entry by squared distance, the first of equals.
template <class Entry> int Nearest(const Colour& c, int count, Entry entry) {
    int best = 0, bestDist = 1 << 30;
    for (int i = 0; i < count; ++i) {
        const Colour e = entry(i);
        const int d =
            (c.r - e.r) * (c.r - e.r) + (c.g - e.g) * (c.g - e.g) + (c.b - e.b) * (c.b - e.b);
        if (d < bestDist) best = i, bestDist = d;
    }
    return best;
}

Colour CubeEntry(int i) {
    return {51 * (i % 6), 51 * (i / 6 % 6), 51 * (i / 36)};
}

TEST(ColourMapFile, HoldsThreeTablesOf32768Bytes) {
    const std::vector<uint8_t> f = File();
    ASSERT_EQ(f.size(), 98304u);
    // The third table has no reader and is written as zeros.
    for (size_t i = 65536; i < f.size(); ++i)
        ASSERT_EQ(f[i], 0) << i;
}

TEST(ColourMapFile, EveryKeyOfThe256MapIsItsNearestCubeEntry) {
    const std::vector<uint8_t> f = File();
    ASSERT_EQ(f.size(), 98304u);
    for (int key = 0; key < 32768; ++key) {
        const Colour c{Widen(key >> 10), Widen((key >> 5) & 31), Widen(key & 31)};
        ASSERT_EQ(f[32768 + size_t(key)], Nearest(c, 216, CubeEntry)) << "key " << key;
    }
}

TEST(ColourMapFile, EveryKeyOfThe16MapIsItsNearestWindowsColour) {
    const std::vector<uint8_t> f = File();
    ASSERT_EQ(f.size(), 98304u);
    for (int key = 0; key < 32768; ++key) {
        const Colour c{Widen(key >> 10), Widen((key >> 5) & 31), Widen(key & 31)};
        ASSERT_EQ(f[size_t(key)], Nearest(c, 16, [](int i) { return kWindows[i]; })) << key;
    }
}

TEST(ColourMapFile, NearBlacksAndNearWhitesOfThe16Map) {
    const std::vector<uint8_t> f = File();
    ASSERT_EQ(f.size(), 98304u);
    int blacks = 0, whites = 0;
    for (int r = 0; r < 32; ++r)
        for (int g = 0; g < 32; ++g)
            for (int b = 0; b < 32; ++b) {
                const uint8_t v = f[size_t(r * 1024 + g * 32 + b)];
                if (r < 8 && g < 8 && b < 8) {
                    EXPECT_EQ(v, 0) << r << "," << g << "," << b;
                    ++blacks;
                }
                if (r >= 28 && g >= 28 && b >= 28) {
                    EXPECT_EQ(v, 15) << r << "," << g << "," << b;
                    ++whites;
                }
            }
    EXPECT_EQ(blacks, 512);
    EXPECT_EQ(whites, 64);
}

struct FixedPoint {
    const char* name;
    int offset; // 0: the 16 map, 32768: the 256 map
    Colour c;
    int index;
};

class ColourMapFixedPoints : public ::testing::TestWithParam<FixedPoint> {};

TEST_P(ColourMapFixedPoints, MapToTheirEntry) {
    const FixedPoint& p = GetParam();
    const std::vector<uint8_t> f = File();
    ASSERT_EQ(f.size(), 98304u);
    EXPECT_EQ(f[size_t(p.offset + Key(p.c.r, p.c.g, p.c.b))], p.index);
}

// Cube entries: red + 6 x green + 36 x blue, in levels of 51.
const FixedPoint kFixedPoints[] = {
    {"Red16", 0, {255, 0, 0}, 9},
    {"Green16", 0, {0, 255, 0}, 10},
    {"Blue16", 0, {0, 0, 255}, 12},
    {"Maroon16", 0, {128, 0, 0}, 1},
    {"Navy16", 0, {0, 0, 128}, 4},
    {"Silver16", 0, {192, 192, 192}, 7},
    {"Grey16", 0, {128, 128, 128}, 8},
    {"Red256", 32768, {255, 0, 0}, 5},
    {"Green256", 32768, {0, 255, 0}, 30},
    {"Blue256", 32768, {0, 0, 255}, 180},
    {"White256", 32768, {255, 255, 255}, 215},
    {"Black256", 32768, {0, 0, 0}, 0},
    {"Level2Grey256", 32768, {102, 102, 102}, 2 + 12 + 72},
};
INSTANTIATE_TEST_SUITE_P(KCD, ColourMapFixedPoints, ::testing::ValuesIn(kFixedPoints),
                         [](const ::testing::TestParamInfo<FixedPoint>& i) {
                             return std::string(i.param.name);
                         });

} // namespace
