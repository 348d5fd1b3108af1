// SPDX-License-Identifier: Apache-2.0
// FrameSpan: a first and last frame, apart so that sequence patterns need nothing else.
#pragma once

#include <string>

namespace tweenora::media {

//! A first and last frame, both included.
struct FrameSpan {
    int first = 0;
    int last = 0;
};

//! Throws tweenora::Error "NAME A-B ends before it starts" when span does.
void requireOrdered(FrameSpan span, const std::string& name);

}  // namespace tweenora::media
