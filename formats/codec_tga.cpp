// Truevision TGA files.
//
// Read: colour-mapped (types 1 and 9) with 8-bit indexes and 15/16/24/32-bit
// map entries, true colour (2 and 10) of 15, 16, 24 and 32 bits, grey (3 and
// 11) of 8 bits (16-bit grey with alpha keeps the grey byte); RLE or not;
// any origin corner. 15/16/32-bit pixels become 24-bit (alpha dropped);
// colour-mapped images keep their map order, grey ones become greyscale DIBs.
// Write: depth 8 (colour-mapped with 24-bit entries, or grey for a
// greyscale DIB), 16 (5-5-5) or 24 bits; compression 2 is RLE, anything else
// uncompressed; origin bottom-left.
#include "formats/codec.h"
#include "formats/codec_util.h"

#include <algorithm>

using namespace codec;

namespace {

// One pixel of the file as blue, green, red (true colour), or an index.
inline void Expand16(uint32_t v, uint8_t* bgr) {
    const uint32_t b = v & 31, g = (v >> 5) & 31, r = (v >> 10) & 31;
    bgr[0] = uint8_t((b << 3) | (b >> 2));
    bgr[1] = uint8_t((g << 3) | (g >> 2));
    bgr[2] = uint8_t((r << 3) | (r >> 2));
}

}  // namespace

KervErrorCode DecodeTGA(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info) {
    if (!dib) return KERV_INVALID_PARAM;
    *dib = nullptr;
    if (!req.data) return KERV_INVALID_PARAM;
    Reader in(req.data, req.size);
    const uint8_t* h = in.take(18);
    if (!h) return KERV_CORRUPT_FILE;
    const int idLength = h[0], mapType = h[1], type = h[2];
    const uint32_t mapFirst = Le16(h + 3), mapLength = Le16(h + 5);
    const int mapBits = h[7];
    const uint32_t w = Le16(h + 12), ht = Le16(h + 14);
    const int depth = h[16], desc = h[17];
    const bool rle = type >= 9 && type <= 11;
    const int kind = rle ? type - 8 : type;  // 1 mapped, 2 true colour, 3 grey
    if (kind < 1 || kind > 3 || mapType > 1) return type == 0 ? KERV_CORRUPT_FILE : KERV_UNSUPPORTED_VARIANT;
    if (kind == 1 && (mapType != 1 || (depth != 8 && depth != 16))) return KERV_UNSUPPORTED_VARIANT;
    if (kind == 2 && depth != 15 && depth != 16 && depth != 24 && depth != 32) return KERV_UNSUPPORTED_VARIANT;
    if (kind == 3 && depth != 8 && depth != 16) return KERV_UNSUPPORTED_VARIANT;
    if (mapType == 1 && mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32)
        return KERV_UNSUPPORTED_VARIANT;
    if (!in.skip(size_t(idLength))) return KERV_CORRUPT_FILE;
    const uint32_t mapEntryBytes = (uint32_t(mapBits) + 7) / 8;
    const uint8_t* map = nullptr;
    if (mapType == 1) {
        map = in.take(size_t(mapLength) * mapEntryBytes);
        if (!map) return KERV_CORRUPT_FILE;
    }
    const int outBits = kind == 2 ? 24 : 8;
    uint32_t colours = 0;
    if (kind == 3) colours = 256;
    if (kind == 1) colours = std::clamp<uint32_t>(mapFirst + mapLength, 1, 256);
    KOwnedHandle out;
    if (KervErrorCode e = NewOutputDIB(w, ht, outBits, colours, &out)) return e;
    {
        DIBLock d(out.get());
        if (!d) return KERV_NO_MEMORY;
        RGBQUAD* pal = d.palette();
        if (kind == 3)
            for (int i = 0; i < 256; ++i) pal[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
        if (kind == 1)
            for (uint32_t i = mapFirst; i < colours && i - mapFirst < mapLength; ++i) {
                const uint8_t* e = map + size_t(i - mapFirst) * mapEntryBytes;
                uint8_t bgr[3];
                if (mapEntryBytes == 2) Expand16(Le16(e), bgr);
                else bgr[0] = e[0], bgr[1] = e[1], bgr[2] = e[2];
                pal[i] = {bgr[0], bgr[1], bgr[2], 0};
            }

        const uint32_t pixBytes = (uint32_t(depth) + 7) / 8;
        const bool topOrigin = desc & 0x20, rightOrigin = desc & 0x10;
        std::vector<uint8_t> line(size_t(w) * pixBytes);
        uint32_t packetLeft = 0;  // pixels left in the current RLE packet
        bool packetRun = false;
        uint8_t runPixel[4] = {};
        RowProgress progress(req.status, int32_t(ht));
        for (uint32_t y = 0; y < ht; ++y) {
            if (progress.step(int32_t(y))) return KERV_STOPPED;
            if (!rle) {
                const uint8_t* p = in.take(line.size());
                if (!p) return KERV_CORRUPT_FILE;
                std::copy(p, p + line.size(), line.begin());
            } else {
                // Packets may run on from one line into the next.
                for (uint32_t x = 0; x < w; ++x) {
                    if (packetLeft == 0) {
                        uint8_t ph;
                        if (!in.byte(&ph)) return KERV_CORRUPT_FILE;
                        packetRun = ph & 0x80;
                        packetLeft = (ph & 0x7Fu) + 1;
                        if (packetRun) {
                            const uint8_t* p = in.take(pixBytes);
                            if (!p) return KERV_CORRUPT_FILE;
                            std::copy(p, p + pixBytes, runPixel);
                        }
                    }
                    const uint8_t* src = packetRun ? runPixel : in.take(pixBytes);
                    if (!src) return KERV_CORRUPT_FILE;
                    std::copy(src, src + pixBytes, line.begin() + size_t(x) * pixBytes);
                    --packetLeft;
                }
            }
            uint8_t* o = d.row(topOrigin ? int32_t(ht - 1 - y) : int32_t(y));
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* s = line.data() + size_t(rightOrigin ? w - 1 - x : x) * pixBytes;
                if (outBits == 8) {
                    uint32_t v = pixBytes == 2 && kind == 1 ? Le16(s) : s[0];
                    o[x] = uint8_t(std::min(v, colours - 1));
                } else if (pixBytes == 2) {
                    Expand16(Le16(s), o + 3 * x);
                } else {
                    o[3 * x] = s[0], o[3 * x + 1] = s[1], o[3 * x + 2] = s[2];
                }
            }
        }
        progress.end();
    }
    if (info) {
        info->attributes = {};
        info->options.format = 35;
        info->options.depth = uint8_t(kind == 2 ? (depth == 15 ? 16 : std::min(depth, 24)) : 8);
        info->options.compression = rle ? 2 : 1;
    }
    *dib = out.release();
    return KERV_OK;
}

