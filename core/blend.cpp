// Lookup tables for layer compositing, built once at start-up.
#include "core/dib.h"
#include "core/random.h"

#include <cmath>

namespace {

constexpr size_t kMultiplySize = 255 * 255 + 1;  // 65026

struct Tables {
    KHANDLE multiplyH = nullptr;
    uint8_t noise[128 * 128] = {};
    uint8_t sqrtTable[256] = {};
    uint32_t division[256 * 256] = {};
    BlendTables view;
};

Tables& T() {
    static Tables* t = new Tables;  // lives for the process; freed tables only drop the block
    return *t;
}

}  // namespace

KervErrorCode InitBlendTables() {
    Tables& t = T();
    if (t.multiplyH) return KERV_OK;
    KOwnedHandle h(KML_GlobalAlloc(KMEM_GHND, kMultiplySize));
    if (!h) return KERV_NO_MEMORY;
    // Locked for the program's lifetime; FreeBlendTables unlocks it.
    auto* mul = static_cast<uint8_t*>(KML_GlobalLock(h.get()));
    if (!mul) return KERV_NO_MEMORY;
    for (size_t n = 0; n < kMultiplySize; ++n) mul[n] = static_cast<uint8_t>((n + 128) / 255);

    KervSrand(1);
    for (auto& v : t.noise) v = static_cast<uint8_t>(KervRand() % 254);
    for (int i = 0; i < 256; ++i)
        t.sqrtTable[i] = static_cast<uint8_t>(std::sqrt(i / 255.0) * 255.0);
    for (uint32_t r = 0; r < 256; ++r) {
        for (uint32_t c = 1; c <= 255; ++c) t.division[r * 256 + c - 1] = (r * 65536 + c / 2) / c;
        t.division[r * 256 + 255] = 0;
    }
    t.multiplyH = h.release();
    t.view = {mul, t.noise, t.sqrtTable, t.division};
    return KERV_OK;
}

void FreeBlendTables() {
    Tables& t = T();
    if (!t.multiplyH) return;
    KML_GlobalUnlock(t.multiplyH);
    KML_GlobalFree(t.multiplyH);
    t.multiplyH = nullptr;
    t.view = {};
}

const BlendTables& GetBlendTables() { return T().view; }
