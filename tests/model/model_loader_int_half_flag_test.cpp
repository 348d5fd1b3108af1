// SPDX-License-Identifier: Apache-2.0
// A network that loads but cannot be prepared for the CPU (its cast_half is not
// a bool): reported like a failed load, and loaded afresh on the next open.
#include <string>

#include <gtest/gtest.h>

#include "tests/model/loader_harness.h"
#include "tests/testnets/testnets.h"

namespace tweenora::testing {
namespace {

TEST(ModelLoader, FailureAfterTheLoadIsReportedLikeALoadFailure) {
    LoaderHarness harness(testnets::kIntHalfFlagPluginDir);
    host::HostNode& node = harness.createNode("Tweenora1");
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE("open " + std::to_string(attempt));
        const Output output = harness.openAttempt(node, attempt);
        const std::string head = std::string(kLoadError) + "\n";
        EXPECT_EQ(output.out.substr(0, head.size()), head);
        EXPECT_NE(output.out.find("cast_half"), std::string::npos) << output.out;
        EXPECT_EQ(output.err, "");
        EXPECT_EQ(node.errorMessage(), kLoadError);
        // A half-prepared module is not kept: the next open loads a fresh one.
        EXPECT_FALSE(tweenoraOf(node).model_loaded);
    }
}

}  // namespace
}  // namespace tweenora::testing
