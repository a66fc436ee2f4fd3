#include "imaging/depth.h"
#include "imaging/optpal.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace brellix::test;

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

const RGBQUAD kSentinel{1, 2, 3, 4};

// Parameterised cases are listed by their names.
struct CaseName {
    template <class P> std::string operator()(const ::testing::TestParamInfo<P>& p) const {
        return p.param.name;
    }
};

// A 24-bit DIB whose pixels, in stored order (bottom row first), are `px`.
KHANDLE Image24(const std::vector<Rgb>& px, int width) {
    const int height = int(px.size()) / width;
    KHANDLE h = AllocDIB(width, height, 24, 0);
    DIBLock d(h);
    for (size_t i = 0; i < px.size(); ++i) {
        uint8_t* p = d.row(int(i) / width) + 3 * (i % size_t(width));
        p[0] = uint8_t(px[i].b), p[1] = uint8_t(px[i].g), p[2] = uint8_t(px[i].r);
    }
    return h;
}

// Every pixel's colour in stored order, palette images through their table.
std::vector<Rgb> Pixels(KHANDLE h) {
    DIBLock d(h);
    std::vector<Rgb> out;
    for (int r = 0; r < d.height(); ++r)
        for (int x = 0; x < d.width(); ++x) {
            const uint8_t* row = d.row(r);
            if (d.bitCount() == 24) {
                out.push_back({row[3 * x + 2], row[3 * x + 1], row[3 * x]});
                continue;
            }
            const uint32_t i = PixelAt(h, x, d.height() - 1 - r);
            const RGBQUAD e = i < DIBPaletteEntries(d.header()) ? d.palette()[i] : RGBQUAD{};
            out.push_back({e.rgbRed, e.rgbGreen, e.rgbBlue});
        }
    return out;
}

struct Generated {
    uint16_t count;
    std::array<RGBQUAD, 256> palette;
    std::vector<Rgb> Entries(int n) const {
        std::vector<Rgb> v;
        for (int i = 0; i < n; ++i)
            v.push_back({palette[size_t(i)].rgbRed, palette[size_t(i)].rgbGreen,
                         palette[size_t(i)].rgbBlue});
        return v;
    }
};

Generated Generate(uint8_t kind, uint16_t k, const std::vector<KHANDLE>& images,
                   bool windows = false, uint8_t depth = 8) {
    PaletteAccumulator acc;
    EXPECT_EQ(acc.Begin(kind, k, depth), 0);
    for (KHANDLE h : images)
        EXPECT_EQ(acc.AddImage(h), 0);
    Generated g;
    g.palette.fill(kSentinel);
    g.count = acc.Generate(g.palette.data(), windows);
    return g;
}

// ---- The octree written plainly: one node per allocation, pixel by pixel ----

struct RefNode {
    bool leaf = false;
    uint64_t n = 0, r = 0, g = 0, b = 0;
    std::unique_ptr<RefNode> kid[8];
    RefNode* next = nullptr;
};

struct RefOctree {
    int depth, k, leaves = 0;
    std::unique_ptr<RefNode> root;
    RefNode* lists[9] = {};

    void Add(const Rgb& c) {
        std::unique_ptr<RefNode>* link = &root;
        for (int level = 0;; ++level) {
            if (!*link) {
                *link = std::make_unique<RefNode>();
                if (level == depth) {
                    (*link)->leaf = true;
                    ++leaves;
                } else {
                    (*link)->next = lists[level];
                    lists[level] = link->get();
                }
            }
            RefNode* n = link->get();
            if (n->leaf) {
                n->n += 1, n->r += uint64_t(c.r), n->g += uint64_t(c.g), n->b += uint64_t(c.b);
                break;
            }
            const int s = 7 - level;
            link = &n->kid[((c.r >> s) & 1) * 4 + ((c.g >> s) & 1) * 2 + ((c.b >> s) & 1)];
        }
        while (leaves > k) {
            int level = depth - 1;
            while (!lists[level])
                --level;
            RefNode* n = lists[level];
            lists[level] = n->next;
            int kids = 0;
            for (auto& kid : n->kid)
                if (kid) {
                    n->n += kid->n, n->r += kid->r, n->g += kid->g, n->b += kid->b;
                    kid.reset();
                    ++kids;
                }
            n->leaf = true;
            leaves -= kids - 1;
        }
    }
    void Walk(const RefNode* n, std::vector<Rgb>& out) const {
        if (!n) return;
        if (n->leaf) out.push_back({int(n->r / n->n), int(n->g / n->n), int(n->b / n->n)});
        for (const auto& c : n->kid)
            Walk(c.get(), out);
    }
};

// ---- The median cut written plainly: items as tuples, sorted per split ----

struct RefItem {
    int r, g, b; // 5-bit
    uint64_t n;
};

int W(int c5) {
    return c5 * 8 + c5 / 4;
}

