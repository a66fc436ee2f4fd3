#include "formats/layer_conduit.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint8_t kPassEverything[8] = {0, 0, 255, 255, 0, 0, 255, 255};

void GreyRamp(RGBQUAD* pal) {
    for (int i = 0; i < 256; ++i)
        pal[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
}

// The mask can be read as it is: the layer's size, at the layer's place, not
// inverted.
bool MaskFitsLayer(const SLayerData& layer) {
    if (layer.maskFlags & kLayerMaskInverted) return false;
    if (layer.maskRect.left != layer.rect.left || layer.maskRect.top != layer.rect.top)
        return false;
    DIBLock l(layer.image), m(layer.mask);
    return l && m && m.bitCount() == 8 && m.width() == l.width() && m.height() == l.height();
}

// Releases a layer handed to the conduit on every way out.
class LayerRelease {
  public:
    explicit LayerRelease(SLayerData* layer) : layer_(layer) {}
    ~LayerRelease() { FreeLayer(layer_); }
    LayerRelease(const LayerRelease&) = delete;
    LayerRelease& operator=(const LayerRelease&) = delete;

  private:
    SLayerData* layer_;
};

} // namespace

SLayerData::SLayerData() {
    for (int ch = 0; ch < 5; ++ch)
        std::memcpy(blendRanges + 8 * ch, kPassEverything, 8);
}

void FreeLayer(SLayerData* layer) {
    if (!layer) return;
    if (layer->image) KML_GlobalFree(layer->image);
    if (layer->mask) KML_GlobalFree(layer->mask);
    layer->image = nullptr;
    layer->mask = nullptr;
}

int32_t LayerCanvasPelsPerMeter(const SGraphicAttributes& a) {
    if (!(a.resolution > 0) || (a.resolutionUnit != 1 && a.resolutionUnit != 2)) return 0;
    double perCm = a.resolution;
    if (a.resolutionUnit == 1) perCm *= 0.39370078740157477;
    const double v = perCm * 100 + 0.5;
    return v >= double(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(v);
}

KervErrorCode PlaceLayerMask(const SLayerData& layer, KHANDLE* placed) {
    if (!placed) return KERV_INVALID_PARAM;
    *placed = nullptr;
    if (!layer.mask || !(layer.maskFlags & kLayerMaskEnabled)) return KERV_OK;
    int32_t w = 0, h = 0;
    {
        DIBLock l(layer.image);
        if (!l) return KERV_INVALID_PARAM;
        w = l.width(), h = l.height();
    }
    DIBLock m(layer.mask);
    if (!m || m.bitCount() != 8) return KERV_INVALID_PARAM;
    KOwnedHandle out(AllocDIB(w, h, 8, 256));
    if (!out) return KERV_NO_MEMORY;
    DIBLock o(out.get());
    if (!o) return KERV_NO_MEMORY;
    GreyRamp(o.palette());

    const bool invert = layer.maskFlags & kLayerMaskInverted;
    const uint8_t outside = invert ? uint8_t(255 - layer.maskDefault) : layer.maskDefault;
    // Layer column x reads mask column x + dx; row y reads mask row y + dy.
    const int64_t dx = int64_t{layer.rect.left} - layer.maskRect.left;
    const int64_t dy = int64_t{layer.rect.top} - layer.maskRect.top;
    const int64_t x0 = std::clamp<int64_t>(-dx, 0, w);
    const int64_t x1 = std::clamp<int64_t>(int64_t{m.width()} - dx, x0, w);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = DIBRowFromTop(o.header(), y);
        const int64_t my = y + dy;
        if (my < 0 || my >= m.height() || x0 == x1) {
            std::memset(row, outside, size_t(w));
            continue;
        }
        const uint8_t* src = DIBRowFromTop(m.header(), int32_t(my)) + (x0 + dx);
        std::memset(row, outside, size_t(x0));
        if (invert)
            for (int64_t x = x0; x < x1; ++x)
                row[x] = uint8_t(255 - src[x - x0]);
        else
            std::memcpy(row + x0, src, size_t(x1 - x0));
        std::memset(row + x1, outside, size_t(w - x1));
    }
    *placed = out.release();
    return KERV_OK;
}

