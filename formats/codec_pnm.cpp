// Netpbm files: PBM, PGM and PPM, plain (ASCII) or raw, any maxval.
//
// Read: P1..P6, the first image of the file. PBM becomes a 1-bit DIB
// (entry 0 black, 1 white), PGM an 8-bit greyscale DIB, PPM a 24-bit DIB;
// samples are scaled from maxval to 0..255, rounding; samples above maxval
// count as maxval.
// Write: the format value picks the kind (22 PBM, 25 PGM, 29 PPM), variant
// 91 raw, anything else plain, maxval 255. PBM needs a 1-bit image (the
// darker palette colour is written as black); PGM writes the grey value of
// each pixel (the index itself for a greyscale DIB); PPM takes any depth.
#include "formats/codec.h"
#include "formats/codec_util.h"

#include <algorithm>
#include <cstdio>

using namespace codec;

namespace {

bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Skips white space and comments.
void SkipSpace(Reader& in) {
    uint8_t c;
    for (;;) {
        const size_t at = in.pos();
        if (!in.byte(&c)) return;
        if (IsSpace(c)) continue;
        if (c == '#') {
            while (in.byte(&c) && c != '\n' && c != '\r') {
            }
            continue;
        }
        in.seek(at);
        return;
    }
}

// A decimal header field or plain sample; false when none is there.
bool ReadNumber(Reader& in, uint32_t* v, uint32_t maxDigits = 10) {
    SkipSpace(in);
    uint64_t n = 0;
    uint32_t digits = 0;
    uint8_t c;
    for (;;) {
        const size_t at = in.pos();
        if (!in.byte(&c)) break;
        if (c < '0' || c > '9') {
            in.seek(at);
            break;
        }
        n = n * 10 + (c - '0');
        if (++digits > maxDigits || n > 0xFFFFFFFFu) return false;
    }
    if (digits == 0) return false;
    *v = uint32_t(n);
    return true;
}

inline uint8_t Scale(uint32_t v, uint32_t maxval) {
    if (v >= maxval) return 255;
    if (maxval == 255) return uint8_t(v);
    return uint8_t((uint64_t(v) * 255 + maxval / 2) / maxval);
}

}  // namespace

