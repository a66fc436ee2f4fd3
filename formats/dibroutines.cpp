#include "formats/dibroutines.h"

#include "formats/codec.h"
#include "formats/codec_util.h"
#include "imaging/dither.h"

#include <algorithm>
#include <vector>

using codec::PixelColor;
using codec::PixelIndex;
using codec::SetPixelIndex;

namespace {

constexpr uint8_t kBayer8[8][8] = {
    {0, 48, 12, 60, 3, 51, 15, 63}, {32, 16, 44, 28, 35, 19, 47, 31},
    {8, 56, 4, 52, 11, 59, 7, 55},  {40, 24, 36, 20, 43, 27, 39, 23},
    {2, 50, 14, 62, 1, 49, 13, 61}, {34, 18, 46, 30, 33, 17, 45, 29},
    {10, 58, 6, 54, 9, 57, 5, 53},  {42, 26, 38, 22, 41, 25, 37, 21}};

inline uint8_t Grey(const uint8_t bgr[3]) {
    return uint8_t((299 * bgr[2] + 587 * bgr[1] + 114 * bgr[0] + 500) / 1000);
}

// Locks the source and checks it; the shared first step of every routine.
struct Source {
    explicit Source(KHANDLE h) : lock(h) {
        ok = lock && IsUsableDIB(lock.header(), KML_GlobalSize(h));
    }
    DIBLock lock;
    bool ok = false;
};

// A result DIB with the source's header fields (resolution, important
// colours) and the given size, depth and palette entry count.
KHANDLE NewLike(const BITMAPINFOHEADER* src, int32_t w, int32_t h, int bits, uint32_t colours) {
    KHANDLE r = AllocDIB(w, h, bits, colours);
    if (!r) return nullptr;
    DIBLock d(r);
    if (!d) {
        KML_GlobalFree(r);
        return nullptr;
    }
    d->biXPelsPerMeter = src->biXPelsPerMeter;
    d->biYPelsPerMeter = src->biYPelsPerMeter;
    return r;
}

}  // namespace

KervErrorCode ResizeDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int width,
                        int height) {
    if (!result) return KERV_INVALID_PARAM;
    *result = nullptr;
    if (!source || width < 1 || height < 1) return KERV_INVALID_PARAM;
    Source s(source);
    if (!s.ok) return KERV_INVALID_PARAM;
    const BITMAPINFOHEADER* sh = s.lock.header();
    const int bits = sh->biBitCount;
    const uint32_t colours = bits <= 8 ? DIBPaletteEntries(sh) : 0;
    KOwnedHandle out(NewLike(sh, width, height, bits, colours));
    if (!out) return KERV_NO_MEMORY;
    DIBLock d(out.get());
    if (!d) return KERV_NO_MEMORY;
    std::copy_n(DIBPalette(sh), colours, d.palette());
    d->biClrImportant = sh->biClrImportant;
    const int32_t sw = sh->biWidth, shh = sh->biHeight;
    std::vector<int32_t> xmap(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) xmap[x] = int32_t((uint64_t(2 * x + 1) * sw) / (2 * uint64_t(width)));
    ProgressReporter p(status);
    p.begin(height);
    for (int y = 0; y < height; ++y) {
        if (p.step(y)) return KERV_STOPPED;
        const int32_t sy = int32_t((uint64_t(2 * y + 1) * shh) / (2 * uint64_t(height)));
        const uint8_t* src = DIBRowFromTop(sh, sy);
        uint8_t* dst = DIBRowFromTop(d.header(), y);
        if (bits == 24) {
            for (int x = 0; x < width; ++x) std::copy_n(src + 3 * xmap[x], 3, dst + 3 * x);
        } else if (bits == 8) {
            for (int x = 0; x < width; ++x) dst[x] = src[xmap[x]];
        } else {
            for (int x = 0; x < width; ++x) SetPixelIndex(dst, x, bits, PixelIndex(src, xmap[x], bits));
        }
    }
    p.end();
    *result = out.release();
    return KERV_OK;
}

