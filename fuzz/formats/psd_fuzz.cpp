// libFuzzer target for the Photoshop decoder (layers flattened through the
// conduit) and the flat encoder.
#include "fuzz/formats/decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool tables = InitBlendTables() == KERV_OK;
    (void)tables;
    // A few bytes of PackBits rows may describe a large blank layer; a 16 MB
    // limit keeps the runs fast.
    return FuzzDecoder(data, size, DecodePSD, EncodePSD, uint64_t{16} << 20);
}
