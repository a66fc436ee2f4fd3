#include "formats/codec_registry.h"

DecodeFunc DecoderFor(int libraryValue) {
    switch (libraryValue) {
    case 1:
    case 6: return DecodeBMP;
    case 10: return DecodeGIF;
    case 17: return DecodeJPG;
    case 22:
    case 25:
    case 29: return DecodePXM;
    case 24: return DecodePCX;
    case 28: return DecodePNG;
    case 30: return DecodePSD;
    case 31: return DecodeQZM;
    case 35: return DecodeTGA;
    case 36: return DecodeTIF;
    default: return nullptr;
    }
}

EncodeFunc EncoderFor(int libraryValue) {
    switch (libraryValue) {
    case 1:
    case 6: return EncodeBMP;
    case 10: return EncodeGIF;
    case 17: return EncodeJPG;
    case 22:
    case 25:
    case 29: return EncodePXM;
    case 24: return EncodePCX;
    case 28: return EncodePNG;
    case 30: return EncodePSD;
    case 31: return EncodeQZM;
    case 35: return EncodeTGA;
    case 36: return EncodeTIF;
    default: return nullptr;
    }
}