LayerConduit::LayerConduit(const LayeredFileInfo& file) : file_(file) {}

LayerConduit::~LayerConduit() = default;

KervErrorCode LayerConduit::CreateCanvas() {
    const int bits = file_.bitCount >= 24 ? 24 : file_.bitCount;
    if (!IsValidDIBDepth(uint32_t(bits))) return KERV_INVALID_PARAM;
    if (file_.width <= 0 || file_.height <= 0) return KERV_CORRUPT_FILE;
    // The canvas mask has 8 bits, more than a 1- or 4-bit canvas.
    if (KervErrorCode e =
            CheckDecodeDimensions(uint64_t(file_.width), uint64_t(file_.height), std::max(bits, 8)))
        return e;
    uint32_t entries = 0;
    if (bits <= 8) {
        const uint32_t full = 1u << bits;
        entries = file_.paletteCount == 0 ? full : std::min(file_.paletteCount, full);
    }
    KOwnedHandle canvas(AllocDIB(file_.width, file_.height, bits, entries));
    if (!canvas) return KERV_NO_MEMORY;
    KOwnedHandle mask(AllocDIB(file_.width, file_.height, 8, 256));
    if (!mask) return KERV_NO_MEMORY;
    {
        DIBLock c(canvas.get()), m(mask.get());
        if (!c || !m) return KERV_NO_MEMORY;
        if (entries) std::memcpy(c.palette(), file_.palette, 4 * size_t(entries));
        if (file_.background) std::memset(c.bits(), file_.background, c->biSizeImage);
        const int32_t ppm = LayerCanvasPelsPerMeter(file_.attributes);
        c->biXPelsPerMeter = c->biYPelsPerMeter = ppm;
        GreyRamp(m.palette());
    }
    canvas_ = std::move(canvas);
    canvasMask_ = std::move(mask);
    return KERV_OK;
}

KervErrorCode LayerConduit::AddLayer(SLayerData* layer) {
    if (!layer) return KERV_INVALID_PARAM;
    LayerRelease release(layer);
    if (!taking_) return KERV_OK;
    if (!canvas_) {
        if (KervErrorCode e = CreateCanvas()) return e;
    }
    const bool imageLayer = layer->type >= 0 && layer->type <= 2;
    if (!imageLayer || !(layer->flags & kLayerVisible) || layer->rect.empty() || !layer->image)
        return KERV_OK;
    if (!GetBlendTables().multiply && InitBlendTables() != KERV_OK) return KERV_NO_MEMORY;

    KOwnedHandle placed;
    KHANDLE mask = nullptr;
    if (layer->mask && (layer->maskFlags & kLayerMaskEnabled)) {
        if (MaskFitsLayer(*layer)) {
            mask = layer->mask;
        } else {
            KHANDLE p = nullptr;
            if (KervErrorCode e = PlaceLayerMask(*layer, &p)) return e;
            placed.reset(p);
            mask = p;
        }
    }
    const uint16_t curves = BuildBlendRanges(layer->blendRanges, &ranges_);
    return CompositeLayer(canvas_.get(), canvasMask_.get(), layer->image, mask, layer->opacity,
                          layer->blendMode, layer->rect, false, curves ? &ranges_ : nullptr);
}

KervErrorCode LayerConduit::Finish(KHANDLE* dib) {
    if (!dib) return KERV_INVALID_PARAM;
    *dib = nullptr;
    if (!canvas_) {
        if (KervErrorCode e = CreateCanvas()) return e;
    }
    canvasMask_.reset();
    *dib = canvas_.release();
    return KERV_OK;
}
