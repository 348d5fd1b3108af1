// SPDX-License-Identifier: Apache-2.0
// The interpolation road end to end through the headless host: retimes,
// channel groups, progress, the network's arguments and failures.
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <DDImage/Channel.h>
#include <DDImage/ImagePlane.h>

#include "tests/pipeline/pipeline_test_support.h"

namespace tweenora::testing {
namespace {

using namespace DD::Image;

const Box kBox(0, 0, 4, 3);

TEST(InterpolationRoad, RetimesAClipAtHalfSpeed) {
    // Speed 0.5 over frames 1..5 gives output frames 1..8 at positions
    // 1.25, 1.75, ..., 4.75. The blend network gives frame0 + timestep (the
    // clip rises by 1 per frame); with threshold 0.25 every frame is the
    // nearest source frame instead.
    const std::vector<float> positions = {1.25f, 1.75f, 2.25f, 2.75f, 3.25f, 3.75f, 4.25f, 4.75f};
    const std::vector<int> nearest = {1, 2, 2, 3, 3, 4, 4, 5};
    for (bool fastPath : {false, true}) {
        SCOPED_TRACE(fastPath ? "threshold 0.25" : "default threshold");
        RetimeRig rig(uniformClip(1, 5, kBox));
        rig.useNetwork(blendNetwork());
        rig.setKnob("colorspace_convert", "false");
        if (fastPath) {
            rig.setKnob("threshold", "0.25");
        }
        for (int frame = 1; frame <= 8; ++frame) {
            SCOPED_TRACE(frame);
            const std::vector<ImagePlane> planes = rig.render(frame, Mask_RGBA);
            ASSERT_FALSE(rig.node().hasError()) << rig.node().errorMessage();
            ASSERT_EQ(planes.size(), 1u);
            const float position = positions[size_t(frame - 1)];
            for (int pixel = 0; pixel < 12; ++pixel) {
                for (int c = 0; c < 4; ++c) {
                    const float expected = fastPath
                                               ? clipValue(nearest[size_t(frame - 1)], c, pixel)
                                               : clipValue(0, c, pixel) + position;
                    ASSERT_EQ(packedValue(planes[0], pixel % 4, pixel / 4, c), expected)
                        << "pixel " << pixel << " channel " << c;
                }
            }
        }
        EXPECT_EQ(rig.op().outputLastFrame, 8);
    }
}

TEST(InterpolationRoad, FeedsChannelGroupsAndWritesResultsBack) {
    // The network multiplies its channel k by k + 1. Frame0 is 1; frame 2
    // differs, so frame0's values show where a channel is not processed.
    struct Row {
        std::string inputChannels;
        std::vector<float> factors;  // per rgba slot; 0 marks frame0's own value
    };
    const std::vector<Row> rows = {
        {"rgba", {1, 2, 3, 2}},      // (r, g, b) and (a, a, a): alpha is the middle channel
        {"rgba.red", {1, 0, 0, 0}},  // (r, r, r)
        {"rgba.red rgba.blue", {1, 0, 2, 0}},  // (r, b, r)
        {"rgba.green rgba.blue rgba.alpha", {0, 1, 2, 3}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.inputChannels);
        RetimeRig rig(uniformClip(1, 3, kBox));
        rig.useNetwork(channelScaleNetwork());
        rig.setKnob("colorspace_convert", "false");
        rig.setKnob("input_channels", row.inputChannels);
        rig.showPosition(1.5f);
        const std::vector<ImagePlane> planes = rig.render(1, Mask_RGBA);
        ASSERT_FALSE(rig.node().hasError()) << rig.node().errorMessage();
        for (int pixel = 0; pixel < 12; ++pixel) {
            for (int c = 0; c < 4; ++c) {
                const float factor = row.factors[size_t(c)];
                const float expected =
                    factor == 0 ? clipValue(1, c, pixel) : factor * clipValue(1, c, pixel);
                ASSERT_EQ(packedValue(planes[0], pixel % 4, pixel / 4, c), expected)
                    << "pixel " << pixel << " channel " << c;
            }
        }
    }
}

TEST(InterpolationRoad, FifthProcessedChannelCarriesFrame0) {
    // A plane of five processed channels: only four reach the network.
    const auto clip = clipOf({{1, clipFrame(1, kBox)}, {2, clipFrame(7, kBox)}});
    RetimeRig rig(clip);
    rig.useNetwork(blendNetwork());
    rig.setKnob("colorspace_convert", "false");
    rig.showPosition(1.5f);
    ChannelSet channels(Mask_RGBA);
    channels += Chan_Z;
    ImagePlane plane = filledPlane(kBox, channels, -7.0f);
    rig.renderInto(1, plane);
    ASSERT_FALSE(rig.node().hasError()) << rig.node().errorMessage();
    for (int pixel = 0; pixel < 12; ++pixel) {
        // Frame 2 holds clip values of 7: halfway adds 3 to each channel.
        for (int c = 0; c < 4; ++c) {
            ASSERT_EQ(packedValue(plane, pixel % 4, pixel / 4, c), clipValue(1, c, pixel) + 3.0f);
        }
        ASSERT_EQ(packedValue(plane, pixel % 4, pixel / 4, 4), clipValue(1, 4, pixel));
    }
}

TEST(InterpolationRoad, UncoveredPartOfFrame1EntersAsZero) {
    // Frame 2 covers only (0, 0)-(2, 3) of frame 1's box.
    const auto clip = clipOf({{1, clipFrame(1, kBox)}, {2, clipFrame(2, Box(0, 0, 2, 3))}});
    RetimeRig rig(clip);
    rig.useNetwork(blendNetwork());
    rig.setKnob("colorspace_convert", "false");
    rig.showPosition(1.5f);
    const std::vector<ImagePlane> planes = rig.render(1, Mask_RGB);
    ASSERT_FALSE(rig.node().hasError()) << rig.node().errorMessage();
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            const float a = clipValue(1, 0, y * 4 + x);
            const float b = x < 2 ? clipValue(2, 0, y * 2 + x) : 0.0f;
            EXPECT_EQ(packedValue(planes[0], x, y, 0), a + (b - a) * 0.5f) << x << ", " << y;
        }
    }
}

