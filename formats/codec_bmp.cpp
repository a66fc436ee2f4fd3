// BMP and DIB files.
//
// Read: Windows headers of 40 bytes and the later 52/56/108/124-byte ones,
// OS/2 1.x (12 bytes) and OS/2 2.x (16..64 bytes); 1, 4, 8 and 24 bits
// uncompressed, RLE8 and RLE4, and 16/32 bits (plain or with bit fields)
// converted to 24 bits. Top-down files come out bottom-up like every DIB. A
// file without the 14-byte file header (a packed DIB) is read too.
// Write: OS/2 1.x (variant 10), Windows RGB (variant 11, compression 1) and
// Windows RLE (compression 7: RLE8 for 8 bits, RLE4 for 4 bits; other depths
// are written uncompressed, the only way they can be stored).
#include "formats/codec.h"
#include "formats/codec_util.h"

#include <algorithm>
#include <bit>

using namespace codec;

namespace {

constexpr uint32_t kRGB = 0, kRLE8 = 1, kRLE4 = 2, kBitFields = 3, kAlphaBitFields = 6;

struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;  // mask >> shift
};
Channel MakeChannel(uint32_t mask) {
    Channel c;
    c.mask = mask;
    if (!mask) return c;
    c.shift = std::countr_zero(mask);
    c.max = mask >> c.shift;
    return c;
}
inline uint8_t Extract(uint32_t px, const Channel& c) {
    if (!c.mask) return 0;
    const uint32_t v = (px & c.mask) >> c.shift;
    if (c.max == 255) return static_cast<uint8_t>(v);
    return static_cast<uint8_t>((uint64_t(v) * 255 + c.max / 2) / c.max);
}

// Decodes RLE8 or RLE4 data into the bottom-up pixel array.
KervErrorCode DecodeRLE(Reader& in, BITMAPINFOHEADER* h, bool rle4, StatusControlBlock* status) {
    const int32_t w = h->biWidth, ht = h->biHeight;
    const uint32_t stride = DIBStride(h);
    uint8_t* bits = DIBBits(h);
    const int depth = rle4 ? 4 : 8;
    int32_t x = 0, y = 0;  // y counts stored rows, from the bottom
    RowProgress progress(status, ht);
    auto put = [&](uint32_t v) {
        if (x < w && y < ht) SetPixelIndex(bits + size_t(y) * stride, x, depth, v);
        ++x;
    };
    for (;;) {
        uint8_t count, value;
        if (!in.byte(&count) || !in.byte(&value)) return y >= ht ? KERV_OK : KERV_CORRUPT_FILE;
        if (count > 0) {
            for (int i = 0; i < count; ++i) put(rle4 ? ((i & 1) ? value & 15 : value >> 4) : value);
            continue;
        }
        switch (value) {
        case 0:  // end of line
            x = 0;
            if (++y < ht && progress.step(y)) return KERV_STOPPED;
            break;
        case 1:  // end of bitmap
            progress.end();
            return KERV_OK;
        case 2: {  // delta
            uint8_t dx, dy;
            if (!in.byte(&dx) || !in.byte(&dy)) return KERV_CORRUPT_FILE;
            x += dx;
            y += dy;
            break;
        }
        default: {  // absolute run of `value` pixels, padded to a 16-bit boundary
            const size_t bytes = rle4 ? (value + 1u) / 2 : value;
            const uint8_t* p = in.take(bytes);
            if (!p) return KERV_CORRUPT_FILE;
            for (int i = 0; i < value; ++i) put(rle4 ? ((i & 1) ? p[i / 2] & 15 : p[i / 2] >> 4) : p[i]);
            if ((bytes & 1) && !in.skip(1)) return KERV_CORRUPT_FILE;
        }
        }
        if (y >= ht) return KERV_OK;  // data past the last row is ignored
    }
}

}  // namespace

