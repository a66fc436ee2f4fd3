// The format tables: the formats Brellix reads, the 34 output formats a
// script can choose, and the rules tied to them.
//
// Output formats are named by their identifier (1..34); the codec layer by
// the library format value (tagKervFileFormats). Extensions are stored
// without the dot, in lower case, and compared without case.
#pragma once

#include "core/dib.h"
#include "formats/codec.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class SettingsStore;

enum class OptionsPage { None, Transparency, CompressionAndResolution, Resolution,
                         ChannelsAndResolution, Compression, QzmVersionAndResolution };

struct OutputFormatEntry {
    int id;                   // output format identifier, 1..34
    const char* ext;          // extension MakeOutputFileName appends, lower case
    int libraryValue;         // tagKervFileFormats value
    const char* displayName;  // shown in the output options and descriptions
    int subTypeCount;         // 0: no sub-types (shows "None", uses sub-type 0)
    int subTypeBase;          // string number of the first sub-type name (1800 "None" when none)
    int defaultSubType;
    const char* settingsKey;  // "BatchSubTypes" and format settings key, or nullptr
    OptionsPage page;
};

// Null for an identifier outside 1..34.
const OutputFormatEntry* FindOutputFormat(int id);
// Sub-type name: string subTypeBase + subType ("None" for formats without).
std::string OutputSubTypeName(int id, int subType);

// The 34 rows in identifier order.
std::span<const OutputFormatEntry> OutputFormats();
// A sub-type remembered in "BatchSubTypes", made valid: values not below the
// count become count - 1, negative ones 0; formats without sub-types give 0.
int ClampSubType(int id, int subType);
// Whether Brellix can write the format yet; WriteImageFile answers
// KERV_FORMAT_NOT_WRITABLE for the others. The encoders themselves are picked
// in formats/codec_registry.h, which keeps these tables free of codec code.
bool IsOutputFormatWritable(int id);

// ---- Readable formats ----

// How a file of the format is decoded.
enum class DecodeKind { Library = 1, LibraryOptions = 2, Metafile = 3, ImportFilter = 4 };

struct ReadableFormatEntry {
    int libraryValue;
    const char* description;
    int defaultExt;             // index into exts
    int extCount;
    const char* exts[4];        // lower case, without the dot
    DecodeKind kind;
    bool decodable;             // false: not readable yet (the file counts as unknown)
    bool enabled() const { return decodable; }
};

// The readable list in its fixed order.
std::span<const ReadableFormatEntry> ReadableFormats();
// Enabled entries first, then the others, each group sorted by description;
// at most 150 entries.
std::vector<const ReadableFormatEntry*> ReadableFormatIndex();
const ReadableFormatEntry* FindReadableFormat(int libraryValue);
// The first entry listing the extension (without dot, any case); null if none.
const ReadableFormatEntry* FindReadableFormatByExtension(std::string_view ext);

// ---- Rules ----

// 0 when the DIB may be saved with this identifier and sub-type, otherwise
// the number of the message that says why (5005..5017). A DIB that cannot be
// locked is accepted here; the writer reports it.
int CheckOutputCompatibility(int id, int subType, KHANDLE dib);

// Replaces the file name's extension with the identifier's (appends it when
// there is none). Only the part after the last "/" is looked at, so a dot
// in a folder name is never taken as the extension, and a leading dot (a
// hidden file's) is part of the name. With keepShortExtension set, a path
// whose extension has at most 3 characters is left alone.
void MakeOutputFileName(std::string* path, int id, bool keepShortExtension);

// The settings key of a library format value ("BMP", "JPG", "TIFF", ...), or
// null when the format has no settings.
const char* FormatSettingsKey(int libraryValue);

// Fills options for the library value from the defaults table and the values
// stored in `section` ("Decoding" or "Encoding") of the settings store.
// Returns 101 for a null record or an unknown section.
KervErrorCode LoadFormatSettings(const SettingsStore& store, std::string_view section,
                                 int libraryValue, FormatOptions* options);
// The same with the process's settings store.
KervErrorCode LoadFormatSettings(std::string_view section, int libraryValue,
                                 FormatOptions* options);

// File dialog filters: "All Files|*.*|" then "EXT - description|*.ext|" per
// extension, sorted by extension without case. The open filter lists the
// readable formats Brellix can decode, the save filter the output formats
// it can write.
std::string OpenDialogFilter();
std::string SaveDialogFilter();

// The sub-type remembered for an output format in "BatchSubTypes" (the
// format's default when nothing is stored), clamped with ClampSubType.
int StoredSubType(const SettingsStore& store, int id);
void StoreSubType(SettingsStore* store, int id, int subType);
// How the text-valued options ("ReqFitsCValue", the page sizes) are stored:
// 10 significant digits.
std::string FormatOptionText(double value);
