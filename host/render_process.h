// SPDX-License-Identifier: Apache-2.0
// What a headless render process sets up for itself: its threads and what it
// does with the memory it frees. For programs that render, not for the
// plug-in, which lives in its host's process.
#pragma once

namespace tweenora::host {

//! The cores this process may run on: a farm task often gets fewer than the
//! machine has. At least one.
int usableCores();

//! Of usable cores, those that other processes leave idle, judged by the load
//! average (load) over the cores online (online); at least one.
int idleCores(int usable, double load, long online);

//! idleCores() for this process, by the last minute's load average.
int idleCores();

//! Keeps the memory this process frees for its own next allocations instead
//! of handing it back to the kernel (see Note [Freed memory] in the source).
//! It sets the whole process's allocator. Returns whether the allocator took
//! it (glibc only).
bool keepFreedMemory();

}  // namespace tweenora::host
