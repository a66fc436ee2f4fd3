// Perspective: one edge of the image is shortened and the image squeezed
// towards it, as if that edge stood further away.
//
// Both operations take a status block (may be null), a source handle and a
// result slot. The slot is set to null first; on success it receives a new
// DIB of the source's size, depth, resolution and palette. The source is
// never changed. 24-bit images are squeezed by channel, 8-bit images by
// pixel value (meaningful for greyscale); other depths are 101.
//
// side 0 or 1 (anything else 101), amount 3..100 percent (else 101). What
// the shortened image leaves uncovered takes the background: blue, green,
// red at 24 bits, the red byte as the pixel value at 8 bits.
//
// The squeeze is a box average: an output pixel is 100,000 units, each
// source pixel supplies `step` units from the first source pixel on, and
// the output is the weighted sum divided by 100,000, truncated. Source
// positions past the last pixel read the last pixel. A step below one unit
// (lines longer than 100,000 pixels) is raised to one.
//
// Rows are counted from the bottom of the image as stored; single-precision
// floats where noted below, so every machine gives the same bytes.
//
// Codes: 0; 100 stopped (nothing kept); 101 as above, or a null handle or
// slot, a block that is not an uncompressed DIB; 102 out of memory.
#pragma once

#include "core/dib.h"

// One vertical edge shortened: side 0 the left edge, side 1 the right edge.
//
//   s = max(1, (100 - amount) * H / 100), h = (H - s) / 2, a = h / W (float).
//   Column x fills rows top..bottom (inclusive, clipped to the image):
//     side 0: top = h - int(x * a), bottom = H - h + int(x * a)
//     side 1: top = int(x * a),     bottom = H - int(x * a)
//   from the whole source column x with step = (bottom - top) * 100,000 / H.
//
// So amount 100 on a 10-row image puts the short edge into rows 4 to 6.
// Progress: output columns.
KervErrorCode HPerspectiveDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                              uint8_t side, int16_t amount, uint8_t red, uint8_t green,
                              uint8_t blue);

// One horizontal edge shortened: side 0 the top edge, side 1 the bottom edge.
//
//   s = max(1, (100 - amount) * W / 100), h = (W - s) / 2, m = H / h (float).
//   Row y fills columns left..right (inclusive, clipped to the image):
//     side 0: left = int(y / m), right = int((y - c) / -m), c = int(W * m)
//     side 1: left = int((y - c0) / -m), c0 = int(h * m);
//             right = int((y - c1) / m), c1 = int(-(W - h) * m)
//   from the whole source row y with step = (right - left) * 100,000 / W.
//
// An image too narrow to shorten (h = 0: widths 1 and 2, or a small amount
// on a narrow image) has no slope to follow and comes back as a copy.
// Progress: output rows.
KervErrorCode VPerspectiveDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                              uint8_t side, int16_t amount, uint8_t red, uint8_t green,
                              uint8_t blue);
