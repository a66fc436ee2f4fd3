// Rank filters.
//
// Each stored row is filtered from three line buffers holding the unfiltered
// rows below, at and above it, each extended by its first and last pixel:
//
//   line:  | p0 | p0 p1 ... pW-1 | pW-1 |      (C bytes a pixel)
//   out[j] reads line bytes j, j + C and j + 2C of the three lines
//
// so every output byte has its full window and the loops run over plain
// byte arrays, the same for 8 and 24 bits (C = 1 or 3). The work is split
// in two passes over a row: first every column of three samples is reduced
// (its minimum, maximum, or the three sorted), then three neighbouring
// columns are combined. A column serves three output samples, so the
// vertical work is done once.
//
// The median of nine is the classic network on sorted columns: with each
// column sorted into lo <= mid <= hi, the median is
//   med3(max(lo of the three columns), med3(mid ...), min(hi ...)).
// Everything is byte minimum and maximum: the loops run in blocks of 16
// with a fixed trip count, which GCC turns into pminub/pmaxub at -O2.
#include "imaging/rank.h"

#include "imaging/checks.h"

#include <cstring>

namespace {

// ---- Checks: one line per rule ----

using namespace imaging_checks;

bool DepthFiltered(const DIBLock& d) {
    return d.bitCount() == 8 || d.bitCount() == 24;
}
bool ModeKnown(int32_t mode) {
    return mode >= 0 && mode <= 2;
}
bool TallEnough(const DIBLock& d) {
    return d.height() >= 3;
}

enum class Reduce { Minimum, Median, Maximum, Despeckle };

Reduce ReduceForMode(int32_t mode) {
    return mode == 0 ? Reduce::Minimum : mode == 1 ? Reduce::Median : Reduce::Maximum;
}

// A sample this far from its neighbours' mean, or nearer, is kept.
constexpr int kDespeckleThreshold = 48;

// ---- Byte arithmetic ----

inline uint8_t Min(uint8_t a, uint8_t b) {
    return a < b ? a : b;
}
inline uint8_t Max(uint8_t a, uint8_t b) {
    return a < b ? b : a;
}
inline uint8_t Med3(uint8_t a, uint8_t b, uint8_t c) {
    return Max(Min(a, b), Min(Max(a, b), c));
}

// Blocks of 16 with a fixed trip count, then the tail.
constexpr size_t kBlock = 16;

// ---- Vertical pass: one column of three samples at a time ----

void ColumnMinimum(const uint8_t* __restrict a, const uint8_t* __restrict b,
                   const uint8_t* __restrict c, size_t len, uint8_t* __restrict v) {
    size_t i = 0;
    for (; i + kBlock <= len; i += kBlock)
        for (size_t k = i; k < i + kBlock; ++k)
            v[k] = Min(Min(a[k], b[k]), c[k]);
    for (; i < len; ++i)
        v[i] = Min(Min(a[i], b[i]), c[i]);
}

void ColumnMaximum(const uint8_t* __restrict a, const uint8_t* __restrict b,
                   const uint8_t* __restrict c, size_t len, uint8_t* __restrict v) {
    size_t i = 0;
    for (; i + kBlock <= len; i += kBlock)
        for (size_t k = i; k < i + kBlock; ++k)
            v[k] = Max(Max(a[k], b[k]), c[k]);
    for (; i < len; ++i)
        v[i] = Max(Max(a[i], b[i]), c[i]);
}

// The three samples sorted: lo <= mid <= hi.
inline void Sort3(uint8_t a, uint8_t b, uint8_t c, uint8_t& lo, uint8_t& mid, uint8_t& hi) {
    const uint8_t x = Min(a, b), y = Max(a, b);
    const uint8_t t = Max(x, c);
    lo = Min(x, c);
    mid = Min(y, t);
    hi = Max(y, t);
}

// The sorted columns: lo <= mid <= hi at every index.
struct Sorted {
    uint8_t* lo;
    uint8_t* mid;
    uint8_t* hi;
};

void ColumnSort(const uint8_t* __restrict a, const uint8_t* __restrict b,
                const uint8_t* __restrict c, size_t len, uint8_t* __restrict lo,
                uint8_t* __restrict mid, uint8_t* __restrict hi) {
    size_t i = 0;
    for (; i + kBlock <= len; i += kBlock)
        for (size_t k = i; k < i + kBlock; ++k)
            Sort3(a[k], b[k], c[k], lo[k], mid[k], hi[k]);
    for (; i < len; ++i)
        Sort3(a[i], b[i], c[i], lo[i], mid[i], hi[i]);
}

// The column sums, for the neighbours' mean (at most 3 x 255).
void ColumnSum(const uint8_t* __restrict a, const uint8_t* __restrict b,
               const uint8_t* __restrict c, size_t len, uint16_t* __restrict sum) {
    size_t i = 0;
    for (; i + kBlock <= len; i += kBlock)
        for (size_t k = i; k < i + kBlock; ++k)
            sum[k] = uint16_t(a[k] + b[k] + c[k]);
    for (; i < len; ++i)
        sum[i] = uint16_t(a[i] + b[i] + c[i]);
}

// ---- Horizontal pass: three neighbouring columns per output sample ----

template <int C> void RowMinimum(const uint8_t* __restrict v, size_t n, uint8_t* __restrict out) {
    size_t j = 0;
    for (; j + kBlock <= n; j += kBlock)
        for (size_t k = j; k < j + kBlock; ++k)
            out[k] = Min(Min(v[k], v[k + C]), v[k + 2 * C]);
    for (; j < n; ++j)
        out[j] = Min(Min(v[j], v[j + C]), v[j + 2 * C]);
}

template <int C> void RowMaximum(const uint8_t* __restrict v, size_t n, uint8_t* __restrict out) {
    size_t j = 0;
    for (; j + kBlock <= n; j += kBlock)
        for (size_t k = j; k < j + kBlock; ++k)
            out[k] = Max(Max(v[k], v[k + C]), v[k + 2 * C]);
    for (; j < n; ++j)
        out[j] = Max(Max(v[j], v[j + C]), v[j + 2 * C]);
}

// The median of nine from three sorted columns (l: the low samples, m: the
// middle ones, h: the high ones). The loops below load the nine values
// themselves: reading through their restrict parameters is what lets GCC
// vectorise them without alias checks.
inline uint8_t MedianOfSorted(uint8_t l0, uint8_t l1, uint8_t l2, uint8_t m0, uint8_t m1,
                              uint8_t m2, uint8_t h0, uint8_t h1, uint8_t h2) {
    return Med3(Max(Max(l0, l1), l2), Med3(m0, m1, m2), Min(Min(h0, h1), h2));
}

template <int C>
void RowMedian(const uint8_t* __restrict lo, const uint8_t* __restrict mid,
               const uint8_t* __restrict hi, size_t n, uint8_t* __restrict out) {
    size_t j = 0;
    for (; j + kBlock <= n; j += kBlock)
        for (size_t k = j; k < j + kBlock; ++k)
            out[k] = MedianOfSorted(lo[k], lo[k + C], lo[k + 2 * C], mid[k], mid[k + C],
                                    mid[k + 2 * C], hi[k], hi[k + C], hi[k + 2 * C]);
    for (; j < n; ++j)
        out[j] = MedianOfSorted(lo[j], lo[j + C], lo[j + 2 * C], mid[j], mid[j + C], mid[j + 2 * C],
                                hi[j], hi[j + C], hi[j + 2 * C]);
}

// The sample itself when it is within the threshold of its neighbours'
// mean, else the median. around: the sum of the eight neighbours.
inline uint8_t Despeckled(uint8_t centre, uint16_t around, uint8_t median) {
    const uint16_t c = centre, mean = uint16_t(around >> 3);
    const bool standsOut = mean > c + kDespeckleThreshold || c > mean + kDespeckleThreshold;
    return standsOut ? median : centre;
}

// centre is the middle line shifted to the output sample (its byte j + C).
template <int C>
void RowDespeckle(const uint8_t* __restrict lo, const uint8_t* __restrict mid,
                  const uint8_t* __restrict hi, const uint16_t* __restrict sum,
                  const uint8_t* __restrict centre, size_t n, uint8_t* __restrict out) {
    size_t j = 0;
    for (; j + kBlock <= n; j += kBlock)
        for (size_t k = j; k < j + kBlock; ++k)
            out[k] =
                Despeckled(centre[k], uint16_t(sum[k] + sum[k + C] + sum[k + 2 * C] - centre[k]),
                           MedianOfSorted(lo[k], lo[k + C], lo[k + 2 * C], mid[k], mid[k + C],
                                          mid[k + 2 * C], hi[k], hi[k + C], hi[k + 2 * C]));
    for (; j < n; ++j)
        out[j] = Despeckled(centre[j], uint16_t(sum[j] + sum[j + C] + sum[j + 2 * C] - centre[j]),
                            MedianOfSorted(lo[j], lo[j + C], lo[j + 2 * C], mid[j], mid[j + C],
                                           mid[j + 2 * C], hi[j], hi[j + C], hi[j + 2 * C]));
}

// ---- Rows ----

// A stored row with its first and last pixel repeated at either end.
template <int C> void Extend(const uint8_t* row, int32_t width, uint8_t* line) {
    const size_t n = size_t(width) * C;
    std::memcpy(line, row, C);
    std::memcpy(line + C, row, n);
    std::memcpy(line + C + n, row + n - C, C);
}

// The work block: three lines, the sorted (or reduced) columns and the
// column sums, each `len` entries.
size_t WorkBytes(size_t len) {
    return 6 * len + 2 * len * sizeof(uint16_t);
}

// Filters the locked copy in place, stored row by stored row. False when
// stopped.
template <int C>
bool FilterRows(ProgressReporter& p, const DIBLock& img, uint8_t* work, Reduce how) {
    const int32_t W = img.width(), H = img.height();
    const size_t n = size_t(W) * C, len = n + 2 * C;
    uint8_t* line[3] = {work, work + len, work + 2 * len};
    const Sorted s{work + 3 * len, work + 4 * len, work + 5 * len};
    auto* sum = reinterpret_cast<uint16_t*>(work + 6 * len);

    Extend<C>(img.row(0), W, line[0]);
    Extend<C>(img.row(1), W, line[1]);
    for (int32_t y = 0; y < H; ++y) {
        if (p.step(y)) return false;
        // Row y + 1 is still unfiltered; its buffer held row y - 2, no
        // longer needed.
        if (y >= 1 && y + 1 < H) Extend<C>(img.row(y + 1), W, line[(y + 1) % 3]);
        const uint8_t* cur = line[y % 3];
        const uint8_t* below = y > 0 ? line[(y - 1) % 3] : cur;
        const uint8_t* above = y + 1 < H ? line[(y + 1) % 3] : cur;
        uint8_t* out = img.row(y);
        switch (how) {
        case Reduce::Minimum:
            ColumnMinimum(below, cur, above, len, s.lo);
            RowMinimum<C>(s.lo, n, out);
            break;
        case Reduce::Maximum:
            ColumnMaximum(below, cur, above, len, s.lo);
            RowMaximum<C>(s.lo, n, out);
            break;
        case Reduce::Median:
            ColumnSort(below, cur, above, len, s.lo, s.mid, s.hi);
            RowMedian<C>(s.lo, s.mid, s.hi, n, out);
            break;
        case Reduce::Despeckle:
            ColumnSort(below, cur, above, len, s.lo, s.mid, s.hi);
            ColumnSum(below, cur, above, len, sum);
            RowDespeckle<C>(s.lo, s.mid, s.hi, sum, cur + C, n, out);
            break;
        }
    }
    return true;
}

// The frame both operations share, after their own argument checks.
KervErrorCode Filter(StatusControlBlock* status, KHANDLE source, KHANDLE* result, Reduce how) {
    {
        DIBLock src(source);
        if (!src || !Uncompressed(src) || !DepthFiltered(src)) return KERV_INVALID_PARAM;
    }
    ProgressReporter p(status);
    KHANDLE copy = nullptr;
    if (const KervErrorCode rc = CopyDIB(source, &copy); rc != KERV_OK) return rc;
    KOwnedHandle out(copy);
    DIBLock img(out.get());
    if (!img) return KERV_NO_MEMORY;
    if (!TallEnough(img)) return KERV_INVALID_PARAM;

    const int C = img.bitCount() / 8;
    KBuffer work;
    if (!work.allocate(WorkBytes((size_t(img.width()) + 2) * size_t(C)), KMEM_MOVEABLE))
        return KERV_NO_MEMORY;
    p.begin(img.height());
    const bool done =
        C == 3 ? FilterRows<3>(p, img, work.data(), how) : FilterRows<1>(p, img, work.data(), how);
    if (!done) return KERV_STOPPED;
    p.end();
    img = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}

} // namespace

KervErrorCode RankFilterDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                            int32_t mode) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!ModeKnown(mode)) return KERV_INVALID_PARAM;
    return Filter(status, source, result, ReduceForMode(mode));
}

KervErrorCode DespeckleDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    return Filter(status, source, result, Reduce::Despeckle);
}
