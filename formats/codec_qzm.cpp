// QZM: reading through the layer conduit, writing flat images and layer lists.
//
// Before anything is allocated for the canvas or a layer, the sizes are held
// against the file: the canvas may have at most 16 Mpixels plus 64 pixels
// for each byte of the file (a layered file's canvas is not backed by pixel
// data of its own), and each layer's pixel data must be able to hold its
// rectangle (plain rows: exactly; PackBits: two bytes per 128; deflate:
// 1/1032).
#include "formats/codec_qzm.h"

#include "formats/codec_util.h"
#include "formats/dibroutines.h"
#include "formats/packbits.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

using namespace codec;

namespace {

constexpr size_t kHeaderFixed = 30; // up to the palette
constexpr size_t kRecordSize = 96;
constexpr size_t kRecordCrcAt = 92;
constexpr uint64_t kFreeCanvasPixels = uint64_t{1} << 24;
constexpr uint64_t kCanvasPixelsPerByte = 64;

// Mask flags as stored.
constexpr uint8_t kStoredMaskPresent = 0x01;
constexpr uint8_t kStoredMaskEnabled = 0x02;
constexpr uint8_t kStoredMaskInverted = 0x04;

uint32_t Crc(uint32_t crc, const uint8_t* p, size_t n) {
    while (n > 0) {
        const uInt chunk = uInt(std::min<size_t>(n, UINT_MAX / 2));
        crc = uint32_t(crc32(crc, p, chunk));
        p += chunk, n -= chunk;
    }
    return crc;
}

inline void PutI32(uint8_t* p, int32_t v) {
    Set32(p, uint32_t(v));
}
inline int32_t I32(const uint8_t* p) {
    return static_cast<int32_t>(Le32(p));
}

uint64_t RowBytes(int bits, uint64_t width) {
    return (uint64_t(bits) * width + 7) / 8;
}

bool ValidCompression(int c) {
    return c == kQzmUncompressed || c == kQzmPackBits || c == kQzmDeflate;
}
bool ValidDepth(int bits) {
    return bits == 1 || bits == 8 || bits == 24;
}

// Whether `size` bytes of stored rows can hold height rows of rowBytes.
bool RowsFit(int compression, uint64_t size, uint64_t rowBytes, uint64_t height) {
    switch (compression) {
    case kQzmUncompressed:
        return size == rowBytes * height;
    case kQzmPackBits:
        return size >= height * PackBitsMinimumSize(rowBytes);
    default:
        return size * kDeflateMaxRatio >= rowBytes * height;
    }
}

// ---- Rows in and out ----

bool EncodeRows(const DIBLock& d, int compression, std::vector<uint8_t>* out) {
    const size_t row = size_t(RowBytes(d.bitCount(), uint64_t(d.width())));
    if (compression == kQzmDeflate) {
        Deflater z(Z_DEFAULT_COMPRESSION, out);
        for (int32_t y = 0; y < d.height(); ++y)
            if (!z.Write(DIBRowFromTop(d.header(), y), row)) return false;
        return z.Finish();
    }
    for (int32_t y = 0; y < d.height(); ++y) {
        const uint8_t* r = DIBRowFromTop(d.header(), y);
        if (compression == kQzmPackBits)
            PackBits(r, row, out);
        else
            out->insert(out->end(), r, r + row);
    }
    return true;
}

KervErrorCode DecodeRows(const uint8_t* p, size_t size, int compression, const DIBLock& d) {
    const size_t row = size_t(RowBytes(d.bitCount(), uint64_t(d.width())));
    if (compression == kQzmDeflate) {
        Inflater z(p, size);
        for (int32_t y = 0; y < d.height(); ++y)
            if (!z.Read(DIBRowFromTop(d.header(), y), row)) return KERV_CORRUPT_FILE;
        return KERV_OK;
    }
    size_t at = 0;
    for (int32_t y = 0; y < d.height(); ++y) {
        uint8_t* r = DIBRowFromTop(d.header(), y);
        if (compression == kQzmPackBits) {
            size_t used = 0;
            if (!UnpackBits(p + at, size - at, r, row, &used)) return KERV_CORRUPT_FILE;
            at += used;
        } else {
            std::memcpy(r, p + at, row);
            at += row;
        }
    }
    return at == size ? KERV_OK : KERV_CORRUPT_FILE;
}

// A layer image or mask from its stored rows, checked before allocating.
KervErrorCode ReadImage(const uint8_t* p, size_t size, int compression, int64_t w, int64_t h,
                        int bits, const RGBQUAD* palette, uint32_t entries, KOwnedHandle* out) {
    if (w <= 0 || h <= 0) return KERV_CORRUPT_FILE;
    if (KervErrorCode e = CheckDecodeDimensions(uint64_t(w), uint64_t(h), bits)) return e;
    if (!RowsFit(compression, size, RowBytes(bits, uint64_t(w)), uint64_t(h)))
        return KERV_CORRUPT_FILE;
    out->reset(AllocDIB(int32_t(w), int32_t(h), bits, entries));
    if (!*out) return KERV_NO_MEMORY;
    DIBLock d(out->get());
    if (!d) return KERV_NO_MEMORY;
    if (entries) std::memcpy(d.palette(), palette, 4 * size_t(entries));
    return DecodeRows(p, size, compression, d);
}

// ---- The header ----

struct Header {
    uint16_t version = 0;
    LayeredFileInfo file;
    uint32_t layerCount = 0;
};

KervErrorCode ReadHeader(Reader& in, size_t fileSize, Header* hd) {
    const uint8_t* h = in.take(kHeaderFixed);
    if (!h || std::memcmp(h, kQzmMagic, sizeof kQzmMagic) != 0) return KERV_CORRUPT_FILE;
    const uint16_t container = Le16(h + 8);
    if (container == 0) return KERV_CORRUPT_FILE;
    if (container > kQzmContainerVersion) return KERV_UNSUPPORTED_VARIANT;
    hd->version = Le16(h + 10);
    LayeredFileInfo& f = hd->file;
    const uint32_t w = Le32(h + 12), ht = Le32(h + 16);
    f.bitCount = h[20];
    f.background = h[21];
    const int unit = h[22];
    const uint32_t resolution = Le32(h + 24);
    f.paletteCount = Le16(h + 28);
    if (hd->version < 3 || hd->version > 5 || !ValidDepth(f.bitCount) || unit > 2 || h[23] != 0)
        return KERV_CORRUPT_FILE;
    if (f.bitCount == 24 ? f.paletteCount != 0
                         : (f.paletteCount == 0 || f.paletteCount > (1u << f.bitCount)))
        return KERV_CORRUPT_FILE;
    if (KervErrorCode e = CheckDecodeDimensions(w, ht, std::max(f.bitCount, 8))) return e;
    if (uint64_t{w} * ht > kFreeCanvasPixels + kCanvasPixelsPerByte * fileSize)
        return KERV_IMAGE_TOO_LARGE;
    f.width = int32_t(w), f.height = int32_t(ht);
    f.attributes.resolutionUnit = unit;
    f.attributes.resolution = unit ? resolution / 1000.0 : 0.0;
    const uint8_t* pal = in.take(4 * size_t(f.paletteCount));
    const uint8_t* tail = in.take(8);
    if (!pal || !tail) return KERV_CORRUPT_FILE;
    std::memcpy(f.palette, pal, 4 * size_t(f.paletteCount));
    hd->layerCount = Le32(tail);
    if (Crc(0, h, size_t(tail + 4 - h)) != Le32(tail + 4)) return KERV_CORRUPT_FILE;
    if (hd->layerCount > in.left() / kRecordSize) return KERV_CORRUPT_FILE;
    return KERV_OK;
}

// ---- One layer ----

// Reads the record and its data at the reader's position; decodes the
// pixels only when the conduit will composite them. *compression receives
// the layer's.
KervErrorCode ReadLayer(Reader& in, const LayeredFileInfo& f, SLayerData* layer, int* compression) {
    const uint8_t* rec = in.take(kRecordSize);
    if (!rec) return KERV_CORRUPT_FILE;
    if (Le32(rec) != kRecordSize) return KERV_CORRUPT_FILE;
    const uint32_t pixSize = Le32(rec + 84), maskSize = Le32(rec + 88);
    const uint8_t* pix = in.take(pixSize);
    const uint8_t* mask = in.take(maskSize);
    if (!pix || !mask) return KERV_CORRUPT_FILE;
    uint32_t crc = Crc(0, rec, kRecordCrcAt);
    crc = Crc(crc, pix, pixSize);
    if (Crc(crc, mask, maskSize) != Le32(rec + kRecordCrcAt)) return KERV_CORRUPT_FILE;

    layer->type = rec[4];
    layer->flags = rec[5];
    layer->opacity = rec[6];
    layer->blendMode = rec[7];
    layer->rect = {I32(rec + 8), I32(rec + 12), I32(rec + 16), I32(rec + 20)};
    *compression = rec[24];
    const uint8_t storedMask = rec[25];
    layer->maskDefault = rec[26];
    layer->maskRect = {I32(rec + 28), I32(rec + 32), I32(rec + 36), I32(rec + 40)};
    std::memcpy(layer->blendRanges, rec + 44, kBlendRangeBytes);
    if (!ValidCompression(*compression) || rec[27] != 0) return KERV_CORRUPT_FILE;
    const int64_t w = int64_t{layer->rect.right} - layer->rect.left;
    const int64_t h = int64_t{layer->rect.bottom} - layer->rect.top;
    if (w < 0 || h < 0 || ((w == 0 || h == 0) && pixSize != 0)) return KERV_CORRUPT_FILE;
    if (!(storedMask & kStoredMaskPresent) && maskSize != 0) return KERV_CORRUPT_FILE;

    const bool composited =
        layer->type >= 0 && layer->type <= 2 && (layer->flags & kLayerVisible) && pixSize != 0;
    if (!composited) return KERV_OK;
    KOwnedHandle image, maskImage;
    const uint32_t entries = f.bitCount == 24 ? 0 : f.paletteCount;
    if (KervErrorCode e =
            ReadImage(pix, pixSize, *compression, w, h, f.bitCount, f.palette, entries, &image))
        return e;
    if ((storedMask & kStoredMaskPresent) && (storedMask & kStoredMaskEnabled)) {
        RGBQUAD grey[256];
        for (int i = 0; i < 256; ++i)
            grey[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
        const int64_t mw = int64_t{layer->maskRect.right} - layer->maskRect.left;
        const int64_t mh = int64_t{layer->maskRect.bottom} - layer->maskRect.top;
        if (KervErrorCode e =
                ReadImage(mask, maskSize, *compression, mw, mh, 8, grey, 256, &maskImage))
            return e;
        layer->maskFlags =
            kLayerMaskEnabled | ((storedMask & kStoredMaskInverted) ? kLayerMaskInverted : 0);
    }
    layer->image = image.release();
    layer->mask = maskImage.release();
    return KERV_OK;
}

void PutRecord(const SLayerData& l, int compression, uint8_t storedMask, const LayerRect& rect,
               const LayerRect& maskRect, uint8_t* rec) {
    std::memset(rec, 0, kRecordSize);
    Set32(rec, kRecordSize);
    rec[4] = uint8_t(l.type);
    rec[5] = uint8_t(l.flags);
    rec[6] = l.opacity;
    rec[7] = l.blendMode;
    PutI32(rec + 8, rect.left), PutI32(rec + 12, rect.top);
    PutI32(rec + 16, rect.right), PutI32(rec + 20, rect.bottom);
    rec[24] = uint8_t(compression);
    rec[25] = storedMask;
    rec[26] = l.maskDefault;
    PutI32(rec + 28, maskRect.left), PutI32(rec + 32, maskRect.top);
    PutI32(rec + 36, maskRect.right), PutI32(rec + 40, maskRect.bottom);
    std::memcpy(rec + 44, l.blendRanges, kBlendRangeBytes);
}

} // namespace

KervErrorCode DecodeQZM(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info) {
    if (!dib) return KERV_INVALID_PARAM;
    *dib = nullptr;
    if (!req.data) return KERV_INVALID_PARAM;
    Reader in(req.data, req.size);
    Header hd;
    if (KervErrorCode e = ReadHeader(in, req.size, &hd)) return e;
    LayerConduit conduit(hd.file);
    RowProgress progress(req.status, int32_t(hd.layerCount));
    int firstCompression = 0;
    for (uint32_t i = 0; i < hd.layerCount; ++i) {
        if (progress.step(int32_t(i))) return KERV_STOPPED;
        SLayerData layer;
        int compression = 0;
        KervErrorCode e = ReadLayer(in, hd.file, &layer, &compression);
        if (e == KERV_OK) e = conduit.AddLayer(&layer);
        FreeLayer(&layer);
        if (e) return e;
        if (i == 0) firstCompression = compression;
    }
    KHANDLE canvas = nullptr;
    if (KervErrorCode e = conduit.Finish(&canvas)) return e;
    {
        // Layer pixels and the background may name entries past a short palette.
        DIBLock d(canvas);
        if (d) ClampPaletteIndexes(d.header());
    }
    progress.end();
    if (info) {
        info->attributes = hd.file.attributes;
        info->options.format = 31;
        info->options.compression = firstCompression ? firstCompression : kQzmPackBits;
        info->options.version = hd.version;
    }
    *dib = canvas;
    return KERV_OK;
}

KervErrorCode EncodeQZMLayers(const QzmDocument& doc, std::span<const SLayerData> layers,
                              StatusControlBlock* status, std::vector<uint8_t>* out) {
    if (!out) return KERV_INVALID_PARAM;
    if (!ValidDepth(doc.bitCount) || !ValidCompression(doc.compression)) return KERV_INVALID_PARAM;
    if (doc.version < 3 || doc.version > 5) return KERV_INVALID_PARAM;
    if (doc.width < 1 || doc.height < 1 || doc.width > int32_t(KERV_MAX_DIMENSION) ||
        doc.height > int32_t(KERV_MAX_DIMENSION))
        return KERV_INVALID_PARAM;
    if (doc.bitCount == 24 ? doc.paletteCount != 0
                           : (doc.paletteCount == 0 || doc.paletteCount > (1u << doc.bitCount)))
        return KERV_INVALID_PARAM;
    if (layers.size() > UINT32_MAX) return KERV_INVALID_PARAM;

    out->clear();
    out->resize(kHeaderFixed);
    uint8_t* h = out->data();
    std::memcpy(h, kQzmMagic, sizeof kQzmMagic);
    Set16(h + 8, kQzmContainerVersion);
    Set16(h + 10, uint32_t(doc.version));
    Set32(h + 12, uint32_t(doc.width));
    Set32(h + 16, uint32_t(doc.height));
    h[20] = uint8_t(doc.bitCount);
    h[21] = doc.background;
    const double res = doc.attributes.resolution;
    const bool hasRes =
        (doc.attributes.resolutionUnit == 1 || doc.attributes.resolutionUnit == 2) && res > 0 &&
        res < 4e6;
    h[22] = hasRes ? uint8_t(doc.attributes.resolutionUnit) : 0;
    Set32(h + 24, hasRes ? uint32_t(std::lround(res * 1000)) : 0);
    Set16(h + 28, doc.paletteCount);
    for (uint32_t i = 0; i < doc.paletteCount; ++i) {
        const RGBQUAD& q = doc.palette[i];
        const uint8_t e[4] = {q.rgbBlue, q.rgbGreen, q.rgbRed, 0};
        out->insert(out->end(), e, e + 4);
    }
    Put32(out, uint32_t(layers.size()));
    Put32(out, Crc(0, out->data(), out->size()));

    RowProgress progress(status, int32_t(std::min<size_t>(layers.size(), INT32_MAX)));
    for (size_t i = 0; i < layers.size(); ++i) {
        if (progress.step(int32_t(i))) return KERV_STOPPED;
        const SLayerData& l = layers[i];
        LayerRect rect = l.rect, maskRect = l.maskRect;
        DIBLock img(l.image), msk(l.mask);
        if ((l.image && (!img || img.bitCount() != doc.bitCount || img->biCompression != 0)) ||
            (l.mask && (!msk || msk.bitCount() != 8 || msk->biCompression != 0)))
            return KERV_INVALID_PARAM;
        if (img) {
            rect.right = int32_t(int64_t{rect.left} + img.width());
            rect.bottom = int32_t(int64_t{rect.top} + img.height());
            if (int64_t{rect.left} + img.width() > INT32_MAX ||
                int64_t{rect.top} + img.height() > INT32_MAX)
                return KERV_INVALID_PARAM;
        }
        uint8_t storedMask = 0;
        if (msk) {
            if (int64_t{maskRect.left} + msk.width() > INT32_MAX ||
                int64_t{maskRect.top} + msk.height() > INT32_MAX)
                return KERV_INVALID_PARAM;
            maskRect.right = maskRect.left + msk.width();
            maskRect.bottom = maskRect.top + msk.height();
            storedMask = kStoredMaskPresent |
                         ((l.maskFlags & kLayerMaskEnabled) ? kStoredMaskEnabled : 0) |
                         ((l.maskFlags & kLayerMaskInverted) ? kStoredMaskInverted : 0);
        }
        const size_t recAt = out->size();
        out->resize(recAt + kRecordSize);
        PutRecord(l, doc.compression, storedMask, rect, maskRect, out->data() + recAt);
        const size_t pixAt = out->size();
        if (img && !EncodeRows(img, doc.compression, out)) return KERV_WRITE_FAILED;
        const size_t maskAt = out->size();
        if (msk && !EncodeRows(msk, doc.compression, out)) return KERV_WRITE_FAILED;
        const size_t end = out->size();
        if (maskAt - pixAt > UINT32_MAX || end - maskAt > UINT32_MAX) return KERV_INVALID_PARAM;
        uint8_t* rec = out->data() + recAt;
        Set32(rec + 84, uint32_t(maskAt - pixAt));
        Set32(rec + 88, uint32_t(end - maskAt));
        uint32_t crc = Crc(0, rec, kRecordCrcAt);
        crc = Crc(crc, out->data() + pixAt, end - pixAt);
        Set32(out->data() + recAt + kRecordCrcAt, crc);
    }
    progress.end();
    return KERV_OK;
}

KervErrorCode EncodeQZM(const EncodeRequest& req, std::vector<uint8_t>* out) {
    if (!out || !req.dib) return KERV_INVALID_PARAM;
    KOwnedHandle wide;
    {
        DIBLock d(req.dib);
        if (!d || d->biCompression != 0) return KERV_INVALID_PARAM;
        if (d.bitCount() == 4) { // stored as 8 bits, its palette kept
            KHANDLE w = nullptr;
            if (KervErrorCode e = IncreaseDIBDepth(nullptr, req.dib, &w, 8)) return e;
            wide.reset(w);
        }
    }
    KHANDLE image = wide ? wide.get() : req.dib;
    DIBLock d(image);
    if (!d) return KERV_NO_MEMORY;
    QzmDocument doc;
    doc.width = d.width(), doc.height = d.height(), doc.bitCount = d.bitCount();
    if (doc.bitCount != 24) {
        doc.paletteCount = std::min<uint32_t>(DIBPaletteEntries(d.header()), 1u << doc.bitCount);
        std::memcpy(doc.palette, d.palette(), 4 * size_t(doc.paletteCount));
    }
    const FormatOptions* o = req.info ? &req.info->options : nullptr;
    doc.compression = o && ValidCompression(o->compression) ? o->compression : kQzmPackBits;
    doc.version = o && o->version >= 3 && o->version <= 5 ? o->version : 4;
    if (req.info && req.info->attributes.resolution > 0 &&
        (req.info->attributes.resolutionUnit == 1 || req.info->attributes.resolutionUnit == 2)) {
        doc.attributes = req.info->attributes;
    } else if (d->biXPelsPerMeter > 0) {
        doc.attributes.resolution = d->biXPelsPerMeter / 100.0;
        doc.attributes.resolutionUnit = 2;
    }
    SLayerData layer; // borrows the image: never freed here
    layer.image = image;
    layer.rect = {0, 0, doc.width, doc.height};
    return EncodeQZMLayers(doc, std::span<const SLayerData>(&layer, 1), req.status, out);
}
