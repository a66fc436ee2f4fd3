// TIFF through libtiff, reading from and writing to memory (client I/O).
//
// Reading takes the first page. Bilevel, grey, palette and RGB images of 1,
// 2, 4, 8 and 16 bits, in strips or tiles, contiguous or planar, are read
// sample by sample so depth and palette survive (2 bits widen to 4, 16 bits
// narrow to 8, grey becomes the canonical greyscale). Everything else libtiff
// understands (CMYK, YCbCr, alpha, Lab ...) goes through its RGBA reader and
// becomes 24 bits composited onto white.
//
// libtiff's messages never reach stderr: a handler per file collects them
// and the result becomes a code.
#include "formats/codec.h"
#include "formats/codec_lib_util.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

using namespace brellix::codec;

inline constexpr int32_t kTiffFormat = 36;

// ---- libtiff set-up ----

struct TiffMessages {
    int errors = 0;
    bool memory = false; // an allocation inside libtiff failed
};

int TiffErrorHandler(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
    if (auto* m = static_cast<TiffMessages*>(user)) {
        ++m->errors;
        char text[256];
        std::vsnprintf(text, sizeof text, fmt, ap);
        if (std::strstr(text, "Out of memory") || std::strstr(text, "Cannot allocate") ||
            std::strstr(text, "No space"))
            m->memory = true;
    }
    return 1; // handled: the global handlers stay quiet
}

