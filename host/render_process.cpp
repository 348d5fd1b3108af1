// SPDX-License-Identifier: Apache-2.0
#include "host/render_process.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <fstream>
#include <thread>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tweenora::host {

int usableCores() {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (::sched_getaffinity(0, sizeof(cores), &cores) == 0 && CPU_COUNT(&cores) > 0)
        return CPU_COUNT(&cores);
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

// libtorch's threads wait for each other at the end of every operator,
// spinning: one whose core another process holds stalls the rest. On a
// 2-core machine busy with other work, 2 threads took 2 to 4 times as long
// as 1 per frame, and 4 times the CPU time.
int idleCores(int usable, double load, long online) {
    usable = std::max(usable, 1);
    if (online < 1 || !(load >= 0.0))
        return usable;
    const double busy = std::clamp(load / double(online), 0.0, 1.0);
    return std::max(1, int(std::lround(double(usable) * (1.0 - busy))));
}

int idleCores() {
    double load = -1.0;
    std::ifstream loadavg("/proc/loadavg");
    loadavg >> load;
    return idleCores(usableCores(), load, ::sysconf(_SC_NPROCESSORS_ONLN));
}

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
