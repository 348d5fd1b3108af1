// SPDX-License-Identifier: Apache-2.0
// ClipReader: clip frames as the output of a planar op.
#include "host/ClipReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

namespace tweenora::host {

ClipReader::ClipReader(Node* node, std::shared_ptr<Clip> clip)
    : PlanarIop(node), clip_(std::move(clip)) {
    inputs(0);
}

int ClipReader::clipFrame() const {
    const int frame = int(std::lround(outputContext().frame()));
    const int first = clip_->firstFrame();
    const int last = clip_->lastFrame();
    return first <= last ? std::max(first, std::min(last, frame)) : frame;
}

void ClipReader::_validate(bool) {
    info_ = Info();
    frame_.reset();
    const int frame = clipFrame();
    try {
        frame_ = clip_->frame(int(std::lround(outputContext().frame())));
    } catch (const std::exception& e) {
        error("cannot read frame %d: %s", frame, e.what());
        return;
    }
    if (!frame_) {
        error("the clip has no frame %d", frame);
        return;
    }
    info_.setBox(frame_->box);
    format_ = frame_->format;
    info_.format(format_);
    info_.full_size_format(format_);
    info_.channels(frame_->channels());
    info_.first_frame(clip_->firstFrame());
    info_.last_frame(clip_->lastFrame());
    set_out_channels(DD::Image::Mask_All);
}

void ClipReader::doFetchPlane(DD::Image::ImagePlane& plane) {
    open();
    renderStripe(plane);
}

void ClipReader::append(DD::Image::Hash& hash) {
    hash.append(static_cast<DD::Image::U64>(reinterpret_cast<uintptr_t>(clip_.get())));
    hash.append(clipFrame());
}

void ClipReader::renderStripe(DD::Image::ImagePlane& plane) {
    float* out = plane.writable();
    std::fill(out, out + plane.usage() / sizeof(float), 0.0f);
    if (!frame_)
        return;
    const DD::Image::Box& to = plane.bounds();
    const DD::Image::Box& from = frame_->box;
    DD::Image::Box overlap = to;
    overlap.intersect(from);
    if (overlap.w() <= 0 || overlap.h() <= 0)
        return;
    const size_t framePixels = size_t(from.w()) * size_t(from.h());
    foreach (z, plane.channels()) {
        const int slot = plane.chanNo(z);
        const auto source = frame_->planes.find(z);
        if (slot < 0 || slot >= plane.nComps() || source == frame_->planes.end() ||
            source->second.size() < framePixels)
            continue;
        for (int y = overlap.y(); y < overlap.t(); ++y) {
            const float* s = source->second.data() + size_t(y - from.y()) * size_t(from.w()) +
                             size_t(overlap.x() - from.x());
            float* d = out + ptrdiff_t(y - to.y()) * plane.rowStride() +
                       ptrdiff_t(overlap.x() - to.x()) * plane.colStride() +
                       ptrdiff_t(slot) * plane.chanStride();
            if (plane.colStride() == 1) {
                std::memcpy(d, s, size_t(overlap.w()) * sizeof(float));
                continue;
            }
            for (int i = 0; i < overlap.w(); ++i)
                d[ptrdiff_t(i) * plane.colStride()] = s[i];
        }
    }
}

}  // namespace tweenora::host