int TiffWarningHandler(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// Some paths inside libtiff still report through the process-wide handlers.
void SilenceGlobalHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

// The byte stream libtiff reads or writes.
struct TiffStream {
    const uint8_t* data = nullptr; // reading
    size_t size = 0;
    std::vector<uint8_t>* out = nullptr; // writing; the file starts at base
    size_t base = 0;
    uint64_t pos = 0;
    bool outOfMemory = false;

    uint64_t length() const { return out ? out->size() - base : size; }
};

tmsize_t TiffRead(thandle_t h, void* buf, tmsize_t n) {
    auto* s = static_cast<TiffStream*>(h);
    const uint64_t len = s->length();
    if (n <= 0 || s->pos >= len) return 0;
    const uint64_t take = std::min<uint64_t>(static_cast<uint64_t>(n), len - s->pos);
    const uint8_t* src = s->out ? s->out->data() + s->base : s->data;
    std::memcpy(buf, src + s->pos, static_cast<size_t>(take));
    s->pos += take;
    return static_cast<tmsize_t>(take);
}

tmsize_t TiffWrite(thandle_t h, void* buf, tmsize_t n) {
    auto* s = static_cast<TiffStream*>(h);
    if (!s->out || n < 0) return -1;
    const uint64_t end = s->pos + static_cast<uint64_t>(n);
    if (end > SIZE_MAX - s->base) return -1;
    try {
        if (s->base + end > s->out->size()) s->out->resize(s->base + static_cast<size_t>(end));
    } catch (...) {
        s->outOfMemory = true;
        return -1;
    }
    std::memcpy(s->out->data() + s->base + s->pos, buf, static_cast<size_t>(n));
    s->pos = end;
    return n;
}

toff_t TiffSeek(thandle_t h, toff_t off, int whence) {
    auto* s = static_cast<TiffStream*>(h);
    uint64_t origin = 0;
    if (whence == SEEK_CUR)
        origin = s->pos;
    else if (whence == SEEK_END)
        origin = s->length();
    const uint64_t target = origin + off;
    if (target < origin || target > (uint64_t{1} << 62)) return static_cast<toff_t>(-1);
    s->pos = target;
    return target;
}

int TiffClose(thandle_t) {
    return 0;
}
toff_t TiffSize(thandle_t h) {
    return static_cast<TiffStream*>(h)->length();
}
int TiffMap(thandle_t, void**, toff_t*) {
    return 0;
}
void TiffUnmap(thandle_t, void*, toff_t) {}

// An open TIFF handle with its options, closed at scope end.
class TiffFile {
  public:
    TiffFile(TiffStream* stream, const char* mode, TiffMessages* messages) {
        SilenceGlobalHandlers();
        TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
        if (!opts) return;
        TIFFOpenOptionsSetErrorHandlerExtR(opts, TiffErrorHandler, messages);
        TIFFOpenOptionsSetWarningHandlerExtR(opts, TiffWarningHandler, nullptr);
        const uint64_t cap = std::min<uint64_t>(KML_MaxBlockSize(), uint64_t{1} << 40);
        TIFFOpenOptionsSetMaxSingleMemAlloc(opts, static_cast<tmsize_t>(cap));
        tif_ = TIFFClientOpenExt("memory", mode, stream, TiffRead, TiffWrite, TiffSeek, TiffClose,
                                 TiffSize, TiffMap, TiffUnmap, opts);
        TIFFOpenOptionsFree(opts);
    }
    ~TiffFile() {
        if (tif_) TIFFClose(tif_);
    }
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;
    TIFF* get() const { return tif_; }
    // Closes now (for writing: flushes the directory); false on failure.
    bool close() {
        TIFF* t = tif_;
        tif_ = nullptr;
        if (!t) return false;
        const int ok = TIFFFlush(t);
        TIFFClose(t);
        return ok == 1;
    }

  private:
    TIFF* tif_ = nullptr;
};

// A locked scratch block from the memory manager, freed at scope end.
struct Scratch {
    KBuffer buffer;
    uint8_t* data() const { return buffer.data(); }
    KervErrorCode allocate(uint64_t bytes) {
        if (bytes > KML_MaxBlockSize() || bytes > SIZE_MAX) return KERV_IMAGE_TOO_LARGE;
        return buffer.allocate(static_cast<size_t>(bytes ? bytes : 1), KMEM_MOVEABLE)
                   ? KERV_OK
                   : KERV_NO_MEMORY;
    }
};

// ---- Reading ----

struct TiffImage {
    uint32_t width = 0, height = 0;
    uint16_t bps = 1, spp = 1, planar = PLANARCONFIG_CONTIG, photometric = PHOTOMETRIC_MINISWHITE;
    uint16_t compression = COMPRESSION_NONE;
    bool tiled = false;
    uint32_t tileWidth = 0, tileLength = 0;
    uint32_t bandRows = 0; // rows per strip or per tile, at most the height
};

enum class Native { None, Grey, Palette, Rgb };

// Which images the sample reader handles; the rest go through RGBA.
Native NativeKind(const TiffImage& im) {
    if (im.tiled) {
        const uint64_t planeSamples = im.planar == PLANARCONFIG_SEPARATE ? 1 : im.spp;
        if ((uint64_t{im.tileWidth} * im.bps * planeSamples) % 8 != 0) return Native::None;
    }
    switch (im.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        if (im.spp == 1 &&
            (im.bps == 1 || im.bps == 2 || im.bps == 4 || im.bps == 8 || im.bps == 16))
            return Native::Grey;
        break;
    case PHOTOMETRIC_PALETTE:
        if (im.spp == 1 && (im.bps == 1 || im.bps == 2 || im.bps == 4 || im.bps == 8))
            return Native::Palette;
        break;
    case PHOTOMETRIC_RGB:
        if (im.spp == 3 && (im.bps == 8 || im.bps == 16)) return Native::Rgb;
        break;
    default:
        break;
    }
    return Native::None;
}

int OutputBits(Native kind, uint16_t bps) {
    if (kind == Native::Rgb || kind == Native::None) return 24;
    if (bps == 1) return 1;
    if (bps <= 4) return 4;
    return 8;
}

inline uint8_t Narrow16(uint16_t v) {
    return static_cast<uint8_t>((uint32_t{v} * 255u + 32767u) / 65535u);
}

// One band of rows in file layout: per plane, bandRows rows of rowBytes.
KervErrorCode ReadBand(TIFF* tif, const TiffImage& im, uint32_t y0, uint32_t rows, uint16_t planes,
                       size_t rowBytes, uint8_t* band, uint8_t* tile, size_t tileBytes) {
    const size_t planeBytes = size_t(im.bandRows) * rowBytes;
    for (uint16_t p = 0; p < planes; ++p) {
        uint8_t* dst = band + p * planeBytes;
        if (!im.tiled) {
            const uint32_t strip = TIFFComputeStrip(tif, y0, p);
            const tmsize_t want = static_cast<tmsize_t>(size_t(rows) * rowBytes);
            if (TIFFReadEncodedStrip(tif, strip, dst, want) < want) return KERV_CORRUPT_FILE;
            continue;
        }
        const uint16_t planeSamples = im.planar == PLANARCONFIG_SEPARATE ? 1 : im.spp;
        const size_t tileRowBytes = static_cast<size_t>(TIFFTileRowSize(tif));
        if (tileRowBytes == 0 || tileRowBytes * im.tileLength > tileBytes) return KERV_CORRUPT_FILE;
        for (uint32_t x = 0; x < im.width; x += im.tileWidth) {
            if (TIFFReadTile(tif, tile, x, y0, 0, p) < 0) return KERV_CORRUPT_FILE;
            const size_t offset = size_t(x) * im.bps * planeSamples / 8;
            const size_t bytes = std::min(tileRowBytes, rowBytes - offset);
            for (uint32_t r = 0; r < rows; ++r)
                std::memcpy(dst + r * rowBytes + offset, tile + r * tileRowBytes, bytes);
        }
    }
    return KERV_OK;
}

void ConvertBandRow(Native kind, const TiffImage& im, const uint8_t* const* planes, uint8_t* dst) {
    const uint32_t w = im.width;
    const bool invert = im.photometric == PHOTOMETRIC_MINISWHITE;
    if (kind == Native::Rgb) {
        if (im.planar == PLANARCONFIG_SEPARATE) {
            if (im.bps == 8) {
                for (uint32_t x = 0; x < w; ++x) {
                    dst[3 * x] = planes[2][x];
                    dst[3 * x + 1] = planes[1][x];
                    dst[3 * x + 2] = planes[0][x];
                }
            } else {
                const auto* r = reinterpret_cast<const uint16_t*>(planes[0]);
                const auto* g = reinterpret_cast<const uint16_t*>(planes[1]);
                const auto* b = reinterpret_cast<const uint16_t*>(planes[2]);
                for (uint32_t x = 0; x < w; ++x) {
                    dst[3 * x] = Narrow16(b[x]);
                    dst[3 * x + 1] = Narrow16(g[x]);
                    dst[3 * x + 2] = Narrow16(r[x]);
                }
            }
        } else if (im.bps == 8) {
            const uint8_t* s = planes[0];
            for (uint32_t x = 0; x < w; ++x, s += 3) {
                dst[3 * x] = s[2];
                dst[3 * x + 1] = s[1];
                dst[3 * x + 2] = s[0];
            }
        } else {
            const auto* s = reinterpret_cast<const uint16_t*>(planes[0]);
            for (uint32_t x = 0; x < w; ++x, s += 3) {
                dst[3 * x] = Narrow16(s[2]);
                dst[3 * x + 1] = Narrow16(s[1]);
                dst[3 * x + 2] = Narrow16(s[0]);
            }
        }
        return;
    }
    const uint8_t* s = planes[0];
    switch (im.bps) {
    case 1:
        std::memcpy(dst, s, (w + 7) / 8);
        break;
    case 2:
        Expand2To4(s, w, dst);
        break;
    case 4:
        std::memcpy(dst, s, (w + 1) / 2);
        break;
    case 8:
        if (kind == Native::Grey && invert)
            for (uint32_t x = 0; x < w; ++x)
                dst[x] = static_cast<uint8_t>(255 - s[x]);
        else
            std::memcpy(dst, s, w);
        break;
    default: { // 16-bit grey
        const auto* v = reinterpret_cast<const uint16_t*>(s);
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t g = Narrow16(v[x]);
            dst[x] = invert ? static_cast<uint8_t>(255 - g) : g;
        }
        break;
    }
    }
}

