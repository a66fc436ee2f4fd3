// CScript::DoCommand: one command of the script on one image.
//
// Every call: argument checks (-5000), the image's header read under a lock
// (-5002), then the depth rule of the command's kind from the slot table
// (script/commands.h) -- -5004, -5031, -5020, or a depth-raised working copy --
// and finally the command's row below, which turns slots into the
// operation's arguments. A row whose operation is not in the program yet
// answers -5001 (NotAvailable); the dispatcher tests list those rows.
//
// The input image is never changed or freed; a new image is handed out only
// on success, and any working copy is freed on every path.
#include "core/dib.h"
#include "core/settings.h"
#include "formats/dibroutines.h"
#include "imaging/adjust.h"
#include "imaging/border.h"
#include "imaging/depth.h"
#include "imaging/dither.h"
#include "imaging/filter.h"
#include "imaging/mosaic.h"
#include "imaging/noise.h"
#include "imaging/optpal.h"
#include "imaging/overlay.h"
#include "imaging/palette.h"
#include "imaging/perspective.h"
#include "imaging/rank.h"
#include "imaging/resample.h"
#include "imaging/rotate.h"
#include "imaging/shapes.h"
#include "imaging/skew.h"
#include "imaging/smear.h"
#include "imaging/tone.h"
#include "imaging/warp.h"
#include "script/script.h"

#include <algorithm>
#include <limits>

