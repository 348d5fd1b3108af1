// SPDX-License-Identifier: Apache-2.0
// GeneralInfo: the frame range of an op's output.
#pragma once

namespace DD {
namespace Image {

struct FrameRange {
    int first = 0;
    int last = 0;
};

class GeneralInfo {
public:
    int firstFrame() const { return first_; }
    int first_frame() const { return first_; }
    int lastFrame() const { return last_; }
    int last_frame() const { return last_; }
    void setFirstFrame(int v) { first_ = v; }
    void setLastFrame(int v) { last_ = v; }
    void first_frame(int v) { first_ = v; }
    void last_frame(int v) { last_ = v; }
    void setFrameRange(FrameRange frameRange) {
        first_ = frameRange.first;
        last_ = frameRange.last;
    }

private:
    int first_ = 0;
    int last_ = 0;
};

}  // namespace Image
}  // namespace DD
