// Shared pieces of the PNG, JPEG, TIFF and GIF codec tests: test images,
// encode/decode shorthands, and the reference tools (ImageMagick, netpbm,
// libjpeg-turbo's programs) with a PPM reader to compare against them.
#pragma once

#include "core/dib.h"
#include "core/kmem.h"
#include "formats/codec.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace brellix::codectest {

namespace fs = std::filesystem;
using brellix::test::LeakCheck;
using brellix::test::ReadFileBytes;
using brellix::test::TempDir;
using brellix::test::WriteFileBytes;

// ---- Tools ----

inline bool OnPath(const std::string& name) {
    return std::system(("command -v " + name + " > /dev/null 2>&1").c_str()) == 0;
}

// Debian's ImageMagick; empty when it is not installed.
inline const std::string& ConvertTool() {
    static const std::string tool = [] {
        if (fs::exists("/usr/bin/convert")) return std::string("/usr/bin/convert");
        return OnPath("convert") ? std::string("convert") : std::string();
    }();
    return tool;
}

// Runs a shell command; true when it exits with 0.
inline bool RunShell(const std::string& command) {
    const int rc = std::system((command + " 2> /dev/null").c_str());
    return rc == 0;
}

inline bool Convert(const std::string& args) {
    return RunShell(ConvertTool() + " " + args);
}

inline std::string Q(const fs::path& p) {
    return "'" + p.string() + "'";
}

#define REQUIRE_CONVERT()                                                                          \
    do {                                                                                           \
        if (::brellix::codectest::ConvertTool().empty())                                           \
            GTEST_SKIP() << "ImageMagick's convert is not installed; "                             \
                            "scripts/install-deps.sh installs it";                                 \
    } while (0)

#define REQUIRE_TOOL(name)                                                                         \
    do {                                                                                           \
        if (!::brellix::codectest::OnPath(name))                                                   \
            GTEST_SKIP() << name << " is not installed; scripts/install-deps.sh installs it";      \
    } while (0)

// A binary PNM file (P5 or P6, maxval up to 65535) as RGB samples.
struct Pnm {
    bool ok = false;
    int width = 0, height = 0, maxval = 0;
    std::vector<uint16_t> rgb; // 3 samples a pixel, top row first
    uint32_t At(int x, int y) const {
        const size_t i = (size_t(y) * width + x) * 3;
        auto s = [&](size_t k) {
            return uint32_t(maxval == 255 ? rgb[i + k] : (rgb[i + k] * 255u + maxval / 2) / maxval);
        };
        return (s(0) << 16) | (s(1) << 8) | s(2);
    }
};

inline Pnm ReadPnm(const fs::path& p) {
    Pnm out;
    const std::vector<uint8_t> b = ReadFileBytes(p);
    size_t pos = 0;
    auto skipSpace = [&] {
        for (;;) {
            while (pos < b.size() && std::isspace(b[pos]))
                ++pos;
            if (pos < b.size() && b[pos] == '#') {
                while (pos < b.size() && b[pos] != '\n')
                    ++pos;
                continue;
            }
            return;
        }
    };
    auto number = [&] {
        skipSpace();
        long v = 0;
        while (pos < b.size() && std::isdigit(b[pos]))
            v = v * 10 + (b[pos++] - '0');
        return static_cast<int>(v);
    };
    if (b.size() < 3 || b[0] != 'P' || (b[1] != '5' && b[1] != '6')) return out;
    const int channels = b[1] == '6' ? 3 : 1;
    pos = 2;
    out.width = number();
    out.height = number();
    out.maxval = number();
    ++pos; // the single white-space byte before the samples
    const int bytes = out.maxval > 255 ? 2 : 1;
    const size_t need = size_t(out.width) * out.height * channels * bytes;
    if (out.width <= 0 || out.height <= 0 || out.maxval <= 0 || b.size() - pos < need) return out;
    out.rgb.resize(size_t(out.width) * out.height * 3);
    for (size_t i = 0; i < size_t(out.width) * out.height; ++i) {
        for (int c = 0; c < 3; ++c) {
            const size_t k = pos + (i * channels + (channels == 3 ? c : 0)) * bytes;
            out.rgb[i * 3 + c] = bytes == 2 ? static_cast<uint16_t>((b[k] << 8) | b[k + 1]) : b[k];
        }
    }
    out.ok = true;
    return out;
}

