// SPDX-License-Identifier: Apache-2.0
// The PU21 perceptual encoding the node applies around every forward pass.
#pragma once

namespace at {
class Tensor;
}  // namespace at

namespace tweenora::pipeline {

//! The largest linear value the encoding carries: larger ones decode as this.
constexpr double kPu21MaxLinear = 500.0;

//! The PU21 code value of luminance 100.005 (linear 1.0), computed once per
//! process on first use; dividing by it maps linear 1.0 to 1.0.
double pu21ReferenceValue();

//! Linear values (1.0 = reference white) to normalised PU21 code values.
//! Element-wise, any shape, dtype and device; returns a new tensor. Negative
//! inputs encode like 0.
at::Tensor pu21Encode(const at::Tensor& x);

//! The inverse of pu21Encode, returning linear values in [0, 500]. Negative
//! code values decode to 0. Returns a new tensor.
at::Tensor pu21Decode(const at::Tensor& e);

//! pu21Encode computed in place on x, which must be a tensor the caller owns
//! (no view of data someone else reads). Same operations in the same order,
//! so the values are those of pu21Encode; only the temporaries are saved.
void pu21EncodeInPlace(at::Tensor& x);

}  // namespace tweenora::pipeline
