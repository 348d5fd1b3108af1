// SPDX-License-Identifier: Apache-2.0
// Clip: the frames a source node delivers, decoded on demand and cached.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <DDImage/Box.h>
#include <DDImage/Channel.h>
#include <DDImage/ChannelSet.h>
#include <DDImage/Format.h>

namespace tweenora::host {

//! One decoded frame: its data window, display window and one float plane per
//! channel (box.w() * box.h() values, rows from box.y() upwards).
struct ClipFrame {
    DD::Image::Box box;
    DD::Image::Format format;
    std::map<DD::Image::Channel, std::vector<float>> planes;

    DD::Image::ChannelSet channels() const;
};

//! Produces frames; a file sequence reader or an in-memory list.
class FrameProvider {
public:
    virtual ~FrameProvider() = default;
    virtual int firstFrame() const = 0;
    virtual int lastFrame() const = 0;
    //! The frame, or null when the clip has none at that number (outside the
    //! range the source holds its nearest frame, as the host does).
    virtual std::shared_ptr<const ClipFrame> load(int frame) = 0;
};

//! A clip held in memory: frames added by number, range from first to last added.
class MemoryFrames : public FrameProvider {
public:
    void setFrame(int frame, ClipFrame data);
    int firstFrame() const override;
    int lastFrame() const override;
    std::shared_ptr<const ClipFrame> load(int frame) override;

private:
    std::map<int, std::shared_ptr<const ClipFrame>> frames_;
};

//! A provider with a small cache of decoded frames that records which frames
//! were asked for and how often each was decoded. Thread-safe.
class Clip {
public:
    explicit Clip(std::shared_ptr<FrameProvider> provider, size_t cacheFrames = 8);

    int firstFrame() const;
    int lastFrame() const;
    //! The frame nearest to frame inside the range (decoded once while cached).
    std::shared_ptr<const ClipFrame> frame(int frame);
    //! Every frame number asked for, in order.
    std::vector<int> requestedFrames() const;
    //! How many times frame was decoded.
    int decodeCount(int frame) const;

private:
    std::shared_ptr<FrameProvider> provider_;
    size_t cacheFrames_;
    mutable std::mutex mutex_;
    std::vector<int> requested_;
    std::map<int, int> decodes_;
    std::map<int, std::shared_ptr<const ClipFrame>> cache_;
    std::vector<int> cacheOrder_;
};

}  // namespace tweenora::host
