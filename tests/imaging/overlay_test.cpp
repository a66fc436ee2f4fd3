#include "imaging/overlay.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace brellix::test;

namespace {

// ---- The rules, written out for the references ----

// Tolerance percent -> per-channel limit: v = t x 200 / 100, T = v x 255 / 200.
int Limit(int percent) {
    return percent * 200 / 100 * 255 / 200;
}

bool Differ(int r1, int g1, int b1, int r2, int g2, int b2, int percent) {
    const int T = Limit(percent);
    return r1 > r2 + T || r1 < r2 - T || g1 > g2 + T || g1 < g2 - T || b1 > b2 + T || b1 < b2 - T;
}

// Squared RGB distance, lowest index on ties.
int NearestRef(const uint8_t* palette, int entries, int r, int g, int b) {
    int best = 0;
    long bestD = -1;
    for (int i = 0; i < entries; ++i) {
        const uint8_t* e = palette + 4 * i;
        const long d =
            long(e[0] - b) * (e[0] - b) + long(e[1] - g) * (e[1] - g) + long(e[2] - r) * (e[2] - r);
        if (bestD < 0 || d < bestD) best = i, bestD = d;
    }
    return best;
}

// A DIB block as bytes, with the pixel access the references need.
struct Block {
    std::vector<uint8_t> bytes;
    explicit Block(KHANDLE h) : bytes(BlockBytes(h)) {}
    const BITMAPINFOHEADER& hdr() const {
        return *reinterpret_cast<const BITMAPINFOHEADER*>(bytes.data());
    }
    int w() const { return hdr().biWidth; }
    int h() const { return hdr().biHeight; }
    int bits() const { return hdr().biBitCount; }
    int entries() const { return int(DIBPaletteEntries(&hdr())); }
    uint8_t* palette() { return bytes.data() + 40; }
    uint8_t* row(int r) { // stored row, 0 at the bottom
        return bytes.data() + 40 + DIBPaletteBytes(&hdr()) + size_t(r) * DIBStride(&hdr());
    }
    int index(int x, int r) {
        const uint8_t* p = row(r);
        switch (bits()) {
        case 1:
            return (p[x / 8] >> (7 - x % 8)) & 1;
        case 4:
            return x % 2 ? p[x / 2] & 15 : p[x / 2] >> 4;
        default:
            return p[x];
        }
    }
    void setIndex(int x, int r, int v) {
        uint8_t* p = row(r);
        switch (bits()) {
        case 1:
            p[x / 8] = uint8_t((p[x / 8] & ~(0x80 >> (x % 8))) | ((v & 1) << (7 - x % 8)));
            break;
        case 4:
            p[x / 2] = uint8_t(x % 2 ? (p[x / 2] & 0xF0) | v : (p[x / 2] & 15) | (v << 4));
            break;
        default:
            p[x] = uint8_t(v);
        }
    }
    bool grey() {
        if (bits() != 8 || entries() != 256) return false;
        for (int i = 0; i < 256; ++i)
            if (palette()[4 * i] != i || palette()[4 * i + 1] != i || palette()[4 * i + 2] != i)
                return false;
        return true;
    }
};

// A watermark of random colours in which every third pixel is exactly the
// transparent colour and every fifth one channel off it.
KHANDLE Watermark(int w, int h, uint32_t seed, uint8_t tb, uint8_t tg, uint8_t tr) {
    KHANDLE m = MakeRandomDIB(w, h, 24, seed);
    DIBLock d(m);
    int n = 0;
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x, ++n) {
            uint8_t* p = d.row(r) + 3 * x;
            if (n % 3 == 0) p[0] = tb, p[1] = tg, p[2] = tr;
            if (n % 5 == 0) p[0] = tb, p[1] = uint8_t(tg ^ 1), p[2] = tr;
        }
    return m;
}

// ---- ColorsDiffer ----

struct DifferCase {
    const char* name;
    int percent;
    int limit; // T
};

std::string DifferName(const ::testing::TestParamInfo<DifferCase>& p) {
    return p.param.name;
}

class ColorsDifferLimit : public ::testing::TestWithParam<DifferCase> {};

