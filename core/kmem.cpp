#include "core/kmem.h"

#include <cstdlib>
#include <malloc.h>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#define KMEM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KMEM_ASAN 1
#endif
#endif
#ifdef KMEM_ASAN
#include <sanitizer/asan_interface.h>
#endif

struct KMemBlock {
    void* data = nullptr;
    size_t size = 0;
    size_t capacity = 0;  // what data was allocated with; a reused block may be larger than size
    int lockCount = 0;
    bool owned = true;  // false: borrowed memory, never freed here
    const char* file = "";
    unsigned line = 0;
};

namespace {

// A freed big block kept for the next request of about its size.
struct Kept {
    void* data;
    size_t capacity;
};

struct Manager {
    std::mutex mutex;
    std::unordered_set<KMemBlock*> live;
    std::vector<Kept> kept;  // oldest first
    size_t keptBytes = 0;
    uint64_t maxBlock = KMEM_DEFAULT_MAX_BLOCK;
    uint64_t allocations = 0;
    uint64_t failAt = 0;  // absolute allocation number that must fail, 0 = none
};

Manager& M() {
    static Manager* m = new Manager;  // never destroyed: blocks may be freed during exit
    return *m;
}

bool IsLive(Manager& m, KHANDLE h) { return h && m.live.count(h) != 0; }

// A fresh block of many megabytes costs one page fault per 4 KiB at its
// first write: for a 4000 x 3000 24-bit image 9000 faults, as long as a plain
// copy of the pixels. Asking for 2 MiB pages before anything touches the
// block turns them into a few dozen. Only a hint: the kernel may ignore it.
void AdviseHugePages(void* p, size_t bytes) {
#if defined(MADV_HUGEPAGE)
    constexpr size_t kHuge = size_t{2} << 20;
    if (bytes < 8 * kHuge) return;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHuge - 1);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

// A batch frees an image, its result and their work blocks for every file
// and asks for the same sizes again for the next one. Handing such a block
// back to the allocator is no use when it unmaps it (blocks above its mmap
// threshold, and the per-thread arenas of parallel workers, which drop a heap
// once it is empty): the kernel then faults in and zeroes every page again,
// one fault per 4 KiB. So freed blocks of a megabyte or more are kept here,
// up to a bound, and a request that one fits without wasting more than a
// quarter of it takes it over.
constexpr size_t kKeepFrom = size_t{1} << 20;
constexpr size_t kKeepBytes = size_t{256} << 20;
constexpr size_t kKeepBlocks = 16;

// Under AddressSanitizer a kept block stays poisoned, so a use after free is
// still caught, and so does the tail of a reused block past the size asked for.
#ifdef KMEM_ASAN
void Poison(void* p, size_t n) { ASAN_POISON_MEMORY_REGION(p, n); }
void Unpoison(void* p, size_t n) { ASAN_UNPOISON_MEMORY_REGION(p, n); }
#else
void Poison(void*, size_t) {}
void Unpoison(void*, size_t) {}
#endif

// Hands the block back to the allocator.
void Release(void* data, size_t capacity) {
    Unpoison(data, capacity);
    std::free(data);
}

// The kept block that best fits bytes, taken out of the cache; null if none.
// Called with the mutex held.
void* TakeKept(Manager& m, size_t bytes, size_t* capacity) {
    if (bytes < kKeepFrom) return nullptr;
    auto best = m.kept.end();
    for (auto it = m.kept.begin(); it != m.kept.end(); ++it) {
        if (it->capacity >= bytes && it->capacity - bytes <= it->capacity / 4 &&
            (best == m.kept.end() || it->capacity < best->capacity))
            best = it;
    }
    if (best == m.kept.end()) return nullptr;
    void* p = best->data;
    *capacity = best->capacity;
    m.keptBytes -= best->capacity;
    m.kept.erase(best);
    Unpoison(p, bytes);
    return p;
}

// Keeps a freed block for reuse, or releases it; the oldest kept blocks make
// room. Called with the mutex held.
void Keep(Manager& m, void* data, size_t capacity) {
    if (capacity < kKeepFrom || capacity > kKeepBytes) return Release(data, capacity);
    while (!m.kept.empty() && (m.kept.size() >= kKeepBlocks || m.keptBytes + capacity > kKeepBytes)) {
        Release(m.kept.front().data, m.kept.front().capacity);
        m.keptBytes -= m.kept.front().capacity;
        m.kept.erase(m.kept.begin());
    }
    try {
        m.kept.push_back({data, capacity});
    } catch (const std::bad_alloc&) {
        return Release(data, capacity);
    }
    m.keptBytes += capacity;
    Poison(data, capacity);
}

void ReleaseAllKept(Manager& m) {
    for (const Kept& k : m.kept) Release(k.data, k.capacity);
    m.kept.clear();
    m.keptBytes = 0;
}

}  // namespace

bool KML_Initialize(long, bool, unsigned long threshold) {
    KML_SetMaxBlockSize(uint64_t{threshold} << 20);
#if defined(M_MMAP_THRESHOLD) && defined(M_TRIM_THRESHOLD)
    // A batch run frees an image, an encoded file and their work blocks for
    // every file, and asks for the same sizes again for the next one. By
    // default the allocator maps each large block afresh and unmaps it when
    // freed, so the kernel faults in and zeroes every page again, file after
    // file: most of a simple conversion's time. Blocks up to 32 MiB (the
    // largest the allocator allows) come from its heap instead, and up to
    // 256 MiB of freed heap stays for reuse.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
    return true;
}

