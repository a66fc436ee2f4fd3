// Rotate, flip and mirror.
//
// All three take a status block (may be null), a source handle and a result
// slot. The slot is set to null first; on success it receives a new DIB of
// the source's depth (1, 4, 8 or 24 bits, never converted) with the source's
// palette and resolution fields (copied, never exchanged on a quarter turn).
// The source is never changed. Codes: 0; 100 stopped through the status
// block (nothing kept); 101 null handle or slot, a block that is not an
// uncompressed DIB, or a bad parameter; 102 out of memory (everything
// allocated so far freed).
//
// "Clockwise" is as the picture is seen (rows are stored bottom-up).
//
//   source     90 right    180      270 right (= 90 left)
//   a b c        d a      f e d        c f
//   d e f        e b      c b a        b e
//                f c                   a d
#pragma once

#include "core/dib.h"

// Turns by `angle` degrees. direction 1 clockwise, 0 counter-clockwise
// (anything else 101). The sign of the angle is dropped and it is reduced
// below 360; what is left must be at least 0.01 (so 0 and 360 are 101, and
// so are NaN and infinity).
//
// 90, 180 and 270 (after a left turn becomes 360 - angle) move pixels
// exactly; the output is H x W for a quarter turn. Progress: source columns
// for 90, source rows for 180 and 270.
//
// Any other angle resamples bilinearly into the bounding box of the turned
// image, W' = int(H|sin| + W|cos| + 0.5), H' = int(W|sin| + H|cos| + 0.5),
// filling what the image does not cover with red/green/blue (green and blue
// clamped to 0..255). Greyscale 8-bit images are blended as intensities, the
// background level being `blue`; other palette images are blended in colour
// and mapped back to the nearest palette entry. blendEdges mixes the pixels
// along the turned image's border with the background; without it the
// border takes image pixels only. Progress: output rows.
KervErrorCode RotateDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, double angle,
                        uint8_t direction, uint8_t red, int16_t green, int16_t blue,
                        uint8_t blendEdges);
// Upside down: the top row becomes the bottom row. The result is a copy of
// the whole block with the rows reversed. Progress: rows.
KervErrorCode FlipDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result);
// Left becomes right; packed rows stay aligned on the left, and row padding
// comes out as zero. Progress: rows.
KervErrorCode MirrorDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result);
