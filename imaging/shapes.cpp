// Circle and pentagon.
//
// The circle's horizontal squeeze changes from row to row (the row's chord)
// and its vertical squeeze from column to column (the column's chord), so
// every pixel is its own small two-way box. The divisions that place a
// pixel's box are kept out of the pixel loop where they repeat: along a row
// the positions u * W / w follow one another by adding W / w and carrying
// the remainder, and each column keeps its own running row position.
//
// The pentagon's vertical squeeze is the same for the whole row, so each
// output row weighs its source rows into one line of sums first and then
// streams that line into the row's span.
#include "imaging/shapes.h"

#include "imaging/checks.h"
#include "imaging/deform_shared.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

using namespace imaging_checks;
using deform::Background;

bool AtLeast5x5(const DIBLock& d) {
    return d.width() >= 5 && d.height() >= 5;
}

// ---- Box weights along one direction ----

// f(0), f(1), ..., f(N - 1) written out: the few-share sums below are short
// fixed loops that -O2 would otherwise keep as loops.
template <int N, class F> inline void Unrolled(F f) {
    [&]<int... I>(std::integer_sequence<int, I...>) {
        (f(I), ...);
    }
    (std::make_integer_sequence<int, N>{});
}

// Units per source pixel of n source pixels going into m output pixels.
inline int64_t UnitsPerPixel(int64_t m, int64_t n) {
    return std::max<int64_t>(1, m * 100 / n);
}

// Output pixels u = 0, 1, 2, ... of m along n source pixels. Pixel u starts
// at source pixel s with e / m of it taken (u * n = s * m + e), which still
// supplies k - floor(e * k / m) units, at least 1 since e < m. Moving on to
// u + 1 adds n / m to s and n % m to e, and floor(e * k / m) follows by
// additions too, so no division is left in the pixel loops.
class Walk {
  public:
    Walk() = default;
    Walk(int64_t n, int64_t m)
        : k_(UnitsPerPixel(m, n)), m_(m), ds_(n / m), de_(n % m), dq_(de_ * k_ / m),
          dr_(de_ * k_ % m) {}
    int64_t start() const { return s_; }
    int64_t first() const { return k_ - q_; }
    int64_t k() const { return k_; }
    // Without branches: the carries follow no pattern a predictor learns.
    void next() {
        s_ += ds_;
        e_ += de_;
        q_ += dq_; // q = floor(e k / m), r = e k mod m
        r_ += dr_;
        const int64_t carryR = -int64_t(r_ >= m_); // all ones or 0
        r_ -= m_ & carryR;
        q_ -= carryR;
        const int64_t carryE = -int64_t(e_ >= m_);
        e_ -= m_ & carryE;
        s_ -= carryE;
        q_ -= k_ & carryE;
    }

  private:
    int64_t k_ = 1, m_ = 1, ds_ = 0, de_ = 0, dq_ = 0, dr_ = 0;
    int64_t s_ = 0, e_ = 0, q_ = 0, r_ = 0;
};

// The shares of one output pixel: source pixels start .. start + count - 1,
// adding up to 100. At most 100 of them: every share is at least 1.
struct AxisTaps {
    int64_t start;
    int32_t count;
    uint8_t w[100];
};

// From source pixel s supplying `first`, then k a pixel; the last of the n
// source pixels supplies whatever is still needed.
inline void MakeTaps(int64_t s, int64_t first, int64_t k, int64_t n, AxisTaps& t) {
    if (s >= n - 1) {
        t.start = n - 1;
        t.count = 1;
        t.w[0] = 100;
        return;
    }
    t.start = s;
    int64_t take = std::min<int64_t>(first, 100);
    t.w[0] = static_cast<uint8_t>(take);
    t.count = 1;
    int64_t need = 100 - take;
    for (int64_t pos = s + 1; need > 0; ++pos) {
        take = pos == n - 1 ? need : std::min(k, need);
        t.w[t.count++] = static_cast<uint8_t>(take);
        need -= take;
    }
}

// ---- The box of one pixel ----

// Where the pixels are: bits of the stored rows, stride bytes apart.
struct Pixels {
    const uint8_t* bits;
    size_t stride;
    const uint8_t* row(int64_t r) const { return bits + size_t(r) * stride; }
};

