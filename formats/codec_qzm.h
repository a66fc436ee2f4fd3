// QZM, Brellix's layered container (the byte layout is in docs/formats.md).
//
// A QZM file holds a canvas description and a list of layers, bottom first,
// each with the fields the compositing needs: type, visibility, opacity,
// blend mode, rectangle, an optional mask with its own rectangle, default
// level and flags, and the blend ranges. Pixels are stored as PackBits rows,
// one deflate stream, or plain rows; a CRC-32 over the header and over each
// layer (record and data) makes a damaged or cut file fail cleanly.
//
// Reading (DecodeQZM) hands the layers to the layer conduit one at a time;
// writing a flat image (EncodeQZM) stores it as one layer.
#pragma once

#include "formats/codec.h"
#include "formats/layer_conduit.h"

#include <span>
#include <vector>

inline constexpr uint8_t kQzmMagic[8] = {0x89, 'Q', 'Z', 'M', '\r', '\n', 0x1A, '\n'};
inline constexpr uint16_t kQzmContainerVersion = 1;

// Compression codes, those of the format options.
inline constexpr int kQzmUncompressed = 1;
inline constexpr int kQzmPackBits = 7;
inline constexpr int kQzmDeflate = 8;

struct QzmDocument {
    int32_t width = 0, height = 0;
    int bitCount = 24;      // 1, 8 or 24
    uint8_t background = 0; // every canvas byte starts as this
    SGraphicAttributes attributes;
    RGBQUAD palette[256] = {};
    uint32_t paletteCount = 0; // below 24 bits: 1 .. 2^bitCount
    int compression = kQzmPackBits;
    int version = 4; // 3, 4 or 5: compatible with versions 5, 6 and 7
};

// Writes a layered file: the document, then the layers in order. The layers'
// handles stay the caller's. Every layer image has the document's depth
// (8-bit layers are read through the document's palette) and every mask is
// 8 bits; the rectangles' right and bottom are taken from the images' sizes.
// Progress: one unit a layer. Codes: 0; 101 a document or layer that does not
// fit these rules; 100; 208 a compression failure.
KervErrorCode EncodeQZMLayers(const QzmDocument& doc, std::span<const SLayerData> layers,
                              StatusControlBlock* status, std::vector<uint8_t>* out);
