// SPDX-License-Identifier: Apache-2.0
// What the media library reads and writes: frame rates, headers, InputFrames, OutputFrames.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <DDImage/Box.h>
#include <DDImage/Channel.h>
#include <DDImage/ChannelSet.h>
#include <DDImage/Format.h>

#include "host/Clip.h"
#include "host/Error.h"
#include "media/frame_span.h"

namespace tweenora::media {

//! The error for a file: "'path': text".
Error fileError(const std::string& path, const std::string& text);

//! Copies plane (box's pixels, rows counted from the bottom as the host has
//! them) into the pixels of region, rows counted from the top as files have
//! them: region's pixel (row, column) is out[(row * region.w() + column) * step].
//! Pixels of region outside box are left as they are.
void copyRowsFromTop(const std::vector<float>& plane, const DD::Image::Box& box,
                     const DD::Image::Box& region, float* out, size_t step);

//! Frames per second as a fraction (30000/1001 for 29.97).
struct FrameRate {
    int num = 24;
    int den = 1;
    double value() const { return double(num) / den; }
};

//! The file's pixel storage, as far as the colour rules care.
enum class SampleType { UInt8, UInt16, Half, Float, OtherInteger };

//! Whether type stores whole numbers (display-referred under the colour rules).
bool isIntegerSample(SampleType type);

//! One channel of a file: its name there and the host channels it fills.
//! A grey channel ("Y") fills red, green and blue; every other name fills one.
struct FileChannel {
    std::string name;
    std::vector<DD::Image::Channel> channels;
};

//! What a file holds, from its header alone.
struct ImageHeader {
    std::string path;
    std::string formatName;    //!< OpenImageIO's name: "openexr", "png", ...
    DD::Image::Box box;        //!< the data window, rows counted from the bottom
    DD::Image::Format format;  //!< the display window's size
    std::vector<FileChannel> layout;
    DD::Image::ChannelSet channels;
    SampleType sampleType = SampleType::Float;
    bool unassociatedAlpha = false;
    //! How a DPX says its values are encoded (dpx:Transfer, dpx:Colorimetric),
    //! as read; empty for other formats.
    std::vector<std::pair<std::string, std::string>> dpxEncoding;
    //! The EXIF orientation (1-8) the pixels are stored in; box and format
    //! are those of the picture turned upright, as viewers show it.
    int orientation = 1;
};

//! A source clip with what the tool reports about reading it.
class InputFrames : public host::FrameProvider {
public:
    //! Channels, layout, size and sample type of the clip's frames.
    virtual const ImageHeader& header() const = 0;
    //! Every file the clip reads (the tool never writes over them).
    virtual std::vector<std::string> paths() const = 0;
    //! The first decoding failure, "" when none.
    virtual std::string failure() const = 0;
    //! Seconds spent decoding so far.
    virtual double decodeSeconds() const = 0;
    //! Frames decoded so far, and how many decodes that took in all.
    virtual int framesDecoded() const = 0;
    virtual int decodes() const = 0;
    //! The clip's own frame rate, when it has one (a video); 0/0 otherwise.
    virtual FrameRate frameRate() const { return {0, 0}; }
    //! Things the user should know about how the clip is read, one line each.
    virtual std::vector<std::string> notes() const { return {}; }
    //! From now on, decoded frames are scanned for values in channels that the
    //! node's perceptual encoding cannot carry. A video's display-referred
    //! values always fit it, so only sequences scan.
    virtual void watchEncodingRange(const DD::Image::ChannelSet& /*channels*/) {}
    //! What the scan found since the last call, one note a line (each ending
    //! in a newline, without the tool's prefix), each kind once
    //! per run; "" when nothing.
    virtual std::string takeNotes() { return {}; }
};

//! InputFrames that hands every call to other frames: a base for those that
//! change only some (the frames they load, or their range).
class ForwardingInputFrames : public InputFrames {
public:
    explicit ForwardingInputFrames(std::unique_ptr<InputFrames> frames)
        : frames_(std::move(frames)) {}

    int firstFrame() const override { return frames_->firstFrame(); }
    int lastFrame() const override { return frames_->lastFrame(); }
    std::shared_ptr<const host::ClipFrame> load(int frame) override { return frames_->load(frame); }
    const ImageHeader& header() const override { return frames_->header(); }
    std::vector<std::string> paths() const override { return frames_->paths(); }
    std::string failure() const override { return frames_->failure(); }
    double decodeSeconds() const override { return frames_->decodeSeconds(); }
    int framesDecoded() const override { return frames_->framesDecoded(); }
    int decodes() const override { return frames_->decodes(); }
    FrameRate frameRate() const override { return frames_->frameRate(); }
    std::vector<std::string> notes() const override { return frames_->notes(); }
    void watchEncodingRange(const DD::Image::ChannelSet& channels) override {
        frames_->watchEncodingRange(channels);
    }
    std::string takeNotes() override { return frames_->takeNotes(); }

private:
    std::unique_ptr<InputFrames> frames_;
};

//! How an output's time runs against its input's, for what a video carries
//! besides its frames (audio).
struct SourceTiming {
    //! Seconds after the input's first frame that the output starts at.
    double sourceStart = 0.0;
    //! Input seconds per output second; 0 when the retime has no constant one.
    double tempo = 0.0;
    double duration = 0.0;  //!< the output's seconds
    //! Why the output's time does not map onto the input's, "" when it does.
    std::string unmapped;
    //! The output's first frame's timecode, "" for none.
    std::string timecode;
};

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
    //! How the output's time runs against the input's; before open().
    virtual void setSourceTiming(const SourceTiming& /*timing*/) {}
    //! What the user should know about the output, one line each; after open().
    virtual std::vector<std::string> notes() const { return {}; }
};

}  // namespace tweenora::media
