// The fixed tables of the colour reductions, shared by dither.cpp,
// dither2.cpp, the colour map generator and the tests.
#pragma once

#include <array>
#include <cstdint>

namespace dither_tables {

// ---- Error diffusion ----

// The four shares of an error e (-255..255): right (about 7/16), below
// (5/16), below left (3/16) and below right (1/16). Built from integer
// divisions that truncate toward zero, in an order that makes the shares
// add up to e exactly.
struct Shares {
    int8_t right, below, belowLeft, belowRight;
};

constexpr Shares SplitError(int e) {
    const int d = (e + 8) / 16;
    const int c = (2 * (e - d) + 5) / 10;
    const int rest = e - d - c;
    const int b = (5 * rest + 6) / 12;
    const int a = rest - b;
    return Shares{int8_t(a), int8_t(b), int8_t(c), int8_t(d)};
}

// Indexed by e + 255.
constexpr std::array<Shares, 511> MakeSplitTable() {
    std::array<Shares, 511> t{};
    for (int e = -255; e <= 255; ++e)
        t[size_t(e + 255)] = SplitError(e);
    return t;
}
inline constexpr std::array<Shares, 511> kSplit = MakeSplitTable();

// ---- Ordered dither ----

inline constexpr uint8_t kBayer4[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};

// The 16 x 16 thresholds: each cell of the 4 x 4 matrix refined by the
// matrix again at 1/16 of the step, scaled by s. All the factors are exact
// binary fractions, so the double arithmetic is exact. Indexed [x mod 16]
// [stored row mod 16].
using Thresholds = std::array<std::array<uint8_t, 16>, 16>;
constexpr Thresholds MakeThresholds(double s) {
    Thresholds m{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k)
                for (int l = 0; l < 4; ++l)
                    m[size_t(4 * k + i)][size_t(4 * l + j)] = static_cast<uint8_t>(
                        int((kBayer4[4 * k + l] * 0.0625 + kBayer4[4 * i + j]) * s + 0.5));
    return m;
}
// 0..50, one level step of the cube.
inline constexpr Thresholds kThresholds8 = MakeThresholds(3.125);
// 0..253, the whole range, for the on/off decisions of 16 colours.
inline constexpr Thresholds kThresholds4 = MakeThresholds(15.875);

// ---- Two colours ----

// Input level to output level for the weighted two-colour reduction.
inline constexpr uint8_t kTwoColorWeight[256] = {
    1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   //
    1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   //
    1,   1,   1,   1,   1,   1,   1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  //
    11,  12,  13,  14,  15,  16,  17,  18,  19,  20,  21,  22,  23,  24,  25,  26,  //
    27,  28,  29,  30,  31,  32,  32,  33,  34,  35,  35,  36,  37,  39,  39,  40,  //
    41,  42,  43,  44,  45,  46,  47,  47,  48,  49,  50,  51,  52,  53,  54,  55,  //
    56,  57,  58,  58,  59,  60,  62,  62,  63,  64,  65,  66,  67,  68,  69,  70,  //
    71,  72,  73,  74,  75,  76,  77,  78,  80,  81,  82,  83,  85,  86,  87,  88,  //
    89,  90,  91,  93,  94,  95,  96,  97,  99,  100, 101, 102, 103, 105, 106, 107, //
    108, 110, 112, 114, 115, 116, 118, 120, 122, 124, 126, 128, 130, 132, 134, 136, //
    138, 140, 143, 145, 147, 149, 152, 154, 156, 159, 161, 164, 166, 169, 171, 174, //
    176, 178, 179, 181, 183, 185, 186, 188, 189, 190, 192, 194, 196, 198, 200, 202, //
    204, 206, 208, 210, 212, 214, 217, 219, 221, 224, 227, 230, 232, 235, 237, 239, //
    242, 245, 248, 251, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, //
    254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, //
    254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, //
};

// ---- The colour map file ----

inline constexpr uint32_t kMapBytes = 32768;
inline constexpr uint32_t kMap16Offset = 0;
inline constexpr uint32_t kMap256Offset = kMapBytes;
inline constexpr uint32_t kMapFileBytes = 3 * kMapBytes;

// The map key of a colour: its top five bits of red, green and blue.
constexpr uint32_t MapKey(uint8_t red, uint8_t green, uint8_t blue) {
    return (uint32_t(red >> 3) << 10) | (uint32_t(green >> 3) << 5) | uint32_t(blue >> 3);
}
// A five-bit component widened to eight bits by repeating its top bits.
constexpr uint8_t Widen5(uint32_t c) {
    return static_cast<uint8_t>(c * 8 + c / 4);
}

} // namespace dither_tables
