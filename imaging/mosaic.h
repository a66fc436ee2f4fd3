// Mosaic: the picture laid out in blocks, each of one average colour.
#pragma once

#include "core/dib.h"

// Follows the operations' contract: *result is set to null first, the
// source is never changed, everything allocated is freed on failure.
//
// Takes 8 and 24-bit images and gives the same depth, header and colour
// table. 24 bits: blue, green and red are averaged apart. 8 bits: the pixel
// values are averaged (the grey levels of a greyscale image, the indexes of
// a colour palette).
//
// Blocks are laid from the top-left corner of the picture (the last stored
// row, column 0) rightwards and downwards; blocks at the right and bottom
// edges are cut to the image. Each block takes, per channel, the sum over
// its pixels divided by their number (integer division):
//
//   10 wide, blockWidth 4:  | 4 | 4 | 2 |
//
// A block size at least as large as the image becomes the image's size.
// A size of 0 in either direction, or 1 x 1, gives a byte-for-byte copy of
// the source. Otherwise every byte of the result is written and row padding
// is zero.
//
// mask must be null (masks are not supported). Codes: 0; 101 null source or
// slot, a mask, a negative block size, a block that is not a usable
// uncompressed DIB, a depth other than 8 or 24 bits; 102 out of memory; 100
// stopped. Progress: total = height, and before each band of blocks current
// = height minus the stored index of the band's top row (1, blockHeight + 1,
// ...); a copy reports only the start and the end.
KervErrorCode MosaicDIB(StatusControlBlock* status, KHANDLE source, KHANDLE mask, KHANDLE* result,
                        int16_t blockWidth, int16_t blockHeight);
