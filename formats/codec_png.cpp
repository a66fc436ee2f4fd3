// PNG through libpng.
//
// Reading keeps what a DIB can hold: palette images keep their palette in
// file order (2-bit samples widened to 4 bits), grey images become grey-ramp
// palettes (8 and 16 bits the canonical 256-level greyscale), colour becomes
// 24 bits. Alpha is composited onto white; a palette entry or grey level
// that is fully transparent is recorded as the transparent index instead.
//
// libpng reports errors by longjmp. The setjmp frames live in the *Body
// functions, which hold no object with a destructor; everything they
// acquire is recorded in the state record and released by the caller on
// both paths.
#include "formats/codec.h"
#include "formats/codec_lib_util.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <new>

namespace {

using namespace brellix::codec;

inline constexpr int32_t kPngFormat = 28;

// Picks the code for a libpng error message: memory failures stay memory
// failures, everything else is damaged data.
KervErrorCode CodeForPngMessage(const char* msg) {
    if (!msg) return KERV_CORRUPT_FILE;
    for (const char* p = msg; *p; ++p) {
        if ((p[0] == 'm' || p[0] == 'M') && std::strncmp(p + 1, "emory", 5) == 0)
            return KERV_NO_MEMORY;
    }
    return KERV_CORRUPT_FILE;
}

// ---- Reading ----

struct PngReadState {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    KervErrorCode failure = KERV_OK; // set by whoever raises a libpng error
    StatusControlBlock* status = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    KHANDLE dib = nullptr;           // freed by the caller unless handed out
    BITMAPINFOHEADER* hdr = nullptr; // dib, while locked
    KHANDLE scratch = nullptr;
    uint8_t* scratchPtr = nullptr; // scratch, while locked
    ImageFileInfo found;
};

void PngReadError(png_structp png, png_const_charp msg) {
    auto* s = static_cast<PngReadState*>(png_get_error_ptr(png));
    if (s->failure == KERV_OK) s->failure = CodeForPngMessage(msg);
    png_longjmp(png, 1);
}

void PngSilentWarning(png_structp, png_const_charp) {}

void PngReadData(png_structp png, png_bytep out, size_t length) {
    auto* s = static_cast<PngReadState*>(png_get_io_ptr(png));
    if (length > s->size - s->pos) {
        s->failure = KERV_CORRUPT_FILE;
        png_error(png, "truncated");
    }
    std::memcpy(out, s->data + s->pos, length);
    s->pos += length;
}

// How the rows libpng delivers become DIB rows.
enum class RowKind {
    Direct,     // libpng's row is the DIB row
    TwoBit,     // 2-bit samples widened to 4-bit nibbles
    GreyAlpha,  // grey + alpha over white to 8-bit grey
    ColourAlpha // blue, green, red, alpha over white to 24 bits
};

void ConvertPngRow(RowKind kind, const uint8_t* src, uint32_t width, uint8_t* dst) {
    switch (kind) {
    case RowKind::TwoBit:
        Expand2To4(src, width, dst);
        break;
    case RowKind::GreyAlpha:
        for (uint32_t x = 0; x < width; ++x)
            dst[x] = OverWhite(src[2 * x], src[2 * x + 1]);
        break;
    case RowKind::ColourAlpha:
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = src + 4 * x;
            dst[3 * x] = OverWhite(p[0], p[3]);
            dst[3 * x + 1] = OverWhite(p[1], p[3]);
            dst[3 * x + 2] = OverWhite(p[2], p[3]);
        }
        break;
    case RowKind::Direct:
        break;
    }
}

