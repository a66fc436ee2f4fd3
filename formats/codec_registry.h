// The codec for a library format value: null when Brellix has none yet.
#pragma once

#include "formats/codec.h"

DecodeFunc DecoderFor(int libraryValue);
EncodeFunc EncoderFor(int libraryValue);
