// SPDX-License-Identifier: Apache-2.0
// The interpolation road: fetch both source frames, run the network, write the plane.
#include <algorithm>
#include <iostream>
#include <vector>

#include <ATen/ATen.h>
#include <c10/util/Exception.h>
#include <spdlog/spdlog.h>

#include <DDImage/Application.h>
#include <DDImage/Iop.h>

#include "node/Tweenora.h"
#include "pipeline/error_text.h"
#include "pipeline/inference_pass.h"
#include "pipeline/patch_grid.h"
#include "pipeline/source_fetch.h"
#include "pipeline/tensor_conversion.h"
#include "pipeline/tiling.h"

using namespace DD::Image;

namespace tweenora {

namespace {

// The network takes three channels at a time; a fourth runs as a second group.
constexpr int kMaxModelChannels = 4;

float downscaleFactorFor(int downscaleEntry) {
    switch (downscaleEntry) {
        case 1:
            return 0.5f;
        case 2:
            return 0.25f;
        default:
            return 1.0f;
    }
}

}  // namespace

void Tweenora::renderInterpolated(ImagePlane& outputPlane, const StripeArea& area,
                                  int64_t startTicks) {
    std::vector<Channel> processed;
    foreach (z, area.processedChannels) {
        processed.push_back(z);
    }
    const int nch = int(processed.size());

    const auto [device, gpuInUse] = selectDevice(DeviceCaller::RenderStripe);
    if (!Application::IsGUIActive()) {
        std::cout << node_name() << ": Running inference for layer '" << area.layerChannels
                  << "' on " << (gpuInUse ? "GPU (" + gpu_name + ")" : std::string("CPU"))
                  << std::endl;
    }
    progressMessage("Starting processing...");
    progressFraction(0.0, StatusNone);

    const Box unionBox(area.x, area.y, area.r, area.t);
    try {
        const int nf = std::min(nch, kMaxModelChannels);
        ChannelSet fetchChannels;
        for (int i = 0; i < nf; ++i) {
            fetchChannels += processed[size_t(i)];
        }
        // fetchSourcePlane writes every value, zeros included, so the buffers
        // need no clearing of their own.
        const auto options = at::TensorOptions().dtype(at::kFloat);
        at::Tensor buffer0 = at::empty({nf, area.height, area.width}, options);
        at::Tensor buffer1 = at::empty({nf, area.height, area.width}, options);
        pipeline::fetchSourcePlane(input(0), area.x, area.y, area.r, area.t, fetchChannels, nf,
                                   buffer0.data_ptr<float>());
        pipeline::fetchSourcePlane(input(1), area.x, area.y, area.r, area.t, fetchChannels, nf,
                                   buffer1.data_ptr<float>());
        spdlog::debug("Fetched {} channel(s) from both source frames into union box [{},{},{},{}]",
                      nf, area.x, area.y, area.r, area.t);

        const FrameInfo info = calculateFrameInfo(float(outputContext().frame()));
        spdlog::debug("================================================");
        spdlog::debug("Tweenora::renderStripe outputContext.frame: {}", outputContext().frame());
        spdlog::debug("Tweenora::renderStripe timestep: {}", info.timestep);
        spdlog::debug("================================================");

        if (area.pixels == 0) {
            // An empty union box leaves nothing to interpolate; the plane
            // (wholly outside it) is black.
            pipeline::PlaneWriter(outputPlane, unionBox, area.outChannels);
            progressFraction(1.0, StatusNone);
            progressDismiss();
            return;
        }

        pipeline::InferenceContext ctx;
        ctx.totalPasses = pipeline::totalPasses(
            pipeline::computePatchGrid(area.width, area.height, max_size, overlap, padding), nch);
        ctx.node = this;
        ctx.passesDone = 0;
        ctx.device = device;
        ctx.gpuInUse = gpuInUse;
        ctx.frameInfo = info;
        ctx.downscaleFactor = downscaleFactorFor(downscale);

        const float* data0 = buffer0.data_ptr<float>();
        const float* data1 = buffer1.data_ptr<float>();
        auto runGroup = [&](const pipeline::ChannelTriple& triple) {
            at::Tensor frame1 =
                pipeline::makeGroupTensor(data1, area.height, area.width, area.pixels, triple);
            at::Tensor frame0 =
                pipeline::makeGroupTensor(data0, area.height, area.width, area.pixels, triple);
            return pipeline::tileAndInterpolate(*this, ctx, frame0, frame1);
        };
        at::Tensor result1 = runGroup(pipeline::firstGroupTriple(nch));
        at::Tensor result2;
        if (nch >= 4 && !aborted()) {
            result2 = runGroup(pipeline::secondGroupTriple());
        }
        if (aborted()) {
            return;  // a partly blended frame must not reach the plane; the host drops it
        }
        spdlog::debug("Interpolation pass(es) complete | Shape: {}",
                      pipeline::tensorShapeText(result1));

        at::Tensor squeezed = result1.squeeze(0).contiguous();
        spdlog::debug("{}", pipeline::tensorShapeText(squeezed));
        pipeline::writeResultToPlane(outputPlane, unionBox, input(0), squeezed,
                                     nch >= 4 ? &result2 : nullptr, processed);
        spdlog::debug("outputPlane written (packed) | {} x {}, {} channels",
                      outputPlane.bounds().w(), outputPlane.bounds().h(), area.outChannels);

        progressMessage("Processing complete");
        progressFraction(1.0, StatusNone);
        progressDismiss();
        spdlog::debug("");
        spdlog::debug("========== Tweenora::renderStripe completed successfully ==========");
        if (debug) {
            std::cout << "\n===================================\nTotal time renderStripe: "
                      << (pipeline::clockTicks() - startTicks) / 10000 << "ms" << std::endl;
        }
    } catch (const c10::Error& e) {
        std::cerr << node_name() << ": Torch error in renderStripe: " << e.what() << std::endl;
        error("%s", pipeline::errorMessageFor(e.what_without_backtrace()).c_str());
    } catch (const std::exception& e) {
        std::cerr << node_name() << ": Error in renderStripe: " << e.what() << std::endl;
        error("%s", pipeline::errorMessageFor(e.what()).c_str());
    }
}

}  // namespace tweenora