// Grey and bilevel palettes: 8 and 16 bits are stored as the canonical
// greyscale (inverted pixels for min-is-white); lower depths keep the pixel
// values and carry the ramp, reversed for min-is-white.
void FillTiffPalette(TIFF* tif, Native kind, const TiffImage& im, RGBQUAD* pal, uint32_t entries) {
    if (kind == Native::Grey) {
        if (im.bps >= 8) {
            FillGreyRamp(pal, 256);
            return;
        }
        const uint32_t levels = 1u << im.bps;
        FillGreyRamp(pal, levels);
        if (im.photometric == PHOTOMETRIC_MINISWHITE) std::reverse(pal, pal + levels);
        return;
    }
    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    const uint32_t n = 1u << im.bps;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b) {
        FillGreyRamp(pal, n);
        return;
    }
    // Old writers store 8-bit values in the 16-bit map.
    bool eightBit = true;
    for (uint32_t i = 0; i < n && eightBit; ++i)
        eightBit = r[i] < 256 && g[i] < 256 && b[i] < 256;
    auto level = [eightBit](uint16_t v) {
        return eightBit ? static_cast<uint8_t>(v) : Narrow16(v);
    };
    for (uint32_t i = 0; i < n && i < entries; ++i)
        pal[i] = RGBQUAD{level(b[i]), level(g[i]), level(r[i]), 0};
}