TEST_P(ColorsDifferLimit, ChannelsWithinTAreCloseAndBeyondDiffer) {
    const DifferCase c = GetParam();
    const int v = c.percent * 200 / 100;
    RGBQUAD table[2] = {};
    for (int ch = 0; ch < 3; ++ch)
        for (int base : {0, 100, 255}) {
            for (int delta : {c.limit, -c.limit, c.limit + 1, -c.limit - 1}) {
                int rgb[3] = {base, base, base};
                rgb[ch] = base + delta;
                if (rgb[ch] < 0 || rgb[ch] > 255) continue;
                const COLORREF a = RGB(uint8_t(rgb[0]), uint8_t(rgb[1]), uint8_t(rgb[2]));
                const COLORREF b = RGB(uint8_t(base), uint8_t(base), uint8_t(base));
                const bool want = delta > c.limit || delta < -c.limit;
                EXPECT_EQ(ColorsDiffer(a, b, v), want)
                    << "channel " << ch << " base " << base << " delta " << delta;
                table[1] = RGBQUAD{uint8_t(rgb[2]), uint8_t(rgb[1]), uint8_t(rgb[0]), 0};
                EXPECT_EQ(ColorsDiffer(table, 1, b, v), want)
                    << "palette form, channel " << ch << " base " << base << " delta " << delta;
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Tolerances, ColorsDifferLimit,
                         ::testing::Values(DifferCase{"Percent0", 0, 0},
                                           DifferCase{"Percent1", 1, 2},
                                           DifferCase{"Percent50", 50, 127},
                                           DifferCase{"Percent99", 99, 252},
                                           DifferCase{"Percent100", 100, 255}),
                         DifferName);

TEST(ColorsDiffer, ExtremeToleranceValues) {
    // 255 apart in every channel is still close at the full limit; any
    // negative value makes even equal colours differ; a huge one overflows
    // nothing.
    EXPECT_FALSE(ColorsDiffer(RGB(0, 0, 0), RGB(255, 255, 255), 200));
    EXPECT_TRUE(ColorsDiffer(RGB(9, 9, 9), RGB(9, 9, 9), -1));
    EXPECT_FALSE(ColorsDiffer(RGB(0, 255, 0), RGB(255, 0, 255), INT32_MAX));
    EXPECT_TRUE(ColorsDiffer(RGB(0, 0, 0), RGB(0, 0, 0), INT32_MIN));
}

// ---- ReplaceColorDIB: the reference ----

// A copy of the whole block in which the pixels are replaced as the rule
// says; the palette and everything else stay.
std::vector<uint8_t> ReplaceReference(KHANDLE image, COLORREF original, COLORREF replacement,
                                      int percent) {
    Block b(image);
    const int oR = GetRValue(original), oG = GetGValue(original), oB = GetBValue(original);
    const int rR = GetRValue(replacement), rG = GetGValue(replacement), rB = GetBValue(replacement);
    if (b.bits() == 24) {
        for (int r = 0; r < b.h(); ++r)
            for (int x = 0; x < b.w(); ++x) {
                uint8_t* p = b.row(r) + 3 * x;
                if (!Differ(p[2], p[1], p[0], oR, oG, oB, percent))
                    p[0] = uint8_t(rB), p[1] = uint8_t(rG), p[2] = uint8_t(rR);
            }
    } else if (b.bits() == 1) {
        const int from = NearestRef(b.palette(), b.entries(), oR, oG, oB);
        const int to = NearestRef(b.palette(), b.entries(), rR, rG, rB);
        for (int r = 0; r < b.h(); ++r)
            for (int x = 0; x < b.w(); ++x)
                if (b.index(x, r) == from) b.setIndex(x, r, to);
    } else {
        const int to = NearestRef(b.palette(), b.entries(), rR, rG, rB);
        for (int r = 0; r < b.h(); ++r)
            for (int x = 0; x < b.w(); ++x) {
                const int i = b.index(x, r);
                if (i >= b.entries()) continue;
                const uint8_t* e = b.palette() + 4 * i;
                if (!Differ(e[2], e[1], e[0], oR, oG, oB, percent)) b.setIndex(x, r, to);
            }
    }
    return b.bytes;
}

KHANDLE Replaced(KHANDLE image, COLORREF original, COLORREF replacement, int percent) {
    KHANDLE out = nullptr;
    EXPECT_EQ(ReplaceColorDIB(image, &out, original, replacement, int16_t(percent)), 0);
    return out;
}

// ---- ReplaceColorDIB: hand-made cases ----

TEST(ReplaceColor, ToleranceZeroReplacesOnlyTheExactColour) {
    KHANDLE h = nullptr;
    ASSERT_EQ(NewDIB(&h, 4, 1, 24, 0, 0, 0, 0, nullptr), 0);
    KOwnedHandle src(h);
    SetPixel(h, 0, 0, 0x102030); // red 16, green 32, blue 48
    SetPixel(h, 1, 0, 0x112030);
    SetPixel(h, 2, 0, 0x102031);
    SetPixel(h, 3, 0, 0x102030);
    KOwnedHandle out(Replaced(h, RGB(0x10, 0x20, 0x30), RGB(1, 2, 3), 0));
    EXPECT_EQ(PixelAt(out.get(), 0, 0), 0x010203u);
    EXPECT_EQ(PixelAt(out.get(), 1, 0), 0x112030u);
    EXPECT_EQ(PixelAt(out.get(), 2, 0), 0x102031u);
    EXPECT_EQ(PixelAt(out.get(), 3, 0), 0x010203u);
}

TEST(ReplaceColor, ToleranceHundredReplacesEveryTrueColourPixel) {
    KOwnedHandle src(MakeRandomDIB(13, 5, 24, 3));
    KOwnedHandle out(Replaced(src.get(), RGB(255, 0, 0), RGB(7, 8, 9), 100));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 13; ++x)
            EXPECT_EQ(PixelAt(out.get(), x, y), 0x070809u) << x << "," << y;
}

TEST(ReplaceColor, PaletteImagesTakeTheNearestExistingColourAndKeepThePalette) {
    // The 8-bit default palette: a 6 x 6 x 6 cube (levels 0, 51, ... 255,
    // entry = 36 green + 6 red + blue), then black. (250, 3, 100) is nearest
    // to red 255, green 0, blue 102: entry 0 + 30 + 2 = 32.
    KOwnedHandle src(MakeRandomDIB(9, 4, 8, 6));
    SetPixel(src.get(), 0, 0, 215); // white
    SetPixel(src.get(), 1, 0, 0);   // black
    KOwnedHandle out(Replaced(src.get(), RGB(255, 255, 255), RGB(250, 3, 100), 0));
    EXPECT_EQ(PixelAt(out.get(), 0, 0), 32u);
    EXPECT_EQ(PixelAt(out.get(), 1, 0), 0u);
    DIBLock a(src.get()), b(out.get());
    EXPECT_EQ(std::memcmp(a.palette(), b.palette(), 1024), 0);
    // At 100 percent every pixel with a colour takes index 32.
    KOwnedHandle all(Replaced(src.get(), RGB(0, 0, 0), RGB(250, 3, 100), 100));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x)
            EXPECT_EQ(PixelAt(all.get(), x, y), 32u);
}

