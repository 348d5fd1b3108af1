// SPDX-License-Identifier: Apache-2.0
// Small helpers the video reader and writer share around FFmpeg's libraries.
#pragma once

#include <string>

namespace tweenora::media {

//! The library's text for an AVERROR code.
std::string avErrorText(int code);

//! Keeps the libraries' own console lines to fatal ones: the tool reports
//! what goes wrong itself, naming the file and the frame.
void quietVideoLibraries();

}  // namespace tweenora::media