KervErrorCode ReadNative(TIFF* tif, const TiffImage& im, Native kind, BITMAPINFOHEADER* h,
                         StatusControlBlock* status) {
    const uint16_t planes = im.planar == PLANARCONFIG_SEPARATE ? im.spp : 1;
    const uint16_t planeSamples = im.planar == PLANARCONFIG_SEPARATE ? 1 : im.spp;
    const uint64_t rowBytes = (uint64_t{im.width} * im.bps * planeSamples + 7) / 8;
    Scratch band, tile;
    KervErrorCode rc = band.allocate(rowBytes * im.bandRows * planes);
    if (rc != KERV_OK) return rc;
    size_t tileBytes = 0;
    if (im.tiled) {
        const tmsize_t t = TIFFTileSize(tif);
        if (t <= 0) return KERV_CORRUPT_FILE;
        tileBytes = static_cast<size_t>(t);
        rc = tile.allocate(tileBytes);
        if (rc != KERV_OK) return rc;
    }

    ProgressReporter progress(status);
    progress.begin(static_cast<int32_t>(im.height));
    const uint32_t stride = DIBStride(h);
    uint8_t* bits = DIBBits(h);
    const size_t planeBytes = size_t(im.bandRows) * rowBytes;
    for (uint32_t y0 = 0; y0 < im.height; y0 += im.bandRows) {
        if (progress.step(static_cast<int32_t>(y0))) return KERV_STOPPED;
        const uint32_t rows = std::min(im.bandRows, im.height - y0);
        rc = ReadBand(tif, im, y0, rows, planes, rowBytes, band.data(), tile.data(), tileBytes);
        if (rc != KERV_OK) return rc;
        for (uint32_t r = 0; r < rows; ++r) {
            const uint8_t* rowPlanes[4] = {};
            for (uint16_t p = 0; p < planes && p < 4; ++p)
                rowPlanes[p] = band.data() + p * planeBytes + r * rowBytes;
            ConvertBandRow(kind, im, rowPlanes, bits + size_t(im.height - 1 - (y0 + r)) * stride);
        }
    }
    progress.end();
    return KERV_OK;
}

// Everything else: libtiff's RGBA reader, band by band, onto white.
KervErrorCode ReadThroughRGBA(TIFF* tif, const TiffImage& im, BITMAPINFOHEADER* h,
                              StatusControlBlock* status) {
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif, message)) return KERV_UNSUPPORTED_VARIANT;
    TIFFRGBAImage img{};
    if (!TIFFRGBAImageBegin(&img, tif, 1, message)) return KERV_UNSUPPORTED_VARIANT;
    struct EndImage {
        TIFFRGBAImage* img;
        ~EndImage() { TIFFRGBAImageEnd(img); }
    } end{&img};
    img.req_orientation = ORIENTATION_TOPLEFT;

    Scratch raster;
    KervErrorCode rc = raster.allocate(uint64_t{im.width} * im.bandRows * 4);
    if (rc != KERV_OK) return rc;
    auto* pixels = reinterpret_cast<uint32_t*>(raster.data());

    ProgressReporter progress(status);
    progress.begin(static_cast<int32_t>(im.height));
    const uint32_t stride = DIBStride(h);
    uint8_t* bits = DIBBits(h);
    for (uint32_t y0 = 0; y0 < im.height; y0 += im.bandRows) {
        if (progress.step(static_cast<int32_t>(y0))) return KERV_STOPPED;
        const uint32_t rows = std::min(im.bandRows, im.height - y0);
        img.row_offset = static_cast<int>(y0);
        img.col_offset = 0;
        if (!TIFFRGBAImageGet(&img, pixels, im.width, rows)) return KERV_CORRUPT_FILE;
        for (uint32_t r = 0; r < rows; ++r) {
            const uint32_t* src = pixels + size_t(r) * im.width;
            uint8_t* dst = bits + size_t(im.height - 1 - (y0 + r)) * stride;
            // The raster holds premultiplied alpha: white shows through as 255 - a.
            for (uint32_t x = 0; x < im.width; ++x) {
                const uint32_t p = src[x];
                const uint32_t back = 255 - TIFFGetA(p);
                dst[3 * x] = static_cast<uint8_t>(std::min<uint32_t>(255, TIFFGetB(p) + back));
                dst[3 * x + 1] = static_cast<uint8_t>(std::min<uint32_t>(255, TIFFGetG(p) + back));
                dst[3 * x + 2] = static_cast<uint8_t>(std::min<uint32_t>(255, TIFFGetR(p) + back));
            }
        }
    }
    progress.end();
    return KERV_OK;
}

