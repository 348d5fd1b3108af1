// SPDX-License-Identifier: Apache-2.0
// renderStripe's short roads: the threshold fast path, the straight-through
// copy, the union box, planes over other boxes, and aborted renders.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <DDImage/Channel.h>
#include <DDImage/ImagePlane.h>

#include "tests/node/node_test_support.h"
#include "tests/pipeline/pipeline_test_support.h"

namespace tweenora::testing {
namespace {

using namespace DD::Image;

const Box kBox(0, 0, 4, 3);

// Every channel of the plane holds frame `frame` of a clip made by clipFrame,
// bit for bit; channel slot k is clip channel channels[k].
void expectFrame(const ImagePlane& plane, int frame, const std::vector<int>& channels) {
    const Box& b = plane.bounds();
    for (int y = b.y(); y < b.t(); ++y) {
        for (int x = b.x(); x < b.r(); ++x) {
            for (size_t k = 0; k < channels.size(); ++k) {
                const int pixel = (y - b.y()) * b.w() + (x - b.x());
                ASSERT_EQ(packedValue(plane, x, y, int(k)), clipValue(frame, channels[k], pixel))
                    << "at " << x << ", " << y << ", slot " << k;
            }
        }
    }
}

TEST(RenderStripe, FastPathReturnsTheNearSourceFrameUnprocessed) {
    struct Row {
        std::string name;
        std::string threshold;
        float position;
        int expectedFrame;
    };
    const std::vector<Row> rows = {
        {"whole frame, default threshold", "0.001", 2.0f, 2},
        {"timestep 0.9995 shows frame1", "0.001", 1.9995f, 2},
        {"threshold 0.5 below half", "0.5", 1.25f, 1},
        {"threshold 0.5 at half", "0.5", 1.5f, 1},
        {"threshold 0.5 above half", "0.5", 1.75f, 2},
        {"threshold 0 on a whole frame", "0", 3.0f, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RetimeRig rig(uniformClip(1, 4, kBox));
        rig.useNetwork(raisingNetwork("the network must not run"));
        // Alpha lies outside input_channels and still comes from the chosen frame.
        rig.setKnob("input_channels", "rgb");
        rig.setKnob("threshold", row.threshold);
        rig.showPosition(row.position);
        const std::vector<ImagePlane> planes = rig.render(1, Mask_RGBA);
        ASSERT_FALSE(rig.node().hasError()) << rig.node().errorMessage();
        ASSERT_EQ(planes.size(), 1u);
        expectFrame(planes[0], row.expectedFrame, {0, 1, 2, 3});
    }
}

TEST(RenderStripe, OtherThresholdsAndNanTimestepsInterpolate) {
    struct Row {
        std::string name;
        std::string threshold;
        float position;
        bool interpolated;
    };
    const std::vector<Row> rows = {
        {"threshold 0, halfway", "0", 1.5f, true},
        {"threshold 0, just past a frame", "0", 2.001f, true},
        {"negative threshold on a whole frame", "-0.1", 2.0f, true},
        {"NaN timestep", "0.5", std::nanf(""), true},
        {"threshold 0.4 at 0.25", "0.4", 1.25f, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RetimeRig rig(uniformClip(1, 4, kBox));
        torch::jit::Module recorder = recorderNetwork();
        rig.useNetwork(recorder);
        rig.setKnob("colorspace_convert", "false");
        rig.setKnob("input_channels", "rgb");  // one group: one call
        rig.setKnob("threshold", row.threshold);
        rig.showPosition(row.position);
        rig.render(1, Mask_RGB);
        ASSERT_FALSE(rig.node().hasError()) << rig.node().errorMessage();
        EXPECT_EQ(recorder.attr("calls").toInt(), row.interpolated ? 1 : 0);
    }
}

TEST(RenderStripe, CopiesLayersOutsideInputChannelsFromFrame0) {
    RetimeRig rig(uniformClip(1, 4, kBox));
    rig.useNetwork(raisingNetwork("the network must not run"));
    rig.setKnob("input_channels", "rgba");
    rig.showPosition(2.5f);  // halfway: frame0 is 2
    ChannelSet depth(Chan_Z);
    const std::vector<ImagePlane> planes = rig.render(1, depth);
    ASSERT_FALSE(rig.node().hasError()) << rig.node().errorMessage();
    ASSERT_EQ(planes.size(), 1u);
    expectFrame(planes[0], 2, {4});
}

TEST(RenderStripe, RendersOverTheUnionOfBothSourceBoxes) {
    // Frame 1 covers (0, 0)-(4, 3), frame 2 (2, 1)-(6, 5): the union is (0, 0)-(6, 5).
    const Box box1(0, 0, 4, 3), box2(2, 1, 6, 5);
    const auto clip = clipOf({{1, clipFrame(1, box1)}, {2, clipFrame(2, box2)}});
    struct Row {
        float position;
        int frame;
        Box frameBox;
    };
    for (const Row& row : {Row{1.0005f, 1, box1}, Row{1.9995f, 2, box2}}) {
        SCOPED_TRACE(row.frame);
        RetimeRig rig(clip);
        rig.useNetwork(raisingNetwork("the network must not run"));
        rig.showPosition(row.position);
        const std::vector<ImagePlane> planes = rig.render(1, Mask_RGB);
        ASSERT_FALSE(rig.node().hasError()) << rig.node().errorMessage();
        ASSERT_EQ(planes.size(), 1u);
        ASSERT_EQ(planes[0].bounds(), Box(0, 0, 6, 5));
        const Box& b = row.frameBox;
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 6; ++x) {
                const bool inside = x >= b.x() && x < b.r() && y >= b.y() && y < b.t();
                const int pixel = (y - b.y()) * b.w() + (x - b.x());
                for (int c = 0; c < 3; ++c) {
                    ASSERT_EQ(packedValue(planes[0], x, y, c),
                              inside ? clipValue(row.frame, c, pixel) : 0.0f)
                        << x << ", " << y << ", " << c;
                }
            }
        }
    }
}

TEST(RenderStripe, WritesOnlyThePartOfAPlaneTheUnionBoxCovers) {
    struct Row {
        std::string name;
        float position;  // 1.0 takes the fast path, 1.5 the interpolation road
        Box planeBox;
    };
    const std::vector<Row> rows = {{"fast path, plane sticking out", 1.0f, Box(-2, -1, 3, 2)},
                                   {"fast path, plane inside", 1.0f, Box(1, 1, 3, 2)},
                                   {"road, plane sticking out", 1.5f, Box(2, 1, 7, 6)},
                                   {"road, plane elsewhere", 1.5f, Box(10, 10, 12, 12)}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RetimeRig rig(uniformClip(1, 2, kBox));
        rig.useNetwork(blendNetwork());
        rig.setKnob("colorspace_convert", "false");
        rig.showPosition(row.position);
        ImagePlane plane = filledPlane(row.planeBox, Mask_RGB, -7.0f);
        const size_t bytes = plane.usage();
        rig.renderInto(1, plane);
        ASSERT_FALSE(rig.node().hasError()) << rig.node().errorMessage();
        ASSERT_EQ(plane.usage(), bytes);
        const Box& b = row.planeBox;
        for (int y = b.y(); y < b.t(); ++y) {
            for (int x = b.x(); x < b.r(); ++x) {
                const bool inside = x >= 0 && x < 4 && y >= 0 && y < 3;
                for (int c = 0; c < 3; ++c) {
                    // Frame 1, or halfway to frame 2 (one more everywhere).
                    const float value = clipValue(1, c, y * 4 + x) + (row.position - 1.0f);
                    ASSERT_EQ(packedValue(plane, x, y, c), inside ? value : 0.0f)
                        << x << ", " << y << ", " << c;
                }
            }
        }
    }
}

TEST(RenderStripe, AbortedRenderLeavesThePlaneUntouched) {
    RetimeRig rig(uniformClip(1, 2, kBox));
    rig.useNetwork(raisingNetwork("the network must not run"));
    rig.showPosition(1.0f);
    ImagePlane plane = filledPlane(kBox, Mask_RGBA, -7.0f);
    rig.node().setAborted(true);
    rig.renderInto(1, plane);
    EXPECT_FALSE(rig.node().hasError());
    for (int i = 0; i < kBox.area() * 4; ++i) {
        ASSERT_EQ(plane.readable()[i], -7.0f);
    }
}

TEST(RenderStripe, ChannelsMissingFromTheSourceAreZero) {
    const auto clip = clipOf({{1, clipFrame(1, kBox, false)}, {2, clipFrame(2, kBox, false)}});
    for (float position : {1.0f, 1.5f}) {
        SCOPED_TRACE(position);
        RetimeRig rig(clip);
        rig.useNetwork(blendNetwork());
        rig.setKnob("colorspace_convert", "false");
        rig.showPosition(position);
        ImagePlane plane = filledPlane(kBox, Mask_RGBA, -7.0f);
        rig.renderInto(1, plane);
        ASSERT_FALSE(rig.node().hasError()) << rig.node().errorMessage();
        for (int pixel = 0; pixel < 12; ++pixel) {
            EXPECT_EQ(packedValue(plane, pixel % 4, pixel / 4, 3), 0.0f);
            EXPECT_EQ(packedValue(plane, pixel % 4, pixel / 4, 0),
                      clipValue(1, 0, pixel) + (position - 1.0f));
        }
    }
}

TEST(RenderStripe, TellsWhichRoadEachLayerTook) {
    RetimeRig rig(uniformClip(1, 4, kBox));
    rig.useNetwork(identityNetwork());
    rig.setKnob("input_channels", "rgb");
    ChannelSet channels(Mask_RGBA);
    channels += Chan_Z;
    struct Row {
        float position;
        bool debug;
        std::vector<std::string> lines;
    };
    const std::vector<Row> rows = {
        {2.0f,
         true,
         {"Tweenora1: renderStripe for layer 'rgba' (threshold fast-path: source frame 2 returned "
          "unprocessed, timestep 0).\n",
          "Tweenora1: renderStripe for layer 'depth' (copy straight through, not in channels).\n"}},
        // Printed in a batch render whatever debug says.
        {2.5f, false, {"Tweenora1: Running inference for layer 'rgba' on CPU\n"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.position);
        rig.setKnob("debug", row.debug ? "true" : "false");
        rig.showPosition(row.position);
        CoutCapture out;
        rig.render(1, channels);
        ASSERT_FALSE(rig.node().hasError()) << rig.node().errorMessage();
        for (const std::string& line : row.lines) {
            EXPECT_NE(out.text().find(line), std::string::npos) << out.text();
        }
    }
}

}  // namespace
}  // namespace tweenora::testing
