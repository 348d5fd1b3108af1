// SPDX-License-Identifier: Apache-2.0
// The small rules every reader and writer of the media library shares.
#include "media/frames.h"

#include <algorithm>

namespace tweenora::media {

void requireOrdered(FrameSpan span, const std::string& name) {
    if (span.last < span.first)
        throw Error(name + " " + std::to_string(span.first) + "-" + std::to_string(span.last) +
                    " ends before it starts");
}

Error fileError(const std::string& path, const std::string& text) {
    return Error("'" + path + "': " + text);
}

void copyRowsFromTop(const std::vector<float>& plane, const DD::Image::Box& box,
                     const DD::Image::Box& region, float* out, size_t step) {
    const int width = region.w();
    for (int row = 0; row < region.h(); ++row) {
        const int y = region.t() - 1 - row;
        if (y < box.y() || y >= box.t())
            continue;
        for (int x = std::max(region.x(), box.x()); x < std::min(region.r(), box.r()); ++x)
            out[(size_t(row) * width + (x - region.x())) * step] =
                plane[size_t(y - box.y()) * box.w() + (x - box.x())];
    }
}

bool isIntegerSample(SampleType type) {
    return type != SampleType::Half && type != SampleType::Float;
}

}  // namespace tweenora::media
