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
// Everything is byte minimum and maximum (despeckle adds 16-bit sums for
// the mean), sixteen samples at a time in SSE2 registers (pminub, pmaxub),
// which every x86-64 has; the tail of a row goes one sample at a time
// through the same code.
#include "imaging/rank.h"

#include "imaging/checks.h"

#include <emmintrin.h>

#include <cstring>
#include <type_traits>

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

// ---- Samples: one byte, or sixteen in an SSE2 register ----

// Every kernel is written once for a sample type T: uint8_t for the tail of
// a row, Vec for sixteen samples at a time. Minimum and maximum are exact,
// so both give the same bytes.
using Vec = __m128i;
constexpr size_t kLanes = 16;

inline uint8_t Min(uint8_t a, uint8_t b) {
    return a < b ? a : b;
}
inline uint8_t Max(uint8_t a, uint8_t b) {
    return a < b ? b : a;
}
inline Vec Min(Vec a, Vec b) {
    return _mm_min_epu8(a, b);
}
inline Vec Max(Vec a, Vec b) {
    return _mm_max_epu8(a, b);
}

template <class T> T Load(const uint8_t* p);
template <> inline uint8_t Load<uint8_t>(const uint8_t* p) {
    return *p;
}
template <> inline Vec Load<Vec>(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const Vec*>(p));
}
inline void Store(uint8_t* p, uint8_t v) {
    *p = v;
}
inline void Store(uint8_t* p, Vec v) {
    _mm_storeu_si128(reinterpret_cast<Vec*>(p), v);
}

// f.operator()<T>(i) for every i in [0, n): sixteen samples at a time, then
// the rest one by one.
template <class F> inline void ForEachSample(size_t n, F&& f) {
    size_t i = 0;
    for (; i + kLanes <= n; i += kLanes)
        f.template operator()<Vec>(i);
    for (; i < n; ++i)
        f.template operator()<uint8_t>(i);
}

template <class T> inline T Med3(T a, T b, T c) {
    return Max(Min(a, b), Min(Max(a, b), c));
}

// The three samples sorted: lo <= mid <= hi.
template <class T> inline void Sort3(T a, T b, T c, T& lo, T& mid, T& hi) {
    const T x = Min(a, b), y = Max(a, b);
    const T t = Max(x, c);
    lo = Min(x, c);
    mid = Min(y, t);
    hi = Max(y, t);
}

// ---- Vertical pass: each column of three samples once ----

void ColumnMinimum(const uint8_t* a, const uint8_t* b, const uint8_t* c, size_t len, uint8_t* v) {
    ForEachSample(len, [&]<class T>(size_t i) {
        Store(v + i, Min(Min(Load<T>(a + i), Load<T>(b + i)), Load<T>(c + i)));
    });
}

void ColumnMaximum(const uint8_t* a, const uint8_t* b, const uint8_t* c, size_t len, uint8_t* v) {
    ForEachSample(len, [&]<class T>(size_t i) {
        Store(v + i, Max(Max(Load<T>(a + i), Load<T>(b + i)), Load<T>(c + i)));
    });
}

// The sorted columns: lo <= mid <= hi at every index.
struct Sorted {
    uint8_t* lo;
    uint8_t* mid;
    uint8_t* hi;
};

void ColumnSort(const uint8_t* a, const uint8_t* b, const uint8_t* c, size_t len, const Sorted& s) {
    ForEachSample(len, [&]<class T>(size_t i) {
        T lo, mid, hi;
        Sort3(Load<T>(a + i), Load<T>(b + i), Load<T>(c + i), lo, mid, hi);
        Store(s.lo + i, lo);
        Store(s.mid + i, mid);
        Store(s.hi + i, hi);
    });
}

// The column sums (at most 3 x 255), for the neighbours' mean.
void ColumnSum(const uint8_t* a, const uint8_t* b, const uint8_t* c, size_t len, uint16_t* sum) {
    ForEachSample(len, [&]<class T>(size_t i) {
        if constexpr (std::is_same_v<T, uint8_t>) {
            sum[i] = uint16_t(a[i] + b[i] + c[i]);
        } else {
            const Vec zero = _mm_setzero_si128();
            const Vec va = Load<Vec>(a + i), vb = Load<Vec>(b + i), vc = Load<Vec>(c + i);
            const Vec low = _mm_add_epi16(
                _mm_add_epi16(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero)),
                _mm_unpacklo_epi8(vc, zero));
            const Vec high = _mm_add_epi16(
                _mm_add_epi16(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero)),
                _mm_unpackhi_epi8(vc, zero));
            _mm_storeu_si128(reinterpret_cast<Vec*>(sum + i), low);
            _mm_storeu_si128(reinterpret_cast<Vec*>(sum + i + 8), high);
        }
    });
}

