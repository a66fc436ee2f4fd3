// libFuzzer target for the GIF decoder and encoder.
#include "fuzz/formats/decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzDecoder(data, size, DecodeGIF, EncodeGIF, uint64_t{256} << 20);
}