TEST(ReplaceColor, OneBitIgnoresTheTolerance) {
    // Black and white: black -> white turns every pixel white; black ->
    // dark grey (nearest black) changes nothing.
    for (int percent : {0, 100}) {
        KOwnedHandle src(MakeRandomDIB(11, 3, 1, 9));
        KOwnedHandle white(Replaced(src.get(), RGB(0, 0, 0), RGB(255, 255, 255), percent));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 11; ++x)
                EXPECT_EQ(PixelAt(white.get(), x, y), 1u);
        KOwnedHandle same(Replaced(src.get(), RGB(0, 0, 0), RGB(40, 40, 40), percent));
        EXPECT_EQ(BlockBytes(same.get()), BlockBytes(src.get()));
    }
}

TEST(ReplaceColor, IndexesPastThePaletteAreLeftAlone) {
    // 8 bits with 16 entries (all black); pixels 200 have no colour.
    KHANDLE h = AllocDIB(5, 2, 8, 16);
    ASSERT_NE(h, nullptr);
    KOwnedHandle src(h);
    {
        DIBLock d(h);
        for (int r = 0; r < 2; ++r)
            for (int x = 0; x < 5; ++x)
                d.row(r)[x] = x % 2 ? 200 : 3;
        d.palette()[9] = RGBQUAD{255, 255, 255, 0};
    }
    KOwnedHandle out(Replaced(h, RGB(0, 0, 0), RGB(255, 255, 255), 0));
    EXPECT_EQ(PixelAt(out.get(), 0, 0), 9u);
    EXPECT_EQ(PixelAt(out.get(), 1, 0), 200u);
}

TEST(ReplaceColor, OtherDepthsAreCopiedUnchanged) {
    KHANDLE h = AllocDIB(4, 3, 24, 0);
    ASSERT_NE(h, nullptr);
    KOwnedHandle src(h);
    {
        DIBLock d(h);
        std::memset(d.bits(), 0x5A, d->biSizeImage);
    }
    KLock(h).as<BITMAPINFOHEADER>()->biBitCount = 16;
    KOwnedHandle out(Replaced(h, RGB(0x5A, 0x5A, 0x5A), RGB(0, 0, 0), 100));
    EXPECT_EQ(BlockBytes(out.get()), BlockBytes(h));
}

// ---- ReplaceColorDIB: against the reference ----

struct ReplaceCase {
    int w, h, bits, percent;
};

std::string ReplaceName(const ::testing::TestParamInfo<ReplaceCase>& p) {
    const ReplaceCase& c = p.param;
    return std::to_string(c.bits) + "bit_" + std::to_string(c.w) + "x" + std::to_string(c.h) +
           "_tolerance" + std::to_string(c.percent);
}

