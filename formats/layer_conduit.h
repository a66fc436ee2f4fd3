// The read conduit's layer path: decoders of layered formats (PSD, QZM) hand
// their layers over one at a time, and the conduit flattens them onto a
// canvas (formats/composite.h) as they arrive, so that at most one layer is
// held in memory beside the canvas.
//
// Ownership: a layer handed to AddLayer belongs to the conduit from then on;
// its blocks are freed before AddLayer returns, whatever the outcome. The
// canvas belongs to the conduit until Finish hands it over.
#pragma once

#include "core/dib.h"
#include "formats/codec.h"
#include "formats/composite.h"

#include <cstdint>

// Mask flags of a layer.
inline constexpr uint8_t kLayerMaskEnabled = 0x01;  // the mask is applied
inline constexpr uint8_t kLayerMaskInverted = 0x02; // its levels count as 255 - level

// Layer flags.
inline constexpr uint32_t kLayerVisible = 0x01;

// One layer of a layered file. Only types 0, 1 and 2 are image layers that
// are composited; other types (group markers, shapes, text) are dropped.
struct SLayerData {
    int32_t type = 0;
    uint32_t flags = kLayerVisible;
    uint8_t opacity = 255;
    uint8_t blendMode = kBlendNormal; // 0..16; others blend as Normal
    LayerRect rect;                   // where the layer's first row and column go
    KHANDLE image = nullptr;          // the layer's pixels
    KHANDLE mask = nullptr;           // 8-bit levels, or null
    LayerRect maskRect;               // where the mask's first row and column go
    uint8_t maskFlags = 0;
    uint8_t maskDefault = 255;             // the level outside maskRect
    uint8_t blendRanges[kBlendRangeBytes]; // (0, 0, 255, 255) on every channel: none

    SLayerData();
};

// Frees the layer's image and mask and clears the handles.
void FreeLayer(SLayerData* layer);

// What the file says about the flattened image.
struct LayeredFileInfo {
    int32_t width = 0, height = 0;
    int bitCount = 24;             // 1, 4, 8 or 24 (deeper files say 24)
    uint8_t background = 0;        // every pixel byte of the canvas starts as this
    SGraphicAttributes attributes; // resolution of the canvas
    RGBQUAD palette[256] = {};     // below 24 bits: the canvas palette
    uint32_t paletteCount = 0;     // 0: 2^bitCount entries
};

// Pixels per metre for the canvas header: a value per inch is taken per
// centimetre first (x 0.39370078740157477); units 1 and 2 give value x 100 +
// 0.5, truncated; unit 0 or a value of 0 or less gives 0.
int32_t LayerCanvasPelsPerMeter(const SGraphicAttributes& a);

// The layer's mask as an 8-bit DIB of exactly the layer image's size, placed
// by maskRect, the default level outside it and inversion applied. *placed is
// null (and 0 returned) when the layer has no enabled mask. 101 for a mask
// that is not 8 bits or a layer without image; 102 out of memory.
KervErrorCode PlaceLayerMask(const SLayerData& layer, KHANDLE* placed);

class LayerConduit {
  public:
    explicit LayerConduit(const LayeredFileInfo& file);
    ~LayerConduit();
    LayerConduit(const LayerConduit&) = delete;
    LayerConduit& operator=(const LayerConduit&) = delete;

    // Takes the layer over (its handles are freed and cleared on return). The
    // first layer, composited or not, creates the canvas and its mask. A
    // visible layer of type 0..2 with a non-empty rectangle and an image is
    // blended on, its enabled mask applied. The blend tables are built here
    // when the program has not built them yet. Codes: 0; 101 a layer the
    // compositing refuses (see CompositeLayer) or a canvas the file
    // describes wrongly; 102 out of memory; 206 a canvas too large.
    KervErrorCode AddLayer(SLayerData* layer);

    // Further layers are freed without being used.
    void StopTakingData() { taking_ = false; }

    // Hands the flattened canvas over (a blank canvas when no layer came).
    // The conduit holds nothing afterwards. Codes as AddLayer.
    KervErrorCode Finish(KHANDLE* dib);

  private:
    KervErrorCode CreateCanvas();

    LayeredFileInfo file_;
    KOwnedHandle canvas_, canvasMask_;
    bool taking_ = true;
    BlendRangeTables ranges_;
};
