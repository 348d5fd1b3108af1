// SPDX-License-Identifier: Apache-2.0
// A plug-in directory without a model library: reported on standard error, not
// on the node, and tried again on every open.
#include <string>

#include <gtest/gtest.h>

#include "tests/model/loader_harness.h"
#include "tests/testnets/testnets.h"

namespace tweenora::testing {
namespace {

TEST(ModelLoader, MissingLibraryIsReportedOnStandardErrorOnEveryOpen) {
    LoaderHarness harness(testnets::kNoLibraryPluginDir);
    host::HostNode& node = harness.createNode("Tweenora1");
    const std::string directory = testnets::kNoLibraryPluginDir;
    const std::string head =
        "[Tweenora] Failed to load TweenoraModels.so\n"
        "  plugin_path: " +
        directory +
        "/Tweenora.so\n"
        "  models_path: " +
        directory +
        "/TweenoraModels.so\n"
        "  dlerror: ";
    const std::string tail =
        "[Tweenora] Failed to load TweenoraModels.so\n"
        "[Tweenora] Failed to resolve one or more model symbols\n";
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE("open " + std::to_string(attempt));
        const Output output = harness.openAttempt(node, attempt);
        ASSERT_GT(output.err.size(), head.size() + tail.size()) << output.err;
        EXPECT_EQ(output.err.substr(0, head.size()), head);
        EXPECT_EQ(output.err.substr(output.err.size() - tail.size()), tail);
        EXPECT_NE(output.err.find("No such file"), std::string::npos) << output.err;
        EXPECT_EQ(output.out, "");
        EXPECT_FALSE(node.hasError());
        EXPECT_FALSE(tweenoraOf(node).model_loaded);
    }
}

}  // namespace
}  // namespace tweenora::testing
