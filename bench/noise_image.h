// The test picture of the image-operation benchmarks: deterministic noise,
// so every byte of the pixel array varies and no fast path for flat areas
// flatters a figure.
#pragma once

#include "core/dib.h"

#include <cstddef>
#include <cstdint>

// A DIB of the given size and depth (NewDIB's palette, or the grey ramp);
// null when it cannot be made.
inline KHANDLE NoiseDIB(int width, int height, int bits, bool grey = false) {
    KHANDLE h = nullptr;
    if (NewDIB(&h, uint16_t(width), uint16_t(height), uint8_t(bits), grey, 0, 0, 0, nullptr) != 0)
        return nullptr;
    DIBLock d(h);
    uint32_t state = 12345;
    uint8_t* p = d.bits();
    for (size_t i = 0; i < d->biSizeImage; ++i) {
        state = state * 214013u + 2531011u;
        p[i] = static_cast<uint8_t>(state >> 16);
    }
    return h;
}
