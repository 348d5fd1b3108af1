// SPDX-License-Identifier: Apache-2.0
// The timing options shared by `tweenora plan` and `tweenora retime`, and how they reach the node.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "media/frames.h"

namespace tweenora::host {
class HostNode;
}  // namespace tweenora::host

namespace tweenora::cli {

//! Most frames a frame list, or an output range listed whole, may hold; more
//! would have the host validate (and the source deliver) an absurd number of frames.
constexpr int64_t kMaxListedFrames = 1000000;

//! A key of the output_frame curve: value (a source frame) at output frame.
struct FrameKey {
    double frame = 0.0;
    double value = 0.0;
};

//! An input range as typed; start > end is kept as it is.
struct InputRange {
    int32_t start = 0;
    int32_t end = 0;
};

struct TimingOptions {
    std::optional<InputRange> range;  //!< --range A-B
    std::optional<double> speed;      //!< --speed S (speed mode)
    std::vector<FrameKey> frameKeys;  //!< --frame-keys F:V,... (frame mode)
    std::vector<std::pair<std::string, std::string>> knobValues;  //!< --set knob=value, in order
    std::optional<std::vector<int32_t>> frames;                   //!< --frames LIST

    // Video timing, laid on the node's frame mode as a straight output_frame
    // curve (see cli/video_timing.h).
    std::optional<int> factor;                //!< --factor N
    std::optional<media::FrameRate> toFps;    //!< --to-fps R
    std::optional<media::FrameRate> fromFps;  //!< --from-fps S (the input's rate)

    //! Whether any option chooses the timing (--speed, --frame-keys, --factor,
    //! --to-fps, or --set of mode, speed or output_frame).
    bool choosesTiming() const;
};

//! Reads the timing option at args[i], in the form "--name value" or
//! "--name=value", into options and moves i to its last argument. Returns false,
//! leaving i alone, when args[i] is no timing option. Throws tweenora::Error
//! naming the option and the text when the value is missing or malformed, or
//! when two of --speed, --frame-keys, --factor and --to-fps are given.
bool parseTimingOption(const Args& args, size_t& i, TimingOptions& options);

//! The frame rates a video is written at: the encoders and containers
//! take the slowest (1/1000) and fastest as time bases.
constexpr double kSlowestFrameRate = 0.001;
constexpr double kFastestFrameRate = 1000.0;

//! "30", "29.97" or "30000/1001", from kSlowestFrameRate to kFastestFrameRate.
//! Throws tweenora::Error naming option.
media::FrameRate parseFrameRate(const std::string& option, const std::string& text);

//! A whole number from minimum to 2^20. Throws tweenora::Error naming option.
int parseCount(const std::string& option, const std::string& text, int minimum);

//! first to last, every frame; none when there are more than kMaxListedFrames
//! (64-bit: a range ending at the int32 limit must neither wrap nor allocate
//! without bound).
std::optional<std::vector<int32_t>> everyFrame(int32_t first, int32_t last);

//! The span an input range stands for, as typed (start > end kept).
media::FrameSpan spanOf(const InputRange& range);

//! The error for an argument the command does not know: "COMMAND: unknown
//! option 'ARG' (see tweenora COMMAND --help)".
Error unknownOption(const std::string& command, const std::string& arg);

//! Sets the node's knobs from options, as a user would on the panel: the input
//! range, then the mode with speed or the output_frame keys, then every --set in
//! order (so --set has the last word). Throws tweenora::Error when a knob
//! refuses a value.
void applyTimingOptions(host::HostNode& node, const TimingOptions& options);

//! The note for a run that chooses no timing (see TimingOptions::choosesTiming):
//! which default of node's applies and what it does; "" when timing chooses.
std::string defaultTimingNote(const TimingOptions& timing, host::HostNode& node);

//! Help text for the options above, one per line, for the commands' --help.
const char* timingOptionsHelp();

}  // namespace tweenora::cli