void RefSplit(std::vector<RefItem> items, size_t k, std::vector<Rgb>& out) {
    const size_t n = items.size();
    if (k == 1) {
        int r = 0, g = 0, b = 0;
        for (const RefItem& i : items)
            r += W(i.r), g += W(i.g), b += W(i.b);
        out.push_back({r / int(n), g / int(n), b / int(n)});
        return;
    }
    if (n == k) {
        for (const RefItem& i : items)
            out.push_back({W(i.r), W(i.g), W(i.b)});
        return;
    }
    auto range = [&](int RefItem::*c) {
        const auto [lo, hi] =
            std::minmax_element(items.begin(), items.end(),
                                [c](const RefItem& a, const RefItem& b) { return a.*c < b.*c; });
        return (*hi).*c - (*lo).*c;
    };
    const int rr = range(&RefItem::r), rg = range(&RefItem::g), rb = range(&RefItem::b);
    const int channel = rr >= rg && rr >= rb ? 0 : rg >= rb ? 1 : 2;
    std::sort(items.begin(), items.end(), [channel](const RefItem& a, const RefItem& b) {
        if (channel == 0) return std::tie(a.r, a.g, a.b) < std::tie(b.r, b.g, b.b);
        if (channel == 1) return std::tie(a.g, a.b, a.r) < std::tie(b.g, b.b, b.r);
        return std::tie(a.b, a.r, a.g) < std::tie(b.b, b.r, b.g);
    });
    const size_t half = k / 2;
    size_t L = 0, R = n - 1;
    uint64_t ls = items[L].n, rs = items[R].n;
    while (half > 1 && L < half - 1)
        ls += items[++L].n;
    while (n - R < half)
        rs += items[--R].n;
    for (size_t j = (R - L) / 8; j > 0; --j)
        ls += items[++L].n, rs += items[--R].n;
    while (L < R) {
        if (ls < rs)
            ls += items[++L].n;
        else
            rs += items[--R].n;
    }
    size_t leftN = ls <= rs ? L : L + 1, leftK = ls <= rs ? half : k - half;
    leftN = std::clamp<size_t>(leftN, 1, n - 1);
    leftK = std::min(leftK, leftN);
    while (k - leftK > n - leftN)
        ++leftK;
    RefSplit({items.begin(), items.begin() + long(leftN)}, leftK, out);
    RefSplit({items.begin() + long(leftN), items.end()}, k - leftK, out);
}

// The palette and count, from every pixel of the images.
std::pair<std::vector<Rgb>, size_t> RefMedianCut(const std::vector<KHANDLE>& images, size_t k) {
    std::map<int, RefItem> byKey;
    for (KHANDLE h : images)
        for (const Rgb& p : Pixels(h)) {
            RefItem& i = byKey[(p.r >> 3) * 1024 + (p.g >> 3) * 32 + (p.b >> 3)];
            i = {p.r >> 3, p.g >> 3, p.b >> 3, i.n + 1};
        }
    std::vector<RefItem> items;
    for (const auto& [key, item] : byKey)
        items.push_back(item);
    std::vector<Rgb> out;
    if (items.size() <= k) {
        RefSplit(items, items.size(), out);
        out.resize(k, Rgb{0, 0, 0});
        return {out, items.size()};
    }
    RefSplit(items, k, out);
    return {out, k};
}

// ---- Images for the comparisons ----

// Colours drawn from a small set, in runs of random length (runs cross rows).
KHANDLE RunsImage(int w, int h, int colours, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<Rgb> set, px;
    for (int i = 0; i < colours; ++i)
        set.push_back({int(rng() % 256), int(rng() % 256), int(rng() % 256)});
    while (px.size() < size_t(w) * size_t(h)) {
        const Rgb c = set[rng() % set.size()];
        for (int n = int(rng() % 12) + 1; n > 0 && px.size() < size_t(w) * size_t(h); --n)
            px.push_back(c);
    }
    return Image24(px, w);
}

// Smooth gradients with a little grain, as photographs have.
KHANDLE SmoothImage(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<Rgb> px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px.push_back({(x * 255 / w + int(rng() % 5)) % 256, (y * 255 / h) % 256,
                          ((x + y) * 128 / (w + h) + int(rng() % 3)) % 256});
    return Image24(px, w);
}

// ---- The documented examples ----

TEST(MedianCut, TenColoursWithSixteenBoxesComeOutInKeyOrderThenBlack) {
    // 5-bit colours chosen so that key order (red, then green, then blue) is
    // not the order of first appearance; each pixel carries low bits the
    // histogram must drop.
    const std::vector<Rgb> five = {{31, 0, 0}, {0, 0, 1}, {0, 1, 0},    {16, 16, 16}, {1, 31, 31},
                                   {0, 0, 31}, {2, 0, 0}, {16, 16, 15}, {5, 5, 5},    {0, 31, 0}};
    std::vector<Rgb> px;
    for (size_t i = 0; i < 30; ++i) {
        const Rgb& c = five[i % 10];
        px.push_back({c.r * 8 + int(i % 8), c.g * 8 + int(i % 7), c.b * 8 + int(i % 6)});
    }
    KOwnedHandle img(Image24(px, 5));
    ASSERT_EQ(BeginOptimizedPalette(kPaletteMedianCut, 16, 8), 0);
    ASSERT_EQ(AddImageToPalette(img.get()), 0);
    std::array<RGBQUAD, 256> pal;
    pal.fill(kSentinel);
    ASSERT_EQ(GenerateOptimizedPalette(pal.data(), false), 10);
    // Key order: (0,0,1) (0,0,31) (0,1,0) (0,31,0) (1,31,31) (2,0,0) (5,5,5)
    // (16,16,15) (16,16,16) (31,0,0); c widens to c * 8 + c / 4.
    const std::vector<Rgb> want = {{0, 0, 8},       {0, 0, 255}, {0, 8, 0},    {0, 255, 0},
                                   {8, 255, 255},   {16, 0, 0},  {41, 41, 41}, {132, 132, 123},
                                   {132, 132, 132}, {255, 0, 0}};
    Generated g{10, pal};
    EXPECT_EQ(g.Entries(10), want);
    for (int i = 10; i < 16; ++i)
        EXPECT_EQ(std::memcmp(&pal[size_t(i)], "\0\0\0\0", 4), 0) << i;
    EXPECT_EQ(std::memcmp(&pal[16], &kSentinel, 4), 0) << "nothing beyond K is written";
    EXPECT_EQ(GenerateOptimizedPalette(pal.data(), false), kNoPaletteBegun) << "generate ends it";
}

