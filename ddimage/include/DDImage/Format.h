// SPDX-License-Identifier: Apache-2.0
// Format: the image area a clip is displayed in (its display window).
#pragma once

#include <string>

#include "DDImage/Box.h"

namespace DD {
namespace Image {

//! A named image size; as a Box it is the displayed area (0, 0, width, height)
//! unless set otherwise.
class Format : public Box {
public:
    Format() : Box(0, 0, 0, 0) {}
    Format(int width, int height, double pixelAspect = 1.0)
        : Box(0, 0, width, height), width_(width), height_(height), pa_(pixelAspect) {}

    int width() const { return width_; }
    void width(int v) { width_ = v; }
    int height() const { return height_; }
    void height(int v) { height_ = v; }
    double pixel_aspect() const { return pa_; }
    void pixel_aspect(double v) { pa_ = v; }
    const char* name() const { return name_.c_str(); }
    void name(const char* v) { name_ = v ? v : ""; }

private:
    int width_ = 0;
    int height_ = 0;
    double pa_ = 1.0;
    std::string name_;
};

//! The proxy-effective format and the full-size one.
struct FormatPair {
    const Format* format = nullptr;
    const Format* fullSizeFormat = nullptr;
};

}  // namespace Image
}  // namespace DD