// ---- Horizontal pass: three neighbouring columns per output sample ----

template <int C> void RowMinimum(const uint8_t* v, size_t n, uint8_t* out) {
    ForEachSample(n, [&]<class T>(size_t j) {
        Store(out + j, Min(Min(Load<T>(v + j), Load<T>(v + j + C)), Load<T>(v + j + 2 * C)));
    });
}

template <int C> void RowMaximum(const uint8_t* v, size_t n, uint8_t* out) {
    ForEachSample(n, [&]<class T>(size_t j) {
        Store(out + j, Max(Max(Load<T>(v + j), Load<T>(v + j + C)), Load<T>(v + j + 2 * C)));
    });
}

// The median of the nine samples around output sample j, from the sorted
// columns j, j + C and j + 2C.
template <int C, class T> inline T MedianAt(const Sorted& s, size_t j) {
    const T lo = Max(Max(Load<T>(s.lo + j), Load<T>(s.lo + j + C)), Load<T>(s.lo + j + 2 * C));
    const T mid = Med3(Load<T>(s.mid + j), Load<T>(s.mid + j + C), Load<T>(s.mid + j + 2 * C));
    const T hi = Min(Min(Load<T>(s.hi + j), Load<T>(s.hi + j + C)), Load<T>(s.hi + j + 2 * C));
    return Med3(lo, mid, hi);
}

template <int C> void RowMedian(const Sorted& s, size_t n, uint8_t* out) {
    ForEachSample(n, [&]<class T>(size_t j) { Store(out + j, MedianAt<C, T>(s, j)); });
}

// The centre sample when it lies within the threshold of its neighbours'
// mean (their sum >> 3), else the median. The neighbours' sum is the three
// column sums less the centre.
template <int C>
inline uint8_t Despeckled(const uint16_t* sum, size_t j, uint8_t centre, uint8_t median) {
    const int around = sum[j] + sum[j + C] + sum[j + 2 * C] - centre;
    const int mean = around >> 3;
    const bool standsOut =
        mean - centre > kDespeckleThreshold || centre - mean > kDespeckleThreshold;
    return standsOut ? median : centre;
}

template <int C> inline Vec Despeckled(const uint16_t* sum, size_t j, Vec centre, Vec median) {
    const Vec zero = _mm_setzero_si128();
    auto mean = [&](size_t k, Vec centre16) {
        auto at = [&](size_t i) { return _mm_loadu_si128(reinterpret_cast<const Vec*>(sum + i)); };
        const Vec around =
            _mm_sub_epi16(_mm_add_epi16(_mm_add_epi16(at(k), at(k + C)), at(k + 2 * C)), centre16);
        return _mm_srli_epi16(around, 3);
    };
    // Means are at most 8 x 255 >> 3 = 255: they pack back into bytes.
    const Vec m = _mm_packus_epi16(mean(j, _mm_unpacklo_epi8(centre, zero)),
                                   mean(j + 8, _mm_unpackhi_epi8(centre, zero)));
    const Vec distance = _mm_or_si128(_mm_subs_epu8(m, centre), _mm_subs_epu8(centre, m));
    const Vec keep =
        _mm_cmpeq_epi8(_mm_subs_epu8(distance, _mm_set1_epi8(char(kDespeckleThreshold))), zero);
    return _mm_or_si128(_mm_and_si128(keep, centre), _mm_andnot_si128(keep, median));
}

// centre is the middle line shifted to the output samples (its byte j + C).
template <int C>
void RowDespeckle(const Sorted& s, const uint16_t* sum, const uint8_t* centre, size_t n,
                  uint8_t* out) {
    ForEachSample(n, [&]<class T>(size_t j) {
        Store(out + j, Despeckled<C>(sum, j, Load<T>(centre + j), MedianAt<C, T>(s, j)));
    });
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
            ColumnSort(below, cur, above, len, s);
            RowMedian<C>(s, n, out);
            break;
        case Reduce::Despeckle:
            ColumnSort(below, cur, above, len, s);
            ColumnSum(below, cur, above, len, sum);
            RowDespeckle<C>(s, sum, cur + C, n, out);
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
