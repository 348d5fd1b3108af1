// SPDX-License-Identifier: Apache-2.0
// SequenceFrames: header checks up front, decoding on demand.
#include "media/sequence/sequence_frames.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <set>
#include <sstream>
#include <utility>

#include "host/Error.h"

namespace tweenora::media {

namespace {

// The file's channel names, as it orders them.
std::string describe(const std::vector<FileChannel>& layout) {
    std::string text;
    for (const FileChannel& channel : layout)
        text += (text.empty() ? "" : ", ") + channel.name;
    return text;
}

std::multiset<std::string> namesOf(const std::vector<FileChannel>& layout) {
    std::multiset<std::string> names;
    for (const FileChannel& channel : layout)
        names.insert(channel.name);
    return names;
}

}  // namespace

SequenceFrames::SequenceFrames(const SequencePattern& pattern, FrameSpan span,
                               Colorspace colorspace)
    : pattern_(pattern), span_(span), colorspace_(colorspace) {
    requireOrdered(span, "input range");
    // In 64 bits: a range ending at the int32 limit must not wrap past it.
    for (int64_t frame = span.first; frame <= span.last; ++frame) {
        headers_.push_back(readHeader(pattern_.path(int(frame))));
        const ImageHeader& first = headers_.front();
        const ImageHeader& header = headers_.back();
        // Names, not only the host channels they fill: a grey Y fills red,
        // green and blue as R, G and B do, but the output follows the first
        // file's names and would lose the colour of the others.
        if (header.channels != first.channels || namesOf(header.layout) != namesOf(first.layout))
            throw Error("'" + header.path + "': its channels (" + describe(header.layout) +
                        ") differ from those of '" + first.path + "' (" + describe(first.layout) +
                        ")");
        if (header.format.width() != first.format.width() ||
            header.format.height() != first.format.height())
            throw Error("'" + header.path + "': its size " + std::to_string(header.format.width()) +
                        "x" + std::to_string(header.format.height()) + " differs from " +
                        std::to_string(first.format.width()) + "x" +
                        std::to_string(first.format.height()) + " of '" + first.path + "'");
    }
}

std::vector<std::string> SequenceFrames::notes() const {
    const ImageHeader& first = headers_.front();
    if (first.orientation == 1)
        return {};
    return {"'" + first.path + "' is stored turned (EXIF orientation " +
            std::to_string(first.orientation) +
            "): its frames are retimed upright, as viewers show them"};
}

std::shared_ptr<const host::ClipFrame> SequenceFrames::load(int frame) {
    const int clamped = std::min(std::max(frame, span_.first), span_.last);
    const auto start = std::chrono::steady_clock::now();
    try {
        auto decoded =
            std::make_shared<const host::ClipFrame>(readImage(pattern_.path(clamped), colorspace_));
        log_.decoded(clamped, start);
        std::lock_guard<std::mutex> lock(mutex_);
        if (!watched_.empty()) {
            EncodingRange fresh = encodingRangeOf(*decoded, watched_);
            fresh.clamped = fresh.clamped && !noted_.clamped;
            fresh.infinite = fresh.infinite && !noted_.infinite;
            notes_ += encodingRangeNote(pattern_.path(clamped), fresh);
            noted_ |= fresh;
        }
        return decoded;
    } catch (const Error& e) {
        log_.failed(e.what());
        throw;
    }
}

std::vector<std::string> SequenceFrames::paths() const {
    std::vector<std::string> paths;
    for (const ImageHeader& header : headers_)
        paths.push_back(header.path);
    return paths;
}

void SequenceFrames::watchEncodingRange(const DD::Image::ChannelSet& channels) {
    std::lock_guard<std::mutex> lock(mutex_);
    watched_ = channels;
}

std::string SequenceFrames::takeNotes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(notes_, std::string());
}

}  // namespace tweenora::media