// sum over the taps of pixel x horizontal share x vertical share / 10,000.
template <int C>
inline void BoxPixel(const Pixels& src, const AxisTaps& across, const AxisTaps& down,
                     uint8_t* out) {
    uint32_t total[C] = {};
    for (int32_t a = 0; a < down.count; ++a) {
        const uint8_t* p = src.row(down.start + a) + size_t(across.start) * C;
        uint32_t line[C] = {};
        for (int32_t b = 0; b < across.count; ++b, p += C)
            for (int ch = 0; ch < C; ++ch)
                line[ch] += uint32_t(across.w[b]) * p[ch];
        for (int ch = 0; ch < C; ++ch)
            total[ch] += line[ch] * down.w[a];
    }
    for (int ch = 0; ch < C; ++ch)
        out[ch] = static_cast<uint8_t>(total[ch] / 10000);
}

// The usual box: at most N shares each way, taken from N source pixels
// that all exist (shares past the last needed are 0), so the sums have a
// fixed number of terms at fixed offsets. False when the box needs more
// shares or would reach the last source pixel.
template <int N> struct FewShares {
    uint32_t w[N];
    int32_t count; // shares that are not 0
};

template <int N>
inline bool MakeFewShares(int64_t s, int64_t first, int64_t k, int64_t n, FewShares<N>& f) {
    if (s + N - 1 > n - 1) return false;
    auto need = uint32_t(100);
    const auto kk = static_cast<uint32_t>(std::min<int64_t>(k, 100));
    f.w[0] = static_cast<uint32_t>(std::min<int64_t>(first, 100));
    need -= f.w[0];
    f.count = 1;
    Unrolled<N - 1>([&](int i) {
        f.w[i + 1] = std::min(kk, need);
        need -= f.w[i + 1];
        f.count += f.w[i + 1] != 0;
    });
    return need == 0;
}

// A rows down, N columns across. The first two rows are summed always (a
// share of 0 where there is one row); more rows are rarer.
template <int C, int N, int A>
inline void FewBoxPixel(const Pixels& src, int64_t x, const FewShares<N>& across, int64_t y,
                        const FewShares<A>& down, uint8_t* out) {
    const uint8_t* p = src.row(y) + size_t(x) * C;
    auto line = [&](const uint8_t* q, int ch) {
        uint32_t sum = 0;
        Unrolled<N>([&](int i) { sum += across.w[i] * q[i * C + ch]; });
        return sum;
    };
    uint32_t total[C];
    for (int ch = 0; ch < C; ++ch)
        total[ch] = line(p, ch) * down.w[0] + line(p + src.stride, ch) * down.w[1];
    for (int a = 2; a < down.count; ++a)
        for (int ch = 0; ch < C; ++ch)
            total[ch] += line(p + a * src.stride, ch) * down.w[a];
    for (int ch = 0; ch < C; ++ch)
        out[ch] = static_cast<uint8_t>(total[ch] / 10000);
}

// ---- Circle ----

struct CircleLine {
    int64_t half;  // isqrt(R^2 - (R - i)^2)
    int64_t chord; // max(1, 2 half)
};

// Each output column's vertical squeeze (its chord holds the H source rows
// from row `off` on) and where its box stands at row `off + v`.
struct CircleColumn {
    int64_t off;
    int64_t v;
    Walk at;
};

int64_t ISqrt(int64_t n) {
    auto x = static_cast<int64_t>(std::sqrt(static_cast<double>(n)));
    while (x * x > n)
        --x;
    while ((x + 1) * (x + 1) <= n)
        ++x;
    return x;
}

struct CircleTables {
    int64_t R, D;
    CircleLine* lines;
    CircleColumn* columns;
};

