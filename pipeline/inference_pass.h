// SPDX-License-Identifier: Apache-2.0
// One run of the network on a pair of image tensors, with the NaN guard.
#pragma once

#include <cstdint>

#include "node/Tweenora.h"
#include "timing/frame_info.h"

namespace tweenora::pipeline {

//! What the passes of one render share; built by the render, advanced by each pass.
struct InferenceContext {
    int32_t totalPasses = 1;  //!< passes this render makes, for the progress display
    Tweenora* node = nullptr;
    int32_t passesDone = 0;
    c10::Device device = c10::Device(c10::kCPU);
    //! device is a CUDA device: only then does mixed precision apply, with
    //! autocast for the device's type (tests pair it with the CPU).
    bool gpuInUse = false;
    FrameInfo frameInfo;
    float downscaleFactor = 1.0f;
};

//! Runs the node's network once on img0 and img1 ([1, 3, H, W] float32 CPU,
//! rows bottom-up, views allowed) and returns the in-between frame as
//! [1, 3, H, W] float32 CPU contiguous, rows bottom-up. Throws
//! std::runtime_error when the result holds more NaN values than the node's
//! nan_error_threshold allows, and lets libtorch's and the network's
//! exceptions through.
at::Tensor runInferencePass(InferenceContext& ctx, at::Tensor img0, at::Tensor img1);

//! Whether libtorch's autocast is on for device type on this thread.
bool autocastEnabled(c10::DeviceType type);
//! The reduced type libtorch's autocast casts to for device type on this thread.
at::ScalarType autocastType(c10::DeviceType type);

//! A steady clock in 100-nanosecond ticks, for the render's timing lines.
int64_t clockTicks();

//! x ([N, C, H, W]) extended right and down to multiples of m by repeating its
//! last column and row; x itself when both sides already are multiples.
at::Tensor padToMultiple(const at::Tensor& x, int64_t m);

//! The NaN guard: counts the NaN values of result (as the network returned it,
//! padding included) and throws std::runtime_error when they make up more
//! than nan_error_threshold percent of it; 100 or more skips the check.
//! Returns the count (0 when skipped).
int64_t checkNanValues(const Tweenora& node, const at::Tensor& result);

}  // namespace tweenora::pipeline
