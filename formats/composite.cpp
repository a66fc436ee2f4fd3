// Layer compositing. The row kernels are instantiated per (channels, mode),
// so that the mode's blend value and the dissolve and hue paths are chosen
// at compile time and the per-pixel loop holds only table look-ups.
#include "formats/composite.h"

#include "formats/codec_util.h"
#include "formats/dibroutines.h"
#include "imaging/checks.h"
#include "imaging/tone.h"

#include <algorithm>
#include <cstring>

namespace {

using namespace imaging_checks;

// ---- Blend-range curves ----

bool LetsEverythingPass(const uint8_t* q) {
    return q[0] == 0 && q[1] == 0 && q[2] == 255 && q[3] == 255;
}

// 0 up to a, rising to 255 at b, 255 up to c, falling to 0 at d. Written so
// that any four bytes give a curve without dividing by zero: a ramp exists
// only where v lies strictly inside it.
void BuildCurve(const uint8_t* q, uint8_t* out) {
    const int a = q[0], b = q[1], c = q[2], d = q[3];
    for (int v = 0; v < 256; ++v) {
        double percent;
        if (v < b)
            percent = v <= a ? 0.0 : (v - a) * 100.0 / (b - a);
        else if (v <= c)
            percent = 100.0;
        else
            percent = v >= d ? 0.0 : (d - v) * 100.0 / (d - c);
        out[v] = static_cast<uint8_t>(percent * 2.5500000001);
    }
}

// ---- The tables ----

struct Tables {
    const uint8_t* mul;  // mul[x] = (x + 128) / 255, x up to 255 x 255
    const uint32_t* div; // div[a * 256 + n - 1] = a / n in 16.16
    const uint8_t* noise;
    const uint8_t* root;
};

Tables TablesNow() {
    const BlendTables& b = GetBlendTables();
    return {b.multiply, b.division, b.noise, b.sqrtTable};
}

// ---- Effective opacity ----

inline uint32_t Luminance(const uint8_t* bgr) {
    return (uint32_t{bgr[2]} * 30 + uint32_t{bgr[1]} * 59 + uint32_t{bgr[0]} * 11) / 100;
}

// r multiplied by the curves of one side (layer or canvas) at pixel px.
template <int Channels>
inline uint32_t ThroughCurves(uint32_t r, const uint8_t* mul, const bool* none,
                              const uint8_t (*curve)[256], const uint8_t* px) {
    if constexpr (Channels == 3) {
        if (!none[0]) r = mul[r * curve[0][Luminance(px)]];
        if (!none[1]) r = mul[r * curve[1][px[2]]];
        if (!none[2]) r = mul[r * curve[2][px[1]]];
        if (!none[3]) r = mul[r * curve[3][px[0]]];
    } else {
        if (!none[1]) r = mul[r * curve[1][px[0]]];
    }
    return r;
}

template <int Channels>
inline uint32_t EffectiveOpacity(const BlendRowArgs& a, const uint8_t* mul, const uint8_t* s,
                                 const uint8_t* d, uint32_t m, uint32_t c) {
    if (!a.ranges) return a.opacity;
    uint32_t r = 255;
    if (m != 0)
        r = ThroughCurves<Channels>(r, mul, a.ranges->layerNoCurve, a.ranges->layerCurve, s);
    if (c != 0)
        r = ThroughCurves<Channels>(r, mul, a.ranges->canvasNoCurve, a.ranges->canvasCurve, d);
    return mul[r * a.opacity];
}

// ---- Blend values of one channel ----

// d x 255 / (255 - s), at most 255. A black canvas stays black and a white
// layer gives white: the quotient's limits, without dividing by zero.
inline uint32_t Dodge(uint32_t d, uint32_t s) {
    if (d == 0) return 0;
    if (s == 255) return 255;
    return std::min<uint32_t>(255, d * 255 / (255 - s));
}

template <int Mode>
inline uint32_t BlendValue(uint32_t d, uint32_t s, uint32_t r, const Tables& t) {
    if constexpr (Mode == kBlendDarken) return std::min(d, s);
    if constexpr (Mode == kBlendLighten) return std::max(d, s);
    if constexpr (Mode == kBlendMultiply) return t.mul[d * s];
    if constexpr (Mode == kBlendScreen) return 255 - t.mul[(255 - d) * (255 - s)];
    // Both halves are computed so that the choice compiles to a select:
    // on photographs the branch would be mispredicted half the time.
    if constexpr (Mode == kBlendOverlay || Mode == kBlendHardLight) {
        const uint32_t screen = 255 - (((255 - d) * (255 - s)) >> 7), multiply = (d * s) >> 7;
        return (Mode == kBlendOverlay ? d : s) >= 128 ? screen : multiply;
    }
    if constexpr (Mode == kBlendSoftLight) {
        // Below the pivot: d - (1 - 2s) d (1 - d); above: d + (2s - 1)(sqrt(d) - d).
        if (s < 128) return d - t.mul[t.mul[(255 - 2 * s) * d] * (255 - d)];
        return d + t.mul[(2 * s - 255) * (t.root[d] - d)];
    }
    if constexpr (Mode == kBlendDifference) {
        const uint32_t k = t.mul[s * r];
        return d > k ? d - k : k - d;
    }
    if constexpr (Mode == kBlendColorDodge) return Dodge(d, s);
    if constexpr (Mode == kBlendColorBurn) return 255 - Dodge(255 - d, 255 - s);
    if constexpr (Mode == kBlendExclusion) return t.mul[(255 - d) * s + (255 - s) * d];
    return s;
}

// ---- Hue, chroma and luma ----

constexpr bool IsHcyMode(int mode) {
    return mode >= kBlendHue && mode <= kBlendLuminosity;
}

// A colour in 1/16 of a level: hue 0..4079 in six sectors of 680 (-1 for a
// grey), chroma max - min, luma with the weights 0.30, 0.59 and 0.11.
struct Hcy {
    int32_t hue, chroma, luma;
};

inline Hcy ToHcy(const uint8_t* bgr) {
    const int32_t r = bgr[2], g = bgr[1], b = bgr[0];
    Hcy o;
    o.luma = (r * 4800 + g * 9440 + b * 1760) / 1000;
    const int32_t mx = std::max({r, g, b}), mn = std::min({r, g, b});
    o.chroma = 16 * (mx - mn);
    if (o.chroma == 0) {
        o.hue = -1;
    } else if (mx == r) {
        o.hue = (g - b) * 10880 / o.chroma;
        if (b > g) o.hue += 4080;
    } else if (mx == g) {
        o.hue = (b - r) * 10880 / o.chroma + 1360;
    } else {
        o.hue = (r - g) * 10880 / o.chroma + 2720;
    }
    return o;
}

// The sector's fully saturated colour of the chroma, shifted to the luma;
// components past 0 or 4080 pull all three toward the luma in proportion.
inline void FromHcy(int32_t hue, int32_t chroma, int32_t luma, uint8_t* bgr) {
    int32_t c[3] = {0, 0, 0}; // red, green, blue
    if (hue >= 0 && chroma > 0) {
        const int32_t up = chroma * (hue % 680) / 680, down = chroma - up;
        switch (hue / 680) {
        case 0:
            c[0] = chroma, c[1] = up;
            break;
        case 1:
            c[0] = down, c[1] = chroma;
            break;
        case 2:
            c[1] = chroma, c[2] = up;
            break;
        case 3:
            c[1] = down, c[2] = chroma;
            break;
        case 4:
            c[0] = up, c[2] = chroma;
            break;
        default:
            c[0] = chroma, c[2] = down;
            break;
        }
    }
    const int32_t shift = luma - (c[0] * 300 + c[1] * 590 + c[2] * 110) / 1000;
    for (int32_t& v : c)
        v += shift;
    const int32_t mn = std::min({c[0], c[1], c[2]});
    if (mn < 0)
        for (int32_t& v : c)
            v = luma + (v - luma) * luma / (luma - mn);
    const int32_t mx = std::max({c[0], c[1], c[2]});
    if (mx > 4080)
        for (int32_t& v : c)
            v = luma + (v - luma) * (4080 - luma) / (mx - luma);
    bgr[2] = static_cast<uint8_t>(std::clamp(c[0], 0, 4080) / 16);
    bgr[1] = static_cast<uint8_t>(std::clamp(c[1], 0, 4080) / 16);
    bgr[0] = static_cast<uint8_t>(std::clamp(c[2], 0, 4080) / 16);
}

template <int Mode> inline void HcyBlend(const uint8_t* d, const uint8_t* s, uint8_t* out) {
    const Hcy cd = ToHcy(d), cs = ToHcy(s);
    if constexpr (Mode == kBlendHue) FromHcy(cs.hue, cd.chroma, cd.luma, out);
    if constexpr (Mode == kBlendSaturation) FromHcy(cd.hue, cs.chroma, cd.luma, out);
    if constexpr (Mode == kBlendColor) FromHcy(cs.hue, cs.chroma, cd.luma, out);
    if constexpr (Mode == kBlendLuminosity) FromHcy(cd.hue, cd.chroma, cs.luma, out);
}

// ---- The row kernel ----

template <int Channels, int Mode> void BlendRow(const BlendRowArgs& a) {
    if constexpr (Mode == kBlendNormal) {
        // a = 255 everywhere: n = 255 and w = 65536, so the layer is copied.
        if (!a.mask && !a.ranges && a.opacity == 255) {
            std::memcpy(a.dst, a.src, size_t(a.count) * Channels);
            if (a.coverage && !a.keepCoverage) std::memset(a.coverage, 255, size_t(a.count));
            return;
        }
    }
    const Tables t = TablesNow();
    uint8_t* d = a.dst;
    const uint8_t* s = a.src;
    for (int32_t i = 0; i < a.count; ++i, d += Channels, s += Channels) {
        const uint32_t m = a.mask ? a.mask[i] : 255u;
        const uint32_t c = a.coverage ? a.coverage[i] : 255u;
        const uint32_t r = EffectiveOpacity<Channels>(a, t.mul, s, d, m, c);
        const uint32_t alpha = t.mul[m * r];
        if (alpha == 0) continue;
        const uint32_t n = c + t.mul[(255 - c) * alpha];
        const uint32_t w = t.div[alpha * 256 + n - 1];
        if (a.coverage && !a.keepCoverage) a.coverage[i] = static_cast<uint8_t>(n);
        if (Mode == kBlendNormal || c == 0) {
            for (int k = 0; k < Channels; ++k)
                d[k] = static_cast<uint8_t>(((65536 - w) * d[k] + w * s[k] + 32768) >> 16);
            continue;
        }
        // t: the blend value at the layer's opacity (dissolve takes it whole).
        uint32_t layered[Channels];
        if constexpr (IsHcyMode(Mode)) {
            uint8_t b[3];
            HcyBlend<Mode>(d, s, b);
            for (int k = 0; k < Channels; ++k)
                layered[k] = t.mul[d[k] * (255 - r) + b[k] * r];
        } else if constexpr (Mode == kBlendDissolve) {
            const bool take = t.noise[((a.layerY & 127) << 7) | ((a.layerX + i) & 127)] < r;
            for (int k = 0; k < Channels; ++k)
                layered[k] = take ? s[k] : d[k];
        } else {
            for (int k = 0; k < Channels; ++k)
                layered[k] = t.mul[d[k] * (255 - r) + BlendValue<Mode>(d[k], s[k], r, t) * r];
        }
        // A covered canvas makes X = t, an opaque mask Y = t (mul(t x 255) = t),
        // and both together the result t: the look-ups they save change nothing.
        if (c == 255 && m == 255) {
            for (int k = 0; k < Channels; ++k)
                d[k] = static_cast<uint8_t>(layered[k]);
            continue;
        }
        for (int k = 0; k < Channels; ++k) {
            const uint32_t x = c == 255 ? layered[k] : t.mul[layered[k] * c + s[k] * (255 - c)];
            const uint32_t y = m == 255 ? layered[k] : t.mul[d[k] * (255 - m) + layered[k] * m];
            d[k] = static_cast<uint8_t>((y * (65536 - w) + x * w + 32768) >> 16);
        }
    }
}

template <int Channels> BlendKernel KernelFor(int mode) {
    switch (mode) {
    case kBlendNormal:
        return BlendRow<Channels, kBlendNormal>;
    case kBlendDarken:
        return BlendRow<Channels, kBlendDarken>;
    case kBlendLighten:
        return BlendRow<Channels, kBlendLighten>;
    case kBlendHue:
        return BlendRow<Channels, kBlendHue>;
    case kBlendSaturation:
        return BlendRow<Channels, kBlendSaturation>;
    case kBlendColor:
        return BlendRow<Channels, kBlendColor>;
    case kBlendLuminosity:
        return BlendRow<Channels, kBlendLuminosity>;
    case kBlendMultiply:
        return BlendRow<Channels, kBlendMultiply>;
    case kBlendScreen:
        return BlendRow<Channels, kBlendScreen>;
    case kBlendDissolve:
        return BlendRow<Channels, kBlendDissolve>;
    case kBlendOverlay:
        return BlendRow<Channels, kBlendOverlay>;
    case kBlendHardLight:
        return BlendRow<Channels, kBlendHardLight>;
    case kBlendSoftLight:
        return BlendRow<Channels, kBlendSoftLight>;
    case kBlendDifference:
        return BlendRow<Channels, kBlendDifference>;
    case kBlendColorDodge:
        return BlendRow<Channels, kBlendColorDodge>;
    case kBlendColorBurn:
        return BlendRow<Channels, kBlendColorBurn>;
    case kBlendExclusion:
        return BlendRow<Channels, kBlendExclusion>;
    default:
        return nullptr;
    }
}

// ---- Placement ----

// The part of the layer that lands on the canvas, in both frames.
struct Span {
    int32_t canvasX = 0, canvasY = 0; // first canvas column and row
    int32_t layerX = 0, layerY = 0;   // the layer pixel that lands there
    int32_t width = 0, height = 0;    // 0 when nothing lands
};

Span Clip(int32_t canvasW, int32_t canvasH, int32_t layerW, int32_t layerH, const LayerRect& r) {
    const int64_t x0 = std::max<int64_t>(0, r.left),
                  x1 = std::min<int64_t>(canvasW, int64_t{r.left} + layerW);
    const int64_t y0 = std::max<int64_t>(0, r.top),
                  y1 = std::min<int64_t>(canvasH, int64_t{r.top} + layerH);
    Span s;
    if (x1 <= x0 || y1 <= y0) return s;
    s.canvasX = int32_t(x0), s.canvasY = int32_t(y0);
    s.layerX = int32_t(x0 - r.left), s.layerY = int32_t(y0 - r.top);
    s.width = int32_t(x1 - x0), s.height = int32_t(y1 - y0);
    return s;
}

// Palette canvases: pixel values are copied, where the mask is not 0; the
// canvas mask then takes the mask's level.
void CopyPaletteLayer(const DIBLock& canvas, const DIBLock* coverage, const DIBLock& layer,
                      const DIBLock* mask, const Span& sp) {
    const int bits = canvas.bitCount();
    for (int32_t j = 0; j < sp.height; ++j) {
        uint8_t* dst = DIBRowFromTop(canvas.header(), sp.canvasY + j);
        const uint8_t* src = DIBRowFromTop(layer.header(), sp.layerY + j);
        if (!mask && bits == 8) {
            std::memcpy(dst + sp.canvasX, src + sp.layerX, size_t(sp.width));
            continue;
        }
        const uint8_t* m =
            mask ? DIBRowFromTop(mask->header(), sp.layerY + j) + sp.layerX : nullptr;
        uint8_t* cov =
            coverage ? DIBRowFromTop(coverage->header(), sp.canvasY + j) + sp.canvasX : nullptr;
        for (int32_t x = 0; x < sp.width; ++x) {
            if (m && m[x] == 0) continue;
            codec::SetPixelIndex(dst, sp.canvasX + x, bits,
                                 codec::PixelIndex(src, sp.layerX + x, bits));
            if (m && cov) cov[x] = m[x];
        }
    }
}

bool IsMaskDIB(const DIBLock& d) {
    return d.bitCount() == 8 && Uncompressed(d);
}

} // namespace

