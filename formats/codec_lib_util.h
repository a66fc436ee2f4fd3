// Small helpers shared by the wrappers around libpng, libjpeg, libtiff and
// giflib: resolution conversions, palette tests and row unpacking.
//
// Everything here is plain arithmetic on memory the caller owns: nothing
// allocates, nothing fails, so the helpers are safe to call between a
// setjmp and a library call that may longjmp.
#pragma once

#include "core/dib.h"
#include "formats/codec.h"

#include <cmath>
#include <cstdint>
#include <cstring>


namespace brellix::codec {

inline constexpr double kMetresPerInch = 0.0254;

// Pixels per metre for a resolution and its unit (0 for unknown or none).
inline int32_t PelsPerMetre(double value, int32_t unit) {
    if (!(value > 0.0) || !std::isfinite(value)) return 0;
    double ppm = 0.0;
    if (unit == 1)
        ppm = value / kMetresPerInch;
    else if (unit == 2)
        ppm = value * 100.0;
    else
        return 0;
    if (ppm >= 2147483647.0) return 0;
    return static_cast<int32_t>(ppm + 0.5);
}

// Records what a file says about its resolution, in the DIB and in the
// attributes that travel with it.
inline void StoreResolution(BITMAPINFOHEADER* h, SGraphicAttributes* attr, double x, double y,
                            int32_t unit) {
    if (!(x > 0.0) || !std::isfinite(x) || (unit != 1 && unit != 2)) return;
    if (!(y > 0.0) || !std::isfinite(y)) y = x;
    h->biXPelsPerMeter = PelsPerMetre(x, unit);
    h->biYPelsPerMeter = PelsPerMetre(y, unit);
    attr->resolution = x;
    attr->resolutionUnit = unit;
}

// Dots per inch from pixels per metre, snapped to a whole number when the
// metric value came from one (300 dpi is stored as 11811 pixels per metre).
inline double DpiFromPelsPerMetre(double ppm) {
    const double dpi = ppm * kMetresPerInch;
    const double rounded = std::floor(dpi + 0.5);
    return std::fabs(dpi - rounded) < 0.01 ? rounded : dpi;
}

// The resolution an encoder writes: the one the caller gave, else the DIB's
// own (as dots per inch). False when neither is known.
struct Resolution {
    double value = 0.0;
    int32_t unit = 0; // 1 per inch, 2 per centimetre
};
inline bool ResolutionToWrite(const EncodeRequest& req, const BITMAPINFOHEADER* h, Resolution* r) {
    if (req.info) {
        const SGraphicAttributes& a = req.info->attributes;
        if ((a.resolutionUnit == 1 || a.resolutionUnit == 2) && a.resolution > 0.0 &&
            std::isfinite(a.resolution)) {
            r->value = a.resolution;
            r->unit = a.resolutionUnit;
            return true;
        }
    }
    if (h->biXPelsPerMeter > 0) {
        r->value = DpiFromPelsPerMetre(h->biXPelsPerMeter);
        r->unit = 1;
        return true;
    }
    return false;
}

inline uint16_t TransparentIndexToWrite(const EncodeRequest& req, uint32_t entries) {
    if (!req.info) return KERV_NO_TRANSPARENCY;
    const uint16_t t = req.info->transparentIndex;
    return t < entries ? t : KERV_NO_TRANSPARENCY;
}

// Palette entries a DIB carries, at most 2^bits.
inline uint32_t UsablePaletteEntries(const BITMAPINFOHEADER* h) {
    if (h->biBitCount > 8) return 0;
    const uint32_t n = DIBPaletteEntries(h);
    const uint32_t cap = 1u << h->biBitCount;
    return n < cap ? n : cap;
}

// True when the palette holds exactly the evenly spaced grey ramp of its
// depth (black first), so the image can be stored as plain grey levels.
inline bool IsGreyRamp(const RGBQUAD* pal, uint32_t entries, int bits) {
    if (bits > 8 || entries != (1u << bits)) return false;
    const uint32_t step = 255 / (entries - 1);
    for (uint32_t i = 0; i < entries; ++i) {
        const uint32_t v = i * step;
        if (pal[i].rgbRed != v || pal[i].rgbGreen != v || pal[i].rgbBlue != v) return false;
    }
    return true;
}

// True when every entry is a grey (red = green = blue).
inline bool IsAllGrey(const RGBQUAD* pal, uint32_t entries) {
    for (uint32_t i = 0; i < entries; ++i)
        if (pal[i].rgbRed != pal[i].rgbGreen || pal[i].rgbGreen != pal[i].rgbBlue) return false;
    return true;
}

// Highest palette index the pixels use, + 1 (1 for an image of index 0 only).
inline uint32_t IndicesUsed(const BITMAPINFOHEADER* h) {
    const int bits = h->biBitCount;
    if (bits > 8) return 0;
    const uint32_t w = static_cast<uint32_t>(h->biWidth);
    const uint8_t* bitsPtr = DIBBits(h);
    const uint32_t stride = DIBStride(h);
    uint32_t maxIndex = 0;
    const uint32_t cap = (1u << bits) - 1;
    for (int32_t y = 0; y < h->biHeight && maxIndex < cap; ++y) {
        const uint8_t* row = bitsPtr + size_t(y) * stride;
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t v;
            if (bits == 8)
                v = row[x];
            else if (bits == 4)
                v = (x & 1) ? row[x >> 1] & 15u : row[x >> 1] >> 4;
            else
                v = (row[x >> 3] >> (7 - (x & 7))) & 1u;
            if (v > maxIndex) maxIndex = v;
        }
    }
    return maxIndex + 1;
}

