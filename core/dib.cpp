#include "core/dib.h"

#include <algorithm>
#include <cstring>

namespace {

// The 16 standard colours, red, green, blue.
constexpr uint8_t kStandard16[16][3] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
    {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
    {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

void FillDefaultPalette(RGBQUAD* pal, int bitCount, bool grey) {
    switch (bitCount) {
    case 1:
        pal[0] = {0, 0, 0, 0};
        pal[1] = {255, 255, 255, 255};
        break;
    case 4:
        for (int i = 0; i < 16; ++i)
            pal[i] = {kStandard16[i][2], kStandard16[i][1], kStandard16[i][0], 0};
        break;
    case 8:
        if (grey) {
            for (int i = 0; i < 256; ++i) {
                const auto v = static_cast<uint8_t>(i);
                pal[i] = {v, v, v, 0};
            }
        } else {
            // 6 x 6 x 6 cube: green outermost, red in the middle, blue innermost.
            for (int g = 0; g < 6; ++g)
                for (int r = 0; r < 6; ++r)
                    for (int b = 0; b < 6; ++b)
                        pal[36 * g + 6 * r + b] = {static_cast<uint8_t>(51 * b),
                                                   static_cast<uint8_t>(51 * g),
                                                   static_cast<uint8_t>(51 * r), 0};
        }
        break;
    default: break;
    }
}

}  // namespace

bool IsUsableDIB(const BITMAPINFOHEADER* h, size_t blockSize) {
    if (!h || blockSize < sizeof(BITMAPINFOHEADER)) return false;
    if (h->biSize != 40 || h->biWidth < 1 || h->biHeight < 1) return false;
    if (!IsValidDIBDepth(h->biBitCount)) return false;
    if (h->biBitCount <= 8 && h->biClrUsed > (1u << h->biBitCount)) return false;
    if (h->biBitCount == 24 && h->biClrUsed > 256) return false;
    return DIBTotalBytes(h) <= blockSize;
}

DIBLock::DIBLock(KHANDLE h, KSrcLoc loc) : lock_(h, loc) {
    if (!lock_) return;
    auto* hdr = lock_.as<BITMAPINFOHEADER>();
    if (IsUsableDIB(hdr, KML_GlobalSize(h)))
        hdr_ = hdr;
    else
        lock_.unlock();
}

KHANDLE AllocDIB(int32_t width, int32_t height, int bitCount, uint32_t clrUsed, KSrcLoc loc) {
    return AllocDIB(width, height, bitCount, clrUsed, DIBPixels::Zero, loc);
}

KHANDLE AllocDIB(int32_t width, int32_t height, int bitCount, uint32_t clrUsed, DIBPixels pixels,
                 KSrcLoc loc) {
    if (width < 1 || height < 1 || !IsValidDIBDepth(static_cast<uint32_t>(bitCount))) return nullptr;
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<uint16_t>(bitCount);
    h.biClrUsed = clrUsed;
    h.biClrImportant = clrUsed;
    const uint64_t image = uint64_t{DIBStride(&h)} * static_cast<uint32_t>(height);
    const uint64_t total = DIBTotalBytes(&h);
    if (image > UINT32_MAX || total > SIZE_MAX) return nullptr;
    h.biSizeImage = static_cast<uint32_t>(image);
    const bool zero = pixels == DIBPixels::Zero;
    KOwnedHandle block(KML_GlobalAlloc(zero ? KMEM_GHND : KMEM_MOVEABLE, static_cast<size_t>(total), loc));
    if (!block) return nullptr;
    KLock l(block.get(), loc);
    if (!l) return nullptr;
    // Unset pixels still get a zero palette: only the pixels are the caller's.
    if (!zero) std::memset(l.get(), 0, static_cast<size_t>(total - image));
    std::memcpy(l.get(), &h, sizeof h);
    l.unlock();
    return block.release();
}

KervErrorCode NewDIB(KHANDLE* result, uint16_t width, uint16_t height, uint8_t bitCount,
                     uint8_t grey, uint32_t red, uint32_t green, uint32_t blue,
                     const RGBQUAD* palette) {
    if (!result) return KERV_INVALID_PARAM;
    *result = nullptr;
    if (width == 0 || height == 0) return KERV_INVALID_PARAM;
    if (grey && bitCount != 8) return KERV_INVALID_PARAM;
    if (!IsValidDIBDepth(bitCount)) return KERV_INVALID_PARAM;

    const uint32_t entries = bitCount == 24 ? 0 : (1u << bitCount);
    KOwnedHandle dib(AllocDIB(width, height, bitCount, entries));
    if (!dib) return KERV_NO_MEMORY;
    KBuffer scratch;
    const uint32_t stride = DIBStride(bitCount, width);
    if (!scratch.allocate(stride)) return KERV_NO_MEMORY;

    DIBLock d(dib.get());
    if (!d) return KERV_NO_MEMORY;
    if (entries) {
        if (palette && !grey)
            std::memcpy(d.palette(), palette, entries * sizeof(RGBQUAD));
        else
            FillDefaultPalette(d.palette(), bitCount, grey != 0);
    }

    // Background: every pixel becomes the requested colour (index 0 and black
    // need no writing: the block is zero-filled).
    uint8_t* row = scratch.data();
    bool fill = false;
    if (bitCount == 24) {
        if (red + green + blue != 0) {
            for (uint32_t x = 0; x < width; ++x) {
                row[3 * x] = static_cast<uint8_t>(blue);
                row[3 * x + 1] = static_cast<uint8_t>(green);
                row[3 * x + 2] = static_cast<uint8_t>(red);
            }
            fill = true;
        }
    } else {
        auto r = static_cast<uint8_t>(red), g = static_cast<uint8_t>(green),
             b = static_cast<uint8_t>(blue);
        const int16_t index = LocateColorInPal(dib.get(), &r, &g, &b, false);
        if (index > 0) {
            const uint8_t v = bitCount == 1   ? uint8_t{0xFF}
                              : bitCount == 4 ? static_cast<uint8_t>(index * 16 + index)
                                              : static_cast<uint8_t>(index);
            std::memset(row, v, stride);
            fill = true;
        }
    }
    if (fill)
        for (int32_t y = 0; y < d.height(); ++y) std::memcpy(d.row(y), row, stride);
    *result = dib.release();
    return KERV_OK;
}

KervErrorCode CopyDIB(KHANDLE source, KHANDLE* result) {
    if (!result) return KERV_INVALID_PARAM;
    *result = nullptr;
    if (!source) return KERV_INVALID_PARAM;
    const size_t size = KML_GlobalSize(source);
    if (size == 0) return KERV_INVALID_PARAM;
    KLock src(source);
    if (!src) return KERV_INVALID_PARAM;
    KOwnedHandle copy(KML_GlobalAlloc(KMEM_MOVEABLE, size));
    if (!copy) return KERV_NO_MEMORY;
    KLock dst(copy.get());
    if (!dst) return KERV_NO_MEMORY;
    std::memcpy(dst.get(), src.get(), size);
    dst.unlock();
    *result = copy.release();
    return KERV_OK;
}

namespace {

void CropRow(const uint8_t* src, uint8_t* dst, int bitCount, uint32_t left, uint32_t width) {
    switch (bitCount) {
    case 24: std::memcpy(dst, src + 3 * size_t{left}, 3 * size_t{width}); break;
    case 8: std::memcpy(dst, src + left, width); break;
    case 4:
        if (left % 2 == 0) {
            std::memcpy(dst, src + left / 2, (width + 1) / 2);
        } else {
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t sx = left + x;
                const uint8_t v = (sx % 2 == 0) ? src[sx / 2] >> 4 : src[sx / 2] & 15;
                if (x % 2 == 0)
                    dst[x / 2] = static_cast<uint8_t>(v << 4);
                else
                    dst[x / 2] = static_cast<uint8_t>(dst[x / 2] | v);
            }
        }
        break;
    case 1: {
        const uint32_t shift = left % 8;
        const uint8_t* s = src + left / 8;
        const uint32_t bytes = (width + 7) / 8;
        for (uint32_t i = 0; i < bytes; ++i) {
            uint32_t v = uint32_t{s[i]} << shift;
            // The next byte exists whenever bits from it are needed.
            if (shift && (i * 8 + (8 - shift)) < width) v |= s[i + 1] >> (8 - shift);
            dst[i] = static_cast<uint8_t>(v);
        }
        break;
    }
    default: break;
    }
}

}  // namespace

KervErrorCode CropDIB(KHANDLE source, KHANDLE* result, int32_t left, int32_t top, uint32_t width,
                      uint32_t height) {
    if (!result) return KERV_INVALID_PARAM;
    *result = nullptr;
    if (!source || width == 0 || height == 0) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src) return KERV_INVALID_PARAM;
    // Callers keep the rectangle inside the image; a rectangle outside it is
    // refused rather than read out of bounds.
    if (left < 0 || top < 0 || uint64_t(left) + width > uint64_t(src.width()) ||
        uint64_t(top) + height > uint64_t(src.height()))
        return KERV_INVALID_PARAM;

