// Convolution filters and the unsharp mask.
//
// One engine serves the four variants. Each source row is copied once into
// a ring of N line buffers, padded with its first and last pixel repeated R
// times, and the window's rows are picked from the ring with the first and
// last row repeated. The inner loops then neither test bounds nor branch at
// the edges:
//
//   line k (stored row y - R + k):  | first x R | pixels 0 .. W-1 | last x R |
//   output sample j of row y = sum over (k, c) of weight[k][c] x line k [j + C x c]
//
// with C the bytes of a pixel (1 or 3): the channels never mix, and a row is
// one run of C x W samples whichever the depth.
//
// The products are computed directly. A table of 256 products per weight
// would hold the same values; computing them needs no table blocks and lets
// the sums run in vector registers. There are three ways to the sums, all of
// them giving the same integers:
// - Wide: 32-bit sums, plain per-sample code. Any kernel.
// - Narrow: when 255 x (sum of the positive weights) and 255 x (sum of the
//   negative ones' magnitudes) are both at most 32767, no sum can leave the
//   range of 16 bits: 8 samples per SSE2 register. Taps of equal weight are
//   added up before the one multiplication. The division is a multiply-high
//   (see PlanDivision).
// - Separable: a narrow kernel that is a column u times a row v (the box
//   blurs) is summed down the columns with u into a 16-bit row, then along
//   that row with v. Arithmetic modulo 2^16 is exact for + - x, so wrapped
//   partial sums still end in the right 16-bit sum.
//
// The unsharp mask blurs with one of the kernels and then works byte by byte
// on the source and the blurred copy.
#include "imaging/filter.h"

#include "imaging/checks.h"
#include "imaging/filter_internal.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>

namespace {

using filter_detail::DivisionPlan;
using filter_detail::SumPath;
using namespace imaging_checks;

// ---- Checks: one line per rule ----

bool KernelGiven(const FilterKernel* kernel) {
    return kernel != nullptr;
}
bool DivisorNotZero(const FilterKernel* kernel) {
    return kernel->divisor != 0;
}
// The 3 x 3 window must lie inside the 5 x 5 grid.
bool WindowInGrid(uint8_t rowOffset, uint8_t colOffset) {
    return rowOffset <= 2 && colOffset <= 2;
}
bool DepthIs(const DIBLock& d, int bits) {
    return d.bitCount() == bits;
}
bool TallEnough(const DIBLock& d, int size) {
    return d.height() >= size;
}
bool StrengthKnown(uint16_t strength) {
    return strength >= 1 && strength <= 4;
}

// ---- The kernel and how its sums are made ----

constexpr int kMaxSize = 5;
constexpr int kMaxTaps = kMaxSize * kMaxSize;

// One non-zero weight: which line it reads (kernel row) and its element
// offset along the line.
struct Tap {
    int line;
    int offset;
    int32_t weight;
};

// Taps sorted by weight, so that taps of equal weight sit together.
struct TapList {
    int count = 0;
    Tap taps[kMaxTaps] = {};

    void add(int line, int offset, int32_t weight) {
        if (weight != 0) taps[count++] = Tap{line, offset, weight};
    }
    void sort() {
        std::stable_sort(taps, taps + count,
                         [](const Tap& a, const Tap& b) { return a.weight < b.weight; });
    }
};

struct Plan {
    int size = 3;     // N
    int channels = 1; // C
    int32_t w[kMaxSize][kMaxSize] = {};
    int16_t divisor = 1;
    uint8_t bias = 0;
    SumPath path = SumPath::Wide;
    int32_t u[kMaxSize] = {}, v[kMaxSize] = {}; // Separable: w[k][c] = u[k] x v[c]

