// What the filter tests reach beyond the operations: which way a kernel's
// sums are made, and the division the 16-bit vector code does.
#pragma once

#include "imaging/filter.h"

#include <cstddef>
#include <cstdint>

namespace filter_detail {

// How the sums of a kernel are made.
//   Wide:      32-bit sums, plain per-sample code (any weights).
//   Narrow:    16-bit vector lanes, taps of equal weight added up first;
//              taken when no sum can leave -32767 .. 32767.
//   Separable: as Narrow, but a kernel that is a column times a row is
//              summed down the columns first, then along the row.
enum class SumPath { Wide, Narrow, Separable };
SumPath PathOf(const FilterKernel& kernel, int size, int rowOffset, int colOffset);

// Division of a magnitude 0 .. 32767 by a divisor magnitude 2 .. 32768:
// (magnitude x magic) >> (16 + shift) equals magnitude / divisor.
struct DivisionPlan {
    uint16_t magic;
    int shift;
};
DivisionPlan PlanDivision(int divisorMagnitude);

// The last step of the 16-bit paths, with their vector code:
// out[i] = clamp(sums[i] / divisor + bias, 0, 255), truncating toward zero.
// The sums must lie within -32767 .. 32767 and the divisor must not be 0.
void FinishSums(const int16_t* sums, size_t count, int16_t divisor, uint8_t bias, uint8_t* out);

} // namespace filter_detail
