// Writes the colour map file "KCD.DAT" that the standard-palette colour
// reduction reads.
//
//   offset      0  the 16-colour map    index into the 16 Windows colours
//   offset  32768  the 256-colour map   index into the standard cube (0..215)
//   offset  65536  a third table        no reader; written as zeros
//
// Each map has one byte for every 15-bit key (red >> 3) x 1024 + (green >>
// 3) x 32 + (blue >> 3); the key stands for the colour whose components are
// its five-bit values widened to eight bits (c x 8 + c / 4). Both maps hold
// the nearest palette entry to that colour by squared RGB distance, the
// lowest index winning ties. The generator then checks the colours that
// must map to fixed entries and fails (exit status 1) if one does not.
//
// Usage: make_kcd OUTPUT-FILE
#include "core/dib.h"
#include "imaging/dither.h"
#include "imaging/dither_tables.h"

#include <cstdio>
#include <vector>

using namespace dither_tables;

namespace {

void FillMap(uint8_t* map, const RGBQUAD* palette, uint32_t entries) {
    for (uint32_t key = 0; key < kMapBytes; ++key) {
        const uint8_t r = Widen5(key >> 10), g = Widen5((key >> 5) & 31), b = Widen5(key & 31);
        map[key] = uint8_t(FindNearestPaletteIndex(r, g, b, palette, entries, 4, nullptr));
    }
}

struct FixedPoint {
    uint8_t red, green, blue, index;
};

// Pure colours that must keep their own entry.
constexpr FixedPoint kFixed16[] = {
    {255, 0, 0, 9}, {0, 255, 0, 10},    {0, 0, 255, 12},    {128, 0, 0, 1},
    {0, 0, 128, 4}, {192, 192, 192, 7}, {128, 128, 128, 8},
};

bool Check16(const uint8_t* map) {
    bool ok = true;
    for (uint32_t key = 0; key < kMapBytes; ++key) {
        const uint32_t r = key >> 10, g = (key >> 5) & 31, b = key & 31;
        if (r < 8 && g < 8 && b < 8 && map[key] != 0) {
            std::fprintf(stderr, "make_kcd: key %u (a near-black) maps to %u\n", key, map[key]);
            ok = false;
        }
        if (r >= 28 && g >= 28 && b >= 28 && map[key] != 15) {
            std::fprintf(stderr, "make_kcd: key %u (a near-white) maps to %u\n", key, map[key]);
            ok = false;
        }
    }
    for (const FixedPoint& f : kFixed16) {
        if (map[MapKey(f.red, f.green, f.blue)] != f.index) {
            std::fprintf(stderr, "make_kcd: (%u, %u, %u) maps to %u, not %u\n", f.red, f.green,
                         f.blue, map[MapKey(f.red, f.green, f.blue)], f.index);
            ok = false;
        }
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_kcd OUTPUT-FILE\n");
        return 2;
    }
    std::vector<uint8_t> file(kMapFileBytes, 0);
    FillMap(file.data() + kMap16Offset, kWindows16Colors, 16);
    FillMap(file.data() + kMap256Offset, kStandardCube256, 216);
    if (!Check16(file.data() + kMap16Offset)) return 1;

    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    if (std::fclose(f) != 0 || !written) {
        std::perror(argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
