// SPDX-License-Identifier: Apache-2.0
// Frame numbers as the node sees them: relative to the clip, so its float32 timing stays exact.
#pragma once

#include <cstdint>
#include <memory>

#include "cli/options.h"
#include "media/frames.h"

namespace tweenora::cli {

// Note [Frame numbers relative to the clip]
// The node computes source positions in float32, which holds whole numbers
// exactly only up to 2^24 and fractions ever more coarsely above a few
// thousand: at frame 86400 a timestep of 0.05 comes out as 0.046875, and at
// 5,000,001 every in-between position rounds to a source frame. So the tool
// numbers the clip from 0 at its earliest frame (or key) when it hands it to
// the node, and adds that base back for everything the user sees: file names,
// the progress display and the plan.

//! Maps the user's frame numbers to the node's and back.
class FrameNumbering {
public:
    explicit FrameNumbering(int64_t base = 0) : base_(base) {}
    //! Based at the earliest of the input range's bounds and the key frames.
    static FrameNumbering forTiming(const TimingOptions& timing);

    int64_t base() const { return base_; }
    //! The node's number for the user's frame. Throws tweenora::Error when
    //! it lies beyond int32.
    int32_t toNode(int64_t frame) const;
    //! The user's number for the node's frame. Throws tweenora::Error naming
    //! the frame when it lies beyond int32, or the node's number sits at the
    //! int32 limit where the node clamps what it cannot hold.
    int32_t toUser(int32_t nodeFrame) const;
    //! timing in the node's numbers: the range, the keys (frames and values)
    //! and the --frames list.
    TimingOptions toNode(const TimingOptions& timing) const;

private:
    int64_t base_;
};

//! frames presented in the node's numbers: frame f of the clip is numbering's
//! toNode(f).
std::unique_ptr<media::InputFrames> renumbered(std::unique_ptr<media::InputFrames> frames,
                                               const FrameNumbering& numbering);

}  // namespace tweenora::cli
