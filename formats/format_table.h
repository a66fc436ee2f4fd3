// The format tables: the formats Brellix reads, the 34 output formats a
// script can choose, and the rules tied to them.
#pragma once

#include "core/dib.h"

#include <cstdint>
#include <string>

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