uint16_t BuildBlendRanges(const uint8_t ranges[kBlendRangeBytes], BlendRangeTables* out) {
    if (!out) return 0;
    *out = BlendRangeTables{};
    if (!ranges) return 0;
    for (int ch = 0; ch < 5; ++ch) {
        const uint8_t* own = ranges + 8 * ch;
        const uint8_t* under = own + 4;
        out->layerNoCurve[ch] = LetsEverythingPass(own);
        out->canvasNoCurve[ch] = LetsEverythingPass(under);
        if (!out->layerNoCurve[ch]) {
            BuildCurve(own, out->layerCurve[ch]);
            ++out->count;
        }
        if (!out->canvasNoCurve[ch]) {
            BuildCurve(under, out->canvasCurve[ch]);
            ++out->count;
        }
    }
    return out->count;
}

BlendKernel SelectBlendKernel(int mode, int channels) {
    if (channels == 3) return KernelFor<3>(mode);
    if (channels == 1 && !IsHcyMode(mode)) return KernelFor<1>(mode);
    return nullptr;
}

KervErrorCode CompositeLayer(KHANDLE canvas, KHANDLE canvasMask, KHANDLE layer, KHANDLE layerMask,
                             uint8_t opacity, uint8_t mode, const LayerRect& rect,
                             bool keepCoverage, const BlendRangeTables* ranges) {
    if (!SourceGiven(canvas) || !SourceGiven(layer)) return KERV_INVALID_PARAM;
    if (!GetBlendTables().multiply) return KERV_INVALID_PARAM;
    int canvasBits = 0, layerBits = 0;
    int32_t canvasW = 0, canvasH = 0, layerW = 0, layerH = 0;
    {
        DIBLock c(canvas), l(layer);
        if (!c || !Uncompressed(c) || !l || !Uncompressed(l)) return KERV_INVALID_PARAM;
        canvasBits = c.bitCount(), canvasW = c.width(), canvasH = c.height();
        layerBits = l.bitCount(), layerW = l.width(), layerH = l.height();
    }
    if (canvasMask) {
        DIBLock m(canvasMask);
        if (!m || !IsMaskDIB(m) || m.width() != canvasW || m.height() != canvasH)
            return KERV_INVALID_PARAM;
    }
    if (layerMask) {
        DIBLock m(layerMask);
        if (!m || !IsMaskDIB(m)) return KERV_INVALID_PARAM;
        const bool sameSize = m.width() == layerW && m.height() == layerH;
        const bool canvasSized = layerW == canvasW && layerH == canvasH;
        if (!sameSize && !(canvasSized && m.width() >= layerW && m.height() >= layerH))
            return KERV_INVALID_PARAM;
    }
    const bool grey = canvasBits == 8 && IsDIBGreyScaled(canvas);
    const bool blends = grey || canvasBits == 24;
    if (!blends && layerBits != canvasBits) return KERV_INVALID_PARAM;

    const Span sp = Clip(canvasW, canvasH, layerW, layerH, rect);
    if (sp.width == 0) return KERV_OK;

    // The layer in the canvas's form; the source layer is never changed.
    KOwnedHandle converted;
    if (grey && layerBits != 8) {
        KHANDLE g = nullptr;
        if (KervErrorCode e = GreyscaleDIB(nullptr, layer, &g)) return e;
        converted.reset(g);
    } else if (canvasBits == 24 && layerBits != 24) {
        KHANDLE t = nullptr;
        if (KervErrorCode e = IncreaseDIBDepth(nullptr, layer, &t, 24)) return e;
        converted.reset(t);
    }

    DIBLock c(canvas), l(converted ? converted.get() : layer);
    if (!c || !l) return KERV_NO_MEMORY;
    DIBLock cm(canvasMask), lm(layerMask);
    if ((canvasMask && !cm) || (layerMask && !lm)) return KERV_NO_MEMORY;

    if (!blends) {
        CopyPaletteLayer(c, canvasMask ? &cm : nullptr, l, layerMask ? &lm : nullptr, sp);
        return KERV_OK;
    }

    const int channels = grey ? 1 : 3;
    BlendKernel kernel = SelectBlendKernel(mode, channels);
    if (!kernel) kernel = SelectBlendKernel(kBlendNormal, channels);
    BlendRowArgs args;
    args.count = sp.width;
    args.opacity = opacity;
    args.ranges = ranges && ranges->count > 0 ? ranges : nullptr;
    args.keepCoverage = keepCoverage;
    args.layerX = sp.layerX;
    for (int32_t j = 0; j < sp.height; ++j) {
        const int32_t cy = sp.canvasY + j, ly = sp.layerY + j;
        args.dst = DIBRowFromTop(c.header(), cy) + size_t(sp.canvasX) * channels;
        args.src = DIBRowFromTop(l.header(), ly) + size_t(sp.layerX) * channels;
        args.coverage = canvasMask ? DIBRowFromTop(cm.header(), cy) + sp.canvasX : nullptr;
        args.mask = layerMask ? DIBRowFromTop(lm.header(), ly) + sp.layerX : nullptr;
        args.layerY = ly;
        kernel(args);
    }
    return KERV_OK;
}
