// SPDX-License-Identifier: Apache-2.0
// PlanarIop: turns plane fetches and row pulls into renderStripe calls, one per
// layer and stripe, and copies the rendered planes into the caller's layout.
#include "DDImage/PlanarIop.h"

#include <algorithm>

#include "DDImage/Row.h"

namespace DD {
namespace Image {
namespace {

// Copies the channels both planes share over box (inside both) from source to dest.
void copyOverlap(const ImagePlane& source, ImagePlane& dest, float* destData, const Box& box,
                 const ChannelSet& channels) {
    const float* sourceData = source.readable();
    if (!sourceData)
        return;
    const Box& from = source.bounds();
    const Box& to = dest.bounds();
    const int width = box.w();
    foreach (z, channels) {
        const int sourceSlot = source.chanNo(z);
        const int destSlot = dest.chanNo(z);
        if (sourceSlot < 0 || destSlot < 0 || sourceSlot >= source.nComps() ||
            destSlot >= dest.nComps())
            continue;
        for (int y = box.y(); y < box.t(); ++y) {
            const float* s = sourceData + ptrdiff_t(y - from.y()) * source.rowStride() +
                             ptrdiff_t(box.x() - from.x()) * source.colStride() +
                             ptrdiff_t(sourceSlot) * source.chanStride();
            float* d = destData + ptrdiff_t(y - to.y()) * dest.rowStride() +
                       ptrdiff_t(box.x() - to.x()) * dest.colStride() +
                       ptrdiff_t(destSlot) * dest.chanStride();
            const int sc = source.colStride();
            const int dc = dest.colStride();
            for (int i = 0; i < width; ++i)
                d[ptrdiff_t(i) * dc] = s[ptrdiff_t(i) * sc];
        }
    }
}

}  // namespace

PlanarIop::PlanarIop(Node* node) : Iop(node) {}

void PlanarIop::getRequests(const Box& box, const ChannelSet& channels, int count,
                            RequestOutput& reqData) const {
    if (Iop* source = input(0))
        reqData.request(source, box, channels, count);
}

size_t PlanarIop::getStripeCount() const {
    const Box& box = info_.box();
    if (box.w() <= 0 || box.h() <= 0)
        return 0;
    if (!useStripes())
        return 1;
    const size_t height = std::max<size_t>(1, stripeHeight());
    return (size_t(box.h()) + height - 1) / height;
}

Box PlanarIop::getStripeBox(int idx) const {
    const Box& box = info_.box();
    if (!useStripes())
        return box;
    const int height = int(std::max<size_t>(1, stripeHeight()));
    const int y = box.y() + idx * height;
    return Box(box.x(), y, box.r(), std::min(box.t(), y + height));
}

size_t PlanarIop::rowToStripeIndex(int y) const {
    if (!useStripes())
        return 0;
    const Box& box = info_.box();
    const int height = int(std::max<size_t>(1, stripeHeight()));
    const int row = std::max(0, std::min(y, box.t() - 1) - box.y());
    return size_t(row / height);
}

void PlanarIop::engine(int y, int x, int r, ChannelMask m, Row& row) {
    ImagePlane plane(Box(x, y, r, y + 1), false, m);
    doFetchPlane(plane);
    foreach (z, m) {
        const int slot = plane.chanNo(z);
        float* out = row.writable(z);
        for (int i = x; i < r; ++i)
            out[i] = plane.at(i, y, slot);
    }
}

void PlanarIop::_request(int x, int y, int r, int t, ChannelMask chans, int count) {
    RequestOutput requests;
    getRequests(Box(x, y, r, t), chans, count, requests);
    requests.doRequest();
}

void PlanarIop::doFetchPlane(ImagePlane& plane) {
    open();
    const Box target = plane.bounds();
    const ChannelSet wanted = plane.channels();
    // Channels the op does not have read as zero without rendering anything.
    const ChannelSet available = wanted.intersection(info_.channels());
    const PlaneSet layers = getAllPlanes(available);
    const size_t stripes = getStripeCount();
    const PackedPreference preference = packedPreference();
    const bool packed = preference == ePackedPreferenceNone ? plane.packed()
                                                            : preference == ePackedPreferencePacked;

    // The caller asked for exactly one whole rendered plane: render into it directly.
    if (stripes == 1 && layers.size() == 1 && getStripeBox(0) == target &&
        *layers.begin() == wanted && plane.nComps() == int(wanted.size()) &&
        packed == plane.packed()) {
        plane.makeWritable();
        renderStripe(plane);
        return;
    }

    float* data = plane.writable();
    std::fill(data, data + plane.usage() / sizeof(float), 0.0f);
    for (size_t stripe = 0; stripe < stripes; ++stripe) {
        const Box stripeBox = getStripeBox(int(stripe));
        Box overlap = stripeBox;
        overlap.intersect(target);
        if (overlap.w() <= 0 || overlap.h() <= 0)
            continue;
        for (const PlaneID& layer : layers) {
            if (aborted())
                return;
            ImagePlane part(stripeBox, packed, layer, int(layer.size()));
            part.makeWritable();
            renderStripe(part);
            copyOverlap(part, plane, data, overlap, layer.intersection(wanted));
        }
    }
}

}  // namespace Image
}  // namespace DD
