// SPDX-License-Identifier: Apache-2.0
// Image files through OpenImageIO: headers, decoding into clip frames, writing frames.
#pragma once

#include <string>
#include <vector>

#include <DDImage/Channel.h>

#include "host/Clip.h"
#include "media/colour/transfer.h"
#include "media/frames.h"

namespace tweenora::media {

//! The host channels a file channel name stands for: R/G/B/A (or red, green,
//! blue, alpha) are rgba's, Z is depth.Z, "layer.chan" names go through
//! DD::Image::getChannel, Y fills rgb, other bare names land in layer "other".
std::vector<DD::Image::Channel> channelsForFileName(const std::string& name);
//! The name a channel gets in a file written without a layout to follow.
std::string fileNameForChannel(DD::Image::Channel channel);

//! Reads path's header. Throws tweenora::Error naming the file and the problem.
ImageHeader readHeader(const std::string& path);

//! Decodes the whole file: colour channels linearised when the colour space
//! says so, unassociated alpha multiplied in. Throws tweenora::Error naming the
//! file (a missing, unreadable or truncated file).
host::ClipFrame readImage(const std::string& path, Colorspace colorspace);

//! How output files are stored.
struct WriteSettings {
    Colorspace colorspace = Colorspace::Auto;
    bool floatData = false;  //!< EXR float instead of half; float where a format has it
    SampleType inputType = SampleType::Half;  //!< integer depths carry over where they fit
    std::vector<FileChannel> layout;          //!< the input's channel names and order
    //! A DPX input's encoding fields, written into DPX outputs: their integer
    //! values come back in the input's encoding.
    std::vector<std::pair<std::string, std::string>> dpxEncoding;
};

//! Writes frame to path: the format from path's extension, the channels named
//! and ordered as settings.layout has them (others after, by their own names),
//! the data window kept where the format has one (elsewhere the display window
//! is written, black outside the box). The file appears complete or not at all:
//! it is written under a temporary name in the same folder and renamed. Returns
//! the names of channels the format cannot hold (PNG and DPX keep rgba, JPEG
//! rgb), which were left out. Throws tweenora::Error naming the file.
std::vector<std::string> writeImage(const std::string& path, const host::ClipFrame& frame,
                                    const WriteSettings& settings);

//! Throws tweenora::Error naming path when no writer handles its extension.
void checkWritableFormat(const std::string& path);

}  // namespace tweenora::media
