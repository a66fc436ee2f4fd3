// Wind and motion blur.
//
// Wind is a running value carried along each row, a chain that cannot be
// split; each step is one table look-up, d -> d x f / 100, for the
// difference d between the running value and the pixel.
//
// Motion blur samples at (256 x + k dx) >> 8 = x + ((k dx) >> 8), so the
// offset of sample k does not depend on the pixel: every sample is a fixed
// shift of the picture. The offsets grow steadily with k, so once a sample
// leaves the image every further one in that direction stays outside, and
// "stop at the first sample outside" keeps exactly the samples inside. In
// an output row the samples kept by the row limits are the same for every
// pixel, and in the columns where none of them leaves the image sideways
// the row is a plain sum of shifted source rows with one divisor:
//
//   output row y:  | edge |          interior           | edge |
//                    per pixel     sum of whole shifted     per pixel
//                                  rows, one division
#include "imaging/smear.h"

#include "imaging/checks.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// ---- Checks: one line per rule ----

using namespace imaging_checks;

constexpr int kMaxIntensity = 200;

bool Depth8Or24(const DIBLock& d) {
    return d.bitCount() == 8 || d.bitCount() == 24;
}
bool NoOtherWind(int mode, int reserved) {
    return mode == 0 && reserved == 0;
}
bool StrengthUsable(int strength) {
    return strength >= 1;
}
bool SweepKnown(int direction) {
    return direction == 0 || direction == 1;
}
bool IntensityUsable(int intensity) {
    return intensity >= 0 && intensity <= kMaxIntensity;
}

// ---- Output block ----

// A block like the source's (header, palette, size); the pixels are left to
// the caller, which writes every byte.
KHANDLE NewLike(const DIBLock& src) {
    const size_t head = sizeof(BITMAPINFOHEADER) + DIBPaletteBytes(src.header());
    const size_t image = size_t(src.stride()) * size_t(src.height());
    KOwnedHandle out(KML_GlobalAlloc(KMEM_MOVEABLE, head + image));
    if (!out) return nullptr;
    KLock l(out.get());
    if (!l) return nullptr;
    std::memcpy(l.get(), src.header(), head);
    l.as<BITMAPINFOHEADER>()->biSizeImage = static_cast<uint32_t>(image);
    return out.release();
}

inline void ClearPadding(uint8_t* row, size_t used, size_t stride) {
    std::memset(row + used, 0, stride - used);
}

// ---- Wind ----

// f = strength + 78, a strength above 20 counting as 0.
int WindFactor(int strength) {
    return (strength > 20 ? 0 : strength) + 78;
}

// step[d + 255] = d x f / 100, truncated toward zero as C++ divides.
struct WindTable {
    int16_t step[511];
    explicit WindTable(int f) {
        for (int d = -255; d <= 255; ++d)
            step[d + 255] = static_cast<int16_t>(d * f / 100);
    }
};

// The result lies between the pixel and the running value, so it never
// leaves 0..255.
template <int C>
void WindRow(const uint8_t* in, uint8_t* out, int32_t W, bool rightToLeft, const WindTable& t) {
    const int64_t stepBytes = rightToLeft ? -C : C;
    int64_t at = rightToLeft ? int64_t(W - 1) * C : 0;
    int running[C];
    for (int ch = 0; ch < C; ++ch)
        running[ch] = in[at + ch];
    for (int32_t i = 0; i < W; ++i, at += stepBytes) {
        for (int ch = 0; ch < C; ++ch) {
            const int p = in[at + ch];
            const int q = p + t.step[running[ch] - p + 255];
            out[at + ch] = static_cast<uint8_t>(q);
            running[ch] = q;
        }
    }
}

template <int C>
bool WindRows(ProgressReporter& p, const DIBLock& src, const DIBLock& dst, bool rightToLeft,
              const WindTable& t) {
    const int32_t W = src.width();
    const size_t used = size_t(W) * C, stride = dst.stride();
    for (int32_t y = 0; y < src.height(); ++y) {
        if (p.step(y)) return false;
        WindRow<C>(src.row(y), dst.row(y), W, rightToLeft, t);
        ClearPadding(dst.row(y), used, stride);
    }
    return true;
}

// ---- Motion blur: the step ----

// One step along the line in 1/256 pixel; dy never points down.
struct Step {
    int32_t dx, dy;
};

// Correctly rounded single-precision sine and cosine of a whole number of
// degrees (taken through double, so no libm's sinf decides).
float SinDegrees(int a) {
    return static_cast<float>(std::sin(double(float(a) * 0.017453292f)));
}
float CosDegrees(int a) {
    return static_cast<float>(std::cos(double(float(a) * 0.017453292f)));
}

