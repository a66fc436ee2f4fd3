#include "tests/support/test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

KHANDLE MakeRandomPaletteDIB(int width, int height, int bitCount, uint32_t seed, bool grey) {
    KHANDLE h = AllocDIB(width, height, bitCount, bitCount == 24 ? 0 : 1u << bitCount);
    if (!h) return nullptr;
    DIBLock d(h);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < d->biSizeImage; ++i)
        d.bits()[i] = static_cast<uint8_t>(rng());
    for (uint32_t i = 0; i < d->biClrUsed; ++i) {
        const auto v = static_cast<uint8_t>(i);
        d.palette()[i] = grey ? RGBQUAD{v, v, v, 0}
                              : RGBQUAD{static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                                        static_cast<uint8_t>(rng()), 0};
    }
    return h;
}

std::vector<uint8_t> BlockBytes(KHANDLE h) {
    KLock l(h);
    if (!l) return {};
    const uint8_t* p = l.get();
    return std::vector<uint8_t>(p, p + KML_GlobalSize(h));
}

int NonZeroPadding(KHANDLE h) {
    DIBLock d(h);
    const uint64_t usedBits = uint64_t(d.width()) * uint64_t(d.bitCount());
    const int lastBits = int(usedBits % 8); // used bits of a partly used last byte
    int bad = 0;
    for (int r = 0; r < d.height(); ++r) {
        const uint8_t* row = d.row(r);
        uint32_t i = uint32_t(usedBits / 8);
        if (lastBits) bad += (row[i++] & (0xFF >> lastBits)) != 0;
        for (; i < d.stride(); ++i)
            bad += row[i] != 0;
    }
    return bad;
}

Samples SamplesOf(KHANDLE h) {
    DIBLock d(h);
    Samples s{d.width(), d.height(), d.bitCount() / 8, {}};
    for (int r = 0; r < s.h; ++r)
        s.v.insert(s.v.end(), d.row(r), d.row(r) + size_t(s.w) * size_t(s.c));
    return s;
}

std::vector<uint8_t> BlockWithSamples(KHANDLE h, const Samples& s) {
    std::vector<uint8_t> bytes = BlockBytes(h);
    DIBLock d(h);
    const size_t offset = size_t(d.bits() - reinterpret_cast<uint8_t*>(d.header()));
    const size_t n = size_t(s.w) * size_t(s.c);
    for (int r = 0; r < s.h; ++r)
        std::memcpy(&bytes[offset + size_t(r) * d.stride()], &s.v[size_t(r) * n], n);
    return bytes;
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

KHANDLE FromRows(int bits, const Rows& rows, bool grey) {
    KHANDLE h = nullptr;
    EXPECT_EQ(NewDIB(&h, static_cast<uint16_t>(rows[0].size()), static_cast<uint16_t>(rows.size()),
                     static_cast<uint8_t>(bits), grey ? 1 : 0, 0, 0, 0, nullptr),
              0);
    for (size_t y = 0; y < rows.size(); ++y)
        for (size_t x = 0; x < rows[y].size(); ++x)
            SetPixel(h, int(x), int(y), rows[y][x]);
    return h;
}

Rows PixelRows(KHANDLE h) {
    int w = 0, height = 0;
    {
        DIBLock d(h);
        w = d.width();
        height = d.height();
    }
    Rows rows(static_cast<size_t>(height), std::vector<uint32_t>(static_cast<size_t>(w)));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < w; ++x)
            rows[size_t(y)][size_t(x)] = PixelAt(h, x, y);
    return rows;
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

StatusOp BindSource(const SourceOp& op, KHANDLE source) {
    return [op, source](StatusControlBlock* s, KHANDLE* result) { return op(s, source, result); };
}

int SweepStops(const std::vector<KHANDLE>& inputs, const StatusOp& op, StopTaking taking) {
    std::vector<std::vector<uint8_t>> before;
    for (KHANDLE h : inputs)
        before.push_back(BlockBytes(h));
    std::vector<int> stoppedAt; // the call each stopped run ended at
    for (int k = 1;; ++k) {
        LeakCheck leaks;
        StoppingStatus stop(k);
        KHANDLE const untouched = reinterpret_cast<KHANDLE>(uintptr_t{1});
        KHANDLE result = untouched;
        const KervErrorCode rc = op(&stop.block, &result);
        for (size_t i = 0; i < inputs.size(); ++i)
            EXPECT_EQ(BlockBytes(inputs[i]), before[i])
                << "input " << i << " changed, stop from call " << k;
        if (rc == 0) {
            EXPECT_TRUE(result != nullptr && result != untouched)
                << "no result with a stop from call " << k;
            KOwnedHandle owner(result != untouched ? result : nullptr);
            EXPECT_EQ(stop.calls, std::max(k, 2))
                << "a run asked to stop from call " << k << " completed: that call is not its last";
            if (taking == StopTaking::BeforeTheEnd) {
                for (size_t i = 0; i < stoppedAt.size(); ++i)
                    EXPECT_LT(stoppedAt[i], stop.calls)
                        << "stop from call " << i + 1 << " came at the end";
            }
            return int(stoppedAt.size());
        }
        EXPECT_EQ(rc, KERV_STOPPED) << "stop from call " << k;
        EXPECT_EQ(result, nullptr) << "stop from call " << k;
        if (taking == StopTaking::AtOnce) {
            EXPECT_EQ(stop.calls, std::max(k, 2)) << "stop from call " << k;
        } else {
            EXPECT_GE(stop.calls, std::max(k, 2)) << "stop from call " << k;
        }
        if (rc != KERV_STOPPED || k == 1000000) {
            ADD_FAILURE() << "no run completed; the sweep gave up at call " << k;
            return int(stoppedAt.size());
        }
        stoppedAt.push_back(stop.calls);
    }
}

Progress RecordProgress(const StatusOp& op, StatusControlBlock* block) {
    StatusControlBlock own;
    if (!block) block = &own;
    Progress calls;
    block->progress = [&calls](StatusControlBlock* s) {
        calls.emplace_back(s->current, s->total);
        return 0;
    };
    KHANDLE result = nullptr;
    EXPECT_EQ(op(block, &result), 0);
    EXPECT_NE(result, nullptr);
    KOwnedHandle owner(result);
    block->progress = nullptr;
    return calls;
}

Progress UnitProgress(int units) {
    Progress calls{{0, 100}};
    for (int i = 0; i < units; ++i)
        calls.emplace_back(i, units);
    calls.emplace_back(units, units);
    return calls;
}

void ExpectRefused(const std::function<KervErrorCode(KHANDLE*)>& call, KervErrorCode code,
                   const std::string& what) {
    const size_t live = KML_LiveBlockCount();
    const uint64_t allocations = KML_AllocationCount();
    KHANDLE result = reinterpret_cast<KHANDLE>(uintptr_t{1});
    EXPECT_EQ(call(&result), code) << what;
    EXPECT_EQ(result, nullptr) << what;
    EXPECT_EQ(KML_AllocationCount(), allocations) << what << ": allocated before refusing";
    EXPECT_EQ(KML_LiveBlockCount(), live) << what;
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
