// Warp: cylinders, pinch and punch. The image is resampled with a scale
// that changes smoothly from the edges to the middle, separately across and
// down.
//
// Takes a status block (may be null), a source handle and a result slot.
// The slot is set to null first; on success it receives a new DIB of the
// source's size, depth, resolution and palette. The source is never
// changed. 24-bit images are averaged by channel, 8-bit images by pixel
// value (meaningful for greyscale); other depths are 101.
//
// Codes: 0; 100 stopped (nothing kept); 101 an index outside 0..200, a null
// handle or slot, a block that is not an uncompressed DIB; 102 out of memory.
#pragma once

#include "core/dib.h"

#include <cstdint>

// The increments of the 201 indexes; index 100 is neutral.
extern const int16_t WarpStepTable[201];

// xIndex and yIndex choose the scale across and down (100 leaves that
// direction alone, below 100 enlarges the middle, above 100 shrinks it).
//
// A step is the share of an output pixel, in hundredths, that one source
// pixel covers. With tx = WarpStepTable[xIndex], cx = W / 2 and the slope
// sx = tx / cx (double), output column c has the step int(c * sx) + xIndex,
// mirrored for c >= cx to 2 * (tx + xIndex) - that: xIndex at the edges,
// xIndex + tx in the middle. Rows (from the bottom) likewise with yIndex.
//
// Across a row the first source column supplies xIndex hundredths. A column
// starts supplying when the output pixel being built first needs it, and
// then supplies the step of that output column; the position never passes
// the last column. Down the image the same with rows, kept from one output
// row to the next. An output pixel takes 100 x 100 hundredths: the sum of
// pixel x horizontal share x vertical share, divided by 10,000, truncated.
//
// Index 0 has the increment 0 and would make every source pixel supply
// nothing: that direction is copied unchanged. An image one pixel wide (or
// high) has no middle to scale from (cx = 0): that direction is copied too.
// Progress: output rows.
KervErrorCode WarpDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int16_t xIndex,
                      int16_t yIndex);
