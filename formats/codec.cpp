#include "formats/codec.h"

KervErrorCode CheckDecodeDimensions(uint64_t width, uint64_t height, int bitCount) {
    if (width == 0 || height == 0) return KERV_CORRUPT_FILE;
    if (width > KERV_MAX_DIMENSION || height > KERV_MAX_DIMENSION) return KERV_IMAGE_TOO_LARGE;
    const uint64_t stride = ((uint64_t(bitCount) * width + 31) / 32) * 4;
    const uint64_t bytes = 40 + 1024 + stride * height;
    if (bytes > KML_MaxBlockSize()) return KERV_IMAGE_TOO_LARGE;
    return KERV_OK;
}
