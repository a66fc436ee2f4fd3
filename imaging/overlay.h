// Watermark overlay and colour replacement: given colours painted into a
// copy of the image.
//
// Both operations hand out a new DIB with the image's size, depth, header
// fields, palette (never changed) and row padding, and change neither input;
// on failure *result is null and everything allocated is freed. They work
// at every depth (1, 4, 8 and 24 bits).
//
// Colours are COLORREF values (red + 256 green + 65536 blue). "Close" is one
// rule everywhere: a tolerance of t percent (0..100) is the tolerance value
// v = t x 200 / 100 that ColorsDiffer takes, whose per-channel limit is
// T = v x 255 / 200 (t = 0, 50, 100 give T = 0, 127, 255); two colours are
// close when no channel differs by more than T.
#pragma once

#include "core/dib.h"

// True when a and b are not close: some channel of a lies above b's + T or
// below b's - T, with T = toleranceValue x 255 / 200 (truncated; a negative
// value makes every pair differ).
bool ColorsDiffer(COLORREF a, COLORREF b, int toleranceValue);
// The same with table[index] (blue, green, red) as the first colour.
bool ColorsDiffer(const RGBQUAD* table, int index, COLORREF b, int toleranceValue);

// Replaces every pixel close to `original` by `replacement`:
//   24 bits       the pixel becomes exactly the replacement colour;
//   8, 4 bits     a pixel whose palette entry is close takes the index
//                 nearest to the replacement colour (an index past the
//                 palette's entries has no colour and is left alone);
//   1 bit         the pixel with the index nearest to `original` takes the
//                 index nearest to `replacement`, the tolerance playing no
//                 part (with two entries that is every pixel, or none when
//                 both colours are nearest to the same entry).
// A block whose depth is none of these is handed back as a plain copy.
// Codes: 0; 101 null image or slot, a tolerance outside 0..100, a block
// that is not a usable uncompressed DIB; 102 out of memory. No progress.
KervErrorCode ReplaceColorDIB(KHANDLE image, KHANDLE* result, COLORREF original,
                              COLORREF replacement, int16_t tolerance);

// Draws the 24-bit `watermark` onto a copy of the image. Its centre is put
// at widthPercent of the image's width from the left and heightPercent of
// its height from the top, then it is moved inside the image:
//
//   a watermark that fits is shifted until it touches the edge it crossed;
//   one wider (taller) than the image starts at the left (bottom) edge and
//   shows its rightmost (bottom) part when the percent is above 50, else its
//   leftmost (top) part.
//
// Any percent is accepted; positions are computed in 64 bits and end up
// inside the image. With useTransparency non-zero, watermark pixels close
// to the colour (blue, green, red) within `tolerance` percent are not
// drawn. Every other watermark pixel w meets the image pixel p with
// a = opacity x 255 / 100:
//   24 bits           each channel (w x a + p x (255 - a)) / 255;
//   8-bit greyscale   g = (11 blue + 59 green + 30 red) / 100, then
//                     (g x a + p x (255 - a)) / 255;
//   other palette     the palette index nearest to w, opacity not applied.
// Codes: 0; 101 null image, watermark or slot, an opacity above 100, a
// tolerance outside 0..100, a watermark that is not 24 bits, a block that is
// not a usable uncompressed DIB; 102 out of memory; 100 stopped. Progress:
// the watermark rows drawn.
KervErrorCode OverlayWatermark(StatusControlBlock* status, KHANDLE image, KHANDLE* result,
                               int16_t heightPercent, int16_t widthPercent, uint8_t opacity,
                               KHANDLE watermark, uint8_t blue, uint8_t green, uint8_t red,
                               int16_t tolerance, int16_t useTransparency);
