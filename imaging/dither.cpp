// Colour reduction to a palette of 16 or 256 entries.
//
// The three palette reductions share one engine and differ only in how a
// colour finds its index:
//   DitherToStandardPalette  the 15-bit map read from the colour map file
//   DitherToPalette          a 21-bit cache kept between calls
//   DitherDIB                the exact nearest-colour search with its cache
// The engine reads each source row as blue, green, red triples (palette
// sources through their colour table), turns it into a row of indexes by
// nearest colour, ordered dither or error diffusion, and packs that into
// the result row.
//
// Error diffusion holds two rows of errors, pixel x in slot x + 1 (a margin
// slot on each side so the taps need no tests):
//
//            carry -> x+1   (right, about 7/16)
//   x-1 (3/16)   x (5/16)   x+1 (1/16, written, not added)
//
// The outgoing row of one row is the incoming row of the next.
#include "imaging/dither.h"

#include "imaging/checks.h"
#include "imaging/dither_tables.h"
#include "imaging/optpal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

using namespace dither_tables;

const RGBQUAD kWindows16Colors[16] = {
    {0, 0, 0, 0},       {0, 0, 128, 0},   {0, 128, 0, 0},   {0, 128, 128, 0},
    {128, 0, 0, 0},     {128, 0, 128, 0}, {128, 128, 0, 0}, {192, 192, 192, 0},
    {128, 128, 128, 0}, {0, 0, 255, 0},   {0, 255, 0, 0},   {0, 255, 255, 0},
    {255, 0, 0, 0},     {255, 0, 255, 0}, {255, 255, 0, 0}, {255, 255, 255, 0},
};

namespace {

struct Cube {
    RGBQUAD e[256];
    constexpr Cube() : e{} {
        for (int i = 0; i < 216; ++i)
            e[i] = RGBQUAD{uint8_t(51 * (i / 36)), uint8_t(51 * (i / 6 % 6)), uint8_t(51 * (i % 6)),
                           0};
    }
};
constexpr Cube kCube;

} // namespace

const RGBQUAD* const kStandardCube256 = kCube.e;

