// SPDX-License-Identifier: Apache-2.0
// --factor and --to-fps: timing that keeps source frames, as output_frame keys of the node's frame
// mode.
#pragma once

#include <cstdint>
#include <vector>

#include "cli/options.h"
#include "media/frames.h"

namespace tweenora::cli {

// Note [Timing that keeps source frames]
// The node's speed mode samples the middle of each output frame's span of
// source time (speed 0.5 reads start + 0.25, start + 0.75, ...): no source
// frame survives, and N frames become 2N - 2. Editors expect a rate change
// to keep the source frames and add frames between them. Both options below
// give the node's frame mode a straight output_frame curve through a few keys;
// the host evaluates it at whole frames, so the kept source frames come out
// as whole positions, timestep 0, and pass through as they are.

//! Keys for --factor N over the input range start..end (either way round),
//! F = |end - start| + 1 frames: output frame start + k reads source position
//! start + k / N (towards end) for k = 0 .. N x (F - 1), so there are
//! N x (F - 1) + 1 output frames and every source frame is one of them. The
//! last source frame ends the output rather than being held N - 1 more times:
//! there is nothing after it to interpolate towards, and a held tail would
//! only freeze the picture.
std::vector<FrameKey> factorKeys(int64_t start, int64_t end, int factor);

//! Keys for --to-fps: the F source frames at rate from, shown for the same
//! duration at rate to. Output frame start + k shows the source at time k / to,
//! source position start + k x from / to (towards end), for the
//! ceil(F x to / from) output frames that begin inside the clip; those past the
//! last source frame hold it, as a player would.
std::vector<FrameKey> frameRateKeys(int64_t start, int64_t end, media::FrameRate from,
                                    media::FrameRate to);

//! timing with --factor or --to-fps turned into frame keys over its range
//! (which must be set). --to-fps reads the input at --from-fps, else at
//! clipRate (0/0 when the input has none). Throws tweenora::Error when
//! --to-fps has no input rate, or the output would hold more than
//! kMaxListedFrames frames.
TimingOptions withVideoTiming(const TimingOptions& timing, media::FrameRate clipRate);

}  // namespace tweenora::cli
