// libFuzzer target for the PCX decoder and encoder.
#include "fuzz/formats/decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A few bytes of run-length data may describe a huge blank image; a
    // 16 MB limit keeps the runs fast.
    return FuzzDecoder(data, size, DecodePCX, EncodePCX, uint64_t{16} << 20);
}
