// SPDX-License-Identifier: Apache-2.0
// Notes on input files the tool reads differently from what a user may expect.
#pragma once

#include <string>

#include <DDImage/ChannelSet.h>

#include "host/Clip.h"
#include "media/sequence/image_io.h"

namespace tweenora::media {

//! What an input frame holds that the node's perceptual encoding cannot carry.
struct EncodingRange {
    bool clamped = false;   //!< a value above the encoding's top or below 0
    bool infinite = false;  //!< an infinite value
    EncodingRange& operator|=(const EncodingRange& other);
};

//! Scans the planes of channels in frame. NaN counts as neither.
EncodingRange encodingRangeOf(const host::ClipFrame& frame, const DD::Image::ChannelSet& channels);

//! The notes, one line each (ending in a newline), for what range found in path's frame, with
//! colorspace_convert on: clamped values come out at the encoding's limits,
//! infinite ones as NaN. "" when there is nothing to say.
std::string encodingRangeNote(const std::string& path, const EncodingRange& range);

//! A note, one line ending in a newline, when header's file holds another format than its name says
//! (a PNG named .exr), which is read by its content and coloured by what it
//! holds; "" otherwise.
std::string formatMismatchNote(const ImageHeader& header, Colorspace colorspace);

}  // namespace tweenora::media