int32_t CompressionOption(uint16_t c) {
    switch (c) {
    case COMPRESSION_CCITTFAX3:
        return 3;
    case COMPRESSION_CCITTRLE:
        return 5;
    case COMPRESSION_LZW:
        return 9;
    case COMPRESSION_PACKBITS:
        return 7;
    case COMPRESSION_NONE:
        return 1;
    default:
        return 0;
    }
}

KervErrorCode DecodeTiffFile(TIFF* tif, const DecodeRequest& req, KOwnedHandle* out,
                             ImageFileInfo* found) {
    TiffImage im;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &im.width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &im.height))
        return KERV_CORRUPT_FILE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &im.bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &im.spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &im.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &im.compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &im.photometric))
        im.photometric = im.spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    if (im.spp == 0 || im.bps == 0) return KERV_CORRUPT_FILE;
    if (!TIFFIsCODECConfigured(im.compression)) return KERV_UNSUPPORTED_VARIANT;

    im.tiled = TIFFIsTiled(tif) != 0;
    if (im.tiled) {
        if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &im.tileWidth) ||
            !TIFFGetField(tif, TIFFTAG_TILELENGTH, &im.tileLength) || im.tileWidth == 0 ||
            im.tileLength == 0)
            return KERV_CORRUPT_FILE;
        im.bandRows = im.tileLength;
    } else {
        uint32_t rps = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps);
        im.bandRows = rps;
    }
    if (im.bandRows == 0 || im.bandRows > im.height) im.bandRows = im.height;

    const Native kind = NativeKind(im);
    const int bits = OutputBits(kind, im.bps);
    const KervErrorCode sizeCheck = CheckDecodeDimensions(im.width, im.height, bits);
    if (sizeCheck != KERV_OK) return sizeCheck;

    const uint32_t entries = bits <= 8 ? 1u << bits : 0;
    out->reset(
        AllocDIB(static_cast<int32_t>(im.width), static_cast<int32_t>(im.height), bits, entries));
    if (!*out) return KERV_NO_MEMORY;
    DIBLock d(out->get());
    if (!d) return KERV_NO_MEMORY;
    if (entries) FillTiffPalette(tif, kind, im, d.palette(), entries);

    float xres = 0, yres = 0;
    uint16_t unit = RESUNIT_INCH;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) && xres > 0) {
        if (!TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres)) yres = xres;
        TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
        const int32_t ourUnit = unit == RESUNIT_INCH ? 1 : unit == RESUNIT_CENTIMETER ? 2 : 0;
        StoreResolution(d.header(), &found->attributes, xres, yres, ourUnit);
    }
    found->options.format = kTiffFormat;
    if (const int32_t c = CompressionOption(im.compression)) found->options.compression = c;
    found->options.planes = im.photometric == PHOTOMETRIC_SEPARATED ? 2 : 1;

    return kind == Native::None ? ReadThroughRGBA(tif, im, d.header(), req.status)
                                : ReadNative(tif, im, kind, d.header(), req.status);
}

// ---- Writing ----

uint16_t LibtiffCompression(int32_t option, bool* known) {
    *known = true;
    switch (option) {
    case 3:
        return COMPRESSION_CCITTFAX3;
    case 5:
        return COMPRESSION_CCITTRLE;
    case 0: // not given: the format's default
    case 9:
        return COMPRESSION_LZW;
    case 7:
        return COMPRESSION_PACKBITS;
    case 1:
        return COMPRESSION_NONE;
    default:
        *known = false;
        return COMPRESSION_NONE;
    }
}

inline uint8_t Luma(const RGBQUAD& c) {
    return static_cast<uint8_t>(
        (uint32_t{c.rgbRed} * 299 + uint32_t{c.rgbGreen} * 587 + uint32_t{c.rgbBlue} * 114) / 1000);
}