    int radius() const { return size / 2; }
};

int CountNonZero(const int32_t* a, int n) {
    return static_cast<int>(std::count_if(a, a + n, [](int32_t x) { return x != 0; }));
}

// Writes w as column u times row v, in integers, when it is one; false
// otherwise. With v the pivot row divided by the gcd of its entries, u comes
// out whole; the product is checked anyway.
bool Factor(const Plan& p, int32_t* u, int32_t* v) {
    const int n = p.size;
    int k0 = -1, c0 = -1;
    for (int k = 0; k < n && k0 < 0; ++k)
        for (int c = 0; c < n; ++c)
            if (p.w[k][c] != 0) {
                k0 = k, c0 = c;
                break;
            }
    if (k0 < 0) return false;
    int32_t g = 0;
    for (int c = 0; c < n; ++c)
        g = std::gcd(g, p.w[k0][c]);
    for (int c = 0; c < n; ++c)
        v[c] = p.w[k0][c] / g;
    for (int k = 0; k < n; ++k)
        u[k] = p.w[k][c0] / v[c0];
    for (int k = 0; k < n; ++k)
        for (int c = 0; c < n; ++c)
            if (int64_t{u[k]} * v[c] != p.w[k][c]) return false;
    return true;
}

Plan MakePlan(const FilterKernel& kernel, int size, int rowOffset, int colOffset, int channels) {
    Plan p;
    p.size = size;
    p.channels = channels;
    p.divisor = kernel.divisor;
    p.bias = kernel.bias;
    int64_t positive = 0, negative = 0;
    for (int k = 0; k < size; ++k)
        for (int c = 0; c < size; ++c) {
            const int32_t w = kernel.weights[(rowOffset + k) * kMaxSize + colOffset + c];
            p.w[k][c] = w;
            (w > 0 ? positive : negative) += std::abs(w);
        }
    if (255 * positive > 32767 || 255 * negative > 32767) return p;
    p.path = SumPath::Narrow;
    // Summing down and then along costs a pass over a 16-bit row of its own:
    // worth it only where it saves more than that.
    int32_t u[kMaxSize], v[kMaxSize];
    if (Factor(p, u, v) &&
        CountNonZero(u, size) + CountNonZero(v, size) + 2 < CountNonZero(&p.w[0][0], kMaxTaps)) {
        p.path = SumPath::Separable;
        std::copy(u, u + size, p.u);
        std::copy(v, v + size, p.v);
    }
    return p;
}

// The direct taps of the kernel: line k, offset C x c.
TapList DirectTaps(const Plan& p) {
    TapList t;
    for (int k = 0; k < p.size; ++k)
        for (int c = 0; c < p.size; ++c)
            t.add(k, p.channels * c, p.w[k][c]);
    t.sort();
    return t;
}

// ---- Division by multiply-high ----

// For magnitudes n < 2^15 and a divisor d of 2 .. 32768, with l = ceil(log2
// d) and magic = ceil(2^(15 + l) / d): floor(n / d) = (n x magic) >> (15 +
// l). The error of magic is below d <= 2^l, which keeps the product within
// the same multiple of d for every n below 2^15; and magic < 2^16, so it
// fits an unsigned 16-bit lane. The product's high half is one instruction,
// leaving a shift by l - 1.
DivisionPlan MakeDivisionPlan(int d) {
    int l = 0;
    while ((1 << l) < d)
        ++l;
    const uint32_t magic = ((uint32_t{1} << (15 + l)) + uint32_t(d) - 1) / uint32_t(d);
    return DivisionPlan{static_cast<uint16_t>(magic), l - 1};
}

// ---- 16-bit vector code (SSE2, 8 lanes) ----

using V = __m128i;
constexpr size_t kBlock = 16; // samples per step: one register of bytes, two of words

struct Pair {
    V lo, hi;
};

// 16 bytes widened to words, or 16 words.
inline Pair Load(const uint8_t* p) {
    const V b = _mm_loadu_si128(reinterpret_cast<const V*>(p));
    const V z = _mm_setzero_si128();
    return {_mm_unpacklo_epi8(b, z), _mm_unpackhi_epi8(b, z)};
}
inline Pair Load(const int16_t* p) {
    return {_mm_loadu_si128(reinterpret_cast<const V*>(p)),
            _mm_loadu_si128(reinterpret_cast<const V*>(p + 8))};
}
inline void StoreWords(int16_t* p, Pair a) {
    _mm_storeu_si128(reinterpret_cast<V*>(p), a.lo);
    _mm_storeu_si128(reinterpret_cast<V*>(p + 8), a.hi);
}
// Signed 16-bit values, saturated to 0 .. 255.
inline void StoreClamped(uint8_t* p, Pair a) {
    _mm_storeu_si128(reinterpret_cast<V*>(p), _mm_packus_epi16(a.lo, a.hi));
}
inline Pair Add(Pair a, Pair b) {
    return {_mm_add_epi16(a.lo, b.lo), _mm_add_epi16(a.hi, b.hi)};
}
inline Pair Sub(Pair a, Pair b) {
    return {_mm_sub_epi16(a.lo, b.lo), _mm_sub_epi16(a.hi, b.hi)};
}
inline Pair Mul(Pair a, V w) {
    return {_mm_mullo_epi16(a.lo, w), _mm_mullo_epi16(a.hi, w)};
}

// Taps of equal weight, ready for the vector loop: pointers for the current
// row, groups of equal weight with the weight in every lane.
template <class Src> struct VectorTaps {
    struct Group {
        int begin, end;
        int32_t weight;
        V lanes;
    };
    const Src* ptr[kMaxTaps];
    Group groups[kMaxTaps];
    int groupCount = 0;

    explicit VectorTaps(const TapList& list) {
        for (int i = 0; i < list.count; ++i) {
            const int32_t w = list.taps[i].weight;
            if (i == 0 || w != list.taps[i - 1].weight)
                groups[groupCount++] = Group{i, i, w, _mm_set1_epi16(static_cast<int16_t>(w))};
            groups[groupCount - 1].end = i + 1;
        }
    }
    void point(const TapList& list, const Src* const* lines) {
        for (int i = 0; i < list.count; ++i)
            ptr[i] = lines[list.taps[i].line] + list.taps[i].offset;
    }
    // The sums of samples j .. j + 15.
    Pair sum(size_t j) const {
        Pair acc{_mm_setzero_si128(), _mm_setzero_si128()};
        for (int g = 0; g < groupCount; ++g) {
            const Group& gr = groups[g];
            Pair part = Load(ptr[gr.begin] + j);
            for (int i = gr.begin + 1; i < gr.end; ++i)
                part = Add(part, Load(ptr[i] + j));
            if (gr.weight == 1)
                acc = Add(acc, part);
            else if (gr.weight == -1)
                acc = Sub(acc, part);
            else
                acc = Add(acc, Mul(part, gr.lanes));
        }
        return acc;
    }
};

// Division, bias and clamp for 16-bit sums within -32767 .. 32767:
// q = sign x (|n| x magic) >> (16 + shift), then bias added with saturation
// (a quotient near 32767 stays far above 255) and the pack clamps.
struct Finisher {
    bool unit; // divisor 1 or -1
    V magic, negate, bias;
    V shift; // count for the logical shift

