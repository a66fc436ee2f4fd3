// Noise: samples disturbed by offsets from the program's random generator.
//
// Shared by everything here:
// - The contract of the operations: *result is set to null first, the source
//   is never changed, everything allocated is freed on failure. Codes: 0;
//   101 null source or slot, a block that is not a usable uncompressed DIB,
//   a depth other than 8 or 24 bits, a parameter out of range; 102 out of
//   memory; 100 stopped.
// - The output has the source's depth, header, palette and row padding; only
//   the pixels change. 8 bits: the pixel values themselves are disturbed
//   (grey levels, or the indexes of a colour palette).
// - The numbers come from KervRand, never reseeded here, drawn in a fixed
//   order: stored rows bottom first, pixels left to right, and for 24 bits
//   blue, green, red. The same seed gives the same picture. A noise value
//   is ((KervRand() >> 7) & 255) - 128, in -128..127; sums are clamped to
//   0..255.
// - Progress: stored rows.
#pragma once

#include "core/dib.h"

// type 0 "Random": one draw r per pixel; when r / 327 (integer division,
// 0..100) is below the amount, every sample of the pixel gets a noise value
// of its own added in full, else the pixel is kept and nothing more is
// drawn. Amount 100 therefore keeps the pixels whose r is 32700 or more.
// type 1 "Uniform": every sample s becomes s + n x amount / 100 (truncated
// toward zero) with a noise value n of its own; amount 0 changes nothing
// but still draws one number per sample.
// amount is read as a 16-bit signed value and must lie in 0..100; any
// other type is 101.
KervErrorCode AddNoiseDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                          uint16_t type, int32_t amount);
