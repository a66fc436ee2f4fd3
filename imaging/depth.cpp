// IncreaseDepthDIB.
#include "imaging/depth.h"

#include <algorithm>
#include <cstring>

namespace {

// One index per pixel of a stored row.
void UnpackRow(const uint8_t* row, int bits, int32_t width, uint8_t* indexes) {
    switch (bits) {
    case 1:
        for (int32_t x = 0; x < width; ++x) indexes[x] = (row[x / 8] >> (7 - x % 8)) & 1;
        break;
    case 4:
        for (int32_t x = 0; x < width; ++x)
            indexes[x] = (x % 2 == 0) ? row[x / 2] >> 4 : row[x / 2] & 0x0F;
        break;
    default: std::memcpy(indexes, row, static_cast<size_t>(width)); break;
    }
}

void PackRow4(const uint8_t* indexes, int32_t width, uint8_t* out) {
    for (int32_t x = 0; x < width; ++x) {
        if (x % 2 == 0)
            out[x / 2] = static_cast<uint8_t>(indexes[x] << 4);
        else
            out[x / 2] = static_cast<uint8_t>(out[x / 2] | (indexes[x] & 0x0F));
    }
}

void ExpandRow24(const uint8_t* indexes, int32_t width, const RGBQUAD* palette, uint32_t entries,
                 uint8_t* out) {
    for (int32_t x = 0; x < width; ++x) {
        const RGBQUAD c = indexes[x] < entries ? palette[indexes[x]] : RGBQUAD{0, 0, 0, 0};
        out[3 * x] = c.rgbBlue;
        out[3 * x + 1] = c.rgbGreen;
        out[3 * x + 2] = c.rgbRed;
    }
}

}  // namespace

KervErrorCode IncreaseDepthDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                               uint16_t targetBits) {
    if (!result) return KERV_INVALID_PARAM;
    *result = nullptr;
    if (!source) return KERV_INVALID_PARAM;
    if (targetBits != 4 && targetBits != 8 && targetBits != 24) return KERV_INVALID_PARAM;

    ProgressReporter progress(status);
    DIBLock src(source);
    if (!src) return KERV_INVALID_PARAM;
    const int srcBits = src.bitCount();
    if (srcBits == 24 || targetBits <= srcBits) return KERV_INVALID_PARAM;

    const int32_t width = src.width(), height = src.height();
    const uint32_t entries = targetBits == 24 ? 0 : (1u << targetBits);
    KOwnedHandle dib(AllocDIB(width, height, targetBits, entries));
    if (!dib) return KERV_NO_MEMORY;
    KBuffer indexes;
    if (!indexes.allocate(static_cast<size_t>(width))) return KERV_NO_MEMORY;
    DIBLock dst(dib.get());
    if (!dst) return KERV_NO_MEMORY;

    // The source's header with the new depth, table size and image size.
    BITMAPINFOHEADER header = *src.header();
    header.biBitCount = targetBits;
    header.biClrUsed = entries;
    header.biClrImportant = entries;
    header.biSizeImage = dst->biSizeImage;
    *dst.header() = header;

    const uint32_t srcEntries = DIBPaletteEntries(src.header());
    const RGBQUAD* srcPalette = src.palette();
    if (entries) std::memcpy(dst.palette(), srcPalette, std::min(srcEntries, entries) * sizeof(RGBQUAD));

    progress.begin(height);
    for (int32_t r = 0; r < height; ++r) {
        if (progress.step(r)) return KERV_STOPPED;
        UnpackRow(src.row(r), srcBits, width, indexes.data());
        switch (targetBits) {
        case 4: PackRow4(indexes.data(), width, dst.row(r)); break;
        case 8: std::memcpy(dst.row(r), indexes.data(), static_cast<size_t>(width)); break;
        default: ExpandRow24(indexes.data(), width, srcPalette, srcEntries, dst.row(r)); break;
        }
    }
    progress.end();
    *result = dib.release();  // the locks only unlock; the block stays valid
    return KERV_OK;
}