KervErrorCode InvertDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result) {
    if (!result) return KERV_INVALID_PARAM;
    *result = nullptr;
    if (!source) return KERV_INVALID_PARAM;
    {
        Source s(source);
        if (!s.ok) return KERV_INVALID_PARAM;
    }
    KHANDLE copy = nullptr;
    if (KervErrorCode e = CopyDIB(source, &copy)) return e;
    KOwnedHandle out(copy);
    DIBLock d(out.get());
    if (!d) return KERV_NO_MEMORY;
    ProgressReporter p(status);
    // A greyscale image keeps its grey ramp: inverting the ramp would leave
    // a palette image that no longer counts as greyscale, and the filters
    // that need greyscale would then refuse it.
    const bool greyRamp = d.bitCount() == 8 && IsPaletteKervGreyScale(d.header());
    if (greyRamp) {
        p.begin(d.height());
        const auto width = uint32_t(d.width());
        for (int32_t r = 0; r < d.height(); ++r) {
            if (p.step(r)) return KERV_STOPPED;
            uint8_t* row = d.row(r);
            for (uint32_t i = 0; i < width; ++i) row[i] = uint8_t(255 - row[i]);
        }
    } else if (d.bitCount() <= 8) {
        const uint32_t n = DIBPaletteEntries(d.header());
        p.begin(int32_t(n));
        RGBQUAD* pal = d.palette();
        for (uint32_t i = 0; i < n; ++i) {
            if (p.step(int32_t(i))) return KERV_STOPPED;
            pal[i].rgbBlue = uint8_t(255 - pal[i].rgbBlue);
            pal[i].rgbGreen = uint8_t(255 - pal[i].rgbGreen);
            pal[i].rgbRed = uint8_t(255 - pal[i].rgbRed);
        }
    } else {
        p.begin(d.height());
        const uint32_t bytes = uint32_t(d.width()) * 3;
        for (int32_t r = 0; r < d.height(); ++r) {
            if (p.step(r)) return KERV_STOPPED;
            uint8_t* row = d.row(r);
            for (uint32_t i = 0; i < bytes; ++i) row[i] = uint8_t(255 - row[i]);
        }
    }
    p.end();
    *result = out.release();
    return KERV_OK;
}

KervErrorCode OrderedDither2(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                             uint8_t component) {
    if (!result) return KERV_INVALID_PARAM;
    *result = nullptr;
    if (!source || component > 3) return KERV_INVALID_PARAM;
    Source s(source);
    if (!s.ok) return KERV_INVALID_PARAM;
    const BITMAPINFOHEADER* sh = s.lock.header();
    const int32_t w = sh->biWidth, h = sh->biHeight;
    KOwnedHandle out(NewLike(sh, w, h, 1, 2));
    if (!out) return KERV_NO_MEMORY;
    DIBLock d(out.get());
    if (!d) return KERV_NO_MEMORY;
    d.palette()[0] = {0, 0, 0, 0};
    d.palette()[1] = {255, 255, 255, 0};
    const int bits = sh->biBitCount;
    const uint32_t n = bits <= 8 ? DIBPaletteEntries(sh) : 0;
    const RGBQUAD* pal = DIBPalette(sh);
    ProgressReporter p(status);
    p.begin(h);
    for (int32_t y = 0; y < h; ++y) {
        if (p.step(y)) return KERV_STOPPED;
        const uint8_t* src = DIBRowFromTop(sh, y);
        uint8_t* dst = DIBRowFromTop(d.header(), y);
        for (int32_t x = 0; x < w; ++x) {
            uint8_t bgr[3];
            PixelColor(src, x, bits, pal, n, bgr);
            const int v = component == 0 ? Grey(bgr) : component == 1 ? bgr[2] : component == 2 ? bgr[1] : bgr[0];
            // Thresholds 2..254 in steps of 4: 0 stays black, 255 white.
            const int t = kBayer8[y & 7][x & 7] * 4 + 2;
            SetPixelIndex(dst, x, 1, v >= t ? 1 : 0);
        }
    }
    p.end();
    *result = out.release();
    return KERV_OK;
}

KervErrorCode IncreaseDIBDepth(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                               int bitCount) {
    if (!result) return KERV_INVALID_PARAM;
    *result = nullptr;
    if (!source || (bitCount != 8 && bitCount != 24)) return KERV_INVALID_PARAM;
    Source s(source);
    if (!s.ok) return KERV_INVALID_PARAM;
    const BITMAPINFOHEADER* sh = s.lock.header();
    const int bits = sh->biBitCount;
    if (bits >= bitCount) return KERV_INVALID_PARAM;
    const int32_t w = sh->biWidth, h = sh->biHeight;
    const uint32_t n = DIBPaletteEntries(sh);
    const uint32_t outColours = bitCount == 8 ? 256 : 0;
    KOwnedHandle out(NewLike(sh, w, h, bitCount, outColours));
    if (!out) return KERV_NO_MEMORY;
    DIBLock d(out.get());
    if (!d) return KERV_NO_MEMORY;
    const RGBQUAD* pal = DIBPalette(sh);
    if (bitCount == 8) {
        std::copy_n(pal, std::min<uint32_t>(n, 256), d.palette());
        d->biClrImportant = std::min<uint32_t>(n, 256);
    }
    ProgressReporter p(status);
    p.begin(h);
    for (int32_t r = 0; r < h; ++r) {
        if (p.step(r)) return KERV_STOPPED;
        const uint8_t* src = s.lock.row(r);
        uint8_t* dst = d.row(r);
        for (int32_t x = 0; x < w; ++x) {
            if (bitCount == 8) {
                dst[x] = uint8_t(std::min<uint32_t>(PixelIndex(src, x, bits), n ? n - 1 : 0));
            } else {
                PixelColor(src, x, bits, pal, n, dst + 3 * x);
            }
        }
    }
    p.end();
    *result = out.release();
    return KERV_OK;
}

