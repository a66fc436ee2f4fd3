// JPEG (and JIF) through libjpeg-turbo.
//
// Grey files become the canonical 8-bit greyscale DIB, colour files 24 bits,
// decoded straight into the DIB rows in blue-green-red order. CMYK and YCCK
// files are converted to RGB (Adobe's inverted CMYK when the Adobe marker
// says so). A file that ends early is refused rather than padded with grey.
//
// libjpeg reports errors through the error manager, which longjmps back to
// the *Body functions. They hold no object with a destructor; what they
// acquire is recorded in the state record and released by the caller.
#include "formats/codec.h"
#include "formats/codec_lib_util.h"

#include <cstdio> // jpeglib.h needs FILE and size_t first

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>

namespace {

using namespace brellix::codec;

inline constexpr int32_t kJpegFormat = 17;
inline constexpr int kMaxScans = 1000; // a hostile progressive file can hold millions
inline constexpr int kRowBatch = 16;

struct JpegErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    KervErrorCode failure = KERV_OK; // set by whoever raises the error
    KervErrorCode otherErrors = KERV_CORRUPT_FILE;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    if (e->failure == KERV_OK) {
        switch (e->pub.msg_code) {
        case JERR_OUT_OF_MEMORY:
        case JERR_NO_BACKING_STORE:
            e->failure = KERV_NO_MEMORY;
            break;
        case JERR_IMAGE_TOO_BIG:
            e->failure = KERV_IMAGE_TOO_LARGE;
            break;
        case JERR_CONVERSION_NOTIMPL:
            e->failure = KERV_UNSUPPORTED_VARIANT;
            break;
        default:
            e->failure = e->otherErrors;
            break;
        }
    }
    std::longjmp(e->jump, 1);
}

// Warnings are silent, except the two that say the data ran out (the file
// ends, or a marker comes before the scan is complete): libjpeg would carry
// on with made-up pixels.
void JpegEmitMessage(j_common_ptr cinfo, int level) {
    auto* e = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    if (level < 0) {
        ++e->pub.num_warnings;
        const int code = e->pub.msg_code;
        if ((code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) && cinfo->is_decompressor) {
            e->failure = KERV_CORRUPT_FILE;
            std::longjmp(e->jump, 1);
        }
    }
}

void JpegOutputMessage(j_common_ptr) {}

void InitErrorManager(JpegErrorManager* e, KervErrorCode otherErrors) {
    jpeg_std_error(&e->pub);
    e->pub.error_exit = JpegErrorExit;
    e->pub.emit_message = JpegEmitMessage;
    e->pub.output_message = JpegOutputMessage;
    e->otherErrors = otherErrors;
}

// The memory libjpeg may take for whole-image buffers (progressive files
// keep every coefficient): twice the largest block plus some room.
long JpegMemoryLimit() {
    const uint64_t limit = KML_MaxBlockSize() * 2 + (uint64_t{64} << 20);
    return static_cast<long>(std::min<uint64_t>(limit, uint64_t{1} << 40));
}

// ---- Reading ----

struct JpegReadState {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    jpeg_progress_mgr scanLimit;
    bool created = false;
    const uint8_t* data = nullptr;
    size_t size = 0;
    StatusControlBlock* status = nullptr;
    KHANDLE dib = nullptr;
    BITMAPINFOHEADER* hdr = nullptr;
    KHANDLE scratch = nullptr;
    uint8_t* scratchPtr = nullptr;
    ImageFileInfo found;
};

void JpegScanLimit(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) {
        auto* e = reinterpret_cast<JpegErrorManager*>(cinfo->err);
        e->failure = KERV_CORRUPT_FILE;
        std::longjmp(e->jump, 1);
    }
}

