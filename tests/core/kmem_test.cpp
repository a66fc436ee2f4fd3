#include "core/dib.h"
#include "core/kmem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

TEST(MemoryManager, ZeroFilledBlocksAreCountedUntilFreed) {
    const size_t live = KML_LiveBlockCount();
    KHANDLE h = KML_GlobalAlloc(KMEM_GHND, 1000);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(KML_LiveBlockCount(), live + 1);
    EXPECT_EQ(KML_GlobalSize(h), 1000u);
    auto* p = static_cast<uint8_t*>(KML_GlobalLock(h));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(p[i], 0) << i;
    KML_GlobalUnlock(h);
    EXPECT_EQ(KML_GlobalFree(h), nullptr);
    EXPECT_EQ(KML_LiveBlockCount(), live);
}

TEST(MemoryManager, LocksNest) {
    KOwnedHandle h(KML_GlobalAlloc(KMEM_MOVEABLE, 16));
    ASSERT_TRUE(h);
    void* a = KML_GlobalLock(h.get());
    void* b = KML_GlobalLock(h.get());
    EXPECT_EQ(a, b);
    EXPECT_TRUE(KML_GlobalUnlock(h.get()));   // still locked once
    EXPECT_FALSE(KML_GlobalReAlloc(h.get(), 32, 0)) << "a locked block must not move";
    EXPECT_FALSE(KML_GlobalUnlock(h.get()));  // now unlocked
    EXPECT_TRUE(KML_GlobalReAlloc(h.get(), 32, 0));
    EXPECT_FALSE(KML_GlobalUnlock(h.get())) << "unlocking an unlocked block fails";
}

TEST(MemoryManager, ForeignHandlesAreRefused) {
    auto fake = reinterpret_cast<KHANDLE>(uintptr_t{0x1230});
    EXPECT_EQ(KML_GlobalSize(fake), 0u);
    EXPECT_EQ(KML_GlobalLock(fake), nullptr);
    EXPECT_EQ(KML_GlobalFree(fake), fake);
    EXPECT_EQ(KML_GlobalSize(nullptr), 0u);
    EXPECT_EQ(KML_GlobalLock(nullptr), nullptr);
}

TEST(MemoryManager, ReAllocKeepsContentsAndZeroFillsGrowth) {
    KOwnedHandle h(KML_GlobalAlloc(KMEM_MOVEABLE, 4));
    ASSERT_TRUE(h);
    {
        KLock l(h.get());
        std::memcpy(l.get(), "abcd", 4);
    }
    ASSERT_TRUE(KML_GlobalReAlloc(h.get(), 4096, KMEM_ZEROINIT));
    KLock l(h.get());
    EXPECT_EQ(std::memcmp(l.get(), "abcd", 4), 0);
    for (int i = 4; i < 4096; ++i) ASSERT_EQ(l.get()[i], 0);
    EXPECT_EQ(KML_GlobalSize(h.get()), 4096u);
}

TEST(MemoryManager, FailsTheNthAllocation) {
    KML_FailNthAllocation(2);
    KOwnedHandle a(KML_GlobalAlloc(KMEM_MOVEABLE, 8));
    KOwnedHandle b(KML_GlobalAlloc(KMEM_MOVEABLE, 8));
    KOwnedHandle c(KML_GlobalAlloc(KMEM_MOVEABLE, 8));
    EXPECT_TRUE(a);
    EXPECT_FALSE(b);
    EXPECT_TRUE(c) << "the hook fires once";
    KML_FailNthAllocation(1);
    KML_FailNthAllocation(0);
    KOwnedHandle d(KML_GlobalAlloc(KMEM_MOVEABLE, 8));
    EXPECT_TRUE(d) << "disarmed";
}

TEST(MemoryManager, MaximumBlockSizeStopsHugeRequestsAtOnce) {
    EXPECT_EQ(KML_MaxBlockSize(), KMEM_DEFAULT_MAX_BLOCK);
    KHANDLE dib = nullptr;
    EXPECT_EQ(NewDIB(&dib, 65535, 65535, 24, 0, 0, 0, 0, nullptr), KERV_NO_MEMORY);
    EXPECT_EQ(dib, nullptr);

    // The threshold setting is in megabytes; 0 restores the default.
    KML_Initialize(0, true, 1);
    EXPECT_EQ(KML_MaxBlockSize(), 1u << 20);
    EXPECT_EQ(KML_GlobalAlloc(KMEM_MOVEABLE, (1u << 20) + 1), nullptr);
    KOwnedHandle ok(KML_GlobalAlloc(KMEM_MOVEABLE, 1u << 20));
    EXPECT_TRUE(ok);
    KML_Initialize(0, true, 0);
    EXPECT_EQ(KML_MaxBlockSize(), KMEM_DEFAULT_MAX_BLOCK);
}

TEST(MemoryManager, LeakReportNamesTheAllocatingLine) {
    KOwnedHandle h(KML_GlobalAlloc(KMEM_MOVEABLE, 77));
    const std::string report = KML_LeakReport();
    EXPECT_NE(report.find("77 bytes"), std::string::npos) << report;
    EXPECT_NE(report.find("kmem_test.cpp"), std::string::npos) << report;
}

