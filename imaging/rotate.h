// Rotate, flip and mirror.
//
// All three keep the source's depth (1, 4, 8, 24), palette and resolution
// fields and return a new DIB in *result (null on any failure).
// Progress: rows (see each function).
#pragma once

#include "core/dib.h"

// Turns by any angle in degrees: exact pixel moves for 90, 180 and 270,
// bilinear resampling otherwise. direction 1 clockwise, 0 counter-clockwise
// (anything else 101). The sign of the angle is dropped and it is reduced
// below 360; what is left must be at least 0.01 (so 0 and 360 are 101).
// red/green/blue fill the uncovered corners of a free turn; blendEdges mixes
// the image's border pixels with that colour.
KervErrorCode RotateDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, double angle,
                        uint8_t direction, uint8_t red, int16_t green, int16_t blue,
                        uint8_t blendEdges);
// Upside down: the top row becomes the bottom row.
KervErrorCode FlipDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result);
// Left becomes right.
KervErrorCode MirrorDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result);
