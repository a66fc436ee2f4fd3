// Perspective.
//
// Every filled line (a column for the horizontal perspective, a row for the
// vertical one) is one box-weight stream: the line's source pixels supply
// `step` units each, output pixels take 100,000 units each. A stream keeps
// its place between output pixels, so the horizontal perspective can walk
// the image row by row, each column of a band carrying its own stream:
//
//            a band of columns (3 KB of a row)
//   row y+1  | s s s s ... |        each column's stream advances by one
//   row y    | s s s s ... |        output pixel per row, reading the rows
//            +-------------+        of its own source column
//
// which touches every stored row once per band instead of once per column.
#include "imaging/perspective.h"

#include "imaging/checks.h"
#include "imaging/deform_shared.h"

#include <algorithm>
#include <cstring>

namespace {

using namespace imaging_checks;
using deform::Background;

bool SideKnown(uint8_t side) {
    return side <= 1;
}
bool AmountInRange(int16_t amount) {
    return amount >= 3 && amount <= 100;
}

constexpr uint32_t kFull = 100000; // units of one output pixel

// Where a stream stands: source pixel i (of n) has `rem` units left; every
// further pixel supplies `step`.
struct Stream {
    int64_t i = 0;
    uint32_t rem = 0;
    uint32_t step = 1;
};

// Moves on to the next source pixel when this one is used up.
inline void Settle(Stream& s) {
    if (s.rem == 0) {
        ++s.i;
        s.rem = s.step;
    }
}

// The next output pixel of a stream over source pixels `srcStep` bytes
// apart. Once the stream stands on the last source pixel, everything that
// is still needed comes from it. One or two source pixels (every squeeze
// to half or less) are taken without the general loop.
template <int C>
inline void Emit(Stream& s, const uint8_t* src, ptrdiff_t srcStep, int64_t n, uint8_t* out) {
    if (s.i >= n - 1) {
        std::memcpy(out, src + (n - 1) * srcStep, C);
        return;
    }
    const uint8_t* p = src + s.i * srcStep;
    if (s.rem >= kFull) { // p x 100,000 / 100,000
        std::memcpy(out, p, C);
        s.rem -= kFull;
        Settle(s);
        return;
    }
    if (s.rem + s.step >= kFull) { // the rest of p, then part of the next
        const uint32_t a = s.rem, b = kFull - s.rem;
        const uint8_t* q = p + srcStep;
        for (int ch = 0; ch < C; ++ch)
            out[ch] = static_cast<uint8_t>((p[ch] * a + q[ch] * b) / kFull);
        ++s.i;
        s.rem = s.step - b;
        Settle(s);
        return;
    }
    uint32_t sum[C] = {};
    uint32_t need = kFull;
    while (need != 0) {
        p = src + s.i * srcStep;
        if (s.i >= n - 1) {
            for (int ch = 0; ch < C; ++ch)
                sum[ch] += p[ch] * need;
            break;
        }
        const uint32_t t = std::min(need, s.rem);
        for (int ch = 0; ch < C; ++ch)
            sum[ch] += p[ch] * t;
        need -= t;
        s.rem -= t;
        Settle(s);
    }
    for (int ch = 0; ch < C; ++ch)
        out[ch] = static_cast<uint8_t>(sum[ch] / kFull);
}

uint32_t StepFor(int64_t filledSpan, int64_t length) {
    return static_cast<uint32_t>(std::max<int64_t>(1, filledSpan * kFull / length));
}

// ---- Horizontal perspective ----

// Column x fills stored rows first..last from a stream of `step`.
struct ColumnPlan {
    int64_t first, last;
    uint32_t step;
};

ColumnPlan PlanColumn(int64_t x, uint8_t side, int64_t H, int64_t h, float a) {
    const auto k = static_cast<int64_t>(static_cast<float>(x) * a);
    const int64_t top = side == 0 ? h - k : k;
    const int64_t bottom = side == 0 ? H - h + k : H - k;
    return ColumnPlan{std::max<int64_t>(top, 0), std::min(bottom, H - 1), StepFor(bottom - top, H)};
}

// A band spans this many bytes of a row: wide enough that walking all rows
// once per band costs little, narrow enough that a stop is seen often.
constexpr int32_t kBandBytes = 3072;

// Columns [x0, x1) row by row, each with its own stream.
template <int C>
void HBand(const DIBLock& src, const DIBLock& dst, const ColumnPlan* plan, Stream* streams,
           int32_t x0, int32_t x1, const Background& bg) {
    const int64_t H = src.height();
    const ptrdiff_t stride = src.stride();
    for (int32_t x = x0; x < x1; ++x)
        streams[x - x0] = Stream{0, plan[x - x0].step, plan[x - x0].step};
    for (int64_t y = 0; y < H; ++y) {
        uint8_t* out = dst.row(int32_t(y));
        for (int32_t x = x0; x < x1; ++x) {
            const ColumnPlan& c = plan[x - x0];
            uint8_t* o = out + size_t(x) * C;
            if (y < c.first || y > c.last)
                deform::FillBackground<C>(o, 1, C, bg);
            else
                Emit<C>(streams[x - x0], src.bits() + size_t(x) * C, stride, H, o);
        }
    }
}

// ---- Vertical perspective ----

struct RowPlan {
    int64_t first, last; // columns
    uint32_t step;
};

// The slope constants of one side.
struct VGeometry {
    uint8_t side;
    int64_t W, h;
    float m;
    int64_t c, c0, c1;
    VGeometry(uint8_t s, int64_t width, int64_t height, int64_t hh) : side(s), W(width), h(hh) {
        m = static_cast<float>(height) / static_cast<float>(h);
        c = static_cast<int64_t>(static_cast<float>(W) * m);
        c0 = static_cast<int64_t>(static_cast<float>(h) * m);
        c1 = static_cast<int64_t>(-static_cast<float>(W - h) * m);
    }
    RowPlan Plan(int64_t y) const {
        int64_t left, right;
        if (side == 0) {
            left = static_cast<int64_t>(static_cast<float>(y) / m);
            right = static_cast<int64_t>(static_cast<float>(y - c) / -m);
        } else {
            left = static_cast<int64_t>(static_cast<float>(y - c0) / -m);
            right = static_cast<int64_t>(static_cast<float>(y - c1) / m);
        }
        return RowPlan{std::max<int64_t>(left, 0), std::min(right, W - 1),
                       StepFor(right - left, W)};
    }
};

template <int C>
void VRow(const uint8_t* in, uint8_t* out, int64_t W, const RowPlan& plan, const Background& bg) {
    deform::FillBackground<C>(out, std::min(plan.first, W), C, bg);
    Stream s{0, plan.step, plan.step};
    for (int64_t x = plan.first; x <= plan.last; ++x)
        Emit<C>(s, in, C, W, out + x * C);
    const int64_t after = std::max(plan.last + 1, plan.first);
    deform::FillBackground<C>(out + after * C, W - after, C, bg);
}

} // namespace

