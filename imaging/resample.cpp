// Resampling by area averaging.
//
// An output pixel is sum(pixel x column weight x row weight) / (kx x ky)
// over its footprint, weights in 1/256 of a source pixel. The sum is
// separable, so it runs as two exact integer passes, in whichever order
// makes fewer sums: when the height grows, each source row is reduced to
// the output width once and kept while output rows still cover it; when it
// shrinks, the footprint's rows are added up first (plain loops over whole
// rows) and the columns reduced once per output row. Integer sums do not
// depend on the order of the terms, so either way the result is bit for bit
// the direct sum. An output row whose footprint equals the previous one's
// is a copy of it, so enlarging mostly copies.
//
//   source row r:   |  c  | c+1 | c+2 | c+3 |        one output column x:
//   weights:         wFirst  256   256  wLast        first, middles, last
//
// Taps that would fall past the last column or row (rounding of kx and ky
// can reach 1/256 pixel beyond the image) are folded into the last one,
// which is the same as reading the last column or row again.
#include "imaging/resample.h"

#include "imaging/checks.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// ---- Checks: one line per rule ----

using namespace imaging_checks;

bool SizeUsable(int16_t width, uint16_t height) {
    return width > 0 && height > 0;
}
// Pixel values can be averaged at 4 (through the palette), 8 and 24 bits.
bool DepthAveraged(const DIBLock& d) {
    return d.bitCount() == 4 || d.bitCount() == 8 || d.bitCount() == 24;
}

// ---- Footprints ----

// The taps of one output column (or row) along one axis: start .. start +
// count - 1, weighted wFirst, then 256 each, then wLast (count 1: wFirst
// only). The weights always add up to k (kx or ky).
struct Span {
    int64_t start;
    int64_t count;
    uint64_t wFirst;
    uint64_t wLast;
};

// What the straightforward walk over the footprint does: start at c with
// weight w0 (the first column's share), then whole pixels of 256 until k
// is used up. A first weight of 0 is a tap that adds nothing: skipped.
// Taps from `size` on are folded into tap size - 1.
Span MakeSpan(int64_t c, uint64_t w0, uint64_t k, int64_t size) {
    if (w0 == 0) ++c, w0 = 256;
    Span s{c, 1, std::min(w0, k), 0};
    const uint64_t rest = k - s.wFirst;
    const uint64_t whole = rest / 256, part = rest % 256;
    s.count += int64_t(whole) + (part ? 1 : 0);
    if (s.count > 1) s.wLast = part ? part : 256;
    if (s.start + s.count > size) {
        if (s.start >= size) return Span{size - 1, 1, k, 0};
        s.count = size - s.start;
        // Everything not taken by the taps that stay goes to the last one.
        if (s.count == 1) {
            s.wFirst = k;
            s.wLast = 0;
        } else {
            s.wLast = k - s.wFirst - 256 * uint64_t(s.count - 2);
        }
    }
    return s;
}

// Footprint size in 1/256 pixel for a scale factor. A factor beyond 512
// would round it to 0 (and divide by 0): one unit is the least footprint.
uint64_t FootprintSize(double scale) {
    const auto k = static_cast<uint64_t>(256 / scale + 0.5);
    return std::max<uint64_t>(k, 1);
}

// Spans of the n output positions along an axis of `size` source pixels.
void MakeSpans(Span* spans, int64_t n, double scale, uint64_t k, int64_t size) {
    for (int64_t i = 0; i < n; ++i) {
        const double f = double(i) / scale;
        const auto c = static_cast<int64_t>(f);
        const auto w0 = static_cast<uint64_t>(256.5 - (f - double(c)) * 256);
        spans[i] = MakeSpan(std::min(c, size - 1), w0, k, size);
    }
}

// ---- Exact division by the footprint area ----

__extension__ using U128 = unsigned __int128;

// sum / d through a multiply and a shift where that is exact for every sum
// up to maxSum (checked, not assumed), else the plain division.
struct Divider {
    uint64_t d = 1;
    uint32_t m = 0;
    int shift = 0;
    bool viaMultiply = false;

    Divider(uint64_t divisor, uint64_t maxSum) : d(divisor) {
        if (maxSum > UINT32_MAX) return;
        for (int k = 0; k < 64; ++k) {
            const U128 p = U128{1} << k;
            const U128 mm = (p + d - 1) / d; // ceil(2^k / d)
            if (mm > UINT32_MAX) break;
            // floor(n * mm / 2^k) == floor(n / d) for all n <= maxSum
            // when maxSum * (mm * d - 2^k) < 2^k.
            const U128 e = mm * d - p;
            if (maxSum * e < p) {
                m = static_cast<uint32_t>(mm);
                shift = k;
                viaMultiply = true;
                return;
            }
        }
    }
};

