// SPDX-License-Identifier: Apache-2.0
// A tiny built-in 5 x 7 bitmap font for labelling contact sheets.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tweenora::examples {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;

//! Rows of a glyph, top row first; bit 4 is the leftmost pixel.
using Glyph = std::array<uint8_t, kGlyphHeight>;

//! The glyph of c: digits, letters (lower case drawn as upper case), space and
//! . - : / ( ) = @ +; anything else draws as a box.
const Glyph& glyph(char c);

//! Width of text in pixels drawn at scale, one blank column between glyphs.
int textWidth(const std::string& text, int scale);

}  // namespace tweenora::examples
