#include "heaptrim.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void HeapTrim::releaseFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
