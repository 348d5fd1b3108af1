// SPDX-License-Identifier: Apache-2.0
// One score of in-between frames against true ones, for the footage tests and the benchmark.
#include "examples/footage_score.h"

#include <algorithm>
#include <cmath>

#include "host/Error.h"

namespace tweenora::examples {

Score score(const Rgb8& result, const Rgb8& truth) {
    if (result.width != truth.width || result.height != truth.height ||
        result.values.size() != truth.values.size())
        throw Error("result and true frame differ in size");
    double squared = 0.0, absolute = 0.0;
    for (size_t i = 0; i < truth.values.size(); ++i) {
        const double d = double(result.values[i]) - double(truth.values[i]);
        squared += d * d;
        absolute += std::fabs(d);
    }
    const double n = double(std::max<size_t>(truth.values.size(), 1));
    const double mse = squared / n;
    const double psnr = mse > 0.0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : kPsnrCap;
    return {std::min(psnr, kPsnrCap), absolute / n};
}

Rgb8 averaged(const Rgb8& a, const Rgb8& b) {
    Rgb8 out = a;
    for (size_t i = 0; i < out.values.size(); ++i)
        out.values[i] = static_cast<unsigned char>((int(a.values[i]) + b.values[i] + 1) / 2);
    return out;
}

}  // namespace tweenora::examples
