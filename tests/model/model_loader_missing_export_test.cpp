// SPDX-License-Identifier: Apache-2.0
// A model library without lq_get_model_A: reported on standard error, not on
// the node, and looked up again on every open.
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "tests/model/loader_harness.h"
#include "tests/testnets/testnets.h"

namespace tweenora::testing {
namespace {

TEST(ModelLoader, MissingExportIsReportedOnStandardErrorOnEveryOpen) {
    LoaderHarness harness(testnets::kMissingExportPluginDir);
    host::HostNode& node = harness.createNode("Tweenora1");
    // The reason is the system loader's text, which names the symbol.
    const std::regex expected(
        "\\[Tweenora\\] dlsym failed for lq_get_model_A \\([^\n]*lq_get_model_A[^\n]*\\)\n"
        "\\[Tweenora\\] Failed to resolve one or more model symbols\n");
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE("open " + std::to_string(attempt));
        const Output output = harness.openAttempt(node, attempt);
        EXPECT_TRUE(std::regex_match(output.err, expected)) << output.err;
        EXPECT_EQ(output.out, "");
        EXPECT_FALSE(node.hasError());
        EXPECT_FALSE(tweenoraOf(node).model_loaded);
    }
}

}  // namespace
}  // namespace tweenora::testing
