// libFuzzer target for the JPG decoder and encoder.
#include "fuzz/formats/decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzDecoder(data, size, DecodeJPG, EncodeJPG, uint64_t{256} << 20);
}
