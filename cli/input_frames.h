// SPDX-License-Identifier: Apache-2.0
// InputFrames: what `tweenora retime` reads, an image sequence or a video file.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <DDImage/ChannelSet.h>

#include "cli/image_io.h"
#include "host/Clip.h"

namespace tweenora::cli {

//! Frames per second as a fraction (30000/1001 for 29.97).
struct FrameRate {
    int num = 24;
    int den = 1;
    double value() const { return double(num) / den; }
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
    //! What the scan found since the last call, one note a line, each kind once
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

}  // namespace tweenora::cli
