// SPDX-License-Identifier: Apache-2.0
// Frame numbers as the node sees them: relative to the clip, so its float32 timing stays exact.
#include "cli/frame_numbering.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>
#include <utility>

#include "cli/messages.h"
#include "host/Error.h"

namespace tweenora::cli {
namespace {

constexpr int64_t kLowest = std::numeric_limits<int32_t>::min();
constexpr int64_t kHighest = std::numeric_limits<int32_t>::max();

Error unnumbered(int64_t frame) {
    return Error("output frame " + std::to_string(frame) +
                 " cannot be numbered: frame numbers run from " + std::to_string(kLowest) + " to " +
                 std::to_string(kHighest) + " (start the input range lower, or choose " +
                 "a shorter retime)");
}

class RenumberedFrames : public media::ForwardingInputFrames {
public:
    RenumberedFrames(std::unique_ptr<media::InputFrames> frames, FrameNumbering numbering)
        : ForwardingInputFrames(std::move(frames)), numbering_(numbering) {}

    int firstFrame() const override {
        return numbering_.toNode(ForwardingInputFrames::firstFrame());
    }
    int lastFrame() const override { return numbering_.toNode(ForwardingInputFrames::lastFrame()); }
    std::shared_ptr<const host::ClipFrame> load(int frame) override {
        const int64_t own = frame + numbering_.base();
        // Beyond int32 lies outside every clip: the host then holds the nearest frame.
        if (own < kLowest || own > kHighest)
            return nullptr;
        return ForwardingInputFrames::load(int(own));
    }

private:
    FrameNumbering numbering_;
};

}  // namespace

FrameNumbering FrameNumbering::forTiming(const TimingOptions& timing) {
    int64_t base = kHighest;
    if (timing.range)
        base = std::min<int64_t>({base, timing.range->start, timing.range->end});
    for (const FrameKey& key : timing.frameKeys)
        base = std::min<int64_t>(base, int64_t(std::floor(key.frame)));
    return FrameNumbering(base == kHighest && !timing.range ? 0 : base);
}

int32_t FrameNumbering::toNode(int64_t frame) const {
    const int64_t nodeFrame = frame - base_;
    if (nodeFrame < kLowest || nodeFrame > kHighest)
        throw unnumbered(frame);
    return int32_t(nodeFrame);
}

int32_t FrameNumbering::toUser(int32_t nodeFrame) const {
    const int64_t frame = nodeFrame + base_;
    if (nodeFrame == kLowest || nodeFrame == kHighest || frame < kLowest || frame > kHighest)
        throw unnumbered(frame);
    return int32_t(frame);
}

TimingOptions FrameNumbering::toNode(const TimingOptions& timing) const {
    TimingOptions shifted = timing;
    if (timing.range)
        shifted.range = InputRange{toNode(timing.range->start), toNode(timing.range->end)};
    // A key's frame is a whole number and its value a double: both shift exactly.
    for (FrameKey& key : shifted.frameKeys) {
        toNode(int64_t(std::floor(key.frame)));
        key.frame -= double(base_);
        key.value -= double(base_);
    }
    if (timing.frames)
        for (int32_t& frame : *shifted.frames)
            frame = toNode(frame);
    // Knobs that hold frame numbers, set by --set, are numbered as the node sees them too.
    for (auto& [knob, value] : shifted.knobValues) {
        if (knob != "frame_range_start" && knob != "frame_range_end" && knob != "output_frame")
            continue;
        double number = 0.0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
        if (ec == std::errc() && end == value.data() + value.size() && std::isfinite(number))
            value = shortestText(number - double(base_));
    }
    return shifted;
}

std::unique_ptr<media::InputFrames> renumbered(std::unique_ptr<media::InputFrames> frames,
                                               const FrameNumbering& numbering) {
    return std::make_unique<RenumberedFrames>(std::move(frames), numbering);
}

}  // namespace tweenora::cli
