// SPDX-License-Identifier: Apache-2.0
// renderStripe: picks the road for one output plane and runs the two short ones.
#include <algorithm>
#include <iostream>

#include <ATen/ATen.h>
#include <spdlog/spdlog.h>

#include <DDImage/Iop.h>

#include "diagnostics/logging.h"
#include "node/Tweenora.h"
#include "pipeline/inference_pass.h"
#include "pipeline/source_fetch.h"
#include "pipeline/tensor_conversion.h"
#include "timing/sampling.h"

using namespace DD::Image;

namespace tweenora {

namespace {

// The plane is one whole source frame: fetched over the union box and written
// as it is, every channel of the layer from the same frame.
void copySourceFrame(Iop* source, ImagePlane& plane, const StripeArea& area) {
    // A plane that lies within the source's box, for channels the source has,
    // holds exactly what the source delivers: let the source fill it, with
    // no copy of ours in between.
    if (source != nullptr && source->info().box().contains(plane.bounds()) &&
        source->channels().contains(plane.channels())) {
        plane.makeWritable();
        source->fetchPlane(plane);
        return;
    }
    at::Tensor frame = at::empty({area.outChannels, area.height, area.width},
                                 at::TensorOptions().dtype(at::kFloat));
    pipeline::fetchSourcePlane(source, area.x, area.y, area.r, area.t, area.layerChannels,
                               area.outChannels, frame.data_ptr<float>());
    pipeline::PlaneWriter(plane, Box(area.x, area.y, area.r, area.t), area.outChannels)
        .writeChannels(frame);
}

}  // namespace

void Tweenora::renderStripe(ImagePlane& outputPlane) {
    // These two still follow the level the previous call left.
    spdlog::debug("");
    spdlog::debug("========== Tweenora::renderStripe started ==========");
    diagnostics::applyDebugLevel(debug);
    const int64_t startTicks = pipeline::clockTicks();

    if (aborted() || cancelled()) {
        spdlog::debug(
            "========== renderStripe aborted or cancelled. Exiting... ===================");
        spdlog::debug(
            "============================================================================");
        return;
    }
    Iop* frame0Source = input(0);
    if (frame0Source == nullptr || !frame0Source->tryValidate(true)) {
        spdlog::debug("Input validation failed.");
        return;
    }
    Iop* frame1Source = input(1);

    Box unionBox = frame0Source->info().box();
    if (frame1Source != nullptr) {
        unionBox.merge(frame1Source->info().box());
    }
    StripeArea area;
    area.x = unionBox.x();
    area.y = unionBox.y();
    area.r = unionBox.r();
    area.t = unionBox.t();
    area.width = std::max(0, unionBox.w());
    area.height = std::max(0, unionBox.h());
    area.pixels = int64_t(area.width) * area.height;
    area.layerChannels = outputPlane.channels();
    area.outChannels = int(area.layerChannels.size());
    area.processedChannels = area.layerChannels;
    area.processedChannels &= input_channels;

    if (area.processedChannels.empty()) {
        copySourceFrame(frame0Source, outputPlane, area);
        if (debug) {
            std::cout << node_name() << ": renderStripe for layer '" << area.layerChannels
                      << "' (copy straight through, not in channels)." << std::endl;
        }
        return;
    }

    const FrameInfo info = calculateFrameInfo(float(outputContext().frame()));
    const timing::SourceRoad road = timing::sourceRoad(info.timestep, threshold);
    if (road != timing::SourceRoad::Interpolate) {
        const bool nearFrame0 = road == timing::SourceRoad::Frame0;
        copySourceFrame(nearFrame0 ? frame0Source : frame1Source, outputPlane, area);
        if (debug) {
            std::cout << node_name() << ": renderStripe for layer '" << area.layerChannels
                      << "' (threshold fast-path: source frame "
                      << (nearFrame0 ? info.frame0 : info.frame1) << " returned unprocessed"
                      << ", timestep " << info.timestep << ")." << std::endl;
        }
        return;
    }

    renderInterpolated(outputPlane, area, startTicks);
}

}  // namespace tweenora