TEST(MemoryManager, AttachAndDetachSystemBlocks) {
    const size_t live = KML_LiveBlockCount();
    auto* mem = static_cast<char*>(std::malloc(10));
    std::memcpy(mem, "0123456789", 10);
    KHANDLE owned = KML_AttachToManager({mem, 10}, true);
    ASSERT_NE(owned, nullptr);
    EXPECT_EQ(KML_GlobalSize(owned), 10u);
    {
        KLock l(owned);
        EXPECT_EQ(std::memcmp(l.get(), "0123456789", 10), 0);
    }
    KSysBlock back = KML_DetachFromManager(owned);
    EXPECT_EQ(back.data, mem);
    EXPECT_EQ(KML_LiveBlockCount(), live);

    // Borrowed: freeing the handle leaves the memory to its owner.
    KHANDLE borrowed = KML_AttachToManager(back, false);
    KML_GlobalFree(borrowed);
    EXPECT_EQ(mem[0], '0');
    std::free(mem);

    KHANDLE h = KML_GlobalAlloc(KMEM_GHND, 5);
    KSysBlock sys = KML_DetachFromManager(h);
    EXPECT_EQ(sys.size, 5u);
    EXPECT_EQ(KML_LiveBlockCount(), live);
    std::free(sys.data);
}

TEST(MemoryManager, BufferAndOwnersReleaseOnScopeExit) {
    const size_t live = KML_LiveBlockCount();
    {
        KBuffer b;
        ASSERT_TRUE(b.allocate(64));
        b.data()[63] = 1;
        KOwnedHandle h(KML_GlobalAlloc(KMEM_MOVEABLE, 8));
        KOwnedHandle moved = std::move(h);
        EXPECT_FALSE(h);
        EXPECT_EQ(KML_LiveBlockCount(), live + 2);
    }
    EXPECT_EQ(KML_LiveBlockCount(), live);
    KBuffer failing;
    KML_FailNthAllocation(1);
    EXPECT_FALSE(failing.allocate(64));
    EXPECT_EQ(failing.data(), nullptr);
}

// ---- Freed big blocks kept for the next file ----

constexpr size_t kMiB = size_t{1} << 20;

class KeptBlocks : public ::testing::Test {
  protected:
    void SetUp() override { KML_ReleaseKept(); }
    void TearDown() override { KML_ReleaseKept(); }
};

struct ReuseCase {
    const char* name;
    size_t freed;
    size_t asked;
    bool kept;    // the freed block stays with the manager
    bool reused;  // the request gets it
};

void PrintTo(const ReuseCase& c, std::ostream* os) { *os << c.name; }

class KeptBlockReuse : public KeptBlocks, public ::testing::WithParamInterface<ReuseCase> {};

