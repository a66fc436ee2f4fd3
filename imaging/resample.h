// Resampling by area averaging.
//
// Every output pixel is the average of the source area it covers, measured
// in 1/256 of a source pixel: reducing averages whole blocks, enlarging
// repeats pixels and blends only where two of them meet.
#pragma once

#include "core/dib.h"

// Scales to width x height (both at least 1). A 24-bit source gives a 24-bit
// result; 8-bit and 4-bit sources give 8-bit greyscale (the grey ramp
// palette), an 8-bit source averaged by its pixel values and a 4-bit source
// by the blue component of each pixel's palette entry (0 for an index past
// the palette's entries).
//
// Follows the operations' contract: *result is set to null first, the source
// is never changed, everything allocated is freed on failure. Codes: 0; 101
// null source or slot, a 1-bit source, a size of 0 or less, a block that is
// not a usable uncompressed DIB; 102 out of memory; 100 stopped. Progress:
// output rows.
//
// Footprints that reach past the last column or row read it again. A
// footprint is at least 1/256 pixel, also for enlargements beyond 512 times.
KervErrorCode ResampleDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                          int16_t width, uint16_t height);
