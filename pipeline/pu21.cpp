// SPDX-License-Identifier: Apache-2.0
// The PU21 perceptual encoding the node applies around every forward pass.
#include "pipeline/pu21.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <ATen/ATen.h>
#include <ATen/Parallel.h>

namespace tweenora::pipeline {

namespace {

// Published PU21 coefficients, parameter set for banding with glare.
constexpr double kP0 = 0.353487901;
constexpr double kP1 = 0.3734658629;
constexpr double kP2 = 8.277049286e-05;
constexpr double kP3 = 0.9062562627;
constexpr double kP4 = 0.09150303166;
constexpr double kP5 = 0.9099517204;
constexpr double kP6 = 596.3148142;
constexpr double kInvP4 = 10.928599652476258;
constexpr double kInvP3 = 1.1034406504631595;

// Linear 1.0 is 100 cd/m2; the offset keeps the power law away from 0.
constexpr double kLinearScale = 100.0;
constexpr double kLuminanceOffset = 0.005;
constexpr double kMaxLuminance = kPu21MaxLinear * kLinearScale;
constexpr double kDecodeFloor = 1e-9;
constexpr double kDenominatorFloor = 0.001;

// Note [PU21 operation order]: the encoding is a fixed sequence of libtorch
// operations, each with a double scalar, because the order fixes the float32
// result. On CPU float32 tensors the element-wise steps between the two power
// laws run as fused loops: each step there is one IEEE operation rounded to
// float, with the scalar rounded to float first and no fused multiply-add,
// which is what libtorch's kernels compute, so the values are bit for bit
// those of the operation sequence (the test compares them). The powers stay
// libtorch's own, on tensors of the same shape and layout. Elsewhere (CUDA,
// reduced precision, strided layouts) the sequence runs as libtorch operations.

// libtorch's clamp_min: NaN stays NaN, -0 stays -0.
inline float clampMin(float a, float low) {
    return a < low ? low : a;
}

bool fusable(const at::Tensor& t) {
    return t.device().is_cpu() && t.scalar_type() == at::kFloat && t.is_contiguous();
}

template <class Op>
void forEachValue(float* data, int64_t count, Op op) {
    constexpr int64_t kGrain = 32768;
    at::parallel_for(0, count, kGrain, [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i) {
            data[i] = op(data[i]);
        }
    });
}

// Steps 2 to 9 of the encoder on t = x * 100, in place; t is ours.
void encodeScaled(at::Tensor& t) {
    const double reference = pu21ReferenceValue();
    if (!fusable(t)) {
        t.clamp_min_(0.0);
        t.add_(kLuminanceOffset);
        t.pow_(kP3);
        at::Tensor d = t.mul(kP2);
        d.add_(1.0);
        t.mul_(kP1);
        t.add_(kP0);
        t.div_(d);
        t.pow_(kP4);
        t.sub_(kP5);
        t.mul_(kP6);
        t.clamp_min_(0.0);
        t.div_(reference);
        return;
    }
    float* data = t.data_ptr<float>();
    const int64_t count = t.numel();
    const float offset = float(kLuminanceOffset);
    forEachValue(data, count, [=](float v) { return clampMin(v, 0.0f) + offset; });
    t.pow_(kP3);
    const float p0 = float(kP0), p1 = float(kP1), p2 = float(kP2);
    forEachValue(data, count, [=](float a) {
        const float d = a * p2 + 1.0f;  // two roundings: no contraction in this file
        const float n = a * p1 + p0;
        return n / d;
    });
    t.pow_(kP4);
    const float p5 = float(kP5), p6 = float(kP6), p = float(reference);
    forEachValue(data, count, [=](float v) { return clampMin((v - p5) * p6, 0.0f) / p; });
}

}  // namespace

double pu21ReferenceValue() {
    static const double value = [] {
        const double a = std::pow(100.005, kP3);
        return std::max(0.0, kP6 * (std::pow((kP0 + kP1 * a) / (1.0 + kP2 * a), kP4) - kP5));
    }();
    return value;
}

at::Tensor pu21Encode(const at::Tensor& x) {
    at::Tensor t = x.mul(kLinearScale);
    encodeScaled(t);
    return t;
}

void pu21EncodeInPlace(at::Tensor& x) {
    x.mul_(kLinearScale);
    encodeScaled(x);
}

at::Tensor pu21Decode(const at::Tensor& e) {
    const double reference = pu21ReferenceValue();
    at::Tensor w = e.clamp_min(0.0);
    if (!fusable(w)) {
        w.mul_(reference);
        w.div_(kP6);
        w.add_(kP5);
        w.clamp_min_(kDecodeFloor);
        w.pow_(kInvP4);
        // den = p1 - w * p2, floored; negating first is exact, so p1 + (-m)
        // rounds exactly like p1 - m without a filled tensor.
        at::Tensor den = w.mul(kP2);
        den.neg_();
        den.add_(kP1);
        den.clamp_min_(kDenominatorFloor);
        w.sub_(kP0);
        w.div_(den);
        w.clamp_min_(kDecodeFloor);
        w.pow_(kInvP3);
        w.sub_(kLuminanceOffset);
        w.clamp_(0.0, kMaxLuminance);
        w.div_(kLinearScale);
        return w;
    }
    float* data = w.data_ptr<float>();
    const int64_t count = w.numel();
    const float p = float(reference), p5 = float(kP5), p6 = float(kP6);
    const float floor = float(kDecodeFloor);
    forEachValue(data, count, [=](float v) { return clampMin((v * p) / p6 + p5, floor); });
    w.pow_(kInvP4);
    const float p0 = float(kP0), p1 = float(kP1), p2 = float(kP2);
    const float denominatorFloor = float(kDenominatorFloor);
    forEachValue(data, count, [=](float v) {
        const float den = clampMin(p1 - v * p2, denominatorFloor);
        return clampMin((v - p0) / den, floor);
    });
    w.pow_(kInvP3);
    const float offset = float(kLuminanceOffset), top = float(kMaxLuminance);
    const float scale = float(kLinearScale);
    forEachValue(data, count, [=](float y) {
        y = clampMin(y - offset, 0.0f);
        return (top < y ? top : y) / scale;  // libtorch's clamp: NaN stays NaN
    });
    return w;
}

}  // namespace tweenora::pipeline
