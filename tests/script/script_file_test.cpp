// Script files, the clipboard record and the demonstration script: exact
// bytes, round trips, version rules, damaged files and file errors.
#include "script/script.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <unistd.h>

using namespace brellix::test;

// The largest single allocation made while armed: damaged files must never
// make the loader allocate more than the file holds. (The replacement pairs
// malloc with free on purpose.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<bool> gTrack{false};
std::atomic<size_t> gLargest{0};
}  // namespace

namespace {
void* Allocate(size_t n) noexcept {
    if (gTrack.load(std::memory_order_relaxed)) {
        size_t prev = gLargest.load();
        while (n > prev && !gLargest.compare_exchange_weak(prev, n)) {
        }
    }
    return std::malloc(n ? n : 1);
}
void* AllocateOrThrow(size_t n) {
    if (void* p = Allocate(n)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(size_t n) { return AllocateOrThrow(n); }
void* operator new[](size_t n) { return AllocateOrThrow(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes Header(int8_t major, int8_t minor, int32_t count) {
    Bytes b(SCRIPT_SIGNATURE, SCRIPT_SIGNATURE + 18);
    b.push_back(static_cast<uint8_t>(major));
    b.push_back(static_cast<uint8_t>(minor));
    Put32(b, static_cast<uint32_t>(count));
    return b;
}

// A record written by hand from the layout.
void PutRecord(Bytes& b, const CScriptCommand& c) {
    Put32(b, static_cast<uint32_t>(c.m_nID));
    for (int32_t p : c.m_nParam) Put32(b, static_cast<uint32_t>(p));
    for (float f : c.m_fParam) Put32(b, std::bit_cast<uint32_t>(f));
    for (const std::string& s : c.m_strParam) {
        Put32(b, static_cast<uint32_t>(s.size()));
        b.insert(b.end(), s.begin(), s.end());
    }
    for (COLORREF col : c.m_crColor) Put32(b, col);
}

// Every slot, floats compared by their bits.
void ExpectSameSlots(const CScriptCommand& a, const CScriptCommand& b) {
    EXPECT_EQ(a.m_nID, b.m_nID);
    EXPECT_EQ(a.m_nParam, b.m_nParam);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(std::bit_cast<uint32_t>(a.m_fParam[i]), std::bit_cast<uint32_t>(b.m_fParam[i]));
    EXPECT_EQ(a.m_strParam, b.m_strParam);
    EXPECT_EQ(a.m_crColor, b.m_crColor);
}

// Random commands: any ID (also outside the catalogue), any integers, any
// float bit pattern (NaNs included), strings with every byte value.
std::unique_ptr<CScriptCommand> RandomCommand(std::mt19937& rng) {
    auto c = std::make_unique<CScriptCommand>(FIRST_COMMAND_ID + static_cast<int>(rng() % 61));
    if (rng() % 8 == 0) c->m_nID = static_cast<int32_t>(rng());
    for (int32_t& p : c->m_nParam)
        if (rng() % 3) p = static_cast<int32_t>(rng());
    for (float& f : c->m_fParam)
        if (rng() % 2) f = std::bit_cast<float>(static_cast<uint32_t>(rng()));
    for (std::string& s : c->m_strParam) {
        const size_t n = rng() % 4 == 0 ? rng() % 3000 : rng() % 20;
        for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(rng()));
    }
    for (COLORREF& col : c->m_crColor) col = rng();
    return c;
}

struct Loaded {
    bool ok;
    int count;
    bool older;
    std::string message;
};

Loaded LoadBytes(const TempDir& dir, const Bytes& bytes, CScript* into = nullptr) {
    const auto path = dir / "in.ksc";
    WriteFileBytes(path, bytes);
    CScript local;
    CScript& s = into ? *into : local;
    Loaded r{};
    r.ok = s.Load(path.string(), &r.older, &r.message);
    r.count = s.GetCount();
    return r;
}

// The stdio buffer and small bookkeeping; a trusted length would need megabytes.
constexpr size_t kSlack = 64 * 1024;

const std::string kNotAScript = "This does not appear to be a valid script file";

}  // namespace

TEST(ScriptFile, EmptyScriptIs24Bytes) {
    TempDir dir;
    CScript s;
    ASSERT_TRUE(s.Save((dir / "e.ksc").string()));
    const Bytes expected = {'K', 'E', 'R', 'V', ' ', 'B', 'a', 't', 'c', 'h', ' ', 'S',
                            'c', 'r', 'i', 'p', 't', 0,   1,   2,   0,   0,   0,   0};
    EXPECT_EQ(ReadFileBytes(dir / "e.ksc"), expected);
    const Loaded r = LoadBytes(dir, expected);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.count, 0);
    EXPECT_FALSE(r.older);
}

TEST(ScriptFile, UnsetCommandIs68BytesWithSentinels) {
    TempDir dir;
    CScript s;
    s.InsertCommand(std::make_unique<CScriptCommand>(CMD_BLUR), -1);
    ASSERT_TRUE(s.Save((dir / "one.ksc").string()));
    const Bytes file = ReadFileBytes(dir / "one.ksc");
    ASSERT_EQ(file.size(), 24u + 68u);
    EXPECT_EQ(Bytes(file.begin() + 20, file.begin() + 24), (Bytes{1, 0, 0, 0}));
    const uint8_t* r = file.data() + 24;
    EXPECT_EQ(Bytes(r, r + 4), (Bytes{0x19, 0x02, 0, 0}));  // 537
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Bytes(r + 4 + 4 * i, r + 8 + 4 * i), (Bytes{0xF0, 0x14, 0xF6, 0xFF})) << i;
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(Bytes(r + 44 + 4 * i, r + 48 + 4 * i), (Bytes{0x00, 0xB1, 0x1E, 0xC9})) << i;
    EXPECT_EQ(Bytes(r + 52, r + 68), Bytes(16, 0));  // two empty strings, two black colours
}

TEST(ScriptFile, SavedBytesFollowTheLayout) {
    TempDir dir;
    std::mt19937 rng(11);
    CScript s;
    Bytes expected = Header(1, 2, 6);
    for (int i = 0; i < 6; ++i) {
        auto c = RandomCommand(rng);
        PutRecord(expected, *c);
        s.InsertCommand(std::move(c), s.GetCount());
    }
    ASSERT_TRUE(s.Save((dir / "s.ksc").string()));
    EXPECT_EQ(ReadFileBytes(dir / "s.ksc"), expected);
}

TEST(ScriptFile, SaveThenLoadKeepsEverySlotBitForBit) {
    TempDir dir;
    std::mt19937 rng(2024);
    for (int round = 0; round < 40; ++round) {
        CScript s;
        const int n = static_cast<int>(rng() % 12);
        for (int i = 0; i < n; ++i) s.InsertCommand(RandomCommand(rng), s.GetCount());
        const std::string path = (dir / "r.ksc").string();
        ASSERT_TRUE(s.Save(path));
        CScript back;
        bool older = false;
        ASSERT_TRUE(back.Load(path, &older));
        EXPECT_FALSE(older);
        ASSERT_EQ(back.GetCount(), n);
        for (int i = 0; i < n; ++i) ExpectSameSlots(*back.GetCommand(i), *s.GetCommand(i));
        // Saving the loaded script gives the same file.
        const Bytes first = ReadFileBytes(path);
        ASSERT_TRUE(back.Save(path));
        EXPECT_EQ(ReadFileBytes(path), first);
    }
}

TEST(ScriptFile, LoadAppendsToTheScript) {
    TempDir dir;
    CScript s;
    s.InsertCommand(std::make_unique<CScriptCommand>(CMD_FLIP), -1);
    Bytes file = Header(1, 2, 1);
    PutRecord(file, CScriptCommand(CMD_MIRROR));
    const Loaded r = LoadBytes(dir, file, &s);
    EXPECT_TRUE(r.ok);
    ASSERT_EQ(s.GetCount(), 2);
    EXPECT_EQ(s.GetCommand(0)->m_nID, CMD_FLIP);
    EXPECT_EQ(s.GetCommand(1)->m_nID, CMD_MIRROR);
}

TEST(ScriptFile, VersionRules) {
    TempDir dir;
    const struct {
        int8_t major, minor;
        bool ok, older;
    } cases[] = {
        {1, 2, true, false}, {1, 1, true, true},   {1, 0, true, true},  {1, -5, true, true},
        {0, 7, true, false}, {0, 2, true, false},  {0, 1, true, true},  {-1, 100, true, false},
        {1, 3, false, false}, {1, 127, false, false}, {2, 0, false, false}, {127, 2, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.major) << "." << int(c.minor));
        Bytes file = Header(c.major, c.minor, 1);
        PutRecord(file, CScriptCommand(CMD_BLUR));
        const Loaded r = LoadBytes(dir, file);
        EXPECT_EQ(r.ok, c.ok);
        EXPECT_EQ(r.older, c.older);
        EXPECT_EQ(r.count, c.ok ? 1 : 0);
        if (!c.ok) {
            EXPECT_EQ(r.message, "This is not a valid script file or it was written by a newer "
                                 "version of Kerv Brellix.");
        }
    }
}