// ---- The two passes ----

// Horizontal pass over one source row of bytes (C channels a pixel).
template <int C, class HT>
void ReduceRowSpans(const uint8_t* row, const Span* spans, int32_t width, HT* h) {
    for (int32_t x = 0; x < width; ++x) {
        const Span& s = spans[x];
        const uint8_t* q = row + size_t(s.start) * C;
        for (int ch = 0; ch < C; ++ch) {
            HT v = HT(s.wFirst) * q[ch];
            if (s.count > 1) {
                HT mid = 0;
                for (int64_t t = 1; t + 1 < s.count; ++t)
                    mid += q[size_t(t) * C + ch];
                v += mid * 256 + HT(s.wLast) * q[size_t(s.count - 1) * C + ch];
            }
            h[size_t(x) * C + ch] = v;
        }
    }
}

// Footprints of at most two columns (every enlargement and reductions by
// less than about 2): two taps for every column, the second weighted 0
// where there is only one. Offsets are byte offsets into the row.
struct TwoTaps {
    uint32_t off0, off1, w0, w1;
};

template <int C>
void ReduceRowTwoTaps(const uint8_t* row, const TwoTaps* taps, int32_t width, uint32_t* h) {
    for (int32_t x = 0; x < width; ++x) {
        const TwoTaps& t = taps[x];
        const uint8_t* a = row + t.off0;
        const uint8_t* b = row + t.off1;
        for (int ch = 0; ch < C; ++ch)
            h[size_t(x) * C + ch] = t.w0 * a[ch] + t.w1 * b[ch];
    }
}

// One source pixel and one source row for every output pixel: the weights
// cancel (p x kx x ky / (kx x ky) is p), the pixel is copied. Whole-number
// enlargements are all this.
template <int C>
void CopyPixels(const uint8_t* row, const TwoTaps* taps, int32_t width, uint8_t* out) {
    for (int32_t x = 0; x < width; ++x)
        std::memcpy(out + size_t(x) * C, row + taps[x].off0, C);
}

// f(i) for i in [0, n): blocks of 16 with a fixed trip count, which the
// compiler turns into vector code at -O2 already (a loop of unknown length
// needs -O3), then the tail.
template <class F> inline void ForEachBlocked(size_t n, F f) {
    size_t i = 0;
    for (; i + 16 <= n; i += 16)
        for (size_t k = 0; k < 16; ++k)
            f(i + k);
    for (; i < n; ++i)
        f(i);
}

template <class AT> inline uint8_t Divide(AT sum, const Divider& div) {
    if (div.viaMultiply) return static_cast<uint8_t>((uint64_t(sum) * div.m) >> div.shift);
    return static_cast<uint8_t>(sum / div.d);
}

// Vertical pass: out[i] = (sum over rows of weight x h[i]) / d.
template <class HT, class AT>
void FinishOne(const HT* __restrict h0, uint64_t w0, const Divider& div, size_t n,
               uint8_t* __restrict out) {
    if constexpr (sizeof(AT) == 4) {
        if (div.viaMultiply) {
            const auto w = static_cast<uint32_t>(w0);
            const uint32_t m = div.m;
            const int shift = div.shift;
            ForEachBlocked(n, [&](size_t i) {
                out[i] = static_cast<uint8_t>((uint64_t(w * uint32_t(h0[i])) * m) >> shift);
            });
            return;
        }
    }
    for (size_t i = 0; i < n; ++i)
        out[i] = Divide<AT>(AT(w0) * AT(h0[i]), div);
}

template <class HT, class AT>
void FinishTwo(const HT* __restrict h0, uint64_t w0, const HT* __restrict h1, uint64_t w1,
               const Divider& div, size_t n, uint8_t* __restrict out) {
    if constexpr (sizeof(AT) == 4) {
        if (div.viaMultiply) {
            const auto a = static_cast<uint32_t>(w0), b = static_cast<uint32_t>(w1);
            const uint32_t m = div.m;
            const int shift = div.shift;
            ForEachBlocked(n, [&](size_t i) {
                const uint32_t s = a * uint32_t(h0[i]) + b * uint32_t(h1[i]);
                out[i] = static_cast<uint8_t>((uint64_t(s) * m) >> shift);
            });
            return;
        }
    }
    for (size_t i = 0; i < n; ++i)
        out[i] = Divide<AT>(AT(w0) * AT(h0[i]) + AT(w1) * AT(h1[i]), div);
}