// CMYK samples to blue, green, red. Adobe's files store the inks inverted
// (255 = no ink), which is what libjpeg hands over.
void CmykRowToBGR(const uint8_t* src, uint32_t width, bool inverted, uint8_t* dst) {
    for (uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
        uint32_t c = src[0], m = src[1], y = src[2], k = src[3];
        if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        dst[0] = static_cast<uint8_t>((y * k + 127) / 255);
        dst[1] = static_cast<uint8_t>((m * k + 127) / 255);
        dst[2] = static_cast<uint8_t>((c * k + 127) / 255);
    }
}

KervErrorCode DecodeJpegBody(JpegReadState* s) {
    j_decompress_ptr c = &s->cinfo;
    if (setjmp(s->err.jump)) return s->err.failure != KERV_OK ? s->err.failure : KERV_CORRUPT_FILE;

    c->err = &s->err.pub;
    jpeg_create_decompress(c);
    s->created = true;
    c->mem->max_memory_to_use = JpegMemoryLimit();
    s->scanLimit = jpeg_progress_mgr{};
    s->scanLimit.progress_monitor = JpegScanLimit;
    c->progress = &s->scanLimit;
    jpeg_mem_src(c, s->data, static_cast<unsigned long>(s->size));
    jpeg_read_header(c, TRUE);

    int bits = 24;
    bool cmyk = false;
    switch (c->jpeg_color_space) {
    case JCS_GRAYSCALE:
        c->out_color_space = JCS_GRAYSCALE;
        bits = 8;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        c->out_color_space = JCS_CMYK;
        cmyk = true;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        c->out_color_space = JCS_EXT_BGR;
        break;
    default:
        return KERV_UNSUPPORTED_VARIANT;
    }
    const KervErrorCode sizeCheck = CheckDecodeDimensions(c->image_width, c->image_height, bits);
    if (sizeCheck != KERV_OK) return sizeCheck;

    jpeg_start_decompress(c);
    const uint32_t width = c->output_width;
    const uint32_t height = c->output_height;
    if (width != c->image_width || height != c->image_height) return KERV_CODEC_FAILURE;

    s->dib = AllocDIB(static_cast<int32_t>(width), static_cast<int32_t>(height), bits,
                      bits == 8 ? 256 : 0);
    if (!s->dib) return KERV_NO_MEMORY;
    s->hdr = static_cast<BITMAPINFOHEADER*>(KML_GlobalLock(s->dib));
    if (!s->hdr) return KERV_NO_MEMORY;
    BITMAPINFOHEADER* h = s->hdr;
    if (bits == 8) FillGreyRamp(DIBPalette(h), 256);

    if (c->saw_JFIF_marker && (c->density_unit == 1 || c->density_unit == 2) && c->X_density > 0)
        StoreResolution(h, &s->found.attributes, c->X_density, c->Y_density, c->density_unit);
    s->found.options.format = kJpegFormat;
    s->found.options.variant = c->progressive_mode ? 71 : 70;

    const uint32_t stride = DIBStride(h);
    uint8_t* bitsPtr = DIBBits(h);
    if (cmyk) {
        s->scratch = KML_GlobalAlloc(KMEM_MOVEABLE, size_t{4} * width * kRowBatch);
        if (!s->scratch) return KERV_NO_MEMORY;
        s->scratchPtr = static_cast<uint8_t*>(KML_GlobalLock(s->scratch));
        if (!s->scratchPtr) return KERV_NO_MEMORY;
    }
    const bool inverted = c->saw_Adobe_marker != 0;

    ProgressReporter progress(s->status);
    progress.begin(static_cast<int32_t>(height));
    JSAMPROW rows[kRowBatch];
    while (c->output_scanline < height) {
        const uint32_t y0 = c->output_scanline;
        if (progress.step(static_cast<int32_t>(y0))) return KERV_STOPPED;
        const uint32_t batch = std::min<uint32_t>(kRowBatch, height - y0);
        for (uint32_t i = 0; i < batch; ++i)
            rows[i] = cmyk ? s->scratchPtr + size_t{4} * width * i
                           : bitsPtr + size_t(height - 1 - (y0 + i)) * stride;
        const JDIMENSION got = jpeg_read_scanlines(c, rows, batch);
        if (got == 0) return KERV_CORRUPT_FILE;
        if (cmyk) {
            for (JDIMENSION i = 0; i < got; ++i)
                CmykRowToBGR(rows[i], width, inverted,
                             bitsPtr + size_t(height - 1 - (y0 + i)) * stride);
        }
    }
    jpeg_finish_decompress(c);
    progress.end();
    return KERV_OK;
}

