// Wind and motion blur: pixels smeared along a direction.
//
// Both follow the operations' contract: *result is set to null first, the
// source is never changed, everything allocated is freed on failure. Both
// work on 8-bit (pixel values, meaningful for greyscale) and 24-bit images,
// each channel on its own; the result has the source's size, depth, header
// fields and palette. Codes: 0; 101 null source or slot, a depth other than
// 8 or 24, a block that is not a usable uncompressed DIB, the parameter
// checks named below; 102 out of memory; 100 stopped. Progress: rows.
#pragma once

#include "core/dib.h"

// Smears every row away from the side the wind comes from: direction 0
// sweeps left to right, 1 right to left. The running value starts as the
// sweep's first pixel; each pixel p becomes p + (running - p) x f / 100
// (truncated toward zero) and becomes the running value, f = strength + 78.
// A strength above 20 counts as 0 (f = 78).
//
// 101 also for a strength below 1, a direction other than 0 or 1, and a
// mode or reserved value other than 0 (no other kind of wind exists).
KervErrorCode WindDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int16_t mode,
                      int16_t reserved, int16_t strength, int16_t direction);

// Averages each pixel with `intensity` samples along a line through it,
// one step apart: intensity / 2 behind and the rest ahead. direction is in
// degrees, clockwise from up the picture (45 up-right, 90 across); any
// value is reduced modulo 360. The line is undirected, d and d + 180 blur
// alike: "ahead" is up the picture, or to the left for a level line. A step
// is the direction's unit vector in 1/256 pixel, from single-precision sine
// and cosine scaled by 1000 and truncated; sample k sits at
// (256 x + k x dx) >> 8 across and likewise up. Sampling stops at the
// image's edge in each direction, so edge pixels average fewer samples; the
// average is truncated. Intensity 0 copies the image.
//
// 101 also for an intensity below 0 or above 200 (the work grows with it).
// The status block's pass count is set to 0.
KervErrorCode MotionBlurDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                            int16_t intensity, int16_t direction);
