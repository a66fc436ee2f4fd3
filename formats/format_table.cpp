#include "formats/format_table.h"

#include "core/errors.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

using P = OptionsPage;

// id, ext, library value, display name, sub-type count, first sub-type
// string, default sub-type, settings key, options page.
constexpr OutputFormatEntry kOutputFormats[] = {
    {1, "bmp", 1, "Windows Bitmap", 3, 1805, 1, "BMP", P::None},
    {2, "clp", 3, "Windows Clipboard", 0, 1800, 0, nullptr, P::None},
    {3, "cut", 4, "Dr. Halo", 0, 1800, 0, nullptr, P::None},
    {4, "dib", 6, "Device Independent Bitmap", 3, 1810, 1, "DIB", P::None},
    {5, "eps", 8, "Encapsulated PostScript", 4, 1815, 0, "EPS", P::None},
    {6, "gif", 10, "CompuServe Graphics Interchange", 4, 1820, 3, "GIF", P::Transparency},
    {7, "iff", 11, "Amiga Interchange File Format", 2, 1825, 0, "IFF", P::None},
    {8, "img", 12, "GEM Paint", 0, 1800, 0, nullptr, P::None},
    {9, "jif", 17, "JPEG File Interchange Format", 2, 1890, 0, "JPG", P::CompressionAndResolution},
    {10, "jpg", 17, "JPEG", 2, 1890, 0, "JPG", P::CompressionAndResolution},
    {11, "lbm", 19, "Deluxe Paint", 2, 1830, 0, "LBM", P::None},
    {12, "mac", 20, "MacPaint", 2, 1840, 0, "MAC", P::None},
    {13, "msp", 21, "Microsoft Paint", 0, 1800, 0, nullptr, P::None},
    {14, "pbm", 22, "Portable Bitmap", 2, 1850, 0, "PBM", P::None},
    {15, "pct", 27, "Macintosh PICT", 0, 1800, 0, nullptr, P::None},
    {16, "pcx", 24, "ZSoft Paintbrush", 3, 1845, 0, "PCX", P::Resolution},
    {17, "pgm", 25, "Portable Greymap", 2, 1850, 0, "PBM", P::None},
    {18, "pic", 26, "PC Paint", 0, 1800, 0, nullptr, P::None},
    {19, "png", 28, "Portable Network Graphics", 2, 1885, 0, "PNG", P::Transparency},
    {20, "ppm", 29, "Portable Pixmap", 2, 1850, 0, "PPM", P::None},
    {21, "psd", 30, "Adobe Photoshop", 0, 1800, 0, nullptr, P::None},
    {22, "ras", 32, "Sun Raster", 0, 1800, 0, nullptr, P::None},
    {23, "rle", 33, "Run Length Encoded", 2, 1855, 0, "RLE", P::None},
    {24, "tga", 35, "Truevision Targa", 6, 1860, 4, "TGA", P::None},
    {25, "tif", 36, "Tagged Image File Format", 5, 1870, 2, "TIFF", P::ChannelsAndResolution},
    {26, "wmf", 37, "Windows Metafile", 0, 1800, 0, nullptr, P::None},
    {27, "wpg", 38, "WordPerfect Graphic", 3, 1880, 0, "WPG", P::Resolution},
    {28, "emf", 7, "Enhanced Metafile", 0, 1800, 0, nullptr, P::None},
    {29, "ps", 8, "PostScript", 4, 1815, 0, "EPS", P::None},
    {30, "ai", 8, "Adobe Illustrator", 4, 1815, 0, "EPS", P::None},
    {31, "fpx", 9, "FlashPix", 2, 1920, 0, "FPX", P::Compression},
    {32, "qzm", 31, "QZM Layered Image", 3, 1900, 0, "QZM", P::QzmVersionAndResolution},
    {33, "sct", 34, "Scitex Continuous Tone", 2, 1910, 0, "SCT", P::None},
    {34, "ct", 34, "Scitex Continuous Tone", 2, 1910, 0, "SCT", P::None},
};
static_assert(std::size(kOutputFormats) == 34);

using K = DecodeKind;

