// Adobe Photoshop documents (PSD, version 1 of the format).
//
// Read: bitmap (1 bit), greyscale, indexed and RGB documents of 8 or 16 bits
// a channel; 16-bit samples become (v + 128) / 257. Channels may be raw,
// PackBits, or deflate with or without prediction. A document with layers
// is flattened through the layer conduit (formats/layer_conduit.h), layer by
// layer and bottom first, onto a canvas of the document's size that starts
// white (index 0 for indexed documents); the merged image stored after the
// layers is then not decoded. A document without layers is its merged image.
//
// Layer records give the rectangle, opacity, visibility (flag bit 1 set:
// hidden), blend mode key, blend ranges and masks. The transparency channel
// (-1) is the layer's mask; an enabled user mask (-2) is multiplied into it,
// or, without transparency, is the mask with its own rectangle and default.
// Group markers ("lsct") and layers whose pixels do not matter (flags 0x18)
// are not composited. Clipping groups, adjustment and effect layers are not
// applied.
//
// Write: the image as a flat document (no layers), PackBits rows: 24 bits
// as RGB, 8-bit greyscale as greyscale, other palette images as indexed;
// the resolution as the resolution resource (pixels per inch).
//
// Every length and offset of the file is checked against the bytes there
// are, and each channel's data must be able to hold its declared size
// (raw: all of it; PackBits: two bytes per 128; deflate: 1/1032) before
// anything is allocated for it.
#include "formats/codec.h"
#include "formats/codec_util.h"
#include "formats/layer_conduit.h"
#include "formats/packbits.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace codec;

namespace {

inline uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
inline uint32_t Be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
inline int32_t BeI32(const uint8_t* p) {
    return static_cast<int32_t>(Be32(p));
}
inline void PutBe16(std::vector<uint8_t>* o, uint32_t v) {
    o->push_back(uint8_t(v >> 8));
    o->push_back(uint8_t(v));
}
inline void PutBe32(std::vector<uint8_t>* o, uint32_t v) {
    PutBe16(o, v >> 16);
    PutBe16(o, v & 0xFFFF);
}

enum ColorMode { kBitmap = 0, kGrey = 1, kIndexed = 2, kRgb = 3 };
enum Compression { kRaw = 0, kRle = 1, kZip = 2, kZipPredicted = 3 };

constexpr uint32_t kMaxChannels = 56;

struct Document {
    uint32_t channels = 0, width = 0, height = 0;
    int depth = 8; // bits a sample: 1, 8 or 16
    int mode = kRgb;
    RGBQUAD palette[256] = {};
    SGraphicAttributes attributes;
    // The layer info (layer count onwards) and the merged image data.
    const uint8_t* layers = nullptr;
    size_t layersSize = 0;
    const uint8_t* merged = nullptr;
    size_t mergedSize = 0;

