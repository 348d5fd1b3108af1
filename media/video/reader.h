// SPDX-License-Identifier: Apache-2.0
// VideoFrames: a video file's frames, decoded as the node asks for them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "media/colour/transfer.h"
#include "media/decode_log.h"
#include "media/frames.h"

struct AVStream;

namespace tweenora::media {

//! Whether formatName (an FFmpeg container's name) is a single-image format:
//! the libraries that read video read single images too.
bool isImageContainer(const std::string& formatName);

//! The frames of a video file's video stream as clip frames 1..N, in R, G, B.
//! Decoding streams: the decoder moves forward through the file and holds only
//! the frame it decoded last, so memory does not depend on the clip's length;
//! a frame behind it or far ahead is reached by seeking to the keyframe before
//! it and decoding up to it, frames identified by their timestamps, so any
//! chunk of a clip gives the frames one run through it gives.
class VideoFrames : public InputFrames {
public:
    //! Opens path and decodes its first frame. Throws tweenora::Error naming
    //! the file: missing, not a video, no video stream, a codec or pixel format
    //! this build cannot decode, no frame rate, a rotation that is no quarter
    //! turn, no frame decodable.
    VideoFrames(const std::string& path, Colorspace colorspace);
    ~VideoFrames() override;

    int firstFrame() const override { return 1; }
    int lastFrame() const override { return frameCount_; }
    //! Decodes frame (clamped to 1..N). A frame that cannot be decoded (a
    //! damaged or truncated file) throws tweenora::Error naming the file and
    //! the frame; the first such message is kept.
    std::shared_ptr<const host::ClipFrame> load(int frame) override;

    const ImageHeader& header() const override { return header_; }
    std::vector<std::string> paths() const override { return {path_}; }
    std::string failure() const override { return log_.failure(); }
    double decodeSeconds() const override { return log_.seconds(); }
    int framesDecoded() const override { return log_.framesDecoded(); }
    int decodes() const override { return log_.decodes(); }
    FrameRate frameRate() const override { return frameRate_; }
    std::vector<std::string> notes() const override { return notes_; }

private:
    struct Decoder;

    // The constructor's steps, in order.
    void openDecoder();
    void readFrameRate();
    void readRotation();
    void countFrames();
    void decodeFirstFrame();
    void describeFrames();
    AVStream& stream() const;
    host::ClipFrame toClipFrame() const;
    void seekTo(int frame);
    int indexOfDecoded() const;

    std::string path_;
    Colorspace colorspace_;
    std::unique_ptr<Decoder> decoder_;
    int frameCount_ = 0;
    FrameRate frameRate_;
    bool constantRate_ = true;
    int quarterTurns_ = 0;  //!< clockwise turns that show the frames upright
    bool linearise_ = true;
    float (*toLinear_)(float) = srgbToLinear;  //!< the stream's transfer, when linearised
    ImageHeader header_;
    std::vector<std::string> notes_;

    DecodeLog log_;
};

}  // namespace tweenora::media
