// Rotate, flip and mirror.
//
// Everything works on the rows as stored (row 0 at the bottom). The exact
// quarter turns move pixels in square tiles so that both the rows read and
// the rows written stay in the first-level cache; the free turn walks every
// output pixel back into the source through fixed-point tables (10
// fractional bits) and blends its four neighbours.
#include "imaging/rotate.h"

#include "imaging/checks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// ---- Checks: one line per rule ----

using namespace imaging_checks;
bool DirectionKnown(uint8_t direction) { return direction <= 1; }

// ---- Row primitives ----

inline uint8_t Packed(const uint8_t* row, int64_t x, int bits) {
    switch (bits) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4;
    default: return row[x];
    }
}

// Into a zero-filled row only: bits are or-ed in.
inline void OrPacked(uint8_t* row, int64_t x, int bits, uint8_t v) {
    switch (bits) {
    case 1: row[x >> 3] = static_cast<uint8_t>(row[x >> 3] | (v << (7 - (x & 7)))); break;
    case 4: row[x >> 1] = static_cast<uint8_t>(row[x >> 1] | ((x & 1) ? v : v << 4)); break;
    default: row[x] = v;
    }
}

void UnpackRow(const uint8_t* row, int32_t width, int bits, uint8_t* out) {
    for (int32_t x = 0; x < width; ++x) out[x] = Packed(row, x, bits);
}

// The whole row is rewritten, padding bits included (as zero).
void PackRow(const uint8_t* in, int32_t width, int bits, uint8_t* row) {
    if (bits == 1) {
        for (int32_t x = 0; x < width; x += 8) {
            uint8_t b = 0;
            const int32_t n = std::min<int32_t>(8, width - x);
            for (int32_t k = 0; k < n; ++k) b = static_cast<uint8_t>(b | ((in[x + k] & 1) << (7 - k)));
            row[x >> 3] = b;
        }
    } else {  // 4 bits
        for (int32_t x = 0; x < width; x += 2) {
            const uint8_t lo = x + 1 < width ? (in[x + 1] & 15) : 0;
            row[x >> 1] = static_cast<uint8_t>(((in[x] & 15) << 4) | lo);
        }
    }
}

// Reversed rows (mirror, and the half-turn). dst and src never overlap.

// Pixels [x, width) one at a time.
void ReverseTail24(const uint8_t* src, uint8_t* dst, int32_t width, int32_t x) {
    for (; x < width; ++x) std::memcpy(dst + 3 * size_t(x), src + 3 * size_t(width - 1 - x), 3);
}

#if defined(__x86_64__) || defined(__i386__)
// Five pixels per 16-byte shuffle. The load starts one byte early (the last
// byte of the pixel before) so it never reads past the row; the store's
// sixteenth byte is overwritten by the next store or the tail.
__attribute__((target("ssse3"))) void ReverseRow24Ssse3(const uint8_t* src, uint8_t* dst, int32_t width) {
    const __m128i order = _mm_setr_epi8(13, 14, 15, 10, 11, 12, 7, 8, 9, 4, 5, 6, 1, 2, 3, 0);
    int32_t x = 0;
    for (; x + 6 <= width; x += 5) {
        const uint8_t* s = src + 3 * size_t(width - 5 - x) - 1;
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * size_t(x)), _mm_shuffle_epi8(v, order));
    }
    ReverseTail24(src, dst, width, x);
}
#endif

void ReverseRow24(const uint8_t* src, uint8_t* dst, int32_t width) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) return ReverseRow24Ssse3(src, dst, width);
#endif
    ReverseTail24(src, dst, width, 0);
}

void ReverseRow8(const uint8_t* src, uint8_t* dst, int32_t width) {
    int32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        uint64_t v;
        std::memcpy(&v, src + width - x - 8, 8);
        v = __builtin_bswap64(v);
        std::memcpy(dst + x, &v, 8);
    }
    for (; x < width; ++x) dst[x] = src[width - 1 - x];
}

