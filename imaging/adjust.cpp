// Colour adjustments.
//
// Most adjustments are one 256-entry table per channel, built here and
// applied by the frame in imaging/lut.cpp. The hue operations work on whole
// colours through RGBToHLS and HLSToRGB, both in fixed point with four
// fractional bits ("sixteenths"), computed in vector lanes
// (imaging/colour_lanes.h), where their divisions by a colour's spread and
// lightness are exact. The hue adjustment's three tables are the same
// formulas computed in the lanes.
#include "imaging/adjust.h"

#include "imaging/checks.h"
#include "imaging/colour_lanes.h"
#include "imaging/lut.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// ---- Checks: one line per rule ----

using namespace imaging_checks;

bool Percentage(int v) {
    return v >= -100 && v <= 100;
}
bool ColourLevel(int v) {
    return v >= 0 && v <= 255;
}
// Also refuses NaN, which compares false with everything.
bool GammaUsable(float g) {
    return g >= 0.0001f && std::isfinite(g);
}

constexpr int kBrightness = 2, kContrast = 3, kSolarize = 4;

using Table = uint8_t[256];

uint8_t Clamp(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// ---- Tables ----

void BrightnessTable(int value, Table& t) {
    const int d = value * 255 / 100;
    for (int i = 0; i < 256; ++i)
        t[i] = Clamp(i + d);
}

// The ramp between the two clipped ends is walked with a single-precision
// accumulator; its rounding decides which inputs share an output.
void ContrastTable(int value, Table& t) {
    value = std::clamp(value, -100, 100);
    if (value >= 0) {
        const int c = value * 127 / 100;
        for (int i = 0; i <= c; ++i)
            t[i] = 0;
        for (int i = 255 - c; i <= 255; ++i)
            t[i] = 255;
        const float slope = 255.0f / float(255 - 2 * c);
        float a = 0.0f;
        for (int i = c + 1; i <= 254 - c; ++i) {
            t[i] = static_cast<uint8_t>(a);
            a += slope;
        }
    } else {
        const int c = value * -127 / 100;
        const float slope = float(255 - 2 * c) * 0.003921569f;
        float a = float(c) + 1.0f;
        for (int i = 0; i < 256; ++i) {
            t[i] = static_cast<uint8_t>(a);
            a += slope;
        }
    }
}

void SolarizeTable(int threshold, Table& t) {
    for (int i = 0; i < 256; ++i)
        t[i] = static_cast<uint8_t>(i <= threshold ? i : 255 - i);
}

// clamp(v + v x percent / 100).
void PercentTable(int percent, Table& t) {
    for (int i = 0; i < 256; ++i)
        t[i] = Clamp(i + i * percent / 100);
}

// Highlight, midtone and shadow in that order. The divisions only happen
// where their divisors are positive (t > i >= 1, 256 - s > v - s >= 0), so
// any 16-bit values are safe; products stay far inside 32 bits.
void HmsTable(int highlight, int midtone, int shadow, Table& lut) {
    const int t = highlight * 255 / 100;
    int v[256];
    v[0] = 0;
    for (int i = 1; i < 256; ++i)
        v[i] = i < t ? 256 * i / t : 255;
    for (int i = 1; i <= 254; ++i)
        if (v[i] >= 97 && v[i] <= 159) v[i] = std::clamp(v[i] - 50 + midtone, 0, 255);
    const int s = shadow * 255 / 100;
    for (int i = 1; i <= 254; ++i)
        v[i] = v[i] < s ? 0 : (v[i] - s) * 256 / (256 - s);
    for (int i = 0; i < 256; ++i)
        lut[i] = static_cast<uint8_t>(v[i]);
}

// integer part of i^e x k + 0.5 with e = 1 / g and k = 255 / 255^e, in
// double precision. Past a gamma of about 0.0078, 255^e overflows and the
// formula turns into infinity times zero; the same value is then taken as
// 255 x (i / 255)^e, which cannot overflow.
void GammaTable(float g, Table& t) {
    const double e = 1.0 / double(g);
    const double k = 255.0 / std::pow(255.0, e);
    const bool direct = std::isfinite(std::pow(255.0, e)) && k > 0.0;
    for (int i = 0; i < 256; ++i) {
        const double v = direct ? std::pow(double(i), e) * k + 0.5
                                : 255.0 * std::pow(double(i) / 255.0, e) + 0.5;
        t[i] = static_cast<uint8_t>(std::min(v, 255.0));
    }
}

// ---- Mappings of whole colours ----

class HlsAdjustment final : public ColourMapping {
  public:
    HlsAdjustment(int hue, int saturation, int lightness) : steps_{hue, saturation, lightness} {}
    void mapPixels(const uint8_t* in, uint8_t* out, size_t count) const override {
        colour_lanes::AdjustHlsRow(steps_, in, out, count);
    }

  private:
    colour_lanes::HlsSteps steps_;
};

// The result depends on the lightness alone: one colour per lightness.
class Colorization final : public ColourMapping {
  public:
    Colorization(int hue, int saturation) {
        for (int l = 0; l < 256; ++l) {
            uint8_t* e = byLightness_[l];
            colour_lanes::RgbOf(uint8_t(hue), uint8_t(saturation), uint8_t(l), &e[2], &e[1], &e[0]);
        }
    }
    void mapPixels(const uint8_t* in, uint8_t* out, size_t count) const override {
        for (size_t x = 0; x < count; ++x, in += 3, out += 3) {
            const int max = std::max({in[0], in[1], in[2]}), min = std::min({in[0], in[1], in[2]});
            std::memcpy(out, byLightness_[(max + min + 1) / 2], 3);
        }
    }

  private:
    uint8_t byLightness_[256][3]; // blue, green, red
};

// The curves of modes 2, 3 and 4; false for any other mode.
bool ModeTable(int value, uint16_t mode, Table& t) {
    switch (mode) {
    case kBrightness:
        BrightnessTable(value, t);
        return true;
    case kContrast:
        ContrastTable(value, t);
        return true;
    case kSolarize:
        SolarizeTable(value, t);
        return true;
    default:
        return false;
    }
}

} // namespace