namespace {

struct Context {
    CScriptCommand& cmd;
    KHANDLE image;  // the image the row works on (a raised copy for RaiseTo rules)
    BITMAPINFOHEADER header;
    bool trueColourOrGrey;
    uint8_t red0, green0, blue0;  // colour 0 (C0)
    int16_t index0;               // palette index nearest colour 0 (palette images)
    StatusControlBlock* status;
    KHANDLE watermark;
    const std::string& fileName;
    const RGBQUAD* optimumPalette;
    int optimumCount;
};

using Row = KervErrorCode (*)(Context&, KHANDLE* out);

// The operation of this row does not exist in the program yet.
KervErrorCode NotAvailable(Context&, KHANDLE*) { return KERR_NOT_IMPLEMENTED; }

// Settings: nothing to do to the image, and no new image.
KervErrorCode Setting(Context&, KHANDLE*) { return KERV_OK; }

// A slot as the 16-bit argument most operations take.
int16_t Slot16(const Context& c, int i) { return static_cast<int16_t>(c.cmd.m_nParam[i]); }

// A slot as an option byte; a value beyond a byte becomes 255, which the
// operations refuse, rather than wrapping onto a valid choice.
uint8_t OptionByte(int32_t v) { return v >= 0 && v <= 255 ? static_cast<uint8_t>(v) : 255; }

KervErrorCode Flip(Context& c, KHANDLE* out) { return FlipDIB(c.status, c.image, out); }
KervErrorCode Mirror(Context& c, KHANDLE* out) { return MirrorDIB(c.status, c.image, out); }

KervErrorCode Rotate(Context& c, KHANDLE* out) {
    const auto& p = c.cmd.m_nParam;
    double angle = 0;
    switch (p[1]) {
    case 0: angle = 90; break;
    case 1: angle = 180; break;
    case 2: angle = 270; break;
    case 3: angle = p[0]; break;
    default: break;
    }
    const bool quarterTurn = angle == 90 || angle == 180 || angle == 270;
    if (!c.trueColourOrGrey && !quarterTurn) return KERR_NEEDS_TC_OR_GREY;
    // Palette images take the index of the nearest entry in place of red.
    const uint8_t first = c.trueColourOrGrey ? c.red0 : static_cast<uint8_t>(c.index0);
    return RotateDIB(c.status, c.image, out, angle, p[2] == 0 ? 1 : 0, first, c.green0, c.blue0, 1);
}

// The fill colour of the border operation: red, green, blue for a 24-bit
// image, the nearest palette index (then two zeros) for a palette image.
KervErrorCode AddBorder(Context& c, KHANDLE source, KHANDLE* out, int16_t top, int16_t bottom,
                        int16_t right, int16_t left) {
    if (c.header.biBitCount == 24)
        return AddBorderDIB(c.status, source, out, top, bottom, right, left, c.red0, c.green0, c.blue0);
    return AddBorderDIB(c.status, source, out, top, bottom, right, left,
                        static_cast<uint32_t>(c.index0), 0, 0);
}

KervErrorCode AddBorders(Context& c, KHANDLE* out) {
    const auto& p = c.cmd.m_nParam;
    return AddBorder(c, c.image, out, static_cast<int16_t>(p[2]), static_cast<int16_t>(p[3]),
                     static_cast<int16_t>(p[1]), static_cast<int16_t>(p[0]));
}

// Margins that bring an image of `size` to `target` (not smaller) in one
// direction; the odd pixel goes to the right or the bottom.
struct Margins {
    int64_t before = 0, after = 0;
};
Margins CentredMargins(int64_t size, int64_t target) {
    const int64_t before = (target - size) / 2;
    return {before, before + (size + 2 * before < target ? 1 : 0)};
}
bool FitsInt16(const Margins& m) {
    constexpr int64_t kMax = std::numeric_limits<int16_t>::max();
    return m.before <= kMax && m.after <= kMax;
}

// The frame that turns a width x height image into a boxW x boxH canvas.
// -5003 when the image is larger than the box in either direction (a
// truncated half-difference of -1 would otherwise pass as a margin of 0 and
// give a canvas of the wrong size); 101 when a margin is beyond what the
// border operation takes.
KervErrorCode FrameMargins(bool centre, int64_t width, int64_t height, int64_t boxW, int64_t boxH,
                           Margins* horizontal, Margins* vertical) {
    if (boxW < width || boxH < height) return KERR_CANVAS_TOO_SMALL;
    if (centre) {
        *horizontal = CentredMargins(width, boxW);
        *vertical = CentredMargins(height, boxH);
    } else {
        *horizontal = {0, boxW - width};
        *vertical = {0, boxH - height};
    }
    if (!FitsInt16(*horizontal) || !FitsInt16(*vertical)) return KERV_INVALID_PARAM;
    return KERV_OK;
}

KervErrorCode AddFrame(Context& c, KHANDLE source, KHANDLE* out, const Margins& horizontal,
                       const Margins& vertical) {
    return AddBorder(c, source, out, static_cast<int16_t>(vertical.before),
                     static_cast<int16_t>(vertical.after), static_cast<int16_t>(horizontal.after),
                     static_cast<int16_t>(horizontal.before));
}

KervErrorCode EnlargeCanvas(Context& c, KHANDLE* out) {
    const auto& p = c.cmd.m_nParam;
    Margins horizontal, vertical;
    if (KervErrorCode rc = FrameMargins(p[0] != 0, c.header.biWidth, c.header.biHeight, p[1], p[2],
                                        &horizontal, &vertical);
        rc != KERV_OK)
        return rc;
    return AddFrame(c, c.image, out, horizontal, vertical);
}

KervErrorCode Crop(Context& c, KHANDLE* out) {
    const auto& p = c.cmd.m_nParam;
    const auto fromCentre = static_cast<int16_t>(p[0]);
    if (fromCentre != 0)
        return CropImage(c.status, c.image, out, fromCentre, 0, 0, 0, 0, static_cast<int16_t>(p[1]),
                         static_cast<int16_t>(p[2]));
    return CropImage(c.status, c.image, out, 0, p[5], p[3], p[6], p[4], 0, 0);
}

// 32-bit products and truncating divisions, as the sizes have always been
// computed (a product that overflows wraps instead of being undefined).
int32_t MulDiv32(int32_t a, int32_t b, int32_t d) {
    const auto product = static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
    return d == 0 ? 0 : static_cast<int32_t>(int64_t{product} / d);
}

KervErrorCode Resize(Context& c, KHANDLE* out) {
    auto& p = c.cmd.m_nParam;
    const int32_t mode = p[0];
    ResizeFixedSize(mode, &p[2], &p[3]);
    if (p[1] == 1 && !c.trueColourOrGrey) return KERR_NEEDS_TC_OR_GREY;

    const int32_t iw = c.header.biWidth, ih = c.header.biHeight;
    const bool percent = p[4] != 0 && p[4] != PARAM_UNSET;
    const int32_t pw = (percent && mode >= 5 && mode <= 7) ? MulDiv32(p[2], iw, 100) : p[2];
    const int32_t ph = (percent && mode >= 5 && mode <= 7) ? MulDiv32(p[3], ih, 100) : p[3];
    int32_t w = 0, h = 0;
    switch (mode) {
    case 0: case 1: case 2: case 3: case 4: w = p[2], h = p[3]; break;
    case 5: w = pw, h = ph; break;
    case 6: w = pw, h = MulDiv32(ih, w, iw); break;
    case 7: h = ph, w = MulDiv32(iw, h, ih); break;
    case 8: {
        // Fit inside the box BW x BH keeping the aspect ratio.
        const int32_t bw = p[2], bh = p[3];
        const int64_t d1 = int64_t{MulDiv32(bw, ih, iw)} - bh;
        const int64_t d2 = int64_t{MulDiv32(bh, iw, ih)} - bw;
        if (d2 > d1)
            w = bw, h = MulDiv32(ih, bw, iw);
        else
            h = bh, w = MulDiv32(iw, bh, ih);
        break;
    }
    default: break;
    }
    enum Method { kEither = 0, kResample = 1, kResize = 2 };
    if (p[1] < kEither || p[1] > kResize) return KERV_INVALID_PARAM;
    if (w == 0 || h == 0) return KERR_RESIZE_TOO_SMALL;
    if (static_cast<uint32_t>(w) > 32767 || static_cast<uint32_t>(h) > 32767) return KERR_RESIZE_TOO_BIG;

    // The frame of mode 8 is worked out before any pixel is touched, so
    // that a box the image cannot fit in costs nothing.
    Margins horizontal, vertical;
    if (mode == 8)
        if (KervErrorCode rc = FrameMargins(true, w, h, p[2], p[3], &horizontal, &vertical); rc != KERV_OK)
            return rc;

    const bool resample = p[1] == kResample || (p[1] == kEither && c.trueColourOrGrey);
    KOwnedHandle scaled;
    {
        KHANDLE made = nullptr;
        const KervErrorCode rc =
            resample ? ResampleDIB(c.status, c.image, &made, static_cast<int16_t>(w), static_cast<uint16_t>(h))
                     : ResizeDIB(c.status, c.image, &made, static_cast<int16_t>(w), static_cast<int16_t>(h));
        scaled.reset(made);
        if (rc != KERV_OK) return rc;
    }
    if (mode != 8) {
        *out = scaled.release();
        return KERV_OK;
    }
    return AddFrame(c, scaled.get(), out, horizontal, vertical);
}

// ---- Colour adjustments and tones ----

// Brightness first, then contrast on its result; contrast alone when the
// brightness is 0, whatever the contrast (a contrast of 0 still runs).
KervErrorCode BrightnessContrast(Context& c, KHANDLE* out) {
    enum { kBrightness = 2, kContrast = 3 };
    const auto& p = c.cmd.m_nParam;
    if (p[0] == 0) return AdjustBrightnessContrast(c.status, c.image, out, Slot16(c, 1), kContrast);
    KOwnedHandle brighter;
    {
        KHANDLE made = nullptr;
        const KervErrorCode rc =
            AdjustBrightnessContrast(c.status, c.image, &made, Slot16(c, 0), kBrightness);
        brighter.reset(made);
        if (rc != KERV_OK) return rc;
    }
    if (p[1] == 0) {
        *out = brighter.release();
        return KERV_OK;
    }
    return AdjustBrightnessContrast(c.status, brighter.get(), out, Slot16(c, 1), kContrast);
}
KervErrorCode RedGreenBlue(Context& c, KHANDLE* out) {
    return AdjustRGBDIB(c.status, c.image, out, Slot16(c, 0), Slot16(c, 1), Slot16(c, 2));
}
KervErrorCode HueSaturationLum(Context& c, KHANDLE* out) {
    return AdjustHLSDIB(c.status, c.image, out, Slot16(c, 0), Slot16(c, 1), Slot16(c, 2));
}
KervErrorCode HighlightMidtoneShadow(Context& c, KHANDLE* out) {
    return AdjustHMSDIB(c.status, c.image, out, Slot16(c, 0), Slot16(c, 1), Slot16(c, 2), 0);
}
KervErrorCode Gamma(Context& c, KHANDLE* out) {
    const float g = c.cmd.m_fParam[0];
    return GammaDIB(c.status, c.image, out, g, g, g);
}
KervErrorCode Colorize(Context& c, KHANDLE* out) {
    return ColorizeDIB(c.status, c.image, out, Slot16(c, 0), Slot16(c, 1));
}
KervErrorCode Greyscale(Context& c, KHANDLE* out) { return GreyscaleDIB(c.status, c.image, out); }
KervErrorCode Equalize(Context& c, KHANDLE* out) {
    return EqualizeDIB(c.status, c.image, out, nullptr);
}
KervErrorCode Stretch(Context& c, KHANDLE* out) { return StretchDIB(c.status, c.image, out, nullptr); }
KervErrorCode Negative(Context& c, KHANDLE* out) { return InvertDIB(c.status, c.image, out); }
KervErrorCode Posterize(Context& c, KHANDLE* out) {
    return PosterizeDIB(c.status, c.image, out, Slot16(c, 0));
}
KervErrorCode Solarize(Context& c, KHANDLE* out) {
    enum { kSolarize = 4 };
    return AdjustDIB(c.status, c.image, out, Slot16(c, 0), kSolarize);
}

// ---- Deformations ----

// A value for a 16-bit argument without wrapping: out-of-range values stay
// out of range, for the operation to refuse.
int16_t Saturate16(int64_t v) {
    return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX));
}