// ---- Writing ----

inline constexpr size_t kOutputChunk = size_t{1} << 16;

struct JpegDestination {
    jpeg_destination_mgr pub;
    std::vector<uint8_t>* out = nullptr;
    size_t reserveHint = 0;
};

// Grows the output vector; false when memory is short.
bool GrowOutput(JpegDestination* d, size_t extra) {
    const size_t used = d->out->size();
    try {
        d->out->resize(used + extra);
    } catch (...) {
        return false;
    }
    d->pub.next_output_byte = d->out->data() + used;
    d->pub.free_in_buffer = extra;
    return true;
}

void JpegInitDestination(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
    if (!GrowOutput(d, std::max(kOutputChunk, d->reserveHint)))
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
}

boolean JpegEmptyOutput(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
    // The whole buffer is full: grow by the current size.
    if (!GrowOutput(d, std::max(kOutputChunk, d->out->size())))
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
    return TRUE;
}

void JpegTermDestination(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
    d->out->resize(d->out->size() - d->pub.free_in_buffer);
    d->pub.free_in_buffer = 0;
}

struct JpegWriteState {
    jpeg_compress_struct cinfo;
    JpegErrorManager err;
    JpegDestination dest;
    bool created = false;
    const BITMAPINFOHEADER* hdr = nullptr;
    const EncodeRequest* req = nullptr;
    KHANDLE scratch = nullptr;
    uint8_t* scratchPtr = nullptr;
};

KervErrorCode EncodeJpegBody(JpegWriteState* s) {
    j_compress_ptr c = &s->cinfo;
    if (setjmp(s->err.jump)) return s->err.failure != KERV_OK ? s->err.failure : KERV_CODEC_FAILURE;

    c->err = &s->err.pub;
    jpeg_create_compress(c);
    s->created = true;

    const BITMAPINFOHEADER* h = s->hdr;
    const EncodeRequest& req = *s->req;
    const uint32_t width = static_cast<uint32_t>(h->biWidth);
    const uint32_t height = static_cast<uint32_t>(h->biHeight);
    const int bits = h->biBitCount;
    const RGBQUAD* pal = DIBPalette(h);
    const uint32_t entries = UsablePaletteEntries(h);
    // Rows are handed over as they are for 24 bits and canonical greyscale;
    // other palette images go through a scratch row.
    const bool grey = bits <= 8 && IsAllGrey(pal, entries);
    const bool direct = bits == 24 || (bits == 8 && entries == 256 && IsGreyRamp(pal, 256, 8));
    if (width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) return KERV_IMAGE_TOO_LARGE;

    s->dest.pub.init_destination = JpegInitDestination;
    s->dest.pub.empty_output_buffer = JpegEmptyOutput;
    s->dest.pub.term_destination = JpegTermDestination;
    s->dest.reserveHint = size_t(width) * height / 4;
    c->dest = &s->dest.pub;

    c->image_width = width;
    c->image_height = height;
    c->input_components = grey ? 1 : 3;
    c->in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(c);

    const FormatOptions* o = req.info ? &req.info->options : nullptr;
    const int quality = std::clamp(100 - (o ? int{o->compressionFactor} : 15), 1, 100);
    jpeg_set_quality(c, quality, TRUE);
    if (o && o->variant == 71) jpeg_simple_progression(c);

    Resolution r;
    if (ResolutionToWrite(req, h, &r)) {
        const double v = std::floor(r.value + 0.5);
        c->density_unit = static_cast<UINT8>(r.unit);
        c->X_density = c->Y_density = static_cast<UINT16>(std::clamp(v, 1.0, 65535.0));
    }

    if (!direct) {
        s->scratch = KML_GlobalAlloc(KMEM_MOVEABLE, size_t{3} * width);
        if (!s->scratch) return KERV_NO_MEMORY;
        s->scratchPtr = static_cast<uint8_t*>(KML_GlobalLock(s->scratch));
        if (!s->scratchPtr) return KERV_NO_MEMORY;
    }

    jpeg_start_compress(c, TRUE);
    ProgressReporter progress(req.status);
    progress.begin(static_cast<int32_t>(height));
    JSAMPROW rows[kRowBatch];
    while (c->next_scanline < height) {
        const uint32_t y0 = c->next_scanline;
        if (progress.step(static_cast<int32_t>(y0))) return KERV_STOPPED;
        uint32_t batch = std::min<uint32_t>(kRowBatch, height - y0);
        if (direct) {
            for (uint32_t i = 0; i < batch; ++i)
                rows[i] = const_cast<uint8_t*>(DIBRowFromTop(h, static_cast<int32_t>(y0 + i)));
        } else {
            batch = 1;
            const uint8_t* src = DIBRowFromTop(h, static_cast<int32_t>(y0));
            if (grey) {
                UnpackRowTo8(src, bits, width, s->scratchPtr);
                for (uint32_t x = 0; x < width; ++x) {
                    const uint8_t v = s->scratchPtr[x];
                    s->scratchPtr[x] = v < entries ? pal[v].rgbRed : 0;
                }
            } else {
                PaletteRowToBGR(src, bits, width, pal, entries, s->scratchPtr);
            }
            rows[0] = s->scratchPtr;
        }
        jpeg_write_scanlines(c, rows, batch);
    }
    jpeg_finish_compress(c);
    progress.end();
    return KERV_OK;
}

} // namespace

