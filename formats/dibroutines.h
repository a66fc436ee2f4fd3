// DIB routines of the format layer, and the depth conversions the writer
// applies when a format cannot store the depth it is given.
//
// Like every image operation: the status block may be null, the result slot
// is set to null first, the source is never changed, and everything
// allocated is freed on failure. Codes: 0, 100 stopped, 101 invalid
// parameter (null handle or slot, unusable DIB, bad size), 102 out of memory.
#pragma once

#include "core/dib.h"
#include "core/errors.h"

// A DIB of exactly width x height with the source's depth, palette and
// resolution; each output pixel is the source pixel under its centre
// (nearest neighbour), so no new colours appear. Progress: one output row.
KervErrorCode ResizeDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int width,
                        int height);

// The negative: each colour value v becomes 255 - v, through the palette for
// 1-, 4- and 8-bit images (pixels unchanged) and per byte for 24 bits. An
// 8-bit greyscale image (the grey ramp) has its pixel values inverted and
// keeps the ramp, so it stays greyscale. Progress: palette entries, or rows.
KervErrorCode InvertDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result);

// Two colours by ordered dithering (8 x 8 Bayer matrix) of one component:
// 0 grey value, 1 red, 2 green, 3 blue. The result is 1-bit with entry 0
// black and 1 white. Progress: one row.
KervErrorCode OrderedDither2(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                             uint8_t component);

// Depth changes without loss: a 1-, 4- or 8-bit image to 8 bits (same
// palette, extended with black entries) or to 24 bits.
KervErrorCode IncreaseDIBDepth(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                               int bitCount);

// Any image to 8-bit greyscale (entry i = (i, i, i)), the grey of a colour
// being (299 red + 587 green + 114 blue + 500) / 1000.
KervErrorCode ConvertToGreyScale(StatusControlBlock* status, KHANDLE source, KHANDLE* result);

// True when every palette entry of a 1-, 4- or 8-bit image is grey.
bool HasGreyPalette(KHANDLE dib);

// The depth the writer must hand an encoder: the converted DIB in *result,
// or null in *result when the source can be written as it is. `libraryValue`
// and the options select the rules listed in docs/formats.md.
struct FormatOptions;
KervErrorCode ConvertForEncoder(StatusControlBlock* status, KHANDLE source, int libraryValue,
                                const FormatOptions& options, KHANDLE* result);