// The readable list, in the order the format object is built with.
const ReadableFormatEntry kReadable[] = {
    {6, "Device Independent Bitmap", 0, 1, {"dib"}, K::Library, true},
    {4, "Dr. Halo", 0, 1, {"cut"}, K::Library, false},
    {3, "Windows Clipboard", 0, 1, {"clp"}, K::Library, false},
    {1, "Windows Bitmap", 0, 1, {"bmp"}, K::Library, true},
    {5, "Multi-page PCX", 0, 1, {"dcx"}, K::Library, false},
    {7, "Enhanced Metafile", 0, 1, {"emf"}, K::Metafile, false},
    {8, "Encapsulated PostScript", 0, 3, {"eps", "ps", "ai"}, K::LibraryOptions, false},
    {10, "CompuServe Graphics Interchange", 0, 1, {"gif"}, K::Library, true},
    {11, "Amiga Interchange File Format", 0, 1, {"iff"}, K::Library, false},
    {12, "GEM Paint", 0, 1, {"img"}, K::Library, false},
    {17, "JPEG", 0, 4, {"jpg", "jpeg", "jif", "jpe"}, K::Library, true},
    {18, "Kodak Digital Camera", 0, 1, {"kdc"}, K::Library, false},
    {19, "Deluxe Paint", 0, 1, {"lbm"}, K::Library, false},
    {20, "MacPaint", 0, 1, {"mac"}, K::Library, false},
    {21, "Microsoft Paint", 0, 1, {"msp"}, K::Library, false},
    {23, "Kodak Photo CD", 0, 1, {"pcd"}, K::Library, false},
    {24, "ZSoft Paintbrush", 0, 1, {"pcx"}, K::Library, true},
    {26, "PC Paint", 0, 1, {"pic"}, K::Library, false},
    {32, "Sun Raster", 0, 1, {"ras"}, K::Library, false},
    {33, "Run Length Encoded", 0, 1, {"rle"}, K::Library, false},
    {35, "Truevision Targa", 0, 1, {"tga"}, K::Library, true},
    {36, "Tagged Image File Format", 0, 2, {"tif", "tiff"}, K::Library, true},
    {37, "Windows Metafile", 0, 1, {"wmf"}, K::Metafile, false},
    {38, "WordPerfect Graphic", 0, 1, {"wpg"}, K::Library, false},
    {30, "Adobe Photoshop", 0, 1, {"psd"}, K::Library, true},
    {22, "Portable Bitmap", 0, 1, {"pbm"}, K::Library, true},
    {25, "Portable Greymap", 0, 1, {"pgm"}, K::Library, true},
    {29, "Portable Pixmap", 0, 2, {"ppm", "pnm"}, K::Library, true},
    {28, "Portable Network Graphics", 0, 1, {"png"}, K::LibraryOptions, true},
    {14, "Computer Graphics Metafile", 0, 1, {"cgm"}, K::Metafile, false},
    {15, "Lotus PIC", 0, 1, {"pic"}, K::Library, false},
    {27, "Macintosh PICT", 0, 2, {"pct", "pict"}, K::Library, false},
    {9, "FlashPix", 0, 1, {"fpx"}, K::Library, false},
    {31, "QZM Layered Image", 0, 1, {"qzm"}, K::Library, true},
    {34, "Scitex Continuous Tone", 0, 2, {"sct", "ct"}, K::Library, false},
};

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Lower(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}
std::string Upper(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

// "All Files|*.*|" then one "EXT - description|*.ext|" per pair.
std::string BuildFilter(std::vector<std::pair<std::string, std::string>> pairs) {
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const auto& a, const auto& b) { return Lower(a.first) < Lower(b.first); });
    std::string f = "All Files|*.*|";
    for (const auto& [ext, desc] : pairs) f += Upper(ext) + " - " + desc + "|*." + ext + "|";
    return f;
}

}  // namespace

std::span<const OutputFormatEntry> OutputFormats() { return kOutputFormats; }

const OutputFormatEntry* FindOutputFormat(int id) {
    if (id < 1 || id > static_cast<int>(std::size(kOutputFormats))) return nullptr;
    return &kOutputFormats[id - 1];
}

std::string OutputSubTypeName(int id, int subType) {
    const OutputFormatEntry* f = FindOutputFormat(id);
    if (!f || f->subTypeCount == 0) return LoadString(1800);
    return LoadString(f->subTypeBase + subType);
}

int ClampSubType(int id, int subType) {
    const OutputFormatEntry* f = FindOutputFormat(id);
    if (!f || f->subTypeCount == 0 || subType < 0) return 0;
    return std::min(subType, f->subTypeCount - 1);
}