// Asks convert for 8-bit RGB samples of a file (alpha flattened onto white).
inline Pnm ConvertToPnm(const fs::path& file, const TempDir& dir, const std::string& extra = "") {
    const fs::path ppm = dir / (file.filename().string() + ".ref.ppm");
    if (!Convert(Q(file) + "[0] " + extra + " -background white -flatten -depth 8 ppm:" + Q(ppm)))
        return {};
    return ReadPnm(ppm);
}

// ---- DIB helpers ----

// Colour at column x, row y from the top, as 0xRRGGBB.
inline uint32_t RgbAt(KHANDLE dib, int x, int y) {
    const uint32_t v = brellix::test::PixelAt(dib, x, y);
    DIBLock d(dib);
    if (d.bitCount() == 24) return v;
    const RGBQUAD& q = d.palette()[v];
    return (uint32_t{q.rgbRed} << 16) | (uint32_t{q.rgbGreen} << 8) | q.rgbBlue;
}

inline int ChannelDiff(uint32_t a, uint32_t b) {
    int worst = 0;
    for (int s = 0; s < 24; s += 8)
        worst = std::max(worst, std::abs(int((a >> s) & 255) - int((b >> s) & 255)));
    return worst;
}

// Largest channel difference between a DIB and reference samples; -1 when
// the sizes differ or the reference is missing.
inline int MaxDifference(KHANDLE dib, const Pnm& ref, int offsetX = 0, int offsetY = 0) {
    if (!ref.ok) return -1;
    DIBLock d(dib);
    if (!d || d.width() < ref.width + offsetX || d.height() < ref.height + offsetY) return -1;
    if (offsetX == 0 && offsetY == 0 && (d.width() != ref.width || d.height() != ref.height))
        return -1;
    int worst = 0;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x)
            worst =
                std::max(worst, ChannelDiff(RgbAt(dib, x + offsetX, y + offsetY), ref.At(x, y)));
    return worst;
}

// A DIB with random pixels and, for palette depths, a palette of random
// colours (so order mistakes show), or the grey ramp of its depth.
inline KHANDLE MakeTestDIB(int w, int h, int bits, uint32_t seed, bool greyRamp = false) {
    KHANDLE dib = brellix::test::MakeRandomDIB(w, h, bits, seed, greyRamp && bits == 8);
    if (!dib || bits == 24) return dib;
    DIBLock d(dib);
    std::mt19937 rng(seed * 7 + 1);
    const uint32_t n = DIBPaletteEntries(d.header());
    for (uint32_t i = 0; i < n; ++i) {
        RGBQUAD& q = d.palette()[i];
        if (greyRamp) {
            const uint8_t v = static_cast<uint8_t>(i * (255 / (n - 1)));
            q = RGBQUAD{v, v, v, 0};
        } else {
            q = RGBQUAD{static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                        static_cast<uint8_t>(rng()), 0};
        }
    }
    return dib;
}

// A smooth 24-bit picture, the kind of content JPEG is made for.
inline KHANDLE MakeSmoothDIB(int w, int h) {
    KHANDLE dib = AllocDIB(w, h, 24, 0);
    DIBLock d(dib);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = DIBRowFromTop(d.header(), y);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = static_cast<uint8_t>(x * 255 / (w - 1));
            row[3 * x + 1] = static_cast<uint8_t>(y * 255 / (h - 1));
            row[3 * x + 2] = static_cast<uint8_t>(128 + 100 * std::sin((x + y) / 9.0));
        }
    }
    return dib;
}

inline void SetPelsPerMetre(KHANDLE dib, int32_t ppm) {
    DIBLock d(dib);
    d->biXPelsPerMeter = d->biYPelsPerMeter = ppm;
}

// Writes a DIB as a binary PPM for the tools.
inline void WritePpm(const fs::path& p, KHANDLE dib) {
    DIBLock d(dib);
    std::string head =
        "P6\n" + std::to_string(d.width()) + " " + std::to_string(d.height()) + "\n255\n";
    std::vector<uint8_t> bytes(head.begin(), head.end());
    for (int y = 0; y < d.height(); ++y)
        for (int x = 0; x < d.width(); ++x) {
            const uint32_t c = RgbAt(dib, x, y);
            bytes.push_back(static_cast<uint8_t>(c >> 16));
            bytes.push_back(static_cast<uint8_t>(c >> 8));
            bytes.push_back(static_cast<uint8_t>(c));
        }
    WriteFileBytes(p, bytes);
}

