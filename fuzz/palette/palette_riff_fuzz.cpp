// ParseRiffPalette on arbitrary bytes. Every answer must be one of the RIFF
// reader's codes, a failure must leave the count 0, entries beyond the
// reported count must stay untouched, and a palette that was read must read
// back the same once written out again as a plain RIFF palette.
#include "imaging/palette.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

std::vector<uint8_t> Riff(const RGBQUAD* palette, uint16_t count) {
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F'};
    Put32(b, 4 + 8 + 4 + 4u * count);
    b.insert(b.end(), {'P', 'A', 'L', ' ', 'd', 'a', 't', 'a'});
    Put32(b, 4 + 4u * count);
    b.insert(b.end(), {0x00, 0x03, uint8_t(count), uint8_t(count >> 8)});
    for (int i = 0; i < count; ++i)
        b.insert(b.end(), {palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue, 0});
    return b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RGBQUAD palette[256];
    std::memset(palette, 0xEE, sizeof palette);
    uint16_t count = 1234;
    const KervErrorCode rc = ParseRiffPalette(data, size, palette, &count);
    if (rc != KERV_OK) {
        const bool known =
            rc == KERV_FILE_READ || rc == KERV_BAD_PALETTE_FILE || rc == KERV_PALETTE_COUNT;
        if (!known || count != 0) std::abort();
        return 0;
    }
    if (count != 16 && count != 256) std::abort();
    for (int i = 0; i < 256; ++i) {
        const uint8_t* e = reinterpret_cast<const uint8_t*>(&palette[i]);
        if (i < count ? e[3] != 0 : (e[0] & e[1] & e[2] & e[3]) != 0xEE) std::abort();
    }

    const std::vector<uint8_t> again = Riff(palette, count);
    RGBQUAD back[256];
    uint16_t backCount = 0;
    if (ParseRiffPalette(again.data(), again.size(), back, &backCount) != KERV_OK ||
        backCount != count || std::memcmp(back, palette, count * sizeof(RGBQUAD)) != 0)
        std::abort();
    return 0;
}