    int colourChannels() const { return mode == kRgb ? 3 : 1; }
    int outBits() const { return mode == kRgb ? 24 : mode == kBitmap ? 1 : 8; }
};

// ---- One plane of samples ----

// Bytes in a row of `width` samples.
uint64_t RowBytes(uint64_t width, int depth) {
    return depth == 1 ? (width + 7) / 8 : width * uint64_t(depth / 8);
}

// Whether `size` bytes of plane data (PackBits: without the row counts) can
// hold a plane of width x height: checked before the plane is allocated.
bool PlaneFits(int compression, uint64_t size, uint64_t width, uint64_t height, int depth) {
    const uint64_t row = RowBytes(width, depth);
    switch (compression) {
    case kRaw:
        return size >= row * height;
    case kRle:
        return size >= height * PackBitsMinimumSize(row);
    case kZip:
    case kZipPredicted:
        return size >= 2 && (size - 2) * kDeflateMaxRatio >= row * height;
    default:
        return false;
    }
}

// Where the 8-bit samples of one plane go: the top row, the step to the row
// below (negative in a bottom-up DIB) and the step between samples.
struct PlaneTarget {
    uint8_t* top = nullptr;
    ptrdiff_t rowStep = 0;
    int pixelStep = 1;
};

PlaneTarget TargetFor(const DIBLock& d, int byteInPixel, int pixelStep) {
    PlaneTarget t;
    t.top = DIBRowFromTop(d.header(), 0) + byteInPixel;
    t.rowStep = -ptrdiff_t(d.stride());
    t.pixelStep = pixelStep;
    return t;
}

// One row of file samples into the target row.
void PutRow(const uint8_t* src, uint32_t width, int depth, uint8_t* dst, int step) {
    if (depth == 16) {
        for (uint32_t x = 0; x < width; ++x)
            dst[size_t(x) * step] = static_cast<uint8_t>((Be16(src + 2 * size_t(x)) + 128) / 257);
    } else if (depth == 1 || step == 1) {
        std::memcpy(dst, src, RowBytes(width, depth));
    } else {
        for (uint32_t x = 0; x < width; ++x)
            dst[size_t(x) * step] = src[x];
    }
}

// Deflated rows with each sample stored as the difference to its left
// neighbour (16-bit samples big-endian).
void UndoPrediction(uint8_t* row, uint32_t width, int depth) {
    if (depth == 16) {
        uint16_t prev = 0;
        for (uint32_t x = 0; x < width; ++x) {
            prev = static_cast<uint16_t>(prev + Be16(row + 2 * size_t(x)));
            row[2 * size_t(x)] = uint8_t(prev >> 8), row[2 * size_t(x) + 1] = uint8_t(prev);
        }
    } else if (depth == 8) {
        for (uint32_t x = 1; x < width; ++x)
            row[x] = static_cast<uint8_t>(row[x] + row[x - 1]);
    }
}

// Decodes one plane. rle: the row byte counts (height of them, big-endian
// 16 bits) and `data` the packed rows; otherwise `data` holds the plane.
KervErrorCode DecodePlane(int compression, const uint8_t* counts, const uint8_t* data, size_t size,
                          uint32_t width, uint32_t height, int depth, const PlaneTarget& t) {
    const size_t row = size_t(RowBytes(width, depth));
    if (!PlaneFits(compression, size, width, height, depth)) return KERV_CORRUPT_FILE;
    switch (compression) {
    case kRaw:
        for (uint32_t y = 0; y < height; ++y)
            PutRow(data + size_t(y) * row, width, depth, t.top + ptrdiff_t(y) * t.rowStep,
                   t.pixelStep);
        return KERV_OK;
    case kRle: {
        KBuffer scratch;
        if (!scratch.allocate(row, KMEM_MOVEABLE)) return KERV_NO_MEMORY;
        size_t at = 0;
        for (uint32_t y = 0; y < height; ++y) {
            const size_t n = Be16(counts + 2 * size_t(y));
            if (n > size - at || !UnpackBits(data + at, n, scratch.data(), row))
                return KERV_CORRUPT_FILE;
            at += n;
            PutRow(scratch.data(), width, depth, t.top + ptrdiff_t(y) * t.rowStep, t.pixelStep);
        }
        return KERV_OK;
    }
    case kZip:
    case kZipPredicted: {
        KBuffer scratch;
        if (!scratch.allocate(row, KMEM_MOVEABLE)) return KERV_NO_MEMORY;
        Inflater z(data, size);
        for (uint32_t y = 0; y < height; ++y) {
            if (!z.Read(scratch.data(), row)) return KERV_CORRUPT_FILE;
            if (compression == kZipPredicted) UndoPrediction(scratch.data(), width, depth);
            PutRow(scratch.data(), width, depth, t.top + ptrdiff_t(y) * t.rowStep, t.pixelStep);
        }
        return KERV_OK;
    }
    default:
        return KERV_UNSUPPORTED_VARIANT;
    }
}

// A layer channel: its compression word, then (PackBits) the row counts and
// the rows, or the plane.
KervErrorCode DecodeLayerChannel(const uint8_t* p, size_t size, uint32_t width, uint32_t height,
                                 int depth, const PlaneTarget& t) {
    if (size < 2) return KERV_CORRUPT_FILE;
    const int compression = Be16(p);
    p += 2, size -= 2;
    if (compression > kZipPredicted) return KERV_UNSUPPORTED_VARIANT;
    if (compression != kRle)
        return DecodePlane(compression, nullptr, p, size, width, height, depth, t);
    if (size / 2 < height) return KERV_CORRUPT_FILE;
    return DecodePlane(kRle, p, p + 2 * size_t(height), size - 2 * size_t(height), width, height,
                       depth, t);
}

// Whether a layer channel (compression word first) can hold a plane of
// width x height.
KervErrorCode CheckChannel(const uint8_t* p, uint64_t length, uint64_t width, uint64_t height,
                           int depth) {
    if (length < 2) return KERV_CORRUPT_FILE;
    const int compression = Be16(p);
    if (compression > kZipPredicted) return KERV_UNSUPPORTED_VARIANT;
    uint64_t size = length - 2;
    if (compression == kRle) {
        if (size < 2 * height) return KERV_CORRUPT_FILE;
        size -= 2 * height;
    }
    return PlaneFits(compression, size, width, height, depth) ? KERV_OK : KERV_CORRUPT_FILE;
}

// ---- The file's sections ----

KervErrorCode ReadDocument(const uint8_t* data, size_t size, Document* doc) {
    Reader in(data, size);
    const uint8_t* h = in.take(26);
    if (!h || std::memcmp(h, "8BPS", 4) != 0) return KERV_CORRUPT_FILE;
    if (Be16(h + 4) != 1) return Be16(h + 4) == 2 ? KERV_UNSUPPORTED_VARIANT : KERV_CORRUPT_FILE;
    doc->channels = Be16(h + 12);
    doc->height = Be32(h + 14);
    doc->width = Be32(h + 18);
    doc->depth = Be16(h + 22);
    doc->mode = Be16(h + 24);
    if (doc->channels < 1 || doc->channels > kMaxChannels) return KERV_CORRUPT_FILE;
    const bool known =
        (doc->mode == kBitmap && doc->depth == 1) ||
        ((doc->mode == kGrey || doc->mode == kRgb) && (doc->depth == 8 || doc->depth == 16)) ||
        (doc->mode == kIndexed && doc->depth == 8);
    if (!known) return KERV_UNSUPPORTED_VARIANT;
    if (doc->channels < uint32_t(doc->colourChannels())) return KERV_CORRUPT_FILE;
    if (KervErrorCode e = CheckDecodeDimensions(doc->width, doc->height, doc->outBits())) return e;

    // Colour mode data: the palette of an indexed document, 256 reds, greens, blues.
    const uint8_t* lenp = in.take(4);
    if (!lenp) return KERV_CORRUPT_FILE;
    const uint8_t* colours = in.take(Be32(lenp));
    if (!colours) return KERV_CORRUPT_FILE;
    if (doc->mode == kIndexed) {
        if (Be32(lenp) < 768) return KERV_CORRUPT_FILE;
        for (int i = 0; i < 256; ++i)
            doc->palette[i] = {colours[512 + i], colours[256 + i], colours[i], 0};
    }

    // Image resources: only the resolution (0x03ED) is used.
    if (!(lenp = in.take(4))) return KERV_CORRUPT_FILE;
    const size_t resEnd = in.pos() + Be32(lenp);
    if (Be32(lenp) > in.left()) return KERV_CORRUPT_FILE;
    while (in.pos() + 12 <= resEnd) {
        const uint8_t* r = in.take(6);
        if (std::memcmp(r, "8BIM", 4) != 0) break;
        const uint16_t id = Be16(r + 4);
        uint8_t nameLen = 0;
        if (!in.byte(&nameLen) || !in.skip(size_t(nameLen) + ((nameLen + 1) & 1))) break;
        const uint8_t* sp = in.take(4);
        if (!sp || in.pos() > resEnd) break;
        const uint32_t n = Be32(sp);
        if (n > resEnd - in.pos()) break;
        const uint8_t* body = in.take(n);
        if (id == 0x03ED && n >= 16) {
            doc->attributes.resolution = Be32(body) / 65536.0;
            doc->attributes.resolutionUnit = doc->attributes.resolution > 0 ? 1 : 0;
        }
        if ((n & 1) && in.pos() < resEnd) in.skip(1);
    }
    in.seek(resEnd);

    // Layer and mask information.
    if (!(lenp = in.take(4))) return KERV_CORRUPT_FILE;
    const uint32_t layerAndMask = Be32(lenp);
    const uint8_t* lm = in.take(layerAndMask);
    if (!lm) return KERV_CORRUPT_FILE;
    if (layerAndMask >= 4) {
        Reader sec(lm, layerAndMask);
        const uint32_t infoLen = Be32(sec.take(4));
        const uint8_t* info = sec.take(infoLen);
        if (!info) return KERV_CORRUPT_FILE;
        if (infoLen > 0) {
            doc->layers = info, doc->layersSize = infoLen;
        } else if (const uint8_t* g = sec.take(4); g && sec.skip(Be32(g))) {
            // 16-bit documents keep their layers in an "Lr16" block after
            // the global mask information.
            while (sec.left() >= 12) {
                const uint8_t* b = sec.take(12);
                if (std::memcmp(b, "8BIM", 4) != 0 && std::memcmp(b, "8B64", 4) != 0) break;
                const uint32_t n = Be32(b + 8);
                const uint8_t* body = sec.take(n);
                if (!body) break;
                if (std::memcmp(b + 4, "Lr16", 4) == 0 && doc->depth == 16) {
                    doc->layers = body, doc->layersSize = n;
                    break;
                }
                if ((n & 1) && sec.left() > 0) sec.skip(1);
            }
        }
    }
    doc->merged = data + in.pos();
    doc->mergedSize = in.left();
    return KERV_OK;
}

// Whether the merged image section can hold the document: it bounds what a
// header may make us allocate for the canvas too.
KervErrorCode CheckMergedSize(const Document& doc) {
    if (doc.mergedSize < 2) return KERV_CORRUPT_FILE;
    const int compression = Be16(doc.merged);
    if (compression > kZipPredicted) return KERV_UNSUPPORTED_VARIANT;
    const uint64_t planes = doc.colourChannels();
    uint64_t size = doc.mergedSize - 2;
    if (compression == kRle) {
        const uint64_t counts = 2 * uint64_t(doc.channels) * doc.height;
        if (size < counts) return KERV_CORRUPT_FILE;
        size -= counts;
        return size >= planes * doc.height * PackBitsMinimumSize(RowBytes(doc.width, doc.depth))
                   ? KERV_OK
                   : KERV_CORRUPT_FILE;
    }
    return PlaneFits(compression, size, doc.width, doc.height * planes, doc.depth)
               ? KERV_OK
               : KERV_CORRUPT_FILE;
}

void FillDocumentPalette(const Document& doc, RGBQUAD* pal, uint32_t entries) {
    for (uint32_t i = 0; i < entries; ++i) {
        if (doc.mode == kIndexed)
            pal[i] = doc.palette[i];
        else if (doc.mode == kBitmap)
            pal[i] = i == 0 ? RGBQUAD{255, 255, 255, 0} : RGBQUAD{0, 0, 0, 0};
        else
            pal[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    }
}

// ---- The merged image ----

KervErrorCode DecodeMerged(const Document& doc, StatusControlBlock* status, KOwnedHandle* out) {
    if (KervErrorCode e = CheckMergedSize(doc)) return e;
    const int bits = doc.outBits();
    const uint32_t entries = bits == 24 ? 0 : bits == 1 ? 2 : 256;
    KOwnedHandle dib;
    if (KervErrorCode e = NewOutputDIB(doc.width, doc.height, bits, entries, &dib)) return e;
    DIBLock d(dib.get());
    if (!d) return KERV_NO_MEMORY;
    FillDocumentPalette(doc, d.palette(), entries);

    const int compression = Be16(doc.merged);
    const uint8_t* p = doc.merged + 2;
    size_t left = doc.mergedSize - 2;
    const size_t countsSize = 2 * size_t(doc.channels) * doc.height;
    const uint8_t* counts = p;
    if (compression == kRle) p += countsSize, left -= countsSize;
    const int planes = doc.colourChannels();
    const uint64_t row = RowBytes(doc.width, doc.depth);
    // Deflated merged images hold all planes in one stream.
    RowProgress progress(status, planes);
    if (compression >= kZip) {
        KBuffer scratch;
        if (!scratch.allocate(size_t(row), KMEM_MOVEABLE)) return KERV_NO_MEMORY;
        Inflater z(p, left);
        for (int c = 0; c < planes; ++c) {
            if (progress.step(c)) return KERV_STOPPED;
            const PlaneTarget t = TargetFor(d, planes == 3 ? 2 - c : 0, planes);
            for (uint32_t y = 0; y < doc.height; ++y) {
                if (!z.Read(scratch.data(), size_t(row))) return KERV_CORRUPT_FILE;
                if (compression == kZipPredicted)
                    UndoPrediction(scratch.data(), doc.width, doc.depth);
                PutRow(scratch.data(), doc.width, doc.depth, t.top + ptrdiff_t(y) * t.rowStep,
                       t.pixelStep);
            }
        }
    } else {
        for (int c = 0; c < planes; ++c) {
            if (progress.step(c)) return KERV_STOPPED;
            const PlaneTarget t = TargetFor(d, planes == 3 ? 2 - c : 0, planes);
            size_t planeSize = size_t(row) * doc.height;
            if (compression == kRle) {
                planeSize = 0;
                for (uint32_t y = 0; y < doc.height; ++y)
                    planeSize += Be16(counts + 2 * (size_t(c) * doc.height + y));
            }
            if (planeSize > left) return KERV_CORRUPT_FILE;
            if (KervErrorCode e = DecodePlane(compression, counts + 2 * size_t(c) * doc.height, p,
                                              planeSize, doc.width, doc.height, doc.depth, t))
                return e;
            p += planeSize, left -= planeSize;
        }
    }
    progress.end();
    d->biXPelsPerMeter = d->biYPelsPerMeter = LayerCanvasPelsPerMeter(doc.attributes);
    *out = std::move(dib);
    return KERV_OK;
}

// ---- Layers ----

struct ChannelInfo {
    int16_t id;
    uint32_t length;
};

struct LayerRecord {
    int32_t top = 0, left = 0, bottom = 0, right = 0;
    uint32_t channelCount = 0;
    ChannelInfo channels[kMaxChannels];
    uint8_t mode = kBlendNormal, opacity = 255, flags = 0;
    bool divider = false;
    bool hasMask = false;
    int32_t maskTop = 0, maskLeft = 0, maskBottom = 0, maskRight = 0;
    uint8_t maskDefault = 0, maskFlags = 0;
    uint8_t ranges[kBlendRangeBytes];
};

uint8_t ModeForKey(const uint8_t* key) {
    static const struct {
        char key[5];
        uint8_t mode;
    } kKeys[] = {
        {"norm", kBlendNormal},     {"dark", kBlendDarken},     {"lite", kBlendLighten},
        {"hue ", kBlendHue},        {"sat ", kBlendSaturation}, {"colr", kBlendColor},
        {"lum ", kBlendLuminosity}, {"mul ", kBlendMultiply},   {"scrn", kBlendScreen},
        {"diss", kBlendDissolve},   {"over", kBlendOverlay},    {"hLit", kBlendHardLight},
        {"sLit", kBlendSoftLight},  {"diff", kBlendDifference}, {"div ", kBlendColorDodge},
        {"idiv", kBlendColorBurn},  {"smud", kBlendExclusion},
    };
    for (const auto& k : kKeys)
        if (std::memcmp(k.key, key, 4) == 0) return k.mode;
    return kBlendNormal; // any other key (pass-through, linear light, ...)
}

// One layer record at the reader's position.
KervErrorCode ReadLayerRecord(Reader& in, LayerRecord* r) {
    const uint8_t* p = in.take(18);
    if (!p) return KERV_CORRUPT_FILE;
    r->top = BeI32(p), r->left = BeI32(p + 4), r->bottom = BeI32(p + 8), r->right = BeI32(p + 12);
    r->channelCount = Be16(p + 16);
    if (r->channelCount > kMaxChannels) return KERV_CORRUPT_FILE;
    for (uint32_t i = 0; i < r->channelCount; ++i) {
        const uint8_t* c = in.take(6);
        if (!c) return KERV_CORRUPT_FILE;
        r->channels[i] = {static_cast<int16_t>(Be16(c)), Be32(c + 2)};
    }
    const uint8_t* b = in.take(16);
    if (!b || (std::memcmp(b, "8BIM", 4) != 0 && std::memcmp(b, "8B64", 4) != 0))
        return KERV_CORRUPT_FILE;
    r->mode = ModeForKey(b + 4);
    r->opacity = b[8], r->flags = b[10];
    const uint32_t extraLen = Be32(b + 12);
    const uint8_t* extra = in.take(extraLen);
    if (!extra) return KERV_CORRUPT_FILE;
    Reader x(extra, extraLen);

    // Layer mask: rectangle, default level and flags (bit 1 disabled, bit 2
    // inverted); longer records add the real mask, not used here.
    const uint8_t* mp = x.take(4);
    if (!mp) return KERV_CORRUPT_FILE;
    const uint32_t maskLen = Be32(mp);
    const uint8_t* mask = x.take(maskLen);
    if (!mask) return KERV_CORRUPT_FILE;
    if (maskLen >= 18) {
        r->hasMask = true;
        r->maskTop = BeI32(mask), r->maskLeft = BeI32(mask + 4);
        r->maskBottom = BeI32(mask + 8), r->maskRight = BeI32(mask + 12);
        r->maskDefault = mask[16], r->maskFlags = mask[17];
    }

    // Blend ranges: pairs of (this layer, underneath), grey first, up to
    // five; pairs the record lacks let everything pass.
    std::memcpy(r->ranges, SLayerData().blendRanges, kBlendRangeBytes);
    const uint8_t* rp = x.take(4);
    if (!rp) return KERV_CORRUPT_FILE;
    const uint32_t rangesLen = Be32(rp);
    const uint8_t* ranges = x.take(rangesLen);
    if (!ranges) return KERV_CORRUPT_FILE;
    std::memcpy(r->ranges, ranges, std::min<size_t>(rangesLen, kBlendRangeBytes));

    // The name (Pascal, padded to 4 bytes), then tagged blocks.
    uint8_t nameLen = 0;
    if (!x.byte(&nameLen)) return KERV_CORRUPT_FILE;
    const size_t padded = ((size_t(nameLen) + 1 + 3) & ~size_t(3)) - 1;
    if (!x.skip(std::min(padded, x.left()))) return KERV_CORRUPT_FILE;
    while (x.left() >= 12) {
        const uint8_t* t = x.take(12);
        if (std::memcmp(t, "8BIM", 4) != 0 && std::memcmp(t, "8B64", 4) != 0) break;
        const size_t n = std::min<size_t>(Be32(t + 8), x.left());
        const uint8_t* body = x.take(n);
        if ((std::memcmp(t + 4, "lsct", 4) == 0 || std::memcmp(t + 4, "lsdk", 4) == 0) && n >= 4) {
            const uint32_t type = Be32(body);
            r->divider = type >= 1 && type <= 3;
        }
    }
    return KERV_OK;
}

// The layer as the conduit takes it: pixels decoded only when it will be
// composited.
KervErrorCode MakeLayer(const Document& doc, const LayerRecord& r, const uint8_t* data,
                        SLayerData* out) {
    out->rect = {r.left, r.top, r.right, r.bottom};
    out->opacity = r.opacity;
    out->blendMode = r.mode;
    out->flags = (r.flags & 0x02) ? 0 : kLayerVisible;
    out->type = (r.divider || (r.flags & 0x18) == 0x18) ? 3 : 0;
    std::memcpy(out->blendRanges, r.ranges, kBlendRangeBytes);
    const int64_t w = int64_t{r.right} - r.left, h = int64_t{r.bottom} - r.top;
    if (w < 0 || h < 0) return KERV_CORRUPT_FILE;
    if (w == 0 || h == 0 || !(out->flags & kLayerVisible) || out->type != 0) return KERV_OK;
    if (KervErrorCode e = CheckDecodeDimensions(uint64_t(w), uint64_t(h), 24)) return e;

    // Every channel of the layer's own size must hold its plane before the
    // layer is allocated.
    const int planes = doc.colourChannels();
    bool anyPlane = false;
    size_t at = 0;
    for (uint32_t i = 0; i < r.channelCount; ++i) {
        const ChannelInfo& c = r.channels[i];
        if (c.id >= -1 && c.id < planes) {
            if (KervErrorCode e =
                    CheckChannel(data + at, c.length, uint64_t(w), uint64_t(h), doc.depth))
                return e;
            anyPlane = true;
        }
        at += c.length;
    }
    if (!anyPlane) return KERV_OK; // nothing to paint with

    const int bits = doc.mode == kRgb ? 24 : 8;
    KOwnedHandle image(AllocDIB(int32_t(w), int32_t(h), bits, bits == 24 ? 0 : 256));
    if (!image) return KERV_NO_MEMORY;
    KOwnedHandle alpha, user;
    const int64_t mw = int64_t{r.maskRight} - r.maskLeft, mh = int64_t{r.maskBottom} - r.maskTop;
    const bool maskEnabled = r.hasMask && !(r.maskFlags & 0x02) && mw > 0 && mh > 0;
    {
        DIBLock d(image.get());
        if (!d) return KERV_NO_MEMORY;
        if (bits == 8) FillDocumentPalette(doc, d.palette(), 256);
        at = 0;
        for (uint32_t i = 0; i < r.channelCount; ++i) {
            const ChannelInfo& c = r.channels[i];
            const uint8_t* p = data + at;
            at += c.length;
            KervErrorCode e = KERV_OK;
            if (c.id >= 0 && c.id < planes) {
                e = DecodeLayerChannel(p, c.length, uint32_t(w), uint32_t(h), doc.depth,
                                       TargetFor(d, planes == 3 ? 2 - c.id : 0, planes));
            } else if (c.id == -1 || (c.id == -2 && maskEnabled)) {
                const int64_t cw = c.id == -1 ? w : mw, ch = c.id == -1 ? h : mh;
                if (c.id == -2) {
                    if (KervErrorCode de = CheckDecodeDimensions(uint64_t(cw), uint64_t(ch), 8))
                        return de;
                    if (KervErrorCode ce =
                            CheckChannel(p, c.length, uint64_t(cw), uint64_t(ch), doc.depth))
                        return ce;
                }
                KOwnedHandle& target = c.id == -1 ? alpha : user;
                target.reset(AllocDIB(int32_t(cw), int32_t(ch), 8, 256));
                if (!target) return KERV_NO_MEMORY;
                DIBLock m(target.get());
                if (!m) return KERV_NO_MEMORY;
                FillDocumentPalette(Document{}, m.palette(), 256); // grey levels
                e = DecodeLayerChannel(p, c.length, uint32_t(cw), uint32_t(ch), doc.depth,
                                       TargetFor(m, 0, 1));
            }
            if (e) return e;
        }
    }

    if (user) {
        SLayerData placing;
        placing.image = image.get();
        placing.rect = out->rect;
        placing.mask = user.get();
        placing.maskRect = {r.maskLeft, r.maskTop, r.maskRight, r.maskBottom};
        placing.maskDefault = r.maskDefault;
        placing.maskFlags = kLayerMaskEnabled | ((r.maskFlags & 0x04) ? kLayerMaskInverted : 0);
        if (!alpha) {
            // The conduit places it.
            out->mask = user.release();
            out->maskRect = placing.maskRect;
            out->maskDefault = placing.maskDefault;
            out->maskFlags = placing.maskFlags;
        } else {
            KHANDLE placed = nullptr;
            const KervErrorCode e = PlaceLayerMask(placing, &placed);
            KOwnedHandle placedOwner(placed);
            if (e) return e;
            DIBLock a(alpha.get()), u(placed);
            if (!a || !u) return KERV_NO_MEMORY;
            for (int32_t y = 0; y < a.height(); ++y) {
                uint8_t* ar = DIBRowFromTop(a.header(), y);
                const uint8_t* ur = DIBRowFromTop(u.header(), y);
                for (int32_t x = 0; x < a.width(); ++x)
                    ar[x] = static_cast<uint8_t>((ar[x] * ur[x] + 128) / 255);
            }
        }
    }
    if (alpha) {
        out->mask = alpha.release();
        out->maskRect = out->rect;
        out->maskFlags = kLayerMaskEnabled;
    }
    out->image = image.release();
    return KERV_OK;
}

KervErrorCode DecodeLayers(const Document& doc, StatusControlBlock* status, KOwnedHandle* out) {
    Reader in(doc.layers, doc.layersSize);
    const uint8_t* cp = in.take(2);
    if (!cp) return KERV_CORRUPT_FILE;
    const int count = std::abs(int(static_cast<int16_t>(Be16(cp))));

    // First pass: the records' structure, and where the channel data starts.
    uint64_t dataBytes = 0;
    {
        LayerRecord r;
        for (int i = 0; i < count; ++i) {
            if (KervErrorCode e = ReadLayerRecord(in, &r)) return e;
            for (uint32_t c = 0; c < r.channelCount; ++c)
                dataBytes += r.channels[c].length;
        }
    }
    if (dataBytes > in.left()) return KERV_CORRUPT_FILE;
    if (KervErrorCode e = CheckMergedSize(doc)) return e;
    const uint8_t* data = doc.layers + in.pos();

    LayeredFileInfo file;
    file.width = int32_t(doc.width), file.height = int32_t(doc.height);
    file.bitCount = doc.outBits();
    file.background = doc.mode == kIndexed ? 0 : 255;
    file.attributes = doc.attributes;
    file.paletteCount = file.bitCount == 24 ? 0 : 256;
    FillDocumentPalette(doc, file.palette, file.paletteCount);
    LayerConduit conduit(file);

    Reader records(doc.layers, doc.layersSize);
    records.skip(2);
    RowProgress progress(status, count);
    LayerRecord r;
    for (int i = 0; i < count; ++i) {
        if (progress.step(i)) return KERV_STOPPED;
        ReadLayerRecord(records, &r);
        uint64_t size = 0;
        for (uint32_t c = 0; c < r.channelCount; ++c)
            size += r.channels[c].length;
        SLayerData layer;
        KervErrorCode e = MakeLayer(doc, r, data, &layer);
        if (e == KERV_OK) e = conduit.AddLayer(&layer);
        FreeLayer(&layer);
        if (e) return e;
        data += size;
    }
    KHANDLE canvas = nullptr;
    if (KervErrorCode e = conduit.Finish(&canvas)) return e;
    out->reset(canvas);
    progress.end();
    return KERV_OK;
}

} // namespace

KervErrorCode DecodePSD(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info) {
    if (!dib) return KERV_INVALID_PARAM;
    *dib = nullptr;
    if (!req.data) return KERV_INVALID_PARAM;
    Document doc;
    if (KervErrorCode e = ReadDocument(req.data, req.size, &doc)) return e;
    KOwnedHandle out;
    const bool layered =
        doc.layers && doc.layersSize >= 2 && Be16(doc.layers) != 0 && doc.mode != kBitmap;
    if (KervErrorCode e =
            layered ? DecodeLayers(doc, req.status, &out) : DecodeMerged(doc, req.status, &out))
        return e;
    if (info) {
        info->attributes = doc.attributes;
        info->options.format = 30;
    }
    *dib = out.release();
    return KERV_OK;
}

// ---- Writing ----

KervErrorCode EncodePSD(const EncodeRequest& req, std::vector<uint8_t>* out) {
    if (!out || !req.dib) return KERV_INVALID_PARAM;
    DIBLock d(req.dib);
    if (!d || d->biCompression != 0) return KERV_INVALID_PARAM;
    const int bits = d.bitCount();
    const uint32_t w = uint32_t(d.width()), h = uint32_t(d.height());
    const bool grey = IsPaletteKervGreyScale(d.header());
    const int mode = bits == 24 ? kRgb : grey ? kGrey : kIndexed;
    const int planes = mode == kRgb ? 3 : 1;
    const uint32_t entries = bits == 24 ? 0 : DIBPaletteEntries(d.header());
    const RGBQUAD* pal = d.palette();

    const uint8_t sig[] = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
    out->assign(sig, sig + sizeof sig);
    PutBe16(out, uint32_t(planes));
    PutBe32(out, h);
    PutBe32(out, w);
    PutBe16(out, 8);
    PutBe16(out, uint32_t(mode));
    if (mode == kIndexed) {
        PutBe32(out, 768);
        for (int c = 2; c >= 0; --c) // reds, greens, blues
            for (uint32_t i = 0; i < 256; ++i) {
                const RGBQUAD q = i < entries ? pal[i] : RGBQUAD{0, 0, 0, 0};
                out->push_back(c == 2 ? q.rgbRed : c == 1 ? q.rgbGreen : q.rgbBlue);
            }
    } else {
        PutBe32(out, 0);
    }
    // The resolution resource: fixed 16.16 pixels per inch, shown in inches.
    const int32_t ppm = EncodePelsPerMeter(req, d.header());
    if (ppm > 0) {
        const uint32_t fixed = uint32_t(std::lround(ppm * 0.0254 * 65536.0));
        PutBe32(out, 28);
        const uint8_t res[] = {'8', 'B', 'I', 'M', 0x03, 0xED, 0, 0};
        out->insert(out->end(), res, res + sizeof res);
        PutBe32(out, 16);
        for (int axis = 0; axis < 2; ++axis) {
            PutBe32(out, fixed);
            PutBe16(out, 1); // pixels per inch
            PutBe16(out, 1); // inches
        }
    } else {
        PutBe32(out, 0);
    }
    PutBe32(out, 0); // no layers

    // The merged image: PackBits rows, counts for every row of every plane first.
    PutBe16(out, kRle);
    const size_t countsAt = out->size();
    out->resize(countsAt + 2 * size_t(planes) * h);
    std::vector<uint8_t> row(w);
    RowProgress progress(req.status, int32_t(uint32_t(planes) * h));
    for (int c = 0; c < planes; ++c)
        for (uint32_t y = 0; y < h; ++y) {
            if (progress.step(int32_t(uint32_t(c) * h + y))) return KERV_STOPPED;
            const uint8_t* s = DIBRowFromTop(d.header(), int32_t(y));
            if (bits == 24)
                for (uint32_t x = 0; x < w; ++x)
                    row[x] = s[3 * size_t(x) + size_t(2 - c)];
            else
                for (uint32_t x = 0; x < w; ++x)
                    row[x] = uint8_t(
                        std::min<uint32_t>(PixelIndex(s, int(x), bits), entries ? entries - 1 : 0));
            const size_t before = out->size();
            PackBits(row.data(), w, out);
            const size_t n = out->size() - before;
            uint8_t* cnt = out->data() + countsAt + 2 * (size_t(c) * h + y);
            cnt[0] = uint8_t(n >> 8), cnt[1] = uint8_t(n);
        }
    progress.end();
    return KERV_OK;
}
