// SPDX-License-Identifier: Apache-2.0
// Test clips made with the video libraries: a moving pattern, and files that are damaged on
// purpose.
#pragma once

#include <optional>
#include <string>

#include "host/Clip.h"
#include "media/video/writer.h"

namespace tweenora::testing {

//! A smooth coloured background with a grey square moving 3 pixels a frame,
//! in linear light, R, G and B over the whole width x height.
host::ClipFrame movingPattern(int width, int height, double time);

//! Writes frames 1..count of movingPattern to path.
void writeClip(const std::string& path, int count, int width, int height,
               const media::VideoSettings& settings = {});

//! Copies the video stream of from into to, adding a display rotation
//! (degrees counter-clockwise, as the container stores it) and/or a second
//! of silent audio.
void remux(const std::string& from, const std::string& to, std::optional<double> rotation,
           bool audio);

//! A WAV file of silence: a container with no video stream.
void writeWav(const std::string& path);

//! Replaces every occurrence of what in the file at path with with (same length).
void patchBytes(const std::string& path, const std::string& what, const std::string& with);

}  // namespace tweenora::testing