// Runs `work` with the process's stderr sent to a file; returns what was
// written there.
template <class F> std::string CaptureStderr(const TempDir& dir, F&& work) {
    const fs::path log = dir / "stderr.txt";
    std::fflush(stderr);
    const int saved = dup(2);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    close(fd);
    work();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    const std::vector<uint8_t> bytes = ReadFileBytes(log);
    return std::string(bytes.begin(), bytes.end());
}

// ---- Codec shorthands ----

struct Decoded {
    KervErrorCode rc = -1;
    KOwnedHandle dib;
    ImageFileInfo info;
};

inline Decoded Decode(DecodeFunc f, const std::vector<uint8_t>& bytes,
                      StatusControlBlock* status = nullptr) {
    Decoded out;
    DecodeRequest req;
    req.data = bytes.data();
    req.size = bytes.size();
    req.status = status;
    KHANDLE h = reinterpret_cast<KHANDLE>(uintptr_t{1});
    out.rc = f(req, &h, &out.info);
    EXPECT_TRUE(out.rc == KERV_OK ? h != nullptr : h == nullptr) << "code " << out.rc;
    if (out.rc == KERV_OK) out.dib.reset(h);
    return out;
}

inline Decoded DecodeFile(DecodeFunc f, const fs::path& p) {
    return Decode(f, ReadFileBytes(p));
}

inline std::vector<uint8_t> Encode(EncodeFunc f, KHANDLE dib, const ImageFileInfo& info,
                                   KervErrorCode* rc = nullptr,
                                   StatusControlBlock* status = nullptr) {
    EncodeRequest req;
    req.dib = dib;
    req.info = &info;
    req.status = status;
    std::vector<uint8_t> out;
    const KervErrorCode code = f(req, &out);
    if (rc) {
        *rc = code;
    } else {
        EXPECT_EQ(code, KERV_OK);
    }
    return out;
}

// Every prefix at the given cut points must be refused with a code, leave the
// slot empty and leak nothing. Each prefix is its own allocation, so the
// sanitizers see any read past its end.
inline void ExpectPrefixesRefused(DecodeFunc f, const std::vector<uint8_t>& file,
                                  size_t allowedTail) {
    ASSERT_GT(file.size(), allowedTail);
    const size_t limit = file.size() - allowedTail;
    std::vector<size_t> cuts;
    for (size_t n = 0; n < std::min<size_t>(limit, 80); ++n)
        cuts.push_back(n);
    for (int k = 1; k < 60; ++k)
        cuts.push_back(limit * k / 60);
    cuts.push_back(limit - 1);
    for (const size_t n : cuts) {
        if (n >= limit) continue;
        LeakCheck leaks;
        std::vector<uint8_t> prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
        prefix.shrink_to_fit();
        Decoded d = Decode(f, prefix);
        EXPECT_NE(d.rc, KERV_OK) << "a file cut to " << n << " of " << file.size()
                                 << " bytes was accepted";
        if (d.rc != KERV_OK) {
            EXPECT_TRUE(d.rc == KERV_CORRUPT_FILE || d.rc == KERV_UNSUPPORTED_VARIANT)
                << "cut " << n << " gave " << d.rc;
        }
    }
}

// A decode that must fail with `expected` without asking the memory manager
// for anything.
inline void ExpectRefusedWithoutAllocating(DecodeFunc f, const std::vector<uint8_t>& file,
                                           KervErrorCode expected) {
    const uint64_t before = KML_AllocationCount();
    const size_t live = KML_LiveBlockCount();
    Decoded d = Decode(f, file);
    EXPECT_EQ(d.rc, expected);
    EXPECT_EQ(KML_AllocationCount(), before) << "the decoder allocated before refusing";
    EXPECT_EQ(KML_LiveBlockCount(), live);
}

// The failure sweep for a decoder and for an encoder.
inline int SweepDecode(DecodeFunc f, const std::vector<uint8_t>& file) {
    return brellix::test::SweepAllocationFailures(nullptr, [&](KHANDLE* result) {
        DecodeRequest req;
        req.data = file.data();
        req.size = file.size();
        return f(req, result, nullptr);
    });
}

inline int SweepEncode(EncodeFunc f, KHANDLE dib, const ImageFileInfo& info) {
    return brellix::test::SweepAllocationFailures(dib, [&](KHANDLE* result) {
        *result = nullptr;
        EncodeRequest req;
        req.dib = dib;
        req.info = &info;
        std::vector<uint8_t> out;
        return f(req, &out);
    });
}

// Big-endian CRC-32 of PNG chunks (and anything else that needs one).
inline uint32_t Crc32(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

} // namespace brellix::codectest
