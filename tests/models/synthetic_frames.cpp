// SPDX-License-Identifier: Apache-2.0
// Synthetic frames with known motion for the network tests: exact at any time.
#include "tests/models/synthetic_frames.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace tweenora::models::test {
namespace {

struct Wave {
    double u, v, phase, amplitude;
};

std::vector<Wave> waves(uint32_t seed, double scale = 1.0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> angle(0.0, 2.0 * M_PI);
    std::uniform_real_distribution<double> frequency(0.15 * scale, 0.7 * scale);
    std::vector<Wave> result;
    for (int i = 0; i < 18; ++i) {
        const double a = angle(rng);
        const double f = frequency(rng);
        result.push_back({f * std::cos(a), f * std::sin(a), angle(rng), 0.4 / 6.0});
    }
    return result;
}

// Six waves per channel; the sum stays within 0.5 +- 0.4.
float sample(const std::vector<Wave>& ws, int channel, double x, double y) {
    double value = 0.5;
    for (int i = 0; i < 6; ++i) {
        const Wave& wv = ws[channel * 6 + i];
        value += wv.amplitude * std::sin(wv.u * x + wv.v * y + wv.phase);
    }
    return static_cast<float>(value);
}

}  // namespace

at::Tensor texture(int64_t h, int64_t w, double dx, double dy, uint32_t seed, double scale) {
    const std::vector<Wave> ws = waves(seed, scale);
    at::Tensor out = torch::empty({1, 3, h, w});
    auto a = out.accessor<float, 4>();
    for (int c = 0; c < 3; ++c)
        for (int64_t y = 0; y < h; ++y)
            for (int64_t x = 0; x < w; ++x)
                a[0][c][y][x] = sample(ws, c, double(x) - dx, double(y) - dy);
    return out;
}

at::Tensor discScene(int64_t h, int64_t w, double radius, double fgx, double fgy, double bgx,
                     double bgy, double t) {
    const std::vector<Wave> background = waves(7);
    const std::vector<Wave> foreground = waves(11);
    const double cx = 0.5 * double(w) + (t - 0.5) * fgx;
    const double cy = 0.5 * double(h) + (t - 0.5) * fgy;
    at::Tensor out = torch::empty({1, 3, h, w});
    auto a = out.accessor<float, 4>();
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            const double r = std::hypot(double(x) - cx, double(y) - cy);
            // A one-pixel soft edge, as a camera would blur it.
            const double cover = std::clamp(radius + 0.5 - r, 0.0, 1.0);
            for (int c = 0; c < 3; ++c) {
                const float bg = sample(background, c, x - t * bgx, y - t * bgy);
                const float fg = 0.15f + 0.7f * sample(foreground, c, x - cx, y - cy);
                a[0][c][y][x] = float(cover * fg + (1.0 - cover) * bg);
            }
        }
    }
    return out;
}

at::Tensor wallScene(int64_t h, int64_t w, double radius, bool bar, double fgx, double fgy,
                     double bgx, double bgy, double t, at::Tensor* cover) {
    const std::vector<Wave> wall = waves(5, 0.5);
    const std::vector<Wave> object = waves(3);
    const double cx = 0.5 * double(w) + (t - 0.5) * fgx;
    const double cy = 0.5 * double(h) + (t - 0.5) * fgy;
    at::Tensor out = torch::empty({1, 3, h, w});
    at::Tensor covered = torch::empty({h, w});
    auto a = out.accessor<float, 4>();
    auto k = covered.accessor<float, 2>();
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            // Signed distance inside the object's outline, with a one-pixel
            // soft edge as a camera blurs it.
            const double inside = bar ? std::min(radius - std::fabs(double(x) - cx),
                                                 0.25 * double(h) - std::fabs(double(y) - cy))
                                      : radius - std::hypot(double(x) - cx, double(y) - cy);
            const double c = std::clamp(inside + 0.5, 0.0, 1.0);
            k[y][x] = float(c);
            for (int ch = 0; ch < 3; ++ch) {
                // Texture of contrast 0.03 on the wall (a light grey), 0.1 on
                // the object (a dark one).
                const double bg = 0.78 + 0.075 * (sample(wall, ch, x - t * bgx, y - t * bgy) - 0.5);
                const double fg = 0.15 + 0.25 * (sample(object, ch, x - cx, y - cy) - 0.5);
                a[0][ch][y][x] = float(c * fg + (1.0 - c) * bg);
            }
        }
    }
    if (cover)
        *cover = covered;
    return out;
}

double psnr(const at::Tensor& a, const at::Tensor& b, int64_t margin) {
    const int64_t h = a.size(2);
    const int64_t w = a.size(3);
    const at::Tensor d = (a - b).slice(2, margin, h - margin).slice(3, margin, w - margin);
    const double mse = d.pow(2).mean().item<double>();
    return 10.0 * std::log10(1.0 / std::max(mse, 1e-12));
}

}  // namespace tweenora::models::test
