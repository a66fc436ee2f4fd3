// The codec layer: one decoder and one encoder per file format, working on
// whole files in memory.
//
// Decoders get the file's bytes and hand back a new DIB (1, 4, 8 or 24 bits,
// biClrUsed set for palette images) plus what travels with the file. They
// treat the bytes as hostile: every size is checked before it is used, the
// dimensions are capped (CheckDecodeDimensions) before anything is
// allocated, and a short or damaged file gives KERV_CORRUPT_FILE, a valid
// but unhandled variant KERV_UNSUPPORTED_VARIANT. They never throw.
//
// Encoders append the complete file to `out`; the caller writes it to disk.
// On failure `out` may hold partial bytes, which the caller discards.
#pragma once

#include "core/dib.h"
#include "core/errors.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Resolution and its unit, as a decoder found it or an encoder should write it.
struct SGraphicAttributes {
    double resolution = 0.0;     // per unit, 0 when unknown
    int32_t resolutionUnit = 0;  // 0 none, 1 per inch, 2 per centimetre
};

// Per-format options, fed from the "Decoding"/"Encoding" settings and the
// output options. Fields keep the names of their settings values.
struct FormatOptions {
    int32_t format = 0;  // library format value
    int32_t variant = 0;
    int32_t compression = 0;
    int32_t compressionMath = 0;
    int16_t compressionFactor = 0;
    int32_t planes = 0;  // 1 RGB, 2 CMYK, 3 CMY
    uint8_t monochrome = 0;
    uint8_t preview = 0;
    uint8_t interlace = 0;
    uint8_t invertLines = 0;
    uint8_t colorOrder = 0;
    uint8_t interleaving = 0;
    uint8_t header = 0;
    int32_t headerLength = 0;
    uint8_t depth = 0;
    uint8_t prompt = 0;
    int32_t reqWidth = 0;
    int32_t reqHeight = 0;
    int32_t loadSize = 0;
    uint8_t optimizeSize = 0;
    float pageSizeX1 = 0, pageSizeX2 = 0, pageSizeY1 = 0, pageSizeY2 = 0;
    int32_t resolution = 0;
    int32_t antialias = 0;
    int32_t returnAlpha = 0;
    int32_t version = 0;  // QZM version code
    int32_t reqFitsFilter = 0;
    float reqFitsCValue = 0;
    uint8_t pngAlphaMode = 0;  // option byte set to 5 for PNG before encoding
};

inline constexpr uint16_t KERV_NO_TRANSPARENCY = 0xFFFF;

// What travels with an image file from a read to a write.
struct ImageFileInfo {
    SGraphicAttributes attributes;
    FormatOptions options;
    uint16_t transparentIndex = KERV_NO_TRANSPARENCY;
};

struct DecodeRequest {
    const uint8_t* data = nullptr;
    size_t size = 0;
    StatusControlBlock* status = nullptr;  // may be null; progress counts rows
    FormatOptions options;                 // the format's "Decoding" settings
};

struct EncodeRequest {
    KHANDLE dib = nullptr;
    const ImageFileInfo* info = nullptr;   // options, resolution, transparency
    StatusControlBlock* status = nullptr;  // may be null
};

// Largest width or height a decoder accepts, and the check every decoder
// runs before allocating: both sides 1..KERV_MAX_DIMENSION and the DIB block
// within the memory manager's maximum block size. 0 or KERV_IMAGE_TOO_LARGE
// (KERV_CORRUPT_FILE for a zero side).
inline constexpr uint32_t KERV_MAX_DIMENSION = 65535;
KervErrorCode CheckDecodeDimensions(uint64_t width, uint64_t height, int bitCount);

using DecodeFunc = KervErrorCode (*)(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info);
using EncodeFunc = KervErrorCode (*)(const EncodeRequest& req, std::vector<uint8_t>* out);

