// The harness every decoder fuzzer shares. Arbitrary bytes go to the decoder,
// which must return a code, never crash, and leave no block behind. When it
// succeeds it must hand back an image, and a failure must leave the slot
// empty. A decoded image of moderate size is encoded again, so the encoder
// sees every kind of image the decoder can produce.
#pragma once

#include "core/dib.h"
#include "core/kmem.h"
#include "formats/codec.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

// maxBlock: the memory manager's limit for this target, so huge claimed
// images fail at the size check instead of exhausting memory.
inline int FuzzDecoder(const uint8_t* data, size_t size, DecodeFunc decode, EncodeFunc encode,
                       uint64_t maxBlock) {
    static const bool limited = (KML_SetMaxBlockSize(maxBlock), true);
    (void)limited;
    const size_t live = KML_LiveBlockCount();
    DecodeRequest req;
    req.data = data;
    req.size = size;
    KHANDLE dib = nullptr;
    ImageFileInfo info;
    if (decode(req, &dib, &info) == KERV_OK) {
        if (!dib) std::abort();
        uint16_t w = 0, h = 0;
        GetDIBStats(dib, &w, &h, nullptr, nullptr);
        // A huge canvas takes seconds to write and finds nothing new.
        if (uint64_t{w} * h <= (uint64_t{1} << 22)) {
            EncodeRequest enc;
            enc.dib = dib;
            enc.info = &info;
            std::vector<uint8_t> out;
            (void)encode(enc, &out);
        }
        KML_GlobalFree(dib);
    } else if (dib) {
        std::abort();
    }
    if (KML_LiveBlockCount() != live) std::abort();
    return 0;
}