// The sign of the difference picks the short side, its size the amount.
template <auto perspective> KervErrorCode Perspective(Context& c, KHANDLE* out) {
    const int64_t difference = c.cmd.m_nParam[0];
    return perspective(c.status, c.image, out, difference > 0 ? 1 : 0,
                       Saturate16(difference < 0 ? -difference : difference), c.red0, c.green0,
                       c.blue0);
}

// The warp's indexes from the effect e: 100 is neutral, below it the
// picture is squeezed towards the middle, above it spread from it.
template <int xSign, int ySign> KervErrorCode Warp(Context& c, KHANDLE* out) {
    const int64_t e = c.cmd.m_nParam[0];
    return WarpDIB(c.status, c.image, out, Saturate16(100 + xSign * e), Saturate16(100 + ySign * e));
}

KervErrorCode Circle(Context& c, KHANDLE* out) {
    return CircleDIB(c.status, c.image, out, c.red0, c.green0, c.blue0);
}
KervErrorCode Pentagon(Context& c, KHANDLE* out) {
    return PentagonDIB(c.status, c.image, out, c.red0, c.green0, c.blue0);
}

// P0 is 1 for "from the left", which the operation calls direction 0.
KervErrorCode Wind(Context& c, KHANDLE* out) {
    return WindDIB(c.status, c.image, out, 0, 0, Slot16(c, 1),
                   Saturate16(1 - int64_t{c.cmd.m_nParam[0]}));
}
KervErrorCode MotionBlur(Context& c, KHANDLE* out) {
    return MotionBlurDIB(c.status, c.image, out, Slot16(c, 1), Slot16(c, 0));
}
KervErrorCode Skew(Context& c, KHANDLE* out) {
    return SkewDIB(c.status, c.image, out, Slot16(c, 0), Slot16(c, 1), c.red0, c.green0, c.blue0);
}

