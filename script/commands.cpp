// The slot table and the occurrence rules.
#include "script/commands.h"

#include "core/errors.h"
#include "script/script.h"

#include <algorithm>
#include <cmath>

namespace {

using S = Slot;
using D = DepthRule;
using K = CommandKind;

// Table-building shorthands: an integer slot with a default and a range, one
// without a range, a colour, a text, a dialog-state slot.
constexpr SlotInfo Int(Slot s, const char* meaning, double def, double lo, double hi,
                       const char* label = nullptr) {
    return {s, meaning, label, SlotDefault::Number, def, nullptr, true, lo, hi, false, false};
}
constexpr SlotInfo Clamped(Slot s, const char* meaning, double def, double lo, double hi,
                           const char* label) {
    return {s, meaning, label, SlotDefault::Number, def, nullptr, true, lo, hi, true, false};
}
constexpr SlotInfo Flag(Slot s, const char* meaning, double def, const char* label = nullptr) {
    return Int(s, meaning, def, 0, 1, label);
}
constexpr SlotInfo State(Slot s, const char* meaning, double def, const char* label) {
    return {s, meaning, label, SlotDefault::Number, def, nullptr, true, 0, 1, false, true};
}
constexpr SlotInfo Raw(Slot s, const char* meaning, double def) {
    return {s, meaning, nullptr, SlotDefault::Number, def, nullptr, false, 0, 0, false, false};
}
constexpr SlotInfo Color(Slot s, const char* meaning, const char* label) {
    return {s, meaning, label, SlotDefault::Number, 0, nullptr, false, 0, 0, false, false};
}
constexpr SlotInfo Text(Slot s, const char* meaning, const char* def, const char* label) {
    return {s, meaning, label, SlotDefault::Text, 0, def, false, 0, 0, false, false};
}

// The size fields of resize, canvas and crop are 16-bit in the operations.
constexpr double kMaxSize = 32767;

constexpr SlotInfo kResize[] = {
    Int(S::P0, "size mode: 0..4 fixed sizes, 5 width x height, 6 width keeping aspect, "
               "7 height keeping aspect, 8 fit in a box", 0, 0, 8),
    Int(S::P1, "method: 0 as appropriate, 1 resample, 2 resize", 0, 0, 2,
        "Resize &or resample as needed"),
    Int(S::P2, "width (pixels, or percent when P4 = 1)", 100, 1, kMaxSize, "&Width:"),
    Int(S::P3, "height (pixels, or percent when P4 = 1)", 100, 1, kMaxSize, "H&eight:"),
    Flag(S::P4, "units: 0 pixels, 1 percent of the current size", 0, "&Percentage"),
    Color(S::C0, "background colour of the box (mode 8)", "Tile &Color..."),
};
constexpr SlotInfo kBrightness[] = {
    Int(S::P0, "brightness", 0, -100, 100, "% &Brightness:"),
    Int(S::P1, "contrast", 0, -100, 100, "% &Contrast:"),
};
constexpr SlotInfo kRgb[] = {
    Int(S::P0, "red (percent)", 0, -100, 100, "% &Red:"),
    Int(S::P1, "green (percent)", 0, -100, 100, "% &Green:"),
    Int(S::P2, "blue (percent)", 0, -100, 100, "% &Blue:"),
};
constexpr SlotInfo kHls[] = {
    Int(S::P0, "hue (percent)", 0, -100, 100, "% H&ue:"),
    Int(S::P1, "saturation (percent)", 0, -100, 100, "% &Saturation:"),
    Int(S::P2, "luminance (percent)", 0, -100, 100, "% &Luminance:"),
};
constexpr SlotInfo kHms[] = {
    Int(S::P0, "highlight", 100, 0, 100, "% H&ighlight:"),
    Int(S::P1, "midtone", 50, 0, 100, "% &Midtone:"),
    Int(S::P2, "shadow", 0, 0, 100, "% &Shadow:"),
};
constexpr SlotInfo kRotate[] = {
    Int(S::P0, "free angle in degrees", 0, 1, 359, "&Free:"),
    Int(S::P1, "angle: 0 = 90, 1 = 180, 2 = 270, 3 = the free angle P0", 0, 0, 3),
    Int(S::P2, "direction: 0 right (clockwise), 1 left", 0, 0, 1, "&Right"),
    Color(S::C0, "background of the uncovered corners", "&Color..."),
};
constexpr SlotInfo kBorders[] = {
    Int(S::P0, "left margin (pixels)", 5, 0, kMaxSize, "&Left:"),
    Int(S::P1, "right margin (pixels)", 5, 0, kMaxSize, "&Right:"),
    Int(S::P2, "top margin (pixels)", 5, 0, kMaxSize, "&Top:"),
    Int(S::P3, "bottom margin (pixels)", 5, 0, kMaxSize, "&Bottom:"),
    State(S::P4, "symmetric check", 0, "Sy&mmetric"),
    Color(S::C0, "border colour", "&Color..."),
};
constexpr SlotInfo kCanvas[] = {
    Flag(S::P0, "placement: non-zero centre, 0 upper left corner", 1, "Ce&nter image"),
    Int(S::P1, "new width (pixels)", 100, 1, kMaxSize, "&Width:"),
    Int(S::P2, "new height (pixels)", 100, 1, kMaxSize, "H&eight:"),
    Color(S::C0, "background colour", "&Color..."),
};
constexpr SlotInfo kGamma[] = {
    {S::F0, "correction factor", "&Correction:", SlotDefault::Number, 1.2, nullptr, true, 0.1,
     10.0, false, false},
};
constexpr SlotInfo kPosterize[] = {
    Clamped(S::P0, "bits per channel", 50, 1, 7, "&Bits Per Channel:"),
};
constexpr SlotInfo kSolarize[] = {
    Clamped(S::P0, "threshold", 255, 1, 254, "&Threshold:"),
};
constexpr SlotInfo kNewPalette[] = {
    Text(S::S0, "palette file", "", nullptr),
    Int(S::P0, "method: 0 nearest colour, 1 error diffusion, 2 maintain indexes", 0, 0, 2),
};
constexpr SlotInfo kOptimized[] = {
    Int(S::P0, "colours generated from the images (the total less 20 with P1)", 256, 1, 256,
        "&Total number of colors in optimized palette:"),
    Flag(S::P1, "include the 20 Windows colours", 0, "&Include Windows' colors"),
    Int(S::P2, "method: 0 nearest colour, 1 error diffusion", 1, 0, 1, "&Map to nearest color"),
    Flag(S::P3, "reduce colour bleed", 0, "&Reduce color bleeding"),
    Int(S::P4, "palette: 0 median cut, 1 octree", 0, 0, 1, "Me&dian Cut"),
};
constexpr SlotInfo kTwoColors[] = {
    Int(S::P0, "component judged: 0 grey, 1 red, 2 green, 3 blue", 0, 0, 3, "Grey &values"),
    Int(S::P1, "palette: 0 weighted, 1 non-weighted", 0, 0, 1, "&Weighted"),
    Int(S::P2, "method: 0 nearest colour, 1 ordered dither, 2 error diffusion", 0, 0, 2,
        "&Nearest color"),
    Int(S::P3, "error diffusion: 0 Floyd-Steinberg, 1 Burkes, 2 Stucki", 0, 0, 2,
        "&Floyd-Steinberg"),
};
constexpr SlotInfo kSixteen[] = {
    Int(S::P0, "palette: 0 median cut, 1 octree, 2 standard", 0, 0, 2, "Optimized &Median Cut"),
    Int(S::P1, "method: 0 nearest colour, 1 ordered dither, 2 error diffusion", 0, 0, 2,
        "&Nearest color"),
    Flag(S::P2, "reduce colour bleed", 0, "&Reduce color bleeding"),
};
constexpr SlotInfo k256[] = {
    Int(S::P0, "palette: 0 median cut, 1 octree, 2 standard", 0, 0, 2, "Optimized &Median Cut"),
    Int(S::P1, "method: 0 nearest colour, 1 ordered dither, 2 error diffusion", 0, 0, 2,
        "&Nearest color"),
    Flag(S::P2, "include the 20 Windows colours", 0, "&Include Windows' colors"),
    Flag(S::P3, "reduce colour bleed", 0, "&Reduce color bleeding"),
};
constexpr SlotInfo kColorize[] = {
    Int(S::P0, "hue", 50, 0, 255, "H&ue:"),
    Int(S::P1, "saturation", 0, 0, 255, "&Saturation:"),
};
// -2..2 is refused on OK (message 5030); the sign gives the side.
constexpr SlotInfo kPerspective[] = {
    Int(S::P0, "difference in percent", 30, -100, 100, "% &Difference:"),
    Color(S::C0, "background colour", "&Color..."),
};
// 100 - effect must stay positive for the cylinder and punch scales.
constexpr SlotInfo kWarp[] = {
    Int(S::P0, "effect (percent)", 30, 0, 99, "% &Effect:"),
};
constexpr SlotInfo kUnsharpen[] = {
    Int(S::P0, "clipping", 10, 0, 100, "&Clipping:"),
    Int(S::P1, "strength", 2, 1, 4, "&Strength:"),
};
constexpr SlotInfo kOutputOptions[] = {
    Int(S::P0, "output format identifier minus 1", 0, 0, 33),
    Raw(S::P1, "format sub-type", -10),
    Raw(S::P2, "DPI in bits 0..15, maintain-DPI flag in bit 16", 300),
    Raw(S::P3, "compression", 15),
    Raw(S::P4, "transparency type in bits 8..15, index in bits 0..7", 0),
    Flag(S::P5, "retain directory: 1 next to the input file, else into folder S0", 0),
    Raw(S::P6, "QZM version", 1),
    Raw(S::P7, "plane encoding", 1),
    {S::S0, "output folder", nullptr, SlotDefault::HomeFolder, 0, nullptr, false, 0, 0, false,
     false},
    Color(S::C0, "transparent colour", nullptr),
};
constexpr SlotInfo kShape[] = {
    Color(S::C0, "background colour", "Select Background Color"),
};
// The wind treats a strength above 20 as 0, so the range stops there.
constexpr SlotInfo kWind[] = {
    Int(S::P0, "direction: 0 from the right, 1 from the left", 0, 0, 1, "From &right"),
    Int(S::P1, "strength", 5, 1, 20, "&Strength:"),
};
constexpr SlotInfo kMotionBlur[] = {
    Int(S::P0, "direction angle in degrees", 45, 0, 359, "&Direction"),
    Int(S::P1, "intensity in pixels", 5, 0, 40, "&Intensity"),
};
// Both 0 is refused on OK (message 5019).
constexpr SlotInfo kSkew[] = {
    Int(S::P0, "horizontal skew", 20, -89, 89, "H&orizontal:"),
    Int(S::P1, "vertical skew", 0, -89, 89, "&Vertical:"),
    Color(S::C0, "background colour", "Select Background Color"),
};
constexpr SlotInfo kNoise[] = {
    Int(S::P0, "noise: 0 random, 1 uniform", 0, 0, 1, "&Random"),
    Int(S::P1, "amount in percent", 50, 0, 100, "% &Noise:"),
};
constexpr SlotInfo kMosaic[] = {
    Int(S::P0, "block width (pixels)", 2, 1, kMaxSize, "Block &width:"),
    Int(S::P1, "block height (pixels)", 2, 1, kMaxSize, "Block h&eight:"),
    State(S::P2, "symmetric check", 1, "&Symmetric"),
};
constexpr SlotInfo kCrop[] = {
    Int(S::P0, "mode: 0 crop the edges, 1 crop from the centre", 0, 0, 1, "&Edge"),
    Int(S::P1, "centre-crop width", 100, 1, kMaxSize, "&Width:"),
    Int(S::P2, "centre-crop height", 100, 1, kMaxSize, "He&ight:"),
    Int(S::P3, "top edge", 10, 0, kMaxSize, "&Top:"),
    Int(S::P4, "bottom edge", 10, 0, kMaxSize, "&Bottom:"),
    Int(S::P5, "left edge", 10, 0, kMaxSize, "&Left:"),
    Int(S::P6, "right edge", 10, 0, kMaxSize, "&Right:"),
    State(S::P7, "edge group's symmetric check", 0, "S&ymmetric"),
    State(S::P8, "centre group's symmetric check", 0, "&Symmetric"),
};
constexpr SlotInfo kReplace[] = {
    Color(S::C0, "colour to be replaced", "&Color..."),
    Color(S::C1, "replacement colour", "C&olor..."),
    Int(S::P0, "tolerance (percent)", 0, 0, 100, "&Tolerance:"),
};
constexpr SlotInfo kWatermark[] = {
    Text(S::S0, "watermark image file", "", "&Load Watermark..."),
    Int(S::P0, "vertical centre, percent of the height from the top", 100, 0, 100, "&Y Origin %"),
    Int(S::P1, "horizontal centre, percent of the width from the left", 100, 0, 100,
        "&X Origin %"),
    Int(S::P2, "opacity (percent)", 100, 0, 100, "&Opacity"),
    {S::P3, "stored, not used by the operation", nullptr, SlotDefault::Number, 0, nullptr, false,
     0, 0, false, true},
    Int(S::P4, "tolerance (percent)", 0, 0, 100, "Tol&erance"),
    Flag(S::P5, "use transparency (non-zero yes)", 1, "&Use Transparency"),
    Color(S::C0, "transparent colour", "&Transparent Color..."),
};
constexpr SlotInfo kInputOptions[] = {
    Text(S::S0, "image list file", "", nullptr),
    {S::P0, "display error messages (non-zero on)", nullptr, SlotDefault::Unchanged, 0, nullptr,
     false, 0, 0, false, false},
    Int(S::P1, "use output settings: 0 on, non-zero off", 0, 0, 1),
};
constexpr SlotInfo kPrint[] = {
    Raw(S::P0, "left margin (layout units)", 1000),
    Raw(S::P1, "top margin (layout units)", 1000),
    Raw(S::P2, "image width (layout units)", 3000),
    Raw(S::P3, "image height (layout units)", 3000),
    Flag(S::P4, "maintain aspect ratio", 0),
    Flag(S::P5, "centre on page", 0),
    Flag(S::P6, "use full page", 0),
    Flag(S::P7, "print the file name", 0),
    Int(S::P8, "orientation: 0 portrait, 1 landscape", 0, 0, 1),
    Int(S::P9, "copies", 1, 1, 999),
    Raw(S::F0, "image height for display", 0),
    Raw(S::F1, "image width for display", 0),
};

constexpr std::span<const SlotInfo> kNone{};

constexpr CommandInfo Op(int32_t id, DepthRule rule, std::span<const SlotInfo> slots) {
    return {id, K::ImageOperation, rule, slots, false};
}

const CommandInfo kCommands[COMMAND_COUNT] = {
    Op(CMD_RESIZE, D::BySlots, kResize),
    Op(CMD_BRIGHTNESS_CONTRAST, D::Any, kBrightness),
    Op(CMD_RED_GREEN_BLUE, D::Any, kRgb),
    Op(CMD_HUE_SATURATION_LUM, D::Any, kHls),
    Op(CMD_HIGHLIGHT_MIDTONE_SHADOW, D::Any, kHms),
    Op(CMD_FLIP, D::Any, kNone),
    Op(CMD_MIRROR, D::Any, kNone),
    Op(CMD_ROTATE, D::BySlots, kRotate),
    Op(CMD_ADD_BORDERS, D::Any, kBorders),
    Op(CMD_ENLARGE_CANVAS, D::Any, kCanvas),
    Op(CMD_GAMMA, D::Any, kGamma),
    Op(CMD_GREYSCALE, D::RaiseTo8, kNone),
    Op(CMD_EQUALIZE_HISTOGRAM, D::TrueColourOrGreyB, kNone),
    Op(CMD_STRETCH_HISTOGRAM, D::TrueColourOrGreyB, kNone),
    Op(CMD_NEGATIVE, D::Any, kNone),
    Op(CMD_POSTERIZE, D::Any, kPosterize),
    Op(CMD_SOLARIZE, D::Any, kSolarize),
    Op(CMD_APPLY_PALETTE, D::Not1Bit, kNewPalette),
    Op(CMD_OPTIMIZED_PALETTE, D::RaiseTo24, kOptimized),
    Op(CMD_TO_2_COLORS, D::Any, kTwoColors),
    Op(CMD_TO_16_COLORS, D::Any, kSixteen),
    Op(CMD_TO_256_COLORS, D::Any, k256),
    Op(CMD_TO_TRUE_COLOR, D::Any, kNone),
    Op(CMD_COLORIZE, D::Any, kColorize),
    Op(CMD_HORIZONTAL_PERSPECTIVE, D::TrueColourOrGrey, kPerspective),
    Op(CMD_VERTICAL_PERSPECTIVE, D::TrueColourOrGrey, kPerspective),
    Op(CMD_HORIZONTAL_CYLINDER, D::TrueColourOrGrey, kWarp),
    Op(CMD_VERTICAL_CYLINDER, D::TrueColourOrGrey, kWarp),
    Op(CMD_PINCH, D::TrueColourOrGrey, kWarp),
    Op(CMD_PUNCH, D::TrueColourOrGrey, kWarp),
    Op(CMD_EDGE_ENHANCE, D::TrueColourOrGrey, kNone),
    Op(CMD_EDGE_ENHANCE_MORE, D::TrueColourOrGrey, kNone),
    Op(CMD_FIND_EDGES, D::TrueColourOrGrey, kNone),
    Op(CMD_FIND_HORIZONTAL_EDGES, D::TrueColourOrGrey, kNone),
    Op(CMD_FIND_VERTICAL_EDGES, D::TrueColourOrGrey, kNone),
    Op(CMD_TRACE_CONTOUR, D::TrueColourOrGrey, kNone),
    Op(CMD_BLUR, D::TrueColourOrGrey, kNone),
    Op(CMD_BLUR_MORE, D::TrueColourOrGrey, kNone),
    Op(CMD_SOFTEN, D::TrueColourOrGrey, kNone),
    Op(CMD_SOFTEN_MORE, D::TrueColourOrGrey, kNone),
    Op(CMD_SHARPEN, D::TrueColourOrGrey, kNone),
    Op(CMD_SHARPEN_MORE, D::TrueColourOrGrey, kNone),
    Op(CMD_UNSHARPEN, D::TrueColourOrGrey, kUnsharpen),
    {CMD_SET_OUTPUT_OPTIONS, K::Setting, D::Any, kOutputOptions, true},
    Op(CMD_CIRCLE, D::TrueColourOrGrey, kShape),
    Op(CMD_PENTAGON, D::TrueColourOrGrey, kShape),
    Op(CMD_WIND, D::TrueColourOrGrey, kWind),
    Op(CMD_MOTION_BLUR, D::TrueColourOrGrey, kMotionBlur),
    Op(CMD_SKEW, D::TrueColourOrGrey, kSkew),
    Op(CMD_ADD_NOISE, D::AtLeast8, kNoise),
    Op(CMD_DESPECKLE, D::TrueColourOrGrey, kNone),
    Op(CMD_DILATE, D::TrueColourOrGrey, kNone),
    Op(CMD_EMBOSS, D::TrueColourOrGrey, kNone),
    Op(CMD_ERODE, D::TrueColourOrGrey, kNone),
    Op(CMD_MEDIAN, D::TrueColourOrGrey, kNone),
    Op(CMD_MOSAIC, D::AtLeast8, kMosaic),
    Op(CMD_CROP, D::Any, kCrop),
    Op(CMD_COLOR_REPLACEMENT, D::Any, kReplace),
    Op(CMD_OVERLAY_WATERMARK, D::Any, kWatermark),
    {CMD_SET_INPUT_OPTIONS, K::Setting, D::Any, kInputOptions, true},
    {CMD_PRINT, K::OutputAction, D::Any, kPrint, false},
};

}  // namespace

