#include "imaging/dither.h"
#include "imaging/dither_tables.h"
#include "imaging/optpal.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace brellix::test;

namespace {

const std::string kMapPath = BRELLIX_KCD_PATH;

// ---- Plain references, written from the rules ----

using BGR = std::array<int, 3>;

// Every pixel's colour, top row first; an index past the table is black.
std::vector<BGR> ColoursOf(KHANDLE h) {
    DIBLock d(h);
    const int w = d.width(), ht = d.height(), bits = d.bitCount();
    const uint32_t entries = DIBPaletteEntries(d.header());
    std::vector<BGR> out;
    for (int y = 0; y < ht; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t v = PixelAt(h, x, y);
            if (bits == 24) {
                out.push_back({int(v & 255), int((v >> 8) & 255), int(v >> 16)});
            } else if (v < entries) {
                const RGBQUAD e = d.palette()[v];
                out.push_back({e.rgbBlue, e.rgbGreen, e.rgbRed});
            } else {
                out.push_back({0, 0, 0});
            }
        }
    return out;
}

std::vector<int> IndexesOf(KHANDLE h) {
    std::vector<int> out;
    for (const auto& row : PixelRows(h))
        out.insert(out.end(), row.begin(), row.end());
    return out;
}

int NearestPlain(const BGR& c, const RGBQUAD* pal, int count) {
    int best = -1, bestDist = 0;
    for (int i = 0; i < count; ++i) {
        const int db = c[0] - pal[i].rgbBlue, dg = c[1] - pal[i].rgbGreen,
                  dr = c[2] - pal[i].rgbRed;
        const int d = db * db + dg * dg + dr * dr;
        if (best < 0 || d < bestDist) best = i, bestDist = d;
    }
    return best;
}

std::vector<uint8_t> MapFromFile(int targetBits) {
    const std::vector<uint8_t> file = ReadFileBytes(kMapPath);
    EXPECT_EQ(file.size(), 3u * 32768);
    const size_t at = targetBits == 4 ? 0 : 32768;
    return std::vector<uint8_t>(file.begin() + long(at), file.begin() + long(at + 32768));
}

int Threshold(int x, int storedRow, double s) {
    const int B[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};
    const int a = x % 16, b = storedRow % 16; // a = 4k + i, b = 4l + j
    const int i = a % 4, k = a / 4, j = b % 4, l = b / 4;
    return int((B[4 * k + l] * 0.0625 + B[4 * i + j]) * s + 0.5);
}

int OrderedIndex(const BGR& c, int t, int targetBits) {
    if (targetBits == 8) {
        int level[3];
        for (int k = 0; k < 3; ++k)
            level[k] = c[k] / 51 + (c[k] - 51 * (c[k] / 51) > t ? 1 : 0);
        return level[2] + 6 * level[1] + 36 * level[0];
    }
    const int b = c[0], g = c[1], r = c[2];
    if (!(r == g && g == b))
        return (r > t) + 2 * (g > t) + 4 * (b > t) + 8 * (r > 128 || g > 128 || b > 128);
    if (r < 128) return r > t / 2 ? 8 : 0;
    if (r < 192) return r > t / 4 + 128 ? 7 : 8;
    return r < t / 4 + 192 ? 7 : 15;
}

// What each reduction does to the error before a pixel takes it.
using Scale = std::function<long(int)>;

// The whole reduction over a w x h picture, one pixel at a time: error
// diffusion with a zeroed error row for the next row (which is what writing
// the below-right share instead of adding it amounts to).
std::vector<int> Reference(const std::vector<BGR>& px, int w, int h, int targetBits, int method,
                           const std::function<int(const BGR&)>& match, const RGBQUAD* pal,
                           const Scale& scale, double s) {
    std::vector<int> out;
    std::vector<BGR> err(size_t(w) + 2, BGR{}), next(size_t(w) + 2, BGR{});
    for (int y = 0; y < h; ++y) {
        const int stored = h - 1 - y;
        next.assign(size_t(w) + 2, BGR{});
        BGR carry{};
        for (int x = 0; x < w; ++x) {
            BGR c = px[size_t(y * w + x)];
            if (method == 1) {
                out.push_back(OrderedIndex(c, Threshold(x, stored, s), targetBits));
                continue;
            }
            if (method == 2)
                for (int k = 0; k < 3; ++k)
                    c[size_t(k)] = int(std::clamp(
                        c[size_t(k)] + scale(err[size_t(x) + 1][size_t(k)] + carry[size_t(k)]), 0L,
                        255L));
            const int index = match(c);
            out.push_back(index);
            const BGR e0{pal[index].rgbBlue, pal[index].rgbGreen, pal[index].rgbRed};
            for (int k = 0; k < 3; ++k) {
                const int e = c[size_t(k)] - e0[size_t(k)];
                const int d = (e + 8) / 16, cc = (2 * (e - d) + 5) / 10, rest = e - d - cc;
                const int b = (5 * rest + 6) / 12;
                carry[size_t(k)] = rest - b;
                next[size_t(x)][size_t(k)] += cc;
                next[size_t(x) + 1][size_t(k)] += b;
                next[size_t(x) + 2][size_t(k)] += d;
            }
        }
        std::swap(err, next);
    }
    return out;
}

// ---- Sources ----

// Random pixels; palette sources get a random table of 2^bits entries, or
// the grey ramp when `bits` is kGrey (8 bits).
constexpr int kGrey = 0;
KHANDLE Source(int w, int h, int bits, uint32_t seed) {
    KHANDLE s = MakeRandomPaletteDIB(w, h, bits == kGrey ? 8 : bits, seed, bits == kGrey);
    DIBLock d(s);
    d->biXPelsPerMeter = 2835;
    return s;
}

KHANDLE Flat(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    KHANDLE s = nullptr;
    EXPECT_EQ(NewDIB(&s, uint16_t(w), uint16_t(h), 24, 0, r, g, b, nullptr), 0);
    return s;
}

std::vector<RGBQUAD> RandomPalette(uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<RGBQUAD> p(256);
    for (RGBQUAD& e : p)
        e = RGBQUAD{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 77};
    return p;
}

// ---- The reductions against the reference ----

enum class Op { Standard, Palette, Exact };

struct ReductionCase {
    const char* name;
    Op op;
    uint8_t target, method, bleed;
    bool givenPalette;
    uint16_t count;
    int strength;
};

struct Outcome {
    KervErrorCode rc;
    KOwnedHandle out;
};

Outcome Reduce(const ReductionCase& c, KHANDLE src, const RGBQUAD* palette,
               StatusControlBlock* status = nullptr) {
    KHANDLE const untouched = reinterpret_cast<KHANDLE>(uintptr_t{1});
    KHANDLE out = untouched; // every call must clear the slot first
    KervErrorCode rc = 0;
    switch (c.op) {
    case Op::Standard:
        rc = DitherToStandardPalette(status, src, &out, c.target, c.method, c.bleed, kMapPath);
        break;
    case Op::Palette:
        rc = DitherToPalette(status, src, &out, c.target, palette, c.method, c.bleed, c.count);
        break;
    case Op::Exact:
        rc = DitherDIB(status, src, &out, c.target, c.givenPalette ? palette : nullptr, c.method,
                       c.bleed, c.count, c.strength);
        break;
    }
    if (out == untouched) {
        ADD_FAILURE() << "the result slot was not cleared";
        out = nullptr;
    }
    return Outcome{rc, KOwnedHandle(out)};
}

std::vector<int> Expected(const ReductionCase& c, KHANDLE src, const RGBQUAD* given) {
    int w = 0, h = 0;
    {
        DIBLock d(src);
        w = d.width(), h = d.height();
    }
    const RGBQUAD* standard = c.target == 4 ? kWindows16Colors : kStandardCube256;
    const RGBQUAD* pal = (c.op == Op::Palette || c.givenPalette) ? given : standard;
    std::function<int(const BGR&)> match;
    std::vector<uint8_t> map;
    std::vector<int> cache;
    if (c.op == Op::Standard) {
        map = MapFromFile(c.target);
        match = [&](const BGR& x) {
            return map[size_t((x[2] >> 3) * 1024 + (x[1] >> 3) * 32 + (x[0] >> 3))];
        };
    } else if (c.op == Op::Palette) {
        cache.assign(size_t(1) << 21, -1); // first colour of a key decides it
        match = [&](const BGR& x) {
            int& slot = cache[size_t((x[2] >> 1) * 16384 + (x[1] >> 1) * 128 + (x[0] >> 1))];
            if (slot < 0) slot = NearestPlain(x, pal, c.count);
            return slot;
        };
    } else {
        match = [&](const BGR& x) { return NearestPlain(x, pal, c.count); };
    }
    Scale scale = [](int e) { return long(e); };
    if (c.op != Op::Exact && c.bleed) scale = [](int e) { return long((e * 3) >> 2); };
    if (c.op == Op::Exact) {
        const long p = c.bleed ? (3L * c.strength) >> 2 : c.strength;
        const long f = (p * 256 + 50) / 100;
        if (p != 100) scale = [f](int e) { return (e * f) >> 8; };
    }
    return Reference(ColoursOf(src), w, h, c.target, c.method, match, pal, scale,
                     c.target == 8 ? 3.125 : 15.875);
}

void CheckHeader(KHANDLE out, KHANDLE src, const ReductionCase& c, const RGBQUAD* pal) {
    DIBLock d(out), s(src);
    EXPECT_EQ(d->biWidth, s->biWidth);
    EXPECT_EQ(d->biHeight, s->biHeight);
    EXPECT_EQ(d->biBitCount, c.target);
    EXPECT_EQ(d->biClrUsed, 1u << c.target);
    EXPECT_EQ(d->biClrImportant, c.op == Op::Exact ? c.count : 1u << c.target);
    EXPECT_EQ(d->biXPelsPerMeter, 0);
    EXPECT_EQ(d->biSizeImage, DIBStride(c.target, uint32_t(s->biWidth)) * uint32_t(s->biHeight));
    for (uint32_t i = 0; i < (1u << c.target); ++i) {
        const RGBQUAD a = d.palette()[i], b = pal[i];
        ASSERT_TRUE(a.rgbBlue == b.rgbBlue && a.rgbGreen == b.rgbGreen && a.rgbRed == b.rgbRed &&
                    a.rgbReserved == 0)
            << "palette entry " << i;
    }
}

template <class T> std::string CaseName(const ::testing::TestParamInfo<T>& i) {
    return i.param.name;
}

class Reductions : public ::testing::TestWithParam<ReductionCase> {};

TEST_P(Reductions, MatchThePlainReferenceOnRandomPictures) {
    const ReductionCase& c = GetParam();
    const std::vector<RGBQUAD> given = RandomPalette(c.target * 7 + c.count);
    const struct { int w, h; } kSizes[] = {{1, 1}, {7, 3}, {33, 17}, {130, 4}, {257, 2}};
    for (int bits : {24, 8, 4, kGrey})
        for (auto sz : kSizes) {
            LeakCheck leaks;
            ReleaseDitherCache();
            KOwnedHandle src(Source(sz.w, sz.h, bits, uint32_t(sz.w * 31 + bits)));
            Outcome r = Reduce(c, src.get(), given.data());
            ASSERT_EQ(r.rc, 0) << bits << " bits " << sz.w << "x" << sz.h;
            const RGBQUAD* pal = (c.op == Op::Palette || c.givenPalette) ? given.data()
                                 : c.target == 4                         ? kWindows16Colors
                                                                         : kStandardCube256;
            CheckHeader(r.out.get(), src.get(), c, pal);
            EXPECT_EQ(IndexesOf(r.out.get()), Expected(c, src.get(), given.data()))
                << bits << " bits " << sz.w << "x" << sz.h;
            ReleaseDitherCache();
        }
}

const ReductionCase kReductions[] = {
    {"StandardNearest16", Op::Standard, 4, 0, 0, false, 16, 100},
    {"StandardNearest256", Op::Standard, 8, 0, 0, false, 256, 100},
    {"StandardOrdered16", Op::Standard, 4, 1, 0, false, 16, 100},
    {"StandardOrdered256", Op::Standard, 8, 1, 0, false, 256, 100},
    {"StandardDiffused16", Op::Standard, 4, 2, 0, false, 16, 100},
    {"StandardDiffused256", Op::Standard, 8, 2, 0, false, 256, 100},
    {"StandardDiffused256ReducedBleed", Op::Standard, 8, 2, 1, false, 256, 100},
    {"PaletteNearest16", Op::Palette, 4, 0, 0, true, 16, 100},
    {"PaletteNearest256", Op::Palette, 8, 0, 0, true, 256, 100},
    {"PaletteDiffused256", Op::Palette, 8, 2, 0, true, 256, 100},
    {"PaletteDiffused16ReducedBleed", Op::Palette, 4, 2, 1, true, 16, 100},
    {"PaletteDiffusedFirst9Of16", Op::Palette, 4, 2, 0, true, 9, 100},
    {"PaletteDiffusedFirst100Of256", Op::Palette, 8, 2, 0, true, 100, 100},
    {"ExactNearestWindows", Op::Exact, 4, 0, 0, false, 16, 100},
    {"ExactOrderedCube", Op::Exact, 8, 1, 0, false, 256, 100},
    {"ExactDiffusedCube", Op::Exact, 8, 2, 0, false, 256, 100},
    {"ExactDiffusedGiven256", Op::Exact, 8, 2, 0, true, 256, 100},
    {"ExactDiffusedGivenFirst5Of16", Op::Exact, 4, 2, 0, true, 5, 100},
    {"ExactDiffusedHalfStrength", Op::Exact, 8, 2, 0, true, 256, 50},
    {"ExactDiffusedReducedBleed", Op::Exact, 4, 2, 1, false, 16, 100},
    {"ExactDiffusedReducedBleedAt133", Op::Exact, 8, 2, 1, false, 256, 133},
    {"ExactDiffusedStrength250", Op::Exact, 8, 2, 0, true, 256, 250},
    {"ExactDiffusedStrengthHuge", Op::Exact, 4, 2, 1, false, 16, 2000000000},
};
INSTANTIATE_TEST_SUITE_P(Dither, Reductions, ::testing::ValuesIn(kReductions),
                         CaseName<ReductionCase>);

// ---- Hand-computed pictures and identities ----

TEST(DitherPictures, PureRedIsWindowsRedAndCubeEntry5) {
    LeakCheck leaks;
    KOwnedHandle red(Flat(3, 2, 255, 0, 0));
    for (uint8_t method : {0, 2})
        for (auto [target, want] : {std::pair{4, 9}, std::pair{8, 5}}) {
            KHANDLE out = nullptr;
            ASSERT_EQ(DitherToStandardPalette(nullptr, red.get(), &out, uint8_t(target), method, 0,
                                              kMapPath),
                      0);
            KOwnedHandle own(out);
            EXPECT_EQ(IndexesOf(out), std::vector<int>(6, want)) << "method " << int(method);
        }
}

// Level 2 with remainder 26 in every component: 3 + 18 + 108 where the
// threshold is below 26, else 2 + 12 + 72.
TEST(DitherPictures, FlatGreyOrderedTo256FollowsTheThreshold) {
    LeakCheck leaks;
    KOwnedHandle grey(Flat(19, 18, 128, 128, 128));
    for (Op op : {Op::Standard, Op::Exact}) {
        Outcome r = Reduce({"", op, 8, 1, 0, false, 256, 100}, grey.get(), nullptr);
        ASSERT_EQ(r.rc, 0);
        int low = 0;
        for (int y = 0; y < 18; ++y)
            for (int x = 0; x < 19; ++x) {
                const int t = Threshold(x, 17 - y, 3.125);
                low += t < 26;
                ASSERT_EQ(PixelAt(r.out.get(), x, y), t < 26 ? 129u : 86u) << x << ", " << y;
            }
        EXPECT_GT(low, 0);
    }
}

// Thresholds by hand: cell (1, 0) is 12 x 3.125 + 0.5; the largest cells
// are 15 15/16 steps.
TEST(DitherPictures, ThresholdMatricesSpanTheirRanges) {
    using dither_tables::kThresholds4;
    using dither_tables::kThresholds8;
    EXPECT_EQ(kThresholds8[0][0], 0);
    EXPECT_EQ(kThresholds8[1][0], 38);
    EXPECT_EQ(kThresholds8[15][0], 50);
    EXPECT_EQ(kThresholds4[15][0], 253);
    for (int a = 0; a < 16; ++a)
        for (int b = 0; b < 16; ++b) {
            EXPECT_EQ(kThresholds8[size_t(a)][size_t(b)], Threshold(a, b, 3.125));
            EXPECT_EQ(kThresholds4[size_t(a)][size_t(b)], Threshold(a, b, 15.875));
        }
}

TEST(DitherPictures, SplitSharesAddUpToTheError) {
    for (int e = -255; e <= 255; ++e) {
        const auto s = dither_tables::kSplit[size_t(e + 255)];
        ASSERT_EQ(s.right + s.below + s.belowLeft + s.belowRight, e) << e;
        ASSERT_LE(std::abs(s.right), std::abs(e)) << e;
    }
    // 100: 6 below right, 19 below left, 31 below, 44 right.
    const auto s = dither_tables::kSplit[355];
    EXPECT_EQ(s.belowRight, 6);
    EXPECT_EQ(s.belowLeft, 19);
    EXPECT_EQ(s.below, 31);
    EXPECT_EQ(s.right, 44);
}

// A 2 x 2 grey of 100 onto black and white. Top left: black, error 100
// (44 right, 31 below, 6 below right). Top right: 144, white, error -111
// (-51 right, -34 below, -20 below left, -6). Bottom left: 100 + 31 - 20 =
// 111, black, error 111 (48 right). Bottom right: 100 + 6 - 34 + 48 = 120,
// black.
TEST(DitherPictures, TwoByTwoGreyDiffusesByHand) {
    LeakCheck leaks;
    ReleaseDitherCache();
    KOwnedHandle grey(Flat(2, 2, 100, 100, 100));
    RGBQUAD bw[16] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    KHANDLE out = nullptr;
    ASSERT_EQ(DitherToPalette(nullptr, grey.get(), &out, 4, bw, 2, 0, 2), 0);
    KOwnedHandle own(out);
    EXPECT_EQ(IndexesOf(out), (std::vector<int>{0, 1, 0, 0}));
    ReleaseDitherCache();
}

struct IdentityCase {
    const char* name;
    ReductionCase a, b; // must give the same picture
};

class DitherIdentities : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(DitherIdentities, GiveTheSamePicture) {
    const IdentityCase& c = GetParam();
    const std::vector<RGBQUAD> pal = RandomPalette(5);
    for (int bits : {24, 8}) {
        LeakCheck leaks;
        KOwnedHandle src(Source(41, 9, bits, 3));
        ReleaseDitherCache();
        Outcome a = Reduce(c.a, src.get(), pal.data());
        ReleaseDitherCache();
        Outcome b = Reduce(c.b, src.get(), pal.data());
        ReleaseDitherCache();
        ASSERT_EQ(a.rc, 0);
        ASSERT_EQ(b.rc, 0);
        EXPECT_EQ(ImageContent(a.out.get()), ImageContent(b.out.get())) << bits << " bits";
    }
}

const IdentityCase kIdentities[] = {
    {"BleedIgnoredByStandardNearest",
     {"", Op::Standard, 8, 0, 0, false, 256, 100},
     {"", Op::Standard, 8, 0, 1, false, 256, 100}},
    {"BleedIgnoredByStandardOrdered",
     {"", Op::Standard, 4, 1, 0, false, 16, 100},
     {"", Op::Standard, 4, 1, 1, false, 16, 100}},
    {"BleedIgnoredByPaletteNearest",
     {"", Op::Palette, 8, 0, 0, true, 256, 100},
     {"", Op::Palette, 8, 0, 1, true, 256, 100}},
    {"BleedIgnoredByExactOrdered",
     {"", Op::Exact, 8, 1, 0, false, 256, 100},
     {"", Op::Exact, 8, 1, 1, false, 256, 100}},
    {"ExactStrength0IsNearest",
     {"", Op::Exact, 8, 2, 0, true, 256, 0},
     {"", Op::Exact, 8, 0, 0, true, 256, 100}},
    {"ExactBleedIsStrength75",
     {"", Op::Exact, 8, 2, 1, true, 256, 100},
     {"", Op::Exact, 8, 2, 0, true, 256, 75}},
    {"ExactOrderedIsStandardOrdered",
     {"", Op::Exact, 4, 1, 0, false, 16, 100},
     {"", Op::Standard, 4, 1, 0, false, 16, 100}},
};
INSTANTIATE_TEST_SUITE_P(Dither, DitherIdentities, ::testing::ValuesIn(kIdentities),
                         CaseName<IdentityCase>);

// Palettes of few colours repeated: every tie goes to the lowest index,
// through the cache and through the exact search, whatever the count.
TEST(DitherPictures, TiesGoToTheLowestIndex) {
    std::vector<RGBQUAD> pal(256);
    for (size_t i = 0; i < 256; ++i)
        pal[i] = RGBQUAD{uint8_t(i % 5 * 60), uint8_t(i % 3 * 120), uint8_t(i % 2 * 250), 0};
    for (uint16_t count : {3, 13, 200, 256})
        for (Op op : {Op::Palette, Op::Exact})
            for (uint8_t method : {0, 2}) {
                LeakCheck leaks;
                ReleaseDitherCache();
                const ReductionCase c{"", op, 8, method, 0, true, count, 100};
                KOwnedHandle src(Source(37, 5, 24, count));
                Outcome r = Reduce(c, src.get(), pal.data());
                ASSERT_EQ(r.rc, 0);
                const std::vector<int> got = IndexesOf(r.out.get());
                EXPECT_EQ(got, Expected(c, src.get(), pal.data())) << count << "/" << int(method);
                EXPECT_LT(*std::max_element(got.begin(), got.end()), std::min<int>(count, 30));
                ReleaseDitherCache();
            }
}

// An 8-bit source whose table has two entries: index 5 reads as black.
TEST(DitherPictures, IndexPastTheSourceTableIsBlack) {
    LeakCheck leaks;
    KOwnedHandle src(AllocDIB(2, 1, 8, 2));
    {
        DIBLock d(src.get());
        d.palette()[1] = RGBQUAD{255, 255, 255, 0};
        d.bits()[0] = 1, d.bits()[1] = 5;
    }
    KHANDLE out = nullptr;
    ASSERT_EQ(DitherDIB(nullptr, src.get(), &out, 4, nullptr, 0, 0, 16, 100), 0);
    KOwnedHandle own(out);
    EXPECT_EQ(IndexesOf(out), (std::vector<int>{15, 0}));
}

// ---- The colour map file ----

TEST(DitherMapFile, MissingOrShortFilesFailOrderedDitherReadsNone) {
    LeakCheck leaks;
    TempDir dir;
    const std::vector<uint8_t> full = ReadFileBytes(kMapPath);
    WriteFileBytes(dir / "short.dat", std::vector<uint8_t>(full.begin(), full.begin() + 40000));
    std::vector<uint8_t> bad = full;
    bad[123] = 16; // no entry of the 16 colours
    WriteFileBytes(dir / "bad16.dat", bad);
    KOwnedHandle src(Source(5, 4, 24, 1));
    const struct {
        const char* what;
        std::string path;
        uint8_t target, method;
        KervErrorCode want;
    } kCases[] = {
        {"missing, nearest", (dir / "none.dat").string(), 8, 0, KERV_NO_COLOR_TABLE},
        {"missing, diffusion", (dir / "none.dat").string(), 4, 2, KERV_NO_COLOR_TABLE},
        {"empty path, nearest", "", 4, 0, KERV_NO_COLOR_TABLE},
        {"missing, ordered", (dir / "none.dat").string(), 8, 1, 0},
        {"empty path, ordered", "", 4, 1, 0},
        {"short, 256 map", (dir / "short.dat").string(), 8, 0, KERV_FILE_READ},
        {"short, 16 map whole", (dir / "short.dat").string(), 4, 2, 0},
        {"a folder", dir.path().string(), 4, 0, KERV_FILE_READ},
        {"16 map holds 16", (dir / "bad16.dat").string(), 4, 0, KERV_FILE_READ},
        {"256 map untouched", (dir / "bad16.dat").string(), 8, 0, 0},
    };
    for (const auto& c : kCases) {
        KHANDLE out = reinterpret_cast<KHANDLE>(uintptr_t{1});
        EXPECT_EQ(DitherToStandardPalette(nullptr, src.get(), &out, c.target, c.method, 0, c.path),
                  c.want)
            << c.what;
        EXPECT_EQ(out == nullptr, c.want != 0) << c.what;
        if (out) KML_GlobalFree(out);
    }
}

// ---- DitherToPalette's cache ----

// (0,0,0) and (1,0,0) share a key; entries black and (1,0,0) tell which
// colour filled it.
TEST(DitherCache, KeepsAnswersUntilReleasedOrThePaletteChanges) {
    LeakCheck leaks;
    ReleaseDitherCache();
    KOwnedHandle black(Flat(2, 1, 0, 0, 0)), nearBlack(Flat(2, 1, 1, 0, 0));
    RGBQUAD pal[16] = {{0, 0, 0, 0}, {0, 0, 1, 0}, {9, 9, 9, 0}};
    RGBQUAD swapped[16] = {{0, 0, 1, 0}, {0, 0, 0, 0}, {9, 9, 9, 0}};
    auto run = [&](KHANDLE src, const RGBQUAD* p, uint16_t count) {
        KHANDLE out = nullptr;
        EXPECT_EQ(DitherToPalette(nullptr, src, &out, 4, p, 0, 0, count), 0);
        KOwnedHandle own(out);
        return out ? int(PixelAt(out, 0, 0)) : -1;
    };
    EXPECT_EQ(run(black.get(), pal, 3), 0);
    EXPECT_EQ(run(nearBlack.get(), pal, 3), 0) << "the key keeps the first colour's answer";
    ReleaseDitherCache();
    EXPECT_EQ(run(nearBlack.get(), pal, 3), 1);
    EXPECT_EQ(run(nearBlack.get(), swapped, 3), 0) << "another palette must not reuse answers";
    EXPECT_EQ(run(black.get(), swapped, 2), 1) << "nor another count";
    EXPECT_EQ(run(black.get(), pal, 2), 0);
    ReleaseDitherCache();
    ReleaseDitherCache(); // twice is harmless
}

// ---- Contract ----

TEST(DitherContract, RefusesBadArgumentsWithTheSlotCleared) {
    LeakCheck leaks;
    KOwnedHandle rgb(Source(4, 4, 24, 1)), mono(Source(4, 4, 1, 1));
    KOwnedHandle garbage(KML_GlobalAlloc(KMEM_GHND, 64));
    const std::vector<RGBQUAD> pal = RandomPalette(1);
    const struct {
        const char* what;
        ReductionCase c;
        KHANDLE src;
        const RGBQUAD* palette;
    } kCases[] = {
        {"standard: null source", {"", Op::Standard, 8, 1, 0, false, 256, 100}, nullptr, nullptr},
        {"standard: target 1", {"", Op::Standard, 1, 1, 0, false, 256, 100}, rgb.get(), nullptr},
        {"standard: target 24", {"", Op::Standard, 24, 1, 0, false, 256, 100}, rgb.get(), nullptr},
        {"standard: method 3", {"", Op::Standard, 8, 3, 0, false, 256, 100}, rgb.get(), nullptr},
        {"standard: 1 bit", {"", Op::Standard, 8, 1, 0, false, 256, 100}, mono.get(), nullptr},
        {"standard: no DIB", {"", Op::Standard, 8, 1, 0, false, 256, 100}, garbage.get(), nullptr},
        {"palette: method 1", {"", Op::Palette, 8, 1, 0, true, 256, 100}, rgb.get(), pal.data()},
        {"palette: no palette", {"", Op::Palette, 8, 0, 0, true, 256, 100}, rgb.get(), nullptr},
        {"palette: count 0", {"", Op::Palette, 8, 0, 0, true, 0, 100}, rgb.get(), pal.data()},
        {"palette: count 257", {"", Op::Palette, 8, 0, 0, true, 257, 100}, rgb.get(), pal.data()},
        {"palette: 17 of 16", {"", Op::Palette, 4, 0, 0, true, 17, 100}, rgb.get(), pal.data()},
        {"palette: target 0", {"", Op::Palette, 0, 0, 0, true, 16, 100}, rgb.get(), pal.data()},
        {"palette: 1 bit", {"", Op::Palette, 4, 0, 0, true, 16, 100}, mono.get(), pal.data()},
        {"exact: strength -1", {"", Op::Exact, 8, 2, 0, false, 256, -1}, rgb.get(), nullptr},
        {"exact: method 3", {"", Op::Exact, 8, 3, 0, false, 256, 100}, rgb.get(), nullptr},
        {"exact: 17 of 16", {"", Op::Exact, 4, 2, 0, true, 17, 100}, rgb.get(), pal.data()},
        {"exact: count 0", {"", Op::Exact, 8, 2, 0, true, 0, 100}, rgb.get(), pal.data()},
        {"exact: 1 bit", {"", Op::Exact, 8, 2, 0, true, 256, 100}, mono.get(), pal.data()},
    };
    for (const auto& c : kCases)
        ExpectRefused(
            [&](KHANDLE* out) {
                Outcome r = Reduce(c.c, c.src, c.palette);
                *out = r.out.release();
                return r.rc;
            },
            KERV_INVALID_PARAM, c.what);
    EXPECT_EQ(DitherToPalette(nullptr, rgb.get(), nullptr, 8, pal.data(), 0, 0, 256),
              KERV_INVALID_PARAM);
    EXPECT_EQ(DitherDIB(nullptr, rgb.get(), nullptr, 8, nullptr, 0, 0, 256, 100),
              KERV_INVALID_PARAM);
    EXPECT_EQ(DitherToStandardPalette(nullptr, rgb.get(), nullptr, 8, 1, 0, ""),
              KERV_INVALID_PARAM);
}

class DitherFailures : public ::testing::TestWithParam<ReductionCase> {};

// Every allocation failure, and a stop at every progress point (the first
// call's answer is not asked for, the last call's is ignored).
TEST_P(DitherFailures, FreeEverythingAndLeaveTheSource) {
    const ReductionCase& c = GetParam();
    const std::vector<RGBQUAD> pal = RandomPalette(2);
    for (int bits : {24, 8, 4}) {
        KOwnedHandle src(Source(9, 5, bits, 8));
        for (bool warmCache : {false, true}) {
            ReleaseDitherCache();
            if (warmCache) {
                ASSERT_EQ(Reduce(c, src.get(), pal.data()).rc, 0);
            }
            const size_t live = KML_LiveBlockCount();
            const int points = SweepAllocationFailures(src.get(), [&](KHANDLE* out) {
                Outcome r = Reduce(c, src.get(), pal.data());
                *out = r.out.release();
                if (!warmCache && r.rc == 0) ReleaseDitherCache();
                return r.rc;
            });
            EXPECT_GE(points, 1) << bits << " bits";
            EXPECT_EQ(KML_LiveBlockCount(), live);
        }
        ReleaseDitherCache();
        EXPECT_EQ(SweepStops(src.get(),
                             [&](StatusControlBlock* s, KHANDLE* out) {
                                 Outcome r = Reduce(c, src.get(), pal.data(), s);
                                 *out = r.out.release();
                                 ReleaseDitherCache();
                                 return r.rc;
                             }),
                  6)
            << bits << " bits";
    }
}

const ReductionCase kFailureCases[] = {
    {"StandardNearest", Op::Standard, 8, 0, 0, false, 256, 100},
    {"StandardOrdered", Op::Standard, 4, 1, 0, false, 16, 100},
    {"StandardDiffused", Op::Standard, 4, 2, 1, false, 16, 100},
    {"PaletteDiffused", Op::Palette, 8, 2, 0, true, 256, 100},
    {"PaletteNearest", Op::Palette, 4, 0, 0, true, 16, 100},
    {"ExactDiffused", Op::Exact, 8, 2, 0, true, 200, 60},
    {"ExactOrdered", Op::Exact, 4, 1, 0, false, 16, 100},
};
INSTANTIATE_TEST_SUITE_P(Dither, DitherFailures, ::testing::ValuesIn(kFailureCases),
                         CaseName<ReductionCase>);

TEST(DitherContract, ProgressCountsRowsFromZero) {
    LeakCheck leaks;
    KOwnedHandle src(Source(6, 4, 24, 4));
    EXPECT_EQ(
        RecordProgress([&](StatusControlBlock* s, KHANDLE* out) {
            Outcome r = Reduce({"", Op::Exact, 8, 2, 0, false, 256, 100}, src.get(), nullptr, s);
            *out = r.out.release();
            return r.rc;
        }),
        UnitProgress(4));
}

} // namespace

