// SPDX-License-Identifier: Apache-2.0
// Row: one scan line of an image, per channel, for the row-based engine.
#pragma once

#include <vector>

#include "DDImage/ChannelSet.h"

namespace DD {
namespace Image {

class Row {
public:
    Row(int x, int r);
    //! Writable floats of channel z, indexable from x to r - 1.
    float* writable(Channel z);
    //! Floats of channel z, indexable from x to r - 1; zeros for a channel never written.
    const float* operator[](Channel z) const;
    int getLeft() const { return x_; }
    int getRight() const { return r_; }

private:
    int x_, r_;
    mutable std::vector<std::vector<float>> channels_;
};

}  // namespace Image
}  // namespace DD