TEST(ScriptFile, OlderVersionFlagIsNeverCleared) {
    TempDir dir;
    CScript s;
    bool flag = true;
    WriteFileBytes(dir / "a.ksc", Header(1, 2, 0));
    ASSERT_TRUE(s.Load((dir / "a.ksc").string(), &flag));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(s.Load((dir / "a.ksc").string(), nullptr));  // no flag given: fine
}

TEST(ScriptFile, WrongSignatureIsRefused) {
    TempDir dir;
    for (int at = 0; at < 18; ++at) {
        Bytes file = Header(1, 2, 0);
        file[at] ^= 0x20;
        const Loaded r = LoadBytes(dir, file);
        EXPECT_FALSE(r.ok) << at;
        EXPECT_EQ(r.message, kNotAScript);
    }
}

TEST(ScriptFile, TruncatedAnywhereIsRefusedAndLeavesTheScriptAlone) {
    TempDir dir;
    std::mt19937 rng(5);
    CScript s;
    for (int i = 0; i < 4; ++i) s.InsertCommand(RandomCommand(rng), s.GetCount());
    s.GetCommand(1)->m_strParam[0] = "folder";
    ASSERT_TRUE(s.Save((dir / "full.ksc").string()));
    const Bytes full = ReadFileBytes(dir / "full.ksc");
    for (size_t len = 0; len < full.size(); ++len) {
        CScript target;
        target.InsertCommand(std::make_unique<CScriptCommand>(CMD_FLIP), -1);
        const Loaded r = LoadBytes(dir, Bytes(full.begin(), full.begin() + long(len)), &target);
        ASSERT_FALSE(r.ok) << len;
        EXPECT_EQ(r.message, kNotAScript) << len;
        EXPECT_EQ(target.GetCount(), 1) << len;
    }
}

