// SPDX-License-Identifier: Apache-2.0
// The node's rendered planes copied into one clip frame of planar channels.
#pragma once

#include <vector>

#include <DDImage/ChannelSet.h>
#include <DDImage/Format.h>
#include <DDImage/ImagePlane.h>

#include "host/Clip.h"

namespace tweenora::host {

//! planes (packed, one per layer, as Script::render returns them) as one frame
//! of format: the first plane's bounds as its box, one plane per channel of
//! channels that the planes hold. Planes span whole layers, so an RGB input's
//! rgba plane carries an alpha the input never had: only channels are kept. A
//! plane without data gives zeros.
ClipFrame frameFromPlanes(const std::vector<DD::Image::ImagePlane>& planes,
                          const DD::Image::Format& format, const DD::Image::ChannelSet& channels);

}  // namespace tweenora::host