std::vector<ReplaceCase> ReplaceCases() {
    const int sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {7, 3}, {33, 17}, {130, 4}};
    std::vector<ReplaceCase> cases;
    for (const auto& s : sizes)
        for (int bits : {1, 4, 8, 24})
            for (int percent : {0, 10, 50, 100})
                cases.push_back({s[0], s[1], bits, percent});
    return cases;
}

class ReplaceColorReference : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceColorReference, MatchesTheRuleByteForByte) {
    const ReplaceCase c = GetParam();
    LeakCheck leaks;
    std::mt19937 rng(uint32_t(c.w * 100 + c.h + c.bits + c.percent));
    KOwnedHandle src(MakeRandomDIB(c.w, c.h, c.bits, rng()));
    if (c.bits <= 8) { // a random palette, so closeness varies
        DIBLock d(src.get());
        for (uint32_t i = 0; i < DIBPaletteEntries(d.header()); ++i)
            d.palette()[i] = RGBQUAD{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
    }
    // The original colour: one that occurs in the image.
    const uint32_t at = PixelAt(src.get(), c.w / 2, c.h / 2);
    COLORREF original;
    if (c.bits == 24) {
        original = RGB(uint8_t(at >> 16), uint8_t(at >> 8), uint8_t(at));
    } else {
        DIBLock d(src.get());
        const RGBQUAD e = d.palette()[at];
        original = RGB(e.rgbRed, e.rgbGreen, e.rgbBlue);
    }
    const COLORREF replacement = RGB(uint8_t(rng()), uint8_t(rng()), uint8_t(rng()));
    const auto before = BlockBytes(src.get());
    KOwnedHandle out(Replaced(src.get(), original, replacement, c.percent));
    ASSERT_TRUE(out);
    EXPECT_EQ(BlockBytes(out.get()), ReplaceReference(src.get(), original, replacement, c.percent));
    EXPECT_EQ(BlockBytes(src.get()), before);
}

INSTANTIATE_TEST_SUITE_P(SizesDepthsTolerances, ReplaceColorReference,
                         ::testing::ValuesIn(ReplaceCases()), ReplaceName);

// ---- ReplaceColorDIB: contract ----

TEST(ReplaceColorContract, RefusesMissingHandlesAndToleranceOutOfRange) {
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(5, 5, 24, 1));
    EXPECT_EQ(ReplaceColorDIB(src.get(), nullptr, 0, 0, 0), 101);
    for (int percent : {-1, 101, 32767, -32768})
        ExpectRefused(
            [&](KHANDLE* out) { return ReplaceColorDIB(src.get(), out, 0, 0, int16_t(percent)); },
            101, std::to_string(percent));
    KOwnedHandle packed(MakeRandomDIB(5, 5, 8, 1));
    DIBLock(packed.get())->biCompression = 1;
    KOwnedHandle tiny(KML_GlobalAlloc(KMEM_GHND, 20));
    for (KHANDLE bad : {KHANDLE{nullptr}, packed.get(), tiny.get()})
        ExpectRefused([&](KHANDLE* out) { return ReplaceColorDIB(bad, out, 0, 0, 0); });
}

TEST(ReplaceColorContract, EveryAllocationFailureIsCleanedUp) {
    for (int bits : {1, 4, 8, 24}) {
        KOwnedHandle src(MakeRandomDIB(9, 4, bits, 2));
        EXPECT_GT(SweepAllocationFailures(src.get(),
                                          [&](KHANDLE* out) {
                                              return ReplaceColorDIB(src.get(), out, RGB(1, 2, 3),
                                                                     RGB(4, 5, 6), 30);
                                          }),
                  0)
            << bits;
    }
}

// ---- OverlayWatermark: the reference ----

struct Style {
    int opacity;
    bool transparency;
    int tolerance;
};

const uint8_t kTB = 40, kTG = 140, kTR = 240; // the transparent colour

