// SPDX-License-Identifier: Apache-2.0
// The sRGB transfer pair and the one rule for when stored values carry it.
#include "media/colour/transfer.h"

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

}  // namespace tweenora::media
