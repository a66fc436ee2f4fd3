// What the deformations share: the depths they take, an output block that
// carries the source's header fields and palette, the background pixel, and
// the weighing of source rows into one line of sums.
#pragma once

#include "core/dib.h"

#include <cstring>

namespace deform {

// Pixel values are averaged directly: 24 bits by channel, 8 bits by index
// (meaningful for greyscale). Other depths are refused.
inline bool DepthDeformable(const DIBLock& d) {
    return d.bitCount() == 8 || d.bitCount() == 24;
}

// A zero-filled block of width x height at the source's depth, with the
// source's resolution, palette entry count and palette. Null when out of
// memory (or when the size cannot be described).
inline KHANDLE AllocLike(const DIBLock& src, int32_t width, int32_t height) {
    KOwnedHandle out(AllocDIB(width, height, src.bitCount(), src->biClrUsed));
    if (!out) return nullptr;
    DIBLock dst(out.get());
    if (!dst) return nullptr;
    const uint32_t sizeImage = dst->biSizeImage;
    std::memcpy(dst.header(), src.header(), sizeof(BITMAPINFOHEADER));
    dst->biWidth = width;
    dst->biHeight = height;
    dst->biSizeImage = sizeImage;
    std::memcpy(dst.palette(), src.palette(), DIBPaletteBytes(src.header()));
    return out.release();
}

// The background as the bytes of one pixel: blue, green, red at 24 bits;
// the red byte as the pixel value at 8 bits.
struct Background {
    uint8_t bytes[3];
    Background(int bits, uint8_t red, uint8_t green, uint8_t blue)
        : bytes{bits == 24 ? blue : red, green, red} {}
};

// `count` background pixels of C bytes, `step` bytes apart.
template <int C>
inline void FillBackground(uint8_t* p, int64_t count, ptrdiff_t step, const Background& bg) {
    for (int64_t i = 0; i < count; ++i, p += step)
        std::memcpy(p, bg.bytes, C);
}

// f(i) for i in [0, n): blocks of 16 with a fixed trip count, which the
// compiler turns into vector code at -O2, then the tail.
template <class F> inline void ForEachBlocked(size_t n, F f) {
    size_t i = 0;
    for (; i + 16 <= n; i += 16)
        for (size_t k = 0; k < 16; ++k)
            f(i + k);
    for (; i < n; ++i)
        f(i);
}

// line[j] = sum over k < count of weights[k] x byte j of stored row
// first + k, for the first n bytes of the rows. Shares of at most 100 keep
// a sum of shares adding up to 100 within 16 bits (255 x 100).
inline void WeighRows(const DIBLock& src, int64_t first, int32_t count, const uint8_t* weights,
                      size_t n, uint16_t* __restrict line) {
    const uint8_t* __restrict row0 = src.row(int32_t(first));
    const auto w0 = static_cast<uint16_t>(weights[0]);
    ForEachBlocked(n, [&](size_t j) { line[j] = static_cast<uint16_t>(w0 * row0[j]); });
    for (int32_t k = 1; k < count; ++k) {
        const uint8_t* __restrict row = src.row(int32_t(first + k));
        const auto w = static_cast<uint16_t>(weights[k]);
        ForEachBlocked(n, [&](size_t j) { line[j] = static_cast<uint16_t>(line[j] + w * row[j]); });
    }
}

} // namespace deform
