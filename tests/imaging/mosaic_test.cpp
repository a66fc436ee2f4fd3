#include "imaging/mosaic.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace brellix::test;

namespace {

KHANDLE Mosaic(KHANDLE src, int bw, int bh) {
    KHANDLE out = nullptr;
    EXPECT_EQ(MosaicDIB(nullptr, src, nullptr, &out, int16_t(bw), int16_t(bh)), KERV_OK);
    return out;
}

// The whole block a mosaic must give, from loops over the picture: blocks
// from the top-left corner, each channel's sum over the block divided by
// its pixel count; header and colour table copied; padding and anything
// after the pixels zero. Sizes as given: cut to the image here, and 0 or
// 1 x 1 after the cut give the source block itself.
std::vector<uint8_t> Reference(KHANDLE src, int bw, int bh) {
    std::vector<uint8_t> block = BlockBytes(src);
    DIBLock d(src);
    const int W = d.width(), H = d.height(), c = d.bitCount() / 8;
    bw = std::min(bw, W);
    bh = std::min(bh, H);
    if (bw == 0 || bh == 0 || (bw == 1 && bh == 1)) return block;
    const size_t bitsAt = size_t(d.bits() - reinterpret_cast<const uint8_t*>(d.header()));
    std::fill(block.begin() + std::ptrdiff_t(bitsAt), block.end(), uint8_t{0});
    auto at = [&](std::vector<uint8_t>& b, int x, int yFromTop) {
        return b.data() + bitsAt + size_t(H - 1 - yFromTop) * d.stride() + size_t(x) * size_t(c);
    };
    std::vector<uint8_t> in = BlockBytes(src);
    for (int by = 0; by < H; by += bh)
        for (int bx = 0; bx < W; bx += bw) {
            const int y1 = std::min(by + bh, H), x1 = std::min(bx + bw, W);
            for (int ch = 0; ch < c; ++ch) {
                uint64_t sum = 0, count = 0;
                for (int y = by; y < y1; ++y)
                    for (int x = bx; x < x1; ++x, ++count)
                        sum += at(in, x, y)[ch];
                for (int y = by; y < y1; ++y)
                    for (int x = bx; x < x1; ++x)
                        at(block, x, y)[ch] = uint8_t(sum / count);
            }
        }
    return block;
}

// ---- Against the reference ----

struct RandomCase {
    int bits, w, h, bw, bh;
};

void PrintTo(const RandomCase& c, std::ostream* os) {
    *os << c.bits << " bits " << c.w << "x" << c.h << " blocks " << c.bw << "x" << c.bh;
}

class MosaicMatchesReference : public testing::TestWithParam<RandomCase> {};

TEST_P(MosaicMatchesReference, EveryByteOfTheBlock) {
    const RandomCase& c = GetParam();
    LeakCheck leaks;
    // Random bytes everywhere, row padding included: the result's padding
    // must still come out zero.
    KOwnedHandle src(MakeRandomDIB(c.w, c.h, c.bits, uint32_t(c.w * 31 + c.h + c.bw), c.bits == 8));
    const std::vector<uint8_t> before = BlockBytes(src.get());
    KOwnedHandle out(Mosaic(src.get(), c.bw, c.bh));
    ASSERT_NE(out.get(), nullptr);
    EXPECT_EQ(BlockBytes(out.get()), Reference(src.get(), c.bw, c.bh));
    EXPECT_EQ(BlockBytes(src.get()), before);
}

std::vector<RandomCase> RandomCases() {
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 6},   {2, 3},  {3, 7},
                                         {7, 3}, {33, 17}, {130, 9}};
    std::vector<RandomCase> cases;
    for (int bits : {8, 24})
        for (auto [w, h] : sizes)
            for (auto [bw, bh] : std::vector<std::pair<int, int>>{{2, 2},
                                                                  {3, 1},
                                                                  {1, 3},
                                                                  {4, 4},
                                                                  {2, 5},
                                                                  {5, 2},
                                                                  {w, h},
                                                                  {w + 3, h + 8},
                                                                  {32767, 32767},
                                                                  {w, 1},
                                                                  {1, h}}) {
                const bool seen = std::any_of(cases.begin(), cases.end(), [&](const RandomCase& o) {
                    return o.bits == bits && o.w == w && o.h == h && o.bw == bw && o.bh == bh;
                });
                if (!seen) cases.push_back({bits, w, h, bw, bh});
            }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Sizes, MosaicMatchesReference, testing::ValuesIn(RandomCases()),
                         [](const testing::TestParamInfo<RandomCase>& i) {
                             const RandomCase& c = i.param;
                             return std::to_string(c.bits) + "bit_" + std::to_string(c.w) + "x" +
                                    std::to_string(c.h) + "_blocks_" + std::to_string(c.bw) + "x" +
                                    std::to_string(c.bh);
                         });

