// The in-memory image: one packed device-independent bitmap per memory block.
//
//   +-------------------------+  offset 0
//   | BITMAPINFOHEADER (40)   |
//   +-------------------------+  40
//   | palette: biClrUsed x    |
//   |   {blue, green, red, 0} |
//   +-------------------------+  40 + palette size
//   | row 0 = BOTTOM row      |  each row padded to a multiple of 4 bytes
//   | row 1                   |
//   | ...                     |
//   +-------------------------+
//
// Depths are 1, 4, 8 and 24 bits. Operations take a status block (may be
// null), a source handle and a result slot; they set the slot to null first,
// never change the source, and free everything they allocated on failure.
// Codes: 0 success, 100 stopped, 101 invalid parameter, 102 out of memory.
#pragma once

#include "core/errors.h"
#include "core/kmem.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
struct RGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(RGBQUAD) == 4);

// COLORREF layout used by command slots: byte 0 red, 1 green, 2 blue.
using COLORREF = uint32_t;
constexpr COLORREF RGB(uint8_t r, uint8_t g, uint8_t b) {
    return uint32_t{r} | (uint32_t{g} << 8) | (uint32_t{b} << 16);
}
constexpr uint8_t GetRValue(COLORREF c) { return static_cast<uint8_t>(c); }
constexpr uint8_t GetGValue(COLORREF c) { return static_cast<uint8_t>(c >> 8); }
constexpr uint8_t GetBValue(COLORREF c) { return static_cast<uint8_t>(c >> 16); }

// ---- Layout helpers (pure arithmetic on a locked block) ----

// Bytes per row: ((bits * width + 31) / 32) * 4.
constexpr uint32_t DIBStride(uint32_t bitCount, uint32_t width) {
    return static_cast<uint32_t>(((uint64_t{bitCount} * width + 31) / 32) * 4);
}
// 4 * biClrUsed when set; else 4 * 2^bits for 8 bits or less; else 0.
inline uint32_t DIBPaletteBytes(const BITMAPINFOHEADER* h) {
    if (h->biClrUsed != 0) return 4 * h->biClrUsed;
    if (h->biBitCount <= 8) return 4u << h->biBitCount;
    return 0;
}
inline uint32_t DIBStride(const BITMAPINFOHEADER* h) {
    return DIBStride(h->biBitCount, static_cast<uint32_t>(h->biWidth));
}
inline RGBQUAD* DIBPalette(BITMAPINFOHEADER* h) {
    return reinterpret_cast<RGBQUAD*>(reinterpret_cast<uint8_t*>(h) + h->biSize);
}
inline const RGBQUAD* DIBPalette(const BITMAPINFOHEADER* h) {
    return reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const uint8_t*>(h) + h->biSize);
}
inline uint8_t* DIBBits(BITMAPINFOHEADER* h) {
    return reinterpret_cast<uint8_t*>(h) + h->biSize + DIBPaletteBytes(h);
}
inline const uint8_t* DIBBits(const BITMAPINFOHEADER* h) {
    return reinterpret_cast<const uint8_t*>(h) + h->biSize + DIBPaletteBytes(h);
}
// The row the user sees as row y from the top.
inline uint8_t* DIBRowFromTop(BITMAPINFOHEADER* h, int32_t y) {
    return DIBBits(h) + size_t(h->biHeight - 1 - y) * DIBStride(h);
}
inline const uint8_t* DIBRowFromTop(const BITMAPINFOHEADER* h, int32_t y) {
    return DIBBits(h) + size_t(h->biHeight - 1 - y) * DIBStride(h);
}
inline uint32_t DIBPaletteEntries(const BITMAPINFOHEADER* h) { return DIBPaletteBytes(h) / 4; }
// Total block size a header describes (header + palette + pixels), 64-bit.
inline uint64_t DIBTotalBytes(const BITMAPINFOHEADER* h) {
    return uint64_t{h->biSize} + DIBPaletteBytes(h) +
           uint64_t{DIBStride(h)} * static_cast<uint32_t>(h->biHeight);
}
constexpr bool IsValidDIBDepth(uint32_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 24;
}

// Checks that a locked block holds a DIB this code can work on: 40-byte
// header, size >= 1 x 1, a supported depth and a block large enough.
bool IsUsableDIB(const BITMAPINFOHEADER* h, size_t blockSize);

// A DIB block locked for the duration of a scope, with the block size checked.
class DIBLock {
  public:
    explicit DIBLock(KHANDLE h, KSrcLoc loc = KSrcLoc::current());
    explicit operator bool() const { return hdr_ != nullptr; }
    BITMAPINFOHEADER* header() const { return hdr_; }
    BITMAPINFOHEADER* operator->() const { return hdr_; }
    RGBQUAD* palette() const { return DIBPalette(hdr_); }
    uint8_t* bits() const { return DIBBits(hdr_); }
    uint32_t stride() const { return DIBStride(hdr_); }
    int32_t width() const { return hdr_->biWidth; }
    int32_t height() const { return hdr_->biHeight; }
    int bitCount() const { return hdr_->biBitCount; }
    // Row counted from the bottom of the pixel array (as stored).
    uint8_t* row(int32_t r) const { return bits() + size_t(r) * stride(); }

