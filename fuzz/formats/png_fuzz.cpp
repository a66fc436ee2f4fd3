// libFuzzer target for the PNG decoder and encoder.
#include "fuzz/formats/decoder_fuzz.h"

#include <cstdint>
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
    std::vector<uint8_t> file(data, data + size);
    MendChunkCrcs(file);
    return FuzzDecoder(file.data(), file.size(), DecodePNG, EncodePNG, uint64_t{256} << 20);
}
