// Small helpers shared by the codecs written in this layer: bounds-checked
// reading of little- and big-endian fields, building the output DIB, and the
// resolution conversions between files and DIB headers.
#pragma once

#include "core/dib.h"
#include "formats/codec.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace codec {

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline void Put16(std::vector<uint8_t>* o, uint32_t v) {
    o->push_back(static_cast<uint8_t>(v));
    o->push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(std::vector<uint8_t>* o, uint32_t v) {
    Put16(o, v & 0xFFFF);
    Put16(o, v >> 16);
}
inline void Set16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Set32(uint8_t* p, uint32_t v) {
    Set16(p, v & 0xFFFF);
    Set16(p + 2, v >> 16);
}

// A cursor over the file's bytes that never reads past the end.
class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : p_(data), n_(size) {}
    size_t pos() const { return pos_; }
    size_t left() const { return n_ - pos_; }
    bool seek(size_t at) {
        if (at > n_) return false;
        pos_ = at;
        return true;
    }
    bool skip(size_t k) { return k <= left() ? (pos_ += k, true) : false; }
    bool byte(uint8_t* v) {
        if (pos_ >= n_) return false;
        *v = p_[pos_++];
        return true;
    }
    // k bytes at the cursor, or null when fewer remain.
    const uint8_t* take(size_t k) {
        if (k > left()) return nullptr;
        const uint8_t* r = p_ + pos_;
        pos_ += k;
        return r;
    }
    const uint8_t* at(size_t offset, size_t k) const {
        return (offset <= n_ && k <= n_ - offset) ? p_ + offset : nullptr;
    }

  private:
    const uint8_t* p_;
    size_t n_;
    size_t pos_ = 0;
};

// Reads up to n bytes of fd at offset into dst, through interruptions;
// returns how many it read (fewer at the end of the file or on an error).
inline size_t ReadFullyAt(int fd, uint8_t* dst, size_t n, uint64_t offset) {
    size_t done = 0;
    while (done < n) {
        const ssize_t k = pread(fd, dst + done, n - done, off_t(offset + done));
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) break;
        done += size_t(k);
    }
    return done;
}

// Allocates the decoder's output DIB after checking the dimensions.
inline KervErrorCode NewOutputDIB(uint32_t width, uint32_t height, int bitCount, uint32_t clrUsed,
                                  KOwnedHandle* out, DIBPixels pixels = DIBPixels::Zero) {
    if (KervErrorCode e = CheckDecodeDimensions(width, height, bitCount)) return e;
    out->reset(AllocDIB(static_cast<int32_t>(width), static_cast<int32_t>(height), bitCount, clrUsed, pixels));
    return *out ? KERV_OK : KERV_NO_MEMORY;
}

// Palette indexes at or beyond biClrUsed become the last entry, so that no
// pixel points outside the palette.
void ClampPaletteIndexes(BITMAPINFOHEADER* h);

// The resolution stored in a DIB header (pixels per metre) as attributes
// (per centimetre), and back. Unknown stays 0.
inline void AttributesFromDIB(const BITMAPINFOHEADER* h, SGraphicAttributes* a) {
    if (h->biXPelsPerMeter > 0) {
        a->resolution = h->biXPelsPerMeter / 100.0;
        a->resolutionUnit = 2;
    } else {
        a->resolution = 0;
        a->resolutionUnit = 0;
    }
}
inline int32_t PelsPerMeter(const SGraphicAttributes& a) {
    if (a.resolution <= 0) return 0;
    if (a.resolutionUnit == 1) return static_cast<int32_t>(std::lround(a.resolution / 0.0254));
    if (a.resolutionUnit == 2) return static_cast<int32_t>(std::lround(a.resolution * 100.0));
    return 0;
}
inline double DotsPerInch(const SGraphicAttributes& a) {
    if (a.resolution <= 0) return 0;
    if (a.resolutionUnit == 1) return a.resolution;
    if (a.resolutionUnit == 2) return a.resolution * 2.54;
    return 0;
}
// The resolution an encoder writes, in pixels per metre: the attributes when
// they name one, otherwise the DIB's own.
inline int32_t EncodePelsPerMeter(const EncodeRequest& req, const BITMAPINFOHEADER* h) {
    if (req.info) {
        const int32_t p = PelsPerMeter(req.info->attributes);
        if (p > 0) return p;
    }
    return h->biXPelsPerMeter > 0 ? h->biXPelsPerMeter : 0;
}

// The colour of pixel x in a row of a 1-, 4-, 8- or 24-bit DIB, as blue,
// green, red.
inline void PixelColor(const uint8_t* row, int x, int bits, const RGBQUAD* pal, uint32_t palCount,
                       uint8_t bgr[3]) {
    uint32_t idx;
    switch (bits) {
    case 1: idx = (row[x >> 3] >> (7 - (x & 7))) & 1; break;
    case 4: idx = (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4; break;
    case 8: idx = row[x]; break;
    default:
        bgr[0] = row[3 * x], bgr[1] = row[3 * x + 1], bgr[2] = row[3 * x + 2];
        return;
    }
    if (idx >= palCount) idx = palCount ? palCount - 1 : 0;
    if (palCount == 0) {
        bgr[0] = bgr[1] = bgr[2] = 0;
        return;
    }
    bgr[0] = pal[idx].rgbBlue, bgr[1] = pal[idx].rgbGreen, bgr[2] = pal[idx].rgbRed;
}
inline uint32_t PixelIndex(const uint8_t* row, int x, int bits) {
    switch (bits) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4;
    default: return row[x];
    }
}
inline void SetPixelIndex(uint8_t* row, int x, int bits, uint32_t v) {
    switch (bits) {
    case 1: {
        const uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
        row[x >> 3] = static_cast<uint8_t>(v ? row[x >> 3] | m : row[x >> 3] & ~m);
        break;
    }
    case 4:
        row[x >> 1] = static_cast<uint8_t>((x & 1) ? (row[x >> 1] & 0xF0) | (v & 15)
                                                   : (row[x >> 1] & 0x0F) | (v << 4));
        break;
    default: row[x] = static_cast<uint8_t>(v);
    }
}

// Progress over rows for a codec: reports row i of n, true when asked to stop.
class RowProgress {
  public:
    RowProgress(StatusControlBlock* s, int32_t rows) : p_(s) { p_.begin(rows); }
    bool step(int32_t i) { return p_.enabled() && p_.step(i); }
    void end() { p_.end(); }

  private:
    ProgressReporter p_;
};

}  // namespace codec
