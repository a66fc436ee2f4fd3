// Reduction to black and white.
//
// Every pixel becomes a level 0..255 through its colour-table entry (a
// 24-bit pixel through the grey ramp, its level being its entry). The
// levels of the table bound the picture: black stands for the darkest,
// white for the brightest, and a pixel above their mean turns white. The
// error (level minus what the pixel became) is spread over neighbours not
// yet visited, each clamped to the table's range after every addition:
//
//   Floyd-Steinberg (/16)     Burkes (/32)              Stucki (/42)
//          *  7                     *  8  4                   *  8  4
//       3  5  1               2  4  8  4  2             2  4  8  4  2
//                                                       1  2  4  2  1
//
// Three rows of levels are held, with two margin slots on each side: taps
// that leave the picture land in the margins and are never read.
#include "imaging/dither.h"

#include "imaging/checks.h"
#include "imaging/dither_tables.h"

#include <algorithm>
#include <cstring>
#include <utility>

using namespace dither_tables;

namespace {

// ---- Checks: one line per rule ----

using namespace imaging_checks;

bool KernelKnown(uint8_t kernel) {
    return kernel <= 3;
}
bool ComponentKnown(uint8_t component) {
    return component <= 3;
}
bool DepthForTwoColors(const DIBLock& d) {
    return d.bitCount() == 4 || d.bitCount() == 8 || d.bitCount() == 24;
}

enum Kernel : uint8_t { kThreshold = 0, kFloydSteinberg = 1, kBurkes = 2, kStucki = 3 };

// ---- Levels ----

uint8_t LevelOf(uint8_t blue, uint8_t green, uint8_t red, uint8_t component) {
    switch (component) {
    case 0:
        return uint8_t(std::min(255, (11 * blue + 59 * green + 30 * red) / 100));
    case 1:
        return red;
    case 2:
        return green;
    default:
        return blue;
    }
}

// The level of every index of a palette source (or of every raw level of a
// 24-bit one, through the grey ramp) and the range the table spans.
struct Levels {
    uint8_t of[256] = {};
    int min = 255, max = 0;
};

Levels MakeLevels(const DIBLock& src, uint8_t component, bool weighted) {
    Levels l;
    const bool ramp = src.bitCount() == 24;
    const uint32_t entries = ramp ? 256 : std::min(DIBPaletteEntries(src.header()), 256u);
    for (uint32_t i = 0; i < 256; ++i) {
        uint8_t v = 0; // an index past the table reads as black
        if (ramp)
            v = LevelOf(uint8_t(i), uint8_t(i), uint8_t(i), component);
        else if (i < entries)
            v = LevelOf(src.palette()[i].rgbBlue, src.palette()[i].rgbGreen,
                        src.palette()[i].rgbRed, component);
        l.of[i] = weighted ? kTwoColorWeight[v] : v;
        if (i < entries) {
            l.min = std::min<int>(l.min, l.of[i]);
            l.max = std::max<int>(l.max, l.of[i]);
        }
    }
    return l;
}

constexpr int kMargin = 2;

// Fills a level row (pixel x at x + kMargin) from a stored source row.
void LoadLevels(const DIBLock& src, int32_t stored, uint8_t component, const Levels& l,
                uint8_t* out) {
    const uint8_t* in = src.row(stored);
    const int32_t w = src.width();
    out += kMargin;
    switch (src.bitCount()) {
    case 24:
        for (int32_t x = 0; x < w; ++x, in += 3)
            out[x] = l.of[LevelOf(in[0], in[1], in[2], component)];
        break;
    case 8:
        for (int32_t x = 0; x < w; ++x)
            out[x] = l.of[in[x]];
        break;
    default:
        for (int32_t x = 0; x < w; ++x)
            out[x] = l.of[(x & 1) ? in[x >> 1] & 15 : in[x >> 1] >> 4];
        break;
    }
}

// ---- Spreading the error ----

struct Rows {
    uint8_t* cur;
    uint8_t* next;
    uint8_t* after;
};

class Spreader {
  public:
    Spreader(int min, int max) : min_(min), max_(max) {}
    void add(uint8_t* row, int32_t slot, int share) const {
        row[slot] = uint8_t(std::clamp(row[slot] + share, min_, max_));
    }

