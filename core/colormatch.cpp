// The nearest-colour rule and its cache.
//
// Without a cache the palette is scanned in index order. The cache answers
// repeated colours from a 4096-slot hash, and new ones by scanning the
// palette in the order of each entry's least possible distance to the
// colour's 64 x 64 x 64 cell, stopping once no further entry can win.
#include "core/dib.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kSlots = 4096;
constexpr int kCells = 64;

struct HashTables {
    std::array<uint16_t, 256> r, g, b;
    HashTables() {
        for (int v = 0; v < 256; ++v) {
            r[v] = static_cast<uint16_t>((61 * v) % 4096);
            g[v] = static_cast<uint16_t>((25 * v) % 4096);
            b[v] = static_cast<uint16_t>((42 * v) % 4096);
        }
    }
};

const HashTables& Hash() {
    static const HashTables t;
    return t;
}

inline uint32_t Dist(uint8_t r, uint8_t g, uint8_t b, const uint8_t* e) {
    const int db = int{b} - e[0], dg = int{g} - e[1], dr = int{r} - e[2];
    return static_cast<uint32_t>(db * db + dg * dg + dr * dr);
}

// Squared distance from v to the range [lo, lo + 63].
inline uint32_t AxisDist(int v, int lo) {
    const int hi = lo + 63;
    const int d = v < lo ? lo - v : (v > hi ? v - hi : 0);
    return static_cast<uint32_t>(d * d);
}

#pragma pack(push, 1)
struct CellRecord {  // 5 bytes: index and least distance, as sorted
    uint8_t index;
    uint32_t dist;
};
#pragma pack(pop)

int CompareRecords(const void* a, const void* b) {
    const auto* x = static_cast<const CellRecord*>(a);
    const auto* y = static_cast<const CellRecord*>(b);
    if (x->dist != y->dist) return x->dist < y->dist ? -1 : 1;
    return int{x->index} - int{y->index};
}

}  // namespace

struct ColorMatchCache {
    uint32_t entries = 0;
    KHANDLE keysH = nullptr, indexH = nullptr, cellIndexH = nullptr, cellDistH = nullptr;
    uint32_t* keys = nullptr;        // 4096
    uint16_t* index = nullptr;       // 4096
    uint8_t* cellIndex = nullptr;    // 64 x entries
    uint32_t* cellDist = nullptr;    // 64 x entries
    bool cellSorted[kCells] = {};
    bool keysCleared = false;
    int lockCount = 0;
};

ColorMatchCache* CreateColorMatchCache(uint32_t entryCount) {
    if (entryCount == 0 || entryCount > 256) return nullptr;
    auto* c = new (std::nothrow) ColorMatchCache;
    if (!c) return nullptr;
    c->entries = entryCount;
    c->keysH = KML_GlobalAlloc(KMEM_MOVEABLE, kSlots * sizeof(uint32_t));
    c->indexH = KML_GlobalAlloc(KMEM_MOVEABLE, kSlots * sizeof(uint16_t));
    c->cellIndexH = KML_GlobalAlloc(KMEM_MOVEABLE, size_t{kCells} * entryCount);
    c->cellDistH = KML_GlobalAlloc(KMEM_MOVEABLE, size_t{kCells} * entryCount * sizeof(uint32_t));
    if (!c->keysH || !c->indexH || !c->cellIndexH || !c->cellDistH) {
        FreeColorMatchCache(c);
        return nullptr;
    }
    return c;
}

KervErrorCode LockColorMatchCache(ColorMatchCache* c) {
    if (!c) return KERV_INVALID_PARAM;
    if (c->lockCount > 0) {
        ++c->lockCount;
        return KERV_OK;
    }
    c->keys = static_cast<uint32_t*>(KML_GlobalLock(c->keysH));
    c->index = static_cast<uint16_t*>(KML_GlobalLock(c->indexH));
    c->cellIndex = static_cast<uint8_t*>(KML_GlobalLock(c->cellIndexH));
    c->cellDist = static_cast<uint32_t*>(KML_GlobalLock(c->cellDistH));
    c->lockCount = 1;
    if (!c->keys || !c->index || !c->cellIndex || !c->cellDist) {
        UnlockColorMatchCache(c);
        return KERV_NO_MEMORY;
    }
    if (!c->keysCleared) {
        std::memset(c->keys, 0xFF, kSlots * sizeof(uint32_t));
        c->keysCleared = true;
    }
    return KERV_OK;
}

