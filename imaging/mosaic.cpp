// Mosaic.
//
// A band of blocks is done in three steps: the band's rows are added up
// column by column (every byte once, a plain loop), the column sums of
// each block are added and divided, and the band's first row is written
// and copied to the rest of the band.
#include "imaging/mosaic.h"

#include "imaging/checks.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

namespace {

// ---- Checks: one line per rule ----

using namespace imaging_checks;

bool MaskAbsent(KHANDLE mask) {
    return mask == nullptr;
}
bool DepthAveraged(const DIBLock& d) {
    return d.bitCount() == 8 || d.bitCount() == 24;
}
bool SizesNotNegative(int16_t blockWidth, int16_t blockHeight) {
    return blockWidth >= 0 && blockHeight >= 0;
}

// ---- Kernels ----

// sums[j] += row[j]. Column sums of up to 32767 rows fit 32 bits. Sixteen
// bytes at a time, widened in SSE2 registers (every x86-64 has them; GCC
// leaves this loop scalar at -O2).
void AddRow(const uint8_t* row, size_t n, uint32_t* sums) {
    const __m128i zero = _mm_setzero_si128();
    size_t j = 0;
    for (; j + 16 <= n; j += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + j));
        const __m128i words[2] = {_mm_unpacklo_epi8(bytes, zero), _mm_unpackhi_epi8(bytes, zero)};
        for (int w = 0; w < 2; ++w) {
            auto* s = reinterpret_cast<__m128i*>(sums + j + 8 * size_t(w));
            const __m128i low = _mm_unpacklo_epi16(words[w], zero);
            const __m128i high = _mm_unpackhi_epi16(words[w], zero);
            _mm_storeu_si128(s, _mm_add_epi32(_mm_loadu_si128(s), low));
            _mm_storeu_si128(s + 1, _mm_add_epi32(_mm_loadu_si128(s + 1), high));
        }
    }
    for (; j < n; ++j)
        sums[j] += row[j];
}

// The band's first row from its column sums: each block of bw columns (the
// last one cut) takes the average of the `rows` x columns pixels.
template <int C>
void AverageRow(const uint32_t* sums, int32_t width, int32_t bw, int32_t rows, uint8_t* out) {
    for (int32_t x0 = 0; x0 < width; x0 += bw) {
        const int32_t cols = std::min(bw, width - x0);
        const uint64_t count = uint64_t(cols) * uint64_t(rows);
        uint8_t average[C];
        for (int ch = 0; ch < C; ++ch) {
            uint64_t sum = 0;
            for (int32_t x = x0; x < x0 + cols; ++x)
                sum += sums[size_t(x) * C + size_t(ch)];
            average[ch] = uint8_t(sum / count);
        }
        for (int32_t x = x0; x < x0 + cols; ++x)
            std::memcpy(out + size_t(x) * C, average, C);
    }
}

struct Layout {
    const uint8_t* srcBits;
    uint8_t* dstBits;
    size_t stride;
    int32_t width, height;
    int32_t bw, bh;
};

// Bands from the top of the picture (the last stored row) down. False when
// stopped.
template <int C> bool Bands(ProgressReporter& p, const Layout& l, uint32_t* sums) {
    const size_t n = size_t(l.width) * C;
    for (int32_t top = l.height - 1; top >= 0; top -= l.bh) {
        if (p.step(l.height - top)) return false;
        const int32_t bottom = std::max(0, top - l.bh + 1);
        std::fill(sums, sums + n, 0u);
        for (int32_t r = bottom; r <= top; ++r)
            AddRow(l.srcBits + size_t(r) * l.stride, n, sums);
        uint8_t* first = l.dstBits + size_t(top) * l.stride;
        AverageRow<C>(sums, l.width, l.bw, top - bottom + 1, first);
        std::memset(first + n, 0, l.stride - n);
        for (int32_t r = bottom; r < top; ++r)
            std::memcpy(l.dstBits + size_t(r) * l.stride, first, l.stride);
    }
    return true;
}

} // namespace

KervErrorCode MosaicDIB(StatusControlBlock* status, KHANDLE source, KHANDLE mask, KHANDLE* result,
                        int16_t blockWidth, int16_t blockHeight) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source)) return KERV_INVALID_PARAM;
    if (!MaskAbsent(mask)) return KERV_INVALID_PARAM;
    if (!SizesNotNegative(blockWidth, blockHeight)) return KERV_INVALID_PARAM;
    DIBLock src(source);
    if (!src || !Uncompressed(src) || !DepthAveraged(src)) return KERV_INVALID_PARAM;

    const int32_t W = src.width(), H = src.height();
    const int32_t bw = std::min<int32_t>(blockWidth, W), bh = std::min<int32_t>(blockHeight, H);
    ProgressReporter p(status);
    if (bw == 0 || bh == 0 || (bw == 1 && bh == 1)) {
        const KervErrorCode rc = CopyDIB(source, result);
        if (rc == KERV_OK) p.end();
        return rc;
    }

    // The source's block size, header and colour table; the pixels and row
    // padding are written band by band, anything past the pixels is zeroed.
    const size_t size = KML_GlobalSize(source);
    KOwnedHandle out(KML_GlobalAlloc(KMEM_MOVEABLE, size));
    if (!out) return KERV_NO_MEMORY;
    KLock dst(out.get());
    if (!dst) return KERV_NO_MEMORY;
    const auto* srcBlock = reinterpret_cast<const uint8_t*>(src.header());
    const size_t head = size_t(src.bits() - srcBlock);
    const size_t pixelsEnd = head + size_t(src.stride()) * size_t(H);
    std::memcpy(dst.get(), srcBlock, head);
    std::memset(dst.get() + pixelsEnd, 0, size - pixelsEnd);

    const int C = src.bitCount() / 8;
    KBuffer sums;
    if (!sums.allocate(sizeof(uint32_t) * size_t(W) * size_t(C), KMEM_MOVEABLE))
        return KERV_NO_MEMORY;
    const Layout l{src.bits(), dst.get() + head, src.stride(), W, H, bw, bh};
    p.begin(H);
    const bool done =
        C == 3 ? Bands<3>(p, l, sums.as<uint32_t>()) : Bands<1>(p, l, sums.as<uint32_t>());
    if (!done) return KERV_STOPPED;
    p.end();
    dst.unlock();
    *result = out.release();
    return KERV_OK;
}
