// Borders and crop: the canvas changes that move pixels without resampling.
//
// Both follow the operations' contract: *result is set to null first, the
// source is never changed, everything allocated is freed on failure.
#pragma once

#include "core/dib.h"

// Puts margins around the image: the output is left + W + right by
// top + H + bottom pixels, of the source's depth, header fields and palette.
// Margins are counted as the picture is seen (top is the top of the picture).
//
// The margins take one fill value:
//   24 bits   blue = colour2, green = colour1, red = colour0
//   8 bits    palette index colour0
//   4 bits    palette index colour0 (low nibble)
//   1 bit     1 when colour0 is not 0, else 0
// At 1 and 4 bits the source pixels are shifted to the bit or nibble where
// the left margin ends; partial bytes at the margins take the fill. Row
// padding, and the unused low bits of a row's last byte, come out as zero.
//
// Codes: 0; 101 null source or slot, a negative margin, a block that is not
// a usable DIB; 102 out of memory (also an output too large for one block);
// 100 stopped. Progress is coarse (total
// 100): 25 after the top margin, 75 after the image rows, 100 at the end,
// the callback being asked at 25 and 75.
KervErrorCode AddBorderDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                           int16_t top, int16_t bottom, int16_t right, int16_t left,
                           uint32_t colour0, uint32_t colour1, uint8_t colour2);

// Cuts margins away and hands the rest to CropDIBRect.
//
// fromCentre 0: the margins left, top, right and bottom are cut (top and
// bottom as the picture is seen). A direction whose margins add up to the
// image's size or more is not cut at all; when both directions are too small
// the result is -5026 (nothing allocated).
// fromCentre non-zero: a centred width x height rectangle is kept. A direction
// no larger than the target is kept whole; when both are smaller the result
// is -5026.
// -5026 is decided before anything is allocated. Margins or sizes that would
// put the rectangle outside the image (negative values from a hand-edited
// script, a width of 0) give 101.
// Codes: 0, 101, 102, -5026. No progress is reported.
KervErrorCode CropImage(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                        int16_t fromCentre, int32_t left, int32_t top, int32_t right,
                        int32_t bottom, int16_t width, int16_t height);
