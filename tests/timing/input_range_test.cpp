// SPDX-License-Identifier: Apache-2.0
// Input and output ranges through the headless host: what the node publishes and logs.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <DDImage/Box.h>

#include "tests/timing/timing_test_support.h"

namespace tweenora::testing {
namespace {

struct Published {
    int first, last;
};

Published published(RetimeGraph& graph, double frame = 1.0) {
    const Tweenora& op = graph.at(frame);
    return {op.first_frame(), op.last_frame()};
}

TEST(OutputRange, SpeedModeMatchesTheRangeTable) {
    const struct {
        int start, end;
        const char* speed;
        int first, last;
    } rows[] = {
        {1001, 1100, "0.5", 1001, 1198},
        {1, 10, "1", 1, 10},
        {1, 10, "2", 1, 5},
        {1, 10, "3", 1, 4},
        {1, 10, "1.5", 1, 6},
        {1, 10, "2.5", 1, 4},
        {1, 10, "0.5", 1, 18},
        {1, 100, "0.25", 1, 396},
        {1, 100, "0.3", 1, 330},
        {1, 10, "0", 1, 1},
        {1, 10, "-1", 1, 1},
        {1, 10, "-0.25", 1, 1},
        {1, 1, "0.5", 1, 0},  // one input frame: last before first, published as is
        {10, 1, "1", 10, 1},  // start > end used unchanged
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.start << "-" << row.end << " @ " << row.speed);
        RetimeGraph graph(1, 5);
        graph.speedMode(row.start, row.end, row.speed);
        const Published range = published(graph);
        EXPECT_EQ(range.first, row.first);
        EXPECT_EQ(range.last, row.last);
    }
}

TEST(OutputRange, SpeedModeLogsBothRanges) {
    RetimeGraph graph(1001, 1100);
    graph.speedMode(1001, 1100, "0.5");
    graph.node->setKnob("debug", "true");
    LogCapture log;
    graph.at(1001);
    EXPECT_NE(log.text().find("debug: Input range: 1001 to 1100 (100 frames)\n"),
              std::string::npos);
    EXPECT_NE(log.text().find("debug: Speed: 0.5, Output range: 1001 to 1198 (198 frames)\n"),
              std::string::npos);
}

TEST(OutputRange, DebugOffSilencesTheTrace) {
    RetimeGraph graph(1001, 1100);
    graph.speedMode(1001, 1100, "0.5");
    LogCapture log;  // starts at debug level; the node's debug knob is off
    graph.at(1001);
    EXPECT_NE(log.text().find("debug: Tweenora::_validate called\n"), std::string::npos);
    EXPECT_EQ(log.text().find("Input range:"), std::string::npos) << log.text();
}

TEST(OutputRange, SpeedModeClampsAnOverflowingLastFrame) {
    RetimeGraph graph(1, 100);
    graph.speedMode(1, 100, "1e-9");
    const Published range = published(graph);
    EXPECT_EQ(range.first, 1);
    EXPECT_EQ(range.last, 2147483647);
}

TEST(OutputRange, FrameModeFollowsTheKeyframes) {
    const struct {
        std::vector<double> keys;
        int first, last;
        const char* message;
    } rows[] = {
        {{}, 1, 10, "debug: output_frame knob is not animated (no keyframes)\n"},
        {{12}, 12, 12, "debug: Frame mode: Using keyframe range 12 to 12\n"},
        {{5, 40, 17}, 5, 40, "debug: First keyframe at frame 5, last keyframe at frame 40\n"},
        // -1 marks "no key frames", so a key there falls back to the input range.
        {{-1, 20}, 1, 10, "debug: Frame mode: No keyframes found, using input range 1 to 10\n"},
        {{-5, -1, 20}, -5, 20, "debug: output_frame knob has 3 keyframes\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.keys.size() << " keys, first " << row.first);
        RetimeGraph graph(1, 10);
        graph.node->setKnob("mode", "1");
        graph.node->setKnob("debug", "true");
        for (double key : row.keys)
            graph.node->setKey("output_frame", key, 30.0);
        LogCapture log;
        const Published range = published(graph, 2.0);
        EXPECT_EQ(range.first, row.first);
        EXPECT_EQ(range.last, row.last);
        EXPECT_NE(log.text().find(row.message), std::string::npos) << log.text();
    }
}

TEST(InputRange, FillsFromTheInputOnceAndKeepsIt) {
    RetimeGraph graph(3, 40);
    graph.node->setKnob("speed", "1");
    EXPECT_EQ(published(graph, 3.0).last, 40);
    EXPECT_EQ(graph.node->knob("frame_range_start")->valueText(), "3");
    EXPECT_EQ(graph.node->knob("frame_range_end")->valueText(), "40");

    // A different clip later does not refresh a filled range.
    host::HostNode& other = graph.script.createSource(smallClip(100, 120), "Read2");
    graph.script.connect(*graph.node, 0, other);
    const Published range = published(graph, 100.0);
    EXPECT_EQ(range.first, 3);
    EXPECT_EQ(range.last, 40);
    EXPECT_EQ(graph.node->knob("frame_range_end")->valueText(), "40");
}

TEST(InputRange, TypedBoundsSurviveConnectingAClip) {
    RetimeGraph graph(1, 50);
    graph.node->setKnob("frame_range_start", "20");
    graph.node->setKnob("speed", "1");
    // Only the unset end is filled from the clip.
    const Published range = published(graph, 20.0);
    EXPECT_EQ(range.first, 20);
    EXPECT_EQ(range.last, 50);
    EXPECT_EQ(graph.node->knob("frame_range_start")->valueText(), "20");
}

TEST(InputRange, StaysUnsetWithoutAnInput) {
    host::Script script;
    host::HostNode& node = script.createNode("Tweenora");
    EXPECT_TRUE(script.validate(node, 1.0));
    EXPECT_EQ(node.knob("frame_range_start")->valueText(), "-999999");
    EXPECT_EQ(node.knob("frame_range_end")->valueText(), "-999999");
    EXPECT_EQ(node.opAs<Tweenora>()->first_frame(), kUnsetFrame);
}

TEST(Validate, OutputBoxIsTheUnionOfBothSourceFrames) {
    auto frames = std::make_shared<host::MemoryFrames>();
    frames->setFrame(1, smallFrame(DD::Image::Box(0, 0, 4, 4)));
    frames->setFrame(2, smallFrame(DD::Image::Box(2, 1, 7, 3)));
    RetimeGraph graph(std::make_shared<host::Clip>(frames));
    const Tweenora& op = graph.at(1.0);  // position 1.25: frames 1 and 2
    EXPECT_EQ(op.info().box(), DD::Image::Box(0, 0, 7, 4));
}

}  // namespace
}  // namespace tweenora::testing
