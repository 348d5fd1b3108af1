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
    at::Tensor y = at::clamp_min(t, 0.0); y = y.add(kLuminanceOffset);
    at::Tensor a = y.pow(kP3);
    at::Tensor d = a.mul(kP2); d = d.add(1.0);
    at::Tensor n = a.mul(kP1); n = n.add(kP0);
    at::Tensor r = n.div(d);
    at::Tensor v = r.pow(kP4); v = v.sub(kP5); v = v.mul(kP6);
    v = at::clamp_min(v, 0.0);
    return v.div(pu21ReferenceValue());
}
void pu21EncodeInPlace(at::Tensor& x) { x = pu21Encode(x); }
at::Tensor pu21Decode(const at::Tensor& e) {
    at::Tensor v = at::clamp_min(e, 0.0).mul(pu21ReferenceValue());
    at::Tensor w = v.div(kP6); w = w.add(kP5); w = at::clamp_min(w, 1e-9); w = w.pow(kInvP4);
    at::Tensor m = w.mul(kP2);
    at::Tensor den = at::full_like(m, kP1); den.sub_(m); den = at::clamp_min(den, 0.001);
    at::Tensor q = w.sub(kP0); q = q.div(den); q = at::clamp_min(q, 1e-9);
    at::Tensor yy = q.pow(kInvP3); yy = yy.sub(kLuminanceOffset);
    yy = at::clamp(yy, 0.0, kMaxLuminance);
    return yy.div(kLinearScale);
}

}  // namespace tweenora::pipeline
