// GIF through giflib, reading and writing through memory callbacks.
//
// Reading takes the first image of the file, placed on the logical screen
// (grown when the image reaches past it), and the transparent index of the
// graphics control extension that precedes it. The colour table decides the
// depth: 2 colours give 1 bit, up to 16 give 4 bits, more give 8 bits.
//
// Writing stores 1, 4 and 8-bit DIBs with a colour table of their depth,
// as 87a or 89a, interlaced or not; 89a carries the transparent index.
#include "formats/codec.h"
#include "formats/codec_lib_util.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

namespace {

using namespace brellix::codec;

inline constexpr int32_t kGifFormat = 10;
inline constexpr int kVariant87a = 40;

// Rows of an interlaced image in file order: four passes.
inline constexpr int kPassStart[4] = {0, 4, 2, 1};
inline constexpr int kPassStep[4] = {8, 8, 4, 2};

KervErrorCode CodeForGifError(int error) {
    switch (error) {
    case D_GIF_ERR_NOT_ENOUGH_MEM:
    case E_GIF_ERR_NOT_ENOUGH_MEM:
        return KERV_NO_MEMORY;
    case E_GIF_ERR_WRITE_FAILED:
    case E_GIF_ERR_DISK_IS_FULL:
        return KERV_NO_MEMORY; // our sink only fails for memory
    default:
        return error >= 100 ? KERV_CORRUPT_FILE : KERV_CODEC_FAILURE;
    }
}

// ---- Reading ----

struct GifSource {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

int GifRead(GifFileType* gif, GifByteType* buf, int n) {
    auto* s = static_cast<GifSource*>(gif->UserData);
    if (n <= 0) return 0;
    const size_t take = std::min(static_cast<size_t>(n), s->size - s->pos);
    std::memcpy(buf, s->data + s->pos, take);
    s->pos += take;
    return static_cast<int>(take);
}

class GifReader {
  public:
    explicit GifReader(GifSource* src) { gif_ = DGifOpen(src, GifRead, &openError_); }
    ~GifReader() {
        int error = 0;
        if (gif_) DGifCloseFile(gif_, &error);
    }
    GifReader(const GifReader&) = delete;
    GifReader& operator=(const GifReader&) = delete;
    GifFileType* get() const { return gif_; }
    int openError() const { return openError_; }

  private:
    GifFileType* gif_ = nullptr;
    int openError_ = 0;
};

inline void PutIndex(uint8_t* row, int bits, uint32_t x, uint8_t v) {
    switch (bits) {
    case 8:
        row[x] = v;
        break;
    case 4:
        if (x & 1)
            row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0xF0) | (v & 15));
        else
            row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0x0F) | (v << 4));
        break;
    default: {
        const uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
        row[x >> 3] = static_cast<uint8_t>(v ? row[x >> 3] | m : row[x >> 3] & ~m);
        break;
    }
    }
}

inline uint8_t FillByte(int bits, uint8_t v) {
    return bits == 8 ? v : bits == 4 ? static_cast<uint8_t>(v * 17) : v ? 0xFF : 0;
}

// Reads up to the first image descriptor, remembering a graphics control
// extension on the way.
KervErrorCode SkipToFirstImage(GifFileType* gif, int* transparent) {
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return CodeForGifError(gif->Error);
        if (type == IMAGE_DESC_RECORD_TYPE) return KERV_OK;
        if (type == TERMINATE_RECORD_TYPE) return KERV_CORRUPT_FILE; // no image at all
        if (type != EXTENSION_RECORD_TYPE) return KERV_CORRUPT_FILE;
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return CodeForGifError(gif->Error);
        if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
            GraphicsControlBlock gcb{};
            if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK)
                *transparent = gcb.TransparentColor;
        }
        while (block) {
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return CodeForGifError(gif->Error);
        }
    }
}