// A copy of the image with the watermark drawn as the steps describe.
std::vector<uint8_t> OverlayReference(KHANDLE image, KHANDLE watermark, int hp, int wp,
                                      const Style& s) {
    Block img(image), mark(watermark);
    const int64_t W = img.w(), H = img.h(), ww = mark.w(), wh = mark.h();
    const int64_t centreX = wp * W / 100;
    const int64_t centreRow = (100 - int64_t(hp)) * H / 100;
    int64_t left = centreX - ww / 2, bottom = centreRow - wh / 2;
    int64_t firstCol = 0, cols = ww, firstRow = 0, rows = wh;
    if (ww > W) {
        left = 0;
        cols = W;
        firstCol = wp > 50 ? ww - W : 0;
    } else {
        if (left < 0) left = 0;
        if (left + ww > W) left = W - ww;
    }
    if (wh > H) {
        bottom = 0;
        rows = H;
        firstRow = hp > 50 ? 0 : wh - H; // bottom rows, else top rows
    } else {
        if (bottom < 0) bottom = 0;
        if (bottom + wh > H) bottom = H - wh;
    }
    const int a = s.opacity * 255 / 100;
    const bool grey = img.grey();
    for (int64_t i = 0; i < rows; ++i)
        for (int64_t j = 0; j < cols; ++j) {
            const uint8_t* w = mark.row(int(firstRow + i)) + 3 * (firstCol + j);
            if (s.transparency && !Differ(w[2], w[1], w[0], kTR, kTG, kTB, s.tolerance)) continue;
            const int x = int(left + j), r = int(bottom + i);
            if (img.bits() == 24) {
                uint8_t* p = img.row(r) + 3 * x;
                for (int ch = 0; ch < 3; ++ch)
                    p[ch] = uint8_t((w[ch] * a + p[ch] * (255 - a)) / 255);
            } else if (grey) {
                const int g = (11 * w[0] + 59 * w[1] + 30 * w[2]) / 100;
                uint8_t* p = img.row(r) + x;
                *p = uint8_t((g * a + *p * (255 - a)) / 255);
            } else {
                img.setIndex(x, r, NearestRef(img.palette(), img.entries(), w[2], w[1], w[0]));
            }
        }
    return img.bytes;
}

KervErrorCode Overlay(KHANDLE image, KHANDLE* out, int hp, int wp, const Style& s, KHANDLE mark,
                      StatusControlBlock* status = nullptr) {
    return OverlayWatermark(status, image, out, int16_t(hp), int16_t(wp), uint8_t(s.opacity), mark,
                            kTB, kTG, kTR, int16_t(s.tolerance), s.transparency ? 1 : 0);
}

// Image kinds: 24 bits, 8-bit grey, 8-bit palette, 4 and 1 bit.
struct Kind {
    int bits;
    bool grey;
};

KHANDLE ImageOf(const Kind& k, int w, int h, uint32_t seed) {
    return MakeRandomDIB(w, h, k.bits, seed, k.grey);
}

// ---- OverlayWatermark: hand-made cases ----

const Style kOpaque{100, false, 0};

TEST(Overlay, OpacityHundredDrawsTheWatermarkExactly) {
    KOwnedHandle img(MakeRandomDIB(10, 8, 24, 1));
    KOwnedHandle mark(MakeRandomDIB(4, 3, 24, 2));
    KHANDLE out = nullptr;
    // Centre (5, row 4 from the bottom): left 3, bottom 3, so the picture's
    // rows 2..4 from the top.
    ASSERT_EQ(Overlay(img.get(), &out, 50, 50, kOpaque, mark.get()), 0);
    KOwnedHandle owner(out);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool inside = x >= 3 && x < 7 && y >= 2 && y < 5;
            EXPECT_EQ(PixelAt(out, x, y),
                      inside ? PixelAt(mark.get(), x - 3, y - 2) : PixelAt(img.get(), x, y))
                << x << "," << y;
        }
}

TEST(Overlay, OpacityZeroLeavesBlendedImagesUnchanged) {
    for (const Kind& k : {Kind{24, false}, Kind{8, true}}) {
        KOwnedHandle img(ImageOf(k, 10, 8, 1));
        KOwnedHandle mark(MakeRandomDIB(6, 5, 24, 2));
        KHANDLE out = nullptr;
        ASSERT_EQ(Overlay(img.get(), &out, 30, 60, Style{0, false, 0}, mark.get()), 0);
        KOwnedHandle owner(out);
        EXPECT_EQ(BlockBytes(out), BlockBytes(img.get())) << k.bits;
    }
}

TEST(Overlay, PaletteImagesTakeTheNearestIndexWhateverTheOpacity) {
    // A watermark of pure red on the 16-colour palette: index 9.
    KOwnedHandle img(MakeRandomDIB(6, 4, 4, 1));
    KHANDLE m = nullptr;
    ASSERT_EQ(NewDIB(&m, 2, 2, 24, 0, 250, 5, 5, nullptr), 0);
    KOwnedHandle mark(m);
    KHANDLE out = nullptr;
    ASSERT_EQ(Overlay(img.get(), &out, 0, 0, Style{0, false, 0}, m), 0);
    KOwnedHandle owner(out);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(PixelAt(out, x, y), 9u);
    EXPECT_EQ(PixelAt(out, 2, 0), PixelAt(img.get(), 2, 0));
}