void ReverseRow4(const uint8_t* src, uint8_t* dst, int32_t width) {
    const int32_t bytes = (width + 1) / 2;
    if (width % 2 == 0) {
        // Whole bytes swap places, and the two nibbles of each swap too.
        int32_t j = 0;
        for (; j + 8 <= bytes; j += 8) {
            uint64_t v;
            std::memcpy(&v, src + bytes - j - 8, 8);
            v = __builtin_bswap64(v);
            v = ((v >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((v << 4) & 0xF0F0F0F0F0F0F0F0ull);
            std::memcpy(dst + j, &v, 8);
        }
        for (; j < bytes; ++j) {
            const uint8_t b = src[bytes - 1 - j];
            dst[j] = static_cast<uint8_t>((b >> 4) | (b << 4));
        }
    } else {
        // Odd width: the last pixel sits in a high nibble, so every pixel
        // moves by half a byte.
        for (int32_t j = 0; j < bytes; ++j) {
            const int32_t k = bytes - 1 - j;
            const uint8_t lo = k > 0 ? (src[k - 1] & 0x0F) : 0;
            dst[j] = static_cast<uint8_t>((src[k] & 0xF0) | lo);
        }
    }
}

// 1 bit: through a byte-per-pixel scratch row of `width` bytes.
void ReverseRow1(const uint8_t* src, uint8_t* dst, int32_t width, uint8_t* scratch) {
    UnpackRow(src, width, 1, scratch);
    std::reverse(scratch, scratch + width);
    PackRow(scratch, width, 1, dst);
}

void ReverseRow(const uint8_t* src, uint8_t* dst, int32_t width, int bits, uint8_t* scratch) {
    switch (bits) {
    case 24: ReverseRow24(src, dst, width); break;
    case 8: ReverseRow8(src, dst, width); break;
    case 4: ReverseRow4(src, dst, width); break;
    default: ReverseRow1(src, dst, width, scratch); break;
    }
}

// ---- Output blocks ----

// A DIB of the given size with the source's header (size fields replaced)
// and palette. Null when memory is short.
KHANDLE NewLikeSource(const DIBLock& src, int32_t width, int32_t height) {
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

// ---- Exact quarter and half turns ----

// A strip is the run of progress units done at once; tiles cut it into
// pieces whose source and output rows stay in the cache.
constexpr int32_t kStrip = 256, kTile = 32;

// Output pixel (row r, column c) = *(origin + r * colStep + c * rowStep):
// each output row is one source column, walked with a signed step.
struct Transpose {
    uint8_t* dst;
    size_t dstStride;
    const uint8_t* origin;
    ptrdiff_t colStep, rowStep;
};

template <int BPP>
void TransposeTile(const Transpose& t, int32_t r0, int32_t r1, int32_t c0, int32_t c1) {
    for (int32_t r = r0; r < r1; ++r) {
        uint8_t* d = t.dst + size_t(r) * t.dstStride;
        const uint8_t* s = t.origin + ptrdiff_t(r) * t.colStep;
        for (int32_t c = c0; c < c1; ++c) std::memcpy(d + size_t(c) * BPP, s + ptrdiff_t(c) * t.rowStep, BPP);
    }
}

template <int BPP>
void TransposeRows(const Transpose& t, int32_t r0, int32_t r1, int32_t width) {
    for (int32_t c = 0; c < width; c += kTile) TransposeTile<BPP>(t, r0, r1, c, std::min(width, c + kTile));
}
template <int BPP>
void TransposeColumns(const Transpose& t, int32_t c0, int32_t c1, int32_t height) {
    for (int32_t r = 0; r < height; r += kTile) TransposeTile<BPP>(t, r, std::min(height, r + kTile), c0, c1);
}

// Reports units [u0, u1) at once, before a strip covering them is done.
bool StepStrip(ProgressReporter& p, int32_t u0, int32_t u1) {
    for (int32_t u = u0; u < u1; ++u)
        if (p.step(u)) return true;
    return false;
}

// 90 clockwise, whole-byte depths. Progress: source columns, left to right;
// source column x is output row x from the top.
template <int BPP>
bool Quarter90Bytes(ProgressReporter& p, const DIBLock& src, const DIBLock& dst) {
    const int32_t W = src.width(), H = src.height();
    const Transpose t{dst.bits(), dst.stride(), src.bits() + size_t(W - 1) * BPP, -BPP,
                      static_cast<ptrdiff_t>(src.stride())};
    for (int32_t x0 = 0; x0 < W; x0 += kStrip) {
        const int32_t x1 = std::min(W, x0 + kStrip);
        if (StepStrip(p, x0, x1)) return false;
        TransposeRows<BPP>(t, W - x1, W - x0, H);  // stored rows W-1-x
    }
    return true;
}

// 270 clockwise, whole-byte depths. Progress: source rows, top to bottom;
// source row y is output column y.
template <int BPP>
bool Quarter270Bytes(ProgressReporter& p, const DIBLock& src, const DIBLock& dst) {
    const int32_t W = src.width(), H = src.height();
    const ptrdiff_t stride = static_cast<ptrdiff_t>(src.stride());
    const Transpose t{dst.bits(), dst.stride(), src.bits() + size_t(H - 1) * stride, BPP, -stride};
    for (int32_t y0 = 0; y0 < H; y0 += kStrip) {
        const int32_t y1 = std::min(H, y0 + kStrip);
        if (StepStrip(p, y0, y1)) return false;
        TransposeColumns<BPP>(t, y0, y1, W);
    }
    return true;
}

// 90 clockwise, 1 and 4 bits: each output row is gathered from one source
// column into the scratch row, then packed.
bool Quarter90Packed(ProgressReporter& p, const DIBLock& src, const DIBLock& dst, uint8_t* scratch) {
    const int32_t W = src.width(), H = src.height();
    const int bits = src.bitCount();
    for (int32_t x = 0; x < W; ++x) {
        if (p.step(x)) return false;
        for (int32_t r = 0; r < H; ++r) scratch[r] = Packed(src.row(r), x, bits);
        PackRow(scratch, H, bits, dst.row(W - 1 - x));
    }
    return true;
}

// 270 clockwise, 1 and 4 bits: each source row is unpacked into the scratch
// row and scattered down one output column.
bool Quarter270Packed(ProgressReporter& p, const DIBLock& src, const DIBLock& dst, uint8_t* scratch) {
    const int32_t W = src.width(), H = src.height();
    const int bits = src.bitCount();
    for (int32_t y = 0; y < H; ++y) {
        if (p.step(y)) return false;
        UnpackRow(src.row(H - 1 - y), W, bits, scratch);
        for (int32_t x = 0; x < W; ++x) OrPacked(dst.row(x), y, bits, scratch[x]);
    }
    return true;
}

// 180: stored row r becomes stored row H-1-r, reversed. Progress: source
// rows from the top.
bool Half(ProgressReporter& p, const DIBLock& src, const DIBLock& dst, uint8_t* scratch) {
    const int32_t W = src.width(), H = src.height();
    for (int32_t y = 0; y < H; ++y) {
        if (p.step(y)) return false;
        ReverseRow(src.row(H - 1 - y), dst.row(y), W, src.bitCount(), scratch);
    }
    return true;
}

KervErrorCode RotateExact(StatusControlBlock* status, const DIBLock& src, int turn, KHANDLE* result) {
    const int32_t W = src.width(), H = src.height();
    const int bits = src.bitCount();
    ProgressReporter p(status);
    const bool quarter = turn != 180;
    KOwnedHandle out(quarter ? NewLikeSource(src, H, W) : NewLikeSource(src, W, H));
    if (!out) return KERV_NO_MEMORY;
    KBuffer scratch;
    // The packed depths go through a byte-per-pixel row (4-bit half turns
    // swap nibbles in place and need none).
    const bool unpacks = bits == 1 || (bits == 4 && quarter);
    if (unpacks && !scratch.allocate(size_t(std::max(W, H)))) return KERV_NO_MEMORY;
    DIBLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;

    p.begin(turn == 90 ? W : H);
    bool done = false;
    switch (bits) {
    case 24:
        done = turn == 90    ? Quarter90Bytes<3>(p, src, dst)
               : turn == 270 ? Quarter270Bytes<3>(p, src, dst)
                             : Half(p, src, dst, nullptr);
        break;
    case 8:
        done = turn == 90    ? Quarter90Bytes<1>(p, src, dst)
               : turn == 270 ? Quarter270Bytes<1>(p, src, dst)
                             : Half(p, src, dst, nullptr);
        break;
    default:
        done = turn == 90    ? Quarter90Packed(p, src, dst, scratch.data())
               : turn == 270 ? Quarter270Packed(p, src, dst, scratch.data())
                             : Half(p, src, dst, scratch.data());
        break;
    }
    if (!done) return KERV_STOPPED;
    p.end();
    dst = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}

// ---- Free turn ----

struct Bgr {
    int b, g, r;
};

inline int Lerp(int a, int b, int f) { return a + (((b - a) * f) >> 10); }
inline int Bilinear(int p00, int p10, int p01, int p11, int fx, int fy) {
    return Lerp(Lerp(p00, p10, fx), Lerp(p01, p11, fx), fy) & 0xFF;
}
inline Bgr Bilinear(const Bgr& p00, const Bgr& p10, const Bgr& p01, const Bgr& p11, int fx, int fy) {
    return {Bilinear(p00.b, p10.b, p01.b, p11.b, fx, fy), Bilinear(p00.g, p10.g, p01.g, p11.g, fx, fy),
            Bilinear(p00.r, p10.r, p01.r, p11.r, fx, fy)};
}

// Pixel policies: how a depth reads a source pixel and stores a blended one.
struct TrueColor {
    using Value = Bgr;
    Bgr background;
    Bgr read(const uint8_t* row, int64_t x) const {
        const uint8_t* q = row + 3 * x;
        return {q[0], q[1], q[2]};
    }
    void store(uint8_t* row, int64_t x, const Bgr& v) const {
        uint8_t* q = row + 3 * x;
        q[0] = static_cast<uint8_t>(v.b);
        q[1] = static_cast<uint8_t>(v.g);
        q[2] = static_cast<uint8_t>(v.r);
    }
    void storeBackground(uint8_t* row, int64_t x) const { store(row, x, background); }
};

// 8-bit greyscale: pixel values are intensities.
struct Grey {
    using Value = int;
    int background;
    int read(const uint8_t* row, int64_t x) const { return row[x]; }
    void store(uint8_t* row, int64_t x, int v) const { row[x] = static_cast<uint8_t>(v); }
    void storeBackground(uint8_t* row, int64_t x) const { row[x] = static_cast<uint8_t>(background); }
};

// 1, 4 and 8 bits with a palette: blended in colour, mapped back to the
// nearest entry through the cache.
template <int BITS>
struct Indexed {
    using Value = Bgr;
    Bgr background;        // the colour, for blended edges
    uint8_t backgroundIndex;
    Bgr colors[256];       // indexes beyond the palette read as black
    const RGBQUAD* palette;
    uint32_t entries;
    ColorMatchCache* cache;
    Bgr read(const uint8_t* row, int64_t x) const { return colors[Packed(row, x, BITS)]; }
    void store(uint8_t* row, int64_t x, const Bgr& v) const {
        OrPacked(row, x, BITS,
                 static_cast<uint8_t>(FindNearestPaletteIndex(static_cast<uint8_t>(v.r), static_cast<uint8_t>(v.g),
                                                              static_cast<uint8_t>(v.b), palette, entries, 4,
                                                              cache)));
    }
    void storeBackground(uint8_t* row, int64_t x) const { OrPacked(row, x, BITS, backgroundIndex); }
};

struct FreeTurn {
    int32_t W, H, outW, outH;
    const int64_t *cx, *sx, *cy, *sy;
    int64_t x0, y0;
    bool blendEdges;
};

// Output pixels [xa, xb) of stored row y.
template <class Px>
void FreeTurnRow(const FreeTurn& t, const Px& px, const DIBLock& src, uint8_t* out, int32_t y, int32_t xa,
                 int32_t xb) {
    using V = typename Px::Value;
    const uint8_t* bits = src.bits();
    const size_t stride = src.stride();
    const int64_t bx = t.x0 - t.sy[y], by = t.y0 + t.cy[y];
    const uint64_t innerW = uint64_t(t.W) - 1, innerH = uint64_t(t.H) - 1;
    for (int32_t x = xa; x < xb; ++x) {
        const int64_t sx = t.cx[x] + bx, sy = t.sx[x] + by;
        const int64_t ix = sx >> 10, iy = sy >> 10;
        int fx = static_cast<int>(sx - ix * 1024), fy = static_cast<int>(sy - iy * 1024);
        if (uint64_t(ix) < innerW && uint64_t(iy) < innerH) {
            // All four neighbours inside: the common case.
            const uint8_t* r0 = bits + size_t(iy) * stride;
            const uint8_t* r1 = r0 + stride;
            px.store(out, x, Bilinear(px.read(r0, ix), px.read(r0, ix + 1), px.read(r1, ix), px.read(r1, ix + 1), fx, fy));
            continue;
        }
        if (ix < -1 || iy < -1 || ix >= t.W || iy >= t.H) {
            px.storeBackground(out, x);
            continue;
        }
        // Along the border: a neighbour outside is the background, or,
        // without blending, carries no weight.
        const bool in0x = ix >= 0, in1x = ix + 1 < t.W, in0y = iy >= 0, in1y = iy + 1 < t.H;
        if (!t.blendEdges) {
            if (!in0x) fx = 1024;
            if (!in1x) fx = 0;
            if (!in0y) fy = 1024;
            if (!in1y) fy = 0;
        }
        const uint8_t* r0 = in0y ? bits + size_t(iy) * stride : nullptr;
        const uint8_t* r1 = in1y ? bits + size_t(iy + 1) * stride : nullptr;
        const V bg = px.background;
        const V p00 = r0 && in0x ? px.read(r0, ix) : bg;
        const V p10 = r0 && in1x ? px.read(r0, ix + 1) : bg;
        const V p01 = r1 && in0x ? px.read(r1, ix) : bg;
        const V p11 = r1 && in1x ? px.read(r1, ix + 1) : bg;
        px.store(out, x, Bilinear(p00, p10, p01, p11, fx, fy));
    }
}

// The output is walked in small blocks (a strip of rows, a run of columns):
// the source pixels one block needs lie in a compact patch, whereas a whole
// output row cuts diagonally through thousands of source rows and pages.
constexpr int32_t kStripRows = 32, kBlockColumns = 128;

template <class Px>
bool FreeTurnRows(ProgressReporter& p, const FreeTurn& t, const Px& px, const DIBLock& src, const DIBLock& dst) {
    for (int32_t y0 = 0; y0 < t.outH; y0 += kStripRows) {
        const int32_t y1 = std::min(t.outH, y0 + kStripRows);
        if (StepStrip(p, y0, y1)) return false;
        for (int32_t x0 = 0; x0 < t.outW; x0 += kBlockColumns) {
            const int32_t x1 = std::min(t.outW, x0 + kBlockColumns);
            for (int32_t y = y0; y < y1; ++y) FreeTurnRow(t, px, src, dst.row(y), y, x0, x1);
        }
    }
    return true;
}

uint8_t Channel(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

KervErrorCode RotateFree(StatusControlBlock* status, const DIBLock& src, double angle, uint8_t red,
                         int16_t green, int16_t blue, bool blendEdges, KHANDLE* result) {
    const int32_t W = src.width(), H = src.height();
    const int bits = src.bitCount();
    ProgressReporter p(status);

    // The constant below is the one the turn has always used; keeping it
    // keeps output sizes and pixels stable.
    const double theta = angle * (1.0 / 180.0) * 3.14159;
    const double c = std::cos(theta), s = std::sin(theta);
    const double outWd = std::floor(H * std::fabs(s) + W * std::fabs(c) + 0.5);
    const double outHd = std::floor(W * std::fabs(s) + H * std::fabs(c) + 0.5);
    if (outWd > INT32_MAX || outHd > INT32_MAX) return KERV_NO_MEMORY;
    const int32_t outW = static_cast<int32_t>(std::max(1.0, outWd));
    const int32_t outH = static_cast<int32_t>(std::max(1.0, outHd));

    KOwnedHandle out(NewLikeSource(src, outW, outH));
    if (!out) return KERV_NO_MEMORY;
    const bool grey = bits == 8 && IsPaletteKervGreyScale(src.header());
    ColorMatchCacheOwner cache;
    const uint32_t entries = std::min<uint32_t>(DIBPaletteEntries(src.header()), 256);
    if (bits != 24 && !grey && (entries == 0 || !cache.create(entries))) return KERV_NO_MEMORY;

    KBuffer cxT, sxT, cyT, syT;
    if (!cxT.allocate(sizeof(int64_t) * size_t(outW)) || !sxT.allocate(sizeof(int64_t) * size_t(outW)) ||
        !cyT.allocate(sizeof(int64_t) * size_t(outH)) || !syT.allocate(sizeof(int64_t) * size_t(outH)))
        return KERV_NO_MEMORY;
    int64_t* cx = cxT.as<int64_t>();
    int64_t* sx = sxT.as<int64_t>();
    int64_t* cy = cyT.as<int64_t>();
    int64_t* sy = syT.as<int64_t>();
    for (int32_t x = 0; x < outW; ++x) {
        const double d = static_cast<double>(x - outW / 2);
        cx[x] = static_cast<int64_t>(d * c * 1024);
        sx[x] = static_cast<int64_t>(d * s * 1024);
    }
    for (int32_t y = 0; y < outH; ++y) {
        const double d = y - outH * 0.5;
        cy[y] = static_cast<int64_t>(d * c * 1024);
        sy[y] = static_cast<int64_t>(d * s * 1024);
    }
    const FreeTurn t{W, H, outW, outH, cx, sx, cy, sy, int64_t{W / 2} * 1024, int64_t{H / 2} * 1024,
                     blendEdges};

    DIBLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;
    const Bgr bg{Channel(blue), Channel(green), red};
    p.begin(outH);
    bool done = false;
    if (bits == 24) {
        done = FreeTurnRows(p, t, TrueColor{bg}, src, dst);
    } else if (grey) {
        done = FreeTurnRows(p, t, Grey{bg.b}, src, dst);
    } else {
        auto run = [&]<int BITS>() {
            // Large enough (256 colours) to live on the heap, not the stack.
            auto px = std::make_unique<Indexed<BITS>>();
            px->background = bg;
            px->palette = src.palette();
            px->entries = entries;
            px->cache = cache.get();
            for (int i = 0; i < 256; ++i) {
                const RGBQUAD q = i < int(entries) ? src.palette()[i] : RGBQUAD{};
                px->colors[i] = {q.rgbBlue, q.rgbGreen, q.rgbRed};
            }
            px->backgroundIndex = static_cast<uint8_t>(FindNearestPaletteIndex(
                red, Channel(green), Channel(blue), src.palette(), entries, 4, cache.get()));
            return FreeTurnRows(p, t, *px, src, dst);
        };
        switch (bits) {
        case 1: done = run.operator()<1>(); break;
        case 4: done = run.operator()<4>(); break;
        default: done = run.operator()<8>(); break;
        }
    }
    if (!done) return KERV_STOPPED;
    p.end();
    dst = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}

}  // namespace

KervErrorCode RotateDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, double angle,
                        uint8_t direction, uint8_t red, int16_t green, int16_t blue, uint8_t blendEdges) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!DirectionKnown(direction)) return KERV_INVALID_PARAM;
    if (!std::isfinite(angle)) return KERV_INVALID_PARAM;
    angle = std::fabs(angle);
    // fmod gives exactly what repeated subtraction of 360 would, without
    // looping over a huge angle.
    if (angle >= 360) angle = std::fmod(angle, 360.0);
    if (angle < 0.01) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src)) return KERV_INVALID_PARAM;

    if (direction == 0) angle = 360 - angle;  // from here on a clockwise turn
    if (angle == 90 || angle == 180 || angle == 270)
        return RotateExact(status, src, static_cast<int>(angle), result);
    return RotateFree(status, src, angle, red, green, blue, blendEdges != 0, result);
}

