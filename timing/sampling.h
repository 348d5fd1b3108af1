// SPDX-License-Identifier: Apache-2.0
// The retime's float32 arithmetic: sampling offset, speed-mode range and frame mapping.
#pragma once

#include <cstdint>

#include "timing/frame_info.h"

namespace tweenora::timing {

//! Phase of the first output frame in speed mode, in output frames (float32):
//! 0.5 below speed 1 (zero, negative and NaN included), 0 for whole speeds of
//! 1 or more, 0.25 / speed for other speeds of 1 or more. The output range and
//! the frame mapping both use this one function so that they agree.
float samplingOffset(float speed);

//! Last output frame in speed mode for the input range start..end:
//! trunc(floor(float(end - start) / speed + float(start) - samplingOffset(speed))),
//! each step in float32. Speeds of 0 or less (and NaN) give start. A value the
//! int32 frame cannot hold is clamped to the int32 limits (see frameNumber).
int32_t speedModeLastFrame(int32_t start, int32_t end, float speed);

//! FrameInfo of a source position: frame0 = floor, frame1 = ceil,
//! timestep = position - floor(position), all in float32.
FrameInfo frameInfoAt(float position);

//! Speed-mode FrameInfo of output frame x. Only when last > first is x first
//! clamped to [first - 1, last + 1]; then the position is
//! (samplingOffset(speed) + (x - start)) * speed + start, in float32 in that order.
FrameInfo speedModeFrameInfo(float x, int32_t start, int32_t first, int32_t last, float speed);

//! Which source a frame's picture comes from.
enum class SourceRoad { Frame0, Frame1, Interpolate };

//! The threshold rule, in float32, first match wins: threshold >= timestep
//! shows frame0 as is, timestep >= 1 - threshold shows frame1 as is, anything
//! else (a NaN timestep included) is interpolated.
SourceRoad sourceRoad(float timestep, float threshold);

//! A whole float32 frame as an int32 frame number. Values beyond the int32
//! range are clamped to it (the plain conversion is undefined there, and the
//! host would be sent to a garbage frame); NaN gives frame 0.
int32_t frameNumber(float wholeFrame);

}  // namespace tweenora::timing
