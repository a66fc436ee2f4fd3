// Helpers for the codec tests of this layer: decoding bytes, comparing
// pixels by colour, and running the Debian tools that serve as references.
#pragma once

#include "formats/codec.h"
#include "tests/support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace brellix::test {

// Every pixel's colour as 0xRRGGBB, rows from the top.
inline std::vector<uint32_t> Colors(KHANDLE h) {
    std::vector<uint32_t> out;
    DIBLock d(h);
    if (!d) return out;
    const RGBQUAD* pal = d.palette();
    const uint32_t n = DIBPaletteEntries(d.header());
    for (int y = 0; y < d.height(); ++y)
        for (int x = 0; x < d.width(); ++x) {
            const uint32_t v = PixelAt(h, x, y);
            if (d.bitCount() == 24) {
                out.push_back(v);
            } else {
                const RGBQUAD c = v < n ? pal[v] : RGBQUAD{0, 0, 0, 0};
                out.push_back(uint32_t{c.rgbRed} << 16 | uint32_t{c.rgbGreen} << 8 | c.rgbBlue);
            }
        }
    return out;
}

inline KervErrorCode DecodeBytes(DecodeFunc f, const std::vector<uint8_t>& bytes, KOwnedHandle* out,
                                 ImageFileInfo* info = nullptr) {
    DecodeRequest req;
    req.data = bytes.data();
    req.size = bytes.size();
    KHANDLE h = reinterpret_cast<KHANDLE>(1);  // must be cleared by the decoder
    const KervErrorCode e = f(req, &h, info);
    out->reset(e == 0 ? h : nullptr);
    if (e != 0) {
        EXPECT_EQ(h, nullptr);
    }
    return e;
}

inline KervErrorCode EncodeBytes(EncodeFunc f, KHANDLE dib, const ImageFileInfo& info,
                                 std::vector<uint8_t>* out) {
    EncodeRequest req;
    req.dib = dib;
    req.info = &info;
    return f(req, out);
}

inline bool HaveTool(const char* name) {
    const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}
inline int Shell(const std::string& cmd) { return std::system((cmd + " 2>/dev/null").c_str()); }
inline std::string Q(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

// Decodes a PPM/PGM/PBM that a reference tool wrote (through our own PNM
// decoder, which is checked against hand-made files).
inline std::vector<uint32_t> ColorsOfPnmFile(const std::filesystem::path& p) {
    KOwnedHandle h;
    if (DecodeBytes(DecodePXM, ReadFileBytes(p), &h) != 0) return {};
    return Colors(h.get());
}

}  // namespace brellix::test