namespace {

// ---- Checks: one line per rule ----

using namespace imaging_checks;

bool TargetKnown(uint8_t bits) {
    return bits == 4 || bits == 8;
}
bool MethodKnown(uint8_t method) {
    return method <= 2;
}
// Ordered dither only has formulas for the standard palettes.
bool MethodForGivenPalette(uint8_t method) {
    return method == 0 || method == 2;
}
bool CountFits(uint16_t count, uint8_t targetBits) {
    return count >= 1 && count <= (1u << targetBits);
}
bool StrengthKnown(int percent) {
    return percent >= 0;
}
bool DepthReducible(const DIBLock& d) {
    return d.bitCount() == 4 || d.bitCount() == 8 || d.bitCount() == 24;
}

enum Method : uint8_t { kNearest = 0, kOrdered = 1, kDiffuse = 2 };

constexpr uint8_t Clamp255(int v) {
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// ---- Source rows ----

// Hands out source rows as blue, green, red triples.
class SourceRows {
  public:
    // false when the scratch row cannot be had.
    bool init(const DIBLock& src) {
        src_ = &src;
        if (src.bitCount() == 24) return true;
        // An index past the colour table reads as black.
        const uint32_t entries = std::min(DIBPaletteEntries(src.header()), 256u);
        for (uint32_t i = 0; i < entries; ++i) {
            const RGBQUAD& e = src.palette()[i];
            table_[i][0] = e.rgbBlue, table_[i][1] = e.rgbGreen, table_[i][2] = e.rgbRed;
        }
        return scratch_.allocate(size_t(src.width()) * 3);
    }

    const uint8_t* row(int32_t stored) {
        const uint8_t* in = src_->row(stored);
        const int32_t w = src_->width();
        uint8_t* out = scratch_.data();
        switch (src_->bitCount()) {
        case 24:
            return in;
        case 8:
            for (int32_t x = 0; x < w; ++x)
                std::memcpy(out + 3 * size_t(x), table_[in[x]], 3);
            return out;
        default:
            for (int32_t x = 0; x < w; ++x) {
                const uint8_t i = (x & 1) ? in[x >> 1] & 15 : in[x >> 1] >> 4;
                std::memcpy(out + 3 * size_t(x), table_[i], 3);
            }
            return out;
        }
    }

  private:
    const DIBLock* src_ = nullptr;
    uint8_t table_[256][3] = {};
    KBuffer scratch_;
};

// ---- Colour lookups: (red, green, blue) -> palette index ----

// The 15-bit colour map of the standard palettes.
struct MapLookup {
    const uint8_t* map;
    uint8_t operator()(uint8_t r, uint8_t g, uint8_t b) const { return map[MapKey(r, g, b)]; }
};

// The search behind DitherToPalette's cache: squared RGB distance, lowest
// index on ties, over the first `count` entries. Eight entries at a time in
// generic vectors (plain SIMD where the target has it, scalar code where it
// has not, the same arithmetic either way): differences and squares are
// taken modulo 2^16, which is exact for squares of -255..255; the sum of three
// squares is widened to 32 bits and shifted over the index, so that the
// least key is the nearest entry with the lowest index. The last block is
// padded with copies of entry 0, which can never beat entry 0 itself.
using U16x8 = uint16_t __attribute__((vector_size(16)));
using I32x4 = int32_t __attribute__((vector_size(16)));

inline I32x4 Low(U16x8 v) {
    return __builtin_convertvector(__builtin_shufflevector(v, v, 0, 1, 2, 3), I32x4);
}
inline I32x4 High(U16x8 v) {
    return __builtin_convertvector(__builtin_shufflevector(v, v, 4, 5, 6, 7), I32x4);
}

class PaletteSearch {
  public:
    PaletteSearch(const RGBQUAD* pal, uint32_t count) : blocks_(int((count + 7) / 8)) {
        for (int i = 0; i < 8 * blocks_; ++i) {
            const RGBQUAD& e = pal[uint32_t(i) < count ? i : 0];
            r_[i / 8][i % 8] = e.rgbRed;
            g_[i / 8][i % 8] = e.rgbGreen;
            b_[i / 8][i % 8] = e.rgbBlue;
        }
    }

    uint8_t nearest(uint8_t r, uint8_t g, uint8_t b) const {
        const U16x8 qr = U16x8{} + uint16_t(r), qg = U16x8{} + uint16_t(g),
                    qb = U16x8{} + uint16_t(b);
        I32x4 best0 = I32x4{} + INT32_MAX, best1 = best0;
        I32x4 index0 = {0, 1, 2, 3}, index1 = {4, 5, 6, 7};
        for (int j = 0; j < blocks_; ++j, index0 += 8, index1 += 8) {
            const U16x8 dr = r_[j] - qr, dg = g_[j] - qg, db = b_[j] - qb;
            const U16x8 sr = dr * dr, sg = dg * dg, sb = db * db;
            const I32x4 key0 = ((Low(sr) + Low(sg) + Low(sb)) << 8) | index0;
            const I32x4 key1 = ((High(sr) + High(sg) + High(sb)) << 8) | index1;
            best0 = key0 < best0 ? key0 : best0;
            best1 = key1 < best1 ? key1 : best1;
        }
        best0 = best1 < best0 ? best1 : best0;
        const int32_t best = std::min(std::min(best0[0], best0[1]), std::min(best0[2], best0[3]));
        return uint8_t(best & 255);
    }

  private:
    int blocks_;
    U16x8 r_[32], g_[32], b_[32];
};

// DitherToPalette's cache: 2^21 entries keyed by the top seven bits of each
// component; an entry of 0x8000 or more is not known yet.
constexpr size_t kCacheEntries = size_t{1} << 21;
constexpr uint32_t CacheKey(uint8_t r, uint8_t g, uint8_t b) {
    return (uint32_t(r >> 1) << 14) | (uint32_t(g >> 1) << 7) | uint32_t(b >> 1);
}

struct CacheLookup {
    uint16_t* cache;
    const PaletteSearch* search;
    uint8_t operator()(uint8_t r, uint8_t g, uint8_t b) const {
        uint16_t& slot = cache[CacheKey(r, g, b)];
        if (slot & 0x8000) slot = search->nearest(r, g, b);
        return uint8_t(slot);
    }
};

struct MatchLookup {
    const RGBQUAD* palette;
    uint32_t count;
    ColorMatchCache* cache;
    uint8_t operator()(uint8_t r, uint8_t g, uint8_t b) const {
        return uint8_t(FindNearestPaletteIndex(r, g, b, palette, count, 4, cache));
    }
};

// ---- Row kernels: a row of source triples -> a row of indexes ----

template <class Lookup>
void NearestRow(const uint8_t* bgr, int32_t width, const Lookup& look, uint8_t* out) {
    for (int32_t x = 0; x < width; ++x, bgr += 3)
        out[x] = look(bgr[2], bgr[1], bgr[0]);
}

// How much of the diffused error a pixel takes.
struct WholeError {
    int operator()(int e) const { return e; }
};
struct ThreeQuarterError {
    int operator()(int e) const { return (e * 3) >> 2; }
};
struct ScaledError {
    int factor; // 256 = whole
    int operator()(int e) const { return (e * factor) >> 8; }
};

// in and out point at the error rows' margin slots.
template <class Lookup, class Scale>
void DiffuseRow(const uint8_t* bgr, int32_t width, const Lookup& look, const RGBQUAD* pal,
                const int16_t* in, int16_t* out, Scale scale, uint8_t* idx) {
    std::memset(out, 0, 6 * sizeof *out);
    int carry0 = 0, carry1 = 0, carry2 = 0;
    in += 3;
    out += 3;
    for (int32_t x = 0; x < width; ++x, bgr += 3, in += 3, out += 3) {
        const uint8_t b = Clamp255(bgr[0] + scale(in[0] + carry0));
        const uint8_t g = Clamp255(bgr[1] + scale(in[1] + carry1));
        const uint8_t r = Clamp255(bgr[2] + scale(in[2] + carry2));
        const uint8_t i = look(r, g, b);
        idx[x] = i;
        const RGBQUAD& e = pal[i];
        const Shares& sb = kSplit[size_t(b - e.rgbBlue + 255)];
        const Shares& sg = kSplit[size_t(g - e.rgbGreen + 255)];
        const Shares& sr = kSplit[size_t(r - e.rgbRed + 255)];
        carry0 = sb.right, carry1 = sg.right, carry2 = sr.right;
        out[-3] = int16_t(out[-3] + sb.belowLeft);
        out[-2] = int16_t(out[-2] + sg.belowLeft);
        out[-1] = int16_t(out[-1] + sr.belowLeft);
        out[0] = int16_t(out[0] + sb.below);
        out[1] = int16_t(out[1] + sg.below);
        out[2] = int16_t(out[2] + sr.below);
        out[3] = sb.belowRight;
        out[4] = sg.belowRight;
        out[5] = sr.belowRight;
    }
}

// Level (v / 51) and remainder of a component on the cube's levels.
struct CubeSteps {
    uint8_t level[256], rest[256];
    constexpr CubeSteps() : level{}, rest{} {
        for (int v = 0; v < 256; ++v)
            level[v] = uint8_t(v / 51), rest[v] = uint8_t(v % 51);
    }
};
constexpr CubeSteps kCubeSteps;

void OrderedRow8(const uint8_t* bgr, int32_t width, int32_t stored, uint8_t* idx) {
    const size_t column = size_t(stored & 15);
    for (int32_t x = 0; x < width; ++x, bgr += 3) {
        const int t = kThresholds8[size_t(x & 15)][column];
        int levels[3];
        for (int c = 0; c < 3; ++c)
            levels[c] = kCubeSteps.level[bgr[c]] + (kCubeSteps.rest[bgr[c]] > t ? 1 : 0);
        idx[x] = uint8_t(levels[2] + 6 * levels[1] + 36 * levels[0]);
    }
}

void OrderedRow4(const uint8_t* bgr, int32_t width, int32_t stored, uint8_t* idx) {
    const size_t column = size_t(stored & 15);
    for (int32_t x = 0; x < width; ++x, bgr += 3) {
        const int t = kThresholds4[size_t(x & 15)][column];
        const int b = bgr[0], g = bgr[1], r = bgr[2];
        if (r != g || g != b) {
            idx[x] = uint8_t((r > t ? 1 : 0) + (g > t ? 2 : 0) + (b > t ? 4 : 0) +
                             (r > 128 || g > 128 || b > 128 ? 8 : 0));
        } else if (r < 128) {
            idx[x] = r > t / 2 ? 8 : 0;
        } else if (r < 192) {
            idx[x] = r > t / 4 + 128 ? 7 : 8;
        } else {
            idx[x] = r < t / 4 + 192 ? 7 : 15;
        }
    }
}

// Two indexes a byte, the first in the high nibble; the row's padding stays
// as allocated (zero).
void PackRow4(const uint8_t* idx, int32_t width, uint8_t* row) {
    int32_t x = 0;
    for (; x + 1 < width; x += 2)
        row[x >> 1] = uint8_t((idx[x] << 4) | idx[x + 1]);
    if (x < width) row[x >> 1] = uint8_t(idx[x] << 4);
}

// ---- The engine ----

struct Reduction {
    uint8_t targetBits;
    uint8_t method;
    const RGBQUAD* palette; // the entries whose colours the error is measured against
    enum class Error { Whole, ThreeQuarters, Scaled } error = Error::Whole;
    int factor = 256; // for Error::Scaled
};

template <class Lookup>
KervErrorCode RunReduction(ProgressReporter& progress, const DIBLock& src, const DIBLock& dst,
                           const Reduction& job, const Lookup& look) {
    const int32_t width = src.width(), height = src.height();
    SourceRows rows;
    if (!rows.init(src)) return KERV_NO_MEMORY;
    // Indexes go straight into an 8-bit row; a 4-bit row is packed from here.
    KBuffer indexRow;
    if (job.targetBits == 4 && !indexRow.allocate(size_t(width))) return KERV_NO_MEMORY;
    KBuffer errors;
    const size_t errorRow = (size_t(width) + 2) * 3;
    if (job.method == kDiffuse && !errors.allocate(2 * errorRow * sizeof(int16_t)))
        return KERV_NO_MEMORY;
    int16_t* in = errors.as<int16_t>();
    int16_t* out = in ? in + errorRow : nullptr;

    progress.begin(height);
    for (int32_t done = 0; done < height; ++done) {
        if (progress.step(done)) return KERV_STOPPED;
        const int32_t stored = height - 1 - done;
        const uint8_t* bgr = rows.row(stored);
        uint8_t* idx = job.targetBits == 8 ? dst.row(stored) : indexRow.data();
        switch (job.method) {
        case kNearest:
            NearestRow(bgr, width, look, idx);
            break;
        case kOrdered:
            if (job.targetBits == 8)
                OrderedRow8(bgr, width, stored, idx);
            else
                OrderedRow4(bgr, width, stored, idx);
            break;
        default:
            std::swap(in, out);
            switch (job.error) {
            case Reduction::Error::Whole:
                DiffuseRow(bgr, width, look, job.palette, in, out, WholeError{}, idx);
                break;
            case Reduction::Error::ThreeQuarters:
                DiffuseRow(bgr, width, look, job.palette, in, out, ThreeQuarterError{}, idx);
                break;
            case Reduction::Error::Scaled:
                DiffuseRow(bgr, width, look, job.palette, in, out, ScaledError{job.factor}, idx);
                break;
            }
            break;
        }
        if (job.targetBits == 4) PackRow4(idx, width, dst.row(stored));
    }
    progress.end();
    return KERV_OK;
}

// The result: the source's size, the target depth, 16 or 256 entries from
// `palette`, resolution 0.
KHANDLE AllocResult(const DIBLock& src, uint8_t targetBits, const RGBQUAD* palette,
                    uint32_t important) {
    const uint32_t entries = 1u << targetBits;
    KOwnedHandle out(AllocDIB(src.width(), src.height(), targetBits, entries));
    if (!out) return nullptr;
    DIBLock d(out.get());
    if (!d) return nullptr;
    d->biClrImportant = important;
    for (uint32_t i = 0; i < entries; ++i) {
        d.palette()[i] = palette[i];
        d.palette()[i].rgbReserved = 0;
    }
    return out.release();
}

// Runs a reduction into a new result and hands it over on success.
template <class Lookup>
KervErrorCode Reduce(ProgressReporter& progress, const DIBLock& src, KHANDLE* result,
                     const Reduction& job, const RGBQUAD* resultPalette, uint32_t important,
                     const Lookup& look) {
    KOwnedHandle out(AllocResult(src, job.targetBits, resultPalette, important));
    if (!out) return KERV_NO_MEMORY;
    {
        DIBLock dst(out.get());
        if (!dst) return KERV_NO_MEMORY;
        const KervErrorCode rc = RunReduction(progress, src, dst, job, look);
        if (rc != KERV_OK) return rc;
    }
    *result = out.release();
    return KERV_OK;
}

// ---- The colour map file ----

// Reads one map into `map`. 800 when the file cannot be opened, 202 when
// fewer than kMapBytes can be read at the offset or an entry is no index of
// the palette (a damaged file must not index past it).
KervErrorCode ReadColorMap(const std::string& path, uint32_t offset, uint32_t entries,
                           uint8_t* map) {
    std::FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
    if (!f) return KERV_NO_COLOR_TABLE;
    const bool read =
        std::fseek(f, long(offset), SEEK_SET) == 0 && std::fread(map, 1, kMapBytes, f) == kMapBytes;
    std::fclose(f);
    if (!read) return KERV_FILE_READ;
    if (std::any_of(map, map + kMapBytes, [entries](uint8_t v) { return v >= entries; }))
        return KERV_FILE_READ;
    return KERV_OK;
}

// ---- DitherToPalette's cache ----

// Lives from the first call to ReleaseDitherCache; remembers the palette it
// was filled for. One per thread: a batch converting several files at once
// reduces each on its own thread, and a thread's cache goes with it.
struct PaletteCache {
    KHANDLE block = nullptr;
    RGBQUAD palette[256] = {};
    uint32_t count = 0;

    PaletteCache() = default;
    PaletteCache(const PaletteCache&) = delete;
    PaletteCache& operator=(const PaletteCache&) = delete;
    ~PaletteCache() {
        if (block) KML_GlobalFree(block);
    }
    bool serves(const RGBQUAD* p, uint32_t n) const {
        return block && n == count && std::memcmp(p, palette, n * sizeof *p) == 0;
    }
};
thread_local PaletteCache gPaletteCache;

// Frees a cache that the current call made if the call does not succeed:
// a failure leaves the cache as the call found it.
class NewCacheGuard {
  public:
    void madeHere() { armed_ = true; }
    void keep() { armed_ = false; }
    ~NewCacheGuard() {
        if (armed_) ReleaseDitherCache();
    }

  private:
    bool armed_ = false;
};

} // namespace

void ReleaseDitherCache() {
    if (gPaletteCache.block) KML_GlobalFree(gPaletteCache.block);
    gPaletteCache.block = nullptr;
    gPaletteCache.count = 0;
}

KervErrorCode DitherToStandardPalette(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                                      uint8_t targetBits, uint8_t method, uint8_t reduceBleed,
                                      const std::string& mapPath) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!TargetKnown(targetBits)) return KERV_INVALID_PARAM;
    if (!MethodKnown(method)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !DepthReducible(src)) return KERV_INVALID_PARAM;

    const RGBQUAD* palette = targetBits == 4 ? kWindows16Colors : kStandardCube256;
    KBuffer map;
    if (method != kOrdered) {
        if (!map.allocate(kMapBytes)) return KERV_NO_MEMORY;
        const KervErrorCode rc = ReadColorMap(
            mapPath, targetBits == 4 ? kMap16Offset : kMap256Offset, 1u << targetBits, map.data());
        if (rc != KERV_OK) return rc;
    }
    ProgressReporter progress(status);
    Reduction job{targetBits, method, palette};
    if (reduceBleed) job.error = Reduction::Error::ThreeQuarters;
    return Reduce(progress, src, result, job, palette, 1u << targetBits, MapLookup{map.data()});
}

