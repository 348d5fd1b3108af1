// SPDX-License-Identifier: Apache-2.0
// Tweenora's input and output frame ranges, and its _validate.
#include <cstdint>
#include <set>

#include <spdlog/spdlog.h>

#include <DDImage/Iop.h>
#include <DDImage/Knob.h>

#include "diagnostics/logging.h"
#include "node/Tweenora.h"
#include "timing/sampling.h"

namespace tweenora {

void Tweenora::_validate(bool for_real) {
    spdlog::debug("Tweenora::_validate called");
    diagnostics::applyDebugLevel(debug);

    copy_info();
    resolveInputRange();

    if (mode == 0) {
        outputFirstFrame = frame_range_start;
        outputLastFrame = timing::speedModeLastFrame(frame_range_start, frame_range_end, speed);
        // Counts in 64 bits: typed bounds may lie anywhere in the int32 range.
        spdlog::debug("Input range: {} to {} ({} frames)", frame_range_start, frame_range_end,
                      int64_t{frame_range_end} - frame_range_start + 1);
        spdlog::debug("Speed: {}, Output range: {} to {} ({} frames)", speed, outputFirstFrame,
                      outputLastFrame, int64_t{outputLastFrame} - frame_range_start + 1);
    } else {
        const auto [first, last] = getKeyframeRange();
        if (first == -1 || last == -1) {
            outputFirstFrame = frame_range_start;
            outputLastFrame = frame_range_end;
            spdlog::debug("Frame mode: No keyframes found, using input range {} to {}",
                          frame_range_start, frame_range_end);
        } else {
            outputFirstFrame = first;
            outputLastFrame = last;
            spdlog::debug("Frame mode: Using keyframe range {} to {}", first, last);
        }
    }
    info_.first_frame(outputFirstFrame);
    info_.last_frame(outputLastFrame);

    DD::Image::Iop* frame0Input = input(0);
    if (frame0Input)
        set_out_channels(frame0Input->channels());
    // The output box is the union of both source frames' boxes.
    DD::Image::Iop* frame1Input = input(1);
    if (frame1Input) {
        frame1Input->validate(for_real);
        info_.merge(frame1Input->info());
    }
}

void Tweenora::resolveInputRange() {
    if (frame_range_start != kUnsetFrame && frame_range_end != kUnsetFrame)
        return;
    DD::Image::Iop* source = input(0);
    if (!source)
        return;
    source->validate(true);
    // Stored into the knobs too, so the panel and the saved script show the range.
    if (frame_range_start == kUnsetFrame) {
        frame_range_start = source->first_frame();
        if (DD::Image::Knob* k = knob("frame_range_start"))
            k->set_value(frame_range_start, -1);
    }
    if (frame_range_end == kUnsetFrame) {
        frame_range_end = source->last_frame();
        if (DD::Image::Knob* k = knob("frame_range_end"))
            k->set_value(frame_range_end, -1);
    }
}

std::pair<int32_t, int32_t> Tweenora::getKeyframeRange() {
    spdlog::debug("Tweenora::getKeyframeRange called");
    const DD::Image::Knob* outputFrameKnob = knob("output_frame");
    if (!outputFrameKnob) {
        spdlog::warn("Could not find output_frame knob");
        return {-1, -1};
    }
    if (!outputFrameKnob->isAnimated()) {
        spdlog::debug("output_frame knob is not animated (no keyframes)");
        return {-1, -1};
    }
    std::set<int> keys;
    const int keyCount = outputFrameKnob->getKeyList(keys);
    if (keyCount == 0 || keys.empty()) {
        spdlog::debug("output_frame knob has no keyframes");
        return {-1, -1};
    }
    spdlog::debug("output_frame knob has {} keyframes", keyCount);
    const int32_t first = *keys.begin();
    const int32_t last = *keys.rbegin();
    spdlog::debug("First keyframe at frame {}, last keyframe at frame {}", first, last);
    return {first, last};
}

}  // namespace tweenora