KervErrorCode DecodePngBody(PngReadState* s) {
    if (setjmp(png_jmpbuf(s->png))) return s->failure != KERV_OK ? s->failure : KERV_CORRUPT_FILE;

    png_structp png = s->png;
    png_infop info = s->info;
    png_set_read_fn(png, s, PngReadData);
    // Our own dimension check decides what is too large, with its own code.
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    // Metadata chunks are buffered whole; a hostile length must not make
    // libpng allocate (and clear) gigabytes for them.
    png_set_chunk_malloc_max(png, size_t{8} << 20);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int fileDepth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &fileDepth, &colourType, &interlace, nullptr, nullptr);

    int bits = 24;
    RowKind kind = RowKind::Direct;
    uint32_t entries = 0;
    uint16_t transparent = KERV_NO_TRANSPARENCY;
    png_bytep trnsAlpha = nullptr;
    int trnsCount = 0;
    png_color_16p trnsColour = nullptr;
    const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (hasTrns) png_get_tRNS(png, info, &trnsAlpha, &trnsCount, &trnsColour);

    switch (colourType) {
    case PNG_COLOR_TYPE_PALETTE:
        bits = fileDepth == 1 ? 1 : fileDepth <= 4 ? 4 : 8;
        if (fileDepth == 2) kind = RowKind::TwoBit;
        entries = 1u << bits;
        break;
    case PNG_COLOR_TYPE_GRAY:
        bits = fileDepth == 1 ? 1 : fileDepth <= 4 ? 4 : 8;
        if (fileDepth == 2) kind = RowKind::TwoBit;
        if (fileDepth == 16) png_set_scale_16(png);
        entries = 1u << bits;
        if (hasTrns && trnsColour) {
            uint32_t level = trnsColour->gray;
            if (fileDepth == 16) level = (level * 255u + 32895u) >> 16;
            if (level < (1u << (fileDepth > 8 ? 8 : fileDepth)))
                transparent = static_cast<uint16_t>(level);
        }
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        bits = 8;
        entries = 256;
        kind = RowKind::GreyAlpha;
        png_set_scale_16(png);
        break;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_RGB_ALPHA:
        bits = 24;
        png_set_scale_16(png);
        png_set_bgr(png);
        if (colourType == PNG_COLOR_TYPE_RGB_ALPHA || hasTrns) {
            // A colour key is one more kind of alpha.
            if (hasTrns) png_set_tRNS_to_alpha(png);
            kind = RowKind::ColourAlpha;
        }
        break;
    default:
        return KERV_CORRUPT_FILE;
    }

    const KervErrorCode sizeCheck = CheckDecodeDimensions(width, height, bits);
    if (sizeCheck != KERV_OK) return sizeCheck;

    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);

    s->dib = AllocDIB(static_cast<int32_t>(width), static_cast<int32_t>(height), bits, entries);
    if (!s->dib) return KERV_NO_MEMORY;
    s->hdr = static_cast<BITMAPINFOHEADER*>(KML_GlobalLock(s->dib));
    if (!s->hdr) return KERV_NO_MEMORY;
    BITMAPINFOHEADER* h = s->hdr;
    RGBQUAD* pal = DIBPalette(h);

    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp plte = nullptr;
        int count = 0;
        if (!png_get_PLTE(png, info, &plte, &count) || count < 1) return KERV_CORRUPT_FILE;
        const uint32_t n =
            static_cast<uint32_t>(count) < entries ? static_cast<uint32_t>(count) : entries;
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t a = 255;
            if (trnsAlpha && i < static_cast<uint32_t>(trnsCount)) a = trnsAlpha[i];
            if (a == 0 && transparent == KERV_NO_TRANSPARENCY) {
                // The transparent entry keeps its colour, so it survives a round trip.
                transparent = static_cast<uint16_t>(i);
                a = 255;
            }
            pal[i] = RGBQUAD{OverWhite(plte[i].blue, a), OverWhite(plte[i].green, a),
                             OverWhite(plte[i].red, a), 0};
        }
    } else if (bits <= 8) {
        FillGreyRamp(pal, fileDepth >= 8 ? 256u : 1u << fileDepth);
    }

    png_uint_32 xppm = 0, yppm = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &xppm, &yppm, &unit) && unit == PNG_RESOLUTION_METER && xppm > 0 &&
        xppm <= 0x7fffffff && yppm <= 0x7fffffff) {
        h->biXPelsPerMeter = static_cast<int32_t>(xppm);
        h->biYPelsPerMeter = static_cast<int32_t>(yppm ? yppm : xppm);
        s->found.attributes.resolution = DpiFromPelsPerMetre(xppm);
        s->found.attributes.resolutionUnit = 1;
    }
    s->found.transparentIndex = transparent;
    s->found.options.format = kPngFormat;
    s->found.options.interlace = interlace != PNG_INTERLACE_NONE ? 1 : 0;

    // Rows that need converting go through scratch memory: one row, or the
    // whole image when passes revisit every row.
    const uint32_t stride = DIBStride(h);
    if (kind != RowKind::Direct) {
        const uint64_t scratchBytes = uint64_t{rowBytes} * (passes > 1 ? height : 1);
        if (scratchBytes > KML_MaxBlockSize()) return KERV_IMAGE_TOO_LARGE;
        s->scratch = KML_GlobalAlloc(KMEM_GHND, static_cast<size_t>(scratchBytes));
        if (!s->scratch) return KERV_NO_MEMORY;
        s->scratchPtr = static_cast<uint8_t*>(KML_GlobalLock(s->scratch));
        if (!s->scratchPtr) return KERV_NO_MEMORY;
    } else if (rowBytes > stride) {
        return KERV_CORRUPT_FILE;
    }

    ProgressReporter progress(s->status);
    progress.begin(static_cast<int32_t>(height) * passes);
    uint8_t* bitsPtr = DIBBits(h);
    for (int pass = 0; pass < passes; ++pass) {
        const bool last = pass == passes - 1;
        for (uint32_t y = 0; y < height; ++y) {
            if (progress.step(static_cast<int32_t>(pass * height + y))) return KERV_STOPPED;
            uint8_t* dibRow = bitsPtr + size_t(height - 1 - y) * stride;
            if (kind == RowKind::Direct) {
                png_read_row(png, dibRow, nullptr);
            } else {
                uint8_t* src = s->scratchPtr + (passes > 1 ? size_t(y) * rowBytes : 0);
                png_read_row(png, src, nullptr);
                if (last) ConvertPngRow(kind, src, width, dibRow);
            }
        }
    }
    // The rest of the file is checked too: a file cut after its pixels is
    // still a damaged file.
    png_read_end(png, nullptr);
    progress.end();
    return KERV_OK;
}