// Pixel (c, r) lies in the disc when (R - c)^2 + (R - r)^2 <= R^2, that is
// |R - c| <= half[r]: one run of columns. Inside the disc the pixel lies
// within both chords or one past their end (which reads the last source
// pixel): u and v run over 0 .. chord.
// N: the most shares a pixel of this row takes across in the usual case.
template <int C, int N>
void CircleRow(const Pixels& src, int64_t W, int64_t H, const CircleTables& t, int64_t r,
               const Background& bg, uint8_t* out) {
    const int64_t first = std::max<int64_t>(0, t.R - t.lines[r].half);
    const int64_t last = std::min(t.D - 1, t.R + t.lines[r].half);
    const int64_t w = t.lines[r].chord;
    Walk across(W, w);
    for (int64_t u = 0; u < first - (2 * t.R - w) / 2; ++u)
        across.next();

    deform::FillBackground<C>(out, first, C, bg);
    AxisTaps a, d;
    FewShares<N> fewAcross;
    FewShares<4> fewDown;
    for (int64_t c = first; c <= last; ++c, across.next()) {
        CircleColumn& col = t.columns[c];
        for (const int64_t v = r - col.off; col.v < v; ++col.v)
            col.at.next();
        const Walk& down = col.at;
        if (MakeFewShares(across.start(), across.first(), across.k(), W, fewAcross) &&
            MakeFewShares(down.start(), down.first(), down.k(), H, fewDown)) {
            FewBoxPixel<C>(src, across.start(), fewAcross, down.start(), fewDown, out + c * C);
            continue;
        }
        MakeTaps(across.start(), across.first(), across.k(), W, a);
        MakeTaps(down.start(), down.first(), down.k(), H, d);
        BoxPixel<C>(src, a, d, out + c * C);
    }
    deform::FillBackground<C>(out + (last + 1) * C, t.D - 1 - last, C, bg);
}

// Rows whose chord takes 50 or more units a source column need at most
// three shares across (1 + 50 + 50 covers 100); narrower ones up to four
// before the general box.
template <int C>
void CircleRow(const Pixels& src, int64_t W, int64_t H, const CircleTables& t, int64_t r,
               const Background& bg, uint8_t* out) {
    if (UnitsPerPixel(t.lines[r].chord, W) >= 50)
        CircleRow<C, 3>(src, W, H, t, r, bg, out);
    else
        CircleRow<C, 4>(src, W, H, t, r, bg, out);
}

// ---- Pentagon ----

struct Pentagon {
    int64_t r, Rp, Hp, a, yw;

    Pentagon(int64_t W, int64_t H) {
        r = W >= 343 * H / 330 ? static_cast<int64_t>(double(H) * 0.5257311211268731) : W / 2;
        Rp = static_cast<int64_t>(double(r) * 1.0514622422537463);
        Hp = Rp + static_cast<int64_t>(double(Rp) * 0.809017);
        a = static_cast<int64_t>(double(Rp) * 1.1755705);
        yw = static_cast<int64_t>(double(a) * 0.9510565);
    }

    // The first column of row y: the first whose centre c + 1/2 lies at or
    // right of the left edge x = num / den, and no further right than r - 1.
    // From 5 x 5 on, r >= 2 keeps both denominators at least 1.
    int64_t Left(int64_t y) const {
        int64_t num, den;
        if (y <= yw) {
            num = (r - a / 2) * (yw - y);
            den = yw;
        } else {
            num = r * (y - yw);
            den = Hp - 1 - yw;
        }
        const int64_t t = 2 * num - den; // c >= t / (2 den)
        const int64_t first = t <= 0 ? 0 : (t + 2 * den - 1) / (2 * den);
        return std::min(first, r - 1);
    }
};

// Streams the line of sums (W pixels of C values) into out[0 .. span): 100
// units an output pixel, k a source pixel, from source pixel 0.
template <int C>
void StreamSpan(const uint16_t* line, int64_t W, int64_t span, int64_t k, uint8_t* out) {
    int64_t pos = 0, rem = k;
    for (int64_t x = 0; x < span; ++x, out += C) {
        uint32_t sum[C] = {};
        int64_t need = 100;
        while (need != 0) {
            const uint16_t* q = line + pos * C;
            if (pos >= W - 1) {
                for (int ch = 0; ch < C; ++ch)
                    sum[ch] += uint32_t(q[ch]) * uint32_t(need);
                break;
            }
            const int64_t t = std::min(need, rem);
            for (int ch = 0; ch < C; ++ch)
                sum[ch] += uint32_t(q[ch]) * uint32_t(t);
            need -= t;
            rem -= t;
            if (rem == 0) {
                ++pos;
                rem = k;
            }
        }
        for (int ch = 0; ch < C; ++ch)
            out[ch] = static_cast<uint8_t>(sum[ch] / 10000);
    }
}

