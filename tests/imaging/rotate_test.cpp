#include "imaging/rotate.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

using namespace brellix::test;

namespace {

const int kDepths[] = {1, 4, 8, 24};

// Odd sizes on purpose: 1-bit rows that end inside a byte, 4-bit rows that
// end in a high nibble, 24-bit rows with padding.
struct Size {
    int w, h;
};
const Size kOddSizes[] = {{1, 1}, {13, 7}, {9, 16}, {70, 3}, {131, 67}, {263, 9}, {9, 263}};

KHANDLE Rotated(KHANDLE src, double angle, int direction, uint8_t r = 0, int16_t g = 0, int16_t b = 0,
                uint8_t blend = 1) {
    KHANDLE out = nullptr;
    EXPECT_EQ(RotateDIB(nullptr, src, &out, angle, static_cast<uint8_t>(direction), r, g, b, blend), 0);
    return out;
}

using Op = std::function<KervErrorCode(StatusControlBlock*, KHANDLE, KHANDLE*)>;
Op RotateOp(double angle, int direction = 1) {
    return [=](StatusControlBlock* s, KHANDLE src, KHANDLE* out) {
        return RotateDIB(s, src, out, angle, static_cast<uint8_t>(direction), 40, 90, 200, 1);
    };
}

std::string Where(int bits, const Size& s) {
    return std::to_string(bits) + " bits, " + std::to_string(s.w) + " x " + std::to_string(s.h);
}

// Header fields as a copy (the lock is released at once).
BITMAPINFOHEADER Header(KHANDLE h) {
    DIBLock d(h);
    return *d.header();
}

// ---- Exact turns ----

TEST(RotateExact, HandComputedQuarterAndHalfTurns) {
    // Source (top row first):  a b c / d e f
    //   90 right: d a / e b / f c    180: f e d / c b a    270 right: c f / b e / a d
    struct Values {
        int bits;
        uint32_t a, b, c, d, e, f;
    };
    for (const Values& v : {Values{1, 1, 0, 0, 1, 1, 0}, Values{4, 1, 2, 3, 4, 5, 15},
                            Values{8, 10, 20, 30, 40, 50, 255},
                            Values{24, 0x010203, 0x0A0B0C, 0xFF0000, 0x00FF00, 0x0000FF, 0x808080}}) {
        LeakCheck leaks;
        KOwnedHandle src(FromRows(v.bits, {{v.a, v.b, v.c}, {v.d, v.e, v.f}}));
        KOwnedHandle r90(Rotated(src.get(), 90, 1));
        KOwnedHandle r180(Rotated(src.get(), 180, 1));
        KOwnedHandle r270(Rotated(src.get(), 270, 1));
        EXPECT_EQ(PixelRows(r90.get()), (Rows{{v.d, v.a}, {v.e, v.b}, {v.f, v.c}})) << v.bits;
        EXPECT_EQ(PixelRows(r180.get()), (Rows{{v.f, v.e, v.d}, {v.c, v.b, v.a}})) << v.bits;
        EXPECT_EQ(PixelRows(r270.get()), (Rows{{v.c, v.f}, {v.b, v.e}, {v.a, v.d}})) << v.bits;
    }
}

// A plain pixel-by-pixel reference over sizes that cross the tiles
// and strips of the fast path and the byte boundaries of the packed depths.
TEST(RotateExact, MatchesPixelByPixelMapping) {
    for (int bits : kDepths) {
        for (const Size& s : kOddSizes) {
            KOwnedHandle src(MakeRandomDIB(s.w, s.h, bits, 7u + unsigned(s.w)));
            KOwnedHandle r90(Rotated(src.get(), 90, 1));
            KOwnedHandle r180(Rotated(src.get(), 180, 1));
            KOwnedHandle r270(Rotated(src.get(), 270, 1));
            const auto in = PixelRows(src.get());
            const auto o90 = PixelRows(r90.get()), o180 = PixelRows(r180.get()),
                       o270 = PixelRows(r270.get());
            ASSERT_EQ(o90.size(), size_t(s.w)) << Where(bits, s);
            ASSERT_EQ(o90[0].size(), size_t(s.h)) << Where(bits, s);
            ASSERT_EQ(o270.size(), size_t(s.w)) << Where(bits, s);
            ASSERT_EQ(o180.size(), size_t(s.h)) << Where(bits, s);
            int wrong = 0;
            for (int y = 0; y < s.h; ++y)
                for (int x = 0; x < s.w; ++x) {
                    const uint32_t p = in[size_t(y)][size_t(x)];
                    wrong += o90[size_t(x)][size_t(s.h - 1 - y)] != p;
                    wrong += o180[size_t(s.h - 1 - y)][size_t(s.w - 1 - x)] != p;
                    wrong += o270[size_t(s.w - 1 - x)][size_t(y)] != p;
                }
            EXPECT_EQ(wrong, 0) << Where(bits, s);
        }
    }
}

TEST(RotateExact, IdentitiesBetweenAnglesAndDirections) {
    for (int bits : kDepths) {
        for (const Size& s : kOddSizes) {
            KOwnedHandle src(MakeRandomDIB(s.w, s.h, bits, 99));
            const auto source = ImageContent(src.get());
            KOwnedHandle right90(Rotated(src.get(), 90, 1));
            KOwnedHandle left270(Rotated(src.get(), 270, 0));
            KOwnedHandle right450(Rotated(src.get(), 450, 1));
            KOwnedHandle minus90(Rotated(src.get(), -90, 1));
            EXPECT_EQ(BlockBytes(right90.get()), BlockBytes(left270.get())) << Where(bits, s);
            EXPECT_EQ(BlockBytes(right90.get()), BlockBytes(right450.get())) << Where(bits, s);
            EXPECT_EQ(BlockBytes(right90.get()), BlockBytes(minus90.get())) << Where(bits, s);
            KOwnedHandle left90(Rotated(src.get(), 90, 0));
            KOwnedHandle right270(Rotated(src.get(), 270, 1));
            EXPECT_EQ(BlockBytes(left90.get()), BlockBytes(right270.get())) << Where(bits, s);

            KOwnedHandle half(Rotated(src.get(), 180, 1));
            KOwnedHandle full(Rotated(half.get(), 180, 0));
            EXPECT_EQ(ImageContent(full.get()), source) << "180 twice, " << Where(bits, s);

            KHANDLE copy = nullptr;
            ASSERT_EQ(CopyDIB(src.get(), &copy), 0);
            KOwnedHandle turned(copy);
            for (int i = 0; i < 4; ++i) turned.reset(Rotated(turned.get(), 90, 1));
            EXPECT_EQ(ImageContent(turned.get()), source) << "90 four times, " << Where(bits, s);
        }
    }
}

TEST(RotateExact, KeepsHeaderFieldsAndPalette) {
    for (int bits : kDepths) {
        KOwnedHandle src(MakeRandomDIB(5, 3, bits, 1));
        {
            DIBLock d(src.get());
            d->biXPelsPerMeter = 3780;
            d->biYPelsPerMeter = 2000;
            if (bits != 24) d.palette()[1] = RGBQUAD{1, 2, 3, 0};
        }
        const BITMAPINFOHEADER before = Header(src.get());
        for (double angle : {90.0, 180.0, 270.0, 33.0}) {
            KOwnedHandle out(Rotated(src.get(), angle, 1));
            DIBLock d(out.get());
            ASSERT_TRUE(d);
            EXPECT_EQ(d->biXPelsPerMeter, 3780) << "not exchanged on a quarter turn";
            EXPECT_EQ(d->biYPelsPerMeter, 2000);
            EXPECT_EQ(d->biBitCount, bits);
            EXPECT_EQ(d->biClrUsed, before.biClrUsed);
            EXPECT_EQ(d->biClrImportant, before.biClrImportant);
            EXPECT_EQ(d->biCompression, 0u);
            EXPECT_EQ(d->biSizeImage, d.stride() * uint32_t(d.height()));
            EXPECT_EQ(KML_GlobalSize(out.get()), DIBTotalBytes(d.header()));
            if (angle == 90 || angle == 270) {
                EXPECT_EQ(d.width(), 3);
                EXPECT_EQ(d.height(), 5);
            }
            if (bits != 24) {
                EXPECT_EQ(std::memcmp(d.palette(), DIBLock(src.get()).palette(), DIBPaletteBytes(&before)), 0);
            }
        }
    }
}

// ---- Free turn ----

// The turn in floating point, to tell where an output pixel falls in the source.
struct Geometry {
    double c, s;
    int w, h, outW, outH;
    // Source position (stored rows, from the bottom) of output pixel (x, row y).
    void map(int x, int y, double& sx, double& sy) const {
        const double dx = x - outW / 2, dy = y - outH * 0.5;
        sx = dx * c - dy * s + w / 2;
        sy = dx * s + dy * c + h / 2;
    }
};

Geometry GeometryFor(double angle, int w, int h, KHANDLE out) {
    const double theta = angle / 180 * 3.14159;
    const BITMAPINFOHEADER o = Header(out);
    return {std::cos(theta), std::sin(theta), w, h, o.biWidth, o.biHeight};
}

uint32_t StoredPixel(KHANDLE h, int x, int storedRow) { return PixelAt(h, x, Header(h).biHeight - 1 - storedRow); }

TEST(RotateFree, OutputSizeFollowsTheTurnedBoundingBox) {
    struct Case {
        int w, h;
        double angle;
        int outW, outH;
    };
    // 100 x 50 by 30: 50 sin + 100 cos + 0.5 = 112.1, 100 sin + 50 cos + 0.5 = 93.8.
    for (const Case& c : {Case{100, 50, 30, 112, 93}, Case{100, 50, 330, 112, 93}, Case{10, 10, 45, 14, 14},
                          Case{40, 1, 89, 2, 40}, Case{7, 3, 0.5, 7, 3}}) {
        for (int bits : kDepths) {
            KOwnedHandle src(MakeRandomDIB(c.w, c.h, bits, 3));
            KOwnedHandle out(Rotated(src.get(), c.angle, 1));
            ASSERT_TRUE(out);
            const BITMAPINFOHEADER o = Header(out.get());
            EXPECT_EQ(o.biWidth, c.outW) << c.angle << " degrees, " << bits << " bits";
            EXPECT_EQ(o.biHeight, c.outH) << c.angle << " degrees, " << bits << " bits";
        }
    }
}

// The free turn written out directly, pixel by pixel, for 24 bits: the
// fast path (blocked walk, border split) must give the same bytes.
KHANDLE ReferenceFreeTurn24(KHANDLE source, double angle, uint8_t r, uint8_t g, uint8_t b, bool blend) {
    const BITMAPINFOHEADER s = Header(source);
    const int W = s.biWidth, H = s.biHeight;
    const double theta = angle * (1.0 / 180.0) * 3.14159, c = std::cos(theta), sn = std::sin(theta);
    const int W2 = int(H * std::fabs(sn) + W * std::fabs(c) + 0.5);
    const int H2 = int(W * std::fabs(sn) + H * std::fabs(c) + 0.5);
    KHANDLE out = nullptr;
    EXPECT_EQ(NewDIB(&out, uint16_t(W2), uint16_t(H2), 24, 0, 0, 0, 0, nullptr), 0);
    auto at = [&](int x, int row, int ch) -> int {  // row from the bottom
        if (x < 0 || row < 0 || x >= W || row >= H) return ch == 0 ? b : ch == 1 ? g : r;
        const uint32_t p = StoredPixel(source, x, row);
        return int(p >> (8 * ch)) & 255;
    };
    for (int y = 0; y < H2; ++y)
        for (int x = 0; x < W2; ++x) {
            const long sx = long((x - W2 / 2) * c * 1024) - long((y - H2 * 0.5) * sn * 1024) + (W / 2) * 1024;
            const long sy = long((x - W2 / 2) * sn * 1024) + long((y - H2 * 0.5) * c * 1024) + (H / 2) * 1024;
            const long ix = long(std::floor(sx / 1024.0)), iy = long(std::floor(sy / 1024.0));
            int fx = int(sx - ix * 1024), fy = int(sy - iy * 1024);
            uint32_t value = (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
            if (!(ix < -1 || iy < -1 || ix >= W || iy >= H)) {
                if (!blend) {
                    if (ix < 0) fx = 1024;
                    if (ix + 1 >= W) fx = 0;
                    if (iy < 0) fy = 1024;
                    if (iy + 1 >= H) fy = 0;
                }
                value = 0;
                for (int ch = 0; ch < 3; ++ch) {
                    const int X = int(ix), Y = int(iy);
                    const int top = at(X, Y, ch) + (((at(X + 1, Y, ch) - at(X, Y, ch)) * fx) >> 10);
                    const int bottom = at(X, Y + 1, ch) + (((at(X + 1, Y + 1, ch) - at(X, Y + 1, ch)) * fx) >> 10);
                    value |= uint32_t((top + (((bottom - top) * fy) >> 10)) & 255) << (8 * ch);
                }
            }
            SetPixel(out, x, H2 - 1 - y, value);
        }
    return out;
}

TEST(RotateFree, MatchesDirectComputation) {
    struct Case {
        int w, h;
        double angle;
    };
    for (const Case& k : {Case{150, 90, 30}, Case{37, 201, 123.4}, Case{64, 64, 45}, Case{5, 3, 271},
                          Case{1, 9, 10}, Case{300, 2, 359.5}}) {
        KOwnedHandle src(MakeRandomDIB(k.w, k.h, 24, unsigned(k.w * k.h)));
        for (bool blend : {true, false}) {
            KOwnedHandle want(ReferenceFreeTurn24(src.get(), k.angle, 30, 60, 90, blend));
            KOwnedHandle got(Rotated(src.get(), k.angle, 1, 30, 60, 90, blend));
            EXPECT_EQ(ImageContent(got.get()), ImageContent(want.get()))
                << k.w << " x " << k.h << " by " << k.angle << (blend ? ", blended" : "");
        }
    }
}

// A uniform image turned over a different background: outside the turned
// rectangle only the background, well inside only the image's colour, and
// in between a mix of the two when blending (nothing else without).
TEST(RotateFree, BackgroundAndBlendedEdges) {
    const uint32_t image = 0x20C040, backdrop = 0xF01008;  // 0xRRGGBB
    KHANDLE h = nullptr;
    ASSERT_EQ(NewDIB(&h, 100, 50, 24, 0, 0x20, 0xC0, 0x40, nullptr), 0);
    KOwnedHandle src(h);
    for (uint8_t blend : {uint8_t{1}, uint8_t{0}}) {
        KOwnedHandle out(Rotated(src.get(), 30, 1, 0xF0, 0x10, 0x08, blend));
        const Geometry g = GeometryFor(30, 100, 50, out.get());
        ASSERT_EQ(g.outW, 112);
        ASSERT_EQ(g.outH, 93);
        int outside = 0, inside = 0, mixed = 0;
        for (int y = 0; y < g.outH; ++y)
            for (int x = 0; x < g.outW; ++x) {
                double sx, sy;
                g.map(x, y, sx, sy);
                const uint32_t p = StoredPixel(out.get(), x, y);
                const double slack = 0.01;  // fixed-point truncation
                if (sx < -1 - slack || sy < -1 - slack || sx > g.w + slack || sy > g.h + slack) {
                    ++outside;
                    ASSERT_EQ(p, backdrop) << "at " << x << ", " << y;
                } else if (sx > slack && sy > slack && sx < g.w - 1 - slack && sy < g.h - 1 - slack) {
                    ++inside;
                    ASSERT_EQ(p, image) << "at " << x << ", " << y;
                } else if (p != image && p != backdrop) {
                    ++mixed;
                    for (int shift : {0, 8, 16}) {
                        const int v = int(p >> shift) & 255, a = int(image >> shift) & 255,
                                  b = int(backdrop >> shift) & 255;
                        EXPECT_GE(v, std::min(a, b));
                        EXPECT_LE(v, std::max(a, b));
                    }
                }
            }
        EXPECT_GT(outside, 1000);
        EXPECT_GT(inside, 3000);
        if (blend)
            EXPECT_GT(mixed, 200) << "the edge should mix image and background";
        else
            EXPECT_EQ(mixed, 0) << "without blending the edge takes only image pixels";
    }
}

// The same at every depth with a noisy image: what lies outside is the
// background as the depth stores it.
TEST(RotateFree, OutsideIsBackgroundAtEveryDepth) {
    const uint8_t r = 250, g = 120, b = 7;
    for (int bits : kDepths)
        for (bool grey : {false, true}) {
            if (grey && bits != 8) continue;
            KOwnedHandle src(MakeRandomDIB(100, 50, bits, 21, grey));
            KOwnedHandle out(Rotated(src.get(), 30, 1, r, g, b));
            const Geometry geo = GeometryFor(30, 100, 50, out.get());
            ASSERT_EQ(geo.outW, 112);
            ASSERT_EQ(geo.outH, 93);
            uint32_t want = (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
            if (grey) {
                want = b;
            } else if (bits != 24) {
                DIBLock d(src.get());
                want = FindNearestPaletteIndex(r, g, b, d.palette(), DIBPaletteEntries(d.header()), 4, nullptr);
            }
            int outside = 0, wrong = 0;
            for (int y = 0; y < geo.outH; ++y)
                for (int x = 0; x < geo.outW; ++x) {
                    double sx, sy;
                    geo.map(x, y, sx, sy);
                    if (sx < -1.01 || sy < -1.01 || sx > geo.w + 0.01 || sy > geo.h + 0.01) {
                        ++outside;
                        wrong += StoredPixel(out.get(), x, y) != want;
                    }
                }
            EXPECT_GT(outside, 1000);
            EXPECT_EQ(wrong, 0) << bits << " bits" << (grey ? ", grey" : "");
        }
}

KHANDLE ExpandTo24(KHANDLE src) {
    const BITMAPINFOHEADER s = Header(src);
    KHANDLE out = nullptr;
    EXPECT_EQ(NewDIB(&out, uint16_t(s.biWidth), uint16_t(s.biHeight), 24, 0, 0, 0, 0, nullptr), 0);
    DIBLock d(src);
    const RGBQUAD* pal = d.palette();
    for (int y = 0; y < s.biHeight; ++y)
        for (int x = 0; x < s.biWidth; ++x) {
            const RGBQUAD q = pal[PixelAt(src, x, y)];
            SetPixel(out, x, y, (uint32_t{q.rgbRed} << 16) | (uint32_t{q.rgbGreen} << 8) | q.rgbBlue);
        }
    return out;
}

// Palette output is the true-colour result mapped to the nearest entry,
// found here with the plain (uncached) search.
TEST(RotateFree, PaletteOutputIsNearestEntryOfTrueColourResult) {
    for (int bits : {1, 4, 8}) {
        for (uint8_t blend : {uint8_t{1}, uint8_t{0}}) {
            KOwnedHandle src(MakeRandomDIB(37, 23, bits, 5));
            KOwnedHandle wide(ExpandTo24(src.get()));
            const uint8_t r = 200, g = 30, b = 90;
            KOwnedHandle turned(Rotated(src.get(), 21.5, 1, r, g, b, blend));
            KOwnedHandle reference(Rotated(wide.get(), 21.5, 1, r, g, b, blend));
            const BITMAPINFOHEADER o = Header(turned.get());
            ASSERT_EQ(o.biWidth, Header(reference.get()).biWidth);
            DIBLock d(src.get());
            const RGBQUAD* pal = d.palette();
            const uint32_t entries = DIBPaletteEntries(d.header());
            int wrong = 0;
            for (int y = 0; y < o.biHeight; ++y)
                for (int x = 0; x < o.biWidth; ++x) {
                    const uint32_t c = PixelAt(reference.get(), x, y);
                    const uint16_t want = FindNearestPaletteIndex(uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c),
                                                                  pal, entries, 4, nullptr);
                    wrong += PixelAt(turned.get(), x, y) != want;
                }
            EXPECT_EQ(wrong, 0) << bits << " bits, blend " << int(blend);
        }
    }
}

// A palette shorter than the depth allows is searched over its own entries.
TEST(RotateFree, ShortPaletteIsSearchedOverItsEntries) {
    KOwnedHandle src(AllocDIB(23, 11, 8, 16));
    ASSERT_TRUE(src);
    {
        DIBLock d(src.get());
        for (int i = 0; i < 16; ++i)
            d.palette()[i] = RGBQUAD{uint8_t(16 * i), uint8_t(255 - 16 * i), uint8_t(i * i), 0};
    }
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 23; ++x) SetPixel(src.get(), x, y, uint32_t(x * 7 + y) % 16);
    KOwnedHandle wide(ExpandTo24(src.get()));
    KOwnedHandle turned(Rotated(src.get(), 40, 1, 250, 250, 0));
    KOwnedHandle reference(Rotated(wide.get(), 40, 1, 250, 250, 0));
    const BITMAPINFOHEADER o = Header(turned.get());
    EXPECT_EQ(o.biClrUsed, 16u);
    DIBLock d(src.get());
    int wrong = 0;
    for (int y = 0; y < o.biHeight; ++y)
        for (int x = 0; x < o.biWidth; ++x) {
            const uint32_t c = PixelAt(reference.get(), x, y);
            wrong += PixelAt(turned.get(), x, y) !=
                     FindNearestPaletteIndex(uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), d.palette(), 16, 4, nullptr);
        }
    EXPECT_EQ(wrong, 0);
}