// A block longer than its image (allowed): the result has the same size,
// and the bytes past the pixels come out zero rather than uninitialised.
TEST(MosaicMatchesReference, BlockLongerThanItsImage) {
    for (int bits : {8, 24}) {
        KOwnedHandle src(MakeRandomDIB(5, 4, bits, 2, bits == 8));
        const size_t size = KML_GlobalSize(src.get());
        ASSERT_TRUE(KML_GlobalReAlloc(src.get(), size + 13, 0));
        {
            KLock l(src.get());
            std::memset(l.get() + size, 0xA5, 13);
        }
        KOwnedHandle out(Mosaic(src.get(), 2, 3));
        ASSERT_EQ(KML_GlobalSize(out.get()), size + 13);
        EXPECT_EQ(BlockBytes(out.get()), Reference(src.get(), 2, 3)) << bits;
    }
}

// ---- Plain copies ----

struct CopyCase {
    const char* name;
    int bw, bh;
};

class MosaicCopies : public testing::TestWithParam<std::tuple<CopyCase, int>> {};

// Byte for byte, the source's row padding included.
TEST_P(MosaicCopies, GiveTheSourceBlock) {
    const auto& [c, bits] = GetParam();
    KOwnedHandle src(MakeRandomDIB(9, 5, bits, 4, bits == 8));
    KOwnedHandle out(Mosaic(src.get(), c.bw, c.bh));
    EXPECT_EQ(BlockBytes(out.get()), BlockBytes(src.get()));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, MosaicCopies,
    testing::Combine(testing::Values(CopyCase{"OneByOne", 1, 1}, CopyCase{"ZeroWidth", 0, 4},
                                     CopyCase{"ZeroHeight", 4, 0}, CopyCase{"ZeroBoth", 0, 0},
                                     CopyCase{"ZeroWidthHugeHeight", 0, 32767}),
                     testing::Values(8, 24)),
    [](const testing::TestParamInfo<std::tuple<CopyCase, int>>& i) {
        return std::string(std::get<0>(i.param).name) + "_" + std::to_string(std::get<1>(i.param)) +
               "bit";
    });

// A one-pixel image: any block is cut to 1 x 1, a copy.
TEST(MosaicCopies, OnePixelImageWithAnyBlock) {
    KOwnedHandle src(MakeRandomDIB(1, 1, 24, 8));
    KOwnedHandle out(Mosaic(src.get(), 7, 9));
    EXPECT_EQ(BlockBytes(out.get()), BlockBytes(src.get()));
}

// ---- Hand-computed pictures ----

struct PictureCase {
    std::string name;
    int bits, bw, bh;
    Rows in, want;
};

void PrintTo(const PictureCase& c, std::ostream* os) {
    *os << c.name;
}

class MosaicPictures : public testing::TestWithParam<PictureCase> {};

