// SPDX-License-Identifier: Apache-2.0
// How a frame splits into overlapping patches, and the weights that blend them.
//
// Along one axis, two neighbouring patches share `o` rows. The later patch
// contributes nothing over the first p of them, fades in linearly over the
// next o - 2p and replaces the earlier patch over the last p:
//
//     earlier patch  ... |<- p ->|<--- o - 2p --->|<- p ->|
//     later patch        |   0   |  0 ... ramp ... 1  | 1 ...
//
// so no pixel within p of a shared edge comes from the patch whose edge it is.
#include "pipeline/patch_grid.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <ATen/ATen.h>

namespace tweenora::pipeline {

namespace {

struct AxisLayout {
    int32_t overlap = 0, padding = 0, side = 0;
};

AxisLayout axisLayout(int32_t length, int32_t maxSize, int32_t overlap, int32_t padding) {
    if (maxSize < length) {
        return {overlap, padding, maxSize};
    }
    return {0, 0, length};
}

int32_t ceilDiv(double numerator, double denominator) {
    return int32_t(std::ceil(numerator / denominator));
}

}  // namespace

PatchGrid computePatchGrid(int32_t width, int32_t height, int32_t maxSize, int32_t overlap,
                           int32_t padding) {
    const auto ov = int32_t(std::max(0.0, std::min(maxSize / 2.5, double(overlap))));
    const auto pd = int32_t(std::max(0.0, std::min(ov * 0.5, double(padding))));
    const AxisLayout x = axisLayout(width, maxSize, ov, pd);
    const AxisLayout y = axisLayout(height, maxSize, ov, pd);

    PatchGrid grid;
    grid.overlapX = x.overlap;
    grid.overlapY = y.overlap;
    grid.paddingX = x.padding;
    grid.paddingY = y.padding;
    grid.tileWidth = x.side;
    grid.tileHeight = y.side;
    if (!grid.tiling()) {
        grid.tileWidth = width;  // one patch: the whole frame
        grid.tileHeight = height;
        return grid;
    }
    grid.countX = ceilDiv(width, grid.tileWidth - grid.overlapX);
    grid.countY = ceilDiv(height, grid.tileHeight - grid.overlapY);
    // Spread the patches evenly instead of leaving a sliver at the far edge.
    if (grid.countX >= 2) {
        grid.tileWidth = ceilDiv(double(width) + double(grid.countX) * grid.overlapX, grid.countX);
    }
    if (grid.countY >= 2) {
        grid.tileHeight =
            ceilDiv(double(height) + double(grid.countY) * grid.overlapY, grid.countY);
    }
    return grid;
}

PatchSpan patchSpan(int32_t index, int32_t side, int32_t overlap, int32_t length) {
    PatchSpan span;
    span.begin = index * (side - overlap);
    span.end = std::min(span.begin + side, length);
    span.last = span.begin + side >= length;
    return span;
}

int32_t totalPasses(const PatchGrid& grid, int processedChannels) {
    const int64_t groups = processedChannels >= 4 ? 2 : 1;
    return int32_t(std::max<int64_t>(1, grid.patchCount() * groups));
}

float blendWeight(int32_t index, int32_t size, int32_t overlap, int32_t padding, bool firstOnAxis,
                  bool lastOnAxis) {
    const int32_t n = size, o = overlap, p = padding, h = padding / 2;
    float w = 1.0f;
    // The range tests keep both divisions away from zero: the leading ramp is
    // empty when o == 2p, and a one-row trailing ramp (p - h - 1 == 0) is 1.
    if (!firstOnAxis) {
        if (index < p) {
            w = 0.0f;
        } else if (index < o - p) {
            w = float(index - p) / float(o - 2 * p);
        }
    }
    if (!lastOnAxis) {
        if (index > n - h - 1) {
            w = 0.0f;
        } else if (index >= n - p) {
            const int32_t span = p - h - 1;
            w = span == 0 ? 1.0f : 1.0f - float(index - (n - p)) / float(span);
        }
    }
    return w;
}

at::Tensor makeBlendMask(int32_t rowIndex, int32_t colIndex, int32_t rows, int32_t cols,
                         int32_t overlapX, int32_t overlapY, int32_t paddingX, int32_t paddingY,
                         bool lastY, bool lastX) {
    rows = std::max(rows, 0);
    cols = std::max(cols, 0);
    at::Tensor mask = at::ones({1, 1, rows, cols}, at::TensorOptions().dtype(at::kFloat));
    std::vector<float> columnWeights(size_t(cols), 1.0f);
    for (int32_t x = 0; x < cols; ++x) {
        columnWeights[size_t(x)] = blendWeight(x, cols, overlapX, paddingX, colIndex == 0, lastX);
    }
    float* out = mask.data_ptr<float>();
    for (int32_t y = 0; y < rows; ++y) {
        const float wy = blendWeight(y, rows, overlapY, paddingY, rowIndex == 0, lastY);
        for (int32_t x = 0; x < cols; ++x) {
            *out++ = wy * columnWeights[size_t(x)];
        }
    }
    return mask;
}

}  // namespace tweenora::pipeline