  private:
    KLock lock_;
    BITMAPINFOHEADER* hdr_ = nullptr;
};

// Whether a new DIB's pixel bytes start as zero, or are left as they come
// (for a caller that writes every byte of every row, padding included).
enum class DIBPixels { Zero, Unset };

// Allocates a DIB block for the given header fields; the header is written
// (biSizeImage filled), the palette and pixels are zero. For operations
// building their output. Returns null on failure (size overflow or memory).
KHANDLE AllocDIB(int32_t width, int32_t height, int bitCount, uint32_t clrUsed,
                 KSrcLoc loc = KSrcLoc::current());
KHANDLE AllocDIB(int32_t width, int32_t height, int bitCount, uint32_t clrUsed, DIBPixels pixels,
                 KSrcLoc loc = KSrcLoc::current());

// ---- Base operations ----

KervErrorCode NewDIB(KHANDLE* result, uint16_t width, uint16_t height, uint8_t bitCount,
                     uint8_t grey, uint32_t red, uint32_t green, uint32_t blue,
                     const RGBQUAD* palette);
KervErrorCode CopyDIB(KHANDLE source, KHANDLE* result);
KervErrorCode CropDIB(KHANDLE source, KHANDLE* result, int32_t left, int32_t top, uint32_t width,
                      uint32_t height);
KervErrorCode CropDIBRect(KHANDLE source, KHANDLE* result, int32_t left, int32_t top,
                          int32_t right, int32_t bottom);
KervErrorCode Pad4Mac(KHANDLE source, KHANDLE* result);
KervErrorCode GetDIBStats(KHANDLE h, uint16_t* width, uint16_t* height, uint16_t* bitCount,
                          uint32_t* greyscale);
// Nearest palette index; -1 for a 24-bit DIB, 101 for a null handle. With
// snap the colour is replaced by the chosen entry's.
int16_t LocateColorInPal(KHANDLE h, uint8_t* red, uint8_t* green, uint8_t* blue, bool snap);

// True when the DIB is 8 bits with 256 entries and entry i = (i, i, i).
bool IsDIBGreyScaled(KHANDLE h);
bool IsPaletteKervGreyScale(const BITMAPINFOHEADER* h);
// An 8-bit DIB whose palette holds only greys in some other order is
// rewritten in place to the canonical grey palette (pixels remapped). Other
// DIBs are left alone. 0, or 101/102.
KervErrorCode GreyScaleToKervGreyScale(KHANDLE h);

// ---- Nearest colour ----

struct ColorMatchCache;

// Squared RGB distance, lowest index on ties, early stop at 0. entries point
// at records whose first three bytes are blue, green, red.
uint16_t FindNearestPaletteIndex(uint8_t red, uint8_t green, uint8_t blue, const void* entries,
                                 uint32_t count, uint32_t entrySize, ColorMatchCache* cache);

ColorMatchCache* CreateColorMatchCache(uint32_t entryCount);
KervErrorCode LockColorMatchCache(ColorMatchCache* cache);
void UnlockColorMatchCache(ColorMatchCache* cache);
void FreeColorMatchCache(ColorMatchCache* cache);

// Frees a cache (and unlocks it when locked) at scope end.
class ColorMatchCacheOwner {
  public:
    ColorMatchCacheOwner() = default;
    ~ColorMatchCacheOwner() { reset(); }
    ColorMatchCacheOwner(const ColorMatchCacheOwner&) = delete;
    ColorMatchCacheOwner& operator=(const ColorMatchCacheOwner&) = delete;
    // Creates and locks; false (everything freed) on failure.
    bool create(uint32_t entryCount);
    ColorMatchCache* get() const { return cache_; }
    void reset();

  private:
    ColorMatchCache* cache_ = nullptr;
    bool locked_ = false;
};

// ---- Mask and blend tables ----

KervErrorCode ApplyMaskToDIB(KHANDLE image, KHANDLE mask);

struct BlendTables {
    const uint8_t* multiply = nullptr;  // 65026 entries: n -> (n + 128) / 255
    const uint8_t* noise = nullptr;     // 128 x 128, rand() % 254 seeded with 1
    const uint8_t* sqrtTable = nullptr; // 256: floor(sqrt(i / 255) * 255)
    const uint32_t* division = nullptr; // 256 x 256 16.16 quotients
};
KervErrorCode InitBlendTables();
void FreeBlendTables();
// The tables; members are null before InitBlendTables.
const BlendTables& GetBlendTables();
