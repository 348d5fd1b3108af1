// SPDX-License-Identifier: Apache-2.0
#include "host/render_process.h"

#include <sched.h>

#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using tweenora::host::idleCores;
using tweenora::host::usableCores;

TEST(RenderProcess, ThreadsAreTheUsableCoresOthersLeaveIdle) {
    // usable, load, cores online -> threads
    const struct {
        int usable;
        double load;
        long online;
        int threads;
    } rows[] = {
        {2, 0.0, 2, 2},
        {2, 0.4, 2, 2},
        {2, 0.9, 2, 1},
        {2, 1.0, 2, 1},
        {2, 2.0, 2, 1},
        {2, 6.0, 2, 1},
        {8, 2.0, 8, 6},
        {4, 8.0, 16, 2},
        {4, 0.4, 16, 4},
        // An unreadable load or core count leaves the usable cores; never fewer than one.
        {3, -1.0, 4, 3},
        {3, 1.0, 0, 3},
        {0, 0.0, 4, 1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(idleCores(row.usable, row.load, row.online), row.threads)
            << row.usable << " usable, load " << row.load << " on " << row.online;
}

TEST(RenderProcess, UsableCoresFollowTheAffinityAFarmTaskGets) {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof(all), &all), 0);
    EXPECT_EQ(usableCores(), CPU_COUNT(&all));
    int first = 0;
    while (!CPU_ISSET(first, &all))
        ++first;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof(one), &one), 0);
    EXPECT_EQ(usableCores(), 1);
    EXPECT_EQ(idleCores(), 1);
    sched_setaffinity(0, sizeof(all), &all);
}

#if defined(__GLIBC__)
// A frame-sized block is served from the heap, not from a mapping of its own,
// and once freed it stays with the process for the next frame. Each test runs
// in a process of its own, so the default allocator is what this one starts with.
TEST(RenderProcess, FrameSizedBlocksComeFromTheHeapAndStayWhenFreed) {
    ASSERT_TRUE(tweenora::host::keepFreedMemory());
    constexpr size_t kBlock = 24 << 20;
    const size_t mappedBefore = mallinfo2().hblkhd;
    void* volatile block = std::malloc(kBlock);
    ASSERT_NE(block, nullptr);
    std::memset(block, 1, kBlock);
    EXPECT_EQ(mallinfo2().hblkhd, mappedBefore);
    std::free(block);
    EXPECT_GE(mallinfo2().fordblks, kBlock);
}
#endif