// Everything one run needs, set up before the rows are walked.
struct Plan {
    const uint8_t* bits; // source pixels, C bytes a pixel
    size_t stride;
    int32_t width, height; // source
    int32_t outWidth, outHeight;
    const Span* cols;
    const TwoTaps* twoTaps; // null when some footprint spans more columns
    bool singleColumns;     // every column footprint is one pixel
    const Span* rows;
    uint64_t kx, ky;
};

// The reduced rows kept between output rows: two slots, the one not holding
// the row still in use is refilled.
template <int C, class HT> class RowCache {
  public:
    RowCache(const Plan& plan, HT* slot0, HT* slot1) : plan_(plan), slot_{slot0, slot1} {}

    // The reduced source row r; `keep` names a row that must stay.
    const HT* get(int64_t r, int64_t keep = -1) {
        for (int i = 0; i < 2; ++i)
            if (key_[i] == r) return slot_[i];
        int v;
        if (key_[0] == keep)
            v = 1;
        else if (key_[1] == keep)
            v = 0;
        else
            v = key_[0] < key_[1] ? 0 : 1;
        const uint8_t* src = plan_.bits + size_t(r) * plan_.stride;
        if constexpr (sizeof(HT) == 4) {
            if (plan_.twoTaps) {
                ReduceRowTwoTaps<C>(src, plan_.twoTaps, plan_.outWidth, slot_[v]);
                key_[v] = r;
                return slot_[v];
            }
        }
        ReduceRowSpans<C>(src, plan_.cols, plan_.outWidth, slot_[v]);
        key_[v] = r;
        return slot_[v];
    }

  private:
    const Plan& plan_;
    HT* slot_[2];
    int64_t key_[2] = {-1, -1};
};

bool SameSpan(const Span& a, const Span& b) {
    return a.start == b.start && a.count == b.count && a.wFirst == b.wFirst && a.wLast == b.wLast;
}

// ---- Columns first ----

// When the height stays or grows, every source row is reduced once and
// serves all the output rows that cover it. A row footprint is then at most
// two rows (ky <= 256).

// HT holds a reduced row's values (up to 255 x kx), AT a full sum (up to
// 255 x kx x ky). False when stopped.
template <int C, class HT, class AT>
bool ColumnsFirst(ProgressReporter& p, const Plan& plan, const DIBLock& dst, uint8_t* scratch) {
    const size_t n = size_t(plan.outWidth) * C;
    HT* slot0 = reinterpret_cast<HT*>(scratch);
    HT* slot1 = slot0 + n;
    RowCache<C, HT> cache(plan, slot0, slot1);
    const Divider div(plan.kx * plan.ky, 255 * plan.kx * plan.ky);
    for (int32_t y = 0; y < plan.outHeight; ++y) {
        if (p.step(y)) return false;
        uint8_t* out = dst.row(y);
        const Span& s = plan.rows[y];
        if (y > 0 && SameSpan(s, plan.rows[y - 1])) {
            std::memcpy(out, dst.row(y - 1), n);
            continue;
        }
        if (s.count == 1 && plan.singleColumns) {
            CopyPixels<C>(plan.bits + size_t(s.start) * plan.stride, plan.twoTaps, plan.outWidth,
                          out);
        } else if (s.count == 1) {
            FinishOne<HT, AT>(cache.get(s.start), s.wFirst, div, n, out);
        } else {
            const HT* h0 = cache.get(s.start);
            const HT* h1 = cache.get(s.start + 1, s.start);
            FinishTwo<HT, AT>(h0, s.wFirst, h1, s.wLast, div, n, out);
        }
    }
    return true;
}

// ---- Rows first ----

// When the height shrinks, fewer sums are made by combining the footprint's
// source rows first (whole rows of bytes, a plain loop) and reducing the
// columns once per output row.