void UnlockColorMatchCache(ColorMatchCache* c) {
    if (!c || c->lockCount == 0) return;
    if (--c->lockCount > 0) return;
    if (c->keys) KML_GlobalUnlock(c->keysH);
    if (c->index) KML_GlobalUnlock(c->indexH);
    if (c->cellIndex) KML_GlobalUnlock(c->cellIndexH);
    if (c->cellDist) KML_GlobalUnlock(c->cellDistH);
    c->keys = nullptr;
    c->index = nullptr;
    c->cellIndex = nullptr;
    c->cellDist = nullptr;
}

void FreeColorMatchCache(ColorMatchCache* c) {
    if (!c) return;
    while (c->lockCount > 0) UnlockColorMatchCache(c);
    for (KHANDLE h : {c->keysH, c->indexH, c->cellIndexH, c->cellDistH})
        if (h) KML_GlobalFree(h);
    delete c;
}

bool ColorMatchCacheOwner::create(uint32_t entryCount) {
    reset();
    cache_ = CreateColorMatchCache(entryCount);
    if (!cache_) return false;
    if (LockColorMatchCache(cache_) != KERV_OK) {
        reset();
        return false;
    }
    locked_ = true;
    return true;
}

void ColorMatchCacheOwner::reset() {
    if (cache_) {
        if (locked_) UnlockColorMatchCache(cache_);
        FreeColorMatchCache(cache_);
    }
    cache_ = nullptr;
    locked_ = false;
}

namespace {

uint16_t SearchPlain(uint8_t r, uint8_t g, uint8_t b, const uint8_t* e, uint32_t count,
                     uint32_t entrySize) {
    uint32_t best = UINT32_MAX;
    uint16_t bestIndex = 0;
    for (uint32_t i = 0; i < count; ++i, e += entrySize) {
        const uint32_t d = Dist(r, g, b, e);
        if (d < best) {
            best = d;
            bestIndex = static_cast<uint16_t>(i);
            if (d == 0) break;
        }
    }
    return bestIndex;
}

void SortCell(ColorMatchCache* c, int cell, const uint8_t* entries, uint32_t entrySize) {
    const int r0 = (cell >> 4) * 64, g0 = ((cell >> 2) & 3) * 64, b0 = (cell & 3) * 64;
    CellRecord rec[256];
    for (uint32_t i = 0; i < c->entries; ++i) {
        const uint8_t* e = entries + size_t{i} * entrySize;
        rec[i].index = static_cast<uint8_t>(i);
        rec[i].dist = AxisDist(e[0], b0) + AxisDist(e[1], g0) + AxisDist(e[2], r0);
    }
    std::qsort(rec, c->entries, sizeof(CellRecord), CompareRecords);
    uint8_t* idx = c->cellIndex + size_t(cell) * c->entries;
    uint32_t* dist = c->cellDist + size_t(cell) * c->entries;
    for (uint32_t i = 0; i < c->entries; ++i) {
        idx[i] = rec[i].index;
        dist[i] = rec[i].dist;
    }
    c->cellSorted[cell] = true;
}

}  // namespace

uint16_t FindNearestPaletteIndex(uint8_t red, uint8_t green, uint8_t blue, const void* entries,
                                 uint32_t count, uint32_t entrySize, ColorMatchCache* cache) {
    if (!entries || count == 0) return 0;
    const auto* e = static_cast<const uint8_t*>(entries);
    // A cache serves only the palette size it was made for, and only while locked.
    if (!cache || cache->lockCount == 0 || cache->entries != count)
        return SearchPlain(red, green, blue, e, count, entrySize);

    const HashTables& h = Hash();
    const uint32_t slot = h.r[red] ^ h.g[green] ^ h.b[blue];
    const uint32_t key = (uint32_t{red} << 16) | (uint32_t{green} << 8) | blue;
    if (cache->keys[slot] == key) return cache->index[slot];

    const int cell = (red >> 6) * 16 + (green >> 6) * 4 + (blue >> 6);
    if (!cache->cellSorted[cell]) SortCell(cache, cell, e, entrySize);
    const uint8_t* order = cache->cellIndex + size_t(cell) * count;
    const uint32_t* bound = cache->cellDist + size_t(cell) * count;
    uint32_t best = UINT32_MAX;
    uint16_t bestIndex = 0;
    for (uint32_t k = 0; k < count; ++k) {
        if (best < bound[k]) break;
        const uint32_t i = order[k];
        const uint32_t d = Dist(red, green, blue, e + size_t{i} * entrySize);
        if (d < best || (d == best && i < bestIndex)) {
            best = d;
            bestIndex = static_cast<uint16_t>(i);
            if (d == 0) break;
        }
    }
    cache->keys[slot] = key;
    cache->index[slot] = bestIndex;
    return bestIndex;
}
