// SPDX-License-Identifier: Apache-2.0
// OutputContext: frame and view comparisons, hashing and printing.
#include "DDImage/OutputContext.h"

#include "DDImage/Hash.h"

namespace DD {
namespace Image {

OutputContext::OutputContext(const OutputContext& src, double frame, int view)
    : OutputContext(src) {
    frame_ = frame;
    if (view >= 0)
        setView(view);
}

OutputContext::OutputContext(const OutputContext& src, int view) : OutputContext(src) {
    setView(view);
}

OutputContext::OutputContext(double frame, int view) : frame_(frame) {
    setView(view);
}

void OutputContext::append(Hash& hash) const {
    hash.append(frame_);
    hash.append(view_);
}

bool OutputContext::operator==(const OutputContext& other) const {
    return frame_ == other.frame_ && view_ == other.view_;
}

bool OutputContext::operator<(const OutputContext& other) const {
    if (frame_ != other.frame_)
        return frame_ < other.frame_;
    return view_ < other.view_;
}

const OutputContext& OutputContext::defaultContext() {
    static const OutputContext context;
    return context;
}

std::ostream& operator<<(std::ostream& o, const OutputContext& c) {
    return o << "frame " << c.frame_ << ", view " << c.view_;
}

}  // namespace Image
}  // namespace DD