// ---- OptimizedDitherDIB: the image's own median cut, then DitherDIB ----

TEST(OptimizedDither, IsDitherDIBWithTheImagesMedianCut) {
    using namespace brellix::test;
    LeakCheck leaks;
    KOwnedHandle full(MakeRandomDIB(41, 9, 24, 21)), eight(MakeRandomDIB(41, 9, 8, 21));
    const struct {
        const char* name;
        KHANDLE source;
        uint16_t colours;
        uint8_t method, target;
        bool windows;
        int strength;
    } cases[] = {{"256 diffused", full.get(), 256, 2, 8, false, 100},
                 {"236 with Windows colours, nearest", full.get(), 236, 0, 8, true, 100},
                 {"16 at 4 bits, diffused at half strength", full.get(), 16, 2, 4, false, 50},
                 {"from a palette image", eight.get(), 40, 2, 8, false, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RGBQUAD palette[256] = {};
        PaletteAccumulator a;
        ASSERT_EQ(a.Begin(kPaletteMedianCut, c.colours, 8, c.windows), 0);
        ASSERT_EQ(a.AddImage(c.source), 0);
        const uint16_t count = uint16_t(a.Generate(palette, c.windows) + (c.windows ? 20 : 0));
        KHANDLE want = nullptr, got = nullptr;
        ASSERT_EQ(DitherDIB(nullptr, c.source, &want, c.target, palette, c.method, 0, count, c.strength), 0);
        KOwnedHandle wantOwner(want);
        ASSERT_EQ(OptimizedDitherDIB(nullptr, c.source, &got, c.colours, c.method, c.target, c.windows,
                                     c.strength),
                  0);
        KOwnedHandle gotOwner(got);
        EXPECT_EQ(BlockBytes(got), BlockBytes(want));
        EXPECT_GE(SweepAllocationFailures(c.source, [&](KHANDLE* r) {
                      return OptimizedDitherDIB(nullptr, c.source, r, c.colours, c.method, c.target,
                                                c.windows, c.strength);
                  }),
                  2);
    }
}

TEST(OptimizedDither, RefusesWhatDoesNotFit) {
    using namespace brellix::test;
    KOwnedHandle full(MakeRandomDIB(8, 8, 24, 1)), four(MakeRandomDIB(8, 8, 4, 1));
    const struct {
        const char* name;
        KHANDLE source;
        uint16_t colours;
        uint8_t target;
        bool windows;
    } cases[] = {{"no colours", full.get(), 0, 8, false},
                 {"257 colours", full.get(), 257, 8, false},
                 {"17 colours at 4 bits", full.get(), 17, 4, false},
                 {"237 with the Windows colours", full.get(), 237, 8, true},
                 {"a 4-bit source", four.get(), 16, 8, false},
                 {"a 3-bit target", full.get(), 8, 3, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectRefused([&](KHANDLE* out) {
            return OptimizedDitherDIB(nullptr, c.source, out, c.colours, 2, c.target, c.windows,
                                      100);
        });
    }
}
