// SPDX-License-Identifier: Apache-2.0
// RequestOutput: the input requests a planar op gathers before rendering.
#pragma once

#include <cstddef>
#include <vector>

#include "DDImage/Box.h"
#include "DDImage/ChannelSet.h"

namespace DD {
namespace Image {

class Iop;

//! One request: an input op, the box and channels wanted from it, and a count.
class RequestData {
public:
    RequestData(Iop* op, const Box& box, const ChannelSet& channels, int count)
        : op_(op), box_(box), channels_(channels), count_(count) {}
    Iop* getOp() const { return op_; }
    const Box& getBox() const { return box_; }
    const ChannelSet& getChannels() const { return channels_; }
    int getCount() const { return count_; }

private:
    Iop* op_;
    Box box_;
    ChannelSet channels_;
    int count_;
};

class RequestOutput {
public:
    RequestOutput() = default;
    //! Adds one request.
    template <class OpType>
    void request(OpType* opType, const DD::Image::Box& box, const DD::Image::ChannelSet& channels,
                 int count) {
        requests_.emplace_back(opType, box, channels, count);
    }
    //! Issues every request to its op (Iop::request).
    void doRequest();
    size_t size() const { return requests_.size(); }
    const RequestData& operator[](size_t i) const { return requests_[i]; }

private:
    std::vector<RequestData> requests_;
};

}  // namespace Image
}  // namespace DD
