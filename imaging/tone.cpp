// Tonal operations.
//
// Equalize and stretch make two passes: a histogram of the values (pixel
// values of a greyscale image, luminances of a 24-bit one), then one table
// from it, applied through the copy-and-map frame of imaging/lut.cpp. At 24
// bits the table moves the luminance and the chroma is kept.
#include "imaging/tone.h"

#include "imaging/checks.h"
#include "imaging/colour_lanes.h"
#include "imaging/depth.h"
#include "imaging/lut.h"

#include <algorithm>
#include <cstring>

namespace {

// ---- Checks: one line per rule ----

using namespace imaging_checks;

bool PosterizeBits(int n) {
    return n >= 1 && n <= 8;
}
bool TrueColourOrGrey(const DIBLock& d, KHANDLE h) {
    return d.bitCount() == 24 || IsDIBGreyScaled(h);
}

using Table = uint8_t[256];

// ---- Greyscale ----

uint8_t Grey(uint32_t blue, uint32_t green, uint32_t red) {
    return static_cast<uint8_t>((11 * blue + 59 * green + 30 * red) / 100);
}

// Every palette entry becomes its grey.
class GreyEntries final : public ColourMapping {
  public:
    void mapPixels(const uint8_t* in, uint8_t* out, size_t count) const override {
        for (size_t x = 0; x < count; ++x, in += 3, out += 3)
            out[0] = out[1] = out[2] = Grey(in[0], in[1], in[2]);
    }
};

// 24 bits to a new 8-bit image with the grey ramp palette.
KervErrorCode GreyFromTrueColour(ProgressReporter& progress, KHANDLE source, KOwnedHandle& out) {
    DIBLock src(source);
    if (!src) return KERV_INVALID_PARAM;
    const int32_t width = src.width(), height = src.height();
    KOwnedHandle grey(AllocDIB(width, height, 8, 256));
    if (!grey) return KERV_NO_MEMORY;
    DIBLock dst(grey.get());
    if (!dst) return KERV_NO_MEMORY;

    BITMAPINFOHEADER header = *src.header();
    header.biBitCount = 8;
    header.biClrUsed = 256;
    header.biClrImportant = 256;
    header.biSizeImage = dst->biSizeImage;
    *dst.header() = header;
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(i);
        dst.palette()[i] = RGBQUAD{v, v, v, 0};
    }

    progress.begin(height);
    for (int32_t r = 0; r < height; ++r) {
        if (progress.step(r)) return KERV_STOPPED;
        const uint8_t* in = src.row(r);
        uint8_t* o = dst.row(r);
        for (int32_t x = 0; x < width; ++x, in += 3)
            o[x] = Grey(in[0], in[1], in[2]);
    }
    out = std::move(grey);
    return KERV_OK;
}

// ---- Equalize and stretch ----

// A new luminance for each luminance; the chroma stays.
class LuminanceMapping final : public ColourMapping {
  public:
    explicit LuminanceMapping(const Table& t) { std::memcpy(table_, t, 256); }
    void mapPixels(const uint8_t* in, uint8_t* out, size_t count) const override {
        colour_lanes::RelightRow(table_, in, out, count);
    }
    const uint8_t* greyTable() const override { return table_; }

  private:
    Table table_;
};

using Histogram = uint64_t[256];

// The counts of the pixel values, or of the luminances at 24 bits, one
// progress unit a row.
bool CountValues(ProgressReporter& progress, const DIBLock& src, Histogram& counts) {
    const int32_t height = src.height();
    const auto width = size_t(src.width());
    for (int32_t r = 0; r < height; ++r) {
        if (progress.step(r)) return false;
        const uint8_t* in = src.row(r);
        if (src.bitCount() == 24) {
            for (size_t x = 0; x < width; ++x, in += 3)
                ++counts[(306 * in[2] + 601 * in[1] + 117 * in[0]) >> 10];
        } else {
            for (size_t x = 0; x < width; ++x)
                ++counts[in[x]];
        }
    }
    return true;
}

void EqualizeTable(const Histogram& counts, Table& t) {
    uint64_t total = 0;
    for (uint64_t c : counts)
        total += c;
    total = std::max<uint64_t>(total, 1);
    uint64_t below = 0;
    for (int v = 0; v < 256; ++v) {
        below += counts[v];
        t[v] = static_cast<uint8_t>(below * 255 / total);
    }
}

void StretchTable(const Histogram& counts, Table& t) {
    int min = 0, max = 255;
    while (min < 255 && counts[min] == 0)
        ++min;
    while (max > 0 && counts[max] == 0)
        --max;
    const double k = max > min ? 255.0 / (max - min) : 1.0;
    for (int i = 0; i < 256; ++i) {
        const double v = (i - min) * k;
        t[i] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
    }
}

enum class Levels { Equalize, Stretch };

KervErrorCode SpreadLevels(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                           Levels how) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src)) return KERV_INVALID_PARAM;
    if (!TrueColourOrGrey(src, source)) return KERR_NEEDS_8_OR_24;

    ProgressReporter progress(status);
    const int32_t height = src.height();
    progress.begin(2 * height);
    Histogram counts = {};
    if (!CountValues(progress, src, counts)) return KERV_STOPPED;
    Table t;
    if (how == Levels::Equalize)
        EqualizeTable(counts, t);
    else
        StretchTable(counts, t);

    KOwnedHandle out;
    if (const KervErrorCode rc = MapColoursInto(progress, height, source, LuminanceMapping(t), out))
        return rc;
    progress.end();
    *result = out.release();
    return KERV_OK;
}

// ---- Posterize ----

// The kept bits repeated down the byte while the shift stays below 8.
void PosterizeTable(int n, Table& t) {
    const auto mask = static_cast<uint8_t>(0xFF << (8 - n));
    for (int i = 0; i < 256; ++i) {
        const int v = i & mask;
        int sum = 0;
        for (int shift = 0; shift < 8; shift += n)
            sum += v >> shift;
        t[i] = static_cast<uint8_t>(sum);
    }
}

} // namespace

KervErrorCode GreyscaleDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    int bits = 0;
    {
        DIBLock src(source);
        if (!src || !Uncompressed(src)) return KERV_INVALID_PARAM;
        bits = src.bitCount();
    }
    KOwnedHandle raised;
    if (bits < 8) {
        KHANDLE h = nullptr;
        if (const KervErrorCode rc = IncreaseDepthDIB(status, source, &h, 8)) return rc;
        raised.reset(h);
        source = h;
    }

    ProgressReporter progress(status);
    KOwnedHandle out;
    const KervErrorCode rc = bits == 24 ? GreyFromTrueColour(progress, source, out)
                                        : MapColoursInto(progress, 0, source, GreyEntries(), out);
    if (rc) return rc;
    if (const KervErrorCode canon = GreyScaleToKervGreyScale(out.get())) return canon;
    progress.end();
    *result = out.release();
    return KERV_OK;
}

KervErrorCode EqualizeDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                          const void* /*reserved*/) {
    return SpreadLevels(status, source, result, Levels::Equalize);
}

KervErrorCode StretchDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                         const void* /*reserved*/) {
    return SpreadLevels(status, source, result, Levels::Stretch);
}

KervErrorCode PosterizeDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                           int16_t bitsPerChannel) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!PosterizeBits(bitsPerChannel)) return KERV_INVALID_PARAM;
    Table t;
    PosterizeTable(bitsPerChannel, t);
    return MapColours(status, source, result, TableMapping(t, true));
}
