// Convolution filters and the unsharp mask.
//
// Every operation here follows the operations' contract: *result is set to
// null first (after the slot is checked), the source is never changed, and
// everything allocated is freed on failure. Codes: 0; 101 invalid parameter;
// 102 out of memory; 100 stopped.
//
// Depths: an 8-bit source gives an 8-bit result and its pixel values are
// filtered as grey levels (the palette is never looked at); a 24-bit source
// gives a 24-bit result with blue, green and red filtered independently by
// the same kernel. Any other depth, or a depth the called engine is not made
// for, is 101. The result is a copy of the source block (header, palette,
// row padding) with new sample values.
//
// One output sample, for an N x N kernel (N = 3 or 5, R = N / 2):
//
//   sum    = sum over k, c of weight[k][c] x sample(stored row y - R + k,
//                                                   column x - R + c)
//   result = clamp(sum / divisor + bias, 0, 255)
//
// with the division truncating toward zero. Kernel row 0 meets the stored row
// before the current one (in a bottom-up DIB, the row shown one line lower);
// column 0 meets the pixel to the left. Rows and columns beyond the image
// repeat the first or last one. Progress: one unit per stored row.
#pragma once

#include "core/dib.h"

#include <cstdint>

// The weights are a 5 x 5 grid, row by row; a 3 x 3 kernel uses the window
// the engine is told (rows 0..2 and columns 0..2 for every caller) and the
// other cells are never read.
struct FilterKernel {
    int16_t divisor; // may be negative; 0 is refused (101)
    uint8_t bias;    // added after the division
    int16_t weights[25];
};

// The 3 x 3 engines: the weights are the window of rows rowOffset ..
// rowOffset + 2 and columns colOffset .. colOffset + 2 of the grid. An
// offset above 2 (a window outside the grid), a null kernel, a divisor of 0
// or an image of fewer than 3 rows is 101.
KervErrorCode Apply3x3to8BPP(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                             const FilterKernel* kernel, uint8_t rowOffset, uint8_t colOffset);
KervErrorCode Apply3x3to24BPP(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                              const FilterKernel* kernel, uint8_t rowOffset, uint8_t colOffset);

// The 5 x 5 engines: the whole grid. A null kernel, a divisor of 0 or an
// image of fewer than 5 rows is 101.
KervErrorCode Apply5x5to8BPP(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                             const FilterKernel* kernel);
KervErrorCode Apply5x5to24BPP(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                              const FilterKernel* kernel);

// The filter codes of the filter commands.
enum FilterCode : int {
    FILTER_EMBOSS = 1,                 // 3 x 3
    FILTER_BLUR = 10,                  // 5 x 5
    FILTER_BLUR_MORE = 11,             // 5 x 5
    FILTER_SHARPEN = 20,               // 3 x 3
    FILTER_SHARPEN_MORE = 21,          // 5 x 5
    FILTER_SOFTEN = 30,                // 3 x 3
    FILTER_SOFTEN_MORE = 31,           // 3 x 3
    FILTER_TRACE_CONTOUR = 40,         // 3 x 3
    FILTER_EDGE_ENHANCE = 50,          // 3 x 3
    FILTER_EDGE_ENHANCE_MORE = 51,     // 3 x 3
    FILTER_FIND_EDGES = 61,            // 3 x 3
    FILTER_FIND_HORIZONTAL_EDGES = 62, // 3 x 3
    FILTER_FIND_VERTICAL_EDGES = 63,   // 3 x 3
};

// Runs the kernel of `code` through the 24-bit engines when bitCount is 24
// and through the 8-bit ones for any other value (the engine then refuses a
// source whose depth is not its own). An unknown code is 101.
KervErrorCode FilterDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                        uint8_t bitCount, int code);

// Sharpens every sample away from a blurred copy: with d = sample - blurred,
// a sample with |d| > clipping becomes clamp(sample + d, 0, 255), any other
// stays. A negative clipping sharpens every sample. strength picks the blur:
// 1 Soften, 2 Soften More, 3 Blur, 4 Blur More; 0 or above 4 is 101, and the
// blur's own refusals (depth, an image shorter than its kernel) come back
// unchanged.
//
// Progress comes in two passes: the status block's passCount is 2 while it
// runs, pass 0 is the blur (its rows), pass 1 the sharpening (rows again).
// The block's pass and passCount are given back as they were on return.
KervErrorCode UnsharpMask(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                          int16_t clipping, uint16_t strength);
