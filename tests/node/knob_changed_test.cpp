// SPDX-License-Identifier: Apache-2.0
// Tests of the panel's reactions to knob changes and of the image-patch count.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "host/Script.h"
#include "model/gpu_queries.h"
#include "node/Tweenora.h"
#include "tests/node/node_test_support.h"

namespace tweenora {
namespace {

using testing::clipOfSize;
using testing::FakeGpu;

//! A Tweenora node reading a clip of the given size, validated once.
struct Graph {
    explicit Graph(int width = 1920, int height = 1080) {
        node = &script.createNode("Tweenora");
        script.connect(*node, 0, script.createSource(clipOfSize(width, height)));
        script.validate(*node, 1);
    }
    Tweenora* op() { return node->opAs<Tweenora>(); }
    std::string patches() const { return node->knob("image_patches")->text(); }

    host::Script script;
    host::HostNode* node = nullptr;
};

TEST(KnobChanged, PanelOpenShowsTheRetimeModesKnob) {
    const FakeGpu gpu = FakeGpu::withDevices(1);
    model::ScopedGpuQueries installed(gpu);
    Graph graph;
    host::HostNode& node = *graph.node;
    node.setKnob("mode", "Frame");
    node.knob("speed")->visible(true);
    node.knob("output_frame")->visible(false);

    node.openPanel();
    EXPECT_FALSE(node.knob("speed")->isVisible());
    EXPECT_TRUE(node.knob("output_frame")->isVisible());

    const int invalidations = node.invalidations();
    node.setKnob("mode", "Output Speed");
    EXPECT_TRUE(node.knob("speed")->isVisible());
    EXPECT_FALSE(node.knob("output_frame")->isVisible());
    EXPECT_GT(node.invalidations(), invalidations);
}

TEST(KnobChanged, UseGpuEnablesTheGpuOnlyKnobsAndReloadsTheNetwork) {
    const FakeGpu gpu = FakeGpu::withDevices(1);
    model::ScopedGpuQueries installed(gpu);
    Graph graph;
    host::HostNode& node = *graph.node;
    node.setKnob("use_gpu", "false");
    node.openPanel();
    EXPECT_FALSE(node.knob("mixed_precision")->isEnabled());
    EXPECT_FALSE(node.knob("gpu_render_override")->isEnabled());

    graph.op()->model_loaded = true;
    const int invalidations = node.invalidations();
    node.setKnob("use_gpu", "true");
    EXPECT_TRUE(node.knob("mixed_precision")->isEnabled());
    EXPECT_TRUE(node.knob("gpu_render_override")->isEnabled());
    EXPECT_FALSE(graph.op()->model_loaded);
    EXPECT_GT(node.invalidations(), invalidations);

    graph.op()->model_loaded = true;
    node.setKnob("use_gpu", "false");
    EXPECT_FALSE(node.knob("mixed_precision")->isEnabled());
    EXPECT_FALSE(graph.op()->model_loaded);
}

TEST(KnobChanged, MixedPrecisionReloadsTheNetwork) {
    const FakeGpu gpu = FakeGpu::withDevices(1);
    model::ScopedGpuQueries installed(gpu);
    Graph graph;
    graph.op()->model_loaded = true;
    const int invalidations = graph.node->invalidations();
    graph.node->setKnob("mixed_precision", "true");
    EXPECT_FALSE(graph.op()->model_loaded);
    EXPECT_GT(graph.node->invalidations(), invalidations);
}

TEST(KnobChanged, InvalidatesOnlyForKnobsThatChangeThePicture) {
    const FakeGpu gpu = FakeGpu::withDevices(1);
    model::ScopedGpuQueries installed(gpu);
    Graph graph;
    host::HostNode& node = *graph.node;
    struct Row {
        const char* knob;
        const char* value;
        bool invalidates;
    };
    const Row rows[] = {
        {"speed", "0.25", true},
        {"frame_range_start", "2", true},
        {"frame_range_end", "9", true},
        {"max_size", "1000", true},
        {"overlap", "100", true},
        {"padding", "10", false},
        {"steps", "3", false},
        {"threshold", "0.01", false},
        {"input_channels", "rgb", false},
        {"gpu_render_override", "false", false},
        {"use_bfloat16", "false", false},
        {"debug", "true", false},
        {"cuda_deviceid", "0", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.knob);
        graph.op()->model_loaded = true;
        const int before = node.invalidations();
        node.setKnob(row.knob, row.value);
        EXPECT_EQ(node.invalidations() > before, row.invalidates);
        EXPECT_TRUE(graph.op()->model_loaded);
    }
}

TEST(KnobChanged, AlwaysReturnsOne) {
    const FakeGpu gpu = FakeGpu::cpuOnly();
    model::ScopedGpuQueries installed(gpu);
    Graph graph;
    for (const char* name : {"mode", "padding", "gpuName", "reset_input_range"})
        EXPECT_EQ(graph.op()->knob_changed(graph.node->knob(name)), 1) << name;
    EXPECT_EQ(graph.op()->knob_changed(&DD::Image::Knob::showPanel), 1);
}

TEST(ImagePatches, CountsPatchesOfTheInputBox) {
    const FakeGpu gpu = FakeGpu::cpuOnly();
    model::ScopedGpuQueries installed(gpu);
    struct Row {
        int width, height;
        const char* maxSize;
        const char* overlap;
        const char* expected;
    };
    const Row rows[] = {
        {1920, 1080, nullptr, nullptr, "Image patches: 1 (1 x 1)"},
        {7680, 4320, nullptr, nullptr, "Image patches: 2 (2 x 1)"},
        {1231, 700, "1024", "512", "Image patches: 3 (3 x 1)"},
        {1920, 1080, "0", nullptr, "Image patches: 1 (1 x 1)"},
        // 1000 / (600 - 240) in both directions.
        {1000, 1000, "600", "512", "Image patches: 9 (3 x 3)"},
        // Without overlap the panel still counts patches (the renderer would not split).
        {7680, 4320, "4000", "0", "Image patches: 4 (2 x 2)"},
        {1920, 1080, "1000", "-50", "Image patches: 4 (2 x 2)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height));
        Graph graph(row.width, row.height);
        if (row.maxSize)
            graph.node->setKnob("max_size", row.maxSize);
        if (row.overlap)
            graph.node->setKnob("overlap", row.overlap);
        graph.node->openPanel();
        EXPECT_EQ(graph.patches(), row.expected);
    }
}

TEST(ImagePatches, FollowMaxSizeAndOverlapButNotPadding) {
    const FakeGpu gpu = FakeGpu::cpuOnly();
    model::ScopedGpuQueries installed(gpu);
    Graph graph(1231, 700);
    EXPECT_EQ(graph.patches(), "Image patches: -");
    graph.node->setKnob("max_size", "1024");
    EXPECT_EQ(graph.patches(), "Image patches: 3 (3 x 1)");
    graph.node->setKnob("overlap", "0");
    EXPECT_EQ(graph.patches(), "Image patches: 2 (2 x 1)");
    graph.node->setKnob("padding", "500");
    EXPECT_EQ(graph.patches(), "Image patches: 2 (2 x 1)");
}

TEST(ImagePatches, NoInputLeavesTheTextAlone) {
    const FakeGpu gpu = FakeGpu::cpuOnly();
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    host::HostNode& node = script.createNode("Tweenora");
    node.setKnob("max_size", "100");
    node.openPanel();
    EXPECT_EQ(node.knob("image_patches")->text(), "Image patches: -");
}

}  // namespace
}  // namespace tweenora
