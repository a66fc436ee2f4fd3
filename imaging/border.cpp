// Borders and crop.
//
// AddBorderDIB writes every byte of its output exactly once (header,
// palette, pixels, row padding), so the block is taken without the zero-fill
// and the cost stays close to that of a plain copy of the result's size:
//
//   stored row newH-1  +---------------------------+   top margin rows
//                      |  fill                     |   (written first)
//   stored row bottom+H|---------------------------|
//                      | fill | source row | fill  |   middle rows
//   stored row bottom  |---------------------------|
//                      |  fill                     |   bottom margin rows
//   stored row 0       +---------------------------+
//
// At 1 and 4 bits a row is assembled through a small bit writer, so the
// source pixels land on the bit or nibble where the left margin ends.
#include "imaging/border.h"

#include "imaging/checks.h"

#include <algorithm>
#include <cstring>

namespace {

// ---- Checks: one line per rule ----

using namespace imaging_checks;

bool MarginsNotNegative(int top, int bottom, int right, int left) {
    return top >= 0 && bottom >= 0 && right >= 0 && left >= 0;
}

// ---- The fill ----

// What a margin byte holds at 1, 4 and 8 bits; for 24 bits the three bytes.
struct Fill {
    uint8_t byte = 0; // 1, 4, 8 bits: the whole-byte pattern
    uint8_t blue = 0, green = 0, red = 0;
};

Fill FillFor(int bits, uint32_t colour0, uint32_t colour1, uint8_t colour2) {
    Fill f;
    switch (bits) {
    case 24:
        f.blue = colour2;
        f.green = static_cast<uint8_t>(colour1);
        f.red = static_cast<uint8_t>(colour0);
        break;
    case 8:
        f.byte = static_cast<uint8_t>(colour0);
        break;
    case 4:
        f.byte = static_cast<uint8_t>((colour0 & 15) * 17);
        break;
    default:
        f.byte = colour0 != 0 ? 0xFF : 0x00;
        break;
    }
    return f;
}

// ---- Rows at 24 bits ----

constexpr int kPatternPixels = 64;

// kPatternPixels copies of the fill colour, so that margins are copied in
// chunks rather than written three bytes at a time.
struct Pattern24 {
    uint8_t bytes[3 * kPatternPixels];
    explicit Pattern24(const Fill& f) {
        for (int i = 0; i < kPatternPixels; ++i) {
            bytes[3 * i] = f.blue;
            bytes[3 * i + 1] = f.green;
            bytes[3 * i + 2] = f.red;
        }
    }
};

uint8_t* Fill24(uint8_t* dst, const Pattern24& p, size_t pixels) {
    for (; pixels >= kPatternPixels; pixels -= kPatternPixels, dst += sizeof p.bytes)
        std::memcpy(dst, p.bytes, sizeof p.bytes);
    std::memcpy(dst, p.bytes, 3 * pixels);
    return dst + 3 * pixels;
}

// ---- Rows at 1 and 4 bits ----

// Appends bits to a row, most significant bit first. Fewer than 8 bits are
// ever pending, so whole bytes go out as soon as they are complete.
class BitWriter {
  public:
    explicit BitWriter(uint8_t* out) : p_(out) {}

    // The low `count` bits of v (count 1..8).
    void put(uint32_t v, int count) {
        acc_ = (acc_ << count) | v;
        pending_ += count;
        if (pending_ >= 8) {
            pending_ -= 8;
            *p_++ = static_cast<uint8_t>(acc_ >> pending_);
            acc_ &= (1u << pending_) - 1;
        }
    }

    // Whole source bytes, shifted by whatever is pending.
    void bytes(const uint8_t* s, size_t count) {
        if (pending_ == 0) {
            std::memcpy(p_, s, count);
            p_ += count;
            return;
        }
        const int keep = pending_, shift = 8 - pending_;
        const uint32_t mask = (1u << keep) - 1;
        uint64_t acc = acc_;
        size_t i = 0;
        // Eight bytes at a time as one big-endian word.
        for (; i + 8 <= count; i += 8) {
            uint64_t word;
            std::memcpy(&word, s + i, 8);
            word = __builtin_bswap64(word);
            const uint64_t shifted = (acc << (64 - keep)) | (word >> keep);
            const uint64_t stored = __builtin_bswap64(shifted);
            std::memcpy(p_ + i, &stored, 8);
            acc = word & mask;
        }
        for (; i < count; ++i) {
            p_[i] = static_cast<uint8_t>((acc << shift) | (s[i] >> keep));
            acc = s[i] & mask;
        }
        p_ += count;
        acc_ = static_cast<uint32_t>(acc);
    }