// v[j] = sum over the rows of the span of row weight x byte j of the row.
template <class VT> void SumRows(const Plan& plan, const Span& s, size_t n, VT* __restrict v) {
    const uint8_t* __restrict first = plan.bits + size_t(s.start) * plan.stride;
    const uint8_t* __restrict last = plan.bits + size_t(s.start + s.count - 1) * plan.stride;
    const VT a = VT(s.wFirst), b = VT(s.wLast);
    // Weights up to 256 times a byte fit 16 bits: 16-bit products are
    // several times cheaper in vector code than 32-bit ones.
    const bool small = s.wFirst <= 256 && s.wLast <= 256;
    const auto a16 = static_cast<uint16_t>(s.wFirst), b16 = static_cast<uint16_t>(s.wLast);
    if (s.count == 1 && small)
        ForEachBlocked(n, [&](size_t j) { v[j] = VT(uint16_t(a16 * first[j])); });
    else if (s.count == 1)
        ForEachBlocked(n, [&](size_t j) { v[j] = a * first[j]; });
    else if (small)
        ForEachBlocked(n, [&](size_t j) {
            v[j] = VT(uint16_t(a16 * first[j])) + VT(uint16_t(b16 * last[j]));
        });
    else
        ForEachBlocked(n, [&](size_t j) { v[j] = a * first[j] + b * last[j]; });
    for (int64_t r = s.start + 1; r + 1 < s.start + s.count; ++r) {
        const uint8_t* __restrict mid = plan.bits + size_t(r) * plan.stride;
        ForEachBlocked(n, [&](size_t j) { v[j] += VT(mid[j]) << 8; });
    }
}

// out[x] = (sum over the columns of column weight x v[column]) / d.
template <int C, class VT, class AT>
void FinishColumns(const Plan& plan, const VT* v, const Divider& div, uint8_t* out) {
    const int32_t width = plan.outWidth;
    if constexpr (sizeof(AT) == 4) {
        if (plan.twoTaps && div.viaMultiply) {
            const uint32_t m = div.m;
            const int shift = div.shift;
            for (int32_t x = 0; x < width; ++x) {
                const TwoTaps& t = plan.twoTaps[x];
                for (int ch = 0; ch < C; ++ch) {
                    const uint32_t sum = t.w0 * v[t.off0 + ch] + t.w1 * v[t.off1 + ch];
                    out[size_t(x) * C + ch] = static_cast<uint8_t>((uint64_t(sum) * m) >> shift);
                }
            }
            return;
        }
    }
    for (int32_t x = 0; x < width; ++x) {
        const Span& s = plan.cols[x];
        const VT* q = v + size_t(s.start) * C;
        for (int ch = 0; ch < C; ++ch) {
            AT sum = AT(s.wFirst) * q[ch];
            if (s.count > 1) {
                AT mid = 0;
                for (int64_t t = 1; t + 1 < s.count; ++t)
                    mid += q[size_t(t) * C + ch];
                sum += mid * 256 + AT(s.wLast) * q[size_t(s.count - 1) * C + ch];
            }
            out[size_t(x) * C + ch] = Divide(sum, div);
        }
    }
}

// VT holds a row sum (up to 255 x ky), AT a full sum. False when stopped.
template <int C, class VT, class AT>
bool RowsFirst(ProgressReporter& p, const Plan& plan, const DIBLock& dst, uint8_t* scratch) {
    const size_t n = size_t(plan.width) * C;
    VT* v = reinterpret_cast<VT*>(scratch);
    const Divider div(plan.kx * plan.ky, 255 * plan.kx * plan.ky);
    for (int32_t y = 0; y < plan.outHeight; ++y) {
        if (p.step(y)) return false;
        // Each output row starts further up than the one before (the height
        // shrinks), so no row repeats the previous one here.
        SumRows<VT>(plan, plan.rows[y], n, v);
        FinishColumns<C, VT, AT>(plan, v, div, dst.row(y));
    }
    return true;
}

// Rows first when the height shrinks (or a row footprint could span more
// than two rows), columns first otherwise.
bool UseRowsFirst(int32_t height, int32_t outHeight, uint64_t ky) {
    return outHeight < height || ky > 256;
}

template <int C>
bool ResampleChannels(ProgressReporter& p, const Plan& plan, const DIBLock& dst, uint8_t* scratch) {
    // kx and ky come from sizes below 2^31, so 255 x kx x ky stays far
    // below 2^64 for any block that fits in memory.
    const bool sumFits32 = plan.ky <= UINT32_MAX && 255 * plan.kx * plan.ky <= UINT32_MAX;
    if (UseRowsFirst(plan.height, plan.outHeight, plan.ky)) {
        if (sumFits32) return RowsFirst<C, uint32_t, uint32_t>(p, plan, dst, scratch);
        if (255 * plan.ky <= UINT32_MAX)
            return RowsFirst<C, uint32_t, uint64_t>(p, plan, dst, scratch);
        return RowsFirst<C, uint64_t, uint64_t>(p, plan, dst, scratch);
    }
    if (sumFits32) return ColumnsFirst<C, uint32_t, uint32_t>(p, plan, dst, scratch);
    if (255 * plan.kx <= UINT32_MAX)
        return ColumnsFirst<C, uint32_t, uint64_t>(p, plan, dst, scratch);
    return ColumnsFirst<C, uint64_t, uint64_t>(p, plan, dst, scratch);
}

