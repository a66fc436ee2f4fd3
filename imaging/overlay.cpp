// Watermark overlay and colour replacement.
//
// Both start from a copy of the image block. The colour replacement makes
// its copy row by row and fixes each row while it is still in the cache;
// the overlay copies the block and then redraws the rectangle the watermark
// covers:
//
//   image (rows stored bottom-up)     watermark
//   +------------------------+        +-----------+
//   |      +---------+       |        |  +-----+  |  the part shown:
//   |      | drawn   |       |   <--  |  |shown|  |  srcX .. srcX + cols,
//   |      +---------+       |        |  +-----+  |  srcY .. srcY + rows
//   +------------------------+        +-----------+
//          left, bottom
//
// Closeness is decided per channel through three 256-entry tables, which
// give the same answer as ColorsDiffer for every value.
#include "imaging/overlay.h"

#include "imaging/checks.h"

#include <algorithm>
#include <cstring>

namespace {

// ---- Checks: one line per rule ----

using namespace imaging_checks;

bool PercentUsable(int percent) {
    return percent >= 0 && percent <= 100;
}
bool OpacityUsable(int opacity) {
    return opacity <= 100;
}
bool TrueColour(const DIBLock& d) {
    return d.bitCount() == 24;
}

// ---- Closeness ----

int ToleranceValue(int percent) {
    return percent * 200 / 100;
}
int64_t ChannelLimit(int toleranceValue) {
    return int64_t(toleranceValue) * 255 / 200;
}
bool ChannelDiffers(int a, int b, int64_t limit) {
    return a > b + limit || a < b - limit;
}

// close.blue[v] is 1 when a blue value v is within the limit of the
// colour's blue, and so on.
struct CloseTable {
    uint8_t blue[256], green[256], red[256];
    CloseTable(COLORREF c, int toleranceValue) {
        const int64_t limit = ChannelLimit(toleranceValue);
        for (int v = 0; v < 256; ++v) {
            blue[v] = !ChannelDiffers(v, GetBValue(c), limit);
            green[v] = !ChannelDiffers(v, GetGValue(c), limit);
            red[v] = !ChannelDiffers(v, GetRValue(c), limit);
        }
    }
    // A pixel stored blue, green, red.
    bool close(const uint8_t* bgr) const {
        return (blue[bgr[0]] & green[bgr[1]] & red[bgr[2]]) != 0;
    }
};

// ---- Copies ----

// Blocks whose depth no operation handles (16 or 32 bits from elsewhere):
// they are only copied.
bool OtherDepth(KHANDLE h) {
    KLock l(h);
    if (!l || KML_GlobalSize(h) < sizeof(BITMAPINFOHEADER)) return false;
    const auto* hdr = l.as<BITMAPINFOHEADER>();
    return hdr->biSize == sizeof(BITMAPINFOHEADER) && !IsValidDIBDepth(hdr->biBitCount);
}

// The pixel array, from the first row to the end of the last.
size_t PixelBytes(const DIBLock& d) {
    return size_t(d.stride()) * size_t(d.height());
}

// Copies the block, every row passing through fix(row) on its way: header
// and palette first, then the rows, then whatever follows the pixel array.
template <class Fix>
void CopyFixingRows(const DIBLock& src, size_t blockSize, uint8_t* dst, Fix fix) {
    const auto* from = reinterpret_cast<const uint8_t*>(src.header());
    const size_t head = size_t(src.bits() - from), stride = src.stride();
    std::memcpy(dst, from, head);
    for (int32_t r = 0; r < src.height(); ++r) {
        uint8_t* row = dst + head + size_t(r) * stride;
        std::memcpy(row, src.row(r), stride);
        fix(row);
    }
    const size_t end = head + PixelBytes(src);
    std::memcpy(dst + end, from + end, blockSize - end);
}

// ---- Colour replacement kernels ----

void Replace24(const DIBLock& src, size_t size, uint8_t* dst, const CloseTable& close,
               COLORREF replacement) {
    const int32_t W = src.width();
    const uint8_t rep[3] = {GetBValue(replacement), GetGValue(replacement), GetRValue(replacement)};
    CopyFixingRows(src, size, dst, [&](uint8_t* row) {
        for (int32_t x = 0; x < W; ++x)
            if (close.close(row + 3 * size_t(x))) std::memcpy(row + 3 * size_t(x), rep, 3);
    });
}

// 8 and 4 bits: map[i] is the index pixel i becomes.
void ReplaceIndexed(const DIBLock& src, size_t size, uint8_t* dst, const uint8_t* map) {
    const int32_t W = src.width();
    if (src.bitCount() == 8) {
        CopyFixingRows(src, size, dst, [&](uint8_t* row) {
            for (int32_t x = 0; x < W; ++x)
                row[x] = map[row[x]];
        });
        return;
    }
    // Two pixels a byte; an odd width leaves the last byte's low nibble as
    // padding, which keeps its bits.
    uint8_t pairs[256];
    for (int b = 0; b < 256; ++b)
        pairs[b] = uint8_t((map[b >> 4] << 4) | map[b & 15]);
    const int32_t whole = W / 2;
    CopyFixingRows(src, size, dst, [&](uint8_t* row) {
        for (int32_t i = 0; i < whole; ++i)
            row[i] = pairs[row[i]];
        if (W % 2) row[whole] = uint8_t((map[row[whole] >> 4] << 4) | (row[whole] & 15));
    });
}

// 1 bit: pixels of index `from` take index `to`.
void Replace1(const DIBLock& src, size_t size, uint8_t* dst, int from, int to) {
    const int32_t W = src.width();
    const int32_t whole = W / 8, rest = W % 8;
    const uint8_t last = uint8_t(0xFF00 >> rest); // the pixel bits of a partial byte
    CopyFixingRows(src, size, dst, [&](uint8_t* row) {
        if (from == to) return;
        // Pixels of index `from` are the set bits (from 1) or the clear
        // ones (from 0); they are set (to 1) or cleared (to 0).
        auto fix = [&](uint8_t b, uint8_t mask) -> uint8_t {
            const uint8_t hit = uint8_t((from ? b : ~b) & mask);
            return uint8_t(to ? b | hit : b & ~hit);
        };
        for (int32_t i = 0; i < whole; ++i)
            row[i] = fix(row[i], 0xFF);
        if (rest) row[whole] = fix(row[whole], last);
    });
}

uint16_t Nearest(const DIBLock& d, COLORREF c) {
    return FindNearestPaletteIndex(GetRValue(c), GetGValue(c), GetBValue(c), d.palette(),
                                   DIBPaletteEntries(d.header()), 4, nullptr);
}

// ---- Watermark placement ----

// Where the watermark goes and which part of it shows; rows and columns
// counted as stored (from the bottom).
struct Placement {
    int32_t left, bottom; // in the image
    int32_t srcX, srcY;   // in the watermark
    int32_t cols, rows;
};

// One direction: the watermark's start in the image, the first of its
// pixels shown and how many. A watermark larger than the image shows its
// high end (the rightmost columns, or the top rows, stored last) when
// `showHighEnd` is set, else its low end.
struct Span {
    int32_t at, first, count;
};

Span PlaceAlong(int64_t centre, int32_t imageSize, int32_t markSize, bool showHighEnd) {
    if (markSize > imageSize) return {0, showHighEnd ? markSize - imageSize : 0, imageSize};
    int64_t at = centre - markSize / 2;
    if (at < 0) at = 0;
    if (at + markSize > imageSize) at = imageSize - markSize;
    return {int32_t(at), 0, markSize};
}

Placement Place(int32_t W, int32_t H, int32_t ww, int32_t wh, int heightPercent, int widthPercent) {
    const int64_t centreX = int64_t(widthPercent) * W / 100;
    const int64_t centreRow = (100 - int64_t(heightPercent)) * H / 100;
    // Above 50 percent the rightmost columns show; the bottom rows, which
    // are stored first, show when the centre is in the lower half.
    const Span x = PlaceAlong(centreX, W, ww, widthPercent > 50);
    const Span y = PlaceAlong(centreRow, H, wh, heightPercent <= 50);
    return {x.at, y.at, x.first, y.first, x.count, y.count};
}

// ---- Watermark kernels ----

// Which watermark pixels are drawn.
struct Transparency {
    bool on;
    CloseTable close;
    bool draws(const uint8_t* bgr) const { return !on || !close.close(bgr); }
};

// (w x a + p x (255 - a)) / 255 for one channel.
inline uint8_t Blend(uint32_t w, uint32_t p, uint32_t a) {
    return uint8_t((w * a + p * (255 - a)) / 255);
}

// f(i) for i in [0, n): blocks of 16 with a fixed trip count, which the
// compiler turns into vector code at -O2 already, then the tail.
template <class F> inline void ForEachBlocked(size_t n, F f) {
    size_t i = 0;
    for (; i + 16 <= n; i += 16)
        for (size_t k = 0; k < 16; ++k)
            f(i + k);
    for (; i < n; ++i)
        f(i);
}

// The same over n bytes. The sum is at most 255 x 255, so 16-bit lanes
// hold it and the division by the constant becomes a multiplication in
// vector code.
void BlendBytes(const uint8_t* __restrict w, uint8_t* __restrict p, size_t n, uint16_t a) {
    const auto keep = uint16_t(255 - a);
    ForEachBlocked(n, [&](size_t j) { p[j] = uint8_t(uint16_t(w[j] * a + p[j] * keep) / 255); });
}

// Only the bytes whose mask is 0xFF change.
void BlendMasked(const uint8_t* __restrict w, uint8_t* __restrict p, const uint8_t* __restrict mask,
                 size_t n, uint16_t a) {
    const auto keep = uint16_t(255 - a);
    ForEachBlocked(n, [&](size_t j) {
        const auto b = uint8_t(uint16_t(w[j] * a + p[j] * keep) / 255);
        p[j] = uint8_t((b & mask[j]) | (p[j] & ~mask[j]));
    });
}

// With transparency the pixels to draw are marked first, a chunk at a time
// (three table look-ups a pixel), then blended under the mask.
void DrawRow24(const uint8_t* w, uint8_t* p, int32_t n, uint32_t a, const Transparency& t) {
    if (!t.on) return BlendBytes(w, p, 3 * size_t(n), uint16_t(a));
    constexpr int32_t kChunk = 256;
    uint8_t mask[3 * kChunk];
    for (int32_t i0 = 0; i0 < n; i0 += kChunk) {
        const int32_t m = std::min(kChunk, n - i0);
        const uint8_t* wc = w + 3 * size_t(i0);
        for (int32_t i = 0; i < m; ++i) {
            const uint8_t d = t.close.close(wc + 3 * i) ? 0 : 0xFF;
            mask[3 * i] = mask[3 * i + 1] = mask[3 * i + 2] = d;
        }
        BlendMasked(wc, p + 3 * size_t(i0), mask, 3 * size_t(m), uint16_t(a));
    }
}

void DrawRowGrey(const uint8_t* w, uint8_t* p, int32_t n, uint32_t a, const Transparency& t) {
    for (int32_t i = 0; i < n; ++i, w += 3) {
        if (!t.draws(w)) continue;
        const uint32_t g = (11u * w[0] + 59u * w[1] + 30u * w[2]) / 100;
        p[i] = Blend(g, p[i], a);
    }
}

// Palette images take the nearest entry's index; the last colour looked up
// is remembered, so runs of one colour cost one search.
class NearestIndex {
  public:
    NearestIndex(const DIBLock& d, ColorMatchCache* cache)
        : pal_(d.palette()), entries_(DIBPaletteEntries(d.header())), cache_(cache) {}
    uint8_t operator()(const uint8_t* bgr) {
        const uint32_t key = uint32_t(bgr[0]) | uint32_t(bgr[1]) << 8 | uint32_t(bgr[2]) << 16;
        if (key != lastKey_) {
            lastKey_ = key;
            lastIndex_ =
                uint8_t(FindNearestPaletteIndex(bgr[2], bgr[1], bgr[0], pal_, entries_, 4, cache_));
        }
        return lastIndex_;
    }

