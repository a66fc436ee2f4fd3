// Warp.
//
// The shares across a row do not depend on the row, and the shares down the
// image do not depend on the column: an output pixel is
//
//   sum over source rows i and columns j of p(j, i) x v(r, i) x h(c, j) / 10,000
//
// with v and h fixed per output row and column. So each direction's stream
// is walked once into a table of taps (a first source index and the shares
// of consecutive source pixels), and every output row is made in two exact
// integer passes: the row's source rows weighted into one line of sums (at
// most 255 x 100, 16 bits), then each output pixel gathered from that line
// (at most 255 x 10,000, 32 bits). Integer sums do not depend on the order
// of their terms, so this is bit for bit the direct double sum.
#include "imaging/warp.h"

#include "imaging/checks.h"
#include "imaging/deform_shared.h"

#include <algorithm>

const int16_t WarpStepTable[201] = {
    0,    680,  560,  480,  440,  415,  402,  390,  378,  365,  355,  348,  338,  328,  318,  308,
    298,  290,  280,  270,  260,  250,  242,  236,  230,  226,  222,  217,  213,  209,  205,  198,
    194,  190,  186,  182,  178,  174,  170,  166,  162,  158,  154,  150,  146,  142,  139,  136,
    133,  129,  126,  123,  120,  117,  114,  110,  107,  104,  101,  98,   95,   92,   90,   87,
    84,   81,   79,   76,   73,   71,   68,   65,   63,   60,   58,   55,   54,   51,   48,   46,
    43,   41,   38,   37,   34,   32,   30,   27,   25,   23,   21,   19,   17,   14,   12,   10,
    8,    6,    4,    2,    0,    -2,   -4,   -6,   -8,   -10,  -12,  -14,  -16,  -17,  -19,  -21,
    -23,  -25,  -27,  -29,  -31,  -32,  -34,  -36,  -38,  -40,  -42,  -43,  -45,  -47,  -48,  -50,
    -52,  -53,  -55,  -56,  -58,  -60,  -62,  -64,  -65,  -66,  -68,  -70,  -71,  -73,  -75,  -76,
    -78,  -80,  -81,  -82,  -84,  -86,  -87,  -89,  -90,  -92,  -94,  -95,  -97,  -98,  -100, -101,
    -102, -104, -106, -107, -108, -110, -111, -113, -115, -116, -117, -119, -120, -122, -123, -125,
    -127, -129, -130, -132, -133, -134, -135, -136, -138, -139, -141, -142, -143, -145, -146, -147,
    -149, -150, -152, -153, -154, -156, -157, -158, -160,
};

namespace {

using namespace imaging_checks;

bool IndexInRange(int16_t index) {
    return index >= 0 && index <= 200;
}

// ---- The streams ----

// Output pixel o of one direction takes source pixels start .. start +
// count - 1 with the shares weights[offset ..] (adding up to 100).
struct Taps {
    int32_t start;
    int32_t count;
    int64_t offset;
};

// The step of output pixel c along a direction of n pixels. Steps lie
// between the index (at the edges) and index + tx (in the middle), and for
// indexes 1..200 both are at least 1: no stream stalls.
class Steps {
  public:
    Steps(int16_t index, int64_t n) : index_(index) {
        // Index 0 (increment 0, every step 0) and a single pixel (cx = 0)
        // leave the direction as it is: one to one.
        copy_ = index == 0 || n == 1;
        if (copy_) return;
        tx_ = WarpStepTable[index];
        cx_ = n / 2;
        sx_ = double(tx_) / double(cx_);
    }
    int64_t at(int64_t c) const {
        if (copy_) return 100;
        const int64_t s = static_cast<int64_t>(double(c) * sx_) + index_;
        return c >= cx_ ? 2 * (tx_ + index_) - s : s;
    }

