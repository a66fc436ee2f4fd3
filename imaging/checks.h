// The argument checks every image operation starts with, one line per rule.
#pragma once

#include "core/dib.h"

namespace imaging_checks {

// Clears the slot first so that every early return leaves it null.
inline bool SlotGiven(KHANDLE* result) {
    if (!result) return false;
    *result = nullptr;
    return true;
}
inline bool SourceGiven(KHANDLE source) { return source != nullptr; }
// Compressed pixel arrays do not occur in memory; refuse to misread one.
inline bool Uncompressed(const DIBLock& d) { return d->biCompression == 0; }

}  // namespace imaging_checks