TEST(Overlay, ToleranceHundredWithTransparencyDrawsNothing) {
    for (const Kind& k :
         {Kind{24, false}, Kind{8, true}, Kind{8, false}, Kind{4, false}, Kind{1, false}}) {
        KOwnedHandle img(ImageOf(k, 9, 7, 1));
        KOwnedHandle mark(MakeRandomDIB(5, 4, 24, 2));
        KHANDLE out = nullptr;
        ASSERT_EQ(Overlay(img.get(), &out, 40, 40, Style{100, true, 100}, mark.get()), 0);
        KOwnedHandle owner(out);
        EXPECT_EQ(BlockBytes(out), BlockBytes(img.get())) << k.bits;
    }
}

TEST(Overlay, ToleranceZeroLeavesOutOnlyTheExactColour) {
    KHANDLE i = nullptr, m = nullptr;
    ASSERT_EQ(NewDIB(&i, 3, 1, 24, 0, 0, 0, 0, nullptr), 0);
    KOwnedHandle img(i);
    ASSERT_EQ(NewDIB(&m, 3, 1, 24, 0, 0, 0, 0, nullptr), 0);
    KOwnedHandle mark(m);
    SetPixel(m, 0, 0, uint32_t(kTR) << 16 | uint32_t(kTG) << 8 | kTB);
    SetPixel(m, 1, 0, uint32_t(kTR) << 16 | uint32_t(kTG) << 8 | (kTB + 1));
    SetPixel(m, 2, 0, uint32_t(kTR - 1) << 16 | uint32_t(kTG) << 8 | kTB);
    KHANDLE out = nullptr;
    ASSERT_EQ(Overlay(i, &out, 50, 50, Style{100, true, 0}, m), 0);
    KOwnedHandle owner(out);
    EXPECT_EQ(PixelAt(out, 0, 0), 0u);
    EXPECT_EQ(PixelAt(out, 1, 0), PixelAt(m, 1, 0));
    EXPECT_EQ(PixelAt(out, 2, 0), PixelAt(m, 2, 0));
    // Without transparency the exact colour is drawn too.
    ASSERT_EQ(Overlay(i, &out, 50, 50, kOpaque, m), 0);
    KOwnedHandle owner2(out);
    EXPECT_EQ(PixelAt(out, 0, 0), PixelAt(m, 0, 0));
}

struct PlaceCase {
    const char* name;
    int imageW, imageH, markW, markH, hp, wp;
    int x, y;         // where the watermark's shown part starts, from the top-left
    int markX, markY; // the watermark pixel shown there, from its top-left
    int cols, rowsShown;
};

std::string PlaceName(const ::testing::TestParamInfo<PlaceCase>& p) {
    return p.param.name;
}

class OverlayPlacement : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(OverlayPlacement, PutsTheShownPartWhereTheClippingSays) {
    const PlaceCase c = GetParam();
    KOwnedHandle img(MakeRandomDIB(c.imageW, c.imageH, 24, 3));
    KOwnedHandle mark(MakeRandomDIB(c.markW, c.markH, 24, 4));
    KHANDLE out = nullptr;
    ASSERT_EQ(Overlay(img.get(), &out, c.hp, c.wp, kOpaque, mark.get()), 0);
    KOwnedHandle owner(out);
    int wrong = 0;
    for (int y = 0; y < c.imageH; ++y)
        for (int x = 0; x < c.imageW; ++x) {
            const bool inside = x >= c.x && x < c.x + c.cols && y >= c.y && y < c.y + c.rowsShown;
            const uint32_t want = inside ? PixelAt(mark.get(), c.markX + x - c.x, c.markY + y - c.y)
                                         : PixelAt(img.get(), x, y);
            wrong += PixelAt(out, x, y) != want;
        }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Clipping, OverlayPlacement,
    ::testing::Values(
        // Centre (0, 10): left -2 -> 0, bottom 10 - 1 = 9 -> 10 - 3 = 7: the top.
        PlaceCase{"TopLeftAtZeroZero", 12, 10, 4, 3, 0, 0, 0, 0, 0, 0, 4, 3},
        PlaceCase{"BottomRightAtHundredHundred", 12, 10, 4, 3, 100, 100, 8, 7, 0, 0, 4, 3},
        PlaceCase{"TopRightAtZeroHundred", 12, 10, 4, 3, 0, 100, 8, 0, 0, 0, 4, 3},
        PlaceCase{"BottomLeftAtHundredZero", 12, 10, 4, 3, 100, 0, 0, 7, 0, 0, 4, 3},
        // Centre (6, row 5): left 4, bottom 4 -> rows 4..6 from the bottom,
        // 3..5 from the top.
        PlaceCase{"Centred", 12, 10, 4, 3, 50, 50, 4, 3, 0, 0, 4, 3},
        PlaceCase{"ExtremeNegativePercents", 12, 10, 4, 3, -32768, -32768, 0, 0, 0, 0, 4, 3},
        PlaceCase{"ExtremePositivePercents", 12, 10, 4, 3, 32767, 32767, 8, 7, 0, 0, 4, 3},
        // Wider than the image at 75 percent: its right 10 of 16 columns
        // from the image's left edge.
        PlaceCase{"WiderAtSeventyFivePercentShowsItsRightPart", 10, 8, 16, 2, 50, 75, 0, 3, 6, 0,
                  10, 2},
        PlaceCase{"WiderAtFiftyPercentShowsItsLeftPart", 10, 8, 16, 2, 50, 50, 0, 3, 0, 0, 10, 2},
        // Taller than the image: drawn from the bottom row up; in the lower
        // half its bottom 8 rows, else its top 8.
        PlaceCase{"TallerInTheLowerHalfShowsItsBottomRows", 10, 8, 2, 12, 75, 50, 4, 0, 0, 4, 2, 8},
        PlaceCase{"TallerInTheUpperHalfShowsItsTopRows", 10, 8, 2, 12, 50, 50, 4, 0, 0, 0, 2, 8},
        PlaceCase{"LargerBothWays", 5, 4, 9, 7, 10, 90, 0, 0, 4, 0, 5, 4},
        PlaceCase{"SameSizeCoversAll", 6, 5, 6, 5, 0, 100, 0, 0, 0, 0, 6, 5}),
    PlaceName);