KervErrorCode FlipDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    const size_t size = KML_GlobalSize(source);
    if (size == 0) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src)) return KERV_INVALID_PARAM;
    ProgressReporter p(status);

    // A duplicate of the whole block, built in one pass: everything outside
    // the pixel rows is copied as is, the rows in reverse order.
    KOwnedHandle out(KML_GlobalAlloc(KMEM_MOVEABLE, size));
    if (!out) return KERV_NO_MEMORY;
    KLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;
    const uint8_t* from = reinterpret_cast<const uint8_t*>(src.header());
    const size_t head = size_t(src.bits() - from);
    const size_t stride = src.stride();
    const int32_t H = src.height();
    const size_t end = head + stride * size_t(H);
    std::memcpy(dst.get(), from, head);
    std::memcpy(dst.get() + end, from + end, size - end);
    p.begin(H);
    for (int32_t r = 0; r < H; ++r) {
        if (p.step(r)) return KERV_STOPPED;
        std::memcpy(dst.get() + head + size_t(H - 1 - r) * stride, from + head + size_t(r) * stride, stride);
    }
    p.end();
    dst.unlock();
    *result = out.release();
    return KERV_OK;
}

KervErrorCode MirrorDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    const size_t size = KML_GlobalSize(source);
    if (size == 0) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src)) return KERV_INVALID_PARAM;
    ProgressReporter p(status);

    // Every byte is written below (row padding and anything after the rows
    // as zero), so the block needs no zero-fill of its own.
    KOwnedHandle out(KML_GlobalAlloc(KMEM_MOVEABLE, size));
    if (!out) return KERV_NO_MEMORY;
    const int32_t W = src.width(), H = src.height();
    const int bits = src.bitCount();
    KBuffer scratch;
    if (bits == 1 && !scratch.allocate(size_t(W))) return KERV_NO_MEMORY;
    KLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;
    const uint8_t* from = reinterpret_cast<const uint8_t*>(src.header());
    const size_t head = size_t(src.bits() - from);
    const size_t stride = src.stride();
    const size_t used = (size_t(W) * size_t(bits) + 7) / 8;
    const size_t end = head + stride * size_t(H);
    std::memcpy(dst.get(), from, head);
    std::memset(dst.get() + end, 0, size - end);
    p.begin(H);
    for (int32_t r = 0; r < H; ++r) {
        if (p.step(r)) return KERV_STOPPED;
        uint8_t* row = dst.get() + head + size_t(r) * stride;
        ReverseRow(src.row(r), row, W, bits, scratch.data());
        std::memset(row + used, 0, stride - used);
    }
    p.end();
    dst.unlock();
    *result = out.release();
    return KERV_OK;
}
