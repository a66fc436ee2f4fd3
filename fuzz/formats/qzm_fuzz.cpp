// libFuzzer target for the QZM decoder and encoder. A mutated file would
// almost never get past the checksums, so the target writes the right
// checksums into its copy of the input first (walking the layout the way the
// decoder will, within the bytes there are) and fuzzes what lies behind them.
#include "fuzz/formats/decoder_fuzz.h"

#include <zlib.h>

#include <vector>

namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void SetLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

void FixChecksums(std::vector<uint8_t>& f) {
    if (f.size() < 30) return;
    const size_t crcAt = 30 + 4 * size_t(f[28] | f[29] << 8) + 4;
    if (crcAt + 4 > f.size()) return;
    SetLe32(&f[crcAt], uint32_t(crc32(0, f.data(), uInt(crcAt))));
    const uint32_t count = Le32(&f[crcAt - 4]);
    size_t at = crcAt + 4;
    for (uint32_t i = 0; i < count && at + 96 <= f.size(); ++i) {
        const uint64_t data = uint64_t(Le32(&f[at + 84])) + Le32(&f[at + 88]);
        const size_t have = size_t(std::min<uint64_t>(data, f.size() - at - 96));
        uint32_t crc = uint32_t(crc32(0, &f[at], 92));
        crc = uint32_t(crc32(crc, &f[at + 96], uInt(have)));
        SetLe32(&f[at + 92], crc);
        at += 96 + have;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool tables = InitBlendTables() == KERV_OK;
    (void)tables;
    std::vector<uint8_t> file(data, data + size);
    FixChecksums(file);
    return FuzzDecoder(file.data(), file.size(), DecodeQZM, EncodeQZM, uint64_t{16} << 20);
}