// ---- OverlayWatermark: against the reference ----

struct OverlayCase {
    int bits;
    bool grey;
    int imageW, imageH, markW, markH, hp, wp;
};

std::string OverlayName(const ::testing::TestParamInfo<OverlayCase>& p) {
    const OverlayCase& c = p.param;
    auto pc = [](int v) { return (v < 0 ? "Minus" : "") + std::to_string(std::abs(v)); };
    return std::to_string(c.bits) + "bit" + (c.grey ? "Grey" : "") + "_" +
           std::to_string(c.imageW) + "x" + std::to_string(c.imageH) + "_mark" +
           std::to_string(c.markW) + "x" + std::to_string(c.markH) + "_at" + pc(c.hp) + "_" +
           pc(c.wp);
}

std::vector<OverlayCase> OverlayCases() {
    // Rows of more than 256 watermark pixels are marked for transparency in
    // several chunks.
    const int sizes[][4] = {{1, 1, 1, 1},     {1, 7, 3, 2},    {7, 1, 2, 3},     {9, 5, 3, 2},
                            {33, 17, 5, 7},   {70, 9, 40, 3},  {33, 17, 80, 30}, {9, 20, 20, 9},
                            {300, 5, 290, 3}, {300, 6, 600, 4}};
    const int percents[][2] = {{0, 0}, {100, 100}, {50, 50}, {51, 49}, {25, 75}, {-32768, 32767}};
    const Kind kinds[] = {{24, false}, {8, true}, {8, false}, {4, false}, {1, false}};
    std::vector<OverlayCase> cases;
    for (const Kind& k : kinds)
        for (const auto& s : sizes)
            for (const auto& p : percents)
                cases.push_back({k.bits, k.grey, s[0], s[1], s[2], s[3], p[0], p[1]});
    return cases;
}

class OverlayAgainstReference : public ::testing::TestWithParam<OverlayCase> {};

TEST_P(OverlayAgainstReference, MatchesTheStepsByteForByte) {
    const OverlayCase c = GetParam();
    LeakCheck leaks;
    const uint32_t seed = uint32_t(c.imageW * 1000 + c.imageH * 10 + c.bits + c.hp);
    KOwnedHandle img(ImageOf(Kind{c.bits, c.grey}, c.imageW, c.imageH, seed));
    KOwnedHandle mark(Watermark(c.markW, c.markH, seed + 1, kTB, kTG, kTR));
    const auto imageBefore = BlockBytes(img.get()), markBefore = BlockBytes(mark.get());
    for (const Style& s : {Style{100, false, 0}, Style{37, true, 0}, Style{80, true, 50},
                           Style{0, true, 10}, Style{63, false, 100}}) {
        KHANDLE out = nullptr;
        ASSERT_EQ(Overlay(img.get(), &out, c.hp, c.wp, s, mark.get()), 0);
        KOwnedHandle owner(out);
        EXPECT_EQ(BlockBytes(out), OverlayReference(img.get(), mark.get(), c.hp, c.wp, s))
            << "opacity " << s.opacity << ", transparency " << s.transparency << ", tolerance "
            << s.tolerance;
    }
    EXPECT_EQ(BlockBytes(img.get()), imageBefore);
    EXPECT_EQ(BlockBytes(mark.get()), markBefore);
}

INSTANTIATE_TEST_SUITE_P(KindsSizesPositions, OverlayAgainstReference,
                         ::testing::ValuesIn(OverlayCases()), OverlayName);

// ---- OverlayWatermark: contract ----