KervErrorCode DitherToPalette(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                              uint8_t targetBits, const RGBQUAD* palette, uint8_t method,
                              uint8_t reduceBleed, uint16_t count) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!TargetKnown(targetBits)) return KERV_INVALID_PARAM;
    if (!palette) return KERV_INVALID_PARAM;
    if (!MethodForGivenPalette(method)) return KERV_INVALID_PARAM;
    if (!CountFits(count, targetBits)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !DepthReducible(src)) return KERV_INVALID_PARAM;

    NewCacheGuard guard;
    const bool refill = !gPaletteCache.serves(palette, count);
    if (!gPaletteCache.block) {
        gPaletteCache.block = KML_GlobalAlloc(KMEM_MOVEABLE, kCacheEntries * sizeof(uint16_t));
        if (!gPaletteCache.block) return KERV_NO_MEMORY;
        guard.madeHere();
    }
    KLock cache(gPaletteCache.block);
    if (!cache) return KERV_NO_MEMORY;
    if (refill) {
        std::memset(cache.get(), 0xFF, kCacheEntries * sizeof(uint16_t));
        std::memcpy(gPaletteCache.palette, palette, count * sizeof *palette);
        gPaletteCache.count = count;
    }

    ProgressReporter progress(status);
    Reduction job{targetBits, method, palette};
    if (reduceBleed) job.error = Reduction::Error::ThreeQuarters;
    const PaletteSearch search(palette, count);
    const KervErrorCode rc = Reduce(progress, src, result, job, palette, 1u << targetBits,
                                    CacheLookup{cache.as<uint16_t>(), &search});
    if (rc == KERV_OK) guard.keep();
    return rc;
}