KervErrorCode ConvertToGreyScale(StatusControlBlock* status, KHANDLE source, KHANDLE* result) {
    if (!result) return KERV_INVALID_PARAM;
    *result = nullptr;
    if (!source) return KERV_INVALID_PARAM;
    Source s(source);
    if (!s.ok) return KERV_INVALID_PARAM;
    const BITMAPINFOHEADER* sh = s.lock.header();
    const int32_t w = sh->biWidth, h = sh->biHeight;
    KOwnedHandle out(NewLike(sh, w, h, 8, 256));
    if (!out) return KERV_NO_MEMORY;
    DIBLock d(out.get());
    if (!d) return KERV_NO_MEMORY;
    for (int i = 0; i < 256; ++i) d.palette()[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    const int bits = sh->biBitCount;
    const uint32_t n = bits <= 8 ? DIBPaletteEntries(sh) : 0;
    const RGBQUAD* pal = DIBPalette(sh);
    ProgressReporter p(status);
    p.begin(h);
    for (int32_t r = 0; r < h; ++r) {
        if (p.step(r)) return KERV_STOPPED;
        const uint8_t* src = s.lock.row(r);
        uint8_t* dst = d.row(r);
        for (int32_t x = 0; x < w; ++x) {
            uint8_t bgr[3];
            PixelColor(src, x, bits, pal, n, bgr);
            dst[x] = Grey(bgr);
        }
    }
    p.end();
    *result = out.release();
    return KERV_OK;
}

bool HasGreyPalette(KHANDLE dib) {
    DIBLock d(dib);
    if (!d || d.bitCount() > 8) return false;
    const RGBQUAD* pal = d.palette();
    const uint32_t n = DIBPaletteEntries(d.header());
    for (uint32_t i = 0; i < n; ++i)
        if (pal[i].rgbRed != pal[i].rgbGreen || pal[i].rgbGreen != pal[i].rgbBlue) return false;
    return n > 0;
}

namespace {

// A true-colour image for a 256-colour format: its own median-cut palette,
// with full error diffusion.
KervErrorCode To256Colors(StatusControlBlock* status, KHANDLE source, KHANDLE* result) {
    enum { kErrorDiffusion = 2 };
    return OptimizedDitherDIB(status, source, result, 256, kErrorDiffusion, 8, false, 100);
}

}  // namespace

KervErrorCode ConvertForEncoder(StatusControlBlock* status, KHANDLE source, int libraryValue,
                                const FormatOptions& options, KHANDLE* result) {
    if (!result) return KERV_INVALID_PARAM;
    *result = nullptr;
    int bits = 0;
    {
        Source s(source);
        if (!s.ok) return KERV_INVALID_PARAM;
        bits = s.lock.bitCount();
    }
    const bool grey = IsDIBGreyScaled(source);
    switch (libraryValue) {
    case 10:  // GIF stores at most 256 colours
        return bits == 24 ? To256Colors(status, source, result) : KERV_OK;
    case 17:  // JPEG: true colour or grey
        if (bits == 24 || grey) return KERV_OK;
        if (HasGreyPalette(source)) return ConvertToGreyScale(status, source, result);
        return IncreaseDIBDepth(status, source, result, 24);
    case 22:  // PBM: two colours
        return bits == 1 ? KERV_OK : OrderedDither2(status, source, result, 0);
    case 24:  // PCX version 0 is monochrome only
        if (options.variant == 80 && bits != 1) return OrderedDither2(status, source, result, 0);
        return KERV_OK;
    case 35:  // TGA: the depth the sub-type names
        if (options.depth == 8) {
            if (bits == 24) return To256Colors(status, source, result);
            if (bits < 8) return IncreaseDIBDepth(status, source, result, 8);
        }
        return KERV_OK;
    case 36:  // TIFF: fax codings are 1-bit, CMYK needs true colour
        if ((options.compression == 3 || options.compression == 5) && bits != 1)
            return OrderedDither2(status, source, result, 0);
        if (options.planes == 2 && bits != 24) return IncreaseDIBDepth(status, source, result, 24);
        return KERV_OK;
    default: return KERV_OK;
    }
}
