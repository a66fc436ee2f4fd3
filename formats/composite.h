// Layer compositing: how the layers of a layered file are flattened onto one
// canvas.
//
// The canvas is a DIB of the file's size. Beside it lives an 8-bit canvas
// mask of the same size that records how much of each pixel is covered so
// far (0 nothing painted yet, 255 fully covered). A layer is a DIB placed
// with its first column at canvas column `left` and its first row at canvas
// row `top` (both may be negative); whatever falls outside the canvas is cut
// away. The layer DIB gives the size, not the rectangle's right and bottom:
//
//        canvas 0                               canvas width
//   top   +--------------------------------------+
//         |          left                         |
//         |    .......+------------+              |
//         |    :skipped  layer     |              |
//         |    :......|            |              |
//         |           +------------+              |
//         +--------------------------------------+
//
// Per pixel, with d the canvas value, s the layer value (per channel on a
// 24-bit canvas), m the layer-mask level (255 without a mask) and c the
// canvas-mask level (255 without a canvas mask):
//   r = the layer opacity, through the blend-range curves when some are active
//   a = mul(m x r); nothing happens where a is 0
//   n = c + mul((255 - c) x a), the new coverage, written back to the mask
//   w = div(a, n), the layer's weight in 16.16 fixed point
// where mul(x) = (x + 128) / 255 and div(a, n) = (a x 65536 + n / 2) / n come
// from the blend tables built at start-up (InitBlendTables; GetBlendTables()).
// Normal, and every mode where c is 0, gives d + w (s - d):
//   out = ((65536 - w) d + w s + 32768) >> 16
// Every other mode first takes its blend value B(d, s) and then
//   t = mul(d (255 - r) + B r)          the layer's colour at its opacity
//   X = mul(t c + s (255 - c))          where the canvas was covered, and not
//   Y = mul(d (255 - m) + t m)          the canvas under the mask
//   out = (Y (65536 - w) + X w + 32768) >> 16
// All integer, all through the tables; only the dodge, burn and hue/chroma/
// luma modes divide per pixel.
//
// Canvas depths: 24 bits and 8-bit greyscale blend as above (three channels
// or one). 1-, 4- and 8-bit palette canvases do not blend: layer pixels are
// copied, where the mask is not 0 when there is a mask.
#pragma once

#include "core/dib.h"
#include "core/errors.h"

#include <cstdint>

// The 17 blend modes, by their number in layered files.
enum BlendMode : uint8_t {
    kBlendNormal = 0,
    kBlendDarken = 1,      // min(d, s)
    kBlendLighten = 2,     // max(d, s)
    kBlendHue = 3,         // the layer's hue, the canvas's chroma and luma
    kBlendSaturation = 4,  // the layer's chroma, the canvas's hue and luma
    kBlendColor = 5,       // the layer's hue and chroma, the canvas's luma
    kBlendLuminosity = 6,  // the layer's luma, the canvas's hue and chroma
    kBlendMultiply = 7,    // mul(d x s)
    kBlendScreen = 8,      // 255 - mul((255 - d) x (255 - s))
    kBlendDissolve = 9,    // the layer pixel whole where the noise is below r, else the canvas
    kBlendOverlay = 10,    // the canvas value decides between multiply and screen, doubled
    kBlendHardLight = 11,  // the same decided by the layer value
    kBlendSoftLight = 12,  // darkens below a layer value of 128, lightens through sqrt above
    kBlendDifference = 13, // |d - mul(s x r)|
    kBlendColorDodge = 14, // d x 255 / (255 - s), at most 255
    kBlendColorBurn = 15,  // 255 - (255 - d) x 255 / s, at least 0
    kBlendExclusion = 16,  // mul((255 - d) x s + (255 - s) x d)
};
inline constexpr int kBlendModeCount = 17;

// A layer's place on the canvas, in canvas pixels; left and top may be
// negative. Empty when right <= left or bottom <= top.
struct LayerRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return int64_t{right} <= left || int64_t{bottom} <= top; }
};