KervErrorCode DitherDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                        uint8_t targetBits, const RGBQUAD* palette, uint8_t method,
                        uint8_t reduceBleed, uint16_t count, int strengthPercent) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!TargetKnown(targetBits)) return KERV_INVALID_PARAM;
    if (!MethodKnown(method)) return KERV_INVALID_PARAM;
    if (!CountFits(count, targetBits)) return KERV_INVALID_PARAM;
    if (!StrengthKnown(strengthPercent)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !DepthReducible(src)) return KERV_INVALID_PARAM;
    if (!palette) palette = targetBits == 4 ? kWindows16Colors : kStandardCube256;

    ColorMatchCacheOwner cache;
    if (method != kOrdered && !cache.create(count)) return KERV_NO_MEMORY;

    ProgressReporter progress(status);
    Reduction job{targetBits, method, palette};
    int64_t p = strengthPercent;
    if (reduceBleed) p = (3 * p) >> 2;
    if (p != 100) {
        job.error = Reduction::Error::Scaled;
        // Past 2^17 every non-zero error already pushes a component beyond
        // 0..255 (at least 512 either way), so a larger factor changes
        // nothing and the products stay within 32 bits.
        job.factor = int(std::min<int64_t>((p * 256 + 50) / 100, int64_t{1} << 17));
    }
    return Reduce(progress, src, result, job, palette, count,
                  MatchLookup{palette, count, cache.get()});
}

KervErrorCode OptimizedDitherDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                                 uint16_t colours, uint8_t method, uint8_t targetBits,
                                 bool includeWindowsColors, int strengthPercent) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!TargetKnown(targetBits)) return KERV_INVALID_PARAM;
    const int room = (1 << targetBits) - (includeWindowsColors ? 20 : 0);
    if (colours < 1 || colours > room) return KERV_INVALID_PARAM;
    {
        DIBLock src(source);
        if (!src || (src.bitCount() != 8 && src.bitCount() != 24)) return KERV_INVALID_PARAM;
    }
    RGBQUAD palette[256] = {};
    uint16_t count = 0;
    {
        PaletteAccumulator accumulator;
        if (KervErrorCode rc = accumulator.Begin(kPaletteMedianCut, colours, 8, includeWindowsColors))
            return rc;
        if (KervErrorCode rc = accumulator.AddImage(source)) return rc;
        count = accumulator.Generate(palette, includeWindowsColors);
    }
    if (includeWindowsColors) count = static_cast<uint16_t>(count + 20);
    return DitherDIB(status, source, result, targetBits, palette, method, 0, count, strengthPercent);
}