// ---- Writing ----

struct PngWriteState {
    std::vector<uint8_t>* out = nullptr;
    KervErrorCode failure = KERV_OK;
    png_structp png = nullptr;
    png_infop info = nullptr;
    const BITMAPINFOHEADER* hdr = nullptr;
    const EncodeRequest* req = nullptr;
};

void PngWriteError(png_structp png, png_const_charp msg) {
    auto* s = static_cast<PngWriteState*>(png_get_error_ptr(png));
    if (s->failure == KERV_OK) {
        const KervErrorCode c = CodeForPngMessage(msg);
        s->failure = c == KERV_NO_MEMORY ? c : KERV_CODEC_FAILURE;
    }
    png_longjmp(png, 1);
}

void PngWriteData(png_structp png, png_bytep data, size_t length) {
    auto* s = static_cast<PngWriteState*>(png_get_io_ptr(png));
    bool failed = false;
    try {
        s->out->insert(s->out->end(), data, data + length);
    } catch (...) {
        failed = true;
    }
    if (failed) {
        s->failure = KERV_NO_MEMORY;
        png_error(png, "out of memory");
    }
}

void PngFlush(png_structp) {}

KervErrorCode EncodePngBody(PngWriteState* s) {
    if (setjmp(png_jmpbuf(s->png))) return s->failure != KERV_OK ? s->failure : KERV_CODEC_FAILURE;

    png_structp png = s->png;
    png_infop info = s->info;
    const BITMAPINFOHEADER* h = s->hdr;
    const EncodeRequest& req = *s->req;
    const int bits = h->biBitCount;
    const uint32_t width = static_cast<uint32_t>(h->biWidth);
    const uint32_t height = static_cast<uint32_t>(h->biHeight);
    const bool interlace = req.info && req.info->options.interlace;

    png_set_write_fn(png, s, PngWriteData, PngFlush);
    const int interlaceType = interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;

    if (bits == 24) {
        png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, interlaceType,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    } else {
        const RGBQUAD* pal = DIBPalette(h);
        const uint32_t have = UsablePaletteEntries(h);
        if (IsGreyRamp(pal, have, bits)) {
            png_set_IHDR(png, info, width, height, bits, PNG_COLOR_TYPE_GRAY, interlaceType,
                         PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            const uint16_t t = TransparentIndexToWrite(req, have);
            if (t != KERV_NO_TRANSPARENCY) {
                png_color_16 key{};
                key.gray = t;
                png_set_tRNS(png, info, nullptr, 0, &key);
            }
        } else {
            // Every index the pixels use gets an entry, so the file is valid
            // even when the DIB carries fewer entries than its depth allows.
            uint32_t count = have;
            const uint32_t used = IndicesUsed(h);
            if (used > count) count = used;
            const uint16_t t = TransparentIndexToWrite(req, 1u << bits);
            if (t != KERV_NO_TRANSPARENCY && t >= count) count = t + 1u;
            if (count < 1) count = 1;
            png_color plte[256];
            for (uint32_t i = 0; i < count; ++i) {
                if (i < have)
                    plte[i] = png_color{pal[i].rgbRed, pal[i].rgbGreen, pal[i].rgbBlue};
                else
                    plte[i] = png_color{0, 0, 0};
            }
            png_set_IHDR(png, info, width, height, bits, PNG_COLOR_TYPE_PALETTE, interlaceType,
                         PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_set_PLTE(png, info, plte, static_cast<int>(count));
            if (t != KERV_NO_TRANSPARENCY) {
                png_byte alpha[256];
                std::memset(alpha, 255, sizeof alpha);
                alpha[t] = 0;
                png_set_tRNS(png, info, alpha, t + 1, nullptr);
            }
        }
    }

    // Resolution: the caller's, else the DIB's own.
    uint32_t xppm = 0, yppm = 0;
    if (req.info &&
        (req.info->attributes.resolutionUnit == 1 || req.info->attributes.resolutionUnit == 2)) {
        xppm = yppm = static_cast<uint32_t>(
            PelsPerMetre(req.info->attributes.resolution, req.info->attributes.resolutionUnit));
    }
    if (xppm == 0 && h->biXPelsPerMeter > 0) {
        xppm = static_cast<uint32_t>(h->biXPelsPerMeter);
        yppm = h->biYPelsPerMeter > 0 ? static_cast<uint32_t>(h->biYPelsPerMeter) : xppm;
    }
    if (xppm > 0) png_set_pHYs(png, info, xppm, yppm, PNG_RESOLUTION_METER);

    // Continuous-tone images (24 bits, greys) compress as well with run
    // lengths after the row filters as with full deflate, at a fraction of
    // the time; palette images keep deflate's string matching, which finds
    // the repeated patterns of drawings and screenshots.
    const bool continuousTone = bits == 24 || (bits == 8 && IsPaletteKervGreyScale(h));
    if (continuousTone) png_set_compression_strategy(png, Z_RLE);

    png_write_info(png, info);
    if (bits == 24) png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);

    ProgressReporter progress(req.status);
    progress.begin(static_cast<int32_t>(height) * passes);
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < height; ++y) {
            if (progress.step(static_cast<int32_t>(pass * height + y))) return KERV_STOPPED;
            png_write_row(png, DIBRowFromTop(h, static_cast<int32_t>(y)));
        }
    }
    png_write_end(png, info);
    progress.end();
    return KERV_OK;
}

} // namespace