// How the DIB is stored.
enum class Layout { MinIsBlack, MinIsWhite, Palette, Rgb, Cmyk };

Layout ChooseLayout(const BITMAPINFOHEADER* h, bool fax, bool cmyk) {
    const int bits = h->biBitCount;
    if (fax) {
        // The darker entry becomes black; the pixels stay as they are.
        const RGBQUAD* pal = DIBPalette(h);
        const uint32_t n = UsablePaletteEntries(h);
        const uint8_t l0 = n > 0 ? Luma(pal[0]) : 0;
        const uint8_t l1 = n > 1 ? Luma(pal[1]) : 255;
        return l0 <= l1 ? Layout::MinIsBlack : Layout::MinIsWhite;
    }
    if (cmyk) return Layout::Cmyk;
    if (bits == 24) return Layout::Rgb;
    const RGBQUAD* pal = DIBPalette(h);
    const uint32_t n = UsablePaletteEntries(h);
    if (IsGreyRamp(pal, n, bits)) return Layout::MinIsBlack;
    if (bits == 1 && n == 2 && pal[0].rgbRed == 255 && pal[0].rgbGreen == 255 &&
        pal[0].rgbBlue == 255 && pal[1].rgbRed == 0 && pal[1].rgbGreen == 0 && pal[1].rgbBlue == 0)
        return Layout::MinIsWhite;
    return Layout::Palette;
}

void RgbToCmyk(const uint8_t* bgr, uint32_t width, uint8_t* cmyk) {
    for (uint32_t x = 0; x < width; ++x, bgr += 3, cmyk += 4) {
        const uint32_t c = 255u - bgr[2], m = 255u - bgr[1], y = 255u - bgr[0];
        const uint32_t k = std::min({c, m, y});
        if (k == 255) {
            cmyk[0] = cmyk[1] = cmyk[2] = 0;
        } else {
            const uint32_t d = 255 - k;
            cmyk[0] = static_cast<uint8_t>(((c - k) * 255 + d / 2) / d);
            cmyk[1] = static_cast<uint8_t>(((m - k) * 255 + d / 2) / d);
            cmyk[2] = static_cast<uint8_t>(((y - k) * 255 + d / 2) / d);
        }
        cmyk[3] = static_cast<uint8_t>(k);
    }
}

