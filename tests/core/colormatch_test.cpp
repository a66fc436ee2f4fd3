#include "core/dib.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

std::vector<RGBQUAD> RandomPalette(int n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<RGBQUAD> p(n);
    for (auto& e : p)
        e = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), 0};
    return p;
}

std::vector<RGBQUAD> PaletteWithDuplicates() {
    std::vector<RGBQUAD> p = RandomPalette(40, 99);
    for (int i = 20; i < 40; ++i) p[i] = p[i - 20];  // every colour twice
    p[5] = p[3];
    return p;
}

std::vector<int> GridLevels() {
    std::vector<int> v;
    for (int i = 0; i <= 255; i += 3) v.push_back(i);
    for (int i : {63, 64, 127, 128, 191, 192, 255}) v.push_back(i);
    return v;
}

class CacheAgreement : public ::testing::TestWithParam<int> {};

TEST_P(CacheAgreement, CachedAndPlainSearchesAgree) {
    const int kind = GetParam();
    std::vector<RGBQUAD> pal = kind == 0 ? RandomPalette(2, 1)
                               : kind == 1 ? RandomPalette(16, 2)
                               : kind == 2 ? RandomPalette(256, 3)
                                           : PaletteWithDuplicates();
    const auto n = static_cast<uint32_t>(pal.size());
    brellix::test::LeakCheck leaks;
    ColorMatchCacheOwner cache;
    ASSERT_TRUE(cache.create(n));
    const std::vector<int> levels = GridLevels();
    for (int r : levels)
        for (int g : levels)
            for (int b : levels) {
                const auto R = static_cast<uint8_t>(r), G = static_cast<uint8_t>(g), B = static_cast<uint8_t>(b);
                ASSERT_EQ(FindNearestPaletteIndex(R, G, B, pal.data(), n, 4, cache.get()),
                          FindNearestPaletteIndex(R, G, B, pal.data(), n, 4, nullptr))
                    << r << "," << g << "," << b;
            }
    std::mt19937 rng(1234 + kind);
    for (int i = 0; i < 1000000; ++i) {
        const uint32_t v = rng();
        const auto R = static_cast<uint8_t>(v), G = static_cast<uint8_t>(v >> 8), B = static_cast<uint8_t>(v >> 16);
        ASSERT_EQ(FindNearestPaletteIndex(R, G, B, pal.data(), n, 4, cache.get()),
                  FindNearestPaletteIndex(R, G, B, pal.data(), n, 4, nullptr))
            << int{R} << "," << int{G} << "," << int{B};
    }
}

std::string PaletteName(const ::testing::TestParamInfo<int>& p) {
    static const char* const kNames[] = {"Two", "Sixteen", "TwoFiftySix", "Duplicates"};
    return kNames[p.param];
}

INSTANTIATE_TEST_SUITE_P(Palettes, CacheAgreement, ::testing::Values(0, 1, 2, 3), PaletteName);

// An independent statement of the rule: smallest squared distance, lowest index.
uint16_t Reference(uint8_t r, uint8_t g, uint8_t b, const std::vector<RGBQUAD>& pal) {
    uint64_t best = ~uint64_t{0};
    uint16_t idx = 0;
    for (size_t i = 0; i < pal.size(); ++i) {
        const int64_t dr = r - pal[i].rgbRed, dg = g - pal[i].rgbGreen, db = b - pal[i].rgbBlue;
        const auto d = static_cast<uint64_t>(dr * dr + dg * dg + db * db);
        if (d < best) best = d, idx = static_cast<uint16_t>(i);
    }
    return idx;
}

TEST(FindNearestPaletteIndex, FollowsTheRule) {
    const std::vector<RGBQUAD> pal = PaletteWithDuplicates();
    std::mt19937 rng(5);
    ColorMatchCacheOwner cache;
    ASSERT_TRUE(cache.create(static_cast<uint32_t>(pal.size())));
    for (int i = 0; i < 20000; ++i) {
        const auto R = static_cast<uint8_t>(rng()), G = static_cast<uint8_t>(rng()), B = static_cast<uint8_t>(rng());
        ASSERT_EQ(FindNearestPaletteIndex(R, G, B, pal.data(), 40, 4, nullptr), Reference(R, G, B, pal));
    }
    // A duplicated colour maps to its lower index, with or without the cache.
    for (ColorMatchCache* c : {static_cast<ColorMatchCache*>(nullptr), cache.get()})
        EXPECT_EQ(FindNearestPaletteIndex(pal[23].rgbRed, pal[23].rgbGreen, pal[23].rgbBlue,
                                          pal.data(), 40, 4, c), 3);  // entries 3, 5 and 23
}

TEST(FindNearestPaletteIndex, ReadsEntriesOfAnySize) {
    // Three-byte entries: blue, green, red.
    const uint8_t entries[] = {0, 0, 0, 255, 255, 255, 0, 0, 200};
    EXPECT_EQ(FindNearestPaletteIndex(190, 10, 10, entries, 3, 3, nullptr), 2);
    EXPECT_EQ(FindNearestPaletteIndex(250, 250, 240, entries, 3, 3, nullptr), 1);
}

TEST(ColorMatchCache, CreationFailuresFreeEverything) {
    EXPECT_EQ(CreateColorMatchCache(257), nullptr) << "the index byte limits a cache to 256";
    EXPECT_EQ(CreateColorMatchCache(0), nullptr);
    for (uint64_t n = 1; n <= 4; ++n) {
        brellix::test::LeakCheck leaks;
        KML_FailNthAllocation(n);
        EXPECT_EQ(CreateColorMatchCache(16), nullptr) << n;
        KML_FailNthAllocation(0);
    }
    brellix::test::LeakCheck leaks;
    ColorMatchCache* c = CreateColorMatchCache(16);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(LockColorMatchCache(c), 0);
    EXPECT_EQ(LockColorMatchCache(c), 0);
    UnlockColorMatchCache(c);
    UnlockColorMatchCache(c);
    FreeColorMatchCache(c);
}

}  // namespace
