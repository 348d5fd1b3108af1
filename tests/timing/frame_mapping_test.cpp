// SPDX-License-Identifier: Apache-2.0
// Frame mapping through the headless host: positions, input copies, requests and the hash.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <DDImage/Box.h>
#include <DDImage/Channel.h>
#include <DDImage/ChannelSet.h>
#include <DDImage/OutputContext.h>
#include <DDImage/RequestOutput.h>

#include "tests/timing/timing_test_support.h"

namespace tweenora::testing {
namespace {

struct Expected {
    double frame;
    float position;
    int frame0, frame1;
    float timestep;
};

// Checks the node's own mapping and that the host evaluated both input copies there.
void expectMapping(RetimeGraph& graph, const Expected& row) {
    SCOPED_TRACE(::testing::Message() << "output frame " << row.frame);
    const Tweenora& op = graph.at(row.frame);
    const FrameInfo info = op.calculateFrameInfo(static_cast<float>(row.frame));
    EXPECT_EQ(info.requestedFramePosition, row.position);
    EXPECT_EQ(info.frame0, row.frame0);
    EXPECT_EQ(info.frame1, row.frame1);
    EXPECT_EQ(info.timestep, row.timestep);
    EXPECT_EQ(graph.inputFrame(0), row.frame0);
    EXPECT_EQ(graph.inputFrame(1), row.frame1);
}

TEST(FrameMapping, SpeedModeMatchesTheMappingTable) {
    RetimeGraph graph(1, 100);
    graph.speedMode(1, 100, "0.5");
    const Expected rows[] = {
        {1, 1.25f, 1, 2, 0.25f},         {2, 1.75f, 1, 2, 0.75f},
        {198, 99.75f, 99, 100, 0.75f},   {199, 100.25f, 100, 101, 0.25f},
        {250, 100.25f, 100, 101, 0.25f},                              // clamped to 199
        {0, 0.75f, 0, 1, 0.75f},         {-100, 0.75f, 0, 1, 0.75f},  // clamped to 0
    };
    for (const Expected& row : rows)
        expectMapping(graph, row);
}

TEST(FrameMapping, SpeedModeAsksTheHostForFramesOutsideTheInput) {
    RetimeGraph graph(1, 10);
    graph.speedMode(1, 10, "2");
    const Expected rows[] = {{1, 1.0f, 1, 1, 0.0f},
                             {2, 3.0f, 3, 3, 0.0f},
                             {5, 9.0f, 9, 9, 0.0f},
                             {6, 11.0f, 11, 11, 0.0f},
                             {0, -1.0f, -1, -1, 0.0f}};
    for (const Expected& row : rows)
        expectMapping(graph, row);
    const std::vector<int> asked = graph.clip->requestedFrames();
    EXPECT_NE(std::find(asked.begin(), asked.end(), 11), asked.end());
    EXPECT_NE(std::find(asked.begin(), asked.end(), -1), asked.end());
}

TEST(FrameMapping, OtherSpeeds) {
    const struct {
        const char* speed;
        Expected row;
    } rows[] = {
        {"1.5", {1, 1.25f, 1, 2, 0.25f}}, {"1.5", {2, 2.75f, 2, 3, 0.75f}},
        {"1.5", {6, 8.75f, 8, 9, 0.75f}}, {"0", {1, 1.0f, 1, 1, 0.0f}},
        {"0", {57, 1.0f, 1, 1, 0.0f}},    {"-1", {1, 0.5f, 0, 1, 0.5f}},
        {"-1", {3, -1.5f, -2, -1, 0.5f}},  // negative positions floor downwards
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.speed);
        RetimeGraph graph(1, 10);
        graph.speedMode(1, 10, row.speed);
        expectMapping(graph, row.row);
    }
}

TEST(FrameMapping, FrameModeUsesTheCurveAtTheFrame) {
    RetimeGraph graph(1, 30);
    graph.node->setKnob("mode", "1");
    graph.node->setKey("output_frame", 1, 17.0);
    graph.node->setKey("output_frame", 2, 17.4);
    graph.node->setKey("output_frame", 3, -2.5);
    graph.node->setKey("output_frame", 5, 20.0);
    const Expected rows[] = {
        {1, 17.0f, 17, 17, 0.0f},
        {2, 17.4f, 17, 18, 17.4f - 17.0f},  // the float32 difference, a little under 0.4
        {3, -2.5f, -3, -2, 0.5f},
        {4, 8.75f, 8, 9, 0.75f},  // halfway along the curve from -2.5 to 20
    };
    for (const Expected& row : rows)
        expectMapping(graph, row);
}

TEST(FrameMapping, LogsTheTableRow) {
    RetimeGraph graph(1, 100);
    graph.speedMode(1, 100, "0.5");
    graph.node->setKnob("debug", "true");
    LogCapture log;
    graph.at(1);
    const std::string text = log.text();
    EXPECT_NE(text.find("debug: Tweenora::calculateFrameInfo called with currentFrame: 1\n"),
              std::string::npos);
    EXPECT_NE(
        text.find("debug: | frame0     | frame1     | timestep   | requestedFramePosition |\n"),
        std::string::npos);
    EXPECT_NE(text.find("debug: | 1          | 2          | 0.25       | 1.25       |\n"),
              std::string::npos);
    EXPECT_NE(text.find("debug: Tweenora::inputContext frame1: 2\n"), std::string::npos);
}

TEST(InputContext, PlacesEachCopyOfInputZero) {
    RetimeGraph graph(1, 100);
    graph.speedMode(1, 100, "0.5");
    const Tweenora& op = graph.at(1);  // position 1.25
    const struct {
        int input, offset;
        double frame;
    } rows[] = {{0, 0, 1.0}, {0, 1, 2.0}, {0, 2, 1.0}, {1, 0, 1.0}, {3, 1, 1.0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "input " << row.input << " copy " << row.offset);
        DD::Image::OutputContext scratch(-50.0, 2);
        const DD::Image::OutputContext& context = op.inputContext(row.input, row.offset, scratch);
        EXPECT_EQ(&context, &scratch);
        EXPECT_EQ(context.frame(), row.frame);
        EXPECT_EQ(context.view(), op.outputContext().view());
    }
    EXPECT_EQ(op.split_input(0), 2);
    EXPECT_EQ(op.split_input(3), 1);
}

TEST(GetRequests, AsksBothCopiesForTheirWholeBox) {
    auto frames = std::make_shared<host::MemoryFrames>();
    frames->setFrame(1, smallFrame(DD::Image::Box(0, 0, 4, 4)));
    frames->setFrame(2, smallFrame(DD::Image::Box(2, 1, 7, 3)));
    RetimeGraph graph(std::make_shared<host::Clip>(frames));
    graph.node->setKnob("input_channels", "rgba");
    const Tweenora& op = graph.at(1);

    DD::Image::RequestOutput requests;
    op.getRequests(DD::Image::Box(1, 1, 2, 2), DD::Image::Mask_RGB, 3, requests);
    ASSERT_EQ(requests.size(), 2u);
    const DD::Image::Box boxes[] = {DD::Image::Box(0, 0, 4, 4), DD::Image::Box(2, 1, 7, 3)};
    for (int copy = 0; copy < 2; ++copy) {
        SCOPED_TRACE(copy);
        const DD::Image::RequestData& request = requests[copy];
        EXPECT_EQ(request.getOp(), op.input(copy));
        EXPECT_EQ(request.getBox(), boxes[copy]);
        EXPECT_EQ(request.getChannels(), DD::Image::Mask_RGBA);
        EXPECT_EQ(request.getCount(), 3);
    }
}

TEST(Hash, FollowsTheMappingAndThePictureSettings) {
    RetimeGraph graph(1, 100);
    graph.speedMode(1, 100, "0.5");
    // The node's own contribution, apart from the knob values the host hashes anyway.
    const auto appended = [&](double frame) {
        DD::Image::Hash hash;
        graph.at(frame).append(hash);
        return hash;
    };

    // 250 is clamped to 199: the same source frames and timestep.
    EXPECT_EQ(appended(250), appended(199));
    EXPECT_EQ(graph.script.hash(*graph.node, 250), graph.script.hash(*graph.node, 199));
    EXPECT_NE(appended(1), appended(2));

    const struct {
        const char* knob;
        const char* value;
    } changes[] = {{"steps", "3"},
                   {"threshold", "0.25"},
                   {"max_size", "512"},
                   {"nan_error_threshold", "7"},
                   {"colorspace_convert", "false"},
                   {"speed", "0.5000001"}};
    for (const auto& change : changes) {
        SCOPED_TRACE(change.knob);
        const DD::Image::Hash before = appended(10);
        graph.node->setKnob(change.knob, change.value);
        EXPECT_NE(appended(10), before);
    }
}

TEST(Hash, FrameModeFramesShowingTheSameSourceHashAlike) {
    RetimeGraph graph(1, 30);
    graph.node->setKnob("mode", "1");
    graph.node->setKey("output_frame", 1, 12.5);
    graph.node->setKey("output_frame", 9, 12.5);
    EXPECT_EQ(graph.script.hash(*graph.node, 3), graph.script.hash(*graph.node, 7));
}

}  // namespace
}  // namespace tweenora::testing
