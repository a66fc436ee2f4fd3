#include "formats/codec_util.h"

namespace codec {

void ClampPaletteIndexes(BITMAPINFOHEADER* h) {
    const int bits = h->biBitCount;
    if (bits > 8) return;
    const uint32_t count = DIBPaletteEntries(h);
    if (count == 0 || count >= (1u << bits)) return;
    const uint32_t last = count - 1;
    const uint32_t stride = DIBStride(h);
    uint8_t* bits0 = DIBBits(h);
    for (int32_t r = 0; r < h->biHeight; ++r) {
        uint8_t* row = bits0 + size_t(r) * stride;
        for (int32_t x = 0; x < h->biWidth; ++x)
            if (PixelIndex(row, x, bits) > last) SetPixelIndex(row, x, bits, last);
    }
}

}  // namespace codec