KervErrorCode AdjustBrightnessContrast(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                                       int16_t value, uint16_t mode) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (mode != kBrightness && mode != kContrast) return KERV_INVALID_PARAM;
    Table t;
    ModeTable(value, mode, t);
    return MapColours(status, source, result, TableMapping(t, true));
}

KervErrorCode AdjustDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int16_t value,
                        uint16_t mode) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    Table t;
    if (!ModeTable(value, mode, t)) return KERV_INVALID_PARAM;
    return MapColours(status, source, result, TableMapping(t, true));
}

KervErrorCode AdjustRGBDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int16_t red,
                           int16_t green, int16_t blue) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!Percentage(red) || !Percentage(green) || !Percentage(blue)) return KERV_INVALID_PARAM;
    Table r, g, b;
    PercentTable(red, r);
    PercentTable(green, g);
    PercentTable(blue, b);
    return MapColours(status, source, result, TableMapping(b, g, r, false));
}

KervErrorCode AdjustHLSDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int16_t hue,
                           int16_t saturation, int16_t lightness) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!Percentage(hue) || !Percentage(saturation) || !Percentage(lightness))
        return KERV_INVALID_PARAM;
    return MapColours(status, source, result, HlsAdjustment(hue, saturation, lightness));
}

KervErrorCode AdjustHMSDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                           int16_t highlight, int16_t midtone, int16_t shadow,
                           int32_t /*reserved*/) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (highlight == 100 && midtone == 50 && shadow == 0) {
        DIBLock src(source);
        if (!src || !Uncompressed(src)) return KERV_INVALID_PARAM;
        ProgressReporter progress(status);
        if (const KervErrorCode rc = CopyDIB(source, result)) return rc;
        progress.end();
        return KERV_OK;
    }
    Table t;
    HmsTable(highlight, midtone, shadow, t);
    return MapColours(status, source, result, TableMapping(t, true));
}

KervErrorCode GammaDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, float redGamma,
                       float greenGamma, float blueGamma) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!GammaUsable(redGamma) || !GammaUsable(greenGamma) || !GammaUsable(blueGamma))
        return KERV_INVALID_PARAM;
    Table r, g, b;
    GammaTable(redGamma, r);
    GammaTable(greenGamma, g);
    GammaTable(blueGamma, b);
    return MapColours(status, source, result, TableMapping(b, g, r, true));
}

KervErrorCode ColorizeDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int16_t hue,
                          int16_t saturation) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!ColourLevel(hue) || !ColourLevel(saturation)) return KERV_INVALID_PARAM;
    return MapColours(status, source, result, Colorization(hue, saturation));
}

void RGBToHLS(uint8_t red, uint8_t green, uint8_t blue, uint8_t* hue, uint8_t* saturation,
              uint8_t* lightness) {
    colour_lanes::HlsOf(red, green, blue, hue, saturation, lightness);
}

void HLSToRGB(uint8_t hue, uint8_t saturation, uint8_t lightness, uint8_t* red, uint8_t* green,
              uint8_t* blue) {
    colour_lanes::RgbOf(hue, saturation, lightness, red, green, blue);
}