TEST(MedianCut, ColoursAlikeInTheirTopFiveBitsShareOneCounter) {
    // 200,100,50 and 207,103,55 are both (25,12,6): one entry, 206,99,49.
    KOwnedHandle img(Image24({{200, 100, 50}, {207, 103, 55}, {207, 103, 55}}, 3));
    const Generated g = Generate(kPaletteMedianCut, 2, {img.get()});
    EXPECT_EQ(g.count, 1);
    EXPECT_EQ(g.Entries(1), (std::vector<Rgb>{{206, 99, 49}}));
}

TEST(WindowsColors, TheTwentySystemColoursInOrder) {
    const Rgb want[20] = {{0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},
                          {0, 0, 128},     {128, 0, 128},   {0, 128, 128},   {192, 192, 192},
                          {192, 220, 192}, {166, 202, 240}, {255, 251, 240}, {160, 160, 164},
                          {128, 128, 128}, {255, 0, 0},     {0, 255, 0},     {255, 255, 0},
                          {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    for (int i = 0; i < 20; ++i) {
        const RGBQUAD e = kWindowsSystemColors[i];
        EXPECT_EQ((Rgb{e.rgbRed, e.rgbGreen, e.rgbBlue}), want[i]) << i;
        EXPECT_EQ(e.rgbReserved, 0) << i;
    }
}

struct WindowsCase {
    std::string name;
    uint8_t kind;
    uint16_t k;
    int colours;    // distinct colours in the image
    uint16_t count; // 0: whatever the octree's folds leave, up to K
    bool placed;
};

class WindowsPlacement : public ::testing::TestWithParam<WindowsCase> {};

TEST_P(WindowsPlacement, TenBeforeAndTenAfterTheGeneratedColours) {
    const WindowsCase& c = GetParam();
    std::vector<Rgb> px;
    for (int i = 0; i < c.colours; ++i)
        px.push_back({(i % 16) * 16, (i / 16) * 16, 40});
    KOwnedHandle img(Image24(px, 1));
    const Generated plain = Generate(c.kind, c.k, {img.get()});
    const Generated framed = Generate(c.kind, c.k, {img.get()}, true);
    if (c.count != 0) {
        EXPECT_EQ(plain.count, c.count);
    }
    ASSERT_GT(plain.count, 0);
    ASSERT_LE(plain.count, c.k);
    ASSERT_EQ(framed.count, plain.count) << "the count leaves the system colours out";
    const RGBQUAD* p = framed.palette.data();
    if (!c.placed) {
        EXPECT_EQ(std::memcmp(p, plain.palette.data(), 256 * 4), 0);
        return;
    }
    const size_t n = plain.count;
    EXPECT_EQ(std::memcmp(p, kWindowsSystemColors, 40), 0);
    EXPECT_EQ(std::memcmp(p + 10, plain.palette.data(), n * 4), 0);
    EXPECT_EQ(std::memcmp(p + 10 + n, kWindowsSystemColors + 10, 40), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowsPlacement,
    ::testing::Values(WindowsCase{"MedianCut236Full", kPaletteMedianCut, 236, 256, 236, true},
                      WindowsCase{"MedianCutThreeColours", kPaletteMedianCut, 236, 3, 3, true},
                      WindowsCase{"Octree236Full", kPaletteOctree, 236, 256, 0, true},
                      WindowsCase{"Above236NotPlaced", kPaletteMedianCut, 256, 256, 256, false}),
    CaseName());

TEST(Octree, OneColourComesBackExactly) {
    for (const Rgb c : {Rgb{123, 45, 67}, Rgb{255, 255, 255}, Rgb{0, 0, 0}, Rgb{1, 254, 128}}) {
        KOwnedHandle img(Image24(std::vector<Rgb>(77, c), 7));
        const Generated g = Generate(kPaletteOctree, 16, {img.get()});
        ASSERT_EQ(g.count, 1);
        EXPECT_EQ(g.Entries(1)[0], c);
        EXPECT_EQ(std::memcmp(&g.palette[1], &kSentinel, 4), 0);
    }
}

TEST(Octree, TwoHundredFiftySixColoursAreKeptExactlyInTreeOrder) {
    // An 8-bit image using every entry of a random table of 256 distinct
    // colours. Tree order: the colours sorted by their interleaved bits, red
    // before green before blue at each level.
    std::mt19937 rng(7);
    KOwnedHandle img(AllocDIB(33, 17, 8, 256));
    std::vector<std::pair<uint32_t, Rgb>> want;
    {
        DIBLock d(img.get());
        std::vector<uint32_t> seen;
        for (int i = 0; i < 256; ++i) {
            uint32_t v;
            do
                v = rng() & 0xFFFFFF;
            while (std::find(seen.begin(), seen.end(), v) != seen.end());
            seen.push_back(v);
            const Rgb c{int(v >> 16), int((v >> 8) & 255), int(v & 255)};
            d.palette()[i] = RGBQUAD{uint8_t(c.b), uint8_t(c.g), uint8_t(c.r), 0};
            uint32_t morton = 0;
            for (int bit = 7; bit >= 0; --bit)
                morton = morton * 8 + uint32_t(((c.r >> bit) & 1) * 4 + ((c.g >> bit) & 1) * 2 +
                                               ((c.b >> bit) & 1));
            want.push_back({morton, c});
        }
        for (int i = 0; i < 33 * 17; ++i)
            d.row(i / 33)[i % 33] = uint8_t(i % 256);
    }
    std::sort(want.begin(), want.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    const Generated g = Generate(kPaletteOctree, 256, {img.get()});
    ASSERT_EQ(g.count, 256);
    const std::vector<Rgb> got = g.Entries(256);
    for (size_t i = 0; i < 256; ++i)
        EXPECT_EQ(got[i], want[i].second) << i;
}

// ---- The median cut's split, worked by hand ----

struct SplitCase {
    std::string name;
    uint16_t k;
    std::vector<std::pair<Rgb, int>> colours; // 5-bit colour, pixel count
    std::vector<Rgb> want;
};

class MedianCutByHand : public ::testing::TestWithParam<SplitCase> {};

TEST_P(MedianCutByHand, Boxes) {
    const SplitCase& c = GetParam();
    std::vector<Rgb> px;
    for (const auto& [five, n] : c.colours)
        for (int i = 0; i < n; ++i)
            px.push_back({five.r * 8 + i % 8, five.g * 8 + (i * 3) % 8, five.b * 8 + (i * 5) % 8});
    std::shuffle(px.begin(), px.end(), std::mt19937(3)); // order must not matter
    KOwnedHandle img(Image24(px, 1));
    const Generated g = Generate(kPaletteMedianCut, c.k, {img.get()});
    ASSERT_EQ(g.count, c.k);
    EXPECT_EQ(g.Entries(c.k), c.want);
}

// Each case's working: the sorted items with their pixel counts; L/R the
// cursors with their sums; "meet" the item they meet on.
INSTANTIATE_TEST_SUITE_P(
    Cases, MedianCutByHand,
    ::testing::Values(
        // Red 0,10,20 (widened 0,82,165), counts 1,1,10. L0=1 R2=10; L1=2,
        // L2=12, meet 2 with 12 > 10: left takes it, 3 items -> 2, K-half = 1
        // box: avg(0,82)=41 | 165.
        SplitCase{"WeightPullsTheSplitRight",
                  2,
                  {{{0, 0, 0}, 1}, {{10, 0, 0}, 1}, {{20, 0, 0}, 10}},
                  {{41, 0, 0}, {165, 0, 0}}},
        // Counts 10,1,1: R1=2, R0=12, meet 0 with 10 <= 12: left part empty
        // -> 1 item: 0 | avg(82,165)=123.
        SplitCase{"EmptyLeftPartTakesOneItem",
                  2,
                  {{{0, 0, 0}, 10}, {{10, 0, 0}, 1}, {{20, 0, 0}, 1}},
                  {{0, 0, 0}, {123, 0, 0}}},
        // One box: (0 + 82 + 165) / 3 = 82, however many pixels each has.
        SplitCase{"OneBoxAveragesDistinctColours",
                  1,
                  {{{0, 0, 0}, 50}, {{10, 0, 0}, 1}, {{20, 0, 0}, 1}},
                  {{82, 0, 0}}},
        // Ranges r4 g30 b9: green. Sorted by green, blue, red: c1(2,0,5)x4
        // c5(4,7,2)x5 c3(3,15,0)x2 c4(1,15,9)x3 c2(0,30,1)x1 (c3 before c4
        // on blue). L0=4 R4=1; R3=4, R2=6, L1=9, R1=11: meet 1, 9 <= 11: c1 |
        // 4 items, 2 boxes. There green again: c5 c3 c4 c2 (5,2,3,1): L0=5
        // R3=1; R2=4, R1=6, L1=7: meet 1, 7 > 6: c5,c3 | c4,c2.
        // c1 -> 16,0,41; avg(33,57,16 ; 24,123,0) = 28,90,8;
        // avg(8,123,74 ; 0,247,8) = 4,185,41.
        SplitCase{
            "GreenWidestTiesBrokenByBlue",
            3,
            {{{2, 0, 5}, 4}, {{0, 30, 1}, 1}, {{3, 15, 0}, 2}, {{1, 15, 9}, 3}, {{4, 7, 2}, 5}},
            {{16, 0, 41}, {28, 90, 8}, {4, 185, 41}}},
        // Ranges r3 g3 b20: blue; sorted by blue, red, green: u(0,3,0)x1
        // q(0,2,20)x1 s(3,0,20)x5. L0=1 R2=5; L1=2, L2=7: meet 2, 7 > 5:
        // left 3 -> 2 items, 1 box: avg(0,24,0 ; 0,16,165) = 0,20,82 | s.
        SplitCase{"BlueWidestTiesBrokenByRed",
                  2,
                  {{{0, 3, 0}, 1}, {{0, 2, 20}, 1}, {{3, 0, 20}, 5}},
                  {{0, 20, 82}, {24, 0, 165}}},
        // Ranges r10 g10 b0: red wins the tie. Sorted a(0,10,0) c(5,5,0)
        // b(10,0,0): R1=2, L1=2, meet 1, 2 <= 2: a | avg(41,41,0 ; 82,0,0).
        SplitCase{"RedWinsATieWithGreen",
                  2,
                  {{{0, 10, 0}, 1}, {{10, 0, 0}, 1}, {{5, 5, 0}, 1}},
                  {{0, 82, 0}, {61, 20, 0}}},
        // Ranges r0 g10 b10: green wins the tie. Sorted a(0,0,10) c(0,5,5)
        // b(0,10,0): a | avg(0,41,41 ; 0,82,0).
        SplitCase{"GreenWinsATieWithBlue",
                  2,
                  {{{0, 0, 10}, 1}, {{0, 10, 0}, 1}, {{0, 5, 5}, 1}},
                  {{0, 0, 82}, {0, 61, 20}}},
        // Reds 0..19 (count 1, red 19 count 20), K 4, half 2. L advances to
        // 1 (2); R: R19=20, R18=21. Jump (18-1)/8 = 2: L3=4, R16=23. L walks
        // to 16 (17): meet 16, 17 <= 23: 0..15 get 2 boxes, 16..19 get 2.
        // 0..15: L0=1 R15=1, jump 1: L1=2 R14=2, then alternating to meet 7
        // with 8 <= 9: 0..6 | 7..15: avg widened 171/7 = 24, 813/9 = 90.
        // 16..19 (1,1,1,20): L walks to 3 (23 > 20): 3 items -> the first
        // three: 420/3 = 140 | 156.
        SplitCase{"CursorsJumpAnEighthInward",
                  4,
                  [] {
                      std::vector<std::pair<Rgb, int>> v;
                      for (int r = 0; r < 20; ++r)
                          v.push_back({{r, 0, 0}, r == 19 ? 20 : 1});
                      return v;
                  }(),
                  {{24, 0, 0}, {90, 0, 0}, {140, 0, 0}, {156, 0, 0}}},
        // Reds 0,4,8,12,16 with counts 10,1,1,3,3, K 4, half 2: L starts at
        // 1 (11), R at 3 (6); R walks to 1 (8): meet 1, 11 > 8: 0,4 in 2
        // boxes | 8,12,16 (1,3,3) in 2: L1=4, R1=6, meet 1, 4 <= 6: 8 |
        // avg(99,132) = 115. (Starting L at 0 would give 0 | 49 | 99 | 132.)
        SplitCase{
            "LeftCursorStartsAtHalfMinusOne",
            4,
            {{{0, 0, 0}, 10}, {{4, 0, 0}, 1}, {{8, 0, 0}, 1}, {{12, 0, 0}, 3}, {{16, 0, 0}, 3}},
            {{0, 0, 0}, {33, 0, 0}, {66, 0, 0}, {115, 0, 0}}},
        // Reds 0,4,8,12,16,20 with counts 1,1,1,1,1,50, K 5, half 2: L to
        // 1, R to 4 (51), L walks to 4 (5): meet 4, 5 <= 51: 4 items, 2
        // boxes; the right would have 3 boxes for 2 items, so the left gets
        // 3. Left 0,4,8,12 in 3: 0 | 4 | avg(66,99) = 82; right 132 | 165.
        SplitCase{"LeftBoxesRaisedForAShortRightPart",
                  5,
                  {{{0, 0, 0}, 1},
                   {{4, 0, 0}, 1},
                   {{8, 0, 0}, 1},
                   {{12, 0, 0}, 1},
                   {{16, 0, 0}, 1},
                   {{20, 0, 0}, 50}},
                  {{0, 0, 0}, {33, 0, 0}, {82, 0, 0}, {132, 0, 0}, {165, 0, 0}}}),
    CaseName());

// ---- The octree's reductions, worked by hand ----

struct OctreeCase {
    std::string name;
    uint16_t k;
    uint8_t depth;
    std::vector<Rgb> pixels; // in stored order
    std::vector<Rgb> want;
};

class OctreeByHand : public ::testing::TestWithParam<OctreeCase> {};

TEST_P(OctreeByHand, Leaves) {
    const OctreeCase& c = GetParam();
    KOwnedHandle img(Image24(c.pixels, int(c.pixels.size())));
    const Generated g = Generate(kPaletteOctree, c.k, {img.get()}, false, c.depth);
    ASSERT_EQ(g.count, c.want.size());
    EXPECT_EQ(g.Entries(g.count), c.want);
}

const Rgb X1{0, 0, 0}, X2{0, 0, 1}, Y1{255, 255, 255}, Y2{255, 255, 254};

INSTANTIATE_TEST_SUITE_P(
    Cases, OctreeByHand,
    ::testing::Values(
        // 255,0,0 goes down child 4, 0,0,255 and 0,0,254 down child 1 and
        // part at level 7. The third leaf folds the newest level-7 node
        // (blue's) into 0,0,509/2. Child 1 is walked before child 4.
        OctreeCase{"ThirdLeafFoldsTheNewestDeepNode",
                   2,
                   8,
                   {{255, 0, 0}, {0, 0, 255}, {0, 0, 254}},
                   {{0, 0, 254}, {255, 0, 0}}},
        // X1, X2 share a level-7 node, Y1 makes another; Y2 is the fourth
        // leaf and the newest level-7 node is Y's: Y folds to 255,255,254.
        OctreeCase{"NewestNodeFoldsFirst", 3, 8, {X1, X2, Y1, Y2}, {X1, X2, {255, 255, 254}}},
        // Same colours, Y first: now X's node is the newest and folds.
        OctreeCase{"OrderDecidesWhichNodeFolds", 3, 8, {Y1, Y2, X1, X2}, {X1, Y2, Y1}},
        // Leaves at level 1: 10,10,10 and 100,20,30 share child 0 and
        // average to 55,15,20; 200,0,0 is child 4.
        OctreeCase{"ShallowTreeAveragesByTopBit",
                   8,
                   1,
                   {{10, 10, 10}, {200, 0, 0}, {100, 20, 30}},
                   {{55, 15, 20}, {200, 0, 0}}},
        // Depth 0: the root is the one leaf.
        OctreeCase{"DepthZeroIsOneLeaf",
                   8,
                   0,
                   {{10, 10, 10}, {200, 0, 0}, {100, 20, 31}},
                   {{103, 10, 13}}}),
    CaseName());

// ---- Against the plain median cut and octree, and across depths ----

struct MedianCase {
    std::string name;
    int w, h;
    int kind; // 0 runs of few colours, 1 smooth, 2 noise
    uint16_t k;
    int images;
};

class MedianCutAgainstReference : public ::testing::TestWithParam<MedianCase> {};

TEST_P(MedianCutAgainstReference, SamePalette) {
    const MedianCase& c = GetParam();
    std::vector<KOwnedHandle> owned;
    std::vector<KHANDLE> images;
    for (int i = 0; i < c.images; ++i) {
        owned.emplace_back(c.kind == 0   ? RunsImage(c.w, c.h, 300, uint32_t(30 + i))
                           : c.kind == 1 ? SmoothImage(c.w, c.h, uint32_t(31 + i))
                                         : MakeRandomDIB(c.w, c.h, 24, uint32_t(32 + i)));
        images.push_back(owned.back().get());
    }
    const auto [want, count] = RefMedianCut(images, c.k);
    const Generated g = Generate(kPaletteMedianCut, c.k, images);
    ASSERT_EQ(g.count, count);
    EXPECT_EQ(g.Entries(c.k), want);
}

INSTANTIATE_TEST_SUITE_P(Cases, MedianCutAgainstReference,
                         ::testing::Values(MedianCase{"Noise1x1K1", 1, 1, 2, 1, 1},
                                           MedianCase{"Noise7x3K2", 7, 3, 2, 2, 1},
                                           MedianCase{"Noise33x17K16", 33, 17, 2, 16, 1},
                                           MedianCase{"Noise97x61K256", 97, 61, 2, 256, 1},
                                           MedianCase{"NoiseWide1001x3K37", 1001, 3, 2, 37, 1},
                                           MedianCase{"SmoothTwoImages203x31K236", 203, 31, 1, 236,
                                                      2},
                                           MedianCase{"Runs65x33K100", 65, 33, 0, 100, 1},
                                           MedianCase{"RunsThreeImages40x9K5", 40, 9, 0, 5, 3}),
                         CaseName());

struct RefCase {
    std::string name;
    int w, h;
    int kind; // 0 runs of few colours, 1 smooth, 2 noise
    uint16_t k;
};

class OctreeAgainstReference : public ::testing::TestWithParam<RefCase> {};

TEST_P(OctreeAgainstReference, SameLeavesInTheSameOrder) {
    const RefCase& c = GetParam();
    KOwnedHandle img(c.kind == 0   ? RunsImage(c.w, c.h, 40, 11)
                     : c.kind == 1 ? SmoothImage(c.w, c.h, 12)
                                   : MakeRandomDIB(c.w, c.h, 24, 13));
    RefOctree ref{8, c.k};
    for (const Rgb& p : Pixels(img.get()))
        ref.Add(p);
    std::vector<Rgb> want;
    ref.Walk(ref.root.get(), want);
    const Generated g = Generate(kPaletteOctree, c.k, {img.get()});
    ASSERT_EQ(g.count, want.size());
    EXPECT_EQ(g.Entries(g.count), want);
}

INSTANTIATE_TEST_SUITE_P(Cases, OctreeAgainstReference,
                         ::testing::Values(RefCase{"Runs1x1", 1, 1, 0, 4},
                                           RefCase{"Runs33x17K16", 33, 17, 0, 16},
                                           RefCase{"Runs101x9K7", 101, 9, 0, 7},
                                           RefCase{"Smooth64x48K256", 64, 48, 1, 256},
                                           RefCase{"Smooth203x31K16", 203, 31, 1, 16},
                                           RefCase{"Noise7x3K2", 7, 3, 2, 2},
                                           RefCase{"Noise97x61K256", 97, 61, 2, 256},
                                           RefCase{"Noise129x40K1", 129, 40, 2, 1}),
                         CaseName());

struct DepthCase {
    std::string name;
    int bits, w, h;
    uint8_t kind;
    uint16_t k;
    bool runs; // stretches of 13 equal bytes, mostly 0x00 or 0xFF: long runs
};

class PaletteImages : public ::testing::TestWithParam<DepthCase> {};

// A palette image counts exactly as its 24-bit rendering does, pixel order
// included (the octree depends on it).
TEST_P(PaletteImages, CountAsTheirTrueColourRendering) {
    const DepthCase& c = GetParam();
    KOwnedHandle img(MakeRandomDIB(c.w, c.h, c.bits, 21));
    {
        DIBLock d(img.get());
        std::mt19937 rng(22);
        if (c.runs)
            for (size_t i = 0; i < d->biSizeImage; i += 13) {
                const uint8_t v = rng() % 4 == 0 ? uint8_t(rng()) : rng() % 2 ? 0xFF : 0x00;
                std::memset(d.bits() + i, v, std::min<size_t>(13, d->biSizeImage - i));
            }
        // A short table at 8 bits: indexes beyond it must read as black.
        if (c.bits == 8) d->biClrUsed = 200;
    }
    KHANDLE raised = nullptr;
    ASSERT_EQ(IncreaseDepthDIB(nullptr, img.get(), &raised, 24), 0);
    KOwnedHandle rgb(raised);
    const std::vector<uint8_t> before = BlockBytes(img.get());
    const Generated a = Generate(c.kind, c.k, {img.get()});
    const Generated b = Generate(c.kind, c.k, {rgb.get()});
    EXPECT_EQ(BlockBytes(img.get()), before) << "images are only read";
    ASSERT_EQ(a.count, b.count);
    EXPECT_EQ(a.Entries(256), b.Entries(256));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PaletteImages,
    ::testing::Values(DepthCase{"OneBit1x1Median", 1, 1, 1, 0, 2, false},
                      DepthCase{"OneBit77x5Median", 1, 77, 5, 0, 2, false},
                      DepthCase{"OneBit200x9Octree", 1, 200, 9, 1, 1, false},
                      DepthCase{"OneBitRuns131x7Octree", 1, 131, 7, 1, 2, true},
                      DepthCase{"OneBitRuns1000x5Octree", 1, 1000, 5, 1, 1, true},
                      DepthCase{"OneBitRuns999x3Median", 1, 999, 3, 0, 1, true},
                      DepthCase{"FourBit7x3Median", 4, 7, 3, 0, 5, false},
                      DepthCase{"FourBitRuns33x17Octree", 4, 33, 17, 1, 6, true},
                      DepthCase{"EightBitShortTable33x17Median", 8, 33, 17, 0, 64, false},
                      DepthCase{"EightBitShortTable65x9Octree", 8, 65, 9, 1, 100, false},
                      DepthCase{"EightBitRuns90x4Octree", 8, 90, 4, 1, 3, true}),
    CaseName());

// ---- Arguments, states and memory ----

TEST(Accumulator, RefusedBeginLeavesItIdle) {
    struct Case {
        uint8_t kind;
        uint16_t k;
        uint8_t depth;
        bool windows;
        KervErrorCode rc;
    };
    KOwnedHandle img(Image24({{1, 2, 3}}, 1));
    for (const Case& c :
         {Case{2, 16, 8, false, 101}, Case{0, 0, 8, false, 101}, Case{1, 257, 8, false, 101},
          Case{0, 237, 8, true, 101}, Case{1, 9, 9, false, 101}, Case{0, 236, 8, true, 0},
          Case{1, 256, 8, false, 0}, Case{0, 1, 0, false, 0}}) {
        PaletteAccumulator acc;
        ASSERT_EQ(acc.Begin(0, 16, 8), 0);
        ASSERT_EQ(acc.AddImage(img.get()), 0);
        EXPECT_EQ(acc.Begin(c.kind, c.k, c.depth, c.windows), c.rc) << int(c.kind) << " " << c.k;
        EXPECT_EQ(acc.AddImage(img.get()), c.rc == 0 ? 0 : 101);
        RGBQUAD pal[256];
        EXPECT_EQ(acc.Generate(pal, false), c.rc == 0 ? 1 : kNoPaletteBegun);
    }
}

TEST(Accumulator, WhatCannotBeCountedAndWhatIsSkipped) {
    PaletteAccumulator acc;
    KOwnedHandle img(Image24({{1, 2, 3}}, 1));
    EXPECT_EQ(acc.AddImage(img.get()), 101) << "nothing begun";
    ASSERT_EQ(acc.Begin(kPaletteOctree, 4, 8), 0);
    EXPECT_EQ(acc.AddImage(nullptr), 101);
    KOwnedHandle odd(AllocDIB(5, 5, 24, 0));
    { DIBLock(odd.get())->biBitCount = 16; }
    EXPECT_EQ(acc.AddImage(odd.get()), 0) << "16 bits adds nothing";
    KOwnedHandle lying(AllocDIB(5, 5, 8, 256));
    { DIBLock(lying.get())->biHeight = 500; }
    EXPECT_EQ(acc.AddImage(lying.get()), 101) << "header larger than its block";
    RGBQUAD pal[256];
    EXPECT_EQ(acc.Generate(pal, false), 0);
}

TEST(Accumulator, APrivateOneLeavesTheSharedOneAlone) {
    KOwnedHandle a(Image24({{255, 0, 0}}, 1)), b(Image24({{0, 0, 255}, {0, 255, 0}}, 2));
    ASSERT_EQ(BeginOptimizedPalette(kPaletteMedianCut, 16, 8), 0);
    ASSERT_EQ(AddImageToPalette(a.get()), 0);
    const Generated mine = Generate(kPaletteOctree, 4, {b.get()});
    EXPECT_EQ(mine.count, 2);
    RGBQUAD pal[256];
    ASSERT_EQ(GenerateOptimizedPalette(pal, false), 1);
    EXPECT_EQ(pal[0].rgbRed, 255);
    EXPECT_EQ(pal[0].rgbBlue, 0);
}

TEST(Accumulator, HistogramThatCannotBeHadGives102AndLeavesItIdle) {
    LeakCheck leaks;
    PaletteAccumulator acc;
    KML_FailNthAllocation(1);
    EXPECT_EQ(acc.Begin(kPaletteMedianCut, 16, 8), 102);
    KML_FailNthAllocation(0);
    EXPECT_FALSE(acc.Begun());
    RGBQUAD pal[256];
    EXPECT_EQ(acc.Generate(pal, false), kNoPaletteBegun);
}

TEST(Accumulator, OctreeNodeFailureStopsCleanlyAndStaysUsable) {
    LeakCheck leaks;
    KOwnedHandle img(MakeRandomDIB(97, 61, 24, 5)), more(RunsImage(33, 17, 20, 6));
    const std::vector<uint8_t> before = BlockBytes(img.get());
    int failures = 0;
    for (uint64_t n = 1; n < 100; ++n) {
        PaletteAccumulator acc;
        ASSERT_EQ(acc.Begin(kPaletteOctree, 256, 8), 0);
        KML_FailNthAllocation(n);
        const KervErrorCode rc = acc.AddImage(img.get());
        KML_FailNthAllocation(0);
        EXPECT_EQ(BlockBytes(img.get()), before);
        if (rc == 0) break;
        ++failures;
        ASSERT_EQ(rc, 102) << n;
        // What was inserted stays, and more can be added.
        ASSERT_EQ(acc.AddImage(more.get()), 0) << n;
        RGBQUAD pal[256];
        const uint16_t count = acc.Generate(pal, false);
        if (n == 1) {
            EXPECT_EQ(count, 20) << "the first pool block failed: only the second image";
        }
        EXPECT_GE(count, 1) << n;
        EXPECT_LE(count, 256) << n;
    }
    EXPECT_GE(failures, 3) << "the tree grows through several pool blocks";
}

TEST(Accumulator, CountsBeyondThirtyTwoBitsNeitherWrapNorOverflow) {
    // A 65535 x 8192 1-bit image of index 0 is 536,862,720 pixels. Added 9
    // times as colour X (4.8e9 pixels) and twice as Z (1.07e9), plus one
    // pixel of Y, along red: X=0, Y=10, Z=20 (5 bits), K = 2. X's counter
    // saturates at 2^32 - 1 > Z's, so the cursors meet on X: X | Y,Z =
    // 0 | avg(82,165) = 123. A wrapped counter (536,797,184 < Z) would give
    // X,Y | Z instead.
    KOwnedHandle big(AllocDIB(65535, 8192, 1, 2));
    ASSERT_TRUE(big);
    auto colour = [&](int r) {
        DIBLock d(big.get());
        d.palette()[0] = RGBQUAD{0, 0, uint8_t(r), 0};
    };
    KOwnedHandle y(Image24({{80, 0, 0}}, 1));
    PaletteAccumulator median, octree;
    ASSERT_EQ(median.Begin(kPaletteMedianCut, 2, 8), 0);
    ASSERT_EQ(octree.Begin(kPaletteOctree, 1, 8), 0);
    colour(0);
    for (int i = 0; i < 9; ++i)
        ASSERT_EQ(median.AddImage(big.get()), 0);
    colour(160);
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(median.AddImage(big.get()), 0);
    ASSERT_EQ(median.AddImage(y.get()), 0);
    RGBQUAD pal[256];
    ASSERT_EQ(median.Generate(pal, false), 2);
    EXPECT_EQ(pal[0].rgbRed, 0);
    EXPECT_EQ(pal[1].rgbRed, 123);
    // The octree's one leaf averages 4.8e9 pixels of 255 to 255 exactly.
    colour(255);
    for (int i = 0; i < 9; ++i)
        ASSERT_EQ(octree.AddImage(big.get()), 0);
    ASSERT_EQ(octree.Generate(pal, false), 1);
    EXPECT_EQ(pal[0].rgbRed, 255);
}

} // namespace