TEST_P(MosaicPictures, GiveTheHandComputedValues) {
    const PictureCase& c = GetParam();
    KOwnedHandle src(FromRows(c.bits, c.in, c.bits == 8));
    KOwnedHandle out(Mosaic(src.get(), c.bw, c.bh));
    ASSERT_NE(out.get(), nullptr);
    EXPECT_EQ(PixelRows(out.get()), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, MosaicPictures,
    testing::Values(
        // Blocks of widths 4, 4 and 2: (0+10+20+30)/4, (40+50+60+70)/4, (80+90)/2.
        PictureCase{"TenWideBlocksOfFourFourTwo",
                    8,
                    4,
                    1,
                    {{0, 10, 20, 30, 40, 50, 60, 70, 80, 90}},
                    {{15, 15, 15, 15, 55, 55, 55, 55, 85, 85}}},
        // The height 5 is cut to the image's 2: (0+10+20+30+4)/8 = 8,
        // (40+50+60+70+8)/8 = 28, (80+90+3+3)/4 = 44.
        PictureCase{"TenWideTwoRowsTallBlocksCut",
                    8,
                    4,
                    5,
                    {{0, 10, 20, 30, 40, 50, 60, 70, 80, 90}, {1, 1, 1, 1, 2, 2, 2, 2, 3, 3}},
                    {{8, 8, 8, 8, 28, 28, 28, 28, 44, 44}, {8, 8, 8, 8, 28, 28, 28, 28, 44, 44}}},
        // One block: 1/3 truncates to 0.
        PictureCase{"WholeImageAverageTruncates", 8, 3, 1, {{0, 0, 1}}, {{0, 0, 0}}},
        PictureCase{"WholeImageHalfTruncates", 8, 99, 99, {{1, 2}}, {{1, 1}}},
        // Per channel: red (30+31+33)/3 = 31, green 21, blue 11.
        PictureCase{"WholeImageChannelsApart",
                    24,
                    3,
                    1,
                    {{0x1E140A, 0x1F150B, 0x21160C}},
                    {{0x1F150B, 0x1F150B, 0x1F150B}}},
        // Bands start at the top of the picture: the bottom row is a band
        // of its own.
        PictureCase{"BandsFromTheTop", 8, 1, 2, {{10}, {20}, {50}}, {{15}, {15}, {50}}},
        PictureCase{"BlocksFromTheLeft",
                    24,
                    2,
                    2,
                    {{0x000010, 0x000030, 0x0000FF}, {0x000020, 0x000040, 0x000001}},
                    {{0x000028, 0x000028, 0x000080}, {0x000028, 0x000028, 0x000080}}}),
    [](const testing::TestParamInfo<PictureCase>& i) { return i.param.name; });

// ---- Arguments ----

TEST(MosaicArguments, RefusedWithTheSlotCleared) {
    KOwnedHandle grey(MakeRandomDIB(4, 4, 8, 1, true));
    KOwnedHandle one(MakeRandomDIB(4, 4, 1, 1)), four(MakeRandomDIB(4, 4, 4, 1));
    struct Case {
        const char* name;
        KHANDLE src, mask;
        int16_t bw, bh;
    };
    for (const Case& c :
         {Case{"null source", nullptr, nullptr, 2, 2}, Case{"a mask", grey.get(), grey.get(), 2, 2},
          Case{"negative width", grey.get(), nullptr, -1, 2},
          Case{"negative height", grey.get(), nullptr, 2, -32768},
          Case{"1 bit", one.get(), nullptr, 2, 2}, Case{"4 bits", four.get(), nullptr, 2, 2}})
        ExpectRefused(
            [&](KHANDLE* out) { return MosaicDIB(nullptr, c.src, c.mask, out, c.bw, c.bh); },
            KERV_INVALID_PARAM, c.name);
    EXPECT_EQ(MosaicDIB(nullptr, grey.get(), nullptr, nullptr, 2, 2), KERV_INVALID_PARAM);
}

// ---- The contract ----

class MosaicContract : public testing::TestWithParam<int> {};

TEST_P(MosaicContract, EveryAllocationFailureFreesEverything) {
    const int bits = GetParam();
    KOwnedHandle src(MakeRandomDIB(13, 7, bits, 3, bits == 8));
    const int points = SweepAllocationFailures(
        src.get(), [&](KHANDLE* out) { return MosaicDIB(nullptr, src.get(), nullptr, out, 3, 2); });
    EXPECT_EQ(points, 2) << "the result and the column sums";
    const int copyPoints = SweepAllocationFailures(
        src.get(), [&](KHANDLE* out) { return MosaicDIB(nullptr, src.get(), nullptr, out, 1, 1); });
    EXPECT_EQ(copyPoints, 1) << "the copy";
}

// Bands of 4 rows in a 10-row image: the callback is asked before each of
// the three bands (current 1, 5, 9), after the unconsulted start.
TEST_P(MosaicContract, ProgressCountsFromTheTopOfEachBand) {
    const int bits = GetParam();
    KOwnedHandle src(MakeRandomDIB(6, 10, bits, 6, bits == 8));
    const Progress want = {{0, 100}, {1, 10}, {5, 10}, {9, 10}, {10, 10}};
    EXPECT_EQ(RecordProgress([&](StatusControlBlock* s, KHANDLE* out) {
                  return MosaicDIB(s, src.get(), nullptr, out, 3, 4);
              }),
              want);
    const Progress copy = {{0, 100}, {100, 100}};
    EXPECT_EQ(RecordProgress([&](StatusControlBlock* s, KHANDLE* out) {
                  return MosaicDIB(s, src.get(), nullptr, out, 0, 4);
              }),
              copy);
}

TEST_P(MosaicContract, StopAtEveryBandLeavesNothing) {
    const int bits = GetParam();
    KOwnedHandle src(MakeRandomDIB(6, 10, bits, 6, bits == 8));
    const int bands = 3;
    EXPECT_EQ(SweepStops(src.get(),
                         [&](StatusControlBlock* s, KHANDLE* out) {
                             return MosaicDIB(s, src.get(), nullptr, out, 3, 4);
                         }),
              bands + 1);
}

INSTANTIATE_TEST_SUITE_P(Depths, MosaicContract, testing::Values(8, 24),
                         [](const testing::TestParamInfo<int>& i) {
                             return std::to_string(i.param) + "bit";
                         });

} // namespace
