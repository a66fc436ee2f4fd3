// Colour adjustments: brightness, contrast, the tone curve, red/green/blue,
// hue/saturation/lightness, highlight/midtone/shadow, gamma and colorize.
//
// Every operation hands back a copy of the source, of the same depth and
// size, whose colours changed (see imaging/lut.h for where a change
// applies): at 24 bits the pixels, at 1, 4 and 8 bits the palette entries
// (each reserved byte becomes 0, pixel bytes stay identical). Operations
// marked greyscale-aware change the pixel values of an 8-bit greyscale
// image instead and keep its grey palette.
//
// Contract: *result is set to null first, the source is never changed,
// everything allocated is freed on failure. Codes: 0; 101 null source or
// slot, a parameter out of range, a block that is not a usable uncompressed
// DIB; 102 out of memory; 100 stopped. Progress counts rows, or palette
// entries for palette images.
//
// "clamp" below limits to 0..255; divisions truncate towards zero.
#pragma once

#include "core/dib.h"

// mode 2, brightness: d = value x 255 / 100, v -> clamp(v + d); any value is
// accepted (beyond +-100 everything ends at 0 or 255).
// mode 3, contrast: value limited to -100..100, c = |value| x 127 / 100.
// Above 0, 0..c go to 0, 255 - c..255 to 255 and the values between follow
// a ramp of slope 255 / (255 - 2c) from 0; below 0, every value follows a
// ramp of slope (255 - 2c) / 255 from c + 1; ramps are summed in single
// precision. 100 sends 0..127 to 0 and 128..255 to 255, -100 sends
// everything to 128, 0 sends 1..254 to v - 1.
// Any other mode: 101. Greyscale-aware.
KervErrorCode AdjustBrightnessContrast(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                                       int16_t value, uint16_t mode);

// The tone curve: mode 4 solarizes with threshold `value` (v -> v up to the
// threshold, 255 - v above it; 255 or more changes nothing, below 0 inverts
// everything); modes 2 and 3 are AdjustBrightnessContrast's. Any other
// mode: 101. Greyscale-aware.
KervErrorCode AdjustDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int16_t value,
                        uint16_t mode);

// Percentages -100..100 per channel (else 101): v -> clamp(v + v x p / 100).
// A greyscale image is treated as any palette image.
KervErrorCode AdjustRGBDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int16_t red,
                           int16_t green, int16_t blue);

// Percentages -100..100 (else 101). Each colour goes through RGBToHLS; the
// hue turns by hue x 255 / 100 steps on a circle of 255, saturation and
// lightness become clamp(x + x x p / 100); HLSToRGB gives the new colour.
// A greyscale image is treated as any palette image.
KervErrorCode AdjustHLSDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int16_t hue,
                           int16_t saturation, int16_t lightness);

// Percentages: highlight 100, midtone 50 and shadow 0 leave the image as it
// is (a plain copy, reserved bytes included). Otherwise every value goes
// through one curve: stretched so that the highlight level
// (highlight x 255 / 100) becomes 255, then values 97..159 moved by
// midtone - 50, then values below the shadow level (shadow x 255 / 100)
// set to 0 and the rest stretched down from it; the last two steps leave
// inputs 0 and 255 alone, and 0 always stays 0. Any 16-bit values are
// accepted (a highlight of 0 or less sends every value above 0 to 255 in
// the first step). `reserved` is ignored. Greyscale-aware.
KervErrorCode AdjustHMSDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                           int16_t highlight, int16_t midtone, int16_t shadow, int32_t reserved);

// Per channel v -> integer part of v^e x 255 / 255^e + 0.5, e = 1 / gamma,
// in double precision; for gammas below about 0.0078, where 255^e overflows,
// the same value as 255 x (v / 255)^e + 0.5. A gamma below 0.0001, not a
// number or infinite is 101. Greyscale-aware: grey pixel values use the red
// gamma.
KervErrorCode GammaDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, float redGamma,
                       float greenGamma, float blueGamma);

// Hue and saturation 0..255 (else 101). Each colour keeps its lightness
// (max + min + 1) / 2 and becomes HLSToRGB(hue, saturation, lightness):
// black and white stay black and white. A greyscale image is treated as any
// palette image.
KervErrorCode ColorizeDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int16_t hue,
                          int16_t saturation);

// The colour model of the hue operations, every component 0..255. The hue
// circle has 255 steps (0 and 255 are the same hue: red); red is at 0,
// green at 85, blue at 170. A grey has hue 0 and saturation 0. Lightness is
// (max + min + 1) / 2.
void RGBToHLS(uint8_t red, uint8_t green, uint8_t blue, uint8_t* hue, uint8_t* saturation,
              uint8_t* lightness);
// Saturation 0 gives the grey of the lightness, whatever the hue.
void HLSToRGB(uint8_t hue, uint8_t saturation, uint8_t lightness, uint8_t* red, uint8_t* green,
              uint8_t* blue);
