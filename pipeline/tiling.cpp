// SPDX-License-Identifier: Apache-2.0
// Runs a frame pair through the network in overlapping patches and blends them.
#include "pipeline/tiling.h"

#include <iostream>

#include <ATen/ATen.h>

#include "node/Tweenora.h"
#include "pipeline/inference_pass.h"
#include "pipeline/patch_grid.h"

namespace tweenora::pipeline {

at::Tensor tileAndInterpolate(Tweenora& node, InferenceContext& ctx, const at::Tensor& img0,
                              const at::Tensor& img1) {
    const auto width = int32_t(img0.size(3));
    const auto height = int32_t(img0.size(2));
    const PatchGrid grid =
        computePatchGrid(width, height, node.max_size, node.overlap, node.padding);
    if (!grid.tiling()) {
        return runInferencePass(ctx, img0, img1);
    }
    if (node.debug) {
        std::cout << node.node_name() << ": tiling " << width << "x" << height << " into "
                  << grid.countX << "x" << grid.countY << " patches (side " << grid.tileWidth << "x"
                  << grid.tileHeight << ", overlap " << grid.overlapX << ", padding "
                  << grid.paddingX << ")" << std::endl;
    }

    at::Tensor accumulator = at::zeros({1, node.modelChannelCount, height, width},
                                       at::TensorOptions().dtype(at::kFloat));
    for (int32_t j = 0; j < grid.countY; ++j) {
        const PatchSpan rows = patchSpan(j, grid.tileHeight, grid.overlapY, height);
        for (int32_t i = 0; i < grid.countX; ++i) {
            const PatchSpan cols = patchSpan(i, grid.tileWidth, grid.overlapX, width);
            auto patchOf = [&](const at::Tensor& image) {
                return image.slice(2, rows.begin, rows.end).slice(3, cols.begin, cols.end);
            };
            at::Tensor patch = runInferencePass(ctx, patchOf(img0), patchOf(img1));
            at::Tensor mask =
                makeBlendMask(j, i, rows.end - rows.begin, cols.end - cols.begin, grid.overlapX,
                              grid.overlapY, grid.paddingX, grid.paddingY, rows.last, cols.last);
            // a + m * (r - a), written straight into the accumulator's view.
            patchOf(accumulator).lerp_(patch, mask);
            if (node.aborted()) {
                return accumulator;
            }
        }
    }
    return accumulator;
}

}  // namespace tweenora::pipeline
