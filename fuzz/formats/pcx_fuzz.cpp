// Feeds arbitrary bytes to the PCX decoder; whatever decodes is encoded
// again, so the encoder sees every kind of image the decoder can produce.
#include "core/kmem.h"
#include "formats/codec.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A few bytes of run-length data may describe a huge blank image; keep
    // runs fast by refusing images beyond 16 MB, as a small machine would.
    static const bool limited = (KML_SetMaxBlockSize(uint64_t{16} << 20), true);
    (void)limited;
    DecodeRequest req;
    req.data = data;
    req.size = size;
    KHANDLE dib = nullptr;
    ImageFileInfo info;
    if (DecodePCX(req, &dib, &info) == KERV_OK) {
        EncodeRequest enc;
        enc.dib = dib;
        enc.info = &info;
        std::vector<uint8_t> out;
        EncodePCX(enc, &out);
        KML_GlobalFree(dib);
    } else if (dib) {
        std::abort();  // a failed decode must leave no image
    }
    if (KML_LiveBlockCount() != 0) std::abort();
    return 0;
}
