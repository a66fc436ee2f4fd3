// Pictures for the comparison scripts: a binary PPM named by an environment
// variable, so that Brellix and ImageMagick work on the same pixels, or the
// benchmarks' noise when none is named.
#pragma once

#include "bench/noise_image.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

// A binary PPM (P6, maxval 255) as a 24-bit DIB; null when unreadable.
inline KHANDLE ReadPPM(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return nullptr;
    int w = 0, h = 0, maxval = 0;
    KHANDLE out = nullptr;
    if (std::fscanf(f, "P6 %d %d %d", &w, &h, &maxval) == 3 && maxval == 255 &&
        std::fgetc(f) != EOF && w > 0 && h > 0 && w <= 65535 && h <= 65535 &&
        NewDIB(&out, uint16_t(w), uint16_t(h), 24, 0, 0, 0, 0, nullptr) == 0) {
        DIBLock d(out);
        std::vector<uint8_t> rgb(size_t(w) * 3);
        for (int y = 0; y < h; ++y) {
            if (std::fread(rgb.data(), 1, rgb.size(), f) != rgb.size()) break;
            uint8_t* row = DIBRowFromTop(d.header(), y);
            for (int x = 0; x < w; ++x) {
                row[3 * x] = rgb[3 * size_t(x) + 2];
                row[3 * x + 1] = rgb[3 * size_t(x) + 1];
                row[3 * x + 2] = rgb[3 * size_t(x)];
            }
        }
    }
    std::fclose(f);
    return out;
}

// The PPM named by `env`, or 24-bit noise of the given size.
inline KHANDLE PictureOrNoise(const char* env, int width, int height) {
    if (const char* path = std::getenv(env)) {
        if (KHANDLE h = ReadPPM(path)) return h;
        std::fprintf(stderr, "%s: cannot read %s as a binary PPM, using noise\n", env, path);
    }
    return NoiseDIB(width, height, 24);
}
