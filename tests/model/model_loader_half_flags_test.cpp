// SPDX-License-Identifier: Apache-2.0
// On the CPU the loader switches a network's half-precision flags off wherever
// they are in its module tree and runs it in float32; without flags it leaves
// the network alone.
#include <string>

#include <torch/script.h>

#include <gtest/gtest.h>

#include "tests/model/loader_harness.h"
#include "tests/testnets/testnets.h"

#ifndef TWEENORA_TEST_PLUGIN_DIR
#error "TWEENORA_TEST_PLUGIN_DIR names the plug-in directory of this executable"
#endif

namespace tweenora::testing {
namespace {

constexpr char kCpuLine[] =
    ": CPU device - running the model in FP32 (half-casting flags off) to avoid the slow "
    "FP16-on-CPU path.\n";
// This executable's network: half_flags carries the flags (true as saved), no_half_flags does not.
const bool kNetworkHasFlags =
    std::string(TWEENORA_TEST_PLUGIN_DIR) == testnets::kHalfFlagsPluginDir;

TEST(CpuHalfCasting, FlagsAreSwitchedOffAndAnnouncedOnlyWithDebug) {
    LoaderHarness harness(TWEENORA_TEST_PLUGIN_DIR);
    for (const bool debug : {false, true}) {
        SCOPED_TRACE(debug ? "debug on" : "debug off");
        const std::string name = debug ? "TweenoraDebug" : "TweenoraQuiet";
        host::HostNode& node = harness.createNode(name);
        if (debug)
            node.setKnob("debug", "true");
        const Output output = captureOutput([&] { harness.open(node); });
        Tweenora& tweenora = tweenoraOf(node);
        ASSERT_TRUE(tweenora.model_loaded) << output.err << output.out;
        EXPECT_EQ(output.err, "");

        const torch::jit::Module synth = tweenora.model.attr("synth").toModule();
        EXPECT_FALSE(tweenora.model.hasattr("cast_half"));
        EXPECT_EQ(synth.hasattr("cast_half"), kNetworkHasFlags);
        EXPECT_EQ(synth.hasattr("synth_fp32"), kNetworkHasFlags);
        if (kNetworkHasFlags) {
            EXPECT_FALSE(synth.attr("cast_half").toBool());
            EXPECT_FALSE(synth.attr("synth_fp32").toBool());
        }
        // The float64 buffer shows whether the module was converted to float32.
        EXPECT_EQ(synth.attr("weight").toTensor().scalar_type(),
                  kNetworkHasFlags ? at::kFloat : at::kDouble);

        const std::string line = name + kCpuLine;
        const bool announced = output.out.find(line) != std::string::npos;
        EXPECT_EQ(announced, debug && kNetworkHasFlags) << output.out;
        if (!debug) {
            EXPECT_EQ(output.out, "");
        }

        // With cast_half still on, the network would round its output through float16.
        const at::Tensor img0 = at::full({1, 3, 32, 32}, 0.1f + 1e-5f);
        EXPECT_TRUE(runForward(tweenora.model, img0, img0, 0.5).equal(img0));
    }
}

}  // namespace
}  // namespace tweenora::testing
