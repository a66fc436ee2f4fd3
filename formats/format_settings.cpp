// Per-format options kept in the settings store, and their defaults.
#include "core/settings.h"
#include "formats/format_table.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <algorithm>

namespace {

// The 29 option names; the value name is the format's settings key followed
// by one of them ("JPGCompressionFactor").
enum Opt {
    Depth, ColorOrder, CompressionFactor, CompressionMath, Compression, Header, HeaderLength,
    Interlace, Interleaving, InvertLines, LoadSize, Monochrome, OptimizeSize, Planes, Preview,
    Prompt, ReqFitsFilter, ReqFitsCValue, ReqHeight, ReqWidth, Variant, Version, PageSizeX1,
    PageSizeX2, PageSizeY1, PageSizeY2, Resolution, Antialias, ReturnAlpha, kOptCount
};
constexpr const char* kOptNames[kOptCount] = {
    "Depth", "ColorOrder", "CompressionFactor", "CompressionMath", "Compression", "Header",
    "HeaderLength", "Interlace", "Interleaving", "InvertLines", "LoadSize", "Monochrome",
    "OptimizeSize", "Planes", "Preview", "Prompt", "ReqFitsFilter", "ReqFitsCValue", "ReqHeight",
    "ReqWidth", "Variant", "Version", "PageSizeX1", "PageSizeX2", "PageSizeY1", "PageSizeY2",
    "Resolution", "Antialias", "ReturnAlpha"};

bool IsTextOption(int o) {
    return o == ReqFitsCValue || o == PageSizeX1 || o == PageSizeX2 || o == PageSizeY1 ||
           o == PageSizeY2;
}

void Store(FormatOptions* f, int o, double v) {
    const auto i = static_cast<int32_t>(v);
    const auto b = static_cast<uint8_t>(i);
    switch (o) {
    case Depth: f->depth = b; break;
    case ColorOrder: f->colorOrder = b; break;
    case CompressionFactor: f->compressionFactor = static_cast<int16_t>(i); break;
    case CompressionMath: f->compressionMath = i; break;
    case Compression: f->compression = i; break;
    case Header: f->header = b; break;
    case HeaderLength: f->headerLength = i; break;
    case Interlace: f->interlace = b; break;
    case Interleaving: f->interleaving = b; break;
    case InvertLines: f->invertLines = b; break;
    case LoadSize: f->loadSize = i; break;
    case Monochrome: f->monochrome = b; break;
    case OptimizeSize: f->optimizeSize = b; break;
    case Planes: f->planes = i; break;
    case Preview: f->preview = b; break;
    case Prompt: f->prompt = b; break;
    case ReqFitsFilter: f->reqFitsFilter = i; break;
    case ReqFitsCValue: f->reqFitsCValue = static_cast<float>(v); break;
    case ReqHeight: f->reqHeight = i; break;
    case ReqWidth: f->reqWidth = i; break;
    case Variant: f->variant = i; break;
    case Version: f->version = i; break;
    case PageSizeX1: f->pageSizeX1 = static_cast<float>(v); break;
    case PageSizeX2: f->pageSizeX2 = static_cast<float>(v); break;
    case PageSizeY1: f->pageSizeY1 = static_cast<float>(v); break;
    case PageSizeY2: f->pageSizeY2 = static_cast<float>(v); break;
    case Resolution: f->resolution = i; break;
    case Antialias: f->antialias = i; break;
    case ReturnAlpha: f->returnAlpha = i; break;
    default: break;
    }
}

struct OptionDefault {
    Opt opt;
    double value;
};
struct DefaultsRow {
    std::initializer_list<int> libraryValues;
    const char* section;
    std::initializer_list<OptionDefault> options;  // the options the format uses
};

// The options each format uses in each section, with their defaults.
const DefaultsRow kDefaults[] = {
    {{1, 6}, "Encoding", {{Compression, 1}, {Variant, 11}}},
    {{8}, "Decoding",
     {{Variant, 152}, {Prompt, 1}, {PageSizeX1, 0}, {PageSizeX2, 8.5}, {PageSizeY1, 0},
      {PageSizeY2, 11}, {Resolution, 72}, {Antialias, 1}, {ReturnAlpha, 1}}},
    {{8}, "Encoding", {{Monochrome, 1}, {Preview, 1}}},
    {{7, 37}, "Decoding", {{Prompt, 1}, {ReqWidth, 100}, {ReqHeight, 100}}},
    {{9}, "Encoding", {{CompressionFactor, 15}, {Compression, 2}}},
    {{10}, "Encoding", {{Interlace, 0}, {Variant, 41}}},
    {{11, 19}, "Encoding", {{Compression, 2}}},
    {{17}, "Encoding", {{CompressionFactor, 15}, {CompressionMath, 0}, {Variant, 70}}},
    {{20}, "Encoding", {{Header, 0}}},
    {{22, 25, 29}, "Encoding", {{Variant, 90}}},
    {{23}, "Decoding", {{Prompt, 1}, {LoadSize, -1}}},
    {{24}, "Encoding", {{Variant, 82}}},
    {{28}, "Encoding", {{Interlace, 0}, {OptimizeSize, 1}}},
    {{31}, "Encoding", {{Compression, 7}, {Version, 4}}},
    {{33}, "Encoding", {{Variant, 100}}},
    {{34}, "Encoding", {{Planes, 2}}},
    {{35}, "Encoding", {{Depth, 24}, {Compression, 2}}},
    {{36}, "Encoding", {{Compression, 9}, {Planes, 1}}},
    {{38}, "Encoding", {{Variant, 130}}},
    {{103}, "Decoding",
     {{ColorOrder, 1}, {HeaderLength, 0}, {Interleaving, 1}, {InvertLines, 0}, {Planes, 4},
      {ReqWidth, 100}, {ReqHeight, 100}}},
    {{103}, "Encoding",
     {{ColorOrder, 1}, {HeaderLength, 0}, {Interleaving, 1}, {InvertLines, 0}, {Planes, 4}}},
};

bool SameText(std::string_view a, std::string_view b) { return a == b; }

const DefaultsRow* FindDefaults(std::string_view section, int libraryValue) {
    for (const auto& r : kDefaults) {
        if (!SameText(r.section, section)) continue;
        for (int v : r.libraryValues)
            if (v == libraryValue) return &r;
    }
    return nullptr;
}

double ReadOption(const SettingsStore& store, std::string_view section, const std::string& key,
                  int opt, double def) {
    const std::string name = key + kOptNames[opt];
    if (IsTextOption(opt)) {
        const auto raw = store.GetRaw(section, name);
        if (!raw) return def;
        return std::strtod(raw->c_str(), nullptr);
    }
    return static_cast<double>(store.GetInt(section, name, static_cast<int64_t>(def)));
}

}  // namespace

