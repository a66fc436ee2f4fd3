// Colour changes that leave every pixel where it is: the result is a copy of
// the source whose colours went through a mapping.
//
// Where a mapping applies:
//   24 bits               every pixel's blue, green and red bytes; progress
//                         counts rows
//   8-bit greyscale       for greyscale-aware mappings, every pixel value
//                         (palette kept); progress counts rows
//   other 1, 4 and 8 bits every palette entry; the pixels are untouched and
//                         each entry's reserved byte becomes 0; progress counts
//                         palette entries
// Everything else is copied byte for byte: the header, the colour table a
// 24-bit image may carry, row padding, bytes past the pixel array.
#pragma once

#include "core/dib.h"

#include <cstddef>
#include <cstdint>

// A function of the colour. Pixels travel as blue, green, red bytes.
class ColourMapping {
  public:
    virtual ~ColourMapping() = default;
    // Maps `count` pixels from `in` to `out` (which may be the same place).
    virtual void mapPixels(const uint8_t* in, uint8_t* out, size_t count) const = 0;
    // The table for the pixel values of a greyscale image; null when the
    // mapping treats a greyscale image like any other palette image.
    virtual const uint8_t* greyTable() const { return nullptr; }
};

// Three 256-entry tables, one per channel. A greyscale-aware mapping sends
// grey pixel values through the red table.
class TableMapping final : public ColourMapping {
  public:
    TableMapping(const uint8_t (&all)[256], bool greyAware);
    TableMapping(const uint8_t (&blue)[256], const uint8_t (&green)[256], const uint8_t (&red)[256],
                 bool greyAware);
    void mapPixels(const uint8_t* in, uint8_t* out, size_t count) const override;
    const uint8_t* greyTable() const override { return greyAware_ ? tables_[2] : nullptr; }

  private:
    uint8_t tables_[3][256]; // blue, green, red: the order of the bytes
    bool greyAware_;
};

// The whole operation for a mapping: *result receives the changed copy.
// The caller has cleared the slot and checked that a source is given.
// Codes: 0; 101 a block that is not a usable uncompressed DIB; 102; 100.
KervErrorCode MapColours(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                         const ColourMapping& mapping);

// The same for operations with work of their own around the mapping:
// progress goes on from unit `firstUnit` (total = firstUnit + the units of
// the mapping) and end() is left to the caller; `out` receives the copy.
KervErrorCode MapColoursInto(ProgressReporter& progress, int32_t firstUnit, KHANDLE source,
                             const ColourMapping& mapping, KOwnedHandle& out);
