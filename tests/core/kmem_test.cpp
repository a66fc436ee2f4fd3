#include "core/dib.h"
#include "core/kmem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

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

}  // namespace