  private:
    int min_, max_;
};

// Pixel x (slot s = x + kMargin) ended with error e.
void FloydSteinberg(const Rows& r, int32_t s, int e, const Spreader& sp) {
    sp.add(r.cur, s + 1, 7 * e / 16);
    sp.add(r.next, s - 1, 3 * e / 16);
    sp.add(r.next, s, 5 * e / 16);
    sp.add(r.next, s + 1, e / 16);
}

void Burkes(const Rows& r, int32_t s, int e, const Spreader& sp) {
    sp.add(r.cur, s + 1, (8 * e) >> 5);
    sp.add(r.cur, s + 2, (4 * e) >> 5);
    sp.add(r.next, s - 2, (2 * e) >> 5);
    sp.add(r.next, s - 1, (4 * e) >> 5);
    sp.add(r.next, s, (8 * e) >> 5);
    sp.add(r.next, s + 1, (4 * e) >> 5);
    sp.add(r.next, s + 2, (2 * e) >> 5);
}

void Stucki(const Rows& r, int32_t s, int e, const Spreader& sp) {
    sp.add(r.cur, s + 1, 8 * e / 42);
    sp.add(r.cur, s + 2, 4 * e / 42);
    sp.add(r.next, s - 2, 2 * e / 42);
    sp.add(r.next, s - 1, 4 * e / 42);
    sp.add(r.next, s, 8 * e / 42);
    sp.add(r.next, s + 1, 4 * e / 42);
    sp.add(r.next, s + 2, 2 * e / 42);
    sp.add(r.after, s - 2, e / 42);
    sp.add(r.after, s - 1, 2 * e / 42);
    sp.add(r.after, s, 4 * e / 42);
    sp.add(r.after, s + 1, 2 * e / 42);
    sp.add(r.after, s + 2, e / 42);
}

template <void (*Spread)(const Rows&, int32_t, int, const Spreader&)>
void TwoColorRow(const Rows& r, int32_t width, const Levels& l, uint8_t* out) {
    const int threshold = (l.max + l.min) / 2;
    const Spreader sp(l.min, l.max);
    uint8_t byte = 0;
    for (int32_t x = 0; x < width; ++x) {
        const int32_t s = x + kMargin;
        const int v = r.cur[s];
        const bool white = v > threshold;
        byte = uint8_t((byte << 1) | (white ? 1 : 0));
        if ((x & 7) == 7) out[x >> 3] = byte, byte = 0;
        if constexpr (Spread != nullptr) Spread(r, s, white ? v - l.max : v - l.min, sp);
    }
    if (width & 7) out[width >> 3] = uint8_t(byte << (8 - (width & 7)));
}

} // namespace

KervErrorCode DitherTo2Colors(StatusControlBlock* status, KHANDLE source, KHANDLE* result,
                              uint8_t kernel, uint8_t component, uint8_t weighted) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!KernelKnown(kernel)) return KERV_INVALID_PARAM;
    if (!ComponentKnown(component)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !DepthForTwoColors(src)) return KERV_INVALID_PARAM;
    const int32_t width = src.width(), height = src.height();
    const Levels levels = MakeLevels(src, component, weighted != 0);

    ProgressReporter progress(status);
    KOwnedHandle out(AllocDIB(width, height, 1, 2));
    if (!out) return KERV_NO_MEMORY;
    DIBLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;
    dst->biXPelsPerMeter = src->biXPelsPerMeter;
    dst->biYPelsPerMeter = src->biYPelsPerMeter;
    dst.palette()[0] = RGBQUAD{0, 0, 0, 0};
    dst.palette()[1] = RGBQUAD{255, 255, 255, 0};

    const size_t rowBytes = size_t(width) + 2 * kMargin;
    KBuffer buffer;
    if (!buffer.allocate(3 * rowBytes)) return KERV_NO_MEMORY;
    Rows rows{buffer.data(), buffer.data() + rowBytes, buffer.data() + 2 * rowBytes};
    // Rows are worked from the top of the picture, the last stored row.
    auto stored = [height](int32_t done) { return height - 1 - done; };
    for (int32_t k = 0; k < 2 && k < height; ++k)
        LoadLevels(src, stored(k), component, levels, k == 0 ? rows.cur : rows.next);

    progress.begin(height);
    for (int32_t done = 0; done < height; ++done) {
        if (progress.step(done)) return KERV_STOPPED;
        if (done + 2 < height) LoadLevels(src, stored(done + 2), component, levels, rows.after);
        uint8_t* row = dst.row(stored(done));
        switch (kernel) {
        case kThreshold:
            TwoColorRow<nullptr>(rows, width, levels, row);
            break;
        case kFloydSteinberg:
            TwoColorRow<FloydSteinberg>(rows, width, levels, row);
            break;
        case kBurkes:
            TwoColorRow<Burkes>(rows, width, levels, row);
            break;
        default:
            TwoColorRow<Stucki>(rows, width, levels, row);
            break;
        }
        rows = Rows{rows.next, rows.after, rows.cur};
    }
    progress.end();
    dst = DIBLock(nullptr);
    *result = out.release();
    return KERV_OK;
}
