// Colour reduction: a picture of many colours becomes a palette image.
//
// Every operation here follows the operations' contract: *result is set to
// null first, the source is never changed, everything allocated is freed on
// failure. Codes: 0; 100 stopped; 101 an argument out of range, a null
// source or slot, or a block that is not a usable uncompressed DIB; 102 out
// of memory. Progress: one unit per output row.
//
// The palette reductions (DitherToStandardPalette, DitherToPalette,
// DitherDIB) take 4-, 8- and 24-bit sources (fewer bits: 101) and give a
// 4-bit (16 entries) or 8-bit (256 entries) result of the source's size,
// resolution 0. A palette source is read through its colour table; an index
// past the table reads as black. Rows are worked top to bottom, pixels left
// to right, which is what error diffusion carries its error along.
//
// Methods: 0 nearest colour, 1 ordered dither, 2 error diffusion (Floyd-
// Steinberg with exact integer shares of 7/16, 5/16, 3/16 and 1/16).
// reduceBleed keeps 3/4 of the diffused error; it changes nothing for the
// other methods.
#pragma once

#include "core/dib.h"

#include <cstdint>
#include <string>

// The 16 Windows colours: index bit 0 red, bit 1 green, bit 2 blue, bit 3
// bright (with 7 silver and 8 grey as the exceptions).
extern const RGBQUAD kWindows16Colors[16];
// The standard 256-colour palette: a 6 x 6 x 6 cube of the levels 0, 51,
// ..., 255 with entry = 36 x blue level + 6 x green level + red level, then
// 40 black entries (256 entries in all).
extern const RGBQUAD* const kStandardCube256;

// Reduces to the Windows 16 colours (targetBits 4) or the standard cube
// (targetBits 8). Nearest colour and error diffusion read the colour map
// file at mapPath ("KCD.DAT": the 16-colour map at offset 0, the 256-colour
// map at 32768; each 32768 bytes indexed by the colour's top five bits of
// red, green and blue). Ordered dither uses a 16 x 16 threshold matrix and
// reads no file, so mapPath may then be empty.
// Further codes: 800 the map file cannot be opened; 202 fewer than 32768
// bytes at the map's offset, or a map holding an index past the palette.
KervErrorCode DitherToStandardPalette(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                                      uint8_t targetBits, uint8_t method, uint8_t reduceBleed,
                                      const std::string& mapPath);

// Reduces to the caller's palette: 16 (targetBits 4) or 256 (targetBits 8)
// entries, all copied into the result, of which the first `count` (1 ..
// 2^targetBits) take part in the matching. Methods 0 and 2 only.
//
// Colours are matched through a cache of 2^21 entries kept between calls on
// the same thread (until ReleaseDitherCache) and keyed by the top seven bits of each
// component: the first colour met for a key decides that key's index, so a
// colour and its neighbour one step down share an answer. A call with a
// different palette or count empties the cache first. The cache block is
// the one allocation that outlives a successful call; a failed call leaves
// it as it found it (absent, or present and still valid).
KervErrorCode DitherToPalette(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                              uint8_t targetBits, const RGBQUAD* palette, uint8_t method,
                              uint8_t reduceBleed, uint16_t count);

// Frees DitherToPalette's cache (nothing happens when there is none). Each
// thread has its own cache, freed when the thread ends; this frees the
// calling thread's.
void ReleaseDitherCache();

// Reduces to black and white (a 1-bit result, entry 0 black, entry 1 white,
// the source's resolution) from one level per pixel:
//   component 0  (11 x blue + 59 x green + 30 x red) / 100
//             1  red,  2 green,  3 blue
// weighted maps each level through a fixed table that darkens the shadows
// and lifts the highlights. The darkest and brightest levels of the colour
// table (the grey ramp for 24 bits) give the threshold, their mean; error
// diffusion keeps every level between them. An index past the colour table
// reads as black and does not widen the range.
// kernel: 0 threshold only, 1 Floyd-Steinberg, 2 Burkes, 3 Stucki (the last
// reaches two rows down). Sources of 4, 8 and 24 bits; 1 bit is 101.
KervErrorCode DitherTo2Colors(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                              uint8_t kernel, uint8_t component, uint8_t weighted);

// The palette reduction with the exact nearest colour (squared RGB distance,
// lowest index on ties) for every pixel. palette: 16 or 256 entries by
// targetBits, or null for the standard palette of the target, of which the
// first `count` (1 .. 2^targetBits) are matched; the result's
// colours-important field holds count. strengthPercent scales the diffused
// error (100 full, 0 none; reduceBleed takes 3/4 of it); below 0 is 101.
// Ordered dither computes standard-palette indexes whatever the palette.
KervErrorCode DitherDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                        uint8_t targetBits, const RGBQUAD* palette, uint8_t method,
                        uint8_t reduceBleed, uint16_t count, int strengthPercent);

// The image's own median-cut palette of at most `colours` entries (the
// optimized palette's algorithm), then DitherDIB with it. Sources of 8 and
// 24 bits; targetBits 4 (colours 1..16) or 8 (colours 1..256, at most 236
// with includeWindowsColors, which places the 20 Windows colours ten before
// and ten after the generated entries). Other arguments as DitherDIB; 101
// for anything else.
KervErrorCode OptimizedDitherDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                                 uint16_t colours, uint8_t method, uint8_t targetBits,
                                 bool includeWindowsColors, int strengthPercent);
