// Reading and writing image files: the only way the program does either.
//
// ReadImageFile finds the format from the file's contents first, then from
// its extension, decodes the whole file in memory and hands back a new DIB
// with what travels with the file (resolution, transparency, options).
// WriteImageFile turns the output settings into encoder options, converts
// the image when the format cannot store its depth, encodes it, and writes
// the file through a temporary file in the target's folder that replaces the
// target only when everything succeeded: a failed write never leaves a
// half-written or damaged target behind.
#pragma once

#include "core/dib.h"
#include "formats/codec.h"
#include "formats/output_options.h"

#include <string>

// dib must be given and hold null. When status is given, both of its
// callbacks must be set. Codes: 0; 101 bad arguments; 103 unknown format
// (also for formats Brellix cannot decode yet); 201 the file cannot be
// opened or is empty; 207 not a readable file; 211 the file does not exist;
// 100, 102 and the decoder's codes otherwise. *format receives the library
// format value found (0 when none).
KervErrorCode ReadImageFile(const std::string& path, int* format, KHANDLE* dib,
                            StatusControlBlock* status, ImageFileInfo* info);

// Writes dib to path in output format `id` (1..34) and sub-type. Codes: 0;
// 101 bad arguments or an identifier outside the table; 214 a format Brellix
// cannot write yet; 208 the file could not be written; 100, 102 and the
// encoder's codes otherwise.
KervErrorCode WriteImageFile(const std::string& path, KHANDLE dib, int id, int subType,
                             const OutputOptions& options, StatusControlBlock* status = nullptr);

// The encoder options WriteImageFile uses for an identifier and sub-type
// (before the depth conversion); false for an identifier outside the table.
bool BuildOutputInfo(KHANDLE dib, int id, int subType, const OutputOptions& options,
                     ImageFileInfo* info);

// The library format value the file's first bytes name, 0 when none of the
// formats Brellix decodes matches.
int ImageTypeByContent(const uint8_t* data, size_t size);
