// A hint for result blocks of photo size.
//
// A fresh block of many megabytes costs one page fault per 4 KiB the first
// time it is written: for a 4000 x 3000 24-bit result that is 9000 faults,
// as long as a plain copy of the pixels. Asking for 2 MiB pages turns them
// into 18. It is only a hint: the kernel may ignore it, and nothing else
// about the block changes.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sys/mman.h>

namespace imaging_pages {

// The whole 2 MiB pages inside [p, p + bytes), for blocks of 16 MiB or more.
inline void AdviseHugePages(void* p, size_t bytes) {
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

} // namespace imaging_pages