namespace {

// What the headers say: where things are and how the pixels are stored.
struct Layout {
    size_t base = 0;         // offset of the info header
    size_t pixelOffset = 0;  // of the pixel array
    uint32_t hsize = 0;
    bool core = false, os2 = false, topDown = false, fields = false;
    int32_t width = 0, height = 0;
    uint32_t bitCount = 0, compression = kRGB;
    int32_t xppm = 0, yppm = 0;
    Channel r, g, b;
    int outBits = 0;
    uint32_t colours = 0;    // palette entries of the image
    size_t palOffset = 0, entry = 4;
    bool rle() const { return compression == kRLE8 || compression == kRLE4; }
    // Rows stored as the image stores them: copied whole, padding included.
    bool whole() const { return !fields && !rle(); }
    // Whether a file of fileSize bytes holds every uncompressed row.
    bool rowsFit(uint64_t fileSize) const {
        const uint64_t need = uint64_t(DIBStride(bitCount, uint32_t(width))) * uint32_t(height);
        return pixelOffset <= fileSize && need <= fileSize - pixelOffset;
    }
};

KervErrorCode ReadLayout(const uint8_t* data, size_t size, Layout* L) {
    Reader in(data, size);
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        const uint8_t* fh = in.take(14);
        if (!fh) return KERV_CORRUPT_FILE;
        L->pixelOffset = Le32(fh + 10);
        L->base = 14;
    }
    const size_t base = L->base;
    const uint8_t* sz = in.at(base, 4);
    if (!sz) return KERV_CORRUPT_FILE;
    const uint32_t hsize = L->hsize = Le32(sz);
    if (hsize != 12 && (hsize < 16 || hsize > 124)) return hsize < 12 ? KERV_CORRUPT_FILE : KERV_UNSUPPORTED_VARIANT;
    const uint8_t* hp = in.at(base, hsize);
    if (!hp) return KERV_CORRUPT_FILE;
    // Fields missing from a short OS/2 2.x header count as 0.
    uint8_t hdr[124] = {};
    std::memcpy(hdr, hp, hsize);

    const bool core = L->core = hsize == 12;
    int64_t width, height;
    uint32_t bitCount, compression = kRGB, clrUsed = 0;
    if (core) {
        width = Le16(hdr + 4);
        height = static_cast<int16_t>(Le16(hdr + 6));
        bitCount = Le16(hdr + 10);
    } else {
        width = static_cast<int32_t>(Le32(hdr + 4));
        height = static_cast<int32_t>(Le32(hdr + 8));
        bitCount = Le16(hdr + 14);
        compression = Le32(hdr + 16);
        L->xppm = static_cast<int32_t>(Le32(hdr + 24));
        L->yppm = static_cast<int32_t>(Le32(hdr + 28));
        clrUsed = Le32(hdr + 32);
    }
    const bool os2 = L->os2 = core || (hsize != 40 && hsize != 52 && hsize != 56 && hsize != 108 && hsize != 124);
    L->topDown = height < 0;
    if (L->topDown) height = -height;
    if (width <= 0 || height <= 0) return KERV_CORRUPT_FILE;
    L->width = static_cast<int32_t>(width);
    L->height = static_cast<int32_t>(height);
    L->bitCount = bitCount;
    L->compression = compression;

