// Internal: returning freed memory to the system between the phases of a
// generator.
#pragma once

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vxdelta {

// glibc keeps the pages of freed heap memory (below the top of the heap)
// resident for later allocations; after a phase that freed much of what it
// held, handing them back keeps the next phase's peak to what it uses.
inline void ReleaseFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace vxdelta
