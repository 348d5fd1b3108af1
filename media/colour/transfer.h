// SPDX-License-Identifier: Apache-2.0
// How stored pixel values relate to the linear light the node works in: the sRGB curve or none.
#pragma once

#include <string>

namespace tweenora::media {

//! How pixel values in files relate to the linear light the node works in.
//! Auto: display-referred storage (integer files, video) holds sRGB, the rest
//! linear light.
enum class Colorspace { Auto, Linear, Srgb };

//! "auto", "linear" or "srgb"; throws tweenora::Error otherwise.
Colorspace parseColorspace(const std::string& text);

//! Whether values stored under colorspace carry the sRGB curve: always for
//! Srgb, never for Linear, and under Auto when the storage is display-referred.
bool carriesSrgb(Colorspace colorspace, bool displayReferred);

//! sRGB transfer pair, exact inverses of each other up to float rounding.
float srgbToLinear(float v);
float linearToSrgb(float v);

//! PQ (SMPTE ST 2084) pair: absolute light with 1.0 = 100 cd/m2, the level SDR
//! white is shown at, so PQ's 10000 cd/m2 peak is 100.
float pqToLinear(float v);
float linearToPq(float v);

//! HLG (ARIB STD-B67) pair: the inverse OETF to scene light 0-1, unscaled and
//! without the display's OOTF, since HLG is relative and scene-referred.
float hlgToLinear(float v);
float linearToHlg(float v);

}  // namespace tweenora::media