namespace {

// RLE packets over one line of n pixels of `bytes` each.
void EncodeRLELine(const uint8_t* p, uint32_t n, uint32_t bytes, std::vector<uint8_t>* o) {
    auto same = [&](uint32_t a, uint32_t b) { return std::equal(p + a * bytes, p + a * bytes + bytes, p + b * bytes); };
    uint32_t i = 0;
    while (i < n) {
        uint32_t run = 1;
        while (i + run < n && run < 128 && same(i, i + run)) ++run;
        if (run >= 2) {
            o->push_back(uint8_t(0x80 | (run - 1)));
            o->insert(o->end(), p + i * bytes, p + i * bytes + bytes);
            i += run;
            continue;
        }
        uint32_t lit = 1;
        while (i + lit < n && lit < 128 && !(i + lit + 1 < n && same(i + lit, i + lit + 1))) ++lit;
        o->push_back(uint8_t(lit - 1));
        o->insert(o->end(), p + i * bytes, p + (i + lit) * bytes);
        i += lit;
    }
}

}  // namespace

KervErrorCode EncodeTGA(const EncodeRequest& req, std::vector<uint8_t>* out) {
    if (!out || !req.dib) return KERV_INVALID_PARAM;
    DIBLock d(req.dib);
    if (!d || !IsUsableDIB(d.header(), KML_GlobalSize(req.dib))) return KERV_INVALID_PARAM;
    const BITMAPINFOHEADER* dh = d.header();
    const int bits = d.bitCount();
    const int32_t w = d.width(), ht = d.height();
    if (w > 0xFFFF || ht > 0xFFFF) return KERV_INVALID_PARAM;
    const FormatOptions* opt = req.info ? &req.info->options : nullptr;
    const int depth = opt && (opt->depth == 8 || opt->depth == 16) ? opt->depth : 24;
    const bool rle = opt ? opt->compression == 2 : true;
    // An 8-bit file needs palette indexes; the writer converts 24-bit images first.
    if (depth == 8 && bits == 24) return KERV_INVALID_PARAM;
    const bool grey = depth == 8 && IsPaletteKervGreyScale(dh);
    const uint32_t have = bits <= 8 ? DIBPaletteEntries(dh) : 0;
    const RGBQUAD* pal = d.palette();

    out->assign(18, 0);
    uint8_t* h = out->data();
    const uint32_t mapLength = depth == 8 && !grey ? std::max<uint32_t>(have, 1) : 0;
    h[1] = mapLength ? 1 : 0;
    h[2] = uint8_t((depth == 8 ? (grey ? 3 : 1) : 2) + (rle ? 8 : 0));
    Set16(h + 5, mapLength);
    h[7] = mapLength ? 24 : 0;
    Set16(h + 12, uint32_t(w));
    Set16(h + 14, uint32_t(ht));
    h[16] = uint8_t(depth);
    for (uint32_t i = 0; i < mapLength; ++i) {
        const RGBQUAD c = i < have ? pal[i] : RGBQUAD{0, 0, 0, 0};
        out->push_back(c.rgbBlue);
        out->push_back(c.rgbGreen);
        out->push_back(c.rgbRed);
    }
    const uint32_t pixBytes = uint32_t(depth) / 8;
    std::vector<uint8_t> line(size_t(w) * pixBytes);
    RowProgress progress(req.status, ht);
    for (int32_t r = 0; r < ht; ++r) {
        if (progress.step(r)) return KERV_STOPPED;
        const uint8_t* s = d.row(r);
        for (int32_t x = 0; x < w; ++x) {
            if (depth == 8) {
                line[x] = uint8_t(PixelIndex(s, x, bits));
                continue;
            }
            uint8_t bgr[3];
            PixelColor(s, x, bits, pal, have, bgr);
            if (depth == 24) {
                std::copy(bgr, bgr + 3, line.begin() + 3 * x);
            } else {
                const uint32_t v = uint32_t(bgr[0] >> 3) | uint32_t(bgr[1] >> 3) << 5 | uint32_t(bgr[2] >> 3) << 10;
                Set16(line.data() + 2 * x, v);
            }
        }
        if (rle) EncodeRLELine(line.data(), uint32_t(w), pixBytes, out);
        else out->insert(out->end(), line.begin(), line.end());
    }
    progress.end();
    return KERV_OK;
}