    Finisher(int16_t divisor, uint8_t b) {
        const int d = std::abs(int{divisor});
        unit = d == 1;
        const DivisionPlan plan = unit ? DivisionPlan{0, 0} : MakeDivisionPlan(d);
        magic = _mm_set1_epi16(static_cast<int16_t>(plan.magic));
        shift = _mm_cvtsi32_si128(plan.shift);
        negate = divisor < 0 ? _mm_set1_epi16(-1) : _mm_setzero_si128();
        bias = _mm_set1_epi16(b);
    }
    V quotient(V n) const {
        const V sign = _mm_xor_si128(_mm_srai_epi16(n, 15), negate);
        V a = _mm_max_epi16(n, _mm_sub_epi16(_mm_setzero_si128(), n));
        if (!unit) a = _mm_srl_epi16(_mm_mulhi_epu16(a, magic), shift);
        const V q = _mm_sub_epi16(_mm_xor_si128(a, sign), sign);
        return _mm_adds_epi16(q, bias);
    }
    void store(uint8_t* out, Pair sums) const {
        StoreClamped(out, Pair{quotient(sums.lo), quotient(sums.hi)});
    }
};

// Output samples 0 .. n-1 from sums of blocks of 16; the last, partial
// block goes through a buffer (the line buffers have room to be read past
// the row, the destination has not).
template <class Src>
void FinishRow(const VectorTaps<Src>& taps, const Finisher& fin, size_t n, uint8_t* out) {
    size_t j = 0;
    for (; j + kBlock <= n; j += kBlock)
        fin.store(out + j, taps.sum(j));
    if (j < n) {
        uint8_t last[kBlock];
        fin.store(last, taps.sum(j));
        std::memcpy(out + j, last, n - j);
    }
}

// Column sums of a separable kernel, over the whole padded line (whole
// blocks: the row of sums has room for them).
void SumDown(const VectorTaps<uint8_t>& taps, size_t n, int16_t* out) {
    for (size_t j = 0; j < n; j += kBlock)
        StoreWords(out + j, taps.sum(j));
}

// ---- 32-bit code ----

// Any kernel: products of up to 32768 x 255, 25 of them, fit in 32 bits.
void WideRow(const TapList& list, const uint8_t* const* lines, int16_t divisor, uint8_t bias,
             size_t n, uint8_t* out) {
    const uint8_t* ptr[kMaxTaps];
    for (int i = 0; i < list.count; ++i)
        ptr[i] = lines[list.taps[i].line] + list.taps[i].offset;
    for (size_t j = 0; j < n; ++j) {
        int32_t sum = 0;
        for (int i = 0; i < list.count; ++i)
            sum += list.taps[i].weight * int32_t{ptr[i][j]};
        const int32_t value = sum / divisor + bias;
        out[j] = static_cast<uint8_t>(std::clamp(value, 0, 255));
    }
}

// ---- Line buffers ----

// Room past the end of each line and of the row of column sums, so whole
// vector blocks can be read and written there.
constexpr size_t kSlack = kBlock;

// N padded lines; source row r lives in slot r mod N. The window of rows y
// - R .. y + R is N consecutive rows at most, so their slots differ.
class LineRing {
  public:
    LineRing(uint8_t* base, const Plan& p, int32_t width)
        : base_(base), size_(p.size), c_(size_t(p.channels)), r_(size_t(p.radius())),
          width_(size_t(width)), lineBytes_(c_ * (width_ + 2 * r_) + kSlack) {}