// Greyscale is turned as intensities: the same as a grey true-colour image,
// with the background's blue as its level.
TEST(RotateFree, GreyscaleIsTurnedAsIntensities) {
    KOwnedHandle src(MakeRandomDIB(41, 19, 8, 11, /*grey=*/true));
    ASSERT_TRUE(IsDIBGreyScaled(src.get()));
    KOwnedHandle wide(ExpandTo24(src.get()));
    KOwnedHandle turned(Rotated(src.get(), 63, 0, 10, 20, 77));
    KOwnedHandle reference(Rotated(wide.get(), 63, 0, 77, 77, 77));
    EXPECT_TRUE(IsDIBGreyScaled(turned.get()));
    const BITMAPINFOHEADER o = Header(turned.get());
    int wrong = 0;
    for (int y = 0; y < o.biHeight; ++y)
        for (int x = 0; x < o.biWidth; ++x) wrong += PixelAt(turned.get(), x, y) != (PixelAt(reference.get(), x, y) & 255);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(PixelAt(turned.get(), 0, 0), 77u) << "a corner is background";
}

// A free turn just short of 90 degrees looks like the exact quarter turn
// (up to a one-pixel shift of the centre): it turns the same way.
TEST(RotateFree, TurnsTheSameWayAsTheExactPath) {
    KHANDLE h = nullptr;
    ASSERT_EQ(NewDIB(&h, 40, 20, 24, 0, 0, 0, 0, nullptr), 0);
    KOwnedHandle src(h);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) SetPixel(src.get(), x, y, (uint32_t(6 * x) << 16) | (uint32_t(12 * y) << 8));
    for (int direction : {1, 0}) {
        KOwnedHandle exact(Rotated(src.get(), 90, direction));
        KOwnedHandle free(Rotated(src.get(), direction ? 89.9 : 90.1, direction));
        const auto e = PixelRows(exact.get()), f = PixelRows(free.get());
        ASSERT_EQ(e.size(), f.size());
        ASSERT_EQ(e[0].size(), f[0].size());
        long best = -1;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                long diff = 0;
                for (size_t y = 3; y + 3 < e.size(); ++y)
                    for (size_t x = 3; x + 3 < e[0].size(); ++x) {
                        const uint32_t a = e[y][x], b = f[size_t(int(y) + dy)][size_t(int(x) + dx)];
                        for (int shift : {8, 16}) diff += std::abs(int(a >> shift & 255) - int(b >> shift & 255));
                    }
                if (best < 0 || diff < best) best = diff;
            }
        // 34 x 14 pixels, two channels: well under two levels per channel.
        EXPECT_LT(best, 34 * 14 * 2 * 2) << "direction " << direction;
    }
}