int32_t Scaled(float v) {
    const float thousandths = v * 1000.0f;
    return static_cast<int32_t>(thousandths) * 256 / 1000;
}

Step StepFor(int direction) {
    int a = 450 - direction;
    if (a > 360) a -= 360;
    if (a > 180) a -= 180;
    if (a < 90) return {Scaled(CosDegrees(a)), Scaled(SinDegrees(a))};
    if (a == 90) return {0, 256};
    if (a < 180) return {-Scaled(CosDegrees(180 - a)), Scaled(SinDegrees(180 - a))};
    return {-256, 0};
}

// ---- Motion blur: the plan ----

struct Offset {
    int32_t x, y;
};

// Sample offsets in whole pixels, behind[k - 1] and ahead[k - 1] for sample
// k; there are at most kMaxIntensity of them.
struct Samples {
    Offset behind[kMaxIntensity];
    Offset ahead[kMaxIntensity];
    int behindCount, aheadCount;

    Samples(Step s, int intensity)
        : behindCount(intensity / 2), aheadCount(intensity - intensity / 2) {
        // >> on a negative value rounds down, as the sampling rule requires.
        for (int k = 1; k <= behindCount; ++k)
            behind[k - 1] = {(-k * s.dx) >> 8, (-k * s.dy) >> 8};
        for (int k = 1; k <= aheadCount; ++k)
            ahead[k - 1] = {(k * s.dx) >> 8, (k * s.dy) >> 8};
    }
};

// How many of the first samples stay inside 0..size-1 along one axis from
// position `at`; they leave for good once one has left.
int KeptAlong(const Offset* o, int count, int32_t at, int32_t size, int32_t Offset::*axis) {
    int k = 0;
    while (k < count && at + o[k].*axis >= 0 && at + o[k].*axis < size)
        ++k;
    return k;
}

// sum / count as (sum x m) >> shift, exact for every sum up to
// 255 x count when sum x m stays within 32 bits; m = 0 when no such pair
// exists.
struct Reciprocal {
    uint32_t m = 0;
    int shift = 0;
};

constexpr Reciprocal ReciprocalOf(uint32_t count) {
    const uint64_t maxSum = 255 * uint64_t(count);
    for (int k = 0; k < 40; ++k) {
        const uint64_t p = uint64_t(1) << k;
        const uint64_t m = (p + count - 1) / count;
        if (m * maxSum > UINT32_MAX) break;
        // floor(n m / 2^k) = floor(n / count) for all n <= maxSum when
        // maxSum (m count - 2^k) < 2^k.
        if (maxSum * (m * count - p) < p) return {static_cast<uint32_t>(m), k};
    }
    return {};
}

// Every average takes at most kMaxIntensity + 1 pixels.
constexpr bool EveryCountHasAReciprocal() {
    for (uint32_t c = 1; c <= kMaxIntensity + 1; ++c)
        if (ReciprocalOf(c).m == 0) return false;
    return true;
}
static_assert(EveryCountHasAReciprocal());

// f(i) for i in [0, n): blocks of 16 with a fixed trip count, which the
// compiler turns into vector code at -O2 already, then the tail.
template <class F> inline void ForEachBlocked(size_t n, F f) {
    size_t i = 0;
    for (; i + 16 <= n; i += 16)
        for (size_t k = 0; k < 16; ++k)
            f(i + k);
    for (; i < n; ++i)
        f(i);
}

// ---- Motion blur: the rows ----

// One output pixel by the rule itself: the pixel, then the samples behind
// and ahead until one leaves the image sideways (the row limits are
// already in `behind` and `ahead`).
template <int C>
void BlurPixel(const DIBLock& src, const Samples& s, int behind, int ahead, int32_t x, int32_t y,
               uint8_t* out) {
    const int32_t W = src.width();
    uint32_t sum[C];
    const uint8_t* p = src.row(y) + size_t(x) * C;
    for (int ch = 0; ch < C; ++ch)
        sum[ch] = p[ch];
    uint32_t count = 1;
    const Offset* lists[2] = {s.behind, s.ahead};
    const int counts[2] = {behind, ahead};
    for (int side = 0; side < 2; ++side) {
        for (int k = 0; k < counts[side]; ++k) {
            const Offset o = lists[side][k];
            if (x + o.x < 0 || x + o.x >= W) break;
            const uint8_t* q = src.row(y + o.y) + size_t(x + o.x) * C;
            for (int ch = 0; ch < C; ++ch)
                sum[ch] += q[ch];
            ++count;
        }
    }
    for (int ch = 0; ch < C; ++ch)
        out[ch] = static_cast<uint8_t>(sum[ch] / count);
}

