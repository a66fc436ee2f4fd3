// Depth increase: a palette image raised to more bits per pixel without
// changing any pixel's colour.
//
// Follows the operations' contract: *result is set to null first, the source
// is never changed, everything is freed on failure. Progress: one unit per
// row.
//
// Depths, source -> target:
//   1 -> 4, 8, 24     4 -> 8, 24     8 -> 24
// Anything else (a target other than 4, 8 or 24, a target not above the
// source's depth, a 24-bit source) is 101.
#pragma once

#include "core/dib.h"

// To 4 or 8 bits the pixels keep their indexes and the source's colour table
// fills the first entries of the new 2^target-entry table (the rest stay
// black). To 24 bits each pixel becomes its colour-table entry; an index
// beyond the source's table becomes black. The header (resolution included)
// is the source's, with the new depth, table size and image size.
KervErrorCode IncreaseDepthDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                               uint16_t targetBits);
