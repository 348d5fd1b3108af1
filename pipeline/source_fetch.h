// SPDX-License-Identifier: Apache-2.0
// Reads one source frame into a planar float buffer over a given box.
#pragma once

#include <DDImage/ChannelSet.h>

namespace DD::Image {
class Iop;
}  // namespace DD::Image

namespace tweenora::pipeline {

//! Fills destination (channelCount planes of (r - x) * (t - y) floats, one
//! after the other in the channel set's order, rows from y upwards) with the
//! source's pixels over the box x, y, r, t. Everything the source does not
//! deliver is 0: the whole buffer when source is null, the part of the box
//! outside the source's validated box, and channels the source does not have.
void fetchSourcePlane(DD::Image::Iop* source, int x, int y, int r, int t,
                      const DD::Image::ChannelSet& channels, int channelCount, float* destination);

}  // namespace tweenora::pipeline