  private:
    int64_t index_;
    bool copy_ = false;
    int64_t tx_ = 0, cx_ = 1;
    double sx_ = 0;
};

// Walks one direction's stream. weights needs room for 2n shares: every
// share either completes an output pixel or uses up a source pixel.
void BuildTaps(int16_t index, int64_t n, Taps* taps, uint8_t* weights) {
    const Steps steps(index, n);
    int64_t pos = 0;           // the source pixel supplying now
    int64_t rem = steps.at(0); // what it has left
    int64_t used = 0;          // shares written
    // A used-up source pixel gives way to the next (never past the last),
    // which supplies the step of the output pixel being built.
    auto refill = [&](int64_t o) {
        if (rem == 0 && pos < n - 1) {
            ++pos;
            rem = steps.at(o);
        }
    };
    for (int64_t o = 0; o < n; ++o) {
        refill(o);
        Taps& t = taps[o];
        t = Taps{int32_t(pos), 0, used};
        int64_t need = 100;
        while (true) {
            // The last source pixel supplies whatever is still needed.
            const int64_t take = pos == n - 1 ? need : std::min(need, rem);
            weights[used++] = static_cast<uint8_t>(take);
            ++t.count;
            need -= take;
            rem -= take;
            if (need == 0) break;
            refill(o);
        }
    }
}

// ---- The two passes ----

template <int C>
void GatherColumns(const uint16_t* line, const Taps* taps, const uint8_t* weights, int32_t W,
                   uint8_t* out) {
    for (int32_t c = 0; c < W; ++c, out += C) {
        const Taps& t = taps[c];
        const uint16_t* q = line + size_t(t.start) * C;
        const uint8_t* w = weights + t.offset;
        uint32_t sum[C] = {};
        for (int32_t k = 0; k < t.count; ++k, q += C)
            for (int ch = 0; ch < C; ++ch)
                sum[ch] += uint32_t(w[k]) * q[ch];
        for (int ch = 0; ch < C; ++ch)
            out[ch] = static_cast<uint8_t>(sum[ch] / 10000);
    }
}

} // namespace

KervErrorCode WarpDIB(StatusControlBlock* status, KHANDLE source, KHANDLE* result, int16_t xIndex,
                      int16_t yIndex) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!IndexInRange(xIndex) || !IndexInRange(yIndex)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !deform::DepthDeformable(src)) return KERV_INVALID_PARAM;
    ProgressReporter p(status);

    const int32_t W = src.width(), H = src.height();
    const int C = src.bitCount() / 8;
    KOwnedHandle out(deform::AllocLike(src, W, H));
    if (!out) return KERV_NO_MEMORY;
    DIBLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;

    KBuffer colTaps, colWeights, rowTaps, rowWeights, line;
    if (!colTaps.allocate(sizeof(Taps) * size_t(W), KMEM_MOVEABLE)) return KERV_NO_MEMORY;
    if (!colWeights.allocate(2 * size_t(W), KMEM_MOVEABLE)) return KERV_NO_MEMORY;
    if (!rowTaps.allocate(sizeof(Taps) * size_t(H), KMEM_MOVEABLE)) return KERV_NO_MEMORY;
    if (!rowWeights.allocate(2 * size_t(H), KMEM_MOVEABLE)) return KERV_NO_MEMORY;
    if (!line.allocate(sizeof(uint16_t) * size_t(W) * size_t(C), KMEM_MOVEABLE))
        return KERV_NO_MEMORY;
    BuildTaps(xIndex, W, colTaps.as<Taps>(), colWeights.data());
    BuildTaps(yIndex, H, rowTaps.as<Taps>(), rowWeights.data());

    p.begin(H);
    for (int32_t r = 0; r < H; ++r) {
        if (p.step(r)) return KERV_STOPPED;
        const Taps& t = rowTaps.as<Taps>()[r];
        deform::WeighRows(src, t.start, t.count, rowWeights.data() + t.offset,
                          size_t(W) * size_t(C), line.as<uint16_t>());
        if (C == 3)
            GatherColumns<3>(line.as<uint16_t>(), colTaps.as<Taps>(), colWeights.data(), W,
                             dst.row(r));
        else
            GatherColumns<1>(line.as<uint16_t>(), colTaps.as<Taps>(), colWeights.data(), W,
                             dst.row(r));
    }
    p.end();
    dst = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}