TEST(RotateFree, AngleReductionAndSign) {
    for (int bits : kDepths) {
        KOwnedHandle src(MakeRandomDIB(29, 17, bits, 8));
        KOwnedHandle plus(Rotated(src.get(), 30, 1, 1, 2, 3));
        KOwnedHandle minus(Rotated(src.get(), -30, 1, 1, 2, 3));
        KOwnedHandle wrapped(Rotated(src.get(), 390, 1, 1, 2, 3));
        KOwnedHandle left(Rotated(src.get(), 330, 0, 1, 2, 3));
        EXPECT_EQ(BlockBytes(plus.get()), BlockBytes(minus.get())) << bits;
        EXPECT_EQ(BlockBytes(plus.get()), BlockBytes(wrapped.get())) << bits;
        EXPECT_EQ(BlockBytes(plus.get()), BlockBytes(left.get())) << bits;
        KOwnedHandle other(Rotated(src.get(), 31, 1, 1, 2, 3));
        EXPECT_NE(BlockBytes(plus.get()), BlockBytes(other.get())) << bits;
    }
}

// Tiny images at every depth and angle: the border logic must not read
// outside the block (the sanitizer run checks that).
TEST(RotateFree, TinyImages) {
    for (int bits : kDepths)
        for (const Size& s : {Size{1, 1}, Size{1, 2}, Size{2, 1}, Size{2, 2}, Size{3, 1}})
            for (double angle : {0.01, 1.0, 30.0, 45.0, 137.5, 269.99, 359.0}) {
                LeakCheck leaks;
                KOwnedHandle src(MakeRandomDIB(s.w, s.h, bits, 2));
                for (uint8_t blend : {uint8_t{0}, uint8_t{1}}) {
                    KOwnedHandle out(Rotated(src.get(), angle, 1, 9, 9, 9, blend));
                    EXPECT_TRUE(out) << Where(bits, s) << " at " << angle;
                }
            }
}

