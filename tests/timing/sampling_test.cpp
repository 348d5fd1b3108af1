// SPDX-License-Identifier: Apache-2.0
// The float32 retime arithmetic on its own: offsets, speed-mode ranges, positions, roads.
#include "timing/sampling.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace tweenora::timing {
namespace {

constexpr int32_t kMaxFrame = std::numeric_limits<int32_t>::max();
constexpr int32_t kMinFrame = std::numeric_limits<int32_t>::min();

TEST(SamplingOffset, FollowsTheSpeedClass) {
    const struct {
        float speed;
        float offset;
    } rows[] = {{0.5f, 0.5f}, {0.25f, 0.5f}, {0.0f, 0.5f},  {-3.0f, 0.5f},
                {1.0f, 0.0f}, {2.0f, 0.0f},  {3.0f, 0.0f},  {1.5f, 1.0f / 6.0f},
                {2.5f, 0.1f}, {4.0f, 0.0f},  {1e30f, 0.0f}, {1.25f, 0.2f}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.speed);
        EXPECT_FLOAT_EQ(samplingOffset(row.speed), row.offset);
    }
}

TEST(SpeedModeLastFrame, ClampsWhatInt32CannotHold) {
    // 99 / 1e-9 is about 1e11 frames: far past int32, whose plain conversion is undefined.
    EXPECT_EQ(speedModeLastFrame(1, 100, 1e-9f), kMaxFrame);
    EXPECT_EQ(speedModeLastFrame(100, 1, 1e-9f), kMinFrame);
    // The smallest float speed overflows the division itself to infinity.
    EXPECT_EQ(speedModeLastFrame(1, 100, std::numeric_limits<float>::denorm_min()), kMaxFrame);
    // Bounds at the int32 limits: their difference overflows int32 arithmetic.
    EXPECT_EQ(speedModeLastFrame(kMinFrame, kMaxFrame, 1.0f), kMaxFrame);
    EXPECT_EQ(speedModeLastFrame(kMaxFrame, kMinFrame, 1.0f), kMinFrame);
    // A huge speed is harmless here: the range collapses to its start.
    EXPECT_EQ(speedModeLastFrame(1, 100, 1e30f), 1);
    EXPECT_EQ(speedModeLastFrame(1, 100, std::numeric_limits<float>::infinity()), 1);
    EXPECT_EQ(speedModeLastFrame(7, 100, std::nanf("")), 7);
}

TEST(SpeedModeFrameInfo, ClampsOnlyRangesOfTwoFramesOrMore) {
    // 1-100 at 0.5 publishes 1-198: frames beyond clamp to 0 and 199.
    EXPECT_EQ(speedModeFrameInfo(1000.0f, 1, 1, 198, 0.5f).requestedFramePosition, 100.25f);
    EXPECT_EQ(speedModeFrameInfo(-1000.0f, 1, 1, 198, 0.5f).requestedFramePosition, 0.75f);
    // One frame (1-1) or none (1-0): no clamping at all.
    EXPECT_EQ(speedModeFrameInfo(5.0f, 1, 1, 1, -1.0f).requestedFramePosition, -3.5f);
    EXPECT_EQ(speedModeFrameInfo(5.0f, 1, 1, 0, 0.5f).requestedFramePosition, 3.25f);
    // A NaN frame fails both tests and lands on first - 1.
    EXPECT_EQ(speedModeFrameInfo(std::nanf(""), 1, 1, 198, 0.5f).requestedFramePosition, 0.75f);
}

TEST(FrameInfoAt, FloorsAndCeilsMathematically) {
    const struct {
        float position;
        int32_t frame0, frame1;
        float timestep;
    } rows[] = {
        {17.0f, 17, 17, 0.0f},
        {17.4f, 17, 18, 17.4f - 17.0f},  // the float32 difference, a little under 0.4
        {-2.5f, -3, -2, 0.5f},
        {-0.25f, -1, 0, 0.75f},
        {0.0f, 0, 0, 0.0f},
        {8388609.25f, 8388609, 8388609, 0.0f},  // 2^23 + 1.25: float32 keeps no fraction
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.position);
        const FrameInfo info = frameInfoAt(row.position);
        EXPECT_EQ(info.frame0, row.frame0);
        EXPECT_EQ(info.frame1, row.frame1);
        EXPECT_EQ(info.timestep, row.timestep);
    }
}

TEST(FrameInfoAt, ClampsSourceFramesInt32CannotHold) {
    // A huge speed at an unclamped frame: position 1e30 would be a garbage frame.
    const FrameInfo huge = speedModeFrameInfo(2.0f, 1, 1, 1, 1e30f);
    EXPECT_EQ(huge.frame0, kMaxFrame);
    EXPECT_EQ(huge.frame1, kMaxFrame);
    EXPECT_EQ(huge.timestep, 0.0f);
    const FrameInfo negative = frameInfoAt(-1e20f);
    EXPECT_EQ(negative.frame0, kMinFrame);
    EXPECT_EQ(negative.frame1, kMinFrame);
    const FrameInfo nan = frameInfoAt(std::nanf(""));
    EXPECT_EQ(nan.frame0, 0);
    EXPECT_EQ(nan.frame1, 0);
    EXPECT_TRUE(std::isnan(nan.timestep));
    EXPECT_EQ(frameNumber(2147483520.0f), 2147483520);  // the largest float below 2^31
    EXPECT_EQ(frameNumber(-2147483648.0f), kMinFrame);
}

TEST(SpeedModeFrameInfo, ClampsAgainstARangeEndingAtTheInt32Limit) {
    // last + 1 must not wrap to the int32 minimum and drag every frame to the start.
    const FrameInfo info = speedModeFrameInfo(1e10f, 1, 1, kMaxFrame, 1.0f);
    EXPECT_EQ(info.frame0, kMaxFrame);
    const FrameInfo low = speedModeFrameInfo(-1e10f, kMinFrame, kMinFrame, 5, 1.0f);
    EXPECT_EQ(low.frame0, kMinFrame);
}

TEST(SourceRoad, FollowsTheThresholdRule) {
    const float nan = std::nanf("");
    const struct {
        float timestep, threshold;
        SourceRoad road;
    } rows[] = {
        {0.0f, 0.001f, SourceRoad::Frame0},     {0.001f, 0.001f, SourceRoad::Frame0},
        {0.9995f, 0.001f, SourceRoad::Frame1},  {0.5f, 0.001f, SourceRoad::Interpolate},
        {0.5f, 0.5f, SourceRoad::Frame0},       {0.6f, 0.5f, SourceRoad::Frame1},
        {0.0f, 0.0f, SourceRoad::Frame0},       {1e-7f, 0.0f, SourceRoad::Interpolate},
        {0.0f, -0.1f, SourceRoad::Interpolate}, {0.99f, -0.1f, SourceRoad::Interpolate},
        {nan, 0.001f, SourceRoad::Interpolate}, {nan, 0.9f, SourceRoad::Interpolate},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.timestep << " within " << row.threshold);
        EXPECT_EQ(sourceRoad(row.timestep, row.threshold), row.road);
    }
}

}  // namespace
}  // namespace tweenora::timing
