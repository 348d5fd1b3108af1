// SPDX-License-Identifier: Apache-2.0
// The plug-in's C query of a node's frame mapping, for tools that drive it headless.
//
// The host SDK offers no way to read a node's mapping back; tools (such as
// `tweenora plan`) must not redo its arithmetic, so the module answers for the
// node. Hosts that know nothing of this function are unaffected by it.
#include "timing/frame_query.h"

#include <DDImage/Op.h>

#include "node/Tweenora.h"
#include "timing/sampling.h"

extern "C" int tweenora_frame_plan(const void* op, TweenoraFramePlan* plan, size_t planSize) {
    if (!op || !plan || planSize != sizeof(TweenoraFramePlan))
        return 0;
    const auto* node =
        dynamic_cast<const tweenora::Tweenora*>(static_cast<const DD::Image::Op*>(op));
    if (!node)
        return 0;
    const tweenora::FrameInfo info =
        node->calculateFrameInfo(static_cast<float>(node->outputContext().frame()));
    plan->requestedFramePosition = info.requestedFramePosition;
    plan->timestep = info.timestep;
    plan->frame0 = info.frame0;
    plan->frame1 = info.frame1;
    switch (tweenora::timing::sourceRoad(info.timestep, node->threshold)) {
        case tweenora::timing::SourceRoad::Frame0:
            plan->road = kTweenoraRoadSource0;
            break;
        case tweenora::timing::SourceRoad::Frame1:
            plan->road = kTweenoraRoadSource1;
            break;
        case tweenora::timing::SourceRoad::Interpolate:
            plan->road = kTweenoraRoadInterpolate;
            break;
    }
    return 1;
}
