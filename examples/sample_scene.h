// SPDX-License-Identifier: Apache-2.0
// The sample clip: an analytic scene that renders the exact frame at any time.
#pragma once

#include <string>
#include <vector>

namespace tweenora::examples {

//! Interleaved float pixels, rows from the top, as image files store them.
struct SampleImage {
    int width = 0;
    int height = 0;
    std::vector<std::string> channels;  //!< file channel names: R, G, B, A, depth.Z
    std::vector<float> pixels;

    float at(int x, int y, int c) const {
        return pixels[(size_t(y) * width + x) * channels.size() + c];
    }
};

struct SampleOptions {
    int width = 640;
    int height = 360;
    bool depth = true;  //!< add the depth.Z layer
};

//! The scene at time (a frame number; fractional times lie between frames) in
//! linear light: a textured background panning slowly, a textured disc with a
//! highlight far above 1.0 that moves and turns, and a textured rounded square
//! that moves, turns and grows, in front of the background. Every motion is a
//! smooth function of time with sub-pixel steps from frame to frame, and edges
//! are anti-aliased analytically, so a frame at t + 0.5 is the exact in-between
//! of the frames at t and t + 1. rgb is the composite, alpha the coverage of the
//! two objects, depth.Z the distance (objects near, background far).
SampleImage renderSampleFrame(double time, const SampleOptions& options);

//! Writes image as an OpenEXR file, half or float, zip-compressed. Throws
//! tweenora::Error naming the path when it cannot be written.
void writeSampleExr(const SampleImage& image, const std::string& path, bool halfFloat);

}  // namespace tweenora::examples