// ---- Colour replacement and watermarks ----

// The replacement reports no progress of its own: the row reports its
// start and, on success, its end.
KervErrorCode ReplaceColor(Context& c, KHANDLE* out) {
    StatusControlBlock* s = c.status && c.status->progress ? c.status : nullptr;
    const auto report = [s](int32_t current) {
        if (!s) return;
        s->total = 100;
        s->current = current;
        s->pass = s->passCount = 0;
        s->progress(s);
    };
    report(0);
    const KervErrorCode rc =
        ReplaceColorDIB(c.image, out, c.cmd.m_crColor[0], c.cmd.m_crColor[1], Slot16(c, 0));
    if (rc == KERV_OK) report(100);
    return rc;
}

// The watermark image was loaded by the caller; the transparent colour is
// colour 0.
KervErrorCode Watermark(Context& c, KHANDLE* out) {
    const auto& p = c.cmd.m_nParam;
    return OverlayWatermark(c.status, c.image, out, Slot16(c, 0), Slot16(c, 1), OptionByte(p[2]),
                            c.watermark, c.blue0, c.green0, c.red0, Slot16(c, 4), p[5] != 0 ? 1 : 0);
}

// ---- Convolution filters ----

template <int code> KervErrorCode Filter(Context& c, KHANDLE* out) {
    return FilterDIB(c.status, c.image, out, static_cast<uint8_t>(c.header.biBitCount), code);
}
KervErrorCode Unsharpen(Context& c, KHANDLE* out) {
    return UnsharpMask(c.status, c.image, out, Slot16(c, 0), static_cast<uint16_t>(c.cmd.m_nParam[1]));
}