    KOwnedHandle out(AllocDIB(static_cast<int32_t>(width), static_cast<int32_t>(height),
                              src.bitCount(), src->biClrUsed));
    if (!out) return KERV_NO_MEMORY;
    DIBLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;
    const uint32_t sizeImage = dst->biSizeImage;
    std::memcpy(dst.header(), src.header(), sizeof(BITMAPINFOHEADER));
    dst->biWidth = static_cast<int32_t>(width);
    dst->biHeight = static_cast<int32_t>(height);
    dst->biSizeImage = sizeImage;
    std::memcpy(dst.palette(), src.palette(), DIBPaletteBytes(src.header()));
    for (uint32_t y = 0; y < height; ++y)
        CropRow(DIBRowFromTop(src.header(), top + static_cast<int32_t>(y)),
                DIBRowFromTop(dst.header(), static_cast<int32_t>(y)), src.bitCount(),
                static_cast<uint32_t>(left), width);
    dst = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}

KervErrorCode CropDIBRect(KHANDLE source, KHANDLE* result, int32_t left, int32_t top,
                          int32_t right, int32_t bottom) {
    if (!result) return KERV_INVALID_PARAM;
    *result = nullptr;
    if (right <= left || bottom <= top) return KERV_INVALID_PARAM;
    // 64-bit: the difference of two extreme coordinates overflows 32 bits.
    const int64_t width = int64_t{right} - left, height = int64_t{bottom} - top;
    if (width > UINT32_MAX || height > UINT32_MAX) return KERV_INVALID_PARAM;
    return CropDIB(source, result, left, top, static_cast<uint32_t>(width),
                   static_cast<uint32_t>(height));
}