KervErrorCode HPerspectiveDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                              uint8_t side, int16_t amount, uint8_t red, uint8_t green,
                              uint8_t blue) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!SideKnown(side) || !AmountInRange(amount)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !deform::DepthDeformable(src)) return KERV_INVALID_PARAM;
    ProgressReporter p(status);

    const int32_t W = src.width(), H = src.height();
    KOwnedHandle out(deform::AllocLike(src, W, H));
    if (!out) return KERV_NO_MEMORY;
    DIBLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;
    KBuffer plans, streams;
    const int32_t band = kBandBytes / (src.bitCount() / 8);
    if (!plans.allocate(sizeof(ColumnPlan) * size_t(band), KMEM_MOVEABLE)) return KERV_NO_MEMORY;
    if (!streams.allocate(sizeof(Stream) * size_t(band), KMEM_MOVEABLE)) return KERV_NO_MEMORY;
    ColumnPlan* plan = plans.as<ColumnPlan>();

    const int64_t s = std::max<int64_t>(1, int64_t(100 - amount) * H / 100);
    const int64_t h = (H - s) / 2;
    const float a = static_cast<float>(h) / static_cast<float>(W);
    const Background bg(src.bitCount(), red, green, blue);

    p.begin(W);
    for (int32_t x0 = 0; x0 < W; x0 += band) {
        const int32_t x1 = std::min(W, x0 + band);
        for (int32_t x = x0; x < x1; ++x) {
            if (p.step(x)) return KERV_STOPPED;
            plan[x - x0] = PlanColumn(x, side, H, h, a);
        }
        if (src.bitCount() == 24)
            HBand<3>(src, dst, plan, streams.as<Stream>(), x0, x1, bg);
        else
            HBand<1>(src, dst, plan, streams.as<Stream>(), x0, x1, bg);
    }
    p.end();
    dst = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}

KervErrorCode VPerspectiveDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                              uint8_t side, int16_t amount, uint8_t red, uint8_t green,
                              uint8_t blue) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!SideKnown(side) || !AmountInRange(amount)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !deform::DepthDeformable(src)) return KERV_INVALID_PARAM;
    ProgressReporter p(status);

    const int32_t W = src.width(), H = src.height();
    KOwnedHandle out(deform::AllocLike(src, W, H));
    if (!out) return KERV_NO_MEMORY;
    DIBLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;

    const int64_t s = std::max<int64_t>(1, int64_t(100 - amount) * W / 100);
    const int64_t h = (W - s) / 2;
    // With nothing to shorten (h = 0) m = H / h has no value: every row is
    // copied whole (left 0, right W, step 100,000), which is where the
    // slopes tend as h shrinks.
    const bool flat = h == 0;
    const VGeometry geometry(side, W, H, flat ? 1 : h);
    const Background bg(src.bitCount(), red, green, blue);

    p.begin(H);
    for (int32_t y = 0; y < H; ++y) {
        if (p.step(y)) return KERV_STOPPED;
        const RowPlan plan = flat ? RowPlan{0, W - 1, kFull} : geometry.Plan(y);
        if (src.bitCount() == 24)
            VRow<3>(src.row(y), dst.row(y), W, plan, bg);
        else
            VRow<1>(src.row(y), dst.row(y), W, plan, bg);
    }
    p.end();
    dst = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}