// ---- Flip and mirror ----

TEST(FlipMirror, TwiceGivesBackTheSource) {
    for (int bits : kDepths)
        for (int w : {1, 2, 3, 7, 8, 9, 13, 31, 33, 64, 67})
            for (int h : {1, 4}) {
                const Size s{w, h};
                KOwnedHandle src(MakeRandomDIB(w, h, bits, unsigned(w * 31 + h)));
                const auto source = ImageContent(src.get());
                KHANDLE a = nullptr, b = nullptr;
                ASSERT_EQ(FlipDIB(nullptr, src.get(), &a), 0);
                KOwnedHandle flipped(a);
                ASSERT_EQ(FlipDIB(nullptr, flipped.get(), &b), 0);
                KOwnedHandle back(b);
                EXPECT_EQ(BlockBytes(back.get()), BlockBytes(src.get())) << "flip, " << Where(bits, s);
                ASSERT_EQ(MirrorDIB(nullptr, src.get(), &a), 0);
                KOwnedHandle mirrored(a);
                ASSERT_EQ(MirrorDIB(nullptr, mirrored.get(), &b), 0);
                back.reset(b);
                EXPECT_EQ(ImageContent(back.get()), source) << "mirror, " << Where(bits, s);
            }
}

TEST(FlipMirror, MovePixelsWhereExpected) {
    for (int bits : kDepths)
        for (const Size& s : kOddSizes) {
            KOwnedHandle src(MakeRandomDIB(s.w, s.h, bits, 4));
            KHANDLE a = nullptr, b = nullptr;
            ASSERT_EQ(FlipDIB(nullptr, src.get(), &a), 0);
            KOwnedHandle flipped(a);
            ASSERT_EQ(MirrorDIB(nullptr, src.get(), &b), 0);
            KOwnedHandle mirrored(b);
            const auto in = PixelRows(src.get()), f = PixelRows(flipped.get()),
                       m = PixelRows(mirrored.get());
            int wrong = 0;
            for (int y = 0; y < s.h; ++y)
                for (int x = 0; x < s.w; ++x) {
                    wrong += f[size_t(s.h - 1 - y)][size_t(x)] != in[size_t(y)][size_t(x)];
                    wrong += m[size_t(y)][size_t(s.w - 1 - x)] != in[size_t(y)][size_t(x)];
                }
            EXPECT_EQ(wrong, 0) << Where(bits, s);
            EXPECT_EQ(Header(mirrored.get()).biSizeImage, Header(src.get()).biSizeImage);
        }
}

