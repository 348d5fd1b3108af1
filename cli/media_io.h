// SPDX-License-Identifier: Apache-2.0
// The retime tool's input and output as either image sequences or video files.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <DDImage/Format.h>

#include "cli/image_io.h"
#include "cli/input_frames.h"
#include "cli/timing_options.h"
#include "cli/video_writer.h"
#include "host/Clip.h"

namespace tweenora::cli {

//! Whether text names a video file rather than an image sequence: its file
//! name holds no frame-number field.
bool isVideoName(const std::string& text);

//! Whether text names an image sequence of an integer format (not EXR or HDR, not video).
bool writesIntegerImages(const std::string& text);

//! "30", "29.97" or "30000/1001". Throws tweenora::Error naming option.
FrameRate parseFrameRate(const std::string& option, const std::string& text);

//! The clip text names: a sequence's frames (those on disk, or range), or a
//! video's frames 1..N (range, when given, must lie inside them). Throws
//! tweenora::Error naming the file or the range.
std::unique_ptr<InputFrames> openInputFrames(const std::string& text,
                                             const std::optional<InputRange>& range,
                                             Colorspace colorspace);

//! Where the node's output frames go.
class OutputFrames {
public:
    virtual ~OutputFrames() = default;
    //! The output as the user named it.
    virtual const std::string& text() const = 0;
    //! The files writing frames makes.
    virtual std::vector<std::string> paths(const std::vector<int>& frames) const = 0;
    //! Makes the folder (and a video's file) for frames of format. Throws
    //! tweenora::Error naming the folder or the file.
    virtual void open(const DD::Image::Format& format) = 0;
    //! Writes output frame number frame; returns the names of channels the
    //! output cannot hold, left out. Frames come in ascending order. Throws
    //! tweenora::Error naming the file.
    virtual std::vector<std::string> write(int number, const host::ClipFrame& frame) = 0;
    //! What the progress display names for a written frame.
    virtual std::string shownAs(int number) const = 0;
    //! Completes the output (a video's file appears only now).
    virtual void finish() {}
};

//! The output text names: a sequence written with image, or a video written
//! with video. Throws tweenora::Error when text is neither a sequence pattern
//! nor a writable format.
std::unique_ptr<OutputFrames> makeOutputFrames(const std::string& text, const WriteSettings& image,
                                               const VideoSettings& video);

}  // namespace tweenora::cli
