// SPDX-License-Identifier: Apache-2.0
// The built-in network's archive, loaded for the tests as the node runs it.
#pragma once

#include <torch/script.h>

namespace tweenora::models::test {

//! A fresh module from the archive the build generated, with libtorch's graph
//! optimisation switched off for the whole process, as the node's _open leaves
//! it. With it on, libtorch 2.x's profiling executor hands the network's
//! graphs to its CPU fuser, which compiles them with LLVM for every new frame
//! size: minutes for a call that takes a second.
torch::jit::Module loadBuiltInNetwork();

}  // namespace tweenora::models::test