TEST(FlipMirror, MirroredPackedRowsStayAlignedLeft) {
    struct Case {
        int bits, width;
        std::vector<uint8_t> in, out;  // the first bytes of the only row
    };
    for (const Case& c : {Case{4, 3, {0x12, 0x30}, {0x32, 0x10}}, Case{4, 4, {0x12, 0x34}, {0x43, 0x21}},
                          Case{4, 5, {0x12, 0x34, 0x50}, {0x54, 0x32, 0x10}},
                          Case{1, 10, {0xC0, 0x40}, {0x80, 0xC0}}, Case{1, 3, {0x80}, {0x20}},
                          Case{1, 17, {0xF0, 0x0F, 0x80}, {0xF8, 0x07, 0x80}}}) {
        KHANDLE h = nullptr;
        ASSERT_EQ(NewDIB(&h, uint16_t(c.width), 1, uint8_t(c.bits), 0, 0, 0, 0, nullptr), 0);
        KOwnedHandle src(h);
        std::memcpy(DIBLock(src.get()).bits(), c.in.data(), c.in.size());
        KHANDLE m = nullptr;
        ASSERT_EQ(MirrorDIB(nullptr, src.get(), &m), 0);
        KOwnedHandle mirrored(m);
        const uint8_t* row = DIBLock(mirrored.get()).bits();
        EXPECT_EQ(std::vector<uint8_t>(row, row + c.out.size()), c.out) << c.bits << " bits x " << c.width;
    }
}

