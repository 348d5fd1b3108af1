// SPDX-License-Identifier: Apache-2.0
// SequenceFrames: a file sequence as the source clip's frame provider.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/Clip.h"
#include "media/decode_log.h"
#include "media/frames.h"
#include "media/sequence/image_io.h"
#include "media/sequence/input_notes.h"
#include "media/sequence/pattern.h"

namespace tweenora::media {

//! The frames first to last of a sequence. Construction checks every file's
//! header, so that a missing, unreadable or mismatched frame is reported before
//! any work starts; decoding happens on demand (host::Clip caches it).
class SequenceFrames : public InputFrames {
public:
    //! Throws tweenora::Error naming the file: a frame of the span missing or
    //! unreadable, or with other channels or another image size than the first.
    SequenceFrames(const SequencePattern& pattern, FrameSpan span, Colorspace colorspace);

    int firstFrame() const override { return span_.first; }
    int lastFrame() const override { return span_.last; }
    //! Decodes the frame (the nearest one of the span outside it). A file that
    //! fails to decode throws tweenora::Error; the first such message is kept.
    std::shared_ptr<const host::ClipFrame> load(int frame) override;

    //! The first frame's header: channels, layout and sample type of the clip.
    const ImageHeader& header() const override { return headers_.front(); }
    //! Every input file of the span.
    std::vector<std::string> paths() const override;
    //! The first decoding failure, "" when none.
    std::string failure() const override { return log_.failure(); }
    //! Seconds spent decoding so far.
    double decodeSeconds() const override { return log_.seconds(); }
    //! Files decoded so far, and how many decodes that took in all.
    int framesDecoded() const override { return log_.framesDecoded(); }
    int decodes() const override { return log_.decodes(); }

    //! A note when the files are stored turned (EXIF orientation).
    std::vector<std::string> notes() const override;
    //! The notes are encodingRangeNote's, naming the first file that shows each kind.
    void watchEncodingRange(const DD::Image::ChannelSet& channels) override;
    std::string takeNotes() override;

private:
    SequencePattern pattern_;
    FrameSpan span_;
    Colorspace colorspace_;
    std::vector<ImageHeader> headers_;
    DecodeLog log_;
    mutable std::mutex mutex_;  //!< guards the encoding-range notes
    DD::Image::ChannelSet watched_;
    EncodingRange noted_;
    std::string notes_;
};

}  // namespace tweenora::media
