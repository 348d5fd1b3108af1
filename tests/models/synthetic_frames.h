// SPDX-License-Identifier: Apache-2.0
// Synthetic frames with known motion for the network tests: exact at any time.
#pragma once

#include <cstdint>

#include <torch/script.h>

namespace tweenora::models::test {

//! A smooth colour texture (a few sinusoids below half the sampling rate,
//! their frequencies times scale) translated by (dx, dy) pixels:
//! [1, 3, h, w] float32, values in 0.1 .. 0.9.
at::Tensor texture(int64_t h, int64_t w, double dx, double dy, uint32_t seed, double scale = 1.0);

//! A textured disc of the given radius moving by (fgx, fgy) pixels over a
//! texture moving by (bgx, bgy), both at time t of a pair spanning t = 0 .. 1.
at::Tensor discScene(int64_t h, int64_t w, double radius, double fgx, double fgy, double bgx,
                     double bgy, double t);

//! A dark object moving by (fgx, fgy) pixels over a plain light wall with a
//! faint texture, the wall panning by (bgx, bgy), at time t of a pair
//! spanning t = 0 .. 1, without noise: [1, 3, h, w] float32. The object is
//! a disc of the given radius, or with bar a vertical bar of twice that
//! width spanning the frame's middle half. cover, when given, receives how
//! much of each pixel the object covers [h, w].
at::Tensor wallScene(int64_t h, int64_t w, double radius, bool bar, double fgx, double fgy,
                     double bgx, double bgy, double t, at::Tensor* cover = nullptr);

//! Peak signal-to-noise ratio in dB over a 0 .. 1 range, inside a margin.
double psnr(const at::Tensor& a, const at::Tensor& b, int64_t margin);

}  // namespace tweenora::models::test
