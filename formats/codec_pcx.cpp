// ZSoft PCX files.
//
// Read: versions 0 to 5; 1 bit in 1 to 4 planes (EGA), 2 and 4 bits in one
// plane, 8 bits with the 256-colour palette at the end (grey when it is
// missing), 8 bits in 3 or 4 planes (RGB, the fourth plane ignored);
// RLE-encoded or not. Images of 2 to 4 planes of 1 bit come out as 4-bit
// DIBs, 2-bit ones too.
// Write: variant 80, 81, 82 for versions 0, 2 and 5. 1-bit images as one
// plane, 4-bit ones as four planes of 1 bit with the palette in the header,
// 8-bit ones with the palette at the end and 24-bit ones as three planes;
// those last two exist only from version 5 on, so they are always marked
// version 5.
#include "formats/codec.h"
#include "formats/codec_util.h"

#include <algorithm>
#include <cmath>

using namespace codec;

namespace {

// The default EGA colours, for version 3 files that carry no palette.
constexpr uint8_t kEga[16][3] = {{0, 0, 0},       {0, 0, 170},     {0, 170, 0},     {0, 170, 170},
                                 {170, 0, 0},     {170, 0, 170},   {170, 85, 0},    {170, 170, 170},
                                 {85, 85, 85},    {85, 85, 255},   {85, 255, 85},   {85, 255, 255},
                                 {255, 85, 85},   {255, 85, 255},  {255, 255, 85},  {255, 255, 255}};

}  // namespace

