// SPDX-License-Identifier: Apache-2.0
// The sRGB transfer pair and the one rule for when stored values carry it.
#include "media/colour/transfer.h"

#include <algorithm>
#include <cmath>

#include "host/Error.h"

namespace tweenora::media {

Colorspace parseColorspace(const std::string& text) {
    if (text == "auto")
        return Colorspace::Auto;
    if (text == "linear")
        return Colorspace::Linear;
    if (text == "srgb")
        return Colorspace::Srgb;
    throw Error("--colorspace must be linear, srgb or auto, not '" + text + "'");
}

bool carriesSrgb(Colorspace colorspace, bool displayReferred) {
    return colorspace == Colorspace::Srgb || (colorspace == Colorspace::Auto && displayReferred);
}

float srgbToLinear(float v) {
    return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f);
}

float linearToSrgb(float v) {
    return v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
}

namespace {

// ST 2084's constants, and the linear value of its 10000 cd/m2 peak.
constexpr double kPqM1 = 2610.0 / 16384.0, kPqM2 = 2523.0 / 4096.0 * 128.0;
constexpr double kPqC1 = 3424.0 / 4096.0, kPqC2 = 2413.0 / 4096.0 * 32.0,
                 kPqC3 = 2392.0 / 4096.0 * 32.0;
constexpr double kPqPeak = 100.0;
// ARIB STD-B67's constants.
constexpr double kHlgA = 0.17883277, kHlgB = 0.28466892, kHlgC = 0.55991073;

}  // namespace

// Values below 0 (and above 1) come out of Y'CbCr for colours outside the
// gamut: mirrored through 0, they survive a round trip as the sRGB curve's do.
float pqToLinear(float v) {
    if (v < 0.0f)
        return -pqToLinear(-v);
    const double p = std::pow(double(v), 1.0 / kPqM2);
    return float(kPqPeak * std::pow(std::max(p - kPqC1, 0.0) / (kPqC2 - kPqC3 * p), 1.0 / kPqM1));
}

float linearToPq(float v) {
    if (v < 0.0f)
        return -linearToPq(-v);
    const double y = std::pow(double(v) / kPqPeak, kPqM1);
    return float(std::pow((kPqC1 + kPqC2 * y) / (1.0 + kPqC3 * y), kPqM2));
}

float hlgToLinear(float v) {
    if (v < 0.0f)
        return -hlgToLinear(-v);
    const double e = v;
    return float(e <= 0.5 ? e * e / 3.0 : (std::exp((e - kHlgC) / kHlgA) + kHlgB) / 12.0);
}

float linearToHlg(float v) {
    if (v < 0.0f)
        return -linearToHlg(-v);
    const double e = v;
    return float(e <= 1.0 / 12.0 ? std::sqrt(3.0 * e) : kHlgA * std::log(12.0 * e - kHlgB) + kHlgC);
}

}  // namespace tweenora::media
