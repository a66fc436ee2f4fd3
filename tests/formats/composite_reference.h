// The compositing written out plainly from its formulas, one pixel at a
// time, for the tests to compare the fast code (and the decoders that feed
// it) against. Nothing here reads the blend tables: mul and div are
// computed from their definitions.
#pragma once

#include "core/dib.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace brellix::test::ref {

inline int Mul(int x) {
    return (x + 128) / 255;
}
inline int Div(int a, int n) {
    return (a * 65536 + n / 2) / n;
}

inline bool PassAll(const uint8_t* q) {
    return q[0] == 0 && q[1] == 0 && q[2] == 255 && q[3] == 255;
}

// 0 below the lower ramp, linear from a to b, 255 from b to c, linear from c
// to d, 0 above; the ramps in percent, times 2.5500000001.
inline int Curve(const uint8_t* q, int v) {
    const int a = q[0], b = q[1], c = q[2], d = q[3];
    if (v >= b && v <= c) return 255;
    if (v > a && v < b) return int((v - a) * 100.0 / (b - a) * 2.5500000001);
    if (v > c && v < d) return int((d - v) * 100.0 / (d - c) * 2.5500000001);
    return 0;
}

inline int ActiveCurves(const uint8_t* ranges) {
    int n = 0;
    for (int i = 0; i < 10; ++i)
        n += !PassAll(ranges + 4 * i);
    return n;
}

// A pixel as blue, green, red (or one grey value).
struct Px {
    int v[3] = {0, 0, 0};
};

inline int Opacity(const uint8_t* ranges, int channels, const Px& s, const Px& d, int m, int c,
                   int op) {
    if (!ranges || ActiveCurves(ranges) == 0) return op;
    int r = 255;
    auto side = [&](int offset, const Px& p) {
        if (channels == 3) {
            const int lum = (p.v[2] * 30 + p.v[1] * 59 + p.v[0] * 11) / 100;
            const int value[4] = {lum, p.v[2], p.v[1], p.v[0]};
            for (int ch = 0; ch < 4; ++ch) {
                const uint8_t* q = ranges + 8 * ch + offset;
                if (!PassAll(q)) r = Mul(r * Curve(q, value[ch]));
            }
        } else {
            const uint8_t* q = ranges + 8 + offset;
            if (!PassAll(q)) r = Mul(r * Curve(q, p.v[0]));
        }
    };
    if (m != 0) side(0, s);
    if (c != 0) side(4, d);
    return Mul(r * op);
}

inline int SqrtLevel(int v) {
    return int(std::sqrt(v / 255.0) * 255.0);
}

inline int Dodge(int d, int s) {
    if (d == 0) return 0;
    if (s == 255) return 255;
    return std::min(255, d * 255 / (255 - s));
}

inline int Blend(int mode, int d, int s, int r) {
    switch (mode) {
    case 1:
        return std::min(d, s);
    case 2:
        return std::max(d, s);
    case 7:
        return Mul(d * s);
    case 8:
        return 255 - Mul((255 - d) * (255 - s));
    case 10:
        return d >= 128 ? 255 - (((255 - d) * (255 - s)) >> 7) : (d * s) >> 7;
    case 11:
        return s >= 128 ? 255 - (((255 - s) * (255 - d)) >> 7) : (d * s) >> 7;
    case 12:
        if (s < 128) return d - Mul(Mul((255 - 2 * s) * d) * (255 - d));
        return d + Mul((2 * s - 255) * (SqrtLevel(d) - d));
    case 13:
        return std::abs(d - Mul(s * r));
    case 14:
        return Dodge(d, s);
    case 15:
        return 255 - Dodge(255 - d, 255 - s);
    case 16:
        return Mul((255 - d) * s + (255 - s) * d);
    default:
        return s;
    }
}

// Hue (0..4079, -1 grey), chroma and luma of r, g, b in 1/16 levels.
inline void ToHcy(int r, int g, int b, int& hue, int& chroma, int& luma) {
    luma = (r * 4800 + g * 9440 + b * 1760) / 1000;
    const int mx = std::max({r, g, b}), mn = std::min({r, g, b});
    chroma = 16 * (mx - mn);
    if (chroma == 0)
        hue = -1;
    else if (r >= g && r >= b)
        hue = (g - b) * 10880 / chroma + (b > g ? 4080 : 0);
    else if (g >= b)
        hue = (b - r) * 10880 / chroma + 1360;
    else
        hue = (r - g) * 10880 / chroma + 2720;
}

inline Px FromHcy(int hue, int chroma, int luma) {
    int rgb[3] = {0, 0, 0};
    if (hue >= 0 && chroma > 0) {
        const int sector = hue / 680;
        const int rising = chroma * (hue % 680) / 680;
        const int falling = chroma - rising;
        // Which component is full, which rises and which falls in each sector.
        const int full[6] = {0, 1, 1, 2, 2, 0};
        const int moving[6] = {1, 0, 2, 1, 0, 2};
        const bool rises[6] = {true, false, true, false, true, false};
        rgb[full[sector]] = chroma;
        rgb[moving[sector]] = rises[sector] ? rising : falling;
    }
    const int shift = luma - (rgb[0] * 300 + rgb[1] * 590 + rgb[2] * 110) / 1000;
    for (int& v : rgb)
        v += shift;
    const int lo = std::min({rgb[0], rgb[1], rgb[2]});
    if (lo < 0)
        for (int& v : rgb)
            v = luma + (v - luma) * luma / (luma - lo);
    const int hi = std::max({rgb[0], rgb[1], rgb[2]});
    if (hi > 4080)
        for (int& v : rgb)
            v = luma + (v - luma) * (4080 - luma) / (hi - luma);
    Px out;
    out.v[2] = rgb[0] / 16, out.v[1] = rgb[1] / 16, out.v[0] = rgb[2] / 16;
    return out;
}