TEST(InterpolationRoad, ReportsSixPassesOfTwoGroupsAndThreePatches) {
    // 1231 wide with max size 1024: three columns, twice for rgba. Patches of
    // an identity network blend back into frame0 exactly.
    RetimeRig rig(uniformClip(1, 2, Box(0, 0, 1231, 2)));
    rig.useNetwork(identityNetwork());
    rig.setKnob("colorspace_convert", "false");
    rig.setKnob("max_size", "1024");
    rig.showPosition(1.5f);
    const std::vector<ImagePlane> planes = rig.render(1, Mask_RGBA);
    ASSERT_FALSE(rig.node().hasError()) << rig.node().errorMessage();
    std::vector<std::string> expectedMessages = {"Starting processing..."};
    std::vector<double> expectedFractions = {0.0};
    for (int pass = 1; pass <= 6; ++pass) {
        expectedMessages.push_back("Interpolating (pass " + std::to_string(pass) + "/6)");
        expectedFractions.push_back(pass / 6.0);
    }
    expectedMessages.push_back("Processing complete");
    expectedFractions.push_back(1.0);
    EXPECT_EQ(rig.node().progressMessages(), expectedMessages);
    ASSERT_EQ(rig.node().progressFractions().size(), expectedFractions.size());
    for (size_t i = 0; i < expectedFractions.size(); ++i) {
        EXPECT_DOUBLE_EQ(rig.node().progressFractions()[i], expectedFractions[i]);
    }
    EXPECT_EQ(rig.node().progressDismissals(), 1);
    for (int x = 0; x < 1231; ++x) {
        for (int c = 0; c < 4; ++c) {
            ASSERT_EQ(packedValue(planes[0], x, 1, c), clipValue(1, c, 1231 + x)) << x;
        }
    }
}

TEST(InterpolationRoad, HandsTheNetworkItsArguments) {
    struct Row {
        std::string knob, value;
        int64_t steps, flowMagnitude;
        double downscale;
    };
    const std::vector<Row> rows = {
        {"steps", "1", 0, 1, 1.0},
        {"steps", "2", 1, 1, 1.0},
        {"steps", "6", 5, 1, 1.0},
        {"steps", "0", 0, 1, 1.0},
        {"steps", "9", 5, 1, 1.0},
        {"flow_magnitude", "medium", 1, 2, 1.0},
        {"flow_magnitude", "high", 1, 3, 1.0},
        {"downscale", "0.5", 1, 1, 0.5},
        {"downscale", "0.25", 1, 1, 0.25},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.knob + " " + row.value);
        RetimeRig rig(uniformClip(1, 3, kBox));
        torch::jit::Module recorder = recorderNetwork();
        rig.useNetwork(recorder);
        rig.setKnob("input_channels", "rgb");  // one group: one call
        rig.setKnob("threshold", "0.2");
        rig.setKnob(row.knob, row.value);
        rig.showPosition(1.3f);
        rig.render(1, Mask_RGB);
        ASSERT_FALSE(rig.node().hasError()) << rig.node().errorMessage();
        ASSERT_EQ(recorder.attr("calls").toInt(), 1);
        EXPECT_EQ(recorder.attr("timestep").toDouble(), double(1.3f - 1.0f));
        EXPECT_EQ(recorder.attr("steps").toInt(), row.steps);
        EXPECT_EQ(recorder.attr("flow_magnitude").toInt(), row.flowMagnitude);
        EXPECT_EQ(recorder.attr("threshold").toDouble(), double(0.2f));
        EXPECT_EQ(recorder.attr("downscale").toDouble(), row.downscale);
    }
}

TEST(InterpolationRoad, NetworkFailurePutsTheNodeInItsErrorState) {
    struct Row {
        std::string name;
        torch::jit::Module network;
        std::string expected;  // the message, or a part of it
    };
    const std::vector<Row> rows = {
        {"raises", raisingNetwork("network exploded"), "network exploded"},
        {"runs out of memory", raisingNetwork("CUDA out of memory. Tried to allocate 2.00 GiB"),
         "Out of GPU memory - lower the Tiling 'max size', reduce the input resolution, or "
         "untick 'Use GPU if available' to render on CPU."},
        {"returns NaN", nanRowsNetwork(0), "Too many nan values returned, frame corrupt"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RetimeRig rig(uniformClip(1, 3, kBox));
        rig.useNetwork(row.network);
        rig.showPosition(1.5f);
        ImagePlane plane = filledPlane(kBox, Mask_RGB, -7.0f);
        rig.renderInto(1, plane);
        ASSERT_TRUE(rig.node().hasError());
        EXPECT_EQ(rig.node().errors().size(), 1u);
        const std::string message = rig.node().errorMessage();
        EXPECT_NE(message.find(row.expected), std::string::npos) << message;
        // Only the last line of the text; a line break ending it stays.
        const size_t lineBreak = message.find('\n');
        EXPECT_TRUE(lineBreak == std::string::npos || lineBreak == message.size() - 1) << message;
        EXPECT_EQ(rig.node().progressDismissals(), 0);
        for (int i = 0; i < 36; ++i) {
            ASSERT_EQ(plane.readable()[i], -7.0f);
        }
    }
}

}  // namespace
}  // namespace tweenora::testing
