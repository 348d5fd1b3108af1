// SPDX-License-Identifier: Apache-2.0
// ICC profiles as far as the retime's colour rules care: do their tone curves
// say linear light, the sRGB curve, or something else?
#pragma once

#include <cstddef>
#include <string>

namespace tweenora::media {

enum class IccTransfer { Linear, Srgb, Other };

struct IccProfile {
    IccTransfer transfer = IccTransfer::Other;
    std::string description;  //!< the desc tag's text, "" when it has none
    std::string curve;        //!< the tone curve in words: "gamma 2.2", "a 4-entry table", ...
};

//! Reads the profile's header, tag table and tone curves (rTRC, gTRC, bTRC, or
//! kTRC for grey; curv and para types): linear when every curve is the
//! identity, sRGB when every curve follows the sRGB curve (or, the curves
//! saying neither, the description names sRGB), Other otherwise. A damaged
//! profile is Other, never read past its end.
IccProfile readIccProfile(const unsigned char* data, size_t size);

}  // namespace tweenora::media