bool IsOutputFormatWritable(int id) {
    const OutputFormatEntry* f = FindOutputFormat(id);
    if (!f) return false;
    switch (f->libraryValue) {
    case 1:   // BMP
    case 6:   // DIB
    case 10:  // GIF
    case 17:  // JPG
    case 22:  // PBM
    case 24:  // PCX
    case 25:  // PGM
    case 28:  // PNG
    case 29:  // PPM
    case 30:  // PSD
    case 31:  // QZM
    case 35:  // TGA
    case 36:  // TIF
        return true;
    default: return false;
    }
}

std::span<const ReadableFormatEntry> ReadableFormats() { return kReadable; }

std::vector<const ReadableFormatEntry*> ReadableFormatIndex() {
    std::vector<const ReadableFormatEntry*> v;
    for (const auto& e : kReadable) v.push_back(&e);
    std::stable_sort(v.begin(), v.end(), [](const ReadableFormatEntry* a, const ReadableFormatEntry* b) {
        if (a->enabled() != b->enabled()) return a->enabled();
        return Lower(a->description) < Lower(b->description);
    });
    if (v.size() > 150) v.resize(150);
    return v;
}

const ReadableFormatEntry* FindReadableFormat(int libraryValue) {
    for (const auto& e : kReadable)
        if (e.libraryValue == libraryValue) return &e;
    return nullptr;
}

const ReadableFormatEntry* FindReadableFormatByExtension(std::string_view ext) {
    for (const auto& e : kReadable)
        for (int i = 0; i < e.extCount; ++i)
            if (EqualNoCase(ext, e.exts[i])) return &e;
    return nullptr;
}

int CheckOutputCompatibility(int id, int subType, KHANDLE dib) {
    int width = 0, height = 0, bits = 0;
    {
        DIBLock d(dib);
        if (!d) return 0;
        width = d.width(), height = d.height(), bits = d.bitCount();
    }
    const bool grey = IsDIBGreyScaled(dib);
    switch (id) {
    case 1:
    case 4: return (subType == 2 && bits != 4 && bits != 8) ? 5010 : 0;
    case 3: return bits != 8 ? 5006 : 0;
    case 6:
    case 7:
    case 11:
    case 18:
    case 27: return bits == 24 ? 5009 : 0;
    case 8: return (bits == 1 || grey) ? 0 : 5011;
    case 9:
    case 10:
    case 31: return (bits == 24 || grey) ? 0 : 5008;
    case 12: return (width == 576 && height == 720 && bits == 1) ? 0 : 5012;
    case 13:
    case 14: return bits != 1 ? 5007 : 0;
    case 16:
        if (subType == 0) return bits != 1 ? 5007 : 0;
        if (subType == 1) return (bits != 1 && bits != 4) ? 5013 : 0;
        return 0;
    case 17: return grey ? 0 : 5014;
    case 20:
    case 33:
    case 34: return bits != 24 ? 5005 : 0;
    case 22: return bits == 4 ? 5015 : 0;
    case 23:
        if (subType == 0)
            return (bits == 1 && ((width == 256 && height == 192) || (width == 128 && height == 96)))
                       ? 0
                       : 5017;
        if (subType == 1) return (bits != 4 && bits != 8) ? 5010 : 0;
        return 0;
    case 24:
        if (subType == 0 || subType == 1) return bits != 8 ? 5006 : 0;
        if (subType >= 2 && subType <= 5) return bits != 24 ? 5005 : 0;
        return 0;
    case 25: return ((subType == 0 || subType == 1) && bits != 1) ? 5007 : 0;
    default: return 0;
    }
}

void MakeOutputFileName(std::string* path, int id, bool keepShortExtension) {
    const OutputFormatEntry* f = FindOutputFormat(id);
    if (!path || !f) return;
    const size_t slash = path->rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = std::string::npos;
    // A dot opening the name (".profile") belongs to the name.
    for (size_t i = path->size(); i > nameStart + 1; --i)
        if ((*path)[i - 1] == '.') {
            dot = i - 1;
            break;
        }
    if (dot == std::string::npos) {
        *path += ".";
        *path += f->ext;
        return;
    }
    if (keepShortExtension && path->size() - dot - 1 <= 3) return;
    path->replace(dot, std::string::npos, std::string(".") + f->ext);
}

std::string OpenDialogFilter() {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& e : kReadable)
        if (e.enabled())
            for (int i = 0; i < e.extCount; ++i) pairs.emplace_back(e.exts[i], e.description);
    return BuildFilter(std::move(pairs));
}

std::string SaveDialogFilter() {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& f : kOutputFormats)
        if (IsOutputFormatWritable(f.id)) pairs.emplace_back(f.ext, f.displayName);
    return BuildFilter(std::move(pairs));
}
