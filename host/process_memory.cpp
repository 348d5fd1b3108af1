// SPDX-License-Identifier: Apache-2.0
#include "host/process_memory.h"

#include <climits>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tweenora::host {

// Note [Freed memory]
// The network allocates and frees the same large tensors for every frame.
// glibc serves such blocks with mappings of their own and unmaps them when
// they are freed, and it returns the heap's free top to the kernel: the next
// tensor faults its pages in again, each zeroed by the kernel. On a virtual
// machine, where a page fault costs most, that was a quarter of the time of
// a 1920 x 1080 frame, and the time varied twofold from run to run. Blocks up
// to 32 MiB (glibc's largest threshold: a float channel of a 3840 x 2160
// frame still gets its own mapping) now come from the heap, and the heap
// keeps what is freed. The process's footprint stays at its peak, which a
// render reaches on its first frame anyway.
bool keepFreedMemory() {
#if defined(__GLIBC__)
    constexpr int kLargestHeapBlock = 32 << 20;
    return mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock) == 1 &&
           mallopt(M_TRIM_THRESHOLD, INT_MAX) == 1;
#else
    return false;
#endif
}

}  // namespace tweenora::host
