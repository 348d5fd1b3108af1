// SPDX-License-Identifier: Apache-2.0
// A model library whose archive is empty: the load fails on the node, and every
// later open tries again.
#include <string>

#include <gtest/gtest.h>

#include "tests/model/loader_harness.h"
#include "tests/testnets/testnets.h"

namespace tweenora::testing {
namespace {

TEST(ModelLoader, ZeroLengthArchiveFailsOnTheNodeAndIsRetried) {
    LoaderHarness harness(testnets::kEmptyArchivePluginDir);
    host::HostNode& node = harness.createNode("Tweenora1");
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE("open " + std::to_string(attempt));
        const Output output = harness.openAttempt(node, attempt);
        // The message, libtorch's reason, then a line end, on standard output only.
        const std::string head = std::string(kLoadError) + "\n";
        EXPECT_EQ(output.out.substr(0, head.size()), head);
        EXPECT_GT(output.out.size(), head.size() + 1) << "libtorch's reason is missing";
        EXPECT_EQ(output.out.back(), '\n');
        EXPECT_EQ(output.err, "");
        EXPECT_EQ(node.errorMessage(), kLoadError);
        EXPECT_FALSE(tweenoraOf(node).model_loaded);
    }
}

}  // namespace
}  // namespace tweenora::testing