TEST(ScriptFile, BadLengthsAndCountsAreRefusedWithoutHugeAllocations) {
    TempDir dir;
    const auto withString = [](int32_t length, size_t bytesAfter) {
        Bytes file = Header(1, 2, 1);
        CScriptCommand c(CMD_OVERLAY_WATERMARK);
        PutRecord(file, c);
        // Rewrite S0's length (at record offset 52) and add some bytes.
        const size_t at = 24 + 52;
        for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(uint32_t(length) >> (8 * i));
        file.insert(file.end(), bytesAfter, 'x');
        return file;
    };
    const struct {
        const char* what;
        Bytes file;
    } cases[] = {
        {"negative string length", withString(-1, 0)},
        {"most negative string length", withString(INT32_MIN, 0)},
        {"string longer than the file", withString(1000, 10)},
        {"huge string length", withString(INT32_MAX, 100)},
        {"one byte too long", withString(13, 12)},
        {"count larger than the file can hold", Header(1, 2, 2)},
        {"huge count", Header(1, 2, INT32_MAX)},
    };
    for (const auto& c : cases) {
        gLargest = 0;
        gTrack = true;
        const Loaded r = LoadBytes(dir, c.file);
        gTrack = false;
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.message, kNotAScript) << c.what;
        EXPECT_LT(gLargest.load(), kSlack + c.file.size()) << c.what;
    }
    // A length that fits exactly is accepted (and followed by S1 and colours).
    Bytes ok = Header(1, 2, 1);
    CScriptCommand c(CMD_OVERLAY_WATERMARK);
    c.m_strParam[0] = std::string(5000, 'w');
    PutRecord(ok, c);
    CScript s;
    EXPECT_TRUE(LoadBytes(dir, ok, &s).ok);
    ASSERT_EQ(s.GetCount(), 1);
    EXPECT_EQ(s.GetCommand(0)->m_strParam[0], c.m_strParam[0]);
}

// From a pipe the size is unknown: strings are then read in bounded chunks,
// so a huge length costs only what actually arrives.
TEST(ScriptFile, UnknownSizeSourceStillBoundsAllocations) {
    Bytes file = Header(1, 2, 1);
    CScriptCommand c(CMD_OVERLAY_WATERMARK);
    PutRecord(file, c);
    const size_t at = 24 + 52;  // S0's length
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(uint32_t{INT32_MAX} >> (8 * i));
    file.insert(file.end(), 300, 'x');

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], file.data(), file.size()), static_cast<ssize_t>(file.size()));
    close(fds[1]);
    CScript s;
    std::string message;
    gLargest = 0;
    gTrack = true;
    const bool ok = s.Load("/dev/fd/" + std::to_string(fds[0]), nullptr, &message);
    gTrack = false;
    close(fds[0]);
    EXPECT_FALSE(ok);
    EXPECT_EQ(message, kNotAScript);
    EXPECT_EQ(s.GetCount(), 0);
    EXPECT_LT(gLargest.load(), 2 * kSlack);
}

