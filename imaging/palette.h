// Palette replacement and palette files.
//
// Palette arrays are 256 entries of {blue, green, red, 0}, as in a DIB
// colour table, travelling with a 16-bit entry count. Palette files are only
// read, never written, in two forms:
//
//   text ("KERV-PAL")              RIFF
//   KERV-PAL<CR><LF>               "RIFF" size "PAL "
//   0100<CR><LF>                     "data" size
//   16<CR><LF>      (or 256)           version u16, count u16,
//   255 0 0<CR><LF> (count lines)      count x {red, green, blue, flags}
//   ...
//
// Reading never goes past the bytes at hand. Codes: 0; 101 null array or
// count; 102 no memory; 201 the file cannot be opened; 202 it cannot be
// read (it ends too soon); 312 not a palette of that form, or a malformed
// entry line; 528 an entry count that is not accepted; 529 a text version
// other than "0100". On any failure the count out is 0 and the array may
// hold some entries already read.
#pragma once

#include "core/dib.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Puts a new colour table on a palette image; every pixel keeps its index.
// The result is a copy of the whole source block with the first `count`
// entries of its table replaced. count must equal the number of entries the
// image's table holds, else 601 and nothing is made (a 24-bit image has
// none). 101 null source, slot or palette, or a block that is not a DIB;
// 102 out of memory. No progress is reported.
KervErrorCode ReplacePaletteDIB(KHANDLE source, KHANDLE* result, uint32_t count,
                                const RGBQUAD* palette);

// The text form. The signature's eight letters and the version's four are
// compared without regard to case; line ends are skipped without being
// looked at, so a file missing only its final LF is whole. The count must
// be "16" or "256". An entry is three numbers of one to three digits (a
// leading '-' allowed), the first two each followed by one space, the third
// by CR; values above 255 become 255, negative ones 0. Anything after the
// last entry line is never read, so only the file's first few kilobytes
// are.
KervErrorCode ReadPaletteFile(const std::string& path, RGBQUAD* palette, uint16_t* count);

// The RIFF form: the first RIFF chunk of form "PAL " in the file (other
// chunks are skipped), and the first "data" chunk within it. The data chunk
// must lie inside the file (else 202) and hold its version and count and
// every entry it counts; the count must be 1..256 and the chunk's size a
// multiple of 4 (else 528). The count out is 16 for files of up to 16
// entries and 256 otherwise; entries between the file's count and that are
// black. The version and flags are not looked at. Files larger than
// kMaxRiffPaletteFileBytes are not palettes (312) and are not read.
KervErrorCode ReadRiffPaletteFile(const std::string& path, RGBQUAD* palette, uint16_t* count);

inline constexpr size_t kMaxRiffPaletteFileBytes = size_t{4} << 20;

// The two parsers behind the readers, on bytes in memory (what the file
// holds, from its first byte). Same rules and codes.
KervErrorCode ParsePaletteText(const uint8_t* data, size_t size, RGBQUAD* palette, uint16_t* count);
KervErrorCode ParseRiffPalette(const uint8_t* data, size_t size, RGBQUAD* palette, uint16_t* count);
