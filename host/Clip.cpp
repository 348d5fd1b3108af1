// SPDX-License-Identifier: Apache-2.0
// Clip and MemoryFrames: frames by number, with a small decoded-frame cache.
#include "host/Clip.h"

#include <algorithm>

namespace tweenora::host {

DD::Image::ChannelSet ClipFrame::channels() const {
    DD::Image::ChannelSet set;
    for (const auto& plane : planes)
        set += plane.first;
    return set;
}

void MemoryFrames::setFrame(int frame, ClipFrame data) {
    frames_[frame] = std::make_shared<const ClipFrame>(std::move(data));
}

int MemoryFrames::firstFrame() const {
    return frames_.empty() ? 0 : frames_.begin()->first;
}

int MemoryFrames::lastFrame() const {
    return frames_.empty() ? 0 : frames_.rbegin()->first;
}

std::shared_ptr<const ClipFrame> MemoryFrames::load(int frame) {
    if (frames_.empty())
        return nullptr;
    const auto found = frames_.find(std::max(firstFrame(), std::min(lastFrame(), frame)));
    return found == frames_.end() ? nullptr : found->second;
}

Clip::Clip(std::shared_ptr<FrameProvider> provider, size_t cacheFrames)
    : provider_(std::move(provider)), cacheFrames_(cacheFrames) {}

int Clip::firstFrame() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return provider_->firstFrame();
}

int Clip::lastFrame() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return provider_->lastFrame();
}

std::shared_ptr<const ClipFrame> Clip::frame(int frame) {
    // One lock around the decode too: a frame asked for by two threads is decoded once.
    std::lock_guard<std::mutex> lock(mutex_);
    requested_.push_back(frame);
    const int first = provider_->firstFrame();
    const int last = provider_->lastFrame();
    const int number = first <= last ? std::max(first, std::min(last, frame)) : frame;
    const auto cached = cache_.find(number);
    if (cached != cache_.end()) {
        cacheOrder_.erase(std::find(cacheOrder_.begin(), cacheOrder_.end(), number));
        cacheOrder_.push_back(number);
        return cached->second;
    }
    std::shared_ptr<const ClipFrame> data = provider_->load(number);
    ++decodes_[number];
    if (data && cacheFrames_ > 0) {
        cache_[number] = data;
        cacheOrder_.push_back(number);
        while (cacheOrder_.size() > cacheFrames_) {
            cache_.erase(cacheOrder_.front());
            cacheOrder_.erase(cacheOrder_.begin());
        }
    }
    return data;
}

std::vector<int> Clip::requestedFrames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requested_;
}

int Clip::decodeCount(int frame) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = decodes_.find(frame);
    return found == decodes_.end() ? 0 : found->second;
}

}  // namespace tweenora::host