TEST(ScriptFile, ZeroOrNegativeCountReadsNothing) {
    TempDir dir;
    for (int32_t count : {0, -1, INT32_MIN}) {
        Bytes file = Header(1, 2, count);
        PutRecord(file, CScriptCommand(CMD_BLUR));  // ignored
        const Loaded r = LoadBytes(dir, file);
        EXPECT_TRUE(r.ok) << count;
        EXPECT_EQ(r.count, 0);
    }
}

TEST(ScriptFile, RandomBytesAfterAValidHeaderNeverCrash) {
    TempDir dir;
    std::mt19937 rng(99);
    int refused = 0;
    for (int round = 0; round < 300; ++round) {
        Bytes file = Header(1, 2, static_cast<int32_t>(rng() % 4));
        const size_t n = rng() % 400;
        for (size_t i = 0; i < n; ++i) file.push_back(static_cast<uint8_t>(rng()));
        gLargest = 0;
        gTrack = true;
        const Loaded r = LoadBytes(dir, file);
        gTrack = false;
        EXPECT_LT(gLargest.load(), kSlack + file.size());
        if (!r.ok) {
            ++refused;
            EXPECT_EQ(r.message, kNotAScript);
            EXPECT_EQ(r.count, 0);
        }
    }
    EXPECT_GT(refused, 0);
}

TEST(ScriptFile, FileErrorsGiveTheSystemsReason) {
    TempDir dir;
    CScript s;
    std::string message;
    EXPECT_FALSE(s.Load((dir / "missing.ksc").string(), nullptr, &message));
    EXPECT_EQ(message, "The script could not be loaded because No such file or directory");
    EXPECT_FALSE(s.Load(dir.path().string(), nullptr, &message));
    EXPECT_EQ(message, "The script could not be loaded because Is a directory");

    s.InsertCommand(std::make_unique<CScriptCommand>(CMD_BLUR), -1);
    EXPECT_FALSE(s.Save((dir / "no-such-folder" / "x.ksc").string(), &message));
    EXPECT_EQ(message, "The script file could not be saved because No such file or directory");
    EXPECT_FALSE(s.Save("/dev/full", &message));
    EXPECT_EQ(message, "The script file could not be saved because No space left on device");
}

TEST(ScriptFile, SaveTruncatesAnExistingFile) {
    TempDir dir;
    WriteFileBytes(dir / "t.ksc", Bytes(5000, 0xAA));
    CScript s;
    ASSERT_TRUE(s.Save((dir / "t.ksc").string()));
    EXPECT_EQ(ReadFileBytes(dir / "t.ksc").size(), 24u);
}

TEST(ScriptFile, NamesWithSpacesAndNonAscii) {
    TempDir dir;
    const std::string path = (dir / "mein Skript äöü.ksc").string();
    CScript s;
    s.InsertCommand(std::make_unique<CScriptCommand>(CMD_NEGATIVE), -1);
    ASSERT_TRUE(s.Save(path));
    CScript back;
    ASSERT_TRUE(back.Load(path));
    EXPECT_EQ(back.GetCount(), 1);
}

// ---- Clipboard record ----

TEST(ClipboardRecord, EmptyStringsGive62BytesIn66) {
    LeakCheck leaks;
    CScriptCommand c(CMD_BLUR);
    const Bytes record = EncodeClipboardRecord(c);
    ASSERT_EQ(record.size(), 62u);
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 4), (Bytes{0x19, 0x02, 0, 0}));
    EXPECT_EQ(Bytes(record.begin() + 4, record.begin() + 8), (Bytes{0xF0, 0x14, 0xF6, 0xFF}));
    EXPECT_EQ(Bytes(record.begin() + 44, record.begin() + 48), (Bytes{0x00, 0xB1, 0x1E, 0xC9}));
    EXPECT_EQ(Bytes(record.begin() + 52, record.end()), Bytes(10, 0));

    KHANDLE block = MakeClipboardBlock(c);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(KML_GlobalSize(block), 66u);
    const Bytes inBlock = BlockBytes(block);
    EXPECT_EQ(Bytes(inBlock.begin(), inBlock.begin() + 62), record);
    KML_GlobalFree(block);
}

