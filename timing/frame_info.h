// SPDX-License-Identifier: Apache-2.0
// FrameInfo: where one output frame of the retime lies in the source clip.
#pragma once

#include <cstdint>

namespace tweenora {

//! Marks an input-range bound that has not been filled in yet.
constexpr int32_t kUnsetFrame = -999999;

//! The source position of one output frame and the two whole source frames
//! around it. frame1 == frame0 exactly when the position is whole (timestep 0).
struct FrameInfo {
    float requestedFramePosition = 0.0f;
    float timestep = 0.0f;  //!< position - floor(position), in [0, 1)
    int32_t frame0 = 0;     //!< floor(position)
    int32_t frame1 = 0;     //!< ceil(position)
};

}  // namespace tweenora
