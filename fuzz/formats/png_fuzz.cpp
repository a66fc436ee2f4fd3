// libFuzzer target: DecodePNG on arbitrary bytes must return a code, never
// crash, and leave no block behind; a decoded image is re-encoded.
#include "core/dib.h"
#include "core/kmem.h"
#include "formats/codec.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

uint32_t Crc32(const uint8_t* p, size_t n) {
    static const auto table = [] {
        std::vector<uint32_t> t(256);
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i)
        c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}

// Mutations nearly always break a chunk's CRC, which libpng checks first;
// mending the CRCs lets the fuzzer reach the code behind them.
void MendChunkCrcs(std::vector<uint8_t>& f) {
    size_t p = 8;
    while (p + 12 <= f.size()) {
        const uint32_t len = (uint32_t{f[p]} << 24) | (uint32_t{f[p + 1]} << 16) |
                             (uint32_t{f[p + 2]} << 8) | f[p + 3];
        if (len > f.size() - p - 12) break;
        const uint32_t crc = Crc32(f.data() + p + 4, len + 4);
        for (int k = 0; k < 4; ++k)
            f[p + 8 + len + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
        p += 12 + len;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool init = [] {
        // Huge claimed images fail at the size check instead of exhausting memory.
        KML_SetMaxBlockSize(256 << 20);
        return true;
    }();
    (void)init;
    const size_t live = KML_LiveBlockCount();
    std::vector<uint8_t> file(data, data + size);
    MendChunkCrcs(file);
    DecodeRequest req;
    req.data = file.data();
    req.size = file.size();
    KHANDLE dib = nullptr;
    ImageFileInfo info;
    if (DecodePNG(req, &dib, &info) == KERV_OK) {
        if (!dib) std::abort();
        uint16_t w = 0, h = 0;
        GetDIBStats(dib, &w, &h, nullptr, nullptr);
        // Re-encoding is checked on images of moderate size only: a huge
        // canvas takes seconds to write and finds nothing new.
        EncodeRequest enc;
        enc.dib = dib;
        enc.info = &info;
        std::vector<uint8_t> out;
        if (uint64_t{w} * h <= (uint64_t{1} << 22)) (void)EncodePNG(enc, &out);
        KML_GlobalFree(dib);
    } else if (dib) {
        std::abort(); // a failed decode must leave the slot empty
    }
    if (KML_LiveBlockCount() != live) std::abort();
    return 0;
}