TEST(ClipboardRecord, LayoutAndRoundTrip) {
    LeakCheck leaks;
    std::mt19937 rng(3);
    for (int round = 0; round < 50; ++round) {
        auto c = RandomCommand(rng);
        for (std::string& s : c->m_strParam) std::replace(s.begin(), s.end(), '\0', 'z');
        const Bytes record = EncodeClipboardRecord(*c);
        const size_t l0 = c->m_strParam[0].size(), l1 = c->m_strParam[1].size();
        ASSERT_EQ(record.size(), 62 + l0 + l1);
        Bytes expected;
        Put32(expected, static_cast<uint32_t>(c->m_nID));
        for (int32_t p : c->m_nParam) Put32(expected, static_cast<uint32_t>(p));
        for (float f : c->m_fParam) Put32(expected, std::bit_cast<uint32_t>(f));
        for (COLORREF col : c->m_crColor) Put32(expected, col);
        for (const std::string& s : c->m_strParam) {
            expected.insert(expected.end(), s.begin(), s.end());
            expected.push_back(0);
        }
        ASSERT_EQ(record, expected);
        CScriptCommand back;
        ASSERT_TRUE(DecodeClipboardRecord(record, back));
        ExpectSameSlots(back, *c);

        KHANDLE block = MakeClipboardBlock(*c);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(KML_GlobalSize(block), 66 + l0 + l1);
        CScriptCommand fromBlock;
        ASSERT_TRUE(DecodeClipboardRecord(BlockBytes(block), fromBlock));
        ExpectSameSlots(fromBlock, *c);
        KML_GlobalFree(block);
    }
}

TEST(ClipboardRecord, DamagedRecordsAreRefused) {
    CScriptCommand c(CMD_OVERLAY_WATERMARK);
    c.m_strParam[0] = "mark.png";
    const Bytes record = EncodeClipboardRecord(c);
    for (size_t len = 0; len < record.size(); ++len) {
        CScriptCommand out(CMD_FLIP);
        EXPECT_FALSE(DecodeClipboardRecord(std::span(record.data(), len), out)) << len;
        EXPECT_EQ(out.m_nID, CMD_FLIP);
    }
}

TEST(ClipboardRecord, AllocationFailureGivesNull) {
    LeakCheck leaks;
    KML_FailNthAllocation(1);
    EXPECT_EQ(MakeClipboardBlock(CScriptCommand(CMD_BLUR)), nullptr);
    KML_FailNthAllocation(0);
}

// ---- Demonstration script ----

TEST(DemoScript, DataIsAScriptFileWithoutItsSignature) {
    const auto data = DemoScriptData();
    ASSERT_GE(data.size(), 24u);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 18), Bytes(18, 0));
    EXPECT_EQ(data[18], 1);
    EXPECT_EQ(data[19], 2);
    EXPECT_EQ(Bytes(data.begin() + 20, data.begin() + 24), (Bytes{20, 0, 0, 0}));
}

TEST(DemoScript, LoadsTwentyCommandsAndSavesToTheSameBytes) {
    LeakCheck leaks;
    TempDir dir;
    CScript s;
    std::string message;
    ASSERT_EQ(LoadDemoScript(s, &message), 0) << message;
    ASSERT_EQ(s.GetCount(), 20);
    for (int i = 0; i < 20; ++i) EXPECT_TRUE(IsCommandID(s.GetCommand(i)->m_nID)) << i;
    EXPECT_TRUE(MeetsBatchRule(s));
    ASSERT_TRUE(s.Save((dir / "demo.ksc").string()));
    Bytes expected(DemoScriptData().begin(), DemoScriptData().end());
    std::memcpy(expected.data(), SCRIPT_SIGNATURE, 18);
    EXPECT_EQ(ReadFileBytes(dir / "demo.ksc"), expected);
}

TEST(DemoScript, LeavesNoTemporaryFile) {
    TempDir dir;
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", dir.path().c_str(), 1);
    CScript s;
    EXPECT_EQ(LoadDemoScript(s), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    // No usable temporary folder: 200.
    setenv("TMPDIR", (dir / "missing").c_str(), 1);
    CScript t;
    EXPECT_EQ(LoadDemoScript(t), 200);
    EXPECT_EQ(t.GetCount(), 0);
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST(DemoScript, OutOfMemoryIs102) {
    LeakCheck leaks;
    CScript s;
    KML_FailNthAllocation(1);
    EXPECT_EQ(LoadDemoScript(s), KERV_NO_MEMORY);
    KML_FailNthAllocation(0);
    EXPECT_EQ(s.GetCount(), 0);
}
