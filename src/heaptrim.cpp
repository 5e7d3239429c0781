#include "heaptrim.h"

// Any C library header defines __GLIBC__ with glibc; it must come before the test.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void HeapTrim::releaseFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
