// SPDX-License-Identifier: Apache-2.0
// TorchScript source of the built-in interpolation network, one entry per method.
#pragma once

#include <string>
#include <vector>

namespace tweenora::models {

//! Methods of ImageOps: warping, filtering and resampling shared by the other modules.
const std::vector<std::string>& imageOpsMethods();
//! Methods of FlowEstimator: coarse-to-fine bidirectional optical flow.
const std::vector<std::string>& flowEstimatorMethods();
//! Methods of FrameSynthesiser: occlusion-aware synthesis of the in-between frame.
const std::vector<std::string>& frameSynthesiserMethods();
//! Methods of FlowInterpolator, the root module whose forward the node calls.
const std::vector<std::string>& flowInterpolatorMethods();

}  // namespace tweenora::models