KervErrorCode DecodePNG(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info) {
    if (!dib) return KERV_INVALID_PARAM;
    *dib = nullptr;
    if (!req.data && req.size) return KERV_INVALID_PARAM;
    if (req.size < 8 || png_sig_cmp(req.data, 0, 8) != 0) return KERV_CORRUPT_FILE;

    PngReadState s;
    s.data = req.data;
    s.size = req.size;
    s.status = req.status;
    s.found.options = req.options;
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s, PngReadError, PngSilentWarning);
    if (!s.png) return KERV_NO_MEMORY;
    s.info = png_create_info_struct(s.png);
    const KervErrorCode rc = s.info ? DecodePngBody(&s) : KERV_NO_MEMORY;
    png_destroy_read_struct(&s.png, s.info ? &s.info : nullptr, nullptr);
    if (s.scratchPtr) KML_GlobalUnlock(s.scratch);
    if (s.scratch) KML_GlobalFree(s.scratch);
    if (s.hdr) KML_GlobalUnlock(s.dib);
    if (rc != KERV_OK) {
        if (s.dib) KML_GlobalFree(s.dib);
        return rc;
    }
    *dib = s.dib;
    if (info) *info = s.found;
    return KERV_OK;
}

KervErrorCode EncodePNG(const EncodeRequest& req, std::vector<uint8_t>* out) {
    if (!out || !req.dib) return KERV_INVALID_PARAM;
    DIBLock d(req.dib);
    if (!d) return KERV_INVALID_PARAM;

    PngWriteState s;
    s.out = out;
    s.hdr = d.header();
    s.req = &req;
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &s, PngWriteError, PngSilentWarning);
    if (!s.png) return KERV_NO_MEMORY;
    s.info = png_create_info_struct(s.png);
    const KervErrorCode rc = s.info ? EncodePngBody(&s) : KERV_NO_MEMORY;
    png_destroy_write_struct(&s.png, s.info ? &s.info : nullptr);
    return rc;
}