KervErrorCode DecodeJPG(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info) {
    if (!dib) return KERV_INVALID_PARAM;
    *dib = nullptr;
    if (!req.data && req.size) return KERV_INVALID_PARAM;
    if (req.size < 3 || req.data[0] != 0xFF || req.data[1] != 0xD8) return KERV_CORRUPT_FILE;

    auto* s = new (std::nothrow) JpegReadState;
    if (!s) return KERV_NO_MEMORY;
    s->data = req.data;
    s->size = req.size;
    s->status = req.status;
    s->found.options = req.options;
    InitErrorManager(&s->err, KERV_CORRUPT_FILE);
    const KervErrorCode rc = DecodeJpegBody(s);
    if (s->created) jpeg_destroy_decompress(&s->cinfo);
    if (s->scratchPtr) KML_GlobalUnlock(s->scratch);
    if (s->scratch) KML_GlobalFree(s->scratch);
    if (s->hdr) KML_GlobalUnlock(s->dib);
    KHANDLE result = s->dib;
    const ImageFileInfo found = s->found;
    delete s;
    if (rc != KERV_OK) {
        if (result) KML_GlobalFree(result);
        return rc;
    }
    *dib = result;
    if (info) *info = found;
    return KERV_OK;
}

KervErrorCode EncodeJPG(const EncodeRequest& req, std::vector<uint8_t>* out) {
    if (!out || !req.dib) return KERV_INVALID_PARAM;
    DIBLock d(req.dib);
    if (!d) return KERV_INVALID_PARAM;

    auto* s = new (std::nothrow) JpegWriteState;
    if (!s) return KERV_NO_MEMORY;
    s->hdr = d.header();
    s->req = &req;
    s->dest.out = out;
    InitErrorManager(&s->err, KERV_CODEC_FAILURE);
    const KervErrorCode rc = EncodeJpegBody(s);
    if (s->created) jpeg_destroy_compress(&s->cinfo);
    if (s->scratchPtr) KML_GlobalUnlock(s->scratch);
    if (s->scratch) KML_GlobalFree(s->scratch);
    delete s;
    return rc;
}
