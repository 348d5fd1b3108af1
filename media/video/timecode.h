// SPDX-License-Identifier: Apache-2.0
// Timecodes carried through a retime: the output starts at the timecode of the source instant its
// first frame shows.
#pragma once

#include <string>

#include "media/frames.h"

namespace tweenora::media {

//! The timecode, at outputRate, of the instant sourceStart seconds after the
//! frame that sourceTimecode (at sourceRate) labels; drop-frame where the
//! source's is and the output's rate allows it. "" when sourceTimecode is no
//! timecode at sourceRate.
std::string mappedTimecode(const std::string& sourceTimecode, FrameRate sourceRate,
                           double sourceStart, FrameRate outputRate);

}  // namespace tweenora::media
