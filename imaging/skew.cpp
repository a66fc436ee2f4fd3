// Skew.
//
// A horizontal skew writes every output row as background, the whole source
// row, background: two fills and one copy. A vertical skew shifts columns,
// and neighbouring columns share their shift, so the columns are grouped
// into runs of one start row; each output row is then made of pieces of
// source rows (one copy per run) and background.
//
//   output row r, vertical:   | run 0 | run 1 |  run 2  | ...
//                             source row r - start(run), or background when
//                             that row is outside the source
#include "imaging/skew.h"

#include "imaging/checks.h"

#include <cmath>
#include <cstring>

namespace {

// ---- Checks: one line per rule ----

using namespace imaging_checks;

constexpr int32_t kMaxSide = 32767;

bool Depth8Or24(const DIBLock& d) {
    return d.bitCount() == 8 || d.bitCount() == 24;
}
bool AtLeastFiveByFive(const DIBLock& d) {
    return d.width() >= 5 && d.height() >= 5;
}
bool SomeAngle(int h, int v) {
    return h != 0 || v != 0;
}
// tan reaches infinity at 90 degrees.
bool BelowRightAngle(int a) {
    return a > -90 && a < 90;
}

// ---- Geometry ----

struct Slant {
    bool horizontal; // rows shift (else columns)
    bool positive;   // angle > 0
    int angle;       // 1..89
};

Slant SlantOf(int h, int v) {
    if (h != 0) return {true, h > 0, h > 0 ? h : -h};
    return {false, v > 0, v > 0 ? v : -v};
}

// The offset for an image `size` pixels across the slanted direction;
// kMaxSide + 1 when it would not fit. The tangent is the correctly rounded
// single-precision value (taken through double, so no libm's tanf decides).
int64_t OffsetFor(int angle, int64_t size) {
    const float theta = float(angle) * 3.1415927f * 0.0055555557f;
    const auto t = static_cast<float>(std::tan(double(theta)));
    const float o = t * float(size);
    if (!(o < float(kMaxSide))) return kMaxSide + 1;
    const auto whole = static_cast<int64_t>(o);
    return whole < 1 ? 1 : whole;
}

// ---- Output block ----

// A block of the source's header fields and palette at the new size; the
// pixels are left to the caller (not zero-filled: every byte is written).
KHANDLE NewLike(const DIBLock& src, int32_t width, int32_t height) {
    BITMAPINFOHEADER h = *src.header();
    h.biWidth = width;
    h.biHeight = height;
    const uint64_t image = uint64_t(DIBStride(&h)) * uint64_t(height);
    if (image > UINT32_MAX) return nullptr;
    h.biSizeImage = static_cast<uint32_t>(image);
    const size_t head = sizeof h + DIBPaletteBytes(&h);
    KOwnedHandle out(KML_GlobalAlloc(KMEM_MOVEABLE, head + size_t(image)));
    if (!out) return nullptr;
    KLock l(out.get());
    if (!l) return nullptr;
    std::memcpy(l.get(), &h, sizeof h);
    std::memcpy(l.get() + sizeof h, src.palette(), DIBPaletteBytes(&h));
    return out.release();
}

// ---- Background runs ----

// `count` pixels of the background, C bytes each.
template <int C> inline void FillPixels(uint8_t* dst, const uint8_t* bg, size_t count) {
    if constexpr (C == 1) {
        std::memset(dst, bg[0], count);
    } else {
        for (size_t i = 0; i < count; ++i, dst += C)
            std::memcpy(dst, bg, C);
    }
}

// Zeroes the row padding after `used` bytes.
inline void ClearPadding(uint8_t* row, size_t used, size_t stride) {
    std::memset(row + used, 0, stride - used);
}

// ---- Horizontal ----

template <int C>
bool SkewRows(ProgressReporter& p, const DIBLock& src, const DIBLock& dst, const Slant& s,
              int64_t o, const uint8_t* bg) {
    const int32_t W = src.width(), H = src.height(), outW = dst.width();
    const size_t used = size_t(outW) * C, stride = dst.stride();
    for (int32_t y = 0; y < H; ++y) {
        if (p.step(y)) return false;
        const int64_t start = s.positive ? int64_t(y) * o / H : int64_t(H - y) * o / H;
        uint8_t* out = dst.row(y);
        FillPixels<C>(out, bg, size_t(start));
        std::memcpy(out + size_t(start) * C, src.row(y), size_t(W) * C);
        FillPixels<C>(out + size_t(start + W) * C, bg, size_t(outW - start - W));
        ClearPadding(out, used, stride);
    }
    return true;
}

// ---- Vertical ----

// Columns [first, end) share one start row.
struct Run {
    int32_t first, end;
    int64_t start;
};

// Fills `runs` (room for W entries); returns how many.
int32_t ColumnRuns(int32_t W, int64_t o, bool positive, Run* runs) {
    int32_t n = 0;
    for (int32_t x = 0; x < W; ++x) {
        const int64_t start = positive ? int64_t(x) * o / W : o - int64_t(x) * o / W;
        if (n > 0 && runs[n - 1].start == start)
            runs[n - 1].end = x + 1;
        else
            runs[n++] = Run{x, x + 1, start};
    }
    return n;
}

template <int C>
bool SkewColumns(ProgressReporter& p, const DIBLock& src, const DIBLock& dst, const Run* runs,
                 int32_t runCount, const uint8_t* bg) {
    const int32_t H = src.height(), outH = dst.height();
    const size_t used = size_t(dst.width()) * C, stride = dst.stride();
    for (int32_t r = 0; r < outH; ++r) {
        if (p.step(r)) return false;
        uint8_t* out = dst.row(r);
        for (int32_t i = 0; i < runCount; ++i) {
            const Run& run = runs[i];
            const int64_t sr = r - run.start;
            uint8_t* o = out + size_t(run.first) * C;
            const size_t n = size_t(run.end - run.first);
            if (sr >= 0 && sr < H)
                std::memcpy(o, src.row(int32_t(sr)) + size_t(run.first) * C, n * C);
            else
                FillPixels<C>(o, bg, n);
        }
        ClearPadding(out, used, stride);
    }
    return true;
}

} // namespace