template <int C>
void BlurRow(const DIBLock& src, const Samples& s, int32_t y, uint16_t* acc, uint8_t* out) {
    const int32_t W = src.width(), H = src.height();
    const int behind = KeptAlong(s.behind, s.behindCount, y, H, &Offset::y);
    const int ahead = KeptAlong(s.ahead, s.aheadCount, y, H, &Offset::y);

    // Columns where no kept sample leaves the image sideways.
    int32_t left = 0, right = 0;
    for (int k = 0; k < behind; ++k)
        left = std::max(left, -s.behind[k].x), right = std::max(right, s.behind[k].x);
    for (int k = 0; k < ahead; ++k)
        left = std::max(left, -s.ahead[k].x), right = std::max(right, s.ahead[k].x);
    int32_t x0 = left, x1 = W - right;
    if (x0 >= x1) x0 = x1 = W;

    // The interior: the pixel plus at most kMaxIntensity samples, at most
    // 201 x 255 = 51255, add up in 16 bits.
    if (x0 < x1) {
        const size_t n = size_t(x1 - x0) * C;
        const uint8_t* __restrict first = src.row(y) + size_t(x0) * C;
        uint16_t* __restrict a = acc;
        ForEachBlocked(n, [&](size_t j) { a[j] = first[j]; });
        const Offset* lists[2] = {s.behind, s.ahead};
        const int counts[2] = {behind, ahead};
        for (int side = 0; side < 2; ++side) {
            for (int k = 0; k < counts[side]; ++k) {
                const Offset o = lists[side][k];
                const uint8_t* __restrict q = src.row(y + o.y) + size_t(x0 + o.x) * C;
                ForEachBlocked(n, [&](size_t j) { a[j] = uint16_t(a[j] + q[j]); });
            }
        }
        const Reciprocal div = ReciprocalOf(uint32_t(1 + behind + ahead));
        const uint32_t m = div.m;
        const int shift = div.shift;
        uint8_t* __restrict o = out + size_t(x0) * C;
        ForEachBlocked(n, [&](size_t j) { o[j] = uint8_t((uint32_t(a[j]) * m) >> shift); });
    }
    for (int32_t x = 0; x < x0; ++x)
        BlurPixel<C>(src, s, behind, ahead, x, y, out + size_t(x) * C);
    for (int32_t x = x1; x < W; ++x)
        BlurPixel<C>(src, s, behind, ahead, x, y, out + size_t(x) * C);
}

template <int C>
bool BlurRows(ProgressReporter& p, const DIBLock& src, const DIBLock& dst, const Samples& s,
              uint16_t* acc) {
    const size_t used = size_t(src.width()) * C, stride = dst.stride();
    for (int32_t y = 0; y < src.height(); ++y) {
        if (p.step(y)) return false;
        BlurRow<C>(src, s, y, acc, dst.row(y));
        ClearPadding(dst.row(y), used, stride);
    }
    return true;
}

} // namespace

KervErrorCode WindDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int16_t mode,
                      int16_t reserved, int16_t strength, int16_t direction) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!NoOtherWind(mode, reserved)) return KERV_INVALID_PARAM;
    if (!StrengthUsable(strength)) return KERV_INVALID_PARAM;
    if (!SweepKnown(direction)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !Depth8Or24(src)) return KERV_INVALID_PARAM;

    ProgressReporter p(status);
    KOwnedHandle out(NewLike(src));
    if (!out) return KERV_NO_MEMORY;
    DIBLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;

    const WindTable table(WindFactor(strength));
    const bool rightToLeft = direction == 1;
    p.begin(src.height());
    const bool done = src.bitCount() == 24 ? WindRows<3>(p, src, dst, rightToLeft, table)
                                           : WindRows<1>(p, src, dst, rightToLeft, table);
    if (!done) return KERV_STOPPED;
    p.end();
    dst = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}

KervErrorCode MotionBlurDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                            int16_t intensity, int16_t direction) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!IntensityUsable(intensity)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !Depth8Or24(src)) return KERV_INVALID_PARAM;

    if (status) status->passCount = 0;
    ProgressReporter p(status);
    KOwnedHandle out(NewLike(src));
    if (!out) return KERV_NO_MEMORY;
    DIBLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;
    const int C = src.bitCount() / 8;
    KBuffer acc;
    if (!acc.allocate(sizeof(uint16_t) * size_t(src.width()) * size_t(C), KMEM_MOVEABLE))
        return KERV_NO_MEMORY;

    const Samples samples(StepFor((direction % 360 + 360) % 360), intensity);
    p.begin(src.height());
    const bool done = C == 3 ? BlurRows<3>(p, src, dst, samples, acc.as<uint16_t>())
                             : BlurRows<1>(p, src, dst, samples, acc.as<uint16_t>());
    if (!done) return KERV_STOPPED;
    p.end();
    dst = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}
