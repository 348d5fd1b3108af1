// SPDX-License-Identifier: Apache-2.0
// Clip and the source op: frame clamping, the decode cache, and planes filled
// over any box and layout with zeros where the frame has no data.
#include "host/Clip.h"

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include <DDImage/ImagePlane.h>
#include <DDImage/Iop.h>

#include "host/Script.h"

namespace tweenora::host {
namespace {

using namespace DD::Image;

// Frames 1..5 with data window (10, 20, 13, 22); red = 100 f + 10 row + column,
// green = -red; no blue, no alpha.
std::shared_ptr<MemoryFrames> gradientFrames() {
    auto frames = std::make_shared<MemoryFrames>();
    for (int f = 1; f <= 5; ++f) {
        ClipFrame frame;
        frame.box = Box(10, 20, 13, 22);
        frame.format = Format(64, 48);
        std::vector<float> red, green;
        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 3; ++column) {
                red.push_back(100.0f * f + 10.0f * row + column);
                green.push_back(-red.back());
            }
        frame.planes[Chan_Red] = red;
        frame.planes[Chan_Green] = green;
        frames->setFrame(f, std::move(frame));
    }
    return frames;
}

TEST(Clip, ClampsToTheRangeAndDecodesOncePerCachedFrame) {
    Clip clip(gradientFrames(), 2);
    EXPECT_EQ(clip.firstFrame(), 1);
    EXPECT_EQ(clip.lastFrame(), 5);
    EXPECT_EQ(clip.frame(-7)->planes.at(Chan_Red)[0], 100.0f);
    EXPECT_EQ(clip.frame(9)->planes.at(Chan_Red)[0], 500.0f);
    clip.frame(1);
    clip.frame(5);
    EXPECT_EQ(clip.decodeCount(1), 1);
    EXPECT_EQ(clip.decodeCount(5), 1);
    // Two frames fit: 1 and 5 are cached, 3 evicts 1 (the least recently used).
    clip.frame(3);
    clip.frame(5);
    clip.frame(1);
    EXPECT_EQ(clip.decodeCount(5), 1);
    EXPECT_EQ(clip.decodeCount(1), 2);
    EXPECT_EQ(clip.decodeCount(9), 0);
    EXPECT_EQ(clip.requestedFrames(), (std::vector<int>{-7, 9, 1, 5, 3, 5, 1}));
}

TEST(ClipSource, FillsAnyBoxAndLayoutWithZerosOutsideTheData) {
    Script script;
    auto clip = std::make_shared<Clip>(gradientFrames());
    HostNode& read = script.createSource(clip);
    ASSERT_TRUE(script.validate(read, 2.4));  // rounds to frame 2
    auto* op = read.opAs<Iop>();
    ASSERT_NE(op, nullptr);
    EXPECT_EQ(op->info().box(), Box(10, 20, 13, 22));
    EXPECT_EQ(op->format().width(), 64);
    EXPECT_EQ(op->info().channels(), ChannelSet(Mask_Red | Mask_Green));
    EXPECT_EQ(op->first_frame(), 1);
    EXPECT_EQ(op->last_frame(), 5);

    for (bool packed : {true, false}) {
        SCOPED_TRACE(packed ? "packed" : "unpacked");
        // One column left of the data, one row below it, blue which the frame lacks.
        ImagePlane plane(Box(9, 19, 12, 21), packed, Mask_RGB, 3);
        op->fetchPlane(plane);
        const struct {
            int x, y;
            Channel z;
            float value;
        } rows[] = {
            {9, 20, Chan_Red, 0.0f},    {10, 19, Chan_Red, 0.0f},      {10, 20, Chan_Red, 200.0f},
            {11, 20, Chan_Red, 201.0f}, {11, 20, Chan_Green, -201.0f}, {11, 20, Chan_Blue, 0.0f},
        };
        for (const auto& row : rows) {
            SCOPED_TRACE(std::to_string(row.x) + "," + std::to_string(row.y));
            EXPECT_EQ(plane.at(row.x, row.y, plane.chanNo(row.z)), row.value);
        }
    }
    EXPECT_EQ(clip->decodeCount(2), 1);
}

}  // namespace
}  // namespace tweenora::host