    // Which pixel layout: palette depths, true colour, or bit fields.
    bool fields = false;
    switch (compression) {
    case kRGB:
        if (bitCount == 16) L->r = MakeChannel(0x7C00), L->g = MakeChannel(0x03E0), L->b = MakeChannel(0x001F), fields = true;
        if (bitCount == 32) L->r = MakeChannel(0xFF0000), L->g = MakeChannel(0xFF00), L->b = MakeChannel(0xFF), fields = true;
        if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && !fields)
            return KERV_UNSUPPORTED_VARIANT;
        break;
    case kRLE8:
        if (bitCount != 8) return KERV_CORRUPT_FILE;
        break;
    case kRLE4:
        if (bitCount != 4) return KERV_CORRUPT_FILE;
        break;
    case kBitFields:
    case kAlphaBitFields: {
        if (os2) return KERV_UNSUPPORTED_VARIANT;  // OS/2 Huffman 1D
        if (bitCount != 16 && bitCount != 32) return KERV_CORRUPT_FILE;
        const uint8_t* m = hsize >= 52 ? hdr + 40 : in.at(base + hsize, 12);
        if (!m) return KERV_CORRUPT_FILE;
        L->r = MakeChannel(Le32(m)), L->g = MakeChannel(Le32(m + 4)), L->b = MakeChannel(Le32(m + 8));
        fields = true;
        break;
    }
    default: return KERV_UNSUPPORTED_VARIANT;  // embedded JPEG/PNG, OS/2 RLE24
    }
    L->fields = fields;
    if (L->rle() && L->topDown) return KERV_CORRUPT_FILE;

    L->outBits = fields ? 24 : static_cast<int>(bitCount);
    if (L->outBits <= 8) {
        const uint32_t full = 1u << L->outBits;
        L->colours = (clrUsed == 0 || clrUsed > full) ? full : clrUsed;
    }
    // Palette: right after the header (and the bit masks of a 40-byte one).
    L->palOffset = base + hsize;
    if (hsize == 40 && (compression == kBitFields || compression == kAlphaBitFields))
        L->palOffset += compression == kBitFields ? 12 : 16;
    L->entry = core ? 3 : 4;
    if (L->pixelOffset == 0 || L->pixelOffset < L->palOffset)
        L->pixelOffset = L->palOffset + L->colours * L->entry;
    return KERV_OK;
}

// The image for the layout, with its resolution and palette from data.
KervErrorCode NewImage(const Layout& L, const uint8_t* data, size_t size, KOwnedHandle* out) {
    // Whole rows overwrite every byte of the pixels, so they need not be cleared first.
    if (KervErrorCode e = NewOutputDIB(uint32_t(L.width), uint32_t(L.height), L.outBits, L.colours, out,
                                       L.whole() ? DIBPixels::Unset : DIBPixels::Zero))
        return e;
    DIBLock d(out->get());
    if (!d) return KERV_NO_MEMORY;
    BITMAPINFOHEADER* oh = d.header();
    oh->biXPelsPerMeter = std::max(L.xppm, 0);
    oh->biYPelsPerMeter = std::max(L.yppm, 0);
    if (L.colours) {
        const uint8_t* p = Reader(data, size).at(L.palOffset, L.colours * L.entry);
        if (!p) return KERV_CORRUPT_FILE;
        RGBQUAD* pal = d.palette();
        for (uint32_t i = 0; i < L.colours; ++i)
            pal[i] = {p[i * L.entry], p[i * L.entry + 1], p[i * L.entry + 2], 0};
    }
    return KERV_OK;
}

// The last touches once the pixels are in, and the hand-over.
KervErrorCode Finish(const Layout& L, KOwnedHandle* out, KHANDLE* dib, ImageFileInfo* info) {
    {
        DIBLock d(out->get());
        if (!d) return KERV_NO_MEMORY;
        ClampPaletteIndexes(d.header());
        if (info) {
            AttributesFromDIB(d.header(), &info->attributes);
            info->options.format = L.base ? 1 : 6;
            info->options.variant = L.os2 ? 10 : 11;
            info->options.compression = L.rle() ? 7 : 1;
        }
    }
    *dib = out->release();
    return KERV_OK;
}

}  // namespace

