// SPDX-License-Identifier: Apache-2.0
#include "host/process_memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>

// A frame-sized block is served from the heap, not from a mapping of its own,
// and once freed it stays with the process for the next frame. Each test runs
// in a process of its own, so the default allocator is what this one starts with.
TEST(ProcessMemory, FrameSizedBlocksComeFromTheHeapAndStayWhenFreed) {
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