struct BadOverlay {
    const char* name;
    int opacity, tolerance, markBits;
    bool nullMark;
};

std::string BadOverlayName(const ::testing::TestParamInfo<BadOverlay>& p) {
    return p.param.name;
}

class OverlayRefuses : public ::testing::TestWithParam<BadOverlay> {};

TEST_P(OverlayRefuses, WithInvalidParameterAndNothingAllocated) {
    const BadOverlay c = GetParam();
    LeakCheck leaks;
    KOwnedHandle img(MakeRandomDIB(9, 9, 24, 1));
    KOwnedHandle mark(MakeRandomDIB(3, 3, c.markBits, 2));
    ExpectRefused([&](KHANDLE* out) {
        return OverlayWatermark(nullptr, img.get(), out, 50, 50, uint8_t(c.opacity),
                                c.nullMark ? nullptr : mark.get(), 0, 0, 0, int16_t(c.tolerance),
                                1);
    });
}

INSTANTIATE_TEST_SUITE_P(Parameters, OverlayRefuses,
                         ::testing::Values(BadOverlay{"NullWatermark", 50, 0, 24, true},
                                           BadOverlay{"EightBitWatermark", 50, 0, 8, false},
                                           BadOverlay{"OneBitWatermark", 50, 0, 1, false},
                                           BadOverlay{"Opacity101", 101, 0, 24, false},
                                           BadOverlay{"Opacity255", 255, 0, 24, false},
                                           BadOverlay{"ToleranceMinus1", 50, -1, 24, false},
                                           BadOverlay{"Tolerance101", 50, 101, 24, false}),
                         BadOverlayName);

TEST(OverlayContract, NullHandlesAndUnusableBlocks) {
    LeakCheck leaks;
    KOwnedHandle img(MakeRandomDIB(9, 9, 24, 1));
    KOwnedHandle mark(MakeRandomDIB(3, 3, 24, 2));
    EXPECT_EQ(Overlay(img.get(), nullptr, 50, 50, kOpaque, mark.get()), 101);
    KOwnedHandle packed(MakeRandomDIB(3, 3, 24, 1));
    DIBLock(packed.get())->biCompression = 1;
    struct Case {
        const char* name;
        KHANDLE image, mark;
    };
    for (const Case& c : {Case{"no image", nullptr, mark.get()},
                          Case{"compressed watermark", img.get(), packed.get()},
                          Case{"compressed image", packed.get(), mark.get()}})
        ExpectRefused([&](KHANDLE* out) { return Overlay(c.image, out, 50, 50, kOpaque, c.mark); },
                      101, c.name);
}

TEST(OverlayContract, EveryAllocationFailureIsCleanedUp) {
    for (const Kind& k :
         {Kind{24, false}, Kind{8, true}, Kind{8, false}, Kind{4, false}, Kind{1, false}}) {
        KOwnedHandle img(ImageOf(k, 9, 7, 1));
        KOwnedHandle mark(MakeRandomDIB(5, 4, 24, 2));
        const auto markBefore = BlockBytes(mark.get());
        EXPECT_GT(SweepAllocationFailures(
                      img.get(),
                      [&](KHANDLE* out) {
                          return Overlay(img.get(), out, 30, 30, Style{60, true, 20}, mark.get());
                      }),
                  0)
            << k.bits;
        EXPECT_EQ(BlockBytes(mark.get()), markBefore);
    }
}

TEST(OverlayContract, ProgressCountsTheRowsDrawn) {
    // A 5-row watermark on a 3-row image draws 3 rows.
    for (int imageH : {3, 9}) {
        KOwnedHandle img(MakeRandomDIB(8, imageH, 24, 1));
        KOwnedHandle mark(MakeRandomDIB(4, 5, 24, 2));
        EXPECT_EQ(RecordProgress([&](StatusControlBlock* s, KHANDLE* out) {
                      return Overlay(img.get(), out, 50, 50, kOpaque, mark.get(), s);
                  }),
                  UnitProgress(std::min(imageH, 5)))
            << imageH;
    }
}

// Call 1 is the start, calls 2 .. 5 the rows, call 6 the end.
TEST(OverlayContract, StopAtEveryProgressPointKeepsNothing) {
    for (const Kind& k : {Kind{24, false}, Kind{8, false}}) {
        KOwnedHandle img(ImageOf(k, 8, 6, 1));
        KOwnedHandle mark(MakeRandomDIB(4, 4, 24, 2));
        EXPECT_EQ(SweepStops({img.get(), mark.get()},
                             [&](StatusControlBlock* s, KHANDLE* out) {
                                 return Overlay(img.get(), out, 50, 50, kOpaque, mark.get(), s);
                             }),
                  5)
            << k.bits << " bits";
    }
}

} // namespace