KervErrorCode DecodePCX(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info) {
    if (!dib) return KERV_INVALID_PARAM;
    *dib = nullptr;
    if (!req.data) return KERV_INVALID_PARAM;
    Reader in(req.data, req.size);
    const uint8_t* h = in.take(128);
    if (!h) return KERV_CORRUPT_FILE;
    if (h[0] != 0x0A) return KERV_CORRUPT_FILE;
    const int version = h[1];
    const bool encoded = h[2] == 1;
    const int bpp = h[3];
    const int32_t xmin = Le16(h + 4), ymin = Le16(h + 6), xmax = Le16(h + 8), ymax = Le16(h + 10);
    const int hdpi = Le16(h + 12), vdpi = Le16(h + 14);
    const int planes = h[65];
    const uint32_t bpl = Le16(h + 66);
    if (xmax < xmin || ymax < ymin) return KERV_CORRUPT_FILE;
    const uint32_t w = uint32_t(xmax - xmin + 1), ht = uint32_t(ymax - ymin + 1);

    int outBits;
    if (bpp == 1 && planes == 1) outBits = 1;
    else if ((bpp == 1 && planes >= 2 && planes <= 4) || (bpp == 2 && planes == 1) || (bpp == 4 && planes == 1))
        outBits = 4;
    else if (bpp == 8 && planes == 1) outBits = 8;
    else if (bpp == 8 && (planes == 3 || planes == 4)) outBits = 24;
    else return KERV_UNSUPPORTED_VARIANT;
    if (bpl == 0 || uint64_t(bpl) * 8 < uint64_t(w) * bpp) return KERV_CORRUPT_FILE;

    const uint32_t colours = outBits == 24 ? 0 : outBits == 1 ? 2 : outBits == 4 ? 16 : 256;
    KOwnedHandle out;
    if (KervErrorCode e = NewOutputDIB(w, ht, outBits, colours, &out)) return e;
    {
        DIBLock d(out.get());
        if (!d) return KERV_NO_MEMORY;
        RGBQUAD* pal = d.palette();
        if (outBits == 1) {
            // Monochrome files keep black and white unless the header says otherwise.
            const uint8_t* c = h + 16;
            const bool differs = c[0] != c[3] || c[1] != c[4] || c[2] != c[5];
            if (differs && version >= 2) {
                pal[0] = {c[2], c[1], c[0], 0};
                pal[1] = {c[5], c[4], c[3], 0};
            } else {
                pal[0] = {0, 0, 0, 0};
                pal[1] = {255, 255, 255, 0};
            }
        } else if (outBits == 4) {
            for (int i = 0; i < 16; ++i) {
                const uint8_t* c = version == 3 ? kEga[i] : h + 16 + 3 * i;
                pal[i] = {c[2], c[1], c[0], 0};
            }
        } else if (outBits == 8) {
            const uint8_t* tail = req.size >= 128 + 769 ? in.at(req.size - 769, 769) : nullptr;
            for (int i = 0; i < 256; ++i) {
                if (tail && tail[0] == 0x0C)
                    pal[i] = {tail[1 + 3 * i + 2], tail[1 + 3 * i + 1], tail[1 + 3 * i], 0};
                else
                    pal[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
            }
        }

        // Decode one scan line (all planes) at a time.
        const uint32_t lineBytes = bpl * uint32_t(planes);
        std::vector<uint8_t> line(lineBytes);
        RowProgress progress(req.status, int32_t(ht));
        for (uint32_t y = 0; y < ht; ++y) {
            if (progress.step(int32_t(y))) return KERV_STOPPED;
            if (encoded) {
                uint32_t i = 0;
                while (i < lineBytes) {
                    uint8_t c;
                    if (!in.byte(&c)) return KERV_CORRUPT_FILE;
                    uint32_t count = 1;
                    if ((c & 0xC0) == 0xC0) {
                        count = c & 0x3F;
                        if (!in.byte(&c)) return KERV_CORRUPT_FILE;
                    }
                    // A run may spill into the next line; what does not fit is dropped.
                    const uint32_t n = std::min(count, lineBytes - i);
                    std::fill_n(line.begin() + i, n, c);
                    i += n;
                }
            } else {
                const uint8_t* p = in.take(lineBytes);
                if (!p) return KERV_CORRUPT_FILE;
                std::copy(p, p + lineBytes, line.begin());
            }
            uint8_t* o = DIBRowFromTop(d.header(), int32_t(y));
            if (outBits == 1 || outBits == 8) {
                std::copy_n(line.begin(), std::min<uint32_t>(d.stride(), (w * bpp + 7) / 8), o);
            } else if (outBits == 24) {
                for (uint32_t x = 0; x < w; ++x) {
                    o[3 * x + 2] = line[x];
                    o[3 * x + 1] = line[bpl + x];
                    o[3 * x] = line[2 * bpl + x];
                }
            } else if (bpp == 4) {
                std::copy_n(line.begin(), (w + 1) / 2, o);
            } else if (bpp == 2) {
                for (uint32_t x = 0; x < w; ++x)
                    SetPixelIndex(o, int(x), 4, (line[x >> 2] >> (6 - 2 * (x & 3))) & 3);
            } else {
                for (uint32_t x = 0; x < w; ++x) {
                    uint32_t v = 0;
                    for (int p = 0; p < planes; ++p)
                        v |= uint32_t((line[p * bpl + (x >> 3)] >> (7 - (x & 7))) & 1) << p;
                    SetPixelIndex(o, int(x), 4, v);
                }
            }
        }
        progress.end();
        if (hdpi > 0 && vdpi > 0) {
            d->biXPelsPerMeter = int32_t(std::lround(hdpi / 0.0254));
            d->biYPelsPerMeter = int32_t(std::lround(vdpi / 0.0254));
        }
    }
    if (info) {
        info->attributes.resolution = hdpi > 0 ? hdpi : 0;
        info->attributes.resolutionUnit = hdpi > 0 ? 1 : 0;
        info->options.format = 24;
        info->options.variant = version == 0 ? 80 : version <= 3 ? 81 : 82;
    }
    *dib = out.release();
    return KERV_OK;
}

namespace {

// RLE of one plane line; runs never cross the line's end.
void EncodeLine(const uint8_t* p, uint32_t n, std::vector<uint8_t>* o) {
    uint32_t i = 0;
    while (i < n) {
        uint32_t run = 1;
        while (i + run < n && run < 63 && p[i + run] == p[i]) ++run;
        if (run > 1 || (p[i] & 0xC0) == 0xC0) o->push_back(static_cast<uint8_t>(0xC0 | run));
        o->push_back(p[i]);
        i += run;
    }
}

}  // namespace

KervErrorCode EncodePCX(const EncodeRequest& req, std::vector<uint8_t>* out) {
    if (!out || !req.dib) return KERV_INVALID_PARAM;
    DIBLock d(req.dib);
    if (!d || !IsUsableDIB(d.header(), KML_GlobalSize(req.dib))) return KERV_INVALID_PARAM;
    const BITMAPINFOHEADER* dh = d.header();
    const int bits = d.bitCount();
    const int32_t w = d.width(), ht = d.height();
    if (w > 0xFFFF || ht > 0xFFFF) return KERV_INVALID_PARAM;
    const int variant = req.info ? req.info->options.variant : 82;
    int version = variant == 80 ? 0 : variant == 81 ? 2 : 5;
    if (bits >= 8) version = 5;
    const int planes = bits == 24 ? 3 : bits == 4 ? 4 : 1;
    const int bpp = bits == 24 ? 8 : bits == 4 ? 1 : bits;
    uint32_t bpl = (uint32_t(w) * bpp + 7) / 8;
    bpl += bpl & 1;  // even, as the format asks

    out->assign(128, 0);
    uint8_t* h = out->data();
    h[0] = 0x0A, h[1] = uint8_t(version), h[2] = 1, h[3] = uint8_t(bpp);
    Set16(h + 8, uint32_t(w - 1));
    Set16(h + 10, uint32_t(ht - 1));
    SGraphicAttributes a;
    if (req.info) a = req.info->attributes;
    double dpi = DotsPerInch(a);
    if (dpi <= 0 && dh->biXPelsPerMeter > 0) dpi = dh->biXPelsPerMeter * 0.0254;
    const uint32_t idpi = uint32_t(std::clamp<long>(std::lround(dpi), 0, 0xFFFF));
    Set16(h + 12, idpi);
    Set16(h + 14, idpi);
    const RGBQUAD* pal = d.palette();
    const uint32_t have = bits <= 8 ? DIBPaletteEntries(dh) : 0;
    // Version 0 readers show a 1-bit file in black and white whatever the
    // header says: store the darker colour as 0 there.
    bool invert = false;
    if (bits == 1 && version == 0 && have >= 2) {
        auto lum = [](RGBQUAD c) { return 299 * c.rgbRed + 587 * c.rgbGreen + 114 * c.rgbBlue; };
        invert = lum(pal[0]) > lum(pal[1]);
        h[19] = h[20] = h[21] = 255;
    } else if (bits <= 4)
        for (uint32_t i = 0; i < 16 && i < have; ++i) {
            h[16 + 3 * i] = pal[i].rgbRed;
            h[17 + 3 * i] = pal[i].rgbGreen;
            h[18 + 3 * i] = pal[i].rgbBlue;
        }
    h[65] = uint8_t(planes);
    Set16(h + 66, bpl);
    Set16(h + 68, 1);

    std::vector<uint8_t> line(size_t(bpl) * planes);
    RowProgress progress(req.status, ht);
    for (int32_t y = 0; y < ht; ++y) {
        if (progress.step(y)) return KERV_STOPPED;
        const uint8_t* r = DIBRowFromTop(dh, y);
        std::fill(line.begin(), line.end(), 0);
        if (bits == 24) {
            for (int32_t x = 0; x < w; ++x) {
                line[x] = r[3 * x + 2];
                line[bpl + x] = r[3 * x + 1];
                line[2 * bpl + x] = r[3 * x];
            }
        } else if (bits == 4) {
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t v = PixelIndex(r, x, 4);
                for (int p = 0; p < 4; ++p)
                    if (v >> p & 1) line[p * bpl + (x >> 3)] |= uint8_t(0x80 >> (x & 7));
            }
        } else {
            std::copy_n(r, (uint32_t(w) * bits + 7) / 8, line.begin());
            if (invert)
                for (uint32_t i = 0; i < bpl; ++i) line[i] = uint8_t(~line[i]);
        }
        for (int p = 0; p < planes; ++p) EncodeLine(line.data() + size_t(p) * bpl, bpl, out);
    }
    if (bits == 8) {
        out->push_back(0x0C);
        for (uint32_t i = 0; i < 256; ++i) {
            const RGBQUAD c = i < have ? pal[i] : RGBQUAD{0, 0, 0, 0};
            out->push_back(c.rgbRed);
            out->push_back(c.rgbGreen);
            out->push_back(c.rgbBlue);
        }
    }
    progress.end();
    return KERV_OK;
}
