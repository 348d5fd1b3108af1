// SPDX-License-Identifier: Apache-2.0
// The plug-in's C query of a node's frame mapping, for tools that drive it headless.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define TWEENORA_EXPORT __declspec(dllexport)
#else
#define TWEENORA_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

//! Values of TweenoraFramePlan::road.
enum TweenoraRoad {
    kTweenoraRoadSource0 = 0,
    kTweenoraRoadSource1 = 1,
    kTweenoraRoadInterpolate = 2
};

//! One output frame as the node maps it and renders it.
struct TweenoraFramePlan {
    float requestedFramePosition;
    float timestep;
    int32_t frame0;
    int32_t frame1;
    int32_t road;  //!< a TweenoraRoad: the threshold rule under the node's threshold
};

//! Looked up by name in the loaded plug-in.
#define TWEENORA_FRAME_PLAN_SYMBOL "tweenora_frame_plan"
typedef int (*TweenoraFramePlanFunction)(const void* op, TweenoraFramePlan* plan, size_t planSize);

//! Fills plan with the mapping of op's current output frame, computed by the
//! node itself exactly as its renderer does. op is a DD::Image::Op* as the host
//! holds it, already validated at the frame. Returns 1 on success, 0 when op is
//! not a Tweenora node or planSize is not sizeof(TweenoraFramePlan).
TWEENORA_EXPORT int tweenora_frame_plan(const void* op, TweenoraFramePlan* plan, size_t planSize);

}  // extern "C"