KervErrorCode Pad4Mac(KHANDLE source, KHANDLE* result) {
    if (!result) return KERV_INVALID_PARAM;
    *result = nullptr;
    if (!source) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || src.bitCount() != 1 || src.width() > 576 || src.height() > 720)
        return KERV_INVALID_PARAM;
    constexpr uint32_t kStride = 72, kRows = 720, kImage = kStride * kRows;
    KOwnedHandle out(KML_GlobalAlloc(KMEM_GHND, 40 + 8 + kImage));
    if (!out) return KERV_NO_MEMORY;
    KLock l(out.get());
    if (!l) return KERV_NO_MEMORY;
    auto* h = l.as<BITMAPINFOHEADER>();
    std::memcpy(h, src.header(), sizeof *h);
    h->biWidth = 576;
    h->biHeight = 720;
    h->biSizeImage = kImage;
    h->biClrUsed = 2;
    h->biClrImportant = std::min<uint32_t>(h->biClrImportant, 2);
    std::memcpy(DIBPalette(h), src.palette(), 8);
    uint8_t* bits = l.get() + 48;
    std::memset(bits, 0xFF, kImage);
    const uint32_t used = (static_cast<uint32_t>(src.width()) + 7) / 8;
    const uint32_t spare = used * 8 - static_cast<uint32_t>(src.width());
    for (int32_t y = 0; y < src.height(); ++y) {
        uint8_t* dst = bits + size_t(kRows - 1 - static_cast<uint32_t>(y)) * kStride;
        std::memcpy(dst, DIBRowFromTop(src.header(), y), std::min(src.stride(), kStride));
        std::memset(dst + used, 0xFF, kStride - used);
        if (spare) dst[used - 1] = static_cast<uint8_t>(dst[used - 1] | ((1u << spare) - 1));
    }
    l.unlock();
    *result = out.release();
    return KERV_OK;
}

KervErrorCode GetDIBStats(KHANDLE h, uint16_t* width, uint16_t* height, uint16_t* bitCount,
                          uint32_t* greyscale) {
    if (!h) return KERV_INVALID_PARAM;
    DIBLock d(h);
    if (!d) return KERV_INVALID_PARAM;
    if (width) *width = static_cast<uint16_t>(d.width());
    if (height) *height = static_cast<uint16_t>(d.height());
    if (bitCount) *bitCount = static_cast<uint16_t>(d.bitCount());
    if (greyscale) *greyscale = IsPaletteKervGreyScale(d.header()) ? 1 : 0;
    return KERV_OK;
}