// ---- Contract: parameters, failures, progress ----

TEST(RotateContract, InvalidParameters) {
    LeakCheck leaks;
    KOwnedHandle src(MakeRandomDIB(8, 8, 24, 1));
    const auto before = BlockBytes(src.get());
    struct Case {
        double angle;
        int direction;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const Case& c : {Case{0, 1}, Case{360, 1}, Case{720, 0}, Case{-360, 1}, Case{0.005, 1}, Case{360.004, 1},
                          Case{90, 2}, Case{30, 255}, Case{nan, 1}, Case{inf, 1}}) {
        ExpectRefused(
            [&](KHANDLE* out) {
                return RotateDIB(nullptr, src.get(), out, c.angle, uint8_t(c.direction), 0, 0, 0,
                                 1);
            },
            101, std::to_string(c.angle) + " / " + std::to_string(c.direction));
    }
    ExpectRefused([](KHANDLE* out) { return RotateDIB(nullptr, nullptr, out, 90, 1, 0, 0, 0, 1); });
    EXPECT_EQ(RotateDIB(nullptr, src.get(), nullptr, 90, 1, 0, 0, 0, 1), 101);
    // A compressed pixel array is not read as if it were plain rows.
    KOwnedHandle packed(MakeRandomDIB(8, 8, 8, 1));
    DIBLock(packed.get())->biCompression = 1;
    for (double angle : {90.0, 30.0})
        ExpectRefused([&](KHANDLE* out) {
            return RotateDIB(nullptr, packed.get(), out, angle, 1, 0, 0, 0, 1);
        });
    for (auto op : {FlipDIB, MirrorDIB}) {
        ExpectRefused([&](KHANDLE* out) { return op(nullptr, packed.get(), out); });
        ExpectRefused([&](KHANDLE* out) { return op(nullptr, nullptr, out); });
        EXPECT_EQ(op(nullptr, src.get(), nullptr), 101);
    }
    EXPECT_EQ(BlockBytes(src.get()), before);
}

