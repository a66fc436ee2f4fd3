// CScript::GetCommandDescription: a command's parameters in words.
//
// Several texts are picked as "string n + slot" (or n - slot): a slot outside
// its range selects a neighbouring entry, or nothing when no entry has that
// number. The arithmetic is 64-bit so no slot value can overflow.
#include "formats/format_table.h"
#include "script/script.h"

#include <cmath>
#include <limits>

namespace {

// Description strings (numbers of the string table).
enum : int {
    IDS_BORDERS = 1500, IDS_NEW_PALETTE = 1501, IDS_ERROR_DIFFUSION_DITHERING = 1502,
    IDS_MAINTAIN_INDEXES = 1503, IDS_NEAREST_COLOR_MATCHING = 1504, IDS_BRIGHTNESS = 1505,
    IDS_GAMMA = 1506, IDS_HMS = 1507, IDS_NONE = 1508, IDS_HLS = 1509, IDS_RGB = 1510,
    IDS_COLORIZE = 1511, IDS_PERSPECTIVE = 1512, IDS_EFFECT = 1513, IDS_POSTERIZE = 1514,
    IDS_SOLARIZE = 1515, IDS_CANVAS = 1516, IDS_CENTER_IMAGE = 1517, IDS_UPPER_LEFT = 1518,
    IDS_OUTPUT_OPTIONS = 1521, IDS_MEDIAN_CUT = 1540, IDS_OCTREE = 1541,
    IDS_NEAREST_COLOR = 1543, IDS_DONT_INCLUDE_WINDOWS = 1545, IDS_DONT_REDUCE_BLEED = 1547,
    IDS_TO_256 = 1548, IDS_TO_16 = 1549, IDS_GREY_VALUES = 1550, IDS_WEIGHTED = 1554,
    IDS_TO_2 = 1556, IDS_FLOYD_STEINBERG = 1557, IDS_CROP_EDGE = 1560, IDS_CROP_CENTER = 1561,
    IDS_TILE = 1562, IDS_WATERMARK = 1563, IDS_REPLACEMENT = 1564, IDS_PRINT = 1565,
    IDS_SIZE_BOTH = 2030, IDS_SIZE_WIDTH = 2031, IDS_SIZE_HEIGHT = 2032,
    IDS_APPROPRIATE_METHOD = 2033, IDS_SIZE_IMAGE = 2036, IDS_RIGHT = 2037, IDS_ROTATE = 2039,
    IDS_NEAREST_COLOR_MATCH = 2040, IDS_ORDERED_DITHER = 2041, IDS_ERROR_DIFFUSION_DITHER = 2042,
    IDS_MOTION_BLUR = 2043, IDS_WIND = 2044, IDS_UNSHARPEN = 2045, IDS_MOSAIC = 2046,
    IDS_SKEW = 2047, IDS_RANDOM = 2048, IDS_NOISE = 2050, IDS_OPTIMIZED = 2059,
    IDS_COLOR = 2069, IDS_INPUT_OPTIONS = 57352, IDS_SAME_DIRECTORY = 57354,
    IDS_NO_SUBTYPE = 1800,
    // Words of this layer.
    IDS_YES = 7120, IDS_NO = 7121, IDS_ON = 7122, IDS_OFF = 7123,
    IDS_USE_TRANSPARENCY = 7124, IDS_NO_TRANSPARENCY = 7125,
};

std::string StringPlus(int base, int64_t offset) {
    const int64_t id = int64_t{base} + offset;
    if (id < std::numeric_limits<int>::min() || id > std::numeric_limits<int>::max()) return "";
    return LoadString(static_cast<int>(id));
}

std::string ColorText(COLORREF c) {
    return FormatString(IDS_COLOR, GetRValue(c), GetGValue(c), GetBValue(c));
}
std::string YesNo(int32_t v) { return LoadString(v ? IDS_YES : IDS_NO); }
std::string OnOff(int32_t v) { return LoadString(v ? IDS_ON : IDS_OFF); }

// a / b as IEEE arithmetic gives it, without dividing by zero.
double Quotient(double a, double b) {
    if (b != 0.0) return a / b;
    if (a == 0.0 || std::isnan(a)) return std::numeric_limits<double>::quiet_NaN();
    const bool negative = std::signbit(a) != std::signbit(b);
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
}

std::string Fixed2(double v) { return FormatText("%.2f", {v}); }

std::string ResizeText(CScriptCommand& c) {
    auto& p = c.m_nParam;
    if (p[4] == PARAM_UNSET) p[4] = 0;
    const int32_t mode = p[0];
    int32_t w = 0, h = 0;
    if (ResizeFixedSize(mode, &p[2], &p[3])) {
        w = p[2], h = p[3];
    } else if (mode == 5 || mode == 8) {
        w = p[2], h = p[3];
    } else if (mode == 6) {
        w = p[2];
    } else if (mode == 7) {
        h = p[3];
    }
    const char* suffix = (mode < 8 && p[4] == 1) ? "%" : "";
    std::string size;
    if (w > 0 && h > 0)
        size = FormatString(IDS_SIZE_BOTH, w, suffix, h, suffix);
    else if (w > 0)
        size = FormatString(IDS_SIZE_WIDTH, w, suffix);
    else
        size = FormatString(IDS_SIZE_HEIGHT, h, suffix);
    const std::string method = StringPlus(IDS_APPROPRIATE_METHOD, p[1]);
    if (mode < 8) return FormatString(IDS_SIZE_IMAGE, size, method);
    const COLORREF bg = c.m_crColor[0];
    return FormatString(IDS_TILE, size, GetRValue(bg), GetGValue(bg), GetBValue(bg), method);
}

std::string OutputOptionsText(const CScriptCommand& c) {
    const auto& p = c.m_nParam;
    const int64_t id64 = int64_t{p[0]} + 1;
    const int id = (id64 >= 1 && id64 <= 34) ? static_cast<int>(id64) : 0;
    const OutputFormatEntry* format = FindOutputFormat(id);
    const std::string type = format ? format->displayName : "";
    std::string subType;
    if (format)
        subType = (p[1] > -100000 && p[1] < 100000) ? OutputSubTypeName(id, p[1]) : "";
    else
        subType = StringPlus(IDS_NO_SUBTYPE, p[1]);
    const std::string folder = p[5] == 1 ? LoadString(IDS_SAME_DIRECTORY) : c.m_strParam[0];
    return FormatString(IDS_OUTPUT_OPTIONS, type, subType, folder);
}

std::string PrintText(const CScriptCommand& c) {
    const auto& p = c.m_nParam;
    const double height = c.m_fParam[0], width = c.m_fParam[1];
    // The margins in the display unit of the height: P0 / (P3 / F0).
    const double unitsPerDisplay = Quotient(p[3], height);
    return FormatString(IDS_PRINT, YesNo(p[4]), YesNo(p[6]), YesNo(p[5]), YesNo(p[7]),
                        Fixed2(height), Fixed2(width), Fixed2(Quotient(p[0], unitsPerDisplay)),
                        Fixed2(Quotient(p[1], unitsPerDisplay)), p[9]);
}

std::string Describe(CScriptCommand& c) {
    const auto& p = c.m_nParam;
    const COLORREF c0 = c.m_crColor[0], c1 = c.m_crColor[1];
    if (!CommandHasParameters(c.m_nID)) return LoadString(IDS_NONE);
    switch (c.m_nID) {
    case CMD_RESIZE: return ResizeText(c);
    case CMD_BRIGHTNESS_CONTRAST: return FormatString(IDS_BRIGHTNESS, p[0], p[1]);
    case CMD_RED_GREEN_BLUE: return FormatString(IDS_RGB, p[0], p[1], p[2]);
    case CMD_HUE_SATURATION_LUM: return FormatString(IDS_HLS, p[0], p[1], p[2]);
    case CMD_HIGHLIGHT_MIDTONE_SHADOW: return FormatString(IDS_HMS, p[0], p[1], p[2]);
    case CMD_ROTATE: {
        int32_t angle = 0;
        switch (p[1]) {
        case 0: angle = 90; break;
        case 1: angle = 180; break;
        case 2: angle = 270; break;
        case 3: angle = p[0]; break;
        default: break;
        }
        return FormatString(IDS_ROTATE, StringPlus(IDS_RIGHT, p[2]), angle, ColorText(c0));
    }
    case CMD_ADD_BORDERS: return FormatString(IDS_BORDERS, p[0], p[1], p[2], p[3], ColorText(c0));
    case CMD_ENLARGE_CANVAS:
        return FormatString(IDS_CANVAS, p[1], p[2],
                            LoadString(p[0] != 0 ? IDS_CENTER_IMAGE : IDS_UPPER_LEFT),
                            ColorText(c0));
    case CMD_GAMMA: return FormatString(IDS_GAMMA, c.m_fParam[0]);
    case CMD_POSTERIZE: return FormatString(IDS_POSTERIZE, p[0]);
    case CMD_SOLARIZE: return FormatString(IDS_SOLARIZE, p[0]);
    case CMD_APPLY_PALETTE: {
        int method = -1;
        switch (p[0]) {
        case 0: method = IDS_NEAREST_COLOR_MATCHING; break;
        case 1: method = IDS_ERROR_DIFFUSION_DITHERING; break;
        case 2: method = IDS_MAINTAIN_INDEXES; break;
        default: break;
        }
        return FormatString(IDS_NEW_PALETTE, c.m_strParam[0], method < 0 ? "" : LoadString(method));
    }
    case CMD_OPTIMIZED_PALETTE: {
        const int64_t colours = p[1] != 0 ? int64_t{p[0]} + 20 : int64_t{p[0]};
        return FormatString(IDS_OPTIMIZED, colours,
                            LoadString(p[4] == 0 ? IDS_MEDIAN_CUT : IDS_OCTREE),
                            LoadString(p[2] == 0 ? IDS_NEAREST_COLOR_MATCH : IDS_ERROR_DIFFUSION_DITHER),
                            StringPlus(IDS_DONT_INCLUDE_WINDOWS, -int64_t{p[1]}),
                            StringPlus(IDS_DONT_REDUCE_BLEED, -int64_t{p[3]}));
    }
    case CMD_TO_2_COLORS: {
        std::string method;
        if (p[2] == 0)
            method = LoadString(IDS_NEAREST_COLOR);
        else if (p[2] == 1)
            method = LoadString(IDS_ORDERED_DITHER);
        else if (p[2] == 2)
            method = StringPlus(IDS_FLOYD_STEINBERG, p[3]);
        return FormatString(IDS_TO_2, StringPlus(IDS_GREY_VALUES, p[0]),
                            StringPlus(IDS_WEIGHTED, p[1]), method);
    }
    case CMD_TO_16_COLORS:
        return FormatString(IDS_TO_16, StringPlus(IDS_MEDIAN_CUT, p[0]),
                            StringPlus(IDS_NEAREST_COLOR_MATCH, p[1]),
                            StringPlus(IDS_DONT_REDUCE_BLEED, -int64_t{p[2]}));
    case CMD_TO_256_COLORS:
        return FormatString(IDS_TO_256, StringPlus(IDS_MEDIAN_CUT, p[0]),
                            StringPlus(IDS_NEAREST_COLOR_MATCH, p[1]),
                            StringPlus(IDS_DONT_INCLUDE_WINDOWS, -int64_t{p[2]}),
                            StringPlus(IDS_DONT_REDUCE_BLEED, -int64_t{p[3]}));
    case CMD_COLORIZE: return FormatString(IDS_COLORIZE, p[0], p[1]);
    case CMD_HORIZONTAL_PERSPECTIVE:
    case CMD_VERTICAL_PERSPECTIVE: return FormatString(IDS_PERSPECTIVE, p[0], ColorText(c0));
    case CMD_HORIZONTAL_CYLINDER:
    case CMD_VERTICAL_CYLINDER:
    case CMD_PINCH:
    case CMD_PUNCH: return FormatString(IDS_EFFECT, p[0]);
    case CMD_UNSHARPEN: return FormatString(IDS_UNSHARPEN, p[0], p[1]);
    case CMD_SET_OUTPUT_OPTIONS: return OutputOptionsText(c);
    case CMD_CIRCLE:
    case CMD_PENTAGON: return ColorText(c0);
    case CMD_WIND: return FormatString(IDS_WIND, p[1], StringPlus(IDS_RIGHT, p[0]));
    case CMD_MOTION_BLUR: return FormatString(IDS_MOTION_BLUR, p[0], p[1]);
    case CMD_SKEW: return FormatString(IDS_SKEW, p[0], p[1], ColorText(c0));
    case CMD_ADD_NOISE: return FormatString(IDS_NOISE, StringPlus(IDS_RANDOM, p[0]), p[1]);
    case CMD_MOSAIC: return FormatString(IDS_MOSAIC, p[0], p[1]);
    case CMD_CROP:
        if (p[0] == 1) return FormatString(IDS_CROP_CENTER, p[2], p[1]);
        return FormatString(IDS_CROP_EDGE, p[3], p[4], p[5], p[6]);
    case CMD_COLOR_REPLACEMENT:
        return FormatString(IDS_REPLACEMENT, GetRValue(c0), GetGValue(c0), GetBValue(c0),
                            GetRValue(c1), GetGValue(c1), GetBValue(c1), p[0]);
    case CMD_OVERLAY_WATERMARK:
        return FormatString(IDS_WATERMARK, p[0], p[1], p[2], p[4],
                            LoadString(p[5] != 0 ? IDS_USE_TRANSPARENCY : IDS_NO_TRANSPARENCY),
                            ColorText(c0), c.m_strParam[0]);
    case CMD_SET_INPUT_OPTIONS:
        return FormatString(IDS_INPUT_OPTIONS, c.m_strParam[0], OnOff(p[0]),
                            LoadString(p[1] != 0 ? IDS_OFF : IDS_ON));
    case CMD_PRINT: return PrintText(c);
    default: return LoadString(IDS_NONE);
    }
}

}  // namespace

void CScript::GetCommandDescription(int index, std::string& text) {
    CScriptCommand* c = GetCommand(index);
    if (!c) return;
    text = Describe(*c);
}