// One palette row (1, 4 or 8 bits) to one index byte a pixel.
inline void UnpackRowTo8(const uint8_t* src, int bits, uint32_t width, uint8_t* dst) {
    switch (bits) {
    case 8:
        std::memcpy(dst, src, width);
        break;
    case 4:
        for (uint32_t x = 0; x < width; ++x)
            dst[x] = (x & 1) ? src[x >> 1] & 15 : src[x >> 1] >> 4;
        break;
    default:
        for (uint32_t x = 0; x < width; ++x)
            dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
        break;
    }
}

// One palette row to blue, green, red bytes.
inline void PaletteRowToBGR(const uint8_t* src, int bits, uint32_t width, const RGBQUAD* pal,
                            uint32_t entries, uint8_t* dst) {
    for (uint32_t x = 0; x < width; ++x) {
        uint32_t v;
        if (bits == 8)
            v = src[x];
        else if (bits == 4)
            v = (x & 1) ? src[x >> 1] & 15u : src[x >> 1] >> 4;
        else
            v = (src[x >> 3] >> (7 - (x & 7))) & 1u;
        if (v >= entries) v = 0;
        dst[3 * x] = pal[v].rgbBlue;
        dst[3 * x + 1] = pal[v].rgbGreen;
        dst[3 * x + 2] = pal[v].rgbRed;
    }
}

// Packs index bytes (each below 2^bits) into a 1, 4 or 8-bit row.
inline void PackRowFrom8(const uint8_t* src, int bits, uint32_t width, uint8_t* dst) {
    switch (bits) {
    case 8:
        std::memcpy(dst, src, width);
        break;
    case 4:
        for (uint32_t x = 0; x + 1 < width; x += 2)
            dst[x >> 1] = static_cast<uint8_t>((src[x] << 4) | (src[x + 1] & 15));
        if (width & 1) dst[width >> 1] = static_cast<uint8_t>(src[width - 1] << 4);
        break;
    default:
        for (uint32_t x = 0; x < width; x += 8) {
            uint8_t b = 0;
            for (uint32_t k = 0; k < 8 && x + k < width; ++k)
                b = static_cast<uint8_t>(b | ((src[x + k] & 1) << (7 - k)));
            dst[x >> 3] = b;
        }
        break;
    }
}

// 2-bit samples (4 to a byte, first in the high bits) to 4-bit nibbles.
inline void Expand2To4(const uint8_t* src, uint32_t width, uint8_t* dst) {
    for (uint32_t x = 0; x < width; x += 2) {
        const uint32_t a = (src[x >> 2] >> (6 - 2 * (x & 3))) & 3u;
        const uint32_t b = x + 1 < width ? (src[(x + 1) >> 2] >> (6 - 2 * ((x + 1) & 3))) & 3u : 0;
        dst[x >> 1] = static_cast<uint8_t>((a << 4) | b);
    }
}

// a over white, for an 8-bit colour value and alpha, rounded.
inline uint8_t OverWhite(uint32_t c, uint32_t a) {
    return static_cast<uint8_t>((c * a + 255u * (255u - a) + 127u) / 255u);
}

// The evenly spaced grey ramp of `levels` entries (black first).
inline void FillGreyRamp(RGBQUAD* pal, uint32_t levels) {
    const uint32_t step = levels > 1 ? 255 / (levels - 1) : 0;
    for (uint32_t i = 0; i < levels; ++i) {
        const uint8_t v = static_cast<uint8_t>(i * step);
        pal[i] = RGBQUAD{v, v, v, 0};
    }
}

} // namespace brellix::codec
