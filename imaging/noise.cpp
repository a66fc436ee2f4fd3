// Noise.
//
// The generator's state is one sequential chain (each number needs the one
// before), so the loops do nothing but draw and add: the uniform offsets
// for the 256 possible noise values are computed once per call.
#include "imaging/noise.h"

#include "core/random.h"
#include "imaging/checks.h"

namespace {

// ---- Checks: one line per rule ----

using namespace imaging_checks;

constexpr uint16_t kRandom = 0, kUniform = 1;

bool DepthNoised(const DIBLock& d) {
    return d.bitCount() == 8 || d.bitCount() == 24;
}
bool TypeKnown(uint16_t type) {
    return type == kRandom || type == kUniform;
}
bool AmountInRange(int16_t amount) {
    return amount >= 0 && amount <= 100;
}

// ---- Kernels ----

// The 8-bit index of a noise value: the value is index - 128.
inline int NoiseIndex() {
    return (KervRand() >> 7) & 255;
}

inline uint8_t Clamp(int v) {
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Uniform: one draw per sample, in memory order (blue, green, red for 24
// bits), so one loop serves both depths.
void UniformRow(uint8_t* row, size_t samples, const int (&offset)[256]) {
    for (size_t i = 0; i < samples; ++i)
        row[i] = Clamp(row[i] + offset[NoiseIndex()]);
}

// Random: one draw decides whether the pixel is disturbed at all.
template <int C> void RandomRow(uint8_t* row, int32_t width, int amount) {
    for (int32_t x = 0; x < width; ++x) {
        if (KervRand() / 327 >= amount) continue;
        uint8_t* p = row + size_t(x) * C;
        for (int ch = 0; ch < C; ++ch)
            p[ch] = Clamp(p[ch] + NoiseIndex() - 128);
    }
}

} // namespace

KervErrorCode AddNoiseDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                          uint16_t type, int32_t amount) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    {
        DIBLock src(source);
        if (!src || !Uncompressed(src) || !DepthNoised(src)) return KERV_INVALID_PARAM;
    }
    const auto amount16 = static_cast<int16_t>(amount); // the command slot holds 16 bits
    if (!TypeKnown(type)) return KERV_INVALID_PARAM;
    if (!AmountInRange(amount16)) return KERV_INVALID_PARAM;

    ProgressReporter p(status);
    KHANDLE copy = nullptr;
    if (const KervErrorCode rc = CopyDIB(source, &copy); rc != KERV_OK) return rc;
    KOwnedHandle out(copy);
    DIBLock img(out.get());
    if (!img) return KERV_NO_MEMORY;

    // Uniform: n x amount / 100, truncated toward zero, for n = index - 128.
    int offset[256];
    for (int i = 0; i < 256; ++i)
        offset[i] = (i - 128) * amount16 / 100;

    const int32_t W = img.width(), H = img.height();
    const int C = img.bitCount() / 8;
    p.begin(H);
    for (int32_t y = 0; y < H; ++y) {
        if (p.step(y)) return KERV_STOPPED;
        uint8_t* row = img.row(y);
        if (type == kUniform)
            UniformRow(row, size_t(W) * size_t(C), offset);
        else if (C == 3)
            RandomRow<3>(row, W, amount16);
        else
            RandomRow<1>(row, W, amount16);
    }
    p.end();
    img = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}