const char* FormatSettingsKey(int libraryValue) {
    switch (libraryValue) {
    case 1: return "BMP";
    case 6: return "DIB";
    case 8: return "EPS";
    case 9: return "FPX";
    case 10: return "GIF";
    case 11: return "IFF";
    case 17: return "JPG";
    case 19: return "LBM";
    case 20: return "MAC";
    case 22:
    case 25: return "PBM";
    case 23: return "PCD";
    case 24: return "PCX";
    case 28: return "PNG";
    case 29: return "PPM";
    case 31: return "QZM";
    case 33: return "RLE";
    case 34: return "SCT";
    case 35: return "TGA";
    case 36: return "TIFF";
    case 37: return "WMF";
    case 38: return "WPG";
    case 103: return "RAW";
    default: return nullptr;
    }
}

KervErrorCode LoadFormatSettings(const SettingsStore& store, std::string_view section,
                                 int libraryValue, FormatOptions* options) {
    if (!options || (section != "Decoding" && section != "Encoding")) return KERV_INVALID_PARAM;
    *options = FormatOptions{};
    options->format = libraryValue;
    const DefaultsRow* row = FindDefaults(section, libraryValue);
    double returnAlphaDefault = 0;
    if (row)
        for (const auto& d : row->options) {
            Store(options, d.opt, d.value);
            if (d.opt == ReturnAlpha) returnAlphaDefault = d.value;
        }
    // An EMF file is read with the WMF settings.
    const char* key = libraryValue == 7 ? "WMF" : FormatSettingsKey(libraryValue);
    if (!key) return KERV_OK;
    const std::string k = key;
    if (row)
        for (const auto& d : row->options)
            if (d.opt != ReturnAlpha) Store(options, d.opt, ReadOption(store, section, k, d.opt, d.value));
    Store(options, ReturnAlpha, ReadOption(store, section, k, ReturnAlpha, returnAlphaDefault));
    return KERV_OK;
}

KervErrorCode LoadFormatSettings(std::string_view section, int libraryValue, FormatOptions* options) {
    return LoadFormatSettings(AppSettings(), section, libraryValue, options);
}

int StoredSubType(const SettingsStore& store, int id) {
    const OutputFormatEntry* f = FindOutputFormat(id);
    if (!f || !f->settingsKey) return 0;
    const int64_t v = store.GetInt("BatchSubTypes", f->settingsKey, f->defaultSubType);
    return ClampSubType(id, static_cast<int>(std::clamp<int64_t>(v, -1, 1000)));
}

void StoreSubType(SettingsStore* store, int id, int subType) {
    const OutputFormatEntry* f = FindOutputFormat(id);
    if (store && f && f->settingsKey) store->SetInt("BatchSubTypes", f->settingsKey, subType);
}

std::string FormatOptionText(double value) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", value);
    return buf;
}
