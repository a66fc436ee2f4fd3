// The batch output settings that WriteImageFile turns into encoder options.
#pragma once

#include "core/dib.h"

#include <cstdint>

struct ImageFileInfo;

struct OutputOptions {
    int32_t maintainDPI = 0;               // 1: keep the source file's resolution
    int32_t qzmVersion = 1;                // 1: QZM 5 compatible, 0: 6, 2: 7
    COLORREF transparentColor = 0xFFFFFF;  // made transparent when transparencyType is 2
    int32_t dpi = 300;                     // written when maintainDPI is 0; 1..2400
    int32_t compression = 15;              // 1..99, JPG and FPX
    int32_t transparencyType = 1;          // 0 the source's, 1 none, 2 a colour, 3 a palette entry
    int32_t transparencyIndex = 0;         // palette entry 0..255
    int32_t planeEncoding = 1;             // TIF colour channels: 1 RGB, 2 CMYK
    const ImageFileInfo* sourceInfo = nullptr;  // the current input file's, set per file
};
