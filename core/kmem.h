// Memory manager: movable blocks behind opaque handles.
//
// Every block the image code uses comes from here. A block is touched only
// between KML_GlobalLock and KML_GlobalUnlock; locks nest. Each call records
// the caller's source location (taken automatically through the default
// argument), which the leak report prints.
//
// Allocation fails (null handle) when the request is larger than the maximum
// block size, when the system is out of memory, or when a test has armed the
// fail-the-Nth-allocation hook. Callers turn a null handle into code 102.
#pragma once

#include <cstddef>
#include <cstdint>
#include <source_location>
#include <string>

struct KMemBlock;
using KHANDLE = KMemBlock*;

// Allocation flags (the values of the Windows global-memory functions).
inline constexpr uint32_t KMEM_MOVEABLE = 0x0002;
inline constexpr uint32_t KMEM_ZEROINIT = 0x0040;
inline constexpr uint32_t KMEM_DDESHARE = 0x2000;
inline constexpr uint32_t KMEM_GHND = KMEM_MOVEABLE | KMEM_ZEROINIT;  // 0x0042

// The default maximum block size: 2 GiB.
inline constexpr uint64_t KMEM_DEFAULT_MAX_BLOCK = uint64_t{2} << 30;

using KSrcLoc = std::source_location;

// threshold: the "General"/"MemoryThreshhold" setting, in megabytes. 0 keeps
// the default maximum block size (2 GiB); any other value becomes the maximum.
bool KML_Initialize(long reserved, bool enable, unsigned long threshold);
void KML_ShutDown();
bool KMemCheckVersion(int major, int minor, int release, int build, bool exact);

KHANDLE KML_GlobalAlloc(uint32_t flags, size_t size, KSrcLoc loc = KSrcLoc::current());
void* KML_GlobalLock(KHANDLE h, KSrcLoc loc = KSrcLoc::current());
bool KML_GlobalUnlock(KHANDLE h, KSrcLoc loc = KSrcLoc::current());
// Resizes an unlocked block, keeping its handle and contents (new bytes are
// zero when KMEM_ZEROINIT is given). False when memory is short, the block is
// locked or the handle is not live; the block is then unchanged.
bool KML_GlobalReAlloc(KHANDLE h, size_t size, uint32_t flags, KSrcLoc loc = KSrcLoc::current());
// Returns null on success, the handle itself when it was not a live block.
KHANDLE KML_GlobalFree(KHANDLE h, KSrcLoc loc = KSrcLoc::current());
size_t KML_GlobalSize(KHANDLE h, KSrcLoc loc = KSrcLoc::current());

// A plain block outside the manager (the clipboard's or an import filter's):
// malloc'ed memory and its size.
struct KSysBlock {
    void* data = nullptr;
    size_t size = 0;
};
// owned: the manager takes the memory over and frees it (std::free) with the
// handle. Not owned: the block is only borrowed and must be detached before
// its owner frees it.
KHANDLE KML_AttachToManager(KSysBlock block, bool owned, KSrcLoc loc = KSrcLoc::current());
// Gives the block up; the caller owns the returned memory (free it with std::free).
KSysBlock KML_DetachFromManager(KHANDLE h, KSrcLoc loc = KSrcLoc::current());

// ---- Diagnostics and test hooks ----
size_t KML_LiveBlockCount();
uint64_t KML_MaxBlockSize();
void KML_SetMaxBlockSize(uint64_t bytes);  // 0 restores the default
// Makes the nth allocation from now fail (1 = the next one); 0 disarms.
void KML_FailNthAllocation(uint64_t n);
// Allocations made since start-up (successful or not), for fail-the-Nth loops.
uint64_t KML_AllocationCount();
// One line per live block: size, lock count and where it was allocated.
std::string KML_LeakReport();
// Freed blocks of a megabyte or more are kept (up to 256 MiB) for the next
// request of about their size: the bytes kept, and giving them all back.
size_t KML_KeptBytes();
void KML_ReleaseKept();

// ---- RAII helpers for code inside the layers ----

// Frees its handle when it goes out of scope unless released.
class KOwnedHandle {
  public:
    KOwnedHandle() = default;
    explicit KOwnedHandle(KHANDLE h) : h_(h) {}
    KOwnedHandle(const KOwnedHandle&) = delete;
    KOwnedHandle& operator=(const KOwnedHandle&) = delete;
    KOwnedHandle(KOwnedHandle&& o) noexcept : h_(o.release()) {}
    KOwnedHandle& operator=(KOwnedHandle&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    ~KOwnedHandle() { reset(); }
    KHANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    KHANDLE release() {
        KHANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    void reset(KHANDLE h = nullptr) {
        if (h_) KML_GlobalFree(h_);
        h_ = h;
    }

  private:
    KHANDLE h_ = nullptr;
};

// Holds a lock on a block for its lifetime.
class KLock {
  public:
    KLock() = default;
    explicit KLock(KHANDLE h, KSrcLoc loc = KSrcLoc::current())
        : h_(h), p_(h ? static_cast<uint8_t*>(KML_GlobalLock(h, loc)) : nullptr) {
        if (!p_) h_ = nullptr;
    }
    KLock(const KLock&) = delete;
    KLock& operator=(const KLock&) = delete;
    KLock(KLock&& o) noexcept : h_(o.h_), p_(o.p_) { o.h_ = nullptr, o.p_ = nullptr; }
    KLock& operator=(KLock&& o) noexcept {
        if (this != &o) {
            unlock();
            h_ = o.h_, p_ = o.p_;
            o.h_ = nullptr, o.p_ = nullptr;
        }
        return *this;
    }
    ~KLock() { unlock(); }
    void unlock() {
        if (h_) KML_GlobalUnlock(h_);
        h_ = nullptr;
        p_ = nullptr;
    }
    uint8_t* get() const { return p_; }
    template <class T> T* as() const { return reinterpret_cast<T*>(p_); }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    KHANDLE h_ = nullptr;
    uint8_t* p_ = nullptr;
};

// Allocates a block and keeps it locked; frees it unless released.
// For scratch tables that live for one operation.
class KBuffer {
  public:
    KBuffer() = default;
    bool allocate(size_t bytes, uint32_t flags = KMEM_GHND, KSrcLoc loc = KSrcLoc::current()) {
        owner_.reset(KML_GlobalAlloc(flags, bytes, loc));
        if (!owner_) return false;
        lock_ = KLock(owner_.get(), loc);
        if (!lock_) {
            owner_.reset();
            return false;
        }
        return true;
    }
    uint8_t* data() const { return lock_.get(); }
    template <class T> T* as() const { return lock_.as<T>(); }

  private:
    KOwnedHandle owner_;  // declared first: destroyed after the lock
    KLock lock_;
};
