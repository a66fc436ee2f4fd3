// libFuzzer target for the TIF decoder and encoder.
#include "fuzz/formats/decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzDecoder(data, size, DecodeTIF, EncodeTIF, uint64_t{256} << 20);
}