KervErrorCode DecodeBMP(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info) {
    if (!dib) return KERV_INVALID_PARAM;
    *dib = nullptr;
    if (!req.data) return KERV_INVALID_PARAM;
    Layout L;
    if (KervErrorCode e = ReadLayout(req.data, req.size, &L)) return e;
    // Rows the file does not hold are refused before the image is made for
    // them: a lying header must not cost an allocation of its size.
    if (KervErrorCode e = CheckDecodeDimensions(uint32_t(L.width), uint32_t(L.height), L.outBits)) return e;
    if (!L.rle() && !L.rowsFit(req.size)) return KERV_CORRUPT_FILE;
    KOwnedHandle out;
    if (KervErrorCode e = NewImage(L, req.data, req.size, &out)) return e;
    {
    DIBLock d(out.get());
    if (!d) return KERV_NO_MEMORY;
    Reader in(req.data, req.size);
    if (!in.seek(L.pixelOffset)) return KERV_CORRUPT_FILE;

    const int32_t w = L.width, ht = L.height;
    const uint32_t stride = d.stride();
    if (L.rle()) {
        if (KervErrorCode e = DecodeRLE(in, d.header(), L.compression == kRLE4, req.status)) return e;
    } else {
        const uint32_t srcStride = DIBStride(L.bitCount, uint32_t(w));
        const uint64_t need = uint64_t(srcStride) * uint32_t(ht);
        const uint8_t* src = need <= in.left() ? in.take(size_t(need)) : nullptr;
        if (!src) return KERV_CORRUPT_FILE;
        const bool quiet = !req.status || !req.status->progress;
        RowProgress progress(req.status, ht);
        if (!L.fields && !L.topDown && quiet) {
            std::memcpy(d.bits(), src, size_t(stride) * uint32_t(ht));
        } else {
            for (int32_t i = 0; i < ht; ++i) {
                if (progress.step(i)) return KERV_STOPPED;
                const uint8_t* s = src + size_t(i) * srcStride;
                uint8_t* o = d.row(L.topDown ? ht - 1 - i : i);
                if (!L.fields) {
                    std::memcpy(o, s, stride);
                } else if (L.bitCount == 16) {
                    for (int32_t x = 0; x < w; ++x) {
                        const uint32_t px = Le16(s + 2 * x);
                        o[3 * x] = Extract(px, L.b), o[3 * x + 1] = Extract(px, L.g), o[3 * x + 2] = Extract(px, L.r);
                    }
                } else {
                    for (int32_t x = 0; x < w; ++x) {
                        const uint32_t px = Le32(s + 4 * x);
                        o[3 * x] = Extract(px, L.b), o[3 * x + 1] = Extract(px, L.g), o[3 * x + 2] = Extract(px, L.r);
                    }
                }
            }
        }
        progress.end();
    }
    }
    return Finish(L, &out, dib, info);
}

KervErrorCode DecodeBMPFromFile(const DecodeRequest& head, int fd, uint64_t fileSize, KHANDLE* dib,
                                ImageFileInfo* info) {
    if (!dib) return KERV_INVALID_PARAM;
    *dib = nullptr;
    if (!head.data) return KERV_INVALID_PARAM;
    Layout L;
    if (ReadLayout(head.data, head.size, &L) != KERV_OK || L.base == 0 || !L.whole() || L.topDown)
        return KERV_UNSUPPORTED_VARIANT;
    // Checked before anything is allocated: a header may promise rows the file lacks.
    if (!L.rowsFit(fileSize) ||
        (L.colours && !Reader(head.data, head.size).at(L.palOffset, L.colours * L.entry)))
        return KERV_UNSUPPORTED_VARIANT;
    KOwnedHandle out;
    if (KervErrorCode e = NewImage(L, head.data, head.size, &out))
        return e == KERV_NO_MEMORY ? e : KERV_UNSUPPORTED_VARIANT;
    {
        DIBLock d(out.get());
        if (!d) return KERV_NO_MEMORY;
        // In pieces of about 1 MiB of whole rows, for the progress and a stop.
        const uint32_t stride = d.stride();
        const int32_t piece = std::max<int32_t>(1, int32_t((1u << 20) / stride));
        RowProgress progress(head.status, L.height);
        for (int32_t y = 0; y < L.height; y += piece) {
            if (progress.step(y)) return KERV_STOPPED;
            const size_t bytes = size_t(std::min(piece, L.height - y)) * stride;
            uint8_t* dst = d.row(y);
            // A file that shrank or failed since is read whole, which names the fault.
            if (ReadFullyAt(fd, dst, bytes, L.pixelOffset + uint64_t(y) * stride) != bytes)
                return KERV_UNSUPPORTED_VARIANT;
        }
        progress.end();
    }
    return Finish(L, &out, dib, info);
}