KervErrorCode DecodeGifFile(GifFileType* gif, const DecodeRequest& req, KOwnedHandle* out,
                            ImageFileInfo* found) {
    int transparent = NO_TRANSPARENT_COLOR;
    KervErrorCode rc = SkipToFirstImage(gif, &transparent);
    if (rc != KERV_OK) return rc;
    if (DGifGetImageDesc(gif) == GIF_ERROR) return CodeForGifError(gif->Error);

    const GifImageDesc& desc = gif->Image;
    if (desc.Width <= 0 || desc.Height <= 0 || desc.Left < 0 || desc.Top < 0)
        return KERV_CORRUPT_FILE;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    const int mapCount = map ? map->ColorCount : 0;
    const int bits = mapCount > 16 ? 8 : mapCount > 2 ? 4 : mapCount > 0 ? 1 : 8;
    const uint32_t entries = 1u << bits;

    const uint64_t canvasW =
        std::max<uint64_t>(gif->SWidth > 0 ? gif->SWidth : 0, uint64_t(desc.Left) + desc.Width);
    const uint64_t canvasH =
        std::max<uint64_t>(gif->SHeight > 0 ? gif->SHeight : 0, uint64_t(desc.Top) + desc.Height);
    rc = CheckDecodeDimensions(canvasW, canvasH, bits);
    if (rc != KERV_OK) return rc;

    out->reset(
        AllocDIB(static_cast<int32_t>(canvasW), static_cast<int32_t>(canvasH), bits, entries));
    if (!*out) return KERV_NO_MEMORY;
    KBuffer line;
    if (!line.allocate(static_cast<size_t>(desc.Width), KMEM_MOVEABLE)) return KERV_NO_MEMORY;
    DIBLock d(out->get());
    if (!d) return KERV_NO_MEMORY;

    RGBQUAD* pal = d.palette();
    if (map && map->Colors) {
        for (int i = 0; i < mapCount && i < static_cast<int>(entries); ++i)
            pal[i] = RGBQUAD{map->Colors[i].Blue, map->Colors[i].Green, map->Colors[i].Red, 0};
    } else {
        FillGreyRamp(pal, entries); // no colour table: show grey levels
    }
    const uint32_t valid =
        mapCount > 0 ? static_cast<uint32_t>(std::min<int>(mapCount, entries)) : entries;
    if (transparent >= 0 && static_cast<uint32_t>(transparent) >= valid)
        transparent = NO_TRANSPARENT_COLOR;

    // Whatever the image leaves uncovered shows the background (or is transparent).
    const bool covers = desc.Left == 0 && desc.Top == 0 && uint64_t(desc.Width) == canvasW &&
                        uint64_t(desc.Height) == canvasH;
    if (!covers) {
        int back = transparent >= 0 ? transparent : gif->SBackGroundColor;
        if (back < 0 || static_cast<uint32_t>(back) >= valid) back = 0;
        std::memset(d.bits(), FillByte(bits, static_cast<uint8_t>(back)),
                    size_t(d.stride()) * d.height());
    }

    ProgressReporter progress(req.status);
    const int height = desc.Height;
    progress.begin(height);
    int done = 0;
    const int passes = desc.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = desc.Interlace ? kPassStart[pass] : 0;
        const int step = desc.Interlace ? kPassStep[pass] : 1;
        for (int y = start; y < height; y += step) {
            if (progress.step(done++)) return KERV_STOPPED;
            uint8_t* px = line.data();
            if (DGifGetLine(gif, px, desc.Width) == GIF_ERROR) return CodeForGifError(gif->Error);
            uint8_t* row = DIBRowFromTop(d.header(), desc.Top + y);
            for (int x = 0; x < desc.Width; ++x) {
                const uint8_t v = px[x] < valid ? px[x] : 0;
                PutIndex(row, bits, static_cast<uint32_t>(desc.Left + x), v);
            }
        }
    }
    found->transparentIndex =
        transparent >= 0 ? static_cast<uint16_t>(transparent) : KERV_NO_TRANSPARENCY;
    found->options.format = kGifFormat;
    found->options.interlace = desc.Interlace ? 1 : 0;
    progress.end();
    return KERV_OK;
}

// ---- Writing ----

int GifWrite(GifFileType* gif, const GifByteType* data, int n) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    if (n <= 0) return 0;
    try {
        out->insert(out->end(), data, data + n);
    } catch (...) {
        return 0;
    }
    return n;
}

struct MapOwner {
    ColorMapObject* map = nullptr;
    ~MapOwner() {
        if (map) GifFreeMapObject(map);
    }
};