// ---- Rank filters, noise and mosaic ----

template <int32_t mode> KervErrorCode Rank(Context& c, KHANDLE* out) {
    return RankFilterDIB(c.status, c.image, out, mode);
}
KervErrorCode Despeckle(Context& c, KHANDLE* out) { return DespeckleDIB(c.status, c.image, out); }
KervErrorCode AddNoise(Context& c, KHANDLE* out) {
    return AddNoiseDIB(c.status, c.image, out, static_cast<uint16_t>(c.cmd.m_nParam[0]), Slot16(c, 1));
}
KervErrorCode Mosaic(Context& c, KHANDLE* out) {
    return MosaicDIB(c.status, c.image, nullptr, out, Slot16(c, 0), Slot16(c, 1));
}

// ---- Colour reduction ----

KervErrorCode ToTwoColors(Context& c, KHANDLE* out) {
    if (c.header.biBitCount == 1) return CopyDIB(c.image, out);
    const auto& p = c.cmd.m_nParam;
    const uint8_t component = OptionByte(p[0]);
    const uint8_t weighted = p[1] == 0 ? 1 : 0;
    switch (p[2]) {
    case 0: return DitherTo2Colors(c.status, c.image, out, 0, component, weighted);
    case 1: return OrderedDither2(c.status, c.image, out, component);
    case 2: {
        // 1 Floyd-Steinberg, 2 Burkes, 3 Stucki.
        const uint8_t kernel = p[3] >= 0 && p[3] <= 2 ? static_cast<uint8_t>(p[3] + 1) : 255;
        return DitherTo2Colors(c.status, c.image, out, kernel, component, weighted);
    }
    default: return KERV_OK;  // no such method: nothing to do
    }
}

enum { kNearestColour = 0, kOrderedDither = 1, kErrorDiffusion = 2 };

// The image's own optimized palette (median cut or octree), then the image
// reduced to it. The Windows colours (256 colours only) take 20 of the
// entries, ten before and ten after the generated ones.
KervErrorCode ReduceToOwnPalette(Context& c, KHANDLE* out, uint8_t target, uint8_t kind,
                                 bool windowsColours, uint8_t reduceBleed) {
    const int32_t method = c.cmd.m_nParam[1];
    // Ordered dithering goes with the standard palettes only.
    if (method != kNearestColour && method != kErrorDiffusion) return KERV_OK;
    RGBQUAD palette[256] = {};
    uint16_t count = 0;
    {
        PaletteAccumulator accumulator;
        const uint16_t limit = target == 4 ? 16 : windowsColours ? 236 : 256;
        if (KervErrorCode rc = accumulator.Begin(kind, limit, 8, windowsColours)) return rc;
        if (KervErrorCode rc = accumulator.AddImage(c.image)) return rc;
        count = accumulator.Generate(palette, windowsColours);
    }
    if (windowsColours) count = static_cast<uint16_t>(count + 20);
    const KervErrorCode rc = DitherToPalette(c.status, c.image, out, target, palette,
                                             static_cast<uint8_t>(method), reduceBleed, count);
    ReleaseDitherCache();  // the palette was this image's alone
    return rc;
}

