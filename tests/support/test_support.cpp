#include "tests/support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

namespace brellix::test {

KHANDLE MakeRandomDIB(int width, int height, int bitCount, uint32_t seed, bool grey) {
    KHANDLE h = nullptr;
    if (NewDIB(&h, static_cast<uint16_t>(width), static_cast<uint16_t>(height),
               static_cast<uint8_t>(bitCount), grey ? 1 : 0, 0, 0, 0, nullptr) != 0)
        return nullptr;
    DIBLock d(h);
    std::mt19937 rng(seed);
    const uint32_t stride = d.stride();
    for (int r = 0; r < height; ++r) {
        uint8_t* row = d.row(r);
        for (uint32_t i = 0; i < stride; ++i) row[i] = static_cast<uint8_t>(rng());
    }
    return h;
}

std::vector<uint8_t> BlockBytes(KHANDLE h) {
    KLock l(h);
    if (!l) return {};
    const uint8_t* p = l.get();
    return std::vector<uint8_t>(p, p + KML_GlobalSize(h));
}

uint32_t PixelAt(KHANDLE h, int x, int y) {
    DIBLock d(h);
    const uint8_t* row = DIBRowFromTop(d.header(), y);
    switch (d.bitCount()) {
    case 1: return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4: return (x % 2 == 0) ? row[x / 2] >> 4 : row[x / 2] & 15;
    case 8: return row[x];
    default: return (uint32_t{row[3 * x + 2]} << 16) | (uint32_t{row[3 * x + 1]} << 8) | row[3 * x];
    }
}

void SetPixel(KHANDLE h, int x, int y, uint32_t v) {
    DIBLock d(h);
    uint8_t* row = DIBRowFromTop(d.header(), y);
    switch (d.bitCount()) {
    case 1: {
        const uint8_t m = static_cast<uint8_t>(0x80 >> (x % 8));
        row[x / 8] = static_cast<uint8_t>(v ? row[x / 8] | m : row[x / 8] & ~m);
        break;
    }
    case 4:
        if (x % 2 == 0)
            row[x / 2] = static_cast<uint8_t>((row[x / 2] & 0x0F) | (v << 4));
        else
            row[x / 2] = static_cast<uint8_t>((row[x / 2] & 0xF0) | (v & 15));
        break;
    case 8: row[x] = static_cast<uint8_t>(v); break;
    default:
        row[3 * x] = static_cast<uint8_t>(v);
        row[3 * x + 1] = static_cast<uint8_t>(v >> 8);
        row[3 * x + 2] = static_cast<uint8_t>(v >> 16);
    }
}

std::vector<uint8_t> ImageContent(KHANDLE h) {
    std::vector<uint8_t> out;
    DIBLock d(h);
    if (!d) return out;
    const uint8_t* hp = reinterpret_cast<const uint8_t*>(d.header());
    out.insert(out.end(), hp, hp + 40 + DIBPaletteBytes(d.header()));
    const int w = d.width(), bits = d.bitCount();
    const uint32_t used = static_cast<uint32_t>((uint64_t(w) * bits + 7) / 8);
    for (int r = 0; r < d.height(); ++r) {
        const uint8_t* row = d.row(r);
        out.insert(out.end(), row, row + used);
        const int spare = static_cast<int>(used * 8 - uint64_t(w) * bits);
        if (spare > 0) out.back() = static_cast<uint8_t>(out.back() & (0xFF << spare));
    }
    return out;
}

int SweepAllocationFailures(KHANDLE source, const std::function<KervErrorCode(KHANDLE*)>& op) {
    const std::vector<uint8_t> before = source ? BlockBytes(source) : std::vector<uint8_t>{};
    int points = 0;
    for (uint64_t n = 1; n < 10000; ++n) {
        const size_t live = KML_LiveBlockCount();
        KHANDLE result = reinterpret_cast<KHANDLE>(uintptr_t{1});
        KML_FailNthAllocation(n);
        const KervErrorCode rc = op(&result);
        KML_FailNthAllocation(0);
        if (rc == 0) {
            if (result) KML_GlobalFree(result);
            EXPECT_EQ(KML_LiveBlockCount(), live);
            break;
        }
        ++points;
        EXPECT_EQ(rc, KERV_NO_MEMORY) << "failure point " << n;
        EXPECT_EQ(result, nullptr) << "failure point " << n;
        EXPECT_EQ(KML_LiveBlockCount(), live) << "leak at failure point " << n << "\n"
                                              << KML_LeakReport();
    }
    if (source) {
        EXPECT_EQ(BlockBytes(source), before) << "the source was changed";
    }
    return points;
}

StoppingStatus::StoppingStatus(int stopAt) {
    block.progress = [this, stopAt](StatusControlBlock*) { return ++calls >= stopAt ? 1 : 0; };
}

LeakCheck::LeakCheck() : start_(KML_LiveBlockCount()) {}
LeakCheck::~LeakCheck() {
    EXPECT_EQ(KML_LiveBlockCount(), start_) << KML_LeakReport();
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "brellix-test-XXXXXX").string();
    if (char* p = mkdtemp(tmpl.data())) path_ = p;
}
TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

void WriteFileBytes(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace brellix::test