  private:
    const RGBQUAD* pal_;
    uint32_t entries_;
    ColorMatchCache* cache_;
    uint32_t lastKey_ = 0xFFFFFFFF; // no colour has it
    uint8_t lastIndex_ = 0;
};

void PutIndex(uint8_t* row, int32_t x, int bits, uint8_t v) {
    switch (bits) {
    case 8:
        row[x] = v;
        break;
    case 4:
        row[x / 2] = uint8_t(x % 2 ? (row[x / 2] & 0xF0) | (v & 15) : (row[x / 2] & 15) | (v << 4));
        break;
    default: {
        const auto m = uint8_t(0x80 >> (x % 8));
        row[x / 8] = uint8_t(v & 1 ? row[x / 8] | m : row[x / 8] & ~m);
        break;
    }
    }
}

void DrawRowPalette(const uint8_t* w, uint8_t* row, int32_t left, int32_t n, int bits,
                    NearestIndex& nearest, const Transparency& t) {
    for (int32_t i = 0; i < n; ++i, w += 3)
        if (t.draws(w)) PutIndex(row, left + i, bits, nearest(w));
}

} // namespace

bool ColorsDiffer(COLORREF a, COLORREF b, int toleranceValue) {
    const int64_t limit = ChannelLimit(toleranceValue);
    return ChannelDiffers(GetRValue(a), GetRValue(b), limit) ||
           ChannelDiffers(GetGValue(a), GetGValue(b), limit) ||
           ChannelDiffers(GetBValue(a), GetBValue(b), limit);
}