// 521 and 522 on an image of more bits than the target. The reduce-bleed
// flag is the low byte of its slot; 522's P2 adds the Windows colours.
KervErrorCode ReduceColours(Context& c, KHANDLE* out, uint8_t target, int bleedSlot) {
    const auto& p = c.cmd.m_nParam;
    const auto reduceBleed = static_cast<uint8_t>(p[bleedSlot]);
    enum { kMedianCut = 0, kOctree = 1, kStandard = 2 };
    switch (p[0]) {
    case kMedianCut:
    case kOctree:
        return ReduceToOwnPalette(c, out, target, static_cast<uint8_t>(p[0]),
                                  target == 8 && p[2] == 1, reduceBleed);
    case kStandard:
        return DitherToStandardPalette(c.status, c.image, out, target, OptionByte(p[1]), reduceBleed,
                                       DataFilePath("KCD.DAT"));
    default: return KERV_OK;  // no such palette: nothing to do
    }
}

// 521 and 522: a copy at the target depth, a raise below it, a reduction
// above it.
KervErrorCode ToPaletteDepth(Context& c, KHANDLE* out, uint16_t target, int bleedSlot) {
    const int bits = c.header.biBitCount;
    if (bits == target) return CopyDIB(c.image, out);
    if (bits < target) return IncreaseDepthDIB(c.status, c.image, out, target);
    return ReduceColours(c, out, static_cast<uint8_t>(target), bleedSlot);
}
KervErrorCode ToSixteenColors(Context& c, KHANDLE* out) { return ToPaletteDepth(c, out, 4, 2); }
KervErrorCode To256Colors(Context& c, KHANDLE* out) { return ToPaletteDepth(c, out, 8, 3); }

// 518: the palette file of S0, text form first, then RIFF.
KervErrorCode ApplyPalette(Context& c, KHANDLE* out) {
    RGBQUAD palette[256] = {};
    uint16_t count = 0;
    const std::string& path = c.cmd.m_strParam[0];
    KervErrorCode rc = ReadPaletteFile(path, palette, &count);
    if (rc == KERV_BAD_PALETTE_FILE) rc = ReadRiffPaletteFile(path, palette, &count);
    if (rc != KERV_OK) return rc;

    // A 16-colour image takes a 256-colour palette at 8 bits.
    KOwnedHandle raised;
    KHANDLE image = c.image;
    if (c.header.biBitCount == 4 && count == 256) {
        KHANDLE made = nullptr;
        rc = IncreaseDepthDIB(c.status, c.image, &made, 8);
        raised.reset(made);
        if (rc != KERV_OK) return rc;
        image = made;
    }
    enum { kNearest = 0, kDiffused = 1, kMaintainIndexes = 2 };
    const uint8_t target = count == 16 ? 4 : count == 256 ? 8 : 0;
    switch (c.cmd.m_nParam[0]) {
    case kNearest:
        return DitherToPalette(c.status, image, out, target, palette, kNearestColour, 0, count);
    case kDiffused:
        return DitherToPalette(c.status, image, out, target, palette, kErrorDiffusion, 0, count);
    case kMaintainIndexes: return ReplacePaletteDIB(image, out, count, palette);
    default: return KERV_OK;  // no such method: nothing to do
    }
}

// 519: the palette the batch run gathered from all its images. With the
// Windows colours they stand ten before and ten after the generated
// entries, which happens only for at most 236 generated ones.
KervErrorCode ApplyOptimizedPalette(Context& c, KHANDLE* out) {
    const auto& p = c.cmd.m_nParam;
    if (!c.optimumPalette || c.optimumCount < 1 || c.optimumCount > 256) return KERV_INVALID_PARAM;
    int count = c.optimumCount;
    if (p[1] != 0 && count <= 236) count += 20;
    switch (p[2]) {
    case 0:
        return DitherToPalette(nullptr, c.image, out, 8, c.optimumPalette, kNearestColour, 0,
                               static_cast<uint16_t>(count));
    case 1:
        return DitherToPalette(nullptr, c.image, out, 8, c.optimumPalette, kErrorDiffusion,
                               static_cast<uint8_t>(p[3]), static_cast<uint16_t>(count));
    default: return KERV_OK;  // no such method: nothing to do
    }
}

