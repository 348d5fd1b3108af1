// SPDX-License-Identifier: Apache-2.0
// Row: per-channel float storage for one scan line, indexed by x.
#include "DDImage/Row.h"

#include <algorithm>

namespace DD {
namespace Image {

Row::Row(int x, int r) : x_(x), r_(std::max(x, r)) {}

float* Row::writable(Channel z) {
    if (size_t(z) >= channels_.size())
        channels_.resize(size_t(z) + 1);
    std::vector<float>& values = channels_[size_t(z)];
    if (values.empty())
        values.assign(size_t(r_ - x_) + 1, 0.0f);
    return values.data() - x_;
}

const float* Row::operator[](Channel z) const {
    // A channel nobody wrote reads as zeros.
    return const_cast<Row*>(this)->writable(z);
}

}  // namespace Image
}  // namespace DD