std::string CommandDisplayName(int32_t id) { return IsCommandID(id) ? LoadString(id) : ""; }

std::span<const CommandInfo> AllCommands() { return kCommands; }

const CommandInfo* FindCommandInfo(int32_t id) {
    return IsCommandID(id) ? &kCommands[id - FIRST_COMMAND_ID] : nullptr;
}

const SlotInfo* FindSlotInfo(int32_t id, Slot slot) {
    const CommandInfo* info = FindCommandInfo(id);
    if (!info) return nullptr;
    for (const SlotInfo& s : info->slotTable)
        if (s.slot == slot) return &s;
    return nullptr;
}

bool CommandHasParameters(int32_t id) {
    const CommandInfo* info = FindCommandInfo(id);
    return info && !info->slotTable.empty();
}

namespace {
double ProposedDefault(const SlotInfo& s) {
    double v = s.defaultValue;
    if (s.clampDefault) v = std::clamp(v, s.min, s.max);
    return v;
}
}  // namespace

int32_t IntSlotDefault(int32_t id, Slot slot, int32_t fallback) {
    const SlotInfo* s = FindSlotInfo(id, slot);
    if (!s || s->defaultKind != SlotDefault::Number) return fallback;
    return static_cast<int32_t>(ProposedDefault(*s));
}

