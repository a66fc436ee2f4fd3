// Shared by the colour-adjustment and tonal-operation tests: sources at every
// depth and the where-a-change-applies rule written out as plain loops.
#pragma once

#include "core/dib.h"
#include "imaging/colour_lanes.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace colour_test {

using namespace brellix::test;

struct Colour {
    int r, g, b;
    bool operator==(const Colour&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Colour& c) {
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

inline int Clamp(int v) {
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

// The kinds of image an operation meets.
enum class Kind { True24, Grey8, Palette8, Palette4, Palette1 };
inline constexpr Kind kAllKinds[] = {Kind::True24, Kind::Grey8, Kind::Palette8, Kind::Palette4,
                                     Kind::Palette1};

inline int BitsOf(Kind k) {
    switch (k) {
    case Kind::True24:
        return 24;
    case Kind::Grey8:
    case Kind::Palette8:
        return 8;
    case Kind::Palette4:
        return 4;
    default:
        return 1;
    }
}
inline std::string KindName(Kind k) {
    switch (k) {
    case Kind::True24:
        return "24bit";
    case Kind::Grey8:
        return "Grey8";
    case Kind::Palette8:
        return "Palette8";
    case Kind::Palette4:
        return "Palette4";
    default:
        return "Palette1";
    }
}

// Random pixel bytes, row padding included. Palette images get random
// entries with non-zero reserved bytes (which the operations must clear);
// Grey8 gets the grey ramp.
inline KHANDLE RandomSource(int w, int h, Kind kind, uint32_t seed) {
    KHANDLE s = MakeRandomPaletteDIB(w, h, BitsOf(kind), seed, kind == Kind::Grey8);
    if (!s) return nullptr;
    DIBLock d(s);
    std::mt19937 rng(~seed);
    if (kind != Kind::Grey8)
        for (uint32_t i = 0; i < d->biClrUsed; ++i)
            d.palette()[i].rgbReserved = uint8_t(1 + rng() % 255);
    d->biXPelsPerMeter = 2835;
    d->biYPelsPerMeter = 1417;
    return s;
}

// A source whose every pixel shows one colour: 24 bits, the colour itself;
// palette kinds, palette entry 1 holds it (every pixel index 1, the other
// entries random); Grey8, the grey value c.r (c must be a grey).
inline KHANDLE OneColourSource(Kind kind, const Colour& c, int w = 5, int h = 3) {
    KHANDLE s = RandomSource(w, h, kind, 99);
    DIBLock d(s);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* row = DIBRowFromTop(d.header(), y);
            switch (BitsOf(kind)) {
            case 24:
                row[3 * x] = uint8_t(c.b), row[3 * x + 1] = uint8_t(c.g),
                        row[3 * x + 2] = uint8_t(c.r);
                break;
            case 8:
                row[x] = kind == Kind::Grey8 ? uint8_t(c.r) : 1;
                break;
            case 4:
                row[x / 2] = 0x11;
                break;
            default:
                row[x / 8] = 0xFF;
                break;
            }
        }
    if (kind != Kind::True24 && kind != Kind::Grey8)
        d.palette()[1] = RGBQUAD{uint8_t(c.b), uint8_t(c.g), uint8_t(c.r), 7};
    return s;
}

// A palette of 256 greys i, in order: the canonical greyscale form, checked
// here without the library's own test. h points into the block.
inline bool GreyRamp(const BITMAPINFOHEADER* h) {
    if (h->biBitCount != 8 || DIBPaletteEntries(h) != 256) return false;
    const RGBQUAD* p = DIBPalette(h);
    for (int i = 0; i < 256; ++i)
        if (p[i].rgbBlue != i || p[i].rgbGreen != i || p[i].rgbRed != i) return false;
    return true;
}

using ColourFn = std::function<Colour(const Colour&)>;

// The block an operation must give, from the rule written out as plain
// loops: 24 bits every pixel through f; a greyscale image, for
// greyscale-aware operations, every pixel value v -> f(v, v, v).r; otherwise
// every palette entry through f with its reserved byte 0. All other bytes
// stay.
inline std::vector<uint8_t> ExpectedBlock(KHANDLE src, const ColourFn& f, bool greyAware) {
    std::vector<uint8_t> out = BlockBytes(src);
    BITMAPINFOHEADER h;
    std::memcpy(&h, out.data(), sizeof h);
    const size_t pixels = 40 + DIBPaletteBytes(&h);
    const size_t stride = DIBStride(&h);
    if (h.biBitCount == 24) {
        for (int r = 0; r < h.biHeight; ++r)
            for (int x = 0; x < h.biWidth; ++x) {
                uint8_t* p = &out[pixels + size_t(r) * stride + 3 * size_t(x)];
                const Colour c = f({p[2], p[1], p[0]});
                p[0] = uint8_t(c.b), p[1] = uint8_t(c.g), p[2] = uint8_t(c.r);
            }
    } else if (greyAware && GreyRamp(reinterpret_cast<const BITMAPINFOHEADER*>(out.data()))) {
        for (int r = 0; r < h.biHeight; ++r)
            for (int x = 0; x < h.biWidth; ++x) {
                uint8_t& v = out[pixels + size_t(r) * stride + size_t(x)];
                v = uint8_t(f({v, v, v}).r);
            }
    } else {
        for (uint32_t i = 0; i < DIBPaletteEntries(&h); ++i) {
            uint8_t* e = &out[40 + 4 * size_t(i)];
            const Colour c = f({e[2], e[1], e[0]});
            e[0] = uint8_t(c.b), e[1] = uint8_t(c.g), e[2] = uint8_t(c.r), e[3] = 0;
        }
    }
    return out;
}

// "" when the blocks are equal, else where they first differ.
inline std::string FirstDifference(const std::vector<uint8_t>& got,
                                   const std::vector<uint8_t>& want) {
    if (got.size() != want.size())
        return "size " + std::to_string(got.size()) + " instead of " + std::to_string(want.size());
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != want[i])
            return "byte " + std::to_string(i) + " is " + std::to_string(got[i]) + " instead of " +
                   std::to_string(want[i]);
    return "";
}

using Op = SourceOp;

// Holds the vector kernels to their 4-lane build while in scope (the 8-lane
// build runs otherwise, where the processor has it).
struct FourLanes {
    explicit FourLanes(bool hold = true) { colour_lanes::HoldToFourLanes(hold); }
    ~FourLanes() { colour_lanes::HoldToFourLanes(false); }
    FourLanes(const FourLanes&) = delete;
    FourLanes& operator=(const FourLanes&) = delete;
};
inline constexpr bool kBothBuilds[] = {false, true};
inline std::string BuildName(bool four) {
    return four ? "4 lanes" : colour_lanes::WideLanesInUse() ? "8 lanes" : "4 lanes (no AVX2)";
}

// The sizes the references run on: a single pixel, odd sizes, and rows wider
// than any block of the row loops.
struct Size {
    int w, h;
};
inline constexpr Size kSizes[] = {{1, 1}, {7, 3}, {33, 17}, {301, 5}, {1031, 2}};

} // namespace colour_test
