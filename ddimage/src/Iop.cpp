// SPDX-License-Identifier: Apache-2.0
// Iop: input access by split copy, info copying, requests and the row-based plane fetch.
#include "DDImage/Iop.h"

#include <algorithm>

#include "DDImage/ImagePlane.h"
#include "DDImage/Row.h"

namespace DD {
namespace Image {

Iop::Iop(Node* node) : Op(node) {}

Iop::~Iop() = default;

Iop* Iop::input(int n) const {
    return dynamic_cast<Iop*>(Op::input(n));
}

Iop* Iop::input(int n, int m) const {
    // The copies of node input n follow those of the node inputs before it.
    int index = 0;
    for (int k = 0; k < n; ++k)
        index += std::max(0, split_input(k));
    return input(index + m);
}

void Iop::fetchPlane(ImagePlane& imagePlane) {
    if (!real_valid())
        validate(true);
    doFetchPlane(imagePlane);
}

void Iop::request(int x, int y, int r, int t, ChannelMask channels, int count) {
    if (!real_valid())
        validate(true);
    const Box box(x, y, r, t);
    if (requestValidation_ != validations_ || requestedCount_ == 0) {
        requestValidation_ = validations_;
        requestedBox_ = box;
        requestedChannels_ = channels;
        requestedCount_ = count;
    } else {
        requestedBox_.merge(box);
        requestedChannels_ += channels;
        requestedCount_ += count;
    }
    _request(x, y, r, t, channels, count);
}

void Iop::request(Box box, ChannelMask channels, int count) {
    request(box.x(), box.y(), box.r(), box.t(), channels, count);
}

void Iop::request(ChannelMask channels, int count) {
    if (!real_valid())
        validate(true);
    request(info_.box(), channels, count);
}

void Iop::get(int y, int x, int r, ChannelMask channels, Row& row) {
    open();
    engine(y, x, r, channels, row);
}

void Iop::copy_info() {
    copy_info(0);
}

void Iop::copy_info(int n) {
    Iop* source = input(n);
    if (!source) {
        info_ = Info();
        return;
    }
    source->validate(true);
    info_ = source->info();
}

void Iop::_validate(bool) {
    copy_info();
}

void Iop::_request(int x, int y, int r, int t, ChannelMask channels, int count) {
    for (int i = 0; i < inputs(); ++i)
        if (Iop* source = input(i))
            source->request(x, y, r, t, channels, count);
}

void Iop::doFetchPlane(ImagePlane& plane) {
    const Box& box = plane.bounds();
    float* data = plane.writable();
    std::fill(data, data + plane.usage() / sizeof(float), 0.0f);
    if (box.w() <= 0)
        return;
    const ChannelSet wanted = plane.channels();
    for (int y = box.y(); y < box.t(); ++y) {
        Row row(box.x(), box.r());
        get(y, box.x(), box.r(), wanted, row);
        foreach (z, wanted) {
            const int slot = plane.chanNo(z);
            if (slot < 0 || slot >= plane.nComps())
                continue;
            const float* values = row[z];
            for (int x = box.x(); x < box.r(); ++x)
                plane.writableAt(x, y, slot) = values[x];
        }
    }
}

}  // namespace Image
}  // namespace DD