KervErrorCode WriteTiff(TIFF* tif, const BITMAPINFOHEADER* h, const EncodeRequest& req) {
    const FormatOptions* o = req.info ? &req.info->options : nullptr;
    bool known = false;
    const uint16_t compression = LibtiffCompression(o ? o->compression : 0, &known);
    if (!known) return KERV_UNSUPPORTED_VARIANT;
    const bool fax = compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTRLE;
    const int bits = h->biBitCount;
    if (fax && bits != 1) return KERV_INVALID_PARAM;
    const bool cmyk = !fax && o && o->planes == 2;
    const Layout layout = ChooseLayout(h, fax, cmyk);

    const uint32_t width = static_cast<uint32_t>(h->biWidth);
    const uint32_t height = static_cast<uint32_t>(h->biHeight);
    uint16_t spp = 1, bps = static_cast<uint16_t>(bits);
    uint16_t photometric = PHOTOMETRIC_PALETTE;
    switch (layout) {
    case Layout::MinIsBlack:
        photometric = PHOTOMETRIC_MINISBLACK;
        break;
    case Layout::MinIsWhite:
        photometric = PHOTOMETRIC_MINISWHITE;
        break;
    case Layout::Palette:
        photometric = PHOTOMETRIC_PALETTE;
        break;
    case Layout::Rgb:
        photometric = PHOTOMETRIC_RGB, spp = 3, bps = 8;
        break;
    case Layout::Cmyk:
        photometric = PHOTOMETRIC_SEPARATED, spp = 4, bps = 8;
        break;
    }

    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bps);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    if (!TIFFSetField(tif, TIFFTAG_COMPRESSION, compression)) return KERV_UNSUPPORTED_VARIANT;
    if (compression == COMPRESSION_CCITTFAX3) TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0u);
    if (layout == Layout::Cmyk) TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));

    if (layout == Layout::Palette) {
        uint16_t r[256] = {}, g[256] = {}, b[256] = {};
        const RGBQUAD* pal = DIBPalette(h);
        const uint32_t n = UsablePaletteEntries(h);
        for (uint32_t i = 0; i < n; ++i) {
            r[i] = static_cast<uint16_t>(pal[i].rgbRed * 257);
            g[i] = static_cast<uint16_t>(pal[i].rgbGreen * 257);
            b[i] = static_cast<uint16_t>(pal[i].rgbBlue * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, r, g, b);
    }

    Resolution res;
    if (ResolutionToWrite(req, h, &res)) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(res.value));
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(res.value));
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT,
                     res.unit == 2 ? RESUNIT_CENTIMETER : RESUNIT_INCH);
    }

    // libtiff may change the row it is given, so every row is copied first.
    const uint32_t stride = DIBStride(h);
    Scratch row, rgb;
    KervErrorCode rc = row.allocate(layout == Layout::Cmyk ? uint64_t{4} * width : stride);
    if (rc != KERV_OK) return rc;
    if (layout == Layout::Cmyk && bits != 24) {
        rc = rgb.allocate(uint64_t{3} * width);
        if (rc != KERV_OK) return rc;
    }
    const RGBQUAD* pal = DIBPalette(h);
    const uint32_t entries = UsablePaletteEntries(h);

    ProgressReporter progress(req.status);
    progress.begin(static_cast<int32_t>(height));
    for (uint32_t y = 0; y < height; ++y) {
        if (progress.step(static_cast<int32_t>(y))) return KERV_STOPPED;
        const uint8_t* src = DIBRowFromTop(h, static_cast<int32_t>(y));
        uint8_t* dst = row.data();
        if (layout == Layout::Cmyk) {
            const uint8_t* bgr = src;
            if (bits != 24) {
                PaletteRowToBGR(src, bits, width, pal, entries, rgb.data());
                bgr = rgb.data();
            }
            RgbToCmyk(bgr, width, dst);
        } else if (layout == Layout::Rgb) {
            for (uint32_t x = 0; x < width; ++x) {
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            }
        } else {
            std::memcpy(dst, src, stride);
        }
        if (TIFFWriteScanline(tif, dst, y, 0) < 0) return KERV_CODEC_FAILURE;
    }
    if (!TIFFWriteDirectory(tif)) return KERV_CODEC_FAILURE;
    progress.end();
    return KERV_OK;
}

} // namespace

KervErrorCode DecodeTIF(const DecodeRequest& req, KHANDLE* dib, ImageFileInfo* info) {
    if (!dib) return KERV_INVALID_PARAM;
    *dib = nullptr;
    if (!req.data && req.size) return KERV_INVALID_PARAM;
    if (req.size < 8) return KERV_CORRUPT_FILE;

    TiffStream stream;
    stream.data = req.data;
    stream.size = req.size;
    TiffMessages messages;
    ImageFileInfo found;
    found.options = req.options;
    KOwnedHandle result;
    KervErrorCode rc;
    {
        TiffFile file(&stream, "rm", &messages);
        if (!file.get())
            rc = messages.memory ? KERV_NO_MEMORY : KERV_CORRUPT_FILE;
        else
            rc = DecodeTiffFile(file.get(), req, &result, &found);
    }
    if (rc == KERV_CORRUPT_FILE && messages.memory) rc = KERV_NO_MEMORY;
    if (rc != KERV_OK) return rc;
    *dib = result.release();
    if (info) *info = found;
    return KERV_OK;
}

KervErrorCode EncodeTIF(const EncodeRequest& req, std::vector<uint8_t>* out) {
    if (!out || !req.dib) return KERV_INVALID_PARAM;
    DIBLock d(req.dib);
    if (!d) return KERV_INVALID_PARAM;

    TiffStream stream;
    stream.out = out;
    stream.base = out->size();
    TiffMessages messages;
    TiffFile file(&stream, "wl", &messages);
    if (!file.get())
        return messages.memory || stream.outOfMemory ? KERV_NO_MEMORY : KERV_CODEC_FAILURE;
    KervErrorCode rc = WriteTiff(file.get(), d.header(), req);
    if (rc == KERV_OK && !file.close()) rc = KERV_CODEC_FAILURE;
    if (rc == KERV_CODEC_FAILURE && (stream.outOfMemory || messages.memory)) rc = KERV_NO_MEMORY;
    return rc;
}