TEST_P(KeptBlockReuse, TakesAFittingBlockOnly) {
    const ReuseCase& c = GetParam();
    KHANDLE first = KML_GlobalAlloc(KMEM_MOVEABLE, c.freed);
    ASSERT_NE(first, nullptr);
    uint8_t* old = static_cast<uint8_t*>(KML_GlobalLock(first));
    std::memset(old, 0xA5, std::min(c.freed, 8 * kMiB));
    KML_GlobalUnlock(first);
    KML_GlobalFree(first);
    EXPECT_EQ(KML_KeptBytes(), c.kept ? c.freed : 0);

    // Zero-filled even when it is the dirty block of before; sized as asked.
    const size_t live = KML_LiveBlockCount();
    KOwnedHandle next(KML_GlobalAlloc(KMEM_GHND, c.asked));
    ASSERT_TRUE(next);
    EXPECT_EQ(KML_GlobalSize(next.get()), c.asked);
    EXPECT_EQ(KML_LiveBlockCount(), live + 1);
    KLock l(next.get());
    // A block handed back to the allocator may come back from it as well.
    if (c.kept) {
        EXPECT_EQ(l.get() == old, c.reused);
    }
    EXPECT_EQ(KML_KeptBytes(), c.kept && !c.reused ? c.freed : 0);
    for (size_t i = 0; i < c.asked; i += 4093) ASSERT_EQ(l.get()[i], 0) << i;
    EXPECT_EQ(l.get()[c.asked - 1], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, KeptBlockReuse,
    ::testing::Values(ReuseCase{"SameSize", 4 * kMiB, 4 * kMiB, true, true},
                      ReuseCase{"AQuarterSmaller", 4 * kMiB, 3 * kMiB, true, true},
                      ReuseCase{"HalfTheSize", 4 * kMiB, 2 * kMiB, true, false},
                      ReuseCase{"Larger", 4 * kMiB, 4 * kMiB + 1, true, false},
                      ReuseCase{"UnderAMegabyte", kMiB - 1, kMiB - 1, false, false},
                      ReuseCase{"OneMegabyte", kMiB, kMiB, true, true},
                      ReuseCase{"BeyondTheBound", 257 * kMiB, 257 * kMiB, false, false}),
    [](const ::testing::TestParamInfo<ReuseCase>& c) { return std::string(c.param.name); });

TEST_F(KeptBlocks, StayWithinTheirBound) {
    // Sixteen blocks at most...
    std::vector<KHANDLE> small;
    for (int i = 0; i < 20; ++i) small.push_back(KML_GlobalAlloc(KMEM_MOVEABLE, kMiB));
    for (KHANDLE h : small) KML_GlobalFree(h);
    EXPECT_EQ(KML_KeptBytes(), 16 * kMiB);
    // ...and 256 MiB at most: the oldest make room.
    std::vector<KHANDLE> big;
    for (int i = 0; i < 3; ++i) big.push_back(KML_GlobalAlloc(KMEM_MOVEABLE, 100 * kMiB));
    for (KHANDLE h : big) KML_GlobalFree(h);
    EXPECT_EQ(KML_KeptBytes(), 200 * kMiB);
    KML_ReleaseKept();
    EXPECT_EQ(KML_KeptBytes(), 0u);
}

TEST_F(KeptBlocks, AFailedAllocationLeavesThemKept) {
    KML_GlobalFree(KML_GlobalAlloc(KMEM_MOVEABLE, 2 * kMiB));
    KML_FailNthAllocation(1);
    EXPECT_EQ(KML_GlobalAlloc(KMEM_MOVEABLE, 2 * kMiB), nullptr);
    EXPECT_EQ(KML_KeptBytes(), 2 * kMiB);
    KML_SetMaxBlockSize(kMiB);
    EXPECT_EQ(KML_GlobalAlloc(KMEM_MOVEABLE, 2 * kMiB), nullptr) << "the maximum still holds";
    KML_SetMaxBlockSize(0);
    EXPECT_EQ(KML_KeptBytes(), 2 * kMiB);
}

#if !defined(__SANITIZE_ADDRESS__)  // there a request this big aborts
TEST_F(KeptBlocks, AreGivenBackWhenTheSystemRunsShort) {
    KML_GlobalFree(KML_GlobalAlloc(KMEM_MOVEABLE, 2 * kMiB));
    ASSERT_EQ(KML_KeptBytes(), 2 * kMiB);
    KML_SetMaxBlockSize(uint64_t{1} << 48);
    EXPECT_EQ(KML_GlobalAlloc(KMEM_MOVEABLE, size_t{1} << 47), nullptr) << "more than the address space";
    KML_SetMaxBlockSize(0);
    EXPECT_EQ(KML_KeptBytes(), 0u);
}
#endif

TEST_F(KeptBlocks, AReusedBlockResizesAndDetachesLikeAnyOther) {
    KML_GlobalFree(KML_GlobalAlloc(KMEM_MOVEABLE, 4 * kMiB));
    KHANDLE h = KML_GlobalAlloc(KMEM_MOVEABLE, 3 * kMiB + 5);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(KML_KeptBytes(), 0u) << "the kept block was taken";
    {
        KLock l(h);
        for (size_t i = 0; i < 3 * kMiB + 5; ++i) l.get()[i] = uint8_t(i * 7);
    }
    // Within what it was allocated with, then beyond it.
    for (size_t size : {4 * kMiB - 1, 9 * kMiB}) {
        ASSERT_TRUE(KML_GlobalReAlloc(h, size, KMEM_ZEROINIT)) << size;
        KLock l(h);
        for (size_t i = 0; i < 3 * kMiB + 5; i += 997) ASSERT_EQ(l.get()[i], uint8_t(i * 7)) << size << " " << i;
        for (size_t i = 3 * kMiB + 5; i < size; i += 991) ASSERT_EQ(l.get()[i], 0) << size << " " << i;
        EXPECT_EQ(KML_GlobalSize(h), size);
    }
    // Detached, the whole block is the caller's to write and free.
    KSysBlock sys = KML_DetachFromManager(h);
    ASSERT_EQ(sys.size, 9 * kMiB);
    std::memset(sys.data, 1, sys.size);
    std::free(sys.data);
}

#if defined(__SANITIZE_ADDRESS__)
TEST_F(KeptBlocks, AreStillCaughtWhenUsedAfterFree) {
    KHANDLE h = KML_GlobalAlloc(KMEM_MOVEABLE, 2 * kMiB);
    auto* p = static_cast<uint8_t*>(KML_GlobalLock(h));
    KML_GlobalUnlock(h);
    KML_GlobalFree(h);
    EXPECT_DEATH(static_cast<volatile uint8_t*>(p)[kMiB] = 1, "use-after-poison");

    // A reused block is as long as asked, not as long as it was.
    KOwnedHandle again(KML_GlobalAlloc(KMEM_MOVEABLE, 2 * kMiB - 4096));
    KLock l(again.get());
    ASSERT_EQ(l.get(), p);
    l.get()[2 * kMiB - 4097] = 1;
    EXPECT_DEATH(static_cast<volatile uint8_t*>(p)[2 * kMiB - 4096] = 1, "use-after-poison");
}
#endif

}  // namespace