// 4 bits: each pixel becomes the blue component of its palette entry (0
// for an index past the palette's entries), one byte a pixel.
void ExpandNibbles(const DIBLock& src, uint8_t* out) {
    uint8_t blue[16] = {};
    const uint32_t entries = std::min<uint32_t>(16, DIBPaletteEntries(src.header()));
    for (uint32_t i = 0; i < entries; ++i)
        blue[i] = src.palette()[i].rgbBlue;
    const int32_t W = src.width(), H = src.height();
    for (int32_t r = 0; r < H; ++r) {
        const uint8_t* row = src.row(r);
        uint8_t* o = out + size_t(r) * size_t(W);
        for (int32_t x = 0; x + 1 < W; x += 2) {
            o[x] = blue[row[x >> 1] >> 4];
            o[x + 1] = blue[row[x >> 1] & 15];
        }
        if (W & 1) o[W - 1] = blue[row[W >> 1] >> 4];
    }
}

} // namespace

KervErrorCode ResampleDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                          int16_t width, uint16_t height) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!SizeUsable(width, height)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !DepthAveraged(src)) return KERV_INVALID_PARAM;
    ProgressReporter p(status);

    const int32_t W = src.width(), H = src.height();
    const int32_t outW = width, outH = height;
    const int bits = src.bitCount() == 24 ? 24 : 8;
    const int C = bits / 8;

    KOwnedHandle out(AllocDIB(outW, outH, bits, bits == 8 ? 256 : 0));
    if (!out) return KERV_NO_MEMORY;
    DIBLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;
    if (bits == 8)
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<uint8_t>(i);
            dst.palette()[i] = RGBQUAD{v, v, v, 0};
        }

    const uint8_t* pixels = src.bits();
    size_t stride = src.stride();
    KBuffer expanded;
    if (src.bitCount() == 4) {
        if (!expanded.allocate(size_t(W) * size_t(H), KMEM_MOVEABLE)) return KERV_NO_MEMORY;
        ExpandNibbles(src, expanded.data());
        pixels = expanded.data();
        stride = size_t(W);
    }

    const double sx = double(outW) / double(W), sy = double(outH) / double(H);
    const uint64_t kx = FootprintSize(sx), ky = FootprintSize(sy);

    KBuffer colTable, rowTable;
    if (!colTable.allocate(sizeof(Span) * size_t(outW))) return KERV_NO_MEMORY;
    if (!rowTable.allocate(sizeof(Span) * size_t(outH))) return KERV_NO_MEMORY;
    Span* cols = colTable.as<Span>();
    Span* rows = rowTable.as<Span>();
    MakeSpans(cols, outW, sx, kx, W);
    MakeSpans(rows, outH, sy, ky, H);

    KBuffer twoTapTable;
    const TwoTaps* twoTaps = nullptr;
    const bool narrow = std::all_of(cols, cols + outW, [](const Span& s) { return s.count <= 2; });
    if (narrow && 255 * kx <= UINT32_MAX) {
        if (!twoTapTable.allocate(sizeof(TwoTaps) * size_t(outW))) return KERV_NO_MEMORY;
        auto* t = twoTapTable.as<TwoTaps>();
        for (int32_t x = 0; x < outW; ++x) {
            const Span& s = cols[x];
            const auto off = static_cast<uint32_t>(s.start * C);
            const bool two = s.count == 2;
            t[x] = TwoTaps{off, two ? off + uint32_t(C) : off, uint32_t(s.wFirst),
                           two ? uint32_t(s.wLast) : 0};
        }
        twoTaps = t;
    }

    // Rows first: one row of sums at source width. Columns first: two
    // reduced rows. Both at the widest type.
    const size_t scratchBytes = UseRowsFirst(H, outH, ky)
                                    ? sizeof(uint64_t) * size_t(W) * size_t(C)
                                    : 2 * sizeof(uint64_t) * size_t(outW) * size_t(C);
    KBuffer scratch;
    if (!scratch.allocate(scratchBytes, KMEM_MOVEABLE)) return KERV_NO_MEMORY;

    const bool singleColumns =
        twoTaps && std::all_of(cols, cols + outW, [](const Span& s) { return s.count == 1; });
    const Plan plan{pixels, stride, W, H, outW, outH, cols, twoTaps, singleColumns, rows, kx, ky};
    p.begin(outH);
    const bool done = C == 3 ? ResampleChannels<3>(p, plan, dst, scratch.data())
                             : ResampleChannels<1>(p, plan, dst, scratch.data());
    if (!done) return KERV_STOPPED;
    p.end();
    dst = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}
