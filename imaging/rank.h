// Rank filters: each sample becomes a rank statistic of its 3 x 3
// neighbourhood.
//
// Shared by everything here:
// - The contract of the operations: *result is set to null first, the source
//   is never changed, everything allocated is freed on failure. Codes: 0;
//   101 null source or slot, a block that is not a usable uncompressed DIB,
//   a depth other than 8 or 24 bits, fewer than 3 rows; 102 out of memory;
//   100 stopped.
// - The output has the source's depth, header, palette and row padding; only
//   the pixels change.
// - 24 bits: blue, green and red are filtered as three independent images.
//   8 bits: the pixel value itself is the sample (the grey level of a
//   greyscale image).
// - The neighbourhood is the pixel and its eight neighbours in the stored
//   rows above and below, with the edges replicated: the first and last
//   column and the first and last stored row stand in for what lies beyond
//   them. Every output sample is computed from unfiltered input.
// - The source is copied first and the rows filtered into the copy, so an
//   image of fewer than 3 rows is refused (101) after the copy was made
//   (and freed again).
// - Progress: stored rows, bottom first.
#pragma once

#include "core/dib.h"

// mode 0: the smallest of the nine values (erode), 1: the median (the fifth
// smallest), 2: the largest (dilate). Any other mode is 101.
KervErrorCode RankFilterDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                            int32_t mode);

// The median only where a sample stands out: with m the mean of the eight
// neighbours rounded down (their sum >> 3), a sample more than 48 away from
// m becomes the median of the nine values; any other sample is kept.
KervErrorCode DespeckleDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result);