namespace {

// One row of 8-bit indexes as RLE8: runs of equal bytes as (count, value),
// stretches of 3 or more mixed bytes in absolute mode.
void EncodeRowRLE8(const uint8_t* row, int32_t w, std::vector<uint8_t>* o) {
    int32_t x = 0;
    while (x < w) {
        int32_t run = 1;
        while (x + run < w && run < 255 && row[x + run] == row[x]) ++run;
        if (run >= 2) {
            o->push_back(static_cast<uint8_t>(run));
            o->push_back(row[x]);
            x += run;
            continue;
        }
        // Literal stretch: up to the next pair of equal bytes.
        int32_t lit = 1;
        while (x + lit < w && lit < 255 && !(x + lit + 1 < w && row[x + lit] == row[x + lit + 1])) ++lit;
        if (lit < 3) {
            for (int32_t i = 0; i < lit; ++i) {
                o->push_back(1);
                o->push_back(row[x + i]);
            }
        } else {
            o->push_back(0);
            o->push_back(static_cast<uint8_t>(lit));
            o->insert(o->end(), row + x, row + x + lit);
            if (lit & 1) o->push_back(0);
        }
        x += lit;
    }
}

// RLE4 over nibbles: runs of one nibble value as (count, v << 4 | v),
// mixed stretches in absolute mode.
void EncodeRowRLE4(const uint8_t* row, int32_t w, std::vector<uint8_t>* o) {
    auto nib = [&](int32_t x) { return (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4; };
    int32_t x = 0;
    while (x < w) {
        int32_t run = 1;
        while (x + run < w && run < 255 && nib(x + run) == nib(x)) ++run;
        if (run >= 2) {
            o->push_back(static_cast<uint8_t>(run));
            o->push_back(static_cast<uint8_t>(nib(x) * 17));
            x += run;
            continue;
        }
        int32_t lit = 1;
        while (x + lit < w && lit < 254 && !(x + lit + 1 < w && nib(x + lit) == nib(x + lit + 1))) ++lit;
        if (lit < 3) {
            for (int32_t i = 0; i < lit; ++i) {
                o->push_back(1);
                o->push_back(static_cast<uint8_t>(nib(x + i) << 4));
            }
        } else {
            o->push_back(0);
            o->push_back(static_cast<uint8_t>(lit));
            const int32_t bytes = (lit + 1) / 2;
            for (int32_t i = 0; i < bytes; ++i) {
                const int hi = nib(x + 2 * i), lo = (2 * i + 1 < lit) ? nib(x + 2 * i + 1) : 0;
                o->push_back(static_cast<uint8_t>(hi << 4 | lo));
            }
            if (bytes & 1) o->push_back(0);
        }
        x += lit;
    }
}

}  // namespace

KervErrorCode EncodeBMPParts(const EncodeRequest& req, EncodedBMP* parts) {
    if (!parts || !req.dib) return KERV_INVALID_PARAM;
    *parts = EncodedBMP{};
    std::vector<uint8_t>* out = &parts->head;
    DIBLock d(req.dib);
    if (!d) return KERV_INVALID_PARAM;
    if (!IsUsableDIB(d.header(), KML_GlobalSize(req.dib))) return KERV_INVALID_PARAM;
    const BITMAPINFOHEADER* h = d.header();
    const int bits = h->biBitCount;
    const int32_t w = h->biWidth, ht = h->biHeight;
    const uint32_t stride = d.stride();
    const FormatOptions* opt = req.info ? &req.info->options : nullptr;
    const bool os2 = opt && opt->variant == 10;
    const bool rle = !os2 && opt && opt->compression == 7 && (bits == 4 || bits == 8);
    if (os2 && (w > 0xFFFF || ht > 0xFFFF)) return KERV_INVALID_PARAM;

    const uint32_t colours = bits <= 8 ? (os2 ? 1u << bits : DIBPaletteEntries(h)) : 0;
    const uint32_t palBytes = colours * (os2 ? 3 : 4);
    const uint32_t hsize = os2 ? 12 : 40;
    const uint32_t pixelOffset = 14 + hsize + palBytes;
    const uint64_t rawBytes = uint64_t(stride) * uint32_t(ht);
    out->reserve(pixelOffset + (rle ? size_t(rawBytes / 2) : 0));
    out->resize(pixelOffset);
    uint8_t* p = out->data();
    p[0] = 'B', p[1] = 'M';
    Set32(p + 10, pixelOffset);
    Set32(p + 14, hsize);
    if (os2) {
        Set16(p + 18, uint32_t(w));
        Set16(p + 20, uint32_t(ht));
        Set16(p + 22, 1);
        Set16(p + 24, uint32_t(bits));
    } else {
        const int32_t ppm = EncodePelsPerMeter(req, h);
        const int32_t yppm = (req.info && PelsPerMeter(req.info->attributes) > 0) || h->biYPelsPerMeter <= 0
                                 ? ppm
                                 : h->biYPelsPerMeter;
        Set32(p + 18, uint32_t(w));
        Set32(p + 22, uint32_t(ht));
        Set16(p + 26, 1);
        Set16(p + 28, uint32_t(bits));
        Set32(p + 30, rle ? (bits == 8 ? kRLE8 : kRLE4) : kRGB);
        Set32(p + 38, uint32_t(ppm));
        Set32(p + 42, uint32_t(yppm));
        Set32(p + 46, colours);
        Set32(p + 50, bits <= 8 ? std::min(h->biClrImportant, colours) : 0);
    }
    const RGBQUAD* pal = d.palette();
    const uint32_t have = bits <= 8 ? DIBPaletteEntries(h) : 0;
    uint8_t* pp = p + 14 + hsize;
    for (uint32_t i = 0; i < colours; ++i) {
        const RGBQUAD c = i < have ? pal[i] : RGBQUAD{0, 0, 0, 0};
        *pp++ = c.rgbBlue, *pp++ = c.rgbGreen, *pp++ = c.rgbRed;
        if (!os2) *pp++ = 0;
    }
    if (rle) {
        RowProgress progress(req.status, ht);
        for (int32_t r = 0; r < ht; ++r) {
            if (progress.step(r)) return KERV_STOPPED;
            if (bits == 8) EncodeRowRLE8(d.row(r), w, out);
            else EncodeRowRLE4(d.row(r), w, out);
            out->push_back(0);
            out->push_back(r + 1 < ht ? 0 : 1);  // end of line; end of bitmap after the last
        }
        Set32(out->data() + 34, uint32_t(out->size() - pixelOffset));
        progress.end();
        Set32(out->data() + 2, out->size() > 0xFFFFFFFFu ? 0 : uint32_t(out->size()));
        return KERV_OK;
    }
    // Uncompressed rows are the image's rows as they stand; the progress is
    // the writer's, which sends them.
    if (!os2) Set32(out->data() + 34, uint32_t(rawBytes));
    const uint64_t fileSize = out->size() + rawBytes;
    Set32(out->data() + 2, fileSize > 0xFFFFFFFFu ? 0 : uint32_t(fileSize));
    parts->rows = d.bits();
    parts->rowBytes = stride;
    parts->rowCount = ht;
    return KERV_OK;
}

KervErrorCode EncodeBMP(const EncodeRequest& req, std::vector<uint8_t>* out) {
    if (!out) return KERV_INVALID_PARAM;
    DIBLock keep(req.dib);  // the rows stay where they are until copied
    EncodedBMP parts;
    if (KervErrorCode e = EncodeBMPParts(req, &parts)) return e;
    *out = std::move(parts.head);
    if (parts.rowCount == 0) return KERV_OK;
    RowProgress progress(req.status, parts.rowCount);
    const bool quiet = !req.status || !req.status->progress;
    if (quiet) {
        out->insert(out->end(), parts.rows, parts.rows + size_t(parts.rowBytes) * uint32_t(parts.rowCount));
    } else {
        out->reserve(out->size() + size_t(parts.rowBytes) * uint32_t(parts.rowCount));
        for (int32_t r = 0; r < parts.rowCount; ++r) {
            if (progress.step(r)) return KERV_STOPPED;
            const uint8_t* row = parts.rows + size_t(r) * parts.rowBytes;
            out->insert(out->end(), row, row + parts.rowBytes);
        }
    }
    progress.end();
    return KERV_OK;
}
