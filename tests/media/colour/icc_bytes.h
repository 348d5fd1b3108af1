// SPDX-License-Identifier: Apache-2.0
// ICC profiles built byte by byte, as the tests of the colour rules need them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tweenora::testing {

using Bytes = std::vector<unsigned char>;

//! A curv tag: the identity with no entries, a gamma with one, else a table.
Bytes curv(const std::vector<uint16_t>& entries);
//! A curv tag of one gamma value.
Bytes gammaCurve(double gamma);
//! A para tag of function type function (0 to 4) and its parameters.
Bytes para(int function, const std::vector<double>& parameters);
//! The sRGB curve as a para tag, and as a table of entries values.
Bytes srgbPara();
Bytes srgbTable(int entries);
//! A description tag, in version 2 (desc) and version 4 (mluc) form.
Bytes descV2(const std::string& text);
Bytes mluc(const std::string& text);

//! One tag of a profile: its signature ("rTRC", "desc", ...) and its bytes.
struct ProfileTag {
    std::string signature;
    Bytes body;
};

//! A whole profile of colour space space ("RGB ", "GRAY") holding tags.
Bytes profile(const std::vector<ProfileTag>& tags, const std::string& space = "RGB ");
//! An RGB profile with curve for all three channels and, unless empty, a description.
Bytes rgbProfile(const Bytes& curve, const std::string& description = "");

}  // namespace tweenora::testing
