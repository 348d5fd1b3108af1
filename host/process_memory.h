// SPDX-License-Identifier: Apache-2.0
// What a headless render process does with the memory it frees.
#pragma once

namespace tweenora::host {

//! Keeps the memory this process frees for its own next allocations instead
//! of handing it back to the kernel (see Note [Freed memory] in the source).
//! For programs that render, not for the plug-in: it sets the whole process's
//! allocator. Returns whether the allocator took it (glibc only).
bool keepFreedMemory();

}  // namespace tweenora::host