int16_t LocateColorInPal(KHANDLE h, uint8_t* red, uint8_t* green, uint8_t* blue, bool snap) {
    if (!h || !red || !green || !blue) return KERV_INVALID_PARAM;
    DIBLock d(h);
    if (!d) return KERV_INVALID_PARAM;
    if (d.bitCount() == 24) return -1;
    const RGBQUAD* pal = d.palette();
    const uint16_t index = FindNearestPaletteIndex(*red, *green, *blue, pal,
                                                   DIBPaletteEntries(d.header()), 4, nullptr);
    if (snap) {
        *red = pal[index].rgbRed;
        *green = pal[index].rgbGreen;
        *blue = pal[index].rgbBlue;
    }
    return static_cast<int16_t>(index);
}

bool IsPaletteKervGreyScale(const BITMAPINFOHEADER* h) {
    if (!h || h->biBitCount != 8 || DIBPaletteEntries(h) != 256) return false;
    const RGBQUAD* pal = DIBPalette(h);
    for (int i = 0; i < 256; ++i)
        if (pal[i].rgbRed != i || pal[i].rgbGreen != i || pal[i].rgbBlue != i) return false;
    return true;
}

bool IsDIBGreyScaled(KHANDLE h) {
    DIBLock d(h);
    return d && IsPaletteKervGreyScale(d.header());
}

KervErrorCode GreyScaleToKervGreyScale(KHANDLE h) {
    if (!h) return KERV_INVALID_PARAM;
    uint8_t map[256] = {};
    uint32_t entries = 0;
    {
        DIBLock d(h);
        if (!d) return KERV_INVALID_PARAM;
        if (d.bitCount() != 8 || IsPaletteKervGreyScale(d.header())) return KERV_OK;
        entries = DIBPaletteEntries(d.header());
        const RGBQUAD* pal = d.palette();
        for (uint32_t i = 0; i < entries; ++i) {
            if (pal[i].rgbRed != pal[i].rgbGreen || pal[i].rgbGreen != pal[i].rgbBlue)
                return KERV_OK;  // not a grey palette: nothing to do
            map[i] = pal[i].rgbRed;
        }
    }
    // The canonical palette has 256 entries; a shorter palette grows the block.
    const size_t oldSize = KML_GlobalSize(h);
    const size_t grow = size_t{256 - entries} * 4;
    if (grow && !KML_GlobalReAlloc(h, oldSize + grow, KMEM_MOVEABLE)) return KERV_NO_MEMORY;
    KLock l(h);
    if (!l) return KERV_NO_MEMORY;
    auto* hdr = l.as<BITMAPINFOHEADER>();
    uint8_t* oldBits = l.get() + 40 + size_t{entries} * 4;
    const size_t image = size_t{DIBStride(hdr)} * static_cast<uint32_t>(hdr->biHeight);
    if (grow) std::memmove(oldBits + grow, oldBits, image);
    hdr->biClrUsed = 256;
    hdr->biClrImportant = 256;
    RGBQUAD* pal = DIBPalette(hdr);
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(i);
        pal[i] = {v, v, v, 0};
    }
    uint8_t* bits = DIBBits(hdr);
    // Pixels beyond the old palette keep index 0's grey.
    std::fill(map + std::min<uint32_t>(entries, 256), map + 256, map[0]);
    for (size_t i = 0; i < image; ++i) bits[i] = map[bits[i]];
    return KERV_OK;
}

KervErrorCode ApplyMaskToDIB(KHANDLE image, KHANDLE mask) {
    if (!image || !mask) return KERV_INVALID_PARAM;
    DIBLock img(image);
    DIBLock msk(mask);
    if (!img || !msk) return KERV_INVALID_PARAM;
    const bool eight = img.bitCount() == 8 && DIBPaletteEntries(img.header()) == 256;
    if (!eight && img.bitCount() != 24) return KERV_OK;
    if (msk.bitCount() != 8 || DIBPaletteEntries(msk.header()) != 256 ||
        msk.width() < img.width() || msk.height() < img.height())
        return KERV_INVALID_PARAM;
    const int bytes = eight ? img.width() : 3 * img.width();
    const int perPixel = eight ? 1 : 3;
    for (int32_t y = 0; y < img.height(); ++y) {
        uint8_t* p = DIBRowFromTop(img.header(), y);
        const uint8_t* m = DIBRowFromTop(msk.header(), y);
        for (int i = 0; i < bytes; ++i) {
            const uint32_t level = m[i / perPixel];
            if (level == 255) continue;
            // (p * m + 255 * (255 - m)) / 255, rounded: the multiply table's entry.
            p[i] = static_cast<uint8_t>((p[i] * level + 255 * (255 - level) + 128) / 255);
        }
    }
    return KERV_OK;
}