bool ColorsDiffer(const RGBQUAD* table, int index, COLORREF b, int toleranceValue) {
    const RGBQUAD& e = table[index];
    return ColorsDiffer(RGB(e.rgbRed, e.rgbGreen, e.rgbBlue), b, toleranceValue);
}

KervErrorCode ReplaceColorDIB(KHANDLE image, KHANDLE* result, COLORREF original,
                              COLORREF replacement, int16_t tolerance) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(image)) return KERV_INVALID_PARAM;
    if (!PercentUsable(tolerance)) return KERV_INVALID_PARAM;
    if (OtherDepth(image)) return CopyDIB(image, result);
    DIBLock src(image);
    if (!src || !Uncompressed(src)) return KERV_INVALID_PARAM;

    const size_t size = KML_GlobalSize(image);
    KOwnedHandle out(KML_GlobalAlloc(KMEM_MOVEABLE, size));
    if (!out) return KERV_NO_MEMORY;
    KLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;

    const int v = ToleranceValue(tolerance);
    switch (src.bitCount()) {
    case 24:
        Replace24(src, size, dst.get(), CloseTable(original, v), replacement);
        break;
    case 8:
    case 4: {
        const auto to = uint8_t(Nearest(src, replacement));
        const uint32_t entries = DIBPaletteEntries(src.header());
        uint8_t map[256];
        for (int i = 0; i < 256; ++i) {
            const bool close =
                uint32_t(i) < entries && !ColorsDiffer(src.palette(), i, original, v);
            map[i] = close ? to : uint8_t(i);
        }
        ReplaceIndexed(src, size, dst.get(), map);
        break;
    }
    default:
        Replace1(src, size, dst.get(), Nearest(src, original), Nearest(src, replacement));
        break;
    }
    dst.unlock();
    *result = out.release();
    return KERV_OK;
}