KervErrorCode SkewDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                      int16_t horizontalAngle, int16_t verticalAngle, uint8_t red, uint8_t green,
                      uint8_t blue) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!SomeAngle(horizontalAngle, verticalAngle)) return KERV_INVALID_PARAM;
    const Slant s = SlantOf(horizontalAngle, verticalAngle);
    if (!BelowRightAngle(s.angle)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !Depth8Or24(src)) return KERV_INVALID_PARAM;
    if (!AtLeastFiveByFive(src)) return KERV_INVALID_PARAM;

    const int32_t W = src.width(), H = src.height();
    const int64_t o = OffsetFor(s.angle, s.horizontal ? H : W);
    const int64_t outW = s.horizontal ? W + o : W, outH = s.horizontal ? H : H + o;
    if (outW > kMaxSide || outH > kMaxSide) return KERV_INVALID_PARAM;

    ProgressReporter p(status);
    KOwnedHandle out(NewLike(src, int32_t(outW), int32_t(outH)));
    if (!out) return KERV_NO_MEMORY;
    DIBLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;

    const int C = src.bitCount() / 8;
    const uint8_t bg[3] = {C == 3 ? blue : red, green, red};
    p.begin(int32_t(outH));
    bool done;
    if (s.horizontal) {
        done = C == 3 ? SkewRows<3>(p, src, dst, s, o, bg) : SkewRows<1>(p, src, dst, s, o, bg);
    } else {
        KBuffer runTable;
        if (!runTable.allocate(sizeof(Run) * size_t(W), KMEM_MOVEABLE)) return KERV_NO_MEMORY;
        Run* runs = runTable.as<Run>();
        const int32_t n = ColumnRuns(W, o, s.positive, runs);
        done = C == 3 ? SkewColumns<3>(p, src, dst, runs, n, bg)
                      : SkewColumns<1>(p, src, dst, runs, n, bg);
    }
    if (!done) return KERV_STOPPED;
    p.end();
    dst = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}