KervErrorCode ToTrueColor(Context& c, KHANDLE* out) {
    if (c.header.biBitCount == 24) return CopyDIB(c.image, out);
    return IncreaseDepthDIB(c.status, c.image, out, 24);
}

Row RowFor(int32_t id) {
    switch (id) {
    case CMD_FLIP: return Flip;
    case CMD_MIRROR: return Mirror;
    case CMD_ROTATE: return Rotate;
    case CMD_RESIZE: return Resize;
    case CMD_ADD_BORDERS: return AddBorders;
    case CMD_ENLARGE_CANVAS: return EnlargeCanvas;
    case CMD_CROP: return Crop;
    case CMD_TO_2_COLORS: return ToTwoColors;
    case CMD_TO_16_COLORS: return ToSixteenColors;
    case CMD_TO_256_COLORS: return To256Colors;
    case CMD_TO_TRUE_COLOR: return ToTrueColor;
    case CMD_APPLY_PALETTE: return ApplyPalette;
    case CMD_OPTIMIZED_PALETTE: return ApplyOptimizedPalette;
    case CMD_SET_OUTPUT_OPTIONS:
    case CMD_SET_INPUT_OPTIONS: return Setting;
    case CMD_BRIGHTNESS_CONTRAST: return BrightnessContrast;
    case CMD_RED_GREEN_BLUE: return RedGreenBlue;
    case CMD_HUE_SATURATION_LUM: return HueSaturationLum;
    case CMD_HIGHLIGHT_MIDTONE_SHADOW: return HighlightMidtoneShadow;
    case CMD_GAMMA: return Gamma;
    case CMD_GREYSCALE: return Greyscale;
    case CMD_EQUALIZE_HISTOGRAM: return Equalize;
    case CMD_STRETCH_HISTOGRAM: return Stretch;
    case CMD_NEGATIVE: return Negative;
    case CMD_POSTERIZE: return Posterize;
    case CMD_SOLARIZE: return Solarize;
    case CMD_COLORIZE: return Colorize;
    case CMD_HORIZONTAL_PERSPECTIVE: return Perspective<HPerspectiveDIB>;
    case CMD_VERTICAL_PERSPECTIVE: return Perspective<VPerspectiveDIB>;
    case CMD_HORIZONTAL_CYLINDER: return Warp<0, -1>;
    case CMD_VERTICAL_CYLINDER: return Warp<-1, 0>;
    case CMD_PINCH: return Warp<1, 1>;
    case CMD_PUNCH: return Warp<-1, -1>;
    case CMD_WIND: return Wind;
    case CMD_MOTION_BLUR: return MotionBlur;
    case CMD_SKEW: return Skew;
    case CMD_COLOR_REPLACEMENT: return ReplaceColor;
    case CMD_OVERLAY_WATERMARK: return Watermark;
    case CMD_CIRCLE: return Circle;
    case CMD_PENTAGON: return Pentagon;
    case CMD_EDGE_ENHANCE: return Filter<FILTER_EDGE_ENHANCE>;
    case CMD_EDGE_ENHANCE_MORE: return Filter<FILTER_EDGE_ENHANCE_MORE>;
    case CMD_FIND_EDGES: return Filter<FILTER_FIND_EDGES>;
    case CMD_FIND_HORIZONTAL_EDGES: return Filter<FILTER_FIND_HORIZONTAL_EDGES>;
    case CMD_FIND_VERTICAL_EDGES: return Filter<FILTER_FIND_VERTICAL_EDGES>;
    case CMD_TRACE_CONTOUR: return Filter<FILTER_TRACE_CONTOUR>;
    case CMD_BLUR: return Filter<FILTER_BLUR>;
    case CMD_BLUR_MORE: return Filter<FILTER_BLUR_MORE>;
    case CMD_SOFTEN: return Filter<FILTER_SOFTEN>;
    case CMD_SOFTEN_MORE: return Filter<FILTER_SOFTEN_MORE>;
    case CMD_SHARPEN: return Filter<FILTER_SHARPEN>;
    case CMD_SHARPEN_MORE: return Filter<FILTER_SHARPEN_MORE>;
    case CMD_EMBOSS: return Filter<FILTER_EMBOSS>;
    case CMD_UNSHARPEN: return Unsharpen;
    case CMD_ERODE: return Rank<0>;
    case CMD_MEDIAN: return Rank<1>;
    case CMD_DILATE: return Rank<2>;
    case CMD_DESPECKLE: return Despeckle;
    case CMD_ADD_NOISE: return AddNoise;
    case CMD_MOSAIC: return Mosaic;

    case CMD_PRINT:                     // the print routine
    default: return NotAvailable;
    }
}

}  // namespace