// Decoders: dib receives the image; info (may be null) resolution,
// transparency and the options found in the file.
KervErrorCode DecodeBMP(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info);
// A BMP file with uncompressed bottom-up rows, read with its pixels going
// straight from the open file fd into the image, without the file's bytes in
// memory. head.data holds the file's first bytes: the headers and palette.
// KERV_UNSUPPORTED_VARIANT for anything else, or when the rows cannot be read
// as the headers say: the caller then decodes the whole file with DecodeBMP,
// which names the fault.
KervErrorCode DecodeBMPFromFile(const DecodeRequest& head, int fd, uint64_t fileSize, KHANDLE* dib,
                                ImageFileInfo* info);
KervErrorCode DecodePCX(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info);
KervErrorCode DecodeTGA(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info);
KervErrorCode DecodePXM(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info);
KervErrorCode DecodePNG(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info);
KervErrorCode DecodeJPG(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info);
KervErrorCode DecodeTIF(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info);
KervErrorCode DecodeGIF(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info);
// Layered formats: the layers are flattened on the way (formats/composite.h);
// the blend tables are built first when the program has not built them.
KervErrorCode DecodePSD(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info);
KervErrorCode DecodeQZM(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info);

// Encoders. The options in req.info select the variant:
//  BMP/DIB: variant 10 OS/2, 11 Windows; compression 1 none, 7 RLE (4/8 bits).
//  PNG: interlace; transparentIndex as tRNS; resolution as pHYs.
//  JPG: variant 70 standard, 71 progressive; quality = 100 - compressionFactor;
//       resolution as JFIF density.
//  TIF: compression 3 fax G3, 5 modified Huffman, 9 LZW, 7 PackBits, 1 none;
//       planes 1 RGB, 2 CMYK; resolution.
//  GIF: variant 40 87a, 41 89a; interlace; transparentIndex.
//  PCX: variant 80, 81, 82 versions 0, 2, 5; resolution.
//  TGA: depth 8/16/24, compression 2 RLE, 1 none.
//  PBM/PGM/PPM: variant 90 ASCII, 91 binary; the format field picks which.
//  PSD: a flat document (RGB, greyscale or indexed), PackBits; resolution.
//  QZM: the image as one layer; compression 7 PackBits, 8 deflate, 1 none;
//       version 3, 4 or 5; resolution (see formats/codec_qzm.h).
KervErrorCode EncodeBMP(const EncodeRequest& req, std::vector<uint8_t>* out);

// A BMP file as its head (headers and palette) followed by rows that are the
// image's own bytes, so a writer can send them from the image without copying
// them first. For RLE files the head is the whole file and rowCount is 0. rows
// points into req.dib: valid while the caller keeps that block locked.
struct EncodedBMP {
    std::vector<uint8_t> head;
    const uint8_t* rows = nullptr;
    uint32_t rowBytes = 0;
    int32_t rowCount = 0;
};
KervErrorCode EncodeBMPParts(const EncodeRequest& req, EncodedBMP* out);
KervErrorCode EncodePCX(const EncodeRequest& req, std::vector<uint8_t>* out);
KervErrorCode EncodeTGA(const EncodeRequest& req, std::vector<uint8_t>* out);
KervErrorCode EncodePXM(const EncodeRequest& req, std::vector<uint8_t>* out);
KervErrorCode EncodePNG(const EncodeRequest& req, std::vector<uint8_t>* out);
KervErrorCode EncodeJPG(const EncodeRequest& req, std::vector<uint8_t>* out);
KervErrorCode EncodeTIF(const EncodeRequest& req, std::vector<uint8_t>* out);
KervErrorCode EncodeGIF(const EncodeRequest& req, std::vector<uint8_t>* out);
KervErrorCode EncodePSD(const EncodeRequest& req, std::vector<uint8_t>* out);
KervErrorCode EncodeQZM(const EncodeRequest& req, std::vector<uint8_t>* out);
