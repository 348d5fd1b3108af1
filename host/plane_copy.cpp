// SPDX-License-Identifier: Apache-2.0
// The node's rendered planes copied into one clip frame of planar channels.
#include "host/plane_copy.h"

namespace tweenora::host {

ClipFrame frameFromPlanes(const std::vector<DD::Image::ImagePlane>& planes,
                          const DD::Image::Format& format, const DD::Image::ChannelSet& channels) {
    ClipFrame frame;
    frame.format = format;
    if (!planes.empty())
        frame.box = planes.front().bounds();
    for (const DD::Image::ImagePlane& plane : planes) {
        const DD::Image::Box& box = plane.bounds();
        const float* data = plane.readable();
        foreach (z, plane.channels()) {
            if (!channels.contains(z))
                continue;
            std::vector<float>& out = frame.planes[z];
            out.assign(size_t(box.w()) * box.h(), 0.0f);
            if (!data)
                continue;
            const int slot = plane.chanNo(z);
            for (int y = 0; y < box.h(); ++y)
                for (int x = 0; x < box.w(); ++x)
                    out[size_t(y) * box.w() + x] =
                        data[size_t(y) * plane.rowStride() + size_t(x) * plane.colStride() +
                             size_t(slot) * plane.chanStride()];
        }
    }
    return frame;
}

}  // namespace tweenora::host
