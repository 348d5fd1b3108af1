// SPDX-License-Identifier: Apache-2.0
// One score of in-between frames against true ones, for the footage tests and the benchmark.
#pragma once

#include <vector>

namespace tweenora::examples {

//! An 8-bit sRGB picture, the form footage comes in and the scores use: three
//! values a pixel, rows in either order (both pictures of a score alike).
struct Rgb8 {
    int width = 0, height = 0;
    std::vector<unsigned char> values;
};

//! PSNR in dB over every value, and the mean absolute difference (IE).
struct Score {
    double psnr = 0.0, ie = 0.0;
};

//! The PSNR of identical pictures, and the most any score reports: beyond it
//! a difference of one code value in a large frame would outrank a perfect one.
constexpr double kPsnrCap = 99.0;

//! result against truth: PSNR (peak 255) capped at kPsnrCap, and IE. Throws
//! tweenora::Error when the two differ in size.
Score score(const Rgb8& result, const Rgb8& truth);

//! The mean absolute difference (0 .. 255) of the worst 1 % (at least one) of
//! the whole 16 x 16 tiles, over the three channels: the local failures a mean
//! dilutes. Pictures smaller than one tile give their IE.
double worstTileError(const Rgb8& result, const Rgb8& truth);

//! The baseline every interpolator must beat: a and b averaged, rounded half up.
Rgb8 averaged(const Rgb8& a, const Rgb8& b);

}  // namespace tweenora::examples
