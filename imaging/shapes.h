// Shapes: the whole image squeezed into a circle or a pentagon.
//
// Both take a status block (may be null), a source handle and a result
// slot. The slot is set to null first; on success it receives a new DIB of
// the shape's size with the source's depth, resolution and palette. The
// source is never changed. 24-bit images are averaged by channel, 8-bit
// images by pixel value (meaningful for greyscale); other depths are 101.
// What the shape leaves uncovered takes the background: blue, green, red at
// 24 bits, the red byte as the pixel value at 8 bits.
//
// Pixels are box averages of 100 x 100 units, divided by 10,000 and
// truncated. Along a direction where n source pixels go into m output
// pixels, each source pixel supplies k = max(1, m * 100 / n) units. An
// output pixel that starts at position u of the m reads from source pixel
// s = u * n / m; the remainder e = u * n mod m says how much of that pixel
// earlier output pixels have taken, so it supplies k - e * k / m units (at
// least 1), and every further pixel k, until the output pixel's 100 are
// full. Positions past the last source pixel read the last pixel.
//
// Rows are counted from the bottom of the image as stored.
//
// Codes: 0; 100 stopped (nothing kept); 101 a null handle or slot, a block
// that is not an uncompressed DIB, an unsupported depth, a pentagon from an
// image smaller than 5 x 5; 102 out of memory. Progress: output rows.
#pragma once

#include "core/dib.h"

// A disc of diameter 2R, R = min(W, H) / 2, in a 2R x 2R image.
//
// For i = 0 .. 2R - 1 with k = R - i: sq[i] = k^2 and the chord
// chord[i] = max(1, 2 * isqrt(R^2 - k^2)). Pixel (column c, row r) is
// background when sq[c] + sq[r] > R^2. Otherwise the row's chord w =
// chord[r] holds the whole source width, starting at column (2R - w) / 2,
// and the column's chord h = chord[c] the whole source height, starting at
// row (2R - h) / 2, with the box weights above.
//
// An image one pixel wide or high has R = 0: it becomes a single pixel, the
// box average of the whole image (the disc of diameter 1).
KervErrorCode CircleDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, uint8_t red,
                        uint8_t green, uint8_t blue);

// A regular pentagon standing on its base (constants in double precision):
//
//                    /\        apex (r, H' - 1), top row
//                  /    \      straight edges
//   (0, yw)      <        >    (2r, yw)
//                 \      /
//                  \____/      base on the bottom row, from
//                              (r - a/2, 0) to (r + a/2, 0)
//
//   r  = int(H * 0.5257311211268731) when W >= 343 * H / 330, else W / 2
//   Rp = int(r * 1.0514622422537463), H' = Rp + int(Rp * 0.809017)
//   a  = int(Rp * 1.1755705),         yw = int(a * 0.9510565)
//
// The output is 2r x H'. Corner coordinates are edges between columns
// (x = 2r is the right side of the last column); row y fills the columns
// whose centres lie between the two edges at height y, and at least the two
// middle columns r - 1 and r, so the apex row shows the tip. The base row
// fills columns r - a/2 .. r + a/2 - 1.
//
// Output row y takes source rows from y * H / H' (vertical box weights, H
// source rows into H' output rows as above), and its span from the left
// edge to the right edge is filled with the whole source width squeezed
// into it: a stream from source column 0 at the span's first column, 100
// units per output pixel, k = max(1, span * 100 / W) per source column.
KervErrorCode PentagonDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, uint8_t red,
                          uint8_t green, uint8_t blue);
