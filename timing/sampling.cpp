// SPDX-License-Identifier: Apache-2.0
// The retime's float32 arithmetic: sampling offset, speed-mode range and frame mapping.
//
// Speed mode, start = input range start, offset = samplingOffset(speed):
//   last output frame = floor((end - start) / speed + start - offset)
//   output frame x    -> source position (offset + (x - start)) * speed + start
// At speed 0.5 (offset 0.5) output frames sample start + 0.25, start + 0.75, ...
// Every step is a float32 operation in the order written; the build turns off
// FMA contraction for this folder because a fused multiply-add would round
// differently and move whole frames at range ends.
#include "timing/sampling.h"

#include <cmath>
#include <limits>

namespace tweenora::timing {

float samplingOffset(float speed) {
    if (speed < 1.0f)
        return 0.5f;
    if (speed == std::floor(speed))
        return 0.0f;
    return 0.5f / (speed + speed);
}

int32_t frameNumber(float wholeFrame) {
    // 2^31 is exact in float32; the largest float below it is 2^31 - 128.
    constexpr float kTwoTo31 = 2147483648.0f;
    if (std::isnan(wholeFrame))
        return 0;
    if (wholeFrame >= kTwoTo31)
        return std::numeric_limits<int32_t>::max();
    if (wholeFrame < -kTwoTo31)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(wholeFrame);
}

int32_t speedModeLastFrame(int32_t start, int32_t end, float speed) {
    if (!(speed > 0.0f))
        return start;
    // The difference in 64 bits: typed bounds far apart must not overflow int32.
    const float span = static_cast<float>(int64_t{end} - int64_t{start});
    float last = span / speed;
    last = last + static_cast<float>(start);
    last = last - samplingOffset(speed);
    return frameNumber(std::floor(last));
}

FrameInfo frameInfoAt(float position) {
    const float below = std::floor(position);
    FrameInfo info;
    info.requestedFramePosition = position;
    info.frame0 = frameNumber(below);
    info.timestep = position - below;
    info.frame1 = frameNumber(std::ceil(position));
    return info;
}

FrameInfo speedModeFrameInfo(float x, int32_t start, int32_t first, int32_t last, float speed) {
    if (last > first) {
        // In 64 bits: a range ending at the int32 limits must not wrap.
        const float hi = static_cast<float>(int64_t{last} + 1);
        const float lo = static_cast<float>(int64_t{first} - 1);
        if (hi <= x)
            x = hi;
        if (!(x > lo))
            x = lo;
    }
    const float startFrame = static_cast<float>(start);
    float position = x - startFrame;
    position = samplingOffset(speed) + position;
    position = position * speed;
    position = position + startFrame;
    return frameInfoAt(position);
}

SourceRoad sourceRoad(float timestep, float threshold) {
    if (threshold >= timestep)
        return SourceRoad::Frame0;
    const float nearFrame1 = 1.0f - threshold;
    if (timestep >= nearFrame1)
        return SourceRoad::Frame1;
    return SourceRoad::Interpolate;
}

}  // namespace tweenora::timing