// The blend ranges of a layer made into lookup curves. Each of the five
// channels has four bytes (a, b, c, d) for the layer's own values and four
// for the values underneath; a curve is 0 up to a, rises linearly to 255 at
// b, stays 255 up to c, falls linearly to 0 at d and stays 0 above:
//
//   255 |      ______
//       |     /      \             ramps in percent, converted to
//       |    /        \            levels with the factor 2.5500000001
//     0 |___/          \______
//         a b          c  d
//
// (0, 0, 255, 255) lets every value pass and makes no curve. On a 24-bit
// canvas channel 0 is the luminance (30 r + 59 g + 11 b) / 100 and channels 1
// to 3 are red, green and blue; on a greyscale canvas only channel 1 is
// consulted, on the grey value. Channel 4 is built but never consulted.
struct BlendRangeTables {
    uint16_t count = 0; // curves built, layer and canvas together (0..10)
    bool layerNoCurve[5] = {true, true, true, true, true};
    bool canvasNoCurve[5] = {true, true, true, true, true};
    uint8_t layerCurve[5][256] = {};
    uint8_t canvasCurve[5][256] = {};
};

// The 40 bytes of a layer's blend ranges: for channel i, bytes 8i..8i+3 are
// the layer's (a, b, c, d) and bytes 8i+4..8i+7 the canvas's.
inline constexpr int kBlendRangeBytes = 40;

// Builds the curves from the 40 bytes; returns the number of curves built.
uint16_t BuildBlendRanges(const uint8_t ranges[kBlendRangeBytes], BlendRangeTables* out);

// One row of work for a blend kernel.
struct BlendRowArgs {
    uint8_t* dst = nullptr;                   // canvas pixels, 1 or 3 bytes each
    uint8_t* coverage = nullptr;              // canvas-mask row, or null
    const uint8_t* src = nullptr;             // layer pixels, as many bytes each as dst
    const uint8_t* mask = nullptr;            // layer-mask row, or null
    int32_t count = 0;                        // pixels
    uint8_t opacity = 255;                    // the layer's
    const BlendRangeTables* ranges = nullptr; // null when no curve is active
    int32_t layerX = 0, layerY = 0;           // the first pixel's place within the layer
    bool keepCoverage = false;                // leave the canvas mask as it is
};
using BlendKernel = void (*)(const BlendRowArgs&);

// The row kernel of a mode for a canvas of 1 (greyscale) or 3 (24-bit)
// channels; null for modes above 16, for the hue, saturation, colour and
// luminosity modes on one channel, and for other channel counts.
BlendKernel SelectBlendKernel(int mode, int channels);

// Blends `layer` onto `canvas` in place, at rect.left and rect.top (right
// and bottom are not used). canvasMask, when given, is an 8-bit DIB of the
// canvas's size; layerMask, when given, an 8-bit DIB of the layer's size (a
// layer of the canvas's size may have a larger mask, read from its top left).
// A mode without a kernel on this canvas is blended as Normal. ranges may be
// null; with a count of 0 it is the same as null.
//
// Layer depths: on a greyscale canvas a layer that is not 8 bits is first
// made greyscale (GreyscaleDIB, into a temporary DIB); on a 24-bit canvas a
// palette layer is first raised to 24 bits; on a palette canvas the layer
// must have the canvas's depth and its pixel values are copied.
//
// Codes: 0; 101 a canvas or layer missing or not a usable DIB, masks of the
// wrong depth or size, a palette canvas with a layer of another depth, or the
// blend tables not built; 102 out of memory (the canvas is then untouched).
KervErrorCode CompositeLayer(KHANDLE canvas, KHANDLE canvasMask, KHANDLE layer, KHANDLE layerMask,
                             uint8_t opacity, uint8_t mode, const LayerRect& rect,
                             bool keepCoverage, const BlendRangeTables* ranges);