    // `count` bits of a pattern that repeats every byte. Every run at 1 bit
    // and every run at 4 bits starts on a pixel boundary, so any slice of the
    // pattern taken from its top is the right one.
    void fill(uint8_t pattern, uint64_t count) {
        if (pending_ != 0 && count != 0) {
            const int k = static_cast<int>(std::min<uint64_t>(count, uint64_t(8 - pending_)));
            put(Top(pattern, k), k);
            count -= uint64_t(k);
        }
        if (count >= 8) {
            const size_t whole = size_t(count / 8);
            std::memset(p_, pattern, whole);
            p_ += whole;
            count %= 8;
        }
        if (count != 0) put(Top(pattern, int(count)), int(count));
    }

    // Flushes the last partial byte (unused low bits zero) and zeroes the
    // rest of the row up to `end`.
    void finish(uint8_t* end) {
        if (pending_ != 0) *p_++ = static_cast<uint8_t>(acc_ << (8 - pending_));
        pending_ = 0;
        acc_ = 0;
        std::memset(p_, 0, size_t(end - p_));
    }

  private:
    static uint32_t Top(uint8_t pattern, int k) { return uint32_t(pattern) >> (8 - k); }

    uint8_t* p_;
    uint32_t acc_ = 0;
    int pending_ = 0;
};

// ---- The whole picture ----

struct Layout {
    int bits;
    int32_t srcW, srcH;
    int32_t outW, outH;
    int32_t top, bottom, right, left;
    size_t srcStride, outStride;
};

// Stored rows [first, first + count) all become margin rows.
void MarginRows(const Layout& l, const Fill& f, const Pattern24& pattern, uint8_t* bits,
                int32_t first, int32_t count) {
    if (count <= 0) return;
    uint8_t* row = bits + size_t(first) * l.outStride;
    switch (l.bits) {
    case 24: {
        uint8_t* end = Fill24(row, pattern, size_t(l.outW));
        std::memset(end, 0, size_t(row + l.outStride - end));
        break;
    }
    case 8:
        std::memset(row, f.byte, size_t(l.outW));
        std::memset(row + l.outW, 0, l.outStride - size_t(l.outW));
        break;
    default: {
        BitWriter w(row);
        w.fill(f.byte, uint64_t(l.outW) * uint64_t(l.bits));
        w.finish(row + l.outStride);
        break;
    }
    }
    for (int32_t r = 1; r < count; ++r)
        std::memcpy(row + size_t(r) * l.outStride, row, l.outStride);
}

void MiddleRows24(const Layout& l, const Pattern24& pattern, const uint8_t* src, uint8_t* dst) {
    const size_t used = 3 * size_t(l.outW);
    for (int32_t r = 0; r < l.srcH; ++r, src += l.srcStride, dst += l.outStride) {
        uint8_t* p = Fill24(dst, pattern, size_t(l.left));
        std::memcpy(p, src, 3 * size_t(l.srcW));
        Fill24(p + 3 * size_t(l.srcW), pattern, size_t(l.right));
        std::memset(dst + used, 0, l.outStride - used);
    }
}

void MiddleRows8(const Layout& l, const Fill& f, const uint8_t* src, uint8_t* dst) {
    const size_t used = size_t(l.outW);
    for (int32_t r = 0; r < l.srcH; ++r, src += l.srcStride, dst += l.outStride) {
        std::memset(dst, f.byte, size_t(l.left));
        std::memcpy(dst + l.left, src, size_t(l.srcW));
        std::memset(dst + l.left + l.srcW, f.byte, size_t(l.right));
        std::memset(dst + used, 0, l.outStride - used);
    }
}

void MiddleRowsPacked(const Layout& l, const Fill& f, const uint8_t* src, uint8_t* dst) {
    const uint64_t srcBits = uint64_t(l.srcW) * uint64_t(l.bits);
    const size_t whole = size_t(srcBits / 8);
    const int rest = int(srcBits % 8); // the source row's last, partial byte
    for (int32_t r = 0; r < l.srcH; ++r, src += l.srcStride, dst += l.outStride) {
        BitWriter w(dst);
        w.fill(f.byte, uint64_t(l.left) * uint64_t(l.bits));
        w.bytes(src, whole);
        if (rest) w.put(uint32_t(src[whole]) >> (8 - rest), rest);
        w.fill(f.byte, uint64_t(l.right) * uint64_t(l.bits));
        w.finish(dst + l.outStride);
    }
}

} // namespace