KervErrorCode EncodeGifFile(GifFileType* gif, const BITMAPINFOHEADER* h, const EncodeRequest& req) {
    const int bits = h->biBitCount;
    const uint32_t width = static_cast<uint32_t>(h->biWidth);
    const uint32_t height = static_cast<uint32_t>(h->biHeight);
    if (width > 65535 || height > 65535) return KERV_IMAGE_TOO_LARGE;
    const FormatOptions* o = req.info ? &req.info->options : nullptr;
    const bool gif89 = !(o && o->variant == kVariant87a);
    const bool interlace = o && o->interlace;
    const uint32_t count = 1u << bits;

    GifColorType colours[256] = {};
    const RGBQUAD* pal = DIBPalette(h);
    const uint32_t have = UsablePaletteEntries(h);
    for (uint32_t i = 0; i < have; ++i)
        colours[i] = GifColorType{pal[i].rgbRed, pal[i].rgbGreen, pal[i].rgbBlue};
    MapOwner map;
    map.map = GifMakeMapObject(static_cast<int>(count), colours);
    if (!map.map) return KERV_NO_MEMORY;

    EGifSetGifVersion(gif, gif89);
    if (EGifPutScreenDesc(gif, static_cast<int>(width), static_cast<int>(height), bits, 0,
                          map.map) == GIF_ERROR)
        return CodeForGifError(gif->Error);
    const uint16_t transparent = TransparentIndexToWrite(req, count);
    if (gif89 && transparent != KERV_NO_TRANSPARENCY) {
        const GifByteType gce[4] = {0x01, 0, 0, static_cast<GifByteType>(transparent)};
        if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce) == GIF_ERROR)
            return CodeForGifError(gif->Error);
    }
    if (EGifPutImageDesc(gif, 0, 0, static_cast<int>(width), static_cast<int>(height), interlace,
                         nullptr) == GIF_ERROR)
        return CodeForGifError(gif->Error);

    KBuffer line;
    if (!line.allocate(width, KMEM_MOVEABLE)) return KERV_NO_MEMORY;
    ProgressReporter progress(req.status);
    progress.begin(static_cast<int32_t>(height));
    int done = 0;
    const int passes = interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = interlace ? kPassStart[pass] : 0;
        const int step = interlace ? kPassStep[pass] : 1;
        for (int y = start; y < static_cast<int>(height); y += step) {
            if (progress.step(done++)) return KERV_STOPPED;
            UnpackRowTo8(DIBRowFromTop(h, y), bits, width, line.data());
            if (EGifPutLine(gif, line.data(), static_cast<int>(width)) == GIF_ERROR)
                return CodeForGifError(gif->Error);
        }
    }
    progress.end();
    return KERV_OK;
}

} // namespace

KervErrorCode DecodeGIF(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info) {
    if (!dib) return KERV_INVALID_PARAM;
    *dib = nullptr;
    if (!req.data && req.size) return KERV_INVALID_PARAM;
    if (req.size < 13 || std::memcmp(req.data, "GIF", 3) != 0) return KERV_CORRUPT_FILE;

    GifSource src{req.data, req.size, 0};
    ImageFileInfo found;
    found.options = req.options;
    found.options.variant = std::memcmp(req.data + 3, "89a", 3) == 0 ? 41 : kVariant87a;
    KOwnedHandle result;
    KervErrorCode rc;
    {
        GifReader reader(&src);
        if (!reader.get())
            rc = CodeForGifError(reader.openError());
        else
            rc = DecodeGifFile(reader.get(), req, &result, &found);
    }
    if (rc != KERV_OK) return rc;
    *dib = result.release();
    if (info) *info = found;
    return KERV_OK;
}

KervErrorCode EncodeGIF(const EncodeRequest& req, std::vector<uint8_t>* out) {
    if (!out || !req.dib) return KERV_INVALID_PARAM;
    DIBLock d(req.dib);
    if (!d) return KERV_INVALID_PARAM;
    if (d.bitCount() > 8) return KERV_INVALID_PARAM; // GIF holds palette images only

    int error = 0;
    GifFileType* gif = EGifOpen(out, GifWrite, &error);
    if (!gif) return CodeForGifError(error);
    KervErrorCode rc = EncodeGifFile(gif, d.header(), req);
    int closeError = 0;
    if (EGifCloseFile(gif, &closeError) == GIF_ERROR && rc == KERV_OK)
        rc = CodeForGifError(closeError);
    return rc;
}