KervErrorCode DecodePXM(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info) {
    if (!dib) return KERV_INVALID_PARAM;
    *dib = nullptr;
    if (!req.data) return KERV_INVALID_PARAM;
    Reader in(req.data, req.size);
    const uint8_t* m = in.take(2);
    if (!m || m[0] != 'P' || m[1] < '1' || m[1] > '6') return KERV_CORRUPT_FILE;
    const int kind = m[1] - '0';
    const bool plain = kind <= 3;
    const int type = (kind - 1) % 3;  // 0 bitmap, 1 grey, 2 colour
    uint32_t w, ht, maxval = 1;
    if (!ReadNumber(in, &w) || !ReadNumber(in, &ht)) return KERV_CORRUPT_FILE;
    if (type != 0 && (!ReadNumber(in, &maxval) || maxval == 0 || maxval > 65535)) return KERV_CORRUPT_FILE;
    if (!plain) {
        uint8_t c;  // exactly one white-space byte before the raster
        if (!in.byte(&c) || !IsSpace(c)) return KERV_CORRUPT_FILE;
    }
    const int outBits = type == 0 ? 1 : type == 1 ? 8 : 24;
    KOwnedHandle out;
    if (KervErrorCode e = NewOutputDIB(w, ht, outBits, type == 2 ? 0 : type == 0 ? 2 : 256, &out)) return e;
    {
        DIBLock d(out.get());
        if (!d) return KERV_NO_MEMORY;
        RGBQUAD* pal = d.palette();
        if (type == 0) pal[0] = {0, 0, 0, 0}, pal[1] = {255, 255, 255, 0};
        if (type == 1)
            for (int i = 0; i < 256; ++i) pal[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
        const uint32_t samples = type == 2 ? 3 : 1;
        const uint32_t sampleBytes = maxval > 255 ? 2 : 1;
        RowProgress progress(req.status, int32_t(ht));
        for (uint32_t y = 0; y < ht; ++y) {
            if (progress.step(int32_t(y))) return KERV_STOPPED;
            uint8_t* o = DIBRowFromTop(d.header(), int32_t(y));
            if (type == 0 && !plain) {
                const uint32_t bytes = (w + 7) / 8;
                const uint8_t* p = in.take(bytes);
                if (!p) return KERV_CORRUPT_FILE;
                for (uint32_t i = 0; i < bytes; ++i) o[i] = uint8_t(~p[i]);  // 1 is black
                continue;
            }
            if (type == 0) {
                for (uint32_t x = 0; x < w; ++x) {
                    SkipSpace(in);
                    uint8_t c;
                    if (!in.byte(&c) || (c != '0' && c != '1')) return KERV_CORRUPT_FILE;
                    SetPixelIndex(o, int(x), 1, c == '0');
                }
                continue;
            }
            if (!plain) {
                const uint8_t* p = in.take(size_t(w) * samples * sampleBytes);
                if (!p) return KERV_CORRUPT_FILE;
                for (uint32_t x = 0; x < w; ++x)
                    for (uint32_t s = 0; s < samples; ++s) {
                        const uint8_t* q = p + (size_t(x) * samples + s) * sampleBytes;
                        const uint32_t v = sampleBytes == 2 ? uint32_t(q[0]) << 8 | q[1] : q[0];
                        // PPM is red, green, blue; the DIB blue, green, red.
                        o[type == 2 ? 3 * x + 2 - s : x] = Scale(v, maxval);
                    }
                continue;
            }
            for (uint32_t x = 0; x < w; ++x)
                for (uint32_t s = 0; s < samples; ++s) {
                    uint32_t v;
                    if (!ReadNumber(in, &v)) return KERV_CORRUPT_FILE;
                    o[type == 2 ? 3 * x + 2 - s : x] = Scale(v, maxval);
                }
        }
        progress.end();
    }
    if (info) {
        info->attributes = {};
        info->options.format = type == 0 ? 22 : type == 1 ? 25 : 29;
        info->options.variant = plain ? 90 : 91;
    }
    *dib = out.release();
    return KERV_OK;
}

namespace {

// Plain samples, lines kept under 70 characters.
class PlainWriter {
  public:
    explicit PlainWriter(std::vector<uint8_t>* o) : o_(o) {}
    void number(uint32_t v, bool tight = false) {
        char buf[12];
        const int n = std::snprintf(buf, sizeof buf, "%u", v);
        if (col_ + n + 1 > 70) newline();
        else if (col_ > 0 && !tight) o_->push_back(' '), ++col_;
        o_->insert(o_->end(), buf, buf + n);
        col_ += n;
    }
    void newline() {
        if (col_ > 0) o_->push_back('\n');
        col_ = 0;
    }

  private:
    std::vector<uint8_t>* o_;
    int col_ = 0;
};

}  // namespace

KervErrorCode EncodePXM(const EncodeRequest& req, std::vector<uint8_t>* out) {
    if (!out || !req.dib) return KERV_INVALID_PARAM;
    DIBLock d(req.dib);
    if (!d || !IsUsableDIB(d.header(), KML_GlobalSize(req.dib))) return KERV_INVALID_PARAM;
    const BITMAPINFOHEADER* dh = d.header();
    const int bits = d.bitCount();
    const int32_t w = d.width(), ht = d.height();
    const FormatOptions* opt = req.info ? &req.info->options : nullptr;
    const int format = opt ? opt->format : 29;
    const int type = format == 22 ? 0 : format == 25 ? 1 : 2;
    const bool raw = opt && opt->variant == 91;
    if (type == 0 && bits != 1) return KERV_INVALID_PARAM;
    const uint32_t have = bits <= 8 ? DIBPaletteEntries(dh) : 0;
    const RGBQUAD* pal = d.palette();
    const bool greyIndex = type == 1 && IsPaletteKervGreyScale(dh);

    char head[64];
    const int kind = type + 1 + (raw ? 3 : 0);
    const int n = type == 0 ? std::snprintf(head, sizeof head, "P%d\n%d %d\n", kind, w, ht)
                            : std::snprintf(head, sizeof head, "P%d\n%d %d\n255\n", kind, w, ht);
    out->assign(head, head + n);
    // For PBM: which index is black (1 in the file).
    uint8_t blackIndex = 0;
    if (type == 0 && have >= 2) {
        auto lum = [](RGBQUAD c) { return 299 * c.rgbRed + 587 * c.rgbGreen + 114 * c.rgbBlue; };
        blackIndex = lum(pal[1]) < lum(pal[0]) ? 1 : 0;
    }
    PlainWriter plainOut(out);
    std::vector<uint8_t> line;
    RowProgress progress(req.status, ht);
    for (int32_t y = 0; y < ht; ++y) {
        if (progress.step(y)) return KERV_STOPPED;
        const uint8_t* r = DIBRowFromTop(dh, y);
        line.clear();
        if (type == 0) {
            const uint32_t bytes = (uint32_t(w) + 7) / 8;
            for (uint32_t i = 0; i < bytes; ++i) line.push_back(blackIndex ? r[i] : uint8_t(~r[i]));
            if (w & 7) line.back() = uint8_t(line.back() & (0xFF << (8 - (w & 7))));
            if (raw) {
                out->insert(out->end(), line.begin(), line.end());
            } else {
                for (int32_t x = 0; x < w; ++x) plainOut.number((line[x >> 3] >> (7 - (x & 7))) & 1, true);
                plainOut.newline();
            }
            continue;
        }
        for (int32_t x = 0; x < w; ++x) {
            if (greyIndex) {
                line.push_back(r[x]);
                continue;
            }
            uint8_t bgr[3];
            PixelColor(r, x, bits, pal, have, bgr);
            if (type == 1) {
                line.push_back(uint8_t((299 * bgr[2] + 587 * bgr[1] + 114 * bgr[0] + 500) / 1000));
            } else {
                line.push_back(bgr[2]);
                line.push_back(bgr[1]);
                line.push_back(bgr[0]);
            }
        }
        if (raw) {
            out->insert(out->end(), line.begin(), line.end());
        } else {
            for (uint8_t v : line) plainOut.number(v);
            plainOut.newline();
        }
    }
    progress.end();
    return KERV_OK;
}
