// Skew: slants the picture by shifting whole rows or whole columns.
//
// Follows the operations' contract: *result is set to null first, the source
// is never changed, everything allocated is freed on failure. Works on 8-bit
// (pixel values, meaningful for greyscale) and 24-bit images; the result has
// the source's depth, header fields and palette.
#pragma once

#include "core/dib.h"

// One direction is slanted: the horizontal one when horizontalAngle is not
// 0 (verticalAngle is then not looked at), else the vertical one. Angles are
// degrees; the offset o is the integer part of tan(|angle|) x H (horizontal)
// or x W (vertical), at least 1, where the angle in radians is
// |angle| x 3.1415927 x 0.0055555557 and the tangent and the product are
// single precision, so every machine gives the same size.
//
//   horizontal > 0        horizontal < 0        output (W + o) x H
//       ____              ____                  row y (from the bottom)
//      /   /              \   \                 starts at y x o / H (> 0)
//     /___/                \___\                or (H - y) x o / H (< 0)
//
//   vertical: output W x (H + o); column x starts at row x x o / W (> 0,
//   the right side goes up) or o - x x o / W (< 0, the left side goes up).
//
// Pixels are copied, not interpolated; what the image does not cover takes
// the background: blue, green, red at 24 bits, red as the pixel value at 8.
//
// Codes: 0; 101 null source or slot, a depth other than 8 or 24, a block
// that is not a usable uncompressed DIB, both angles 0, |angle| of 90 or
// more, an image narrower or lower than 5 pixels, an output beyond 32767
// pixels in either direction; 102 out of memory; 100 stopped. Progress:
// output rows.
KervErrorCode SkewDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                      int16_t horizontalAngle, int16_t verticalAngle, uint8_t red, uint8_t green,
                      uint8_t blue);
