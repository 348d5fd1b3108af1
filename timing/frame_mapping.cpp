// SPDX-License-Identifier: Apache-2.0
// Tweenora's frame mapping and the hooks that make the host deliver both source frames.
#include <spdlog/spdlog.h>

#include <DDImage/Box.h>
#include <DDImage/ChannelSet.h>
#include <DDImage/Iop.h>

#include "node/Tweenora.h"
#include "timing/sampling.h"

namespace tweenora {

FrameInfo Tweenora::calculateFrameInfo(float currentFrame) const {
    spdlog::debug("Tweenora::calculateFrameInfo called with currentFrame: {}", currentFrame);
    FrameInfo info;
    if (mode == 0) {
        spdlog::debug("Tweenora::calculateFrameInfo mode: speed");
        // In speed mode the input range start is also outputFirstFrame.
        info = timing::speedModeFrameInfo(currentFrame, frame_range_start, outputFirstFrame,
                                          outputLastFrame, speed);
    } else {
        spdlog::debug("Tweenora::calculateFrameInfo mode: frame");
        // The host has already stored output_frame at the frame being evaluated;
        // the curve may point anywhere, so nothing is clamped.
        info = timing::frameInfoAt(output_frame);
    }
    spdlog::debug("| {:<10} | {:<10} | {:<10} | {:<10} |", "frame0", "frame1", "timestep",
                  "requestedFramePosition");
    spdlog::debug("| {:<10} | {:<10} | {:<10} | {:<10} |", info.frame0, info.frame1, info.timestep,
                  info.requestedFramePosition);
    return info;
}

int Tweenora::split_input(int n) const {
    spdlog::debug("Tweenora::split_input called");
    // Input 0 is used at frame0 (copy 0) and at frame1 (copy 1).
    return n == 0 ? 2 : 1;
}

const DD::Image::OutputContext& Tweenora::inputContext(int n, int offset,
                                                       DD::Image::OutputContext& oc) const {
    spdlog::debug("Tweenora::inputContext called");
    oc = outputContext();
    const double currentFrame = oc.frame();
    spdlog::debug("Tweenora::inputContext currentFrame: {}", currentFrame);
    const FrameInfo info = calculateFrameInfo(static_cast<float>(currentFrame));
    spdlog::debug("Tweenora::inputContext frame0: {}", static_cast<float>(info.frame0));
    spdlog::debug("Tweenora::inputContext frame1: {}", static_cast<float>(info.frame1));
    if (n == 0) {
        if (offset == 0)
            oc.setFrame(static_cast<double>(info.frame0));
        else if (offset == 1)
            oc.setFrame(static_cast<double>(info.frame1));
    }
    return oc;
}

void Tweenora::getRequests(const DD::Image::Box& /*box*/, const DD::Image::ChannelSet& channels,
                           int count, DD::Image::RequestOutput& reqData) const {
    spdlog::debug("Tweenora::getRequests called");
    DD::Image::ChannelSet wanted(channels);
    wanted += input_channels;
    // Both source frames are always asked for whole: the tiler and the network
    // read the full union box whatever part of the output was asked for.
    for (int copy = 0; copy < 2; ++copy) {
        DD::Image::Iop* source = input(copy);
        if (!source)
            continue;
        reqData.request(source, DD::Image::Box(source->x(), source->y(), source->r(), source->t()),
                        wanted, count);
    }
}

void Tweenora::append(DD::Image::Hash& hash) {
    Op::append(hash);
    const FrameInfo info = calculateFrameInfo(static_cast<float>(outputContext().frame()));
    hash.append(static_cast<int>(info.frame0));
    hash.append(static_cast<int>(info.frame1));
    hash.append(info.timestep);
    hash.append(mode);
    hash.append(speed);
    hash.append(output_frame);
    hash.append(mixed_precision);
    hash.append(use_bfloat16);
    hash.append(gpu_supports_bf16);
    hash.append(use_gpu);
    hash.append(steps);
    hash.append(flow_magnitude);
    hash.append(threshold);
    hash.append(downscale);
    hash.append(colorspace_convert);
    hash.append(max_size);
    hash.append(overlap);
    hash.append(padding);
    hash.append(nan_error_threshold);
}

}  // namespace tweenora
