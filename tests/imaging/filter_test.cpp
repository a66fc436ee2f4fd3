#include "imaging/filter.h"
#include "imaging/filter_internal.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace brellix::test;
using filter_detail::SumPath;

namespace {

// ---- The formulas, pixel by pixel ----

struct Kernel {
    int size;
    int divisor;
    int bias;
    std::vector<int> w; // size x size, row by row
};

struct NamedFilter {
    const char* name;
    int code;
    Kernel k;
};
void PrintTo(const NamedFilter& c, std::ostream* os) {
    *os << c.name;
}

// The filter table, as the commands define it.
// clang-format off
const NamedFilter kFilters[] = {
    {"Emboss",              1,  {3, 1, 128, {-1, 0, 0,   0, 0, 0,   0, 0, 1}}},
    {"Blur",                10, {5, 44, 0,  {1, 1, 2, 1, 1,  1, 2, 2, 2, 1,  2, 2, 8, 2, 2,
                                             1, 2, 2, 2, 1,  1, 1, 2, 1, 1}}},
    {"BlurMore",            11, {5, 25, 0,  std::vector<int>(25, 1)}},
    {"Sharpen",             20, {3, 6, 0,   {0, -1, 0,   -1, 10, -1,   0, -1, 0}}},
    {"SharpenMore",         21, {5, 32, 0,  {-1, -1, -1, -1, -1,  -1, -2, -2, -2, -1,
                                             -1, -2, 64, -2, -1,  -1, -2, -2, -2, -1,
                                             -1, -1, -1, -1, -1}}},
    {"Soften",              30, {3, 97, 0,  {6, 12, 6,   12, 25, 12,   6, 12, 6}}},
    {"SoftenMore",          31, {3, 9, 0,   std::vector<int>(9, 1)}},
    {"TraceContour",        40, {3, 1, 255, {-1, -1, -1,   -1, 9, -1,   -1, -1, -1}}},
    {"EdgeEnhance",         50, {3, -1, 0,  {0, 1, 0,   1, -5, 1,   0, 1, 0}}},
    {"EdgeEnhanceMore",     51, {3, 1, 0,   {-1, -1, -1,   -1, 9, -1,   -1, -1, -1}}},
    {"FindEdges",           61, {3, 1, 0,   {-1, -1, -1,   -1, 8, -1,   -1, -1, -1}}},
    {"FindHorizontalEdges", 62, {3, 1, 0,   {-1, -1, -1,   0, 0, 0,   1, 1, 1}}},
    {"FindVerticalEdges",   63, {3, 1, 0,   {-1, 0, 1,   -1, 0, 1,   -1, 0, 1}}},
};
// clang-format on

const Kernel& KernelOf(int code) {
    for (const NamedFilter& f : kFilters)
        if (f.code == code) return f.k;
    throw std::logic_error("no such filter");
}

Samples Convolve(const Samples& s, const Kernel& k) {
    Samples out = s;
    const int R = k.size / 2;
    for (int r = 0; r < s.h; ++r)
        for (int x = 0; x < s.w; ++x)
            for (int ch = 0; ch < s.c; ++ch) {
                int64_t sum = 0;
                for (int i = 0; i < k.size; ++i)
                    for (int j = 0; j < k.size; ++j)
                        sum += int64_t(k.w[size_t(i * k.size + j)]) *
                               s.at(std::clamp(r - R + i, 0, s.h - 1),
                                    std::clamp(x - R + j, 0, s.w - 1), ch);
                out.at(r, x, ch) = uint8_t(std::clamp<int64_t>(sum / k.divisor + k.bias, 0, 255));
            }
    return out;
}

Samples Unsharp(const Samples& s, int clipping, int strength) {
    const int blur[] = {30, 31, 10, 11};
    const Samples b = Convolve(s, KernelOf(blur[strength - 1]));
    Samples out = s;
    for (size_t i = 0; i < s.v.size(); ++i) {
        const int d = s.v[i] - b.v[i];
        if (d > clipping || (d < 0 && -d > clipping))
            out.v[i] = uint8_t(std::clamp(s.v[i] + d, 0, 255));
    }
    return out;
}

// Parameterised cases are named, and printed in failure messages (PrintTo),
// by their `name` member.
struct ByName {
    template <class P> std::string operator()(const ::testing::TestParamInfo<P>& p) const {
        return p.param.name;
    }
};

// ---- Images and running ----

// Random bytes everywhere (row padding too, so it shows whether padding is
// kept); 8-bit images get a random palette, which the filters must ignore.
// A third of the samples are 0 or 255, so sums reach their extremes.
KHANDLE RandomImage(int w, int h, int bits, uint32_t seed, uint32_t clrUsed = 0) {
    KHANDLE img = AllocDIB(w, h, bits, bits == 8 ? 256 : clrUsed);
    DIBLock d(img);
    std::mt19937 rng(seed);
    uint8_t* p = reinterpret_cast<uint8_t*>(d.header()) + 40;
    for (uint8_t* end = d.bits() + d->biSizeImage; p < end; ++p) {
        const uint32_t r = rng();
        *p = r % 6 == 0 ? 0 : r % 6 == 1 ? 255 : uint8_t(r >> 8);
    }
    return img;
}

// The grid with k in the window at (row, col) and junk in every other cell.
FilterKernel Grid(const Kernel& k, int row = 0, int col = 0) {
    FilterKernel f{int16_t(k.divisor), uint8_t(k.bias), {}};
    std::fill(std::begin(f.weights), std::end(f.weights), int16_t(-31111));
    for (int i = 0; i < k.size; ++i)
        for (int j = 0; j < k.size; ++j)
            f.weights[(row + i) * 5 + col + j] = int16_t(k.w[size_t(i * k.size + j)]);
    return f;
}

KervErrorCode Engine(StatusControlBlock* s, KHANDLE src, KHANDLE* out, const FilterKernel& f,
                     int size, int bits, int row = 0, int col = 0) {
    if (size == 3)
        return bits == 24 ? Apply3x3to24BPP(s, src, out, &f, uint8_t(row), uint8_t(col))
                          : Apply3x3to8BPP(s, src, out, &f, uint8_t(row), uint8_t(col));
    return bits == 24 ? Apply5x5to24BPP(s, src, out, &f) : Apply5x5to8BPP(s, src, out, &f);
}

// Runs op on src and compares the whole block with src carrying `want`.
void ExpectResult(KHANDLE src, const std::function<KervErrorCode(KHANDLE*)>& op,
                  const Samples& want, const std::string& where) {
    const std::vector<uint8_t> before = BlockBytes(src);
    KHANDLE out = nullptr;
    ASSERT_EQ(op(&out), KERV_OK) << where;
    KOwnedHandle own(out);
    EXPECT_EQ(BlockBytes(src), before) << where << ": the source changed";
    const std::vector<uint8_t> got = BlockBytes(out), expected = BlockWithSamples(src, want);
    if (got == expected) return;
    const auto at = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
    ADD_FAILURE() << where << ": first difference at byte " << (at.first - got.begin()) << " of "
                  << got.size() << " (want " << expected.size() << ")";
}

struct Size {
    int w, h;
};
// From 1 pixel wide to wider than several vector blocks, with tails of every kind.
const Size kSizes[] = {{1, 3}, {2, 3},  {3, 4},   {7, 3},  {1, 5},  {2, 6},  {3, 5},
                       {5, 5}, {16, 5}, {33, 17}, {48, 3}, {61, 7}, {130, 5}};

std::string Where(const char* what, int bits, Size s) {
    return std::string(what) + ", " + std::to_string(bits) + " bits, " + std::to_string(s.w) +
           " x " + std::to_string(s.h);
}

// ---- Every filter of the table against the formulas ----

class FilterTable : public ::testing::TestWithParam<NamedFilter> {};

TEST_P(FilterTable, MatchesTheFormulasAtEveryDepthAndSize) {
    const NamedFilter& f = GetParam();
    LeakCheck leaks;
    for (int bits : {8, 24})
        for (Size s : kSizes) {
            if (s.h < f.k.size) continue;
            KOwnedHandle src(
                RandomImage(s.w, s.h, bits, uint32_t(f.code * 1000 + s.w * 7 + s.h + bits)));
            ExpectResult(
                src.get(),
                [&](KHANDLE* o) { return FilterDIB(nullptr, src.get(), o, uint8_t(bits), f.code); },
                Convolve(SamplesOf(src.get()), f.k), Where(f.name, bits, s));
        }
}

// Every built-in kernel fits 16-bit sums; the box blurs sum down, then along.
TEST_P(FilterTable, TakesA16BitPath) {
    const NamedFilter& f = GetParam();
    const SumPath path = filter_detail::PathOf(Grid(f.k), f.k.size, 0, 0);
    EXPECT_NE(path, SumPath::Wide);
    if (f.code == 11 || f.code == 31) {
        EXPECT_EQ(path, SumPath::Separable);
    }
}

TEST_P(FilterTable, TooFewRowsAreRefused) {
    const NamedFilter& f = GetParam();
    LeakCheck leaks;
    for (int bits : {8, 24}) {
        KOwnedHandle src(RandomImage(6, f.k.size - 1, bits, 3));
        ExpectRefused(
            [&](KHANDLE* out) { return FilterDIB(nullptr, src.get(), out, uint8_t(bits), f.code); },
            KERV_INVALID_PARAM, std::to_string(bits) + " bits");
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, FilterTable, ::testing::ValuesIn(kFilters), ByName());

// ---- Random kernels through each engine ----

struct KernelKind {
    const char* name;
    SumPath expected; // the path every kernel of the kind must take
    std::function<Kernel(std::mt19937&, int size)> make;
};
void PrintTo(const KernelKind& c, std::ostream* os) {
    *os << c.name;
}

int Uniform(std::mt19937& rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}
int NonZeroDivisor(std::mt19937& rng, int lo, int hi) {
    int d = 0;
    while (d == 0)
        d = Uniform(rng, lo, hi);
    return d;
}
Kernel RandomKernel(std::mt19937& rng, int size, int lo, int hi, int dlo, int dhi) {
    Kernel k{size, NonZeroDivisor(rng, dlo, dhi), Uniform(rng, 0, 255), {}};
    for (int i = 0; i < size * size; ++i)
        k.w.push_back(Uniform(rng, lo, hi));
    return k;
}

const KernelKind kKinds[] = {
    {"FullRangeWeights", SumPath::Wide,
     [](std::mt19937& r, int n) { return RandomKernel(r, n, -32768, 32767, -32768, 32767); }},
    {"SmallWeightsSmallDivisors", SumPath::Narrow,
     [](std::mt19937& r, int n) { return RandomKernel(r, n, -5, 5, -40, 40); }},
    {"SmallWeightsAnyDivisor", SumPath::Narrow,
     [](std::mt19937& r, int n) { return RandomKernel(r, n, -5, 5, -32768, 32767); }},
    // A column times a row; 5 x 5 ones with a zero in each (fewer non-zero
    // taps would not be worth splitting).
    {"ColumnTimesRow", SumPath::Separable,
     [](std::mt19937& r, int n) {
         std::vector<int> u, v;
         for (int i = 0; i < n; ++i) {
             u.push_back(Uniform(r, 1, 2) * (Uniform(r, 0, 1) ? 1 : -1));
             v.push_back(Uniform(r, 1, 2) * (Uniform(r, 0, 1) ? 1 : -1));
         }
         if (n == 5) u[size_t(Uniform(r, 0, 4))] = v[size_t(Uniform(r, 0, 4))] = 0;
         Kernel k{n, NonZeroDivisor(r, -300, 300), Uniform(r, 0, 255), {}};
         for (int i = 0; i < n; ++i)
             for (int j = 0; j < n; ++j)
                 k.w.push_back(u[size_t(i)] * v[size_t(j)]);
         return k;
     }},
    // 128 x 255 still fits 16 bits, 129 x 255 does not.
    {"LargestNarrowWeights", SumPath::Narrow,
     [](std::mt19937& r, int n) {
         Kernel k{n, NonZeroDivisor(r, -3, 3), Uniform(r, 0, 255),
                  std::vector<int>(size_t(n * n), 0)};
         k.w[size_t(Uniform(r, 0, n * n - 1))] += 128;
         k.w[size_t(Uniform(r, 0, n * n - 1))] -= 128;
         return k;
     }},
    {"SmallestWideWeights", SumPath::Wide,
     [](std::mt19937& r, int n) {
         Kernel k{n, NonZeroDivisor(r, -3, 3), Uniform(r, 0, 255),
                  std::vector<int>(size_t(n * n), 0)};
         k.w[size_t(Uniform(r, 0, n * n - 1))] = Uniform(r, 0, 1) ? 129 : -129;
         return k;
     }},
};

class RandomKernels : public ::testing::TestWithParam<KernelKind> {};

TEST_P(RandomKernels, EveryEngineMatchesTheFormulas) {
    const KernelKind& kind = GetParam();
    LeakCheck leaks;
    std::mt19937 rng(12345);
    for (int size : {3, 5})
        for (int bits : {8, 24})
            for (Size s : kSizes) {
                if (s.h < size) continue;
                const Kernel k = kind.make(rng, size);
                // 3 x 3 windows anywhere in the grid.
                const int row = size == 3 ? Uniform(rng, 0, 2) : 0,
                          col = size == 3 ? Uniform(rng, 0, 2) : 0;
                const FilterKernel f = Grid(k, row, col);
                EXPECT_EQ(filter_detail::PathOf(f, size, row, col), kind.expected) << size;
                KOwnedHandle src(RandomImage(s.w, s.h, bits, rng()));
                ExpectResult(
                    src.get(),
                    [&](KHANDLE* o) {
                        return Engine(nullptr, src.get(), o, f, size, bits, row, col);
                    },
                    Convolve(SamplesOf(src.get()), k),
                    Where(kind.name, bits, s) + ", " + std::to_string(size));
            }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RandomKernels, ::testing::ValuesIn(kKinds), ByName());

// ---- The division of the 16-bit paths ----

// (n x magic) >> (16 + shift) never decreases as n grows, and floor(n / d)
// is a staircase: matching it at both ends of every step (n = kd - 1 and
// kd) proves it matches everywhere in between, for every divisor.
TEST(FilterDivision, MultiplyHighEqualsTheQuotientForEveryDivisor) {
    for (int d = 2; d <= 32768; ++d) {
        const filter_detail::DivisionPlan p = filter_detail::PlanDivision(d);
        auto quotient = [&](int n) { return int((uint32_t(n) * p.magic) >> (16 + p.shift)); };
        for (int step = 0; step <= 32767; step += d) {
            ASSERT_EQ(quotient(step), step / d) << "d = " << d << ", n = " << step;
            const int last = std::min(step + d - 1, 32767);
            ASSERT_EQ(quotient(last), last / d) << "d = " << d << ", n = " << last;
        }
    }
}

// The vector code itself, over the whole range of 16-bit sums.
TEST(FilterDivision, VectorFinishIsExactForEverySum) {
    std::vector<int16_t> sums;
    for (int n = -32767; n <= 32767; ++n)
        sums.push_back(int16_t(n));
    std::vector<uint8_t> out(sums.size());
    for (int d : {1, -1, 2,   -2,  6,    9,    25,    32,    44,    97,     -97,
                  3, -7, 255, 256, -257, 1000, 16384, 16385, 32767, -32767, -32768})
        for (int bias : {0, 1, 128, 255}) {
            filter_detail::FinishSums(sums.data(), sums.size(), int16_t(d), uint8_t(bias),
                                      out.data());
            for (size_t i = 0; i < sums.size(); ++i)
                ASSERT_EQ(int(out[i]), std::clamp(sums[i] / d + bias, 0, 255))
                    << sums[i] << " / " << d << " + " << bias;
        }
}

// ---- Pictures worked out by hand ----

struct Picture {
    const char* name;
    int bits;
    int code;      // a filter code, or 0 for `custom` through the 3 x 3 engine
    Kernel custom; // ignored for codes
    Rows in, want;
};
void PrintTo(const Picture& c, std::ostream* os) {
    *os << c.name;
}

Rows Flat(int w, int h, uint32_t v) {
    return Rows(size_t(h), std::vector<uint32_t>(size_t(w), v));
}

// clang-format off
const Picture kPictures[] = {
    {"TraceContourTurnsFlatGreyWhite", 8, 40, {}, Flat(4, 3, 77), Flat(4, 3, 255)},
    {"FindEdgesTurnsFlatGreyBlack", 24, 61, {}, Flat(3, 3, 0x4D4D4D), Flat(3, 3, 0)},
    {"EmbossTurnsFlatGreyTo128", 24, 1, {}, Flat(2, 4, 0x102030), Flat(2, 4, 0x808080)},
    // Kernel row 2 (+1) meets the row shown above: positive under a brighter row.
    {"FindHorizontalEdgesSeesABrighterRowAbove", 8, 62, {},
     {{60, 60, 60}, {60, 60, 60}, {50, 50, 50}, {50, 50, 50}},
     {{ 0,  0,  0}, {30, 30, 30}, {30, 30, 30}, { 0,  0,  0}}},
    {"FindHorizontalEdgesClampsABrighterRowBelow", 8, 62, {},
     {{50, 50, 50}, {50, 50, 50}, {60, 60, 60}, {60, 60, 60}}, Flat(3, 4, 0)},
    // Blue steps across, green is flat, red steps down: only blue responds.
    {"ChannelsAreFilteredApart", 24, 63, {},
     {{0x000A0A, 0x000A14, 0x000A28},
      {0x640A0A, 0x640A14, 0x640A28},
      {0xFF0A0A, 0xFF0A14, 0xFF0A28}},
     Rows(3, {0x00001E, 0x00005A, 0x00003C})},
    // One column: left and right are the pixel itself, so 8c - up - down.
    {"SharpenOnePixelWide", 8, 20, {}, {{10}, {40}, {20}}, {{5}, {48}, {16}}},
    {"EdgeEnhanceTwoPixelsWide", 8, 50, {},
     {{10, 20}, {30, 40}, {50, 60}}, {{0, 10}, {20, 50}, {60, 90}}},
    // Every window holds the 95 once: 95 / 9 truncates to 10.
    {"SoftenMoreThreePixelsWide", 8, 31, {}, {{0, 0, 0}, {0, 95, 0}, {0, 0, 0}}, Flat(3, 3, 10)},
    {"NegativeSumsClampToZero", 8, 61, {},
     {{200, 200, 200}, {200,  10, 200}, {200, 200, 200}},
     {{190, 190, 190}, {190,   0, 190}, {190, 190, 190}}},
    // -6 / 4 is -1 (not -2), then the bias.
    {"NegativeQuotientsTruncateTowardZero", 8, 0, {3, 4, 10, {0, 0, 0, 0, -1, 0, 0, 0, 0}},
     {{6}, {2}, {7}}, {{9}, {10}, {9}}},
    {"NegativeDivisorsTruncateTowardZero", 8, 0, {3, -4, 10, {0, 0, 0, 0, 1, 0, 0, 0, 0}},
     {{6}, {2}, {7}}, {{9}, {10}, {9}}},
    {"WideSumsTruncateTowardZero", 8, 0, {3, -3000, 10, {0, 0, 0, 0, 1000, 0, 0, 0, 0}},
     {{6}, {2}, {7}}, {{8}, {10}, {8}}},
};
// clang-format on

class Pictures : public ::testing::TestWithParam<Picture> {};

TEST_P(Pictures, GiveTheHandComputedPixels) {
    const Picture& p = GetParam();
    LeakCheck leaks;
    KOwnedHandle src(FromRows(p.bits, p.in, p.bits == 8));
    KHANDLE out = nullptr;
    const FilterKernel custom = p.code ? FilterKernel{} : Grid(p.custom);
    ASSERT_EQ(p.code ? FilterDIB(nullptr, src.get(), &out, uint8_t(p.bits), p.code)
                     : Engine(nullptr, src.get(), &out, custom, 3, p.bits),
              KERV_OK);
    KOwnedHandle own(out);
    EXPECT_EQ(PixelRows(out), p.want);
}

INSTANTIATE_TEST_SUITE_P(Cases, Pictures, ::testing::ValuesIn(kPictures), ByName());

// A 24-bit image may carry a colour table: its pixels start after it.
TEST(FilterLayout, TrueColourPixelsStartAfterAColourTable) {
    LeakCheck leaks;
    KOwnedHandle src(RandomImage(9, 5, 24, 77, 3));
    ExpectResult(
        src.get(), [&](KHANDLE* o) { return FilterDIB(nullptr, src.get(), o, 24, 20); },
        Convolve(SamplesOf(src.get()), KernelOf(20)), "24 bits with 3 table entries");
}

// ---- Unsharp mask ----

struct UnsharpPicture {
    const char* name;
    int clipping, strength;
    Rows in, want;
};
void PrintTo(const UnsharpPicture& c, std::ostream* os) {
    *os << c.name;
}

// Soften More of a 3 x 3 picture with one bright centre: every window holds
// the centre once, so all blurred values are (8 x background + centre) / 9.
// clang-format off
const UnsharpPicture kUnsharpPictures[] = {
    // Blurred 12 everywhere: the centre differs by exactly 100, the rest by -12.
    {"DifferenceEqualToClippingStays", 100, 2,
     {{0, 0, 0}, {0, 112, 0}, {0, 0, 0}}, {{0, 0, 0}, {0, 112, 0}, {0, 0, 0}}},
    {"DifferenceAboveClippingDoubles", 100, 2,
     {{0, 0, 0}, {0, 113, 0}, {0, 0, 0}}, {{0, 0, 0}, {0, 214, 0}, {0, 0, 0}}},
    // Blurred 110: the centre differs by 80 (and clamps), the rest by -10.
    {"SmallDifferencesStayBelowTheClipping", 10, 2,
     {{100, 100, 100}, {100, 190, 100}, {100, 100, 100}},
     {{100, 100, 100}, {100, 255, 100}, {100, 100, 100}}},
    {"NegativeClippingSharpensEverything", -1, 2,
     {{100, 100, 100}, {100, 190, 100}, {100, 100, 100}},
     {{ 90,  90,  90}, { 90, 255,  90}, { 90,  90,  90}}},
};
// clang-format on

class UnsharpPictures : public ::testing::TestWithParam<UnsharpPicture> {};

TEST_P(UnsharpPictures, GiveTheHandComputedPixels) {
    const UnsharpPicture& p = GetParam();
    LeakCheck leaks;
    for (int bits : {8, 24}) {
        Rows in = p.in, want = p.want;
        if (bits == 24)
            for (Rows* rows : {&in, &want})
                for (auto& row : *rows)
                    for (uint32_t& v : row)
                        v *= 0x010101;
        KOwnedHandle src(FromRows(bits, in, bits == 8));
        KHANDLE out = nullptr;
        ASSERT_EQ(UnsharpMask(nullptr, src.get(), &out, int16_t(p.clipping), uint16_t(p.strength)),
                  KERV_OK);
        KOwnedHandle own(out);
        EXPECT_EQ(PixelRows(out), want) << bits << " bits";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, UnsharpPictures, ::testing::ValuesIn(kUnsharpPictures), ByName());

class UnsharpStrengths : public ::testing::TestWithParam<int> {};

TEST_P(UnsharpStrengths, MatchesTheFormulas) {
    const int strength = GetParam();
    LeakCheck leaks;
    for (int clipping : {-32768, -1, 0, 1, 37, 100, 255, 32767})
        for (int bits : {8, 24})
            for (Size s : kSizes) {
                if (s.h < (strength > 2 ? 5 : 3)) continue;
                KOwnedHandle src(
                    RandomImage(s.w, s.h, bits, uint32_t(clipping + s.w * 31 + s.h + bits)));
                ExpectResult(
                    src.get(),
                    [&](KHANDLE* o) {
                        return UnsharpMask(nullptr, src.get(), o, int16_t(clipping),
                                           uint16_t(strength));
                    },
                    Unsharp(SamplesOf(src.get()), clipping, strength),
                    Where("unsharp", bits, s) + ", clipping " + std::to_string(clipping));
            }
}

std::string BlurName(const ::testing::TestParamInfo<int>& p) {
    const char* const kNames[] = {"Soften", "SoftenMore", "Blur", "BlurMore"};
    return kNames[p.param - 1];
}

INSTANTIATE_TEST_SUITE_P(Blurs, UnsharpStrengths, ::testing::Values(1, 2, 3, 4), BlurName);

// ---- Refusals ----

TEST(FilterContract, RefusalsLeaveTheSlotNullAndNothingAllocated) {
    LeakCheck leaks;
    std::vector<KOwnedHandle> owned;
    auto keep = [&](KHANDLE h) { return owned.emplace_back(h).get(); };
    KHANDLE rgb = keep(RandomImage(6, 6, 24, 1)), grey = keep(RandomImage(6, 6, 8, 2));
    KHANDLE mono = keep(RandomImage(6, 6, 1, 3)), nibbles = keep(RandomImage(6, 6, 4, 4));
    KHANDLE twoRows = keep(RandomImage(6, 2, 24, 5)), fourRows = keep(RandomImage(6, 4, 8, 6));
    KHANDLE notADib = keep(KML_GlobalAlloc(KMEM_GHND, 64)), packed = keep(RandomImage(6, 6, 8, 7));
    DIBLock(packed)->biCompression = 1;
    FilterKernel k = Grid(KernelOf(20)), zero = k;
    zero.divisor = 0;
    using Slot = KHANDLE*;
    struct Case {
        const char* what;
        std::function<KervErrorCode(KHANDLE*)> op;
    };
    // clang-format off
    const Case kCases[] = {
        {"null source", [&](Slot o) { return Apply3x3to24BPP(nullptr, nullptr, o, &k, 0, 0); }},
        {"null kernel", [&](Slot o) { return Apply3x3to24BPP(nullptr, rgb, o, nullptr, 0, 0); }},
        {"divisor 0, 3x3", [&](Slot o) { return Apply3x3to8BPP(nullptr, grey, o, &zero, 0, 0); }},
        {"divisor 0, 5x5", [&](Slot o) { return Apply5x5to24BPP(nullptr, rgb, o, &zero); }},
        {"row offset 3", [&](Slot o) { return Apply3x3to24BPP(nullptr, rgb, o, &k, 3, 0); }},
        {"col offset 255", [&](Slot o) { return Apply3x3to8BPP(nullptr, grey, o, &k, 0, 255); }},
        {"grey engine, RGB", [&](Slot o) { return Apply5x5to8BPP(nullptr, rgb, o, &k); }},
        {"RGB engine, grey", [&](Slot o) { return Apply3x3to24BPP(nullptr, grey, o, &k, 0, 0); }},
        {"FilterDIB told 8 of 24", [&](Slot o) { return FilterDIB(nullptr, rgb, o, 8, 20); }},
        {"FilterDIB told 24 of 8", [&](Slot o) { return FilterDIB(nullptr, grey, o, 24, 20); }},
        {"1 bit", [&](Slot o) { return FilterDIB(nullptr, mono, o, 1, 31); }},
        {"4 bits", [&](Slot o) { return FilterDIB(nullptr, nibbles, o, 4, 31); }},
        {"compressed", [&](Slot o) { return FilterDIB(nullptr, packed, o, 8, 31); }},
        {"not a DIB", [&](Slot o) { return FilterDIB(nullptr, notADib, o, 8, 31); }},
        {"2 rows, 3 x 3", [&](Slot o) { return FilterDIB(nullptr, twoRows, o, 24, 1); }},
        {"4 rows, 5 x 5", [&](Slot o) { return Apply5x5to8BPP(nullptr, fourRows, o, &k); }},
        {"code 0", [&](Slot o) { return FilterDIB(nullptr, rgb, o, 24, 0); }},
        {"code 12", [&](Slot o) { return FilterDIB(nullptr, rgb, o, 24, 12); }},
        {"code -1", [&](Slot o) { return FilterDIB(nullptr, grey, o, 8, -1); }},
        {"unsharp, no source", [&](Slot o) { return UnsharpMask(nullptr, nullptr, o, 10, 1); }},
        {"strength 0", [&](Slot o) { return UnsharpMask(nullptr, rgb, o, 10, 0); }},
        {"strength 5", [&](Slot o) { return UnsharpMask(nullptr, rgb, o, 10, 5); }},
        {"strength 65535", [&](Slot o) { return UnsharpMask(nullptr, rgb, o, 10, 65535); }},
        {"unsharp 4 bits", [&](Slot o) { return UnsharpMask(nullptr, nibbles, o, 10, 1); }},
        {"unsharp 2 rows", [&](Slot o) { return UnsharpMask(nullptr, twoRows, o, 10, 1); }},
        {"unsharp Blur, 4 rows", [&](Slot o) { return UnsharpMask(nullptr, fourRows, o, 10, 3); }},
    };
    // clang-format on
    for (const Case& c : kCases)
        ExpectRefused(c.op, KERV_INVALID_PARAM, c.what);
    EXPECT_EQ(FilterDIB(nullptr, rgb, nullptr, 24, 20), KERV_INVALID_PARAM);
    EXPECT_EQ(Apply5x5to24BPP(nullptr, rgb, nullptr, &k), KERV_INVALID_PARAM);
    EXPECT_EQ(UnsharpMask(nullptr, rgb, nullptr, 10, 1), KERV_INVALID_PARAM);
}

// ---- Failures, stops and progress ----

struct Operation {
    const char* name;
    int bits;
    std::function<KervErrorCode(StatusControlBlock*, KHANDLE, KHANDLE*)> run;
    int passes; // row passes: 1 for the filters, 2 for the unsharp mask
};
void PrintTo(const Operation& c, std::ostream* os) {
    *os << c.name;
}

const FilterKernel kWideKernel = Grid(Kernel{3, -7, 3, {30000, -2, 3, 4, -32768, 6, 7, 8, 900}});

const Operation kOperations[] = {
    {"Sharpen8", 8, [](auto s, auto src, auto o) { return FilterDIB(s, src, o, 8, 20); }, 1},
    {"Sharpen24", 24, [](auto s, auto src, auto o) { return FilterDIB(s, src, o, 24, 20); }, 1},
    {"BlurMore8", 8, [](auto s, auto src, auto o) { return FilterDIB(s, src, o, 8, 11); }, 1},
    {"SharpenMore24", 24, [](auto s, auto src, auto o) { return FilterDIB(s, src, o, 24, 21); }, 1},
    {"WideKernel24", 24,
     [](auto s, auto src, auto o) { return Apply3x3to24BPP(s, src, o, &kWideKernel, 0, 0); }, 1},
    {"UnsharpSoften8", 8, [](auto s, auto src, auto o) { return UnsharpMask(s, src, o, 5, 1); }, 2},
    {"UnsharpBlurMore24", 24, [](auto s, auto src, auto o) { return UnsharpMask(s, src, o, 5, 4); },
     2},
};

class Operations : public ::testing::TestWithParam<Operation> {};

TEST_P(Operations, EveryAllocationFailureFreesEverything) {
    const Operation& op = GetParam();
    KOwnedHandle src(RandomImage(21, 9, op.bits, 8));
    const int points = SweepAllocationFailures(
        src.get(), [&](KHANDLE* out) { return op.run(nullptr, src.get(), out); });
    EXPECT_GE(points,
              op.passes == 1 ? 2 : 3); // line buffers and result; the blur's, then the result
}

// Start (0 of 100), a call before each row, the end; the unsharp mask does
// the rows twice, in passes 0 and 1 of 2, and gives the block back as it was.
TEST_P(Operations, ReportsEveryRow) {
    const Operation& op = GetParam();
    LeakCheck leaks;
    const int H = 7;
    KOwnedHandle src(RandomImage(5, H, op.bits, 9));
    struct Call {
        int current, total, pass, passCount;
        bool operator==(const Call&) const = default;
    };
    // The caller's pass 3 of 5 shows through a single pass.
    const bool two = op.passes == 2;
    std::vector<Call> calls, want{{0, 100, two ? 0 : 3, two ? 2 : 5}};
    for (int pass = 0; pass < op.passes; ++pass)
        for (int y = 0; y <= H; ++y)
            want.push_back({y, H, two ? pass : 3, two ? 2 : 5});
    StatusControlBlock status;
    status.pass = 3;
    status.passCount = 5;
    status.progress = [&](StatusControlBlock* s) {
        calls.push_back({s->current, s->total, s->pass, s->passCount});
        return 0;
    };
    KHANDLE out = nullptr;
    ASSERT_EQ(op.run(&status, src.get(), &out), KERV_OK);
    KML_GlobalFree(out);
    EXPECT_EQ(calls, want);
    EXPECT_EQ(status.pass, 3);
    EXPECT_EQ(status.passCount, 5);
}

// A stop asked at any row call ends the work; the answers to the start and
// end calls are not consulted, nor, in the unsharp mask, the end of the
// blur's pass.
TEST_P(Operations, StopsAtEveryRow) {
    const Operation& op = GetParam();
    const int H = 6, calls = 2 + op.passes * (H + 1) - 1;
    KOwnedHandle src(RandomImage(19, H, op.bits, 10));
    EXPECT_EQ(SweepStops(src.get(), BindSource(op.run, src.get()),
                         op.passes == 1 ? StopTaking::AtOnce : StopTaking::BeforeTheEnd),
              calls - 1);
    StatusControlBlock onlyStartAndEnd;
    int n = 0;
    onlyStartAndEnd.progress = [&](StatusControlBlock* s) {
        return ++n == 1 || s->current == s->total ? 1 : 0;
    };
    KHANDLE out = nullptr;
    EXPECT_EQ(op.run(&onlyStartAndEnd, src.get(), &out), KERV_OK);
    KML_GlobalFree(out);
}

INSTANTIATE_TEST_SUITE_P(All, Operations, ::testing::ValuesIn(kOperations), ByName());

} // namespace
