// The copy-and-map frame of the colour operations.
//
// For the pixel cases the copy and the mapping are one pass: each row is
// read from the source and written, mapped, into a fresh block, which gives
// the same bytes as copying the block and mapping the copy in place while
// touching the result only once.
#include "imaging/lut.h"

#include "imaging/checks.h"

#include <cstring>


using namespace imaging_checks;

TableMapping::TableMapping(const uint8_t (&all)[256], bool greyAware) : greyAware_(greyAware) {
    for (auto& t : tables_)
        std::memcpy(t, all, 256);
}

TableMapping::TableMapping(const uint8_t (&blue)[256], const uint8_t (&green)[256],
                           const uint8_t (&red)[256], bool greyAware)
    : greyAware_(greyAware) {
    std::memcpy(tables_[0], blue, 256);
    std::memcpy(tables_[1], green, 256);
    std::memcpy(tables_[2], red, 256);
}

void TableMapping::mapPixels(const uint8_t* in, uint8_t* out, size_t count) const {
    // A pixel's three bytes are read before any is written, so in and out
    // may be the same place.
    const uint8_t* blue = tables_[0];
    const uint8_t* green = tables_[1];
    const uint8_t* red = tables_[2];
    for (size_t x = 0; x < count; ++x, in += 3, out += 3) {
        const uint8_t b = blue[in[0]], g = green[in[1]], r = red[in[2]];
        out[0] = b;
        out[1] = g;
        out[2] = r;
    }
}

namespace {

// Palette images: a copy of the block whose entries are mapped one by one.
KervErrorCode MapPalette(ProgressReporter& progress, int32_t firstUnit, KHANDLE source,
                         const ColourMapping& mapping, KOwnedHandle& out) {
    KHANDLE copy = nullptr;
    if (const KervErrorCode rc = CopyDIB(source, &copy)) return rc;
    KOwnedHandle owner(copy);
    {
        DIBLock dst(copy);
        if (!dst) return KERV_NO_MEMORY;
        const auto entries = static_cast<int32_t>(DIBPaletteEntries(dst.header()));
        RGBQUAD* palette = dst.palette();
        progress.begin(firstUnit + entries);
        for (int32_t i = 0; i < entries; ++i) {
            if (progress.step(firstUnit + i)) return KERV_STOPPED;
            RGBQUAD& e = palette[i];
            uint8_t bgr[3] = {e.rgbBlue, e.rgbGreen, e.rgbRed};
            mapping.mapPixels(bgr, bgr, 1);
            e = RGBQUAD{bgr[0], bgr[1], bgr[2], 0};
        }
    }
    out = std::move(owner);
    return KERV_OK;
}

// 24-bit and greyscale images: rows mapped from the source into a new block.
KervErrorCode MapRows(ProgressReporter& progress, int32_t firstUnit, const DIBLock& src,
                      size_t blockSize, const uint8_t* greyTable, const ColourMapping& mapping,
                      KOwnedHandle& out) {
    // Every byte is written below: no zero-fill.
    KOwnedHandle copy(KML_GlobalAlloc(KMEM_MOVEABLE, blockSize));
    if (!copy) return KERV_NO_MEMORY;
    KLock dst(copy.get());
    if (!dst) return KERV_NO_MEMORY;

    const auto* block = reinterpret_cast<const uint8_t*>(src.header());
    const size_t pixelsAt = size_t(src.bits() - block);
    const size_t stride = src.stride();
    const int32_t height = src.height();
    const auto width = size_t(src.width());
    const size_t used = greyTable ? width : 3 * width;
    const size_t pixelsEnd = pixelsAt + stride * size_t(height);
    std::memcpy(dst.get(), block, pixelsAt);
    std::memcpy(dst.get() + pixelsEnd, block + pixelsEnd, blockSize - pixelsEnd);

    progress.begin(firstUnit + height);
    for (int32_t r = 0; r < height; ++r) {
        if (progress.step(firstUnit + r)) return KERV_STOPPED;
        const uint8_t* in = src.row(r);
        uint8_t* o = dst.get() + pixelsAt + size_t(r) * stride;
        if (greyTable) {
            for (size_t x = 0; x < width; ++x)
                o[x] = greyTable[in[x]];
        } else {
            mapping.mapPixels(in, o, width);
        }
        std::memcpy(o + used, in + used, stride - used);
    }
    dst.unlock();
    out = std::move(copy);
    return KERV_OK;
}

} // namespace

KervErrorCode MapColoursInto(ProgressReporter& progress, int32_t firstUnit, KHANDLE source,
                             const ColourMapping& mapping, KOwnedHandle& out) {
    DIBLock src(source);
    if (!src || !Uncompressed(src)) return KERV_INVALID_PARAM;
    const uint8_t* greyTable = mapping.greyTable();
    if (src.bitCount() == 24)
        return MapRows(progress, firstUnit, src, KML_GlobalSize(source), nullptr, mapping, out);
    if (greyTable && IsDIBGreyScaled(source))
        return MapRows(progress, firstUnit, src, KML_GlobalSize(source), greyTable, mapping, out);
    return MapPalette(progress, firstUnit, source, mapping, out);
}

KervErrorCode MapColours(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                         const ColourMapping& mapping) {
    ProgressReporter progress(status);
    KOwnedHandle out;
    if (const KervErrorCode rc = MapColoursInto(progress, 0, source, mapping, out)) return rc;
    progress.end();
    *result = out.release();
    return KERV_OK;
}