KervErrorCode CScript::DoCommand(int index, KHANDLE image, KHANDLE* result, KHANDLE watermark,
                                 std::string fileName, StatusControlBlock* status,
                                 const RGBQUAD* optimumPalette, int optimumCount) {
    if (index < 0 || index >= GetCount() || !image || !result) return KERR_INVALID_PARAMETER;
    *result = nullptr;
    CScriptCommand& cmd = *GetCommand(index);

    BITMAPINFOHEADER header;
    {
        DIBLock lock(image);
        if (!lock) return KERR_CANNOT_LOCK;
        header = *lock.header();
    }
    const int bits = header.biBitCount;
    Context c{cmd, image, header, bits == 24 || (bits == 8 && IsDIBGreyScaled(image)),
              GetRValue(cmd.m_crColor[0]), GetGValue(cmd.m_crColor[0]), GetBValue(cmd.m_crColor[0]),
              0, status, watermark, fileName, optimumPalette, optimumCount};
    if (bits < 24) {
        uint8_t r = c.red0, g = c.green0, b = c.blue0;
        c.index0 = LocateColorInPal(image, &r, &g, &b, false);
    }

    const CommandInfo* info = FindCommandInfo(cmd.m_nID);
    if (!info) return KERR_NOT_IMPLEMENTED;
    const Row row = RowFor(cmd.m_nID);

    KOwnedHandle raised;
    switch (info->depthRule) {
    case DepthRule::TrueColourOrGrey:
        if (!c.trueColourOrGrey) return KERR_NEEDS_TC_OR_GREY;
        break;
    case DepthRule::TrueColourOrGreyB:
        if (!c.trueColourOrGrey) return KERR_NEEDS_8_OR_24;
        break;
    case DepthRule::AtLeast8:
        if (bits < 8) return KERR_NEEDS_8_OR_24;
        break;
    case DepthRule::Not1Bit:
        if (bits == 1) return KERR_NOT_2_COLOR;
        break;
    case DepthRule::RaiseTo8:
    case DepthRule::RaiseTo24: {
        const uint16_t target = info->depthRule == DepthRule::RaiseTo8 ? 8 : 24;
        if (row == NotAvailable) return KERR_NOT_IMPLEMENTED;  // no copy for nothing
        if (bits < target) {
            KHANDLE copy = nullptr;
            if (KervErrorCode rc = IncreaseDepthDIB(status, image, &copy, target); rc != KERV_OK)
                return rc;
            raised.reset(copy);
            c.image = copy;
            DIBLock lock(copy);
            if (!lock) return KERR_CANNOT_LOCK;
            c.header = *lock.header();
        }
        break;
    }
    case DepthRule::Any:
    case DepthRule::BySlots: break;
    }

    KHANDLE produced = nullptr;
    const KervErrorCode rc = row(c, &produced);
    if (rc != KERV_OK) {
        if (produced) KML_GlobalFree(produced);
        return rc;
    }
    *result = produced;
    return KERV_OK;
}