float FloatSlotDefault(int32_t id, Slot slot, float fallback) {
    const SlotInfo* s = FindSlotInfo(id, slot);
    if (!s || s->defaultKind != SlotDefault::Number) return fallback;
    return static_cast<float>(ProposedDefault(*s));
}

bool ResizeFixedSize(int32_t mode, int32_t* width, int32_t* height) {
    static constexpr int32_t kSizes[5][2] = {
        {320, 200}, {640, 350}, {640, 480}, {800, 600}, {1024, 768}};
    if (mode < 0 || mode > 4) return false;
    *width = kSizes[mode][0];
    *height = kSizes[mode][1];
    return true;
}

bool IsOnceOnlyCommand(int32_t id) {
    const CommandInfo* info = FindCommandInfo(id);
    return info && info->onceOnly;
}

bool CanAddCommand(const CScript& script, int32_t id) {
    return !IsOnceOnlyCommand(id) || script.FindCommand(id) == nullptr;
}

bool IsPrintScript(const CScript& script) {
    const int n = script.GetCount();
    if (n == 1) return script.GetCommand(0)->m_nID == CMD_PRINT;
    if (n != 2) return false;
    const int32_t a = script.GetCommand(0)->m_nID, b = script.GetCommand(1)->m_nID;
    return (a == CMD_PRINT && b == CMD_SET_INPUT_OPTIONS) ||
           (a == CMD_SET_INPUT_OPTIONS && b == CMD_PRINT);
}

bool MeetsBatchRule(const CScript& script) {
    return script.FindCommand(CMD_SET_OUTPUT_OPTIONS) != nullptr || IsPrintScript(script);
}