    static size_t BytesFor(const Plan& p, int32_t width) {
        return size_t(p.size) *
               (size_t(p.channels) * (size_t(width) + 2 * size_t(p.radius())) + kSlack);
    }

    void load(const uint8_t* row, int32_t r) {
        uint8_t* p = slot(r);
        std::memcpy(p + c_ * r_, row, c_ * width_);
        for (size_t i = 0; i < r_; ++i) {
            std::memcpy(p + c_ * i, row, c_);
            std::memcpy(p + c_ * (r_ + width_ + i), row + c_ * (width_ - 1), c_);
        }
    }
    // lines[k] = the padded stored row y - R + k, clamped to the image.
    void window(int32_t y, int32_t height, const uint8_t** lines) const {
        for (int k = 0; k < size_; ++k) {
            const int32_t r = std::clamp<int32_t>(y - int32_t(r_) + k, 0, height - 1);
            lines[k] = slot(r);
        }
    }

  private:
    uint8_t* slot(int32_t r) const { return base_ + size_t(r % size_) * lineBytes_; }

    uint8_t* base_;
    int size_;
    size_t c_, r_, width_, lineBytes_;
};

// ---- The engine ----

// Copies what the filter does not compute from the source block: header,
// palette, row padding and anything after the pixels.
void CopyUnfiltered(const DIBLock& src, uint8_t* dst, size_t blockSize, size_t rowBytes) {
    const auto* base = reinterpret_cast<const uint8_t*>(src.header());
    const size_t bitsOffset = size_t(src.bits() - base);
    const size_t stride = src.stride();
    const size_t pixelEnd = bitsOffset + stride * size_t(src.height());
    std::memcpy(dst, base, bitsOffset);
    if (stride > rowBytes)
        for (int32_t r = 0; r < src.height(); ++r) {
            const size_t at = bitsOffset + size_t(r) * stride + rowBytes;
            std::memcpy(dst + at, base + at, stride - rowBytes);
        }
    if (blockSize > pixelEnd) std::memcpy(dst + pixelEnd, base + pixelEnd, blockSize - pixelEnd);
}

// Filters every row of src into the pixels at dstBits. false when stopped.
bool FilterRows(ProgressReporter& progress, const Plan& plan, const DIBLock& src, uint8_t* dstBits,
                LineRing& ring, int16_t* columnSums) {
    const int32_t W = src.width(), H = src.height();
    const size_t n = size_t(plan.channels) * size_t(W);
    const size_t stride = src.stride();
    const int R = plan.radius();

    const TapList direct = DirectTaps(plan);
    TapList down, along;
    if (plan.path == SumPath::Separable) {
        for (int k = 0; k < plan.size; ++k)
            down.add(k, 0, plan.u[k]);
        for (int c = 0; c < plan.size; ++c)
            along.add(0, plan.channels * c, plan.v[c]);
        down.sort();
        along.sort();
    }
    VectorTaps<uint8_t> directTaps(direct), downTaps(down);
    VectorTaps<int16_t> alongTaps(along);
    const Finisher fin(plan.divisor, plan.bias);
    const size_t paddedN = size_t(plan.channels) * (size_t(W) + 2 * size_t(R));
    const int16_t* sumsLine[1] = {columnSums};

    for (int32_t r = 0; r <= R; ++r)
        ring.load(src.row(r), r);
    progress.begin(H);
    for (int32_t y = 0; y < H; ++y) {
        if (progress.step(y)) return false;
        if (y > 0 && y + R < H) ring.load(src.row(y + R), y + R);
        const uint8_t* lines[kMaxSize];
        ring.window(y, H, lines);
        uint8_t* out = dstBits + size_t(y) * stride;
        switch (plan.path) {
        case SumPath::Wide:
            WideRow(direct, lines, plan.divisor, plan.bias, n, out);
            break;
        case SumPath::Narrow:
            directTaps.point(direct, lines);
            FinishRow(directTaps, fin, n, out);
            break;
        case SumPath::Separable:
            downTaps.point(down, lines);
            SumDown(downTaps, paddedN, columnSums);
            alongTaps.point(along, sumsLine);
            FinishRow(alongTaps, fin, n, out);
            break;
        }
    }
    progress.end();
    return true;
}

// The engine behind the four variants: validation, blocks, rows.
KervErrorCode Convolve(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                       const FilterKernel* kernel, int size, uint8_t rowOffset, uint8_t colOffset,
                       int bits) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!KernelGiven(kernel)) return KERV_INVALID_PARAM;
    if (!DivisorNotZero(kernel)) return KERV_INVALID_PARAM;
    if (!WindowInGrid(rowOffset, colOffset)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !DepthIs(src, bits)) return KERV_INVALID_PARAM;
    ProgressReporter progress(status);
    if (!TallEnough(src, size)) return KERV_INVALID_PARAM;

    const Plan plan = MakePlan(*kernel, size, rowOffset, colOffset, bits / 8);
    const int32_t W = src.width();
    KBuffer lineBlock, sumsBlock;
    if (!lineBlock.allocate(LineRing::BytesFor(plan, W))) return KERV_NO_MEMORY;
    if (plan.path == SumPath::Separable) {
        const size_t words =
            size_t(plan.channels) * (size_t(W) + 2 * size_t(plan.radius())) + kSlack;
        if (!sumsBlock.allocate(words * sizeof(int16_t))) return KERV_NO_MEMORY;
    }
    const size_t blockSize = KML_GlobalSize(source);
    // Every byte of the result is written: no zero-fill.
    KOwnedHandle out(KML_GlobalAlloc(KMEM_MOVEABLE, blockSize));
    if (!out) return KERV_NO_MEMORY;
    KLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;
    const size_t rowBytes = size_t(plan.channels) * size_t(W);
    CopyUnfiltered(src, dst.get(), blockSize, rowBytes);
    uint8_t* dstBits = dst.get() + (src.bits() - reinterpret_cast<const uint8_t*>(src.header()));

    LineRing ring(lineBlock.data(), plan, W);
    if (!FilterRows(progress, plan, src, dstBits, ring, sumsBlock.as<int16_t>()))
        return KERV_STOPPED;
    dst.unlock();
    *result = out.release();
    return KERV_OK;
}