// Row y of the output; `rows` stands at y.
template <int C>
void PentagonRow(const DIBLock& src, const Pentagon& g, const Walk& rows, int64_t y,
                 const Background& bg, uint16_t* line, uint8_t* out) {
    const int64_t W = src.width(), H = src.height();
    AxisTaps down;
    MakeTaps(rows.start(), rows.first(), rows.k(), H, down);
    deform::WeighRows(src, down.start, down.count, down.w, size_t(W) * C, line);

    const int64_t left = g.Left(y), right = 2 * g.r - 1 - left;
    const int64_t span = right - left + 1;
    deform::FillBackground<C>(out, left, C, bg);
    StreamSpan<C>(line, W, span, UnitsPerPixel(span, W), out + left * C);
    deform::FillBackground<C>(out + (right + 1) * C, 2 * g.r - 1 - right, C, bg);
}

} // namespace

KervErrorCode CircleDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, uint8_t red,
                        uint8_t green, uint8_t blue) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !deform::DepthDeformable(src)) return KERV_INVALID_PARAM;
    ProgressReporter p(status);

    const int64_t R = std::min(src.width(), src.height()) / 2;
    const int64_t D = std::max<int64_t>(2 * R, 1);
    KOwnedHandle out(deform::AllocLike(src, int32_t(D), int32_t(D)));
    if (!out) return KERV_NO_MEMORY;
    DIBLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;
    KBuffer lines, columns;
    if (!lines.allocate(sizeof(CircleLine) * size_t(D), KMEM_MOVEABLE)) return KERV_NO_MEMORY;
    if (!columns.allocate(sizeof(CircleColumn) * size_t(D), KMEM_MOVEABLE)) return KERV_NO_MEMORY;

    const CircleTables t{R, D, lines.as<CircleLine>(), columns.as<CircleColumn>()};
    const int64_t H = src.height();
    for (int64_t i = 0; i < D; ++i) {
        const int64_t k = R - i;
        const int64_t half = ISqrt(R * R - k * k);
        t.lines[i] = CircleLine{half, std::max<int64_t>(1, 2 * half)};
    }
    for (int64_t c = 0; c < D; ++c) {
        const int64_t h = t.lines[c].chord;
        t.columns[c] = CircleColumn{(2 * R - h) / 2, 0, Walk(H, h)};
    }
    const Background bg(src.bitCount(), red, green, blue);
    const Pixels pixels{src.bits(), src.stride()};
    const int64_t W = src.width();

    p.begin(int32_t(D));
    for (int64_t r = 0; r < D; ++r) {
        if (p.step(int32_t(r))) return KERV_STOPPED;
        if (src.bitCount() == 24)
            CircleRow<3>(pixels, W, H, t, r, bg, dst.row(int32_t(r)));
        else
            CircleRow<1>(pixels, W, H, t, r, bg, dst.row(int32_t(r)));
    }
    p.end();
    dst = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}

KervErrorCode PentagonDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, uint8_t red,
                          uint8_t green, uint8_t blue) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !deform::DepthDeformable(src)) return KERV_INVALID_PARAM;
    if (!AtLeast5x5(src)) return KERV_INVALID_PARAM;
    ProgressReporter p(status);

    const Pentagon g(src.width(), src.height());
    const int C = src.bitCount() / 8;
    KOwnedHandle out(deform::AllocLike(src, int32_t(2 * g.r), int32_t(g.Hp)));
    if (!out) return KERV_NO_MEMORY;
    DIBLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;
    KBuffer line;
    if (!line.allocate(sizeof(uint16_t) * size_t(src.width()) * size_t(C), KMEM_MOVEABLE))
        return KERV_NO_MEMORY;
    const Background bg(src.bitCount(), red, green, blue);

    Walk rows(src.height(), g.Hp);
    p.begin(int32_t(g.Hp));
    for (int64_t y = 0; y < g.Hp; ++y, rows.next()) {
        if (p.step(int32_t(y))) return KERV_STOPPED;
        if (C == 3)
            PentagonRow<3>(src, g, rows, y, bg, line.as<uint16_t>(), dst.row(int32_t(y)));
        else
            PentagonRow<1>(src, g, rows, y, bg, line.as<uint16_t>(), dst.row(int32_t(y)));
    }
    p.end();
    dst = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}