KervErrorCode AddBorderDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int16_t top,
                           int16_t bottom, int16_t right, int16_t left, uint32_t colour0,
                           uint32_t colour1, uint8_t colour2) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!MarginsNotNegative(top, bottom, right, left)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src)) return KERV_INVALID_PARAM;

    Layout l{};
    l.bits = src.bitCount();
    l.srcW = src.width();
    l.srcH = src.height();
    l.top = top, l.bottom = bottom, l.right = right, l.left = left;
    l.srcStride = src.stride();
    // Sizes in 64 bits: a source near the largest width plus margins must
    // not wrap. What cannot be described or allocated is out of memory.
    const int64_t outW = int64_t(l.srcW) + left + right;
    const int64_t outH = int64_t(l.srcH) + top + bottom;
    if (outW > INT32_MAX || outH > INT32_MAX) return KERV_NO_MEMORY;
    l.outW = int32_t(outW);
    l.outH = int32_t(outH);
    const uint64_t stride = (uint64_t(l.bits) * uint64_t(outW) + 31) / 32 * 4;
    const uint64_t image = stride * uint64_t(outH);
    if (image > UINT32_MAX) return KERV_NO_MEMORY;
    l.outStride = size_t(stride);
    const size_t paletteBytes = DIBPaletteBytes(src.header());
    const size_t head = sizeof(BITMAPINFOHEADER) + paletteBytes;

    ProgressReporter p(status);
    // Every byte is written below, padding included: no zero-fill needed.
    KOwnedHandle out(KML_GlobalAlloc(KMEM_MOVEABLE, head + size_t(image)));
    if (!out) return KERV_NO_MEMORY;
    KLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;

    auto* h = dst.as<BITMAPINFOHEADER>();
    std::memcpy(h, src.header(), sizeof *h);
    h->biWidth = l.outW;
    h->biHeight = l.outH;
    h->biSizeImage = uint32_t(image);
    std::memcpy(dst.get() + sizeof *h, src.palette(), paletteBytes);
    uint8_t* bits = dst.get() + head;

    const Fill fill = FillFor(l.bits, colour0, colour1, colour2);
    const Pattern24 pattern(fill);

    // The top of the picture is the end of the block.
    MarginRows(l, fill, pattern, bits, l.bottom + l.srcH, l.top);
    if (p.step(25)) return KERV_STOPPED;

    uint8_t* middle = bits + size_t(l.bottom) * l.outStride;
    switch (l.bits) {
    case 24:
        MiddleRows24(l, pattern, src.bits(), middle);
        break;
    case 8:
        MiddleRows8(l, fill, src.bits(), middle);
        break;
    default:
        MiddleRowsPacked(l, fill, src.bits(), middle);
        break;
    }
    if (p.step(75)) return KERV_STOPPED;

    MarginRows(l, fill, pattern, bits, 0, l.bottom);
    p.end();
    dst.unlock();
    *result = out.release();
    return KERV_OK;
}

namespace {

// The kept span [from, to) of one direction; hostile values may put it
// outside the image, which CropImage then refuses.
struct Span {
    int64_t from, to;
};

// From the edges: margins adding up to the size or more cut nothing.
Span EdgeSpan(int64_t size, int64_t before, int64_t after) {
    if (size > before + after) return {before, size - after};
    return {0, size};
}

// From the centre: a size no larger than the target is kept whole.
Span CentreSpan(int64_t size, int64_t target) {
    if (size > target) {
        const int64_t from = std::max<int64_t>(0, size / 2 - target / 2);
        return {from, from + target};
    }
    return {0, size};
}

bool Inside(const Span& s, int64_t size) {
    return s.from >= 0 && s.from < s.to && s.to <= size;
}

} // namespace

KervErrorCode CropImage(StatusControlBlock* /*status: no progress*/, KHANDLE source,
                        KHANDLE* result, int16_t fromCentre, int32_t left, int32_t top,
                        int32_t right, int32_t bottom, int16_t width, int16_t height) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    int64_t W = 0, H = 0;
    {
        DIBLock src(source);
        if (!src || !Uncompressed(src)) return KERV_INVALID_PARAM;
        W = src.width();
        H = src.height();
    }

    Span cols{}, rows{};
    if (fromCentre == 0) {
        if (W - right - left < 0 && H - bottom - top < 0) return KERR_CROP_TOO_BIG;
        cols = EdgeSpan(W, left, right);
        rows = EdgeSpan(H, top, bottom);
    } else {
        if (W < width && H < height) return KERR_CROP_TOO_BIG;
        cols = CentreSpan(W, width);
        rows = CentreSpan(H, height);
    }
    // Hand-edited scripts may carry negative margins or sizes; a rectangle
    // that leaves the image is refused here, before any arithmetic on it
    // could wrap.
    if (!Inside(cols, W) || !Inside(rows, H)) return KERV_INVALID_PARAM;
    return CropDIBRect(source, result, int32_t(cols.from), int32_t(rows.from), int32_t(cols.to),
                       int32_t(rows.to));
}