// ---- The filter table ----

struct NamedKernel {
    int code;
    int size;
    FilterKernel kernel;
};

// A 3 x 3 kernel in the top left corner of the grid.
constexpr FilterKernel Kernel3(int16_t divisor, uint8_t bias, const int16_t (&w)[9]) {
    FilterKernel k{divisor, bias, {}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            k.weights[r * kMaxSize + c] = w[r * 3 + c];
    return k;
}
constexpr FilterKernel Kernel5(int16_t divisor, uint8_t bias, const int16_t (&w)[25]) {
    FilterKernel k{divisor, bias, {}};
    for (int i = 0; i < 25; ++i)
        k.weights[i] = w[i];
    return k;
}

// clang-format off
constexpr NamedKernel kFilters[] = {
    {FILTER_EMBOSS, 3, Kernel3(1, 128, {-1, 0, 0,
                                         0, 0, 0,
                                         0, 0, 1})},
    {FILTER_BLUR, 5, Kernel5(44, 0, {1, 1, 2, 1, 1,
                                     1, 2, 2, 2, 1,
                                     2, 2, 8, 2, 2,
                                     1, 2, 2, 2, 1,
                                     1, 1, 2, 1, 1})},
    {FILTER_BLUR_MORE, 5, Kernel5(25, 0, {1, 1, 1, 1, 1,
                                          1, 1, 1, 1, 1,
                                          1, 1, 1, 1, 1,
                                          1, 1, 1, 1, 1,
                                          1, 1, 1, 1, 1})},
    {FILTER_SHARPEN, 3, Kernel3(6, 0, { 0, -1,  0,
                                       -1, 10, -1,
                                        0, -1,  0})},
    {FILTER_SHARPEN_MORE, 5, Kernel5(32, 0, {-1, -1, -1, -1, -1,
                                             -1, -2, -2, -2, -1,
                                             -1, -2, 64, -2, -1,
                                             -1, -2, -2, -2, -1,
                                             -1, -1, -1, -1, -1})},
    {FILTER_SOFTEN, 3, Kernel3(97, 0, { 6, 12,  6,
                                       12, 25, 12,
                                        6, 12,  6})},
    {FILTER_SOFTEN_MORE, 3, Kernel3(9, 0, {1, 1, 1,
                                           1, 1, 1,
                                           1, 1, 1})},
    {FILTER_TRACE_CONTOUR, 3, Kernel3(1, 255, {-1, -1, -1,
                                               -1,  9, -1,
                                               -1, -1, -1})},
    // Stored negated with divisor -1: 5 x centre minus the four neighbours.
    {FILTER_EDGE_ENHANCE, 3, Kernel3(-1, 0, {0,  1, 0,
                                             1, -5, 1,
                                             0,  1, 0})},
    {FILTER_EDGE_ENHANCE_MORE, 3, Kernel3(1, 0, {-1, -1, -1,
                                                 -1,  9, -1,
                                                 -1, -1, -1})},
    {FILTER_FIND_EDGES, 3, Kernel3(1, 0, {-1, -1, -1,
                                          -1,  8, -1,
                                          -1, -1, -1})},
    {FILTER_FIND_HORIZONTAL_EDGES, 3, Kernel3(1, 0, {-1, -1, -1,
                                                      0,  0,  0,
                                                      1,  1,  1})},
    {FILTER_FIND_VERTICAL_EDGES, 3, Kernel3(1, 0, {-1, 0, 1,
                                                   -1, 0, 1,
                                                   -1, 0, 1})},
};
// clang-format on

const NamedKernel* FindFilter(int code) {
    for (const NamedKernel& f : kFilters)
        if (f.code == code) return &f;
    return nullptr;
}

// The blur of each unsharp strength, 1 .. 4.
constexpr int kUnsharpBlur[] = {FILTER_SOFTEN, FILTER_SOFTEN_MORE, FILTER_BLUR, FILTER_BLUR_MORE};

// ---- Unsharp mask ----

// Tells the status block about the two passes and gives it back as it was.
class TwoPasses {
  public:
    explicit TwoPasses(StatusControlBlock* s) : s_(s) {
        if (!s_) return;
        pass_ = s_->pass;
        passCount_ = s_->passCount;
        s_->passCount = 2;
        s_->pass = 0;
    }
    ~TwoPasses() {
        if (!s_) return;
        s_->pass = pass_;
        s_->passCount = passCount_;
    }
    TwoPasses(const TwoPasses&) = delete;
    TwoPasses& operator=(const TwoPasses&) = delete;

    // The second pass reports rows without a new start call.
    void second(int32_t units) {
        if (!s_) return;
        s_->pass = 1;
        if (s_->progress) s_->total = units;
    }
    bool step(int32_t i) {
        if (!s_ || !s_->progress) return false;
        s_->current = i;
        return s_->progress(s_) != 0;
    }
    void end() {
        if (!s_ || !s_->progress) return;
        s_->current = s_->total;
        s_->progress(s_);
    }

  private:
    StatusControlBlock* s_;
    int32_t pass_ = 0, passCount_ = 0;
};

// out = |s - b| > clip ? clamp(2s - b) : s, 16 samples at a time.
inline void SharpenBlock(const uint8_t* s, const uint8_t* b, V clip, uint8_t* out) {
    const Pair sv = Load(s), bv = Load(b);
    auto one = [clip](V x, V y) {
        const V d = _mm_sub_epi16(x, y);
        const V a = _mm_max_epi16(d, _mm_sub_epi16(_mm_setzero_si128(), d));
        const V m = _mm_cmpgt_epi16(a, clip);
        return _mm_or_si128(_mm_and_si128(m, _mm_add_epi16(x, d)), _mm_andnot_si128(m, x));
    };
    StoreClamped(out, Pair{one(sv.lo, bv.lo), one(sv.hi, bv.hi)});
}

void SharpenRow(const uint8_t* s, const uint8_t* b, int16_t clipping, size_t n, uint8_t* out) {
    const V clip = _mm_set1_epi16(clipping);
    size_t j = 0;
    for (; j + kBlock <= n; j += kBlock)
        SharpenBlock(s + j, b + j, clip, out + j);
    if (j < n) {
        uint8_t ls[kBlock] = {}, lb[kBlock] = {}, lo[kBlock];
        std::memcpy(ls, s + j, n - j);
        std::memcpy(lb, b + j, n - j);
        SharpenBlock(ls, lb, clip, lo);
        std::memcpy(out + j, lo, n - j);
    }
}

} // namespace

