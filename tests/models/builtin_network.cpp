// SPDX-License-Identifier: Apache-2.0
// The built-in network's archive, loaded for the tests as the node runs it.
#include "tests/models/builtin_network.h"

#include <torch/csrc/jit/runtime/graph_executor.h>

namespace tweenora::models::test {

torch::jit::Module loadBuiltInNetwork() {
    torch::jit::setGraphExecutorOptimize(false);
    return torch::jit::load(TWEENORA_NETWORK_ARCHIVE);
}

}  // namespace tweenora::models::test
