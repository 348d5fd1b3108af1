// SPDX-License-Identifier: Apache-2.0
// Opening a retime's input and output by name: image sequences or video files.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "media/colour/transfer.h"
#include "media/frames.h"
#include "media/sequence/image_io.h"
#include "media/video/writer.h"

namespace tweenora::media {

//! Whether text names a video file rather than an image sequence: its file
//! name holds no frame-number field.
bool isVideoName(const std::string& text);

//! Whether text names an image sequence of an integer format (not EXR or HDR, not video).
bool writesIntegerImages(const std::string& text);

//! The clip text names: a sequence's frames (those on disk, or span), or a
//! video's frames 1..N (span, when given, must lie inside them). Throws
//! tweenora::Error naming the file or the span, which messages call --range,
//! as the user gave it.
std::unique_ptr<InputFrames> openInputFrames(const std::string& text,
                                             const std::optional<FrameSpan>& span,
                                             Colorspace colorspace);

//! The output text names: a sequence written with image, or a video written
//! with video. Throws tweenora::Error when text is neither a sequence pattern
//! nor a writable format.
std::unique_ptr<OutputFrames> makeOutputFrames(const std::string& text, const WriteSettings& image,
                                               const VideoSettings& video);

}  // namespace tweenora::media