inline Px HcyBlend(int mode, const Px& d, const Px& s) {
    int hd, cd, yd, hs, cs, ys;
    ToHcy(d.v[2], d.v[1], d.v[0], hd, cd, yd);
    ToHcy(s.v[2], s.v[1], s.v[0], hs, cs, ys);
    switch (mode) {
    case 3:
        return FromHcy(hs, cd, yd);
    case 4:
        return FromHcy(hd, cs, yd);
    case 5:
        return FromHcy(hs, cs, yd);
    default:
        return FromHcy(hd, cd, ys);
    }
}

// The noise table: 128 x 128 values, row by row, of the generator seeded
// with 1 (state x 214013 + 2531011, value bits 16..30), mod 254.
inline int NoiseAt(int x, int y) {
    static const std::vector<int> table = [] {
        std::vector<int> t;
        uint32_t state = 1;
        for (int i = 0; i < 128 * 128; ++i) {
            state = state * 214013u + 2531011u;
            t.push_back(int((state >> 16) & 0x7FFF) % 254);
        }
        return t;
    }();
    return table[size_t((y % 128) * 128 + x % 128)];
}

// An image as rows from the top, `ch` values a pixel.
struct Img {
    int w = 0, h = 0, ch = 1;
    std::vector<int> v;
    int& at(int x, int y, int k) {
        return v[(size_t(y) * size_t(w) + size_t(x)) * size_t(ch) + size_t(k)];
    }
};

inline Img ImgOf(KHANDLE dib) {
    DIBLock d(dib);
    Img img{d.width(), d.height(), d.bitCount() == 24 ? 3 : 1, {}};
    for (int y = 0; y < img.h; ++y) {
        const uint8_t* row = DIBRowFromTop(d.header(), y);
        for (int i = 0; i < img.w * img.ch; ++i)
            img.v.push_back(row[i]);
    }
    return img;
}

struct Placement {
    int mode = 0, opacity = 255;
    int left = 0, top = 0;
    const uint8_t* ranges = nullptr;
    bool keep = false;
};

// The canvas (and coverage, when given) after one layer, pixel by pixel.
inline void Reference(Img& canvas, Img* coverage, Img layer, const Img* mask, const Placement& p) {
    const int chs = canvas.ch;
    const bool hasKernel = p.mode <= 16 && !(chs == 1 && p.mode >= 3 && p.mode <= 6);
    const int mode = hasKernel ? p.mode : 0;
    for (int y = 0; y < canvas.h; ++y)
        for (int x = 0; x < canvas.w; ++x) {
            const int lx = x - p.left, ly = y - p.top;
            if (lx < 0 || ly < 0 || lx >= layer.w || ly >= layer.h) continue;
            Px d, s;
            for (int k = 0; k < chs; ++k)
                d.v[k] = canvas.at(x, y, k), s.v[k] = layer.at(lx, ly, k);
            const int m = mask ? const_cast<Img*>(mask)->at(lx, ly, 0) : 255;
            const int c = coverage ? coverage->at(x, y, 0) : 255;
            const int r = Opacity(p.ranges, chs, s, d, m, c, p.opacity);
            const int a = Mul(m * r);
            if (a == 0) continue;
            const int n = c + Mul((255 - c) * a);
            const int w = Div(a, n);
            if (coverage && !p.keep) coverage->at(x, y, 0) = n;
            Px out;
            if (mode == 0 || c == 0) {
                for (int k = 0; k < chs; ++k)
                    out.v[k] = ((65536 - w) * d.v[k] + w * s.v[k] + 32768) >> 16;
            } else {
                Px t;
                if (mode >= 3 && mode <= 6) {
                    const Px b = HcyBlend(mode, d, s);
                    for (int k = 0; k < chs; ++k)
                        t.v[k] = Mul(d.v[k] * (255 - r) + b.v[k] * r);
                } else if (mode == 9) {
                    const bool take = NoiseAt(lx, ly) < r;
                    t = take ? s : d;
                } else {
                    for (int k = 0; k < chs; ++k)
                        t.v[k] = Mul(d.v[k] * (255 - r) + Blend(mode, d.v[k], s.v[k], r) * r);
                }
                for (int k = 0; k < chs; ++k) {
                    const int X = Mul(t.v[k] * c + s.v[k] * (255 - c));
                    const int Y = Mul(d.v[k] * (255 - m) + t.v[k] * m);
                    out.v[k] = (Y * (65536 - w) + X * w + 32768) >> 16;
                }
            }
            for (int k = 0; k < chs; ++k)
                canvas.at(x, y, k) = out.v[k];
        }
}

// Flattens layers the way the read conduit does, from a canvas of one
// background byte and an empty canvas mask: each layer with its placement,
// mask (or none) and the Placement's mode, opacity and ranges.
struct RefLayer {
    Img image;
    const Img* mask = nullptr;
    Placement p;
};
inline Img Flatten(int w, int h, int channels, int background,
                   const std::vector<RefLayer>& layers) {
    Img canvas{w, h, channels,
               std::vector<int>(size_t(w) * size_t(h) * size_t(channels), background)};
    Img cover{w, h, 1, std::vector<int>(size_t(w) * size_t(h), 0)};
    for (const RefLayer& l : layers)
        Reference(canvas, &cover, l.image, l.mask, l.p);
    return canvas;
}

} // namespace brellix::test::ref
