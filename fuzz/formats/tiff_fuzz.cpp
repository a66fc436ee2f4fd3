// libFuzzer target: DecodeTIF on arbitrary bytes must return a code, never
// crash, and leave no block behind; a decoded image is re-encoded.
#include "core/dib.h"
#include "core/kmem.h"
#include "formats/codec.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool init = [] {
        // Huge claimed images fail at the size check instead of exhausting memory.
        KML_SetMaxBlockSize(256 << 20);
        return true;
    }();
    (void)init;
    const size_t live = KML_LiveBlockCount();
    DecodeRequest req;
    req.data = data;
    req.size = size;
    KHANDLE dib = nullptr;
    ImageFileInfo info;
    if (DecodeTIF(req, &dib, &info) == KERV_OK) {
        if (!dib) std::abort();
        uint16_t w = 0, h = 0;
        GetDIBStats(dib, &w, &h, nullptr, nullptr);
        // Re-encoding is checked on images of moderate size only: a huge
        // canvas takes seconds to write and finds nothing new.
        EncodeRequest enc;
        enc.dib = dib;
        enc.info = &info;
        std::vector<uint8_t> out;
        if (uint64_t{w} * h <= (uint64_t{1} << 22)) (void)EncodeTIF(enc, &out);
        KML_GlobalFree(dib);
    } else if (dib) {
        std::abort(); // a failed decode must leave the slot empty
    }
    if (KML_LiveBlockCount() != live) std::abort();
    return 0;
}
