// Tonal operations: greyscale, histogram equalize and stretch, posterize.
// (Solarize is AdjustDIB mode 4 in imaging/adjust.h.)
//
// Contract: *result is set to null first, the source is never changed,
// everything allocated is freed on failure. Codes: 0; 101 null source or
// slot, a parameter out of range, a block that is not a usable uncompressed
// DIB; 102 out of memory; 100 stopped.
//
// Equalize and stretch see a 24-bit pixel through its luminance and keep its
// chroma (10 fractional bits, arithmetic shifts):
//   Y = (306 r + 601 g + 117 b) >> 10
//   U = (512 b - 339 g - 173 r) >> 10      V = (512 r - 429 g - 83 b) >> 10
// and rebuild it from the new luminance Y' with the pixel's own U and V:
//   b = Y' + (1770 U >> 10)   g = Y' - (714 V >> 10) - (348 U >> 10)
//   r = Y' + (1400 V >> 10), each clamped to 0..255.
// A grey (r = g = b) has U = V = 0 and stays a grey.
#pragma once

#include "core/dib.h"

// An 8-bit greyscale image (the grey ramp palette) of the same size, each
// grey (11 b + 59 g + 30 r) / 100.
//   24 bits: a new 8-bit image; progress counts rows.
//   8 bits:  the palette entries become their greys (the pixels keep their
//            indexes); progress counts palette entries.
//   1, 4 bits: raised to 8 bits first (its own progress, rows), then as 8.
// The result is finally brought to the grey ramp palette, the pixels
// re-indexed to their grey values.
KervErrorCode GreyscaleDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result);

// Spreads the values (greyscale pixel values, or 24-bit luminances) so that
// value v becomes 255 x (pixels at or below v) / pixels. Only 24-bit and
// 8-bit greyscale images: any other is -5031, before anything is allocated.
// Progress: 2 x height units, the histogram rows then the output rows.
// `reserved` is ignored.
KervErrorCode EqualizeDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                          const void* reserved);

// Stretches the values (as equalize) so that the smallest becomes 0 and the
// largest 255: v -> integer part of (v - min) x 255 / (max - min), in double
// precision, clamped; an image of one value maps it to 0. Depths and
// progress as equalize. `reserved` is ignored.
KervErrorCode StretchDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                         const void* reserved);

// Keeps the top `bitsPerChannel` bits (1..8, else 101) of every value and
// repeats them down the byte: 1 bit gives 0 and 255, 2 bits 0, 85, 170, 255,
// 8 bits changes nothing. 24 bits: pixels; 8-bit greyscale: pixel values;
// other palette images: palette entries (see imaging/lut.h).
KervErrorCode PosterizeDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                           int16_t bitsPerChannel);