void KML_ShutDown() {}

bool KMemCheckVersion(int major, int minor, int, int, bool) {
    // This manager implements the interface version the program asks for.
    return major == 2 && minor == 1;
}

KHANDLE KML_GlobalAlloc(uint32_t flags, size_t size, KSrcLoc loc) {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    const uint64_t n = ++m.allocations;
    if (m.failAt != 0 && n == m.failAt) {
        m.failAt = 0;
        return nullptr;
    }
    if (uint64_t{size} > m.maxBlock) return nullptr;
    // A zero-byte request still yields a distinct block.
    const size_t bytes = size ? size : 1;
    size_t capacity = bytes;
    void* p = TakeKept(m, bytes, &capacity);
    if (p) {
        if (flags & KMEM_ZEROINIT) std::memset(p, 0, bytes);
    } else {
        auto fresh = [&] { return (flags & KMEM_ZEROINIT) ? std::calloc(1, bytes) : std::malloc(bytes); };
        p = fresh();
        // Memory kept for reuse must not be what makes a request fail.
        if (!p && !m.kept.empty()) {
            ReleaseAllKept(m);
            p = fresh();
        }
        if (!p) return nullptr;
        AdviseHugePages(p, bytes);
    }
    auto* b = new (std::nothrow) KMemBlock;
    if (!b) {
        Keep(m, p, capacity);
        return nullptr;
    }
    b->data = p;
    b->size = size;
    b->capacity = capacity;
    b->file = loc.file_name();
    b->line = loc.line();
    m.live.insert(b);
    return b;
}

void* KML_GlobalLock(KHANDLE h, KSrcLoc) {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    if (!IsLive(m, h)) return nullptr;
    ++h->lockCount;
    return h->data;
}

bool KML_GlobalUnlock(KHANDLE h, KSrcLoc) {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    if (!IsLive(m, h) || h->lockCount == 0) return false;
    --h->lockCount;
    return h->lockCount > 0;
}

bool KML_GlobalReAlloc(KHANDLE h, size_t size, uint32_t flags, KSrcLoc) {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    if (!IsLive(m, h) || h->lockCount != 0 || !h->owned) return false;
    const uint64_t n = ++m.allocations;
    if (m.failAt != 0 && n == m.failAt) {
        m.failAt = 0;
        return false;
    }
    if (uint64_t{size} > m.maxBlock) return false;
    // The allocator may move the block and then frees the old one itself.
    Unpoison(h->data, h->capacity);
    void* p = std::realloc(h->data, size ? size : 1);
    if (!p) {
        Poison(static_cast<uint8_t*>(h->data) + h->size, h->capacity - h->size);
        return false;
    }
    h->capacity = size ? size : 1;
    if ((flags & KMEM_ZEROINIT) && size > h->size)
        std::memset(static_cast<uint8_t*>(p) + h->size, 0, size - h->size);
    h->data = p;
    h->size = size;
    return true;
}

KHANDLE KML_GlobalFree(KHANDLE h, KSrcLoc) {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    if (!IsLive(m, h)) return h;
    m.live.erase(h);
    if (h->owned) Keep(m, h->data, h->capacity);
    delete h;
    return nullptr;
}

size_t KML_GlobalSize(KHANDLE h, KSrcLoc) {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    return IsLive(m, h) ? h->size : 0;
}

KHANDLE KML_AttachToManager(KSysBlock block, bool owned, KSrcLoc loc) {
    if (!block.data) return nullptr;
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    auto* b = new (std::nothrow) KMemBlock;
    if (!b) return nullptr;
    b->data = block.data;
    b->size = block.size;
    b->capacity = block.size;
    b->owned = owned;
    b->file = loc.file_name();
    b->line = loc.line();
    m.live.insert(b);
    return b;
}

KSysBlock KML_DetachFromManager(KHANDLE h, KSrcLoc) {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    if (!IsLive(m, h)) return {};
    m.live.erase(h);
    Unpoison(h->data, h->capacity);
    KSysBlock out{h->data, h->size};
    delete h;
    return out;
}

size_t KML_LiveBlockCount() {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    return m.live.size();
}

uint64_t KML_MaxBlockSize() {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    return m.maxBlock;
}

void KML_SetMaxBlockSize(uint64_t bytes) {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    m.maxBlock = bytes ? bytes : KMEM_DEFAULT_MAX_BLOCK;
}

void KML_FailNthAllocation(uint64_t n) {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    m.failAt = n ? m.allocations + n : 0;
}

uint64_t KML_AllocationCount() {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    return m.allocations;
}

std::string KML_LeakReport() {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    std::string out;
    for (const KMemBlock* b : m.live) {
        out += std::to_string(b->size) + " bytes, locked " + std::to_string(b->lockCount) +
               ", from " + b->file + ":" + std::to_string(b->line) + "\n";
    }
    return out;
}

size_t KML_KeptBytes() {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    return m.keptBytes;
}

void KML_ReleaseKept() {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.mutex);
    ReleaseAllKept(m);
}
