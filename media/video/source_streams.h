// SPDX-License-Identifier: Apache-2.0
// SourceStreams: what an input video carries besides its pictures, for the output to carry on.
#pragma once

#include <string>

#include "media/frames.h"

namespace tweenora::media {

//! Colour tags as FFmpeg numbers them (AVColorPrimaries, AVColorTransferCharacteristic,
//! AVColorSpace); 1 is BT.709 in each.
struct ColourTags {
    int primaries = 1;
    int transfer = 1;
    int matrix = 1;
};

//! What a video file's streams hold beyond the frames the reader decodes.
struct SourceStreams {
    std::string path;
    //! The video's tags, each unspecified one read as BT.709 (as the reader decodes it).
    ColourTags colour;
    int bitDepth = 8;  //!< of the video's luma (or first) component
    bool alpha = false;
    FrameRate frameRate;
    std::string timecode;  //!< of the first frame, "HH:MM:SS:FF" ("" none)
    int audioStreams = 0;
};

//! Reads path's streams. Throws tweenora::Error naming the file when it
//! cannot be opened or holds no video stream.
SourceStreams probeSourceStreams(const std::string& path);

//! The name FFmpeg gives a transfer ("bt709", "smpte2084", ...).
std::string transferName(int transfer);

//! Whether transfer is one of the high-dynamic-range ones (PQ, HLG).
bool isHdrTransfer(int transfer);

}  // namespace tweenora::media