namespace filter_detail {

SumPath PathOf(const FilterKernel& kernel, int size, int rowOffset, int colOffset) {
    return MakePlan(kernel, size, rowOffset, colOffset, 1).path;
}

DivisionPlan PlanDivision(int divisorMagnitude) {
    return MakeDivisionPlan(divisorMagnitude);
}

void FinishSums(const int16_t* sums, size_t count, int16_t divisor, uint8_t bias, uint8_t* out) {
    const Finisher fin(divisor, bias);
    size_t j = 0;
    for (; j + kBlock <= count; j += kBlock)
        fin.store(out + j, Load(sums + j));
    if (j < count) {
        int16_t last[kBlock] = {};
        uint8_t lastOut[kBlock];
        std::memcpy(last, sums + j, (count - j) * sizeof(int16_t));
        fin.store(lastOut, Load(last));
        std::memcpy(out + j, lastOut, count - j);
    }
}

} // namespace filter_detail

KervErrorCode Apply3x3to8BPP(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                             const FilterKernel* kernel, uint8_t rowOffset, uint8_t colOffset) {
    return Convolve(status, source, result, kernel, 3, rowOffset, colOffset, 8);
}

KervErrorCode Apply3x3to24BPP(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                              const FilterKernel* kernel, uint8_t rowOffset, uint8_t colOffset) {
    return Convolve(status, source, result, kernel, 3, rowOffset, colOffset, 24);
}

