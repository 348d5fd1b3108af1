// SPDX-License-Identifier: Apache-2.0
// How a frame splits into overlapping patches, and the weights that blend them.
#pragma once

#include <cstdint>

namespace at {
class Tensor;
}  // namespace at

namespace tweenora::pipeline {

//! Patch layout of a W x H frame under the max_size, overlap and padding knobs.
//! Per axis: the effective overlap and padding (0 on an axis that is not
//! split), the patch side and the patch count.
struct PatchGrid {
    int32_t overlapX = 0, overlapY = 0;
    int32_t paddingX = 0, paddingY = 0;
    int32_t tileWidth = 0, tileHeight = 0;  //!< the whole frame when not tiling
    int32_t countX = 1, countY = 1;

    //! False when the frame goes to the network whole (grid 1 x 1).
    bool tiling() const { return overlapX != 0 || overlapY != 0; }
    int64_t patchCount() const { return int64_t(countX) * countY; }
};

//! Where patch `index` lies on an axis `length` long, patches `side` long
//! sharing `overlap`: [begin, end), clamped to the axis, and whether it
//! reaches the far edge (patches after the first to reach it are clamped too).
struct PatchSpan {
    int32_t begin = 0, end = 0;
    bool last = false;
};
PatchSpan patchSpan(int32_t index, int32_t side, int32_t overlap, int32_t length);

PatchGrid computePatchGrid(int32_t width, int32_t height, int32_t maxSize, int32_t overlap,
                           int32_t padding);

//! Inference passes one render makes: patches times channel groups (two when
//! the layer has four or more processed channels), at least 1.
int32_t totalPasses(const PatchGrid& grid, int processedChannels);

//! Blend weight of position `index` (row or column) of a patch `size` long on
//! one axis. The leading ramp applies to every patch after the first on the
//! axis, the trailing ramp to every patch that is not last.
float blendWeight(int32_t index, int32_t size, int32_t overlap, int32_t padding, bool firstOnAxis,
                  bool lastOnAxis);

//! [1, 1, rows, cols] float32 CPU: mask(y, x) = weight of row y * weight of column x.
at::Tensor makeBlendMask(int32_t rowIndex, int32_t colIndex, int32_t rows, int32_t cols,
                         int32_t overlapX, int32_t overlapY, int32_t paddingX, int32_t paddingY,
                         bool lastY, bool lastX);

}  // namespace tweenora::pipeline