std::vector<std::pair<std::string, Op>> AllOps() {
    return {{"rotate 90", RotateOp(90)},    {"rotate 180", RotateOp(180)},
            {"rotate 270", RotateOp(270)},  {"rotate 30", RotateOp(30)},
            {"rotate 200 left", RotateOp(200, 0)}, {"flip", FlipDIB},
            {"mirror", MirrorDIB}};
}

TEST(RotateContract, EveryAllocationFailureIsCleanedUp) {
    for (int bits : kDepths)
        for (bool grey : {false, true}) {
            if (grey && bits != 8) continue;
            KOwnedHandle src(MakeRandomDIB(11, 6, bits, 1, grey));
            for (const auto& [name, op] : AllOps()) {
                const int points = SweepAllocationFailures(
                    src.get(), [&, op = op](KHANDLE* out) { return op(nullptr, src.get(), out); });
                EXPECT_GT(points, 0) << name << ", " << bits << " bits";
            }
        }
}

TEST(RotateContract, StopAtEveryProgressPointFreesEverything) {
    for (int bits : kDepths) {
        KOwnedHandle src(MakeRandomDIB(9, 5, bits, 2));
        for (const auto& [name, op] : AllOps())
            EXPECT_GT(SweepStops(src.get(), BindSource(op, src.get())), 0)
                << name << ", " << bits << " bits";
    }
}

// current/total as seen by the callback: (0, 100) first, then every unit
// 0..n-1 against total n, and (n, n) at the end.
TEST(RotateContract, ProgressCountsTheDocumentedUnits) {
    KOwnedHandle src(MakeRandomDIB(100, 50, 24, 3));
    struct Case {
        std::string name;
        Op op;
        int units;
    };
    for (const Case& c :
         {Case{"rotate 90", RotateOp(90), 100}, Case{"rotate 270", RotateOp(270), 50},
          Case{"rotate 180", RotateOp(180), 50}, Case{"rotate 30", RotateOp(30), 93},
          Case{"flip", FlipDIB, 50}, Case{"mirror", MirrorDIB, 50}})
        EXPECT_EQ(RecordProgress(BindSource(c.op, src.get())), UnitProgress(c.units)) << c.name;
}

}  // namespace
