// Colour adjustments.
//
// Most adjustments are one 256-entry table per channel, built here and
// applied by the frame in imaging/lut.cpp. The hue operations work on whole
// colours through RGBToHLS and HLSToRGB, both in fixed point with four
// fractional bits ("sixteenths"); their divisions by a colour's spread and
// lightness go through exact reciprocal tables (see Reciprocals).
#include "imaging/adjust.h"

#include "imaging/checks.h"
#include "imaging/lut.h"

#include <algorithm>
#include <array>
#include <cmath>

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

// Steps over the hue circle of 255.
void HueTable(int percent, Table& t) {
    const int d = percent * 255 / 100;
    for (int i = 0; i < 256; ++i) {
        int h = i + d;
        if (h < 0) h += 255;
        if (h > 255) h -= 255;
        t[i] = static_cast<uint8_t>(h);
    }
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

// ---- The hue model ----

// rounded(x): x in sixteenths to a whole value, halves up.
constexpr uint32_t Rounded(uint32_t x) {
    return (x >> 4) + ((x & 15) >= 8 ? 1 : 0);
}

// floor(a / d) for 0 <= a < 2^20 and 1 <= d <= 510 as a multiply and a
// shift: with m = floor(2^32 / d) + 1, m x d = 2^32 + e with 1 <= e <= d,
// so a x m / 2^32 = a / d + a x e / (d x 2^32), and a x e < 2^29 keeps the
// excess below 1 / d. The test proves it for every a and d used.
struct Reciprocals {
    std::array<uint64_t, 511> m{};
    constexpr Reciprocals() {
        for (uint64_t d = 1; d < m.size(); ++d)
            m[d] = (uint64_t{1} << 32) / d + 1;
    }
    uint32_t divide(uint32_t a, uint32_t d) const {
        return static_cast<uint32_t>((uint64_t{a} * m[d]) >> 32);
    }
};
constexpr Reciprocals kReciprocal;

struct Hls {
    uint32_t hue, saturation, lightness;
};

// The colour model's forward step, with the scaling by 16 taken out of the
// quotients (16 x a / (16 x d) is a / d): for a spread k = max - min of
// the bytes, the hue fraction is n x 680 / k and the saturation
// k x 4080 / t, t = max + min or 510 - max - min.
Hls ToHls(uint32_t r, uint32_t g, uint32_t b) {
    const uint32_t max = std::max({r, g, b}), min = std::min({r, g, b});
    const uint32_t lightness = (max + min + 1) / 2;
    if (max == min) return {0, 0, lightness};
    const uint32_t k = max - min;
    const uint32_t t = lightness <= 128 ? max + min : 510 - max - min;
    const uint32_t saturation = Rounded(kReciprocal.divide(k * 4080, t));

    // Which component is largest picks the sector: its two others give
    // n = (first - second), taken towards zero over k.
    uint32_t hue16;
    if (r == max) {
        if (g >= b)
            hue16 = kReciprocal.divide((g - b) * 680, k);
        else
            hue16 = (5760 - kReciprocal.divide((b - g) * 960, k)) * 51 / 72;
    } else if (g == max) {
        hue16 = b >= r ? 1360 + kReciprocal.divide((b - r) * 680, k)
                       : 1360 - kReciprocal.divide((r - b) * 680, k);
    } else {
        hue16 = r >= g ? 2720 + kReciprocal.divide((r - g) * 680, k)
                       : 2720 - kReciprocal.divide((g - r) * 680, k);
    }
    return {Rounded(hue16), saturation, lightness};
}

// For one channel's angle h (sixteenths, 0..4080) the share of m2 - m1 it
// takes, in 680ths: rising over 0..680, full to 2040, falling to 2720, none
// after. The component is 16 m1 + 16 (m2 - m1) x share / 680, which is each
// of the four cases of the angle.
constexpr uint32_t Share(int h) {
    if (h < 680) return uint32_t(h);
    if (h < 2040) return 680;
    if (h < 2720) return uint32_t(2720 - h);
    return 0;
}

// The shares of red, green and blue for every hue.
struct HueShares {
    std::array<uint16_t, 256> red{}, green{}, blue{};
    constexpr HueShares() {
        for (int H = 0; H < 256; ++H) {
            int hr = 16 * H + 1360;
            if (hr > 4080) hr -= 4080;
            int hb = 16 * H - 1360;
            if (hb < 0) hb += 4080;
            red[size_t(H)] = uint16_t(Share(hr));
            green[size_t(H)] = uint16_t(Share(16 * H));
            blue[size_t(H)] = uint16_t(Share(hb));
        }
    }
};
constexpr HueShares kShares;

struct Rgb {
    uint8_t red, green, blue;
};

// m1 and m2 of a saturation and lightness, then each channel from its share.
// 16 m1 has no fraction, so rounding the sum is m1 plus the rounded rest.
Rgb FromHls(uint32_t saturation, uint32_t lightness, uint32_t shareR, uint32_t shareG,
            uint32_t shareB) {
    const uint32_t L = lightness, S = saturation;
    if (S == 0) return {uint8_t(L), uint8_t(L), uint8_t(L)};
    const uint32_t m2 = L < 128 ? L * (255 + S) / 255 : L + S - S * L / 255;
    const uint32_t m1 = 2 * L - m2;
    const uint32_t span = 16 * (m2 - m1);
    return {uint8_t(m1 + Rounded(span * shareR / 680)), uint8_t(m1 + Rounded(span * shareG / 680)),
            uint8_t(m1 + Rounded(span * shareB / 680))};
}

// ---- Mappings of whole colours ----

class HlsAdjustment final : public ColourMapping {
  public:
    HlsAdjustment(int hue, int saturation, int lightness) {
        Table hueTable;
        HueTable(hue, hueTable);
        PercentTable(saturation, sat_);
        PercentTable(lightness, lum_);
        for (int i = 0; i < 256; ++i) {
            shareR_[i] = kShares.red[hueTable[i]];
            shareG_[i] = kShares.green[hueTable[i]];
            shareB_[i] = kShares.blue[hueTable[i]];
        }
    }
    void mapPixels(const uint8_t* in, uint8_t* out, size_t count) const override {
        for (size_t x = 0; x < count; ++x, in += 3, out += 3) {
            const Hls c = ToHls(in[2], in[1], in[0]);
            const Rgb n = FromHls(sat_[c.saturation], lum_[c.lightness], shareR_[c.hue],
                                  shareG_[c.hue], shareB_[c.hue]);
            out[0] = n.blue;
            out[1] = n.green;
            out[2] = n.red;
        }
    }

  private:
    Table sat_, lum_;
    uint16_t shareR_[256], shareG_[256], shareB_[256]; // by the hue before turning
};

// The result depends on the lightness alone: one colour per lightness.
class Colorization final : public ColourMapping {
  public:
    Colorization(int hue, int saturation) {
        for (uint32_t L = 0; L < 256; ++L)
            byLightness_[L] = FromHls(uint32_t(saturation), L, kShares.red[size_t(hue)],
                                      kShares.green[size_t(hue)], kShares.blue[size_t(hue)]);
    }
    void mapPixels(const uint8_t* in, uint8_t* out, size_t count) const override {
        for (size_t x = 0; x < count; ++x, in += 3, out += 3) {
            const int max = std::max({in[0], in[1], in[2]}), min = std::min({in[0], in[1], in[2]});
            const Rgb& n = byLightness_[(max + min + 1) / 2];
            out[0] = n.blue;
            out[1] = n.green;
            out[2] = n.red;
        }
    }

  private:
    Rgb byLightness_[256];
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
    const Hls c = ToHls(red, green, blue);
    *hue = uint8_t(c.hue);
    *saturation = uint8_t(c.saturation);
    *lightness = uint8_t(c.lightness);
}

void HLSToRGB(uint8_t hue, uint8_t saturation, uint8_t lightness, uint8_t* red, uint8_t* green,
              uint8_t* blue) {
    const Rgb c =
        FromHls(saturation, lightness, kShares.red[hue], kShares.green[hue], kShares.blue[hue]);
    *red = c.red;
    *green = c.green;
    *blue = c.blue;
}
