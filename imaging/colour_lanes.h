// Row kernels of the colour operations whose per-pixel formulas are too
// heavy for a table: the hue model (divisions by values that change from
// pixel to pixel) and the luminance/chroma rebuild of equalize and stretch.
//
// They compute in vector lanes, exactly as the integer formulas (see
// imaging/colour_lanes.inc). The same
// code is built twice: 4 lanes of SSE2, which every x86-64 has, and 8 lanes
// of AVX2, taken at run time when the processor has it. Both give the same
// bytes; tests run each.
//
// Pixels are blue, green, red bytes; in and out may be the same.
#pragma once

#include <cstddef>
#include <cstdint>

namespace colour_lanes {

// The hue model: RGBToHLS and HLSToRGB of one colour (see imaging/adjust.h).
void HlsOf(uint8_t red, uint8_t green, uint8_t blue, uint8_t* hue, uint8_t* saturation,
           uint8_t* lightness);
void RgbOf(uint8_t hue, uint8_t saturation, uint8_t lightness, uint8_t* red, uint8_t* green,
           uint8_t* blue);

// Every pixel through RGBToHLS; the hue turned by hue x 255 / 100 steps on
// the circle of 255, saturation and lightness x -> clamp(x + x x p / 100);
// back through HLSToRGB. Percentages -100..100.
struct HlsSteps {
    int hue, saturation, lightness;
};
void AdjustHlsRow(const HlsSteps& steps, const uint8_t* in, uint8_t* out, size_t count);

// Each pixel rebuilt from the luminance table[Y] with its own chroma
// (imaging/tone.h gives the formulas).
void RelightRow(const uint8_t table[256], const uint8_t* in, uint8_t* out, size_t count);

// Whether the 8-lane build runs: the processor has AVX2 and the lanes are
// not held to 4. Tests hold them to 4 to run the other build.
bool WideLanesInUse();
void HoldToFourLanes(bool hold);

} // namespace colour_lanes
