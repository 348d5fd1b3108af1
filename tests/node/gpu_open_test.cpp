// SPDX-License-Identifier: Apache-2.0
// _open on a CUDA device, through the real plug-in and a model library whose
// network carries the half-precision flags and a float64 buffer. Skipped
// where libtorch sees no CUDA device.
#include <torch/cuda.h>
#include <torch/script.h>

#include <gtest/gtest.h>

#include "tests/model/loader_harness.h"

#ifndef TWEENORA_TEST_PLUGIN_DIR
#error "TWEENORA_TEST_PLUGIN_DIR names the plug-in directory of this executable"
#endif

namespace tweenora::testing {
namespace {

struct Placement {
    bool cuda;
    at::ScalarType bufferType;
    bool flags;
};

Placement placementOf(Tweenora& tweenora) {
    const torch::jit::Module synth = tweenora.model.attr("synth").toModule();
    const at::Tensor weight = synth.attr("weight").toTensor();
    return {weight.is_cuda(), weight.scalar_type(),
            synth.attr("cast_half").toBool() && synth.attr("synth_fp32").toBool()};
}

TEST(GpuOpen, LoadsOntoTheDeviceAndLeavesTheFlagsAsSaved) {
    if (!torch::cuda::is_available())
        GTEST_SKIP() << "no CUDA device (libtorch without CUDA, or no GPU)";
    LoaderHarness harness(TWEENORA_TEST_PLUGIN_DIR);
    host::HostNode& node = harness.createNode("TweenoraGpu");
    const Output output = captureOutput([&] { harness.open(node); });
    Tweenora& tweenora = tweenoraOf(node);
    ASSERT_TRUE(tweenora.model_loaded) << output.err << output.out;
    ASSERT_TRUE(tweenora.use_gpu) << "the probe found the device unusable";

    // On a GPU nothing is switched off or converted; the CPU's reload undoes
    // both, and switching back loads a fresh module onto the device again.
    struct Row {
        const char* useGpu;
        Placement expected;
    };
    const Row rows[] = {{nullptr, {true, at::kDouble, true}},
                        {"false", {false, at::kFloat, false}},
                        {"true", {true, at::kDouble, true}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.useGpu ? std::string("use_gpu ") + row.useGpu : "first open");
        if (row.useGpu) {
            node.setKnob("use_gpu", row.useGpu);
            harness.reopen(node);
        }
        ASSERT_TRUE(tweenora.model_loaded);
        const Placement placement = placementOf(tweenora);
        EXPECT_EQ(placement.cuda, row.expected.cuda);
        EXPECT_EQ(placement.bufferType, row.expected.bufferType);
        EXPECT_EQ(placement.flags, row.expected.flags);
    }
}

}  // namespace
}  // namespace tweenora::testing
