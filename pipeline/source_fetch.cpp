// SPDX-License-Identifier: Apache-2.0
// Reads one source frame into a planar float buffer over a given box.
#include "pipeline/source_fetch.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <DDImage/Box.h>
#include <DDImage/ImagePlane.h>
#include <DDImage/Iop.h>

namespace tweenora::pipeline {

void fetchSourcePlane(DD::Image::Iop* source, int x, int y, int r, int t,
                      const DD::Image::ChannelSet& channels, int channelCount, float* destination) {
    const int64_t width = std::max(0, r - x);
    const int64_t height = std::max(0, t - y);
    const int64_t planeSize = width * height;
    if (channelCount <= 0 || planeSize == 0) {
        return;
    }
    auto zeroAll = [&] { std::fill_n(destination, channelCount * planeSize, 0.0f); };
    if (source == nullptr) {
        zeroAll();
        return;
    }

    const DD::Image::Box& sourceBox = source->info().box();
    const int a = std::max(x, sourceBox.x());
    const int c = std::min(r, sourceBox.r());
    const int b = std::max(y, sourceBox.y());
    const int d = std::min(t, sourceBox.t());
    if (a >= c || b >= d) {
        zeroAll();
        return;
    }

    DD::Image::ImagePlane plane(DD::Image::Box(a, b, c, d), false, channels, channelCount);
    source->fetchPlane(plane);
    const float* fetched = plane.readable();
    const int64_t clippedWidth = c - a;
    const int64_t clippedHeight = d - b;
    const size_t expected = size_t(channelCount * clippedWidth * clippedHeight) * sizeof(float);
    if (fetched == nullptr || plane.usage() < expected || plane.colStride() != 1) {
        zeroAll();
        return;
    }

    // Zero only what the copies below leave alone: rows and columns outside
    // the source's box, and channels the source lacks (whatever its fetch
    // returned for them).
    const DD::Image::ChannelSet sourceChannels = source->channels();
    const bool coversBox = a == x && b == y && c == r && d == t;
    int slot = 0;
    foreach (z, channels) {
        if (slot >= channelCount) {
            break;
        }
        float* out = destination + slot * planeSize;
        const int fetchedSlot = plane.chanNo(z);
        if (fetchedSlot < 0 || !sourceChannels.contains(z)) {
            std::fill_n(out, planeSize, 0.0f);
            ++slot;
            continue;
        }
        if (!coversBox) {
            std::fill_n(out, planeSize, 0.0f);
        }
        const float* in = fetched + int64_t(fetchedSlot) * plane.chanStride();
        for (int64_t row = 0; row < clippedHeight; ++row) {
            std::memcpy(out + ((b - y) + row) * width + (a - x), in + row * plane.rowStride(),
                        size_t(clippedWidth) * sizeof(float));
        }
        ++slot;
    }
    for (; slot < channelCount; ++slot) {
        std::fill_n(destination + slot * planeSize, planeSize, 0.0f);
    }
}

}  // namespace tweenora::pipeline
