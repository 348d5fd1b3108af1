// SPDX-License-Identifier: Apache-2.0
// Opening nodes with the real plug-in beside an identity network: the library
// loads once per process, each node loads its own module, and the knobs that
// change the device kind reload it.
#include <string>
#include <thread>
#include <vector>

#include <torch/script.h>

#include <gtest/gtest.h>

#include <DDImage/plugins.h>

#include "tests/model/loader_harness.h"
#include "tests/testnets/testnets.h"

namespace tweenora::testing {
namespace {

const std::string kIdentityModels =
    std::string(testnets::kIdentityPluginDir) + "/TweenoraModels.so";
const std::string kBlendModels = std::string(testnets::kBlendPluginDir) + "/TweenoraModels.so";

const void* moduleIdentity(const torch::jit::Module& module) {
    return module._ivalue().get();
}

TEST(ModelLoader, SecondNodeKeepsTheLibraryAndLoadsItsOwnModule) {
    LoaderHarness harness(testnets::kIdentityPluginDir);
    host::HostNode& first = harness.createNode("Tweenora1");
    const Output firstOpen = captureOutput([&] { harness.open(first); });
    ASSERT_TRUE(tweenoraOf(first).model_loaded) << firstOpen.err << firstOpen.out;
    EXPECT_EQ(firstOpen.err, "");
    EXPECT_TRUE(isLibraryLoaded(kIdentityModels));

    // From now on the plug-in is found beside a blend network instead. Reloading
    // would pick that one up; the loaded library must win.
    const std::vector<const char*> previousPath = DD::Image::getPluginPath();
    const std::vector<std::string> restore(previousPath.begin(), previousPath.end());
    DD::Image::plugin_addpath(testnets::kBlendPluginDir);
    ASSERT_EQ(std::string(DD::Image::plugin_find("Tweenora.so")),
              std::string(testnets::kBlendPluginDir) + "/Tweenora.so");

    host::HostNode& second = harness.createNode("Tweenora2");
    const Output secondOpen = captureOutput([&] { harness.open(second); });
    for (auto dir = restore.rbegin(); dir != restore.rend(); ++dir)
        DD::Image::plugin_addpath(dir->c_str());

    ASSERT_TRUE(tweenoraOf(second).model_loaded) << secondOpen.err << secondOpen.out;
    EXPECT_EQ(secondOpen.err, "");
    EXPECT_FALSE(isLibraryLoaded(kBlendModels));
    EXPECT_NE(moduleIdentity(tweenoraOf(second).model), moduleIdentity(tweenoraOf(first).model));
    const at::Tensor zeros = at::zeros({1, 3, 32, 32});
    const at::Tensor ones = at::ones({1, 3, 32, 32});
    EXPECT_TRUE(runForward(tweenoraOf(second).model, zeros, ones, 0.5).equal(zeros))
        << "the second node's network is not the identity network";
}

TEST(ModelLoader, TwoNodesOpeningAtOnceBothLoad) {
    LoaderHarness harness(testnets::kIdentityPluginDir);
    host::HostNode& first = harness.createNode("Tweenora1");
    host::HostNode& second = harness.createNode("Tweenora2");
    const Output output = captureOutput([&] {
        std::thread other([&] { harness.open(second); });
        harness.open(first);
        other.join();
    });
    EXPECT_EQ(output.err, "");
    EXPECT_TRUE(tweenoraOf(first).model_loaded);
    EXPECT_TRUE(tweenoraOf(second).model_loaded);
    EXPECT_NE(moduleIdentity(tweenoraOf(first).model), moduleIdentity(tweenoraOf(second).model));
}

TEST(ModelLoader, DeviceKindKnobsReloadOnTheNextOpen) {
    LoaderHarness harness(testnets::kIdentityPluginDir);
    host::HostNode& node = harness.createNode("Tweenora1");
    harness.open(node);
    ASSERT_TRUE(tweenoraOf(node).model_loaded);

    struct Row {
        const char* knob;  // nullptr: reopen without a change
        const char* value;
        bool reloads;
    };
    const Row rows[] = {
        {nullptr, nullptr, false},
        {"use_gpu", "false", true},
        {"use_gpu", "true", true},
        {nullptr, nullptr, false},
        {"mixed_precision", "true", true},
        {"cuda_deviceid", "1", false},  // only moves the loaded module
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.knob ? std::string(row.knob) + " " + row.value : "no change");
        // Held, so that a new module cannot take over the old one's address.
        const torch::jit::Module before = tweenoraOf(node).model;
        if (row.knob)
            node.setKnob(row.knob, row.value);
        harness.reopen(node);
        ASSERT_TRUE(tweenoraOf(node).model_loaded);
        EXPECT_EQ(moduleIdentity(tweenoraOf(node).model) != moduleIdentity(before), row.reloads);
    }
}

}  // namespace
}  // namespace tweenora::testing
