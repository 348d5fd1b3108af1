// SPDX-License-Identifier: Apache-2.0
// One score of in-between frames against true ones, for the footage tests and the benchmark.
#include "examples/footage_score.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <vector>

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

double worstTileError(const Rgb8& result, const Rgb8& truth) {
    constexpr int kTile = 16;
    const int across = truth.width / kTile;
    const int down = truth.height / kTile;
    if (across == 0 || down == 0 || result.width != truth.width || result.height != truth.height ||
        result.values.size() != truth.values.size())
        return score(result, truth).ie;  // which also refuses pictures of other sizes
    std::vector<double> tiles(size_t(across) * down, 0.0);
    for (int y = 0; y < down * kTile; ++y)
        for (int x = 0; x < across * kTile; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t i = (size_t(y) * truth.width + x) * 3 + c;
                tiles[size_t(y / kTile) * across + x / kTile] +=
                    std::abs(int(result.values[i]) - int(truth.values[i]));
            }
    const size_t worst = std::max<size_t>(1, (tiles.size() + 50) / 100);
    std::partial_sort(tiles.begin(), tiles.begin() + worst, tiles.end(), std::greater<>());
    double sum = 0.0;
    for (size_t i = 0; i < worst; ++i)
        sum += tiles[i];
    return sum / double(worst * kTile * kTile * 3);
}

Rgb8 averaged(const Rgb8& a, const Rgb8& b) {
    Rgb8 out = a;
    for (size_t i = 0; i < out.values.size(); ++i)
        out.values[i] = static_cast<unsigned char>((int(a.values[i]) + b.values[i] + 1) / 2);
    return out;
}

}  // namespace tweenora::examples
