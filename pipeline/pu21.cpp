// SPDX-License-Identifier: Apache-2.0
// The PU21 perceptual encoding the node applies around every forward pass.
#include "pipeline/pu21.h"

#include <algorithm>
#include <cmath>

#include <ATen/ATen.h>

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
constexpr double kMaxLuminance = 50000.0;

// Note [PU21 operation order]: every step is one libtorch operation with a
// double scalar, in a fixed order, because the order fixes the float32 result.
// The in-place forms below run the same kernels on the same layout as their
// out-of-place counterparts, so they only save the temporaries.

// Steps 2 to 9 of the encoder on t = x * 100, in place.
void encodeScaled(at::Tensor& t) {
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
    t.div_(pu21ReferenceValue());
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
    at::Tensor w = e.clamp_min(0.0);
    w.mul_(pu21ReferenceValue());
    w.div_(kP6);
    w.add_(kP5);
    w.clamp_min_(1e-9);
    w.pow_(kInvP4);
    // den = p1 - w * p2, floored; negating first is exact, so p1 + (-m) rounds
    // exactly like p1 - m without a filled tensor.
    at::Tensor den = w.mul(kP2);
    den.neg_();
    den.add_(kP1);
    den.clamp_min_(0.001);
    w.sub_(kP0);
    w.div_(den);
    w.clamp_min_(1e-9);
    w.pow_(kInvP3);
    w.sub_(kLuminanceOffset);
    w.clamp_(0.0, kMaxLuminance);
    w.div_(kLinearScale);
    return w;
}

}  // namespace tweenora::pipeline
