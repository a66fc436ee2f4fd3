// ParsePaletteText on arbitrary bytes. Every answer must be one of the text
// reader's codes, a failure must leave the count 0, entries beyond the count
// must stay untouched, and a palette that was read must read back the same
// once written out again in the plain form.
#include "imaging/palette.h"

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RGBQUAD palette[256];
    std::memset(palette, 0xEE, sizeof palette);
    uint16_t count = 1234;
    const KervErrorCode rc = ParsePaletteText(data, size, palette, &count);
    if (rc != KERV_OK) {
        const bool known = rc == KERV_FILE_READ || rc == KERV_BAD_PALETTE_FILE ||
                           rc == KERV_PALETTE_COUNT || rc == KERV_PALETTE_VERSION;
        if (!known || count != 0) std::abort();
        return 0;
    }
    if (count != 16 && count != 256) std::abort();
    for (int i = 0; i < 256; ++i) {
        const uint8_t* e = reinterpret_cast<const uint8_t*>(&palette[i]);
        if (i < count ? e[3] != 0 : (e[0] & e[1] & e[2] & e[3]) != 0xEE) std::abort();
    }

    std::string again = "KERV-PAL\r\n0100\r\n" + std::to_string(count) + "\r\n";
    for (int i = 0; i < count; ++i)
        again += std::to_string(palette[i].rgbRed) + " " + std::to_string(palette[i].rgbGreen) +
                 " " + std::to_string(palette[i].rgbBlue) + "\r\n";
    RGBQUAD back[256];
    uint16_t backCount = 0;
    if (ParsePaletteText(reinterpret_cast<const uint8_t*>(again.data()), again.size(), back,
                         &backCount) != KERV_OK ||
        backCount != count || std::memcmp(back, palette, count * sizeof(RGBQUAD)) != 0)
        std::abort();
    return 0;
}