KervErrorCode Apply5x5to8BPP(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                             const FilterKernel* kernel) {
    return Convolve(status, source, result, kernel, 5, 0, 0, 8);
}

KervErrorCode Apply5x5to24BPP(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                              const FilterKernel* kernel) {
    return Convolve(status, source, result, kernel, 5, 0, 0, 24);
}

KervErrorCode FilterDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                        uint8_t bitCount, int code) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    const NamedKernel* f = FindFilter(code);
    if (!f) return KERV_INVALID_PARAM;
    const bool rgb = bitCount == 24;
    if (f->size == 3)
        return rgb ? Apply3x3to24BPP(status, source, result, &f->kernel, 0, 0)
                   : Apply3x3to8BPP(status, source, result, &f->kernel, 0, 0);
    return rgb ? Apply5x5to24BPP(status, source, result, &f->kernel)
               : Apply5x5to8BPP(status, source, result, &f->kernel);
}

KervErrorCode UnsharpMask(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                          int16_t clipping, uint16_t strength) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!StrengthKnown(strength)) return KERV_INVALID_PARAM;
    int bits = 0;
    {
        DIBLock src(source);
        if (!src) return KERV_INVALID_PARAM;
        bits = src.bitCount();
    }
    TwoPasses passes(status);
    KHANDLE blurredHandle = nullptr;
    const KervErrorCode rc = FilterDIB(status, source, &blurredHandle, static_cast<uint8_t>(bits),
                                       kUnsharpBlur[strength - 1]);
    if (rc != KERV_OK) return rc;
    KOwnedHandle blurred(blurredHandle);

    DIBLock src(source), blur(blurred.get());
    if (!src || !blur) return KERV_NO_MEMORY;
    const size_t blockSize = KML_GlobalSize(source);
    KOwnedHandle out(KML_GlobalAlloc(KMEM_MOVEABLE, blockSize));
    if (!out) return KERV_NO_MEMORY;
    KLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;
    const size_t rowBytes = size_t(bits / 8) * size_t(src.width());
    CopyUnfiltered(src, dst.get(), blockSize, rowBytes);
    uint8_t* dstBits = dst.get() + (src.bits() - reinterpret_cast<const uint8_t*>(src.header()));

    const int32_t H = src.height();
    passes.second(H);
    for (int32_t y = 0; y < H; ++y) {
        if (passes.step(y)) return KERV_STOPPED;
        SharpenRow(src.row(y), blur.row(y), clipping, rowBytes, dstBits + size_t(y) * src.stride());
    }
    passes.end();
    dst.unlock();
    *result = out.release();
    return KERV_OK;
}