KervErrorCode OverlayWatermark(StatusControlBlock* status, KHANDLE image, KHANDLE* result,
                               int16_t heightPercent, int16_t widthPercent, uint8_t opacity,
                               KHANDLE watermark, uint8_t blue, uint8_t green, uint8_t red,
                               int16_t tolerance, int16_t useTransparency) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(image)) return KERV_INVALID_PARAM;
    if (!SourceGiven(watermark)) return KERV_INVALID_PARAM;
    if (!OpacityUsable(opacity)) return KERV_INVALID_PARAM;
    if (!PercentUsable(tolerance)) return KERV_INVALID_PARAM;
    DIBLock img(image);
    if (!img || !Uncompressed(img)) return KERV_INVALID_PARAM;
    DIBLock mark(watermark);
    if (!mark || !Uncompressed(mark) || !TrueColour(mark)) return KERV_INVALID_PARAM;

    const Placement pl =
        Place(img.width(), img.height(), mark.width(), mark.height(), heightPercent, widthPercent);
    ProgressReporter p(status);
    const size_t size = KML_GlobalSize(image);
    KOwnedHandle out(KML_GlobalAlloc(KMEM_MOVEABLE, size));
    if (!out) return KERV_NO_MEMORY;
    {
        KLock copy(out.get());
        if (!copy) return KERV_NO_MEMORY;
        std::memcpy(copy.get(), img.header(), size);
    }
    DIBLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;

    const int bits = dst.bitCount();
    const bool grey = bits == 8 && IsPaletteKervGreyScale(dst.header());
    ColorMatchCacheOwner cache;
    if (bits != 24 && !grey && !cache.create(DIBPaletteEntries(dst.header())))
        return KERV_NO_MEMORY;
    NearestIndex nearest(dst, cache.get());
    const Transparency t{useTransparency != 0,
                         CloseTable(RGB(red, green, blue), ToleranceValue(tolerance))};
    const uint32_t a = opacity * 255u / 100;

    p.begin(pl.rows);
    for (int32_t i = 0; i < pl.rows; ++i) {
        if (p.step(i)) return KERV_STOPPED;
        const uint8_t* w = mark.row(pl.srcY + i) + 3 * size_t(pl.srcX);
        uint8_t* row = dst.row(pl.bottom + i);
        if (bits == 24)
            DrawRow24(w, row + 3 * size_t(pl.left), pl.cols, a, t);
        else if (grey)
            DrawRowGrey(w, row + pl.left, pl.cols, a, t);
        else
            DrawRowPalette(w, row, pl.left, pl.cols, bits, nearest, t);
    }
    p.end();
    dst = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}
