// SPDX-License-Identifier: Apache-2.0
// Runs a frame pair through the network in overlapping patches and blends them.
#pragma once

namespace at {
class Tensor;
}  // namespace at

namespace tweenora {
class Tweenora;
}  // namespace tweenora

namespace tweenora::pipeline {

struct InferenceContext;

//! img0, img1: [1, 3, H, W] float32 CPU, rows bottom-up. Returns the
//! interpolated [1, 3, H, W] float32 CPU frame: one inference pass when the
//! frame fits the node's max_size (or tiling is off), otherwise one pass per
//! patch, cross-faded. Returns the partly blended frame when the render is
//! aborted between patches.
at::Tensor tileAndInterpolate(Tweenora& node, InferenceContext& ctx, const at::Tensor& img0,
                              const at::Tensor& img1);

}  // namespace tweenora::pipeline
