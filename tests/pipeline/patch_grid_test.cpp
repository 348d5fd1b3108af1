// SPDX-License-Identifier: Apache-2.0
// Patch grids, patch positions, pass counts and blend weights.
#include "pipeline/patch_grid.h"

#include <string>
#include <vector>

#include <ATen/ATen.h>
#include <gtest/gtest.h>

namespace tweenora::pipeline {
namespace {

TEST(PatchGrid, SplitsOnlyAxesLongerThanMaxSize) {
    struct Row {
        std::string name;
        int width, height, maxSize, overlap, padding;
        bool tiling;
        int overlapX, overlapY, paddingX, paddingY, tileWidth, tileHeight, countX, countY;
    };
    const std::vector<Row> rows = {
        {"UHD with the defaults", 3840, 2160, 4500, 512, 64, false, 0, 0, 0, 0, 3840, 2160, 1, 1},
        // x: ceil(7680 / 3988) = 2 columns, side ceil((7680 + 2 * 512) / 2) = 4352.
        {"8K with the defaults", 7680, 4320, 4500, 512, 64, true, 512, 0, 64, 0, 4352, 4320, 2, 1},
        // Overlap min(1024 / 2.5, 512) = 409; ceil(1231 / 615) = 3; ceil(2458 / 3) = 820.
        {"1231 wide into three", 1231, 100, 1024, 512, 64, true, 409, 0, 64, 0, 820, 100, 3, 1},
        {"overlap 0 never tiles", 10000, 10000, 1024, 0, 64, false, 0, 0, 0, 0, 10000, 10000, 1, 1},
        {"max size 2 never tiles", 100, 100, 2, 512, 64, false, 0, 0, 0, 0, 100, 100, 1, 1},
        {"exactly max size wide", 4500, 100, 4500, 512, 64, false, 0, 0, 0, 0, 4500, 100, 1, 1},
        // Overlap capped at 1000 / 2.5 = 400; ceil(3000 / 600) = 5; ceil(5000 / 5) = 1000.
        {"overlap capped", 3000, 10, 1000, 600, 64, true, 400, 0, 64, 0, 1000, 10, 5, 1},
        // Padding capped at half of overlap 101, truncated: 50; ceil(3404 / 4) = 851.
        {"padding capped", 3000, 10, 1000, 101, 64, true, 101, 0, 50, 0, 851, 10, 4, 1},
        // Only rows split: ceil(3000 / 600) = 5 rows of ceil(5000 / 5) = 1000.
        {"only rows", 100, 3000, 1000, 400, 64, true, 0, 400, 0, 64, 100, 1000, 1, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const PatchGrid grid =
            computePatchGrid(row.width, row.height, row.maxSize, row.overlap, row.padding);
        EXPECT_EQ(grid.tiling(), row.tiling);
        EXPECT_EQ(grid.overlapX, row.overlapX);
        EXPECT_EQ(grid.overlapY, row.overlapY);
        EXPECT_EQ(grid.paddingX, row.paddingX);
        EXPECT_EQ(grid.paddingY, row.paddingY);
        EXPECT_EQ(grid.tileWidth, row.tileWidth);
        EXPECT_EQ(grid.tileHeight, row.tileHeight);
        EXPECT_EQ(grid.countX, row.countX);
        EXPECT_EQ(grid.countY, row.countY);
    }
}

TEST(PatchGrid, PlacesPatchesAndClampsThoseAtTheEdge) {
    struct Row {
        int index, side, overlap, length;
        PatchSpan expected;
    };
    const std::vector<Row> rows = {
        {0, 4352, 512, 7680, {0, 4352, false}}, {1, 4352, 512, 7680, {3840, 7680, true}},
        {0, 820, 409, 1231, {0, 820, false}},   {1, 820, 409, 1231, {411, 1231, true}},
        {2, 820, 409, 1231, {822, 1231, true}},  // repeats the right part of the second
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "patch " << row.index << " of " << row.length);
        const PatchSpan span = patchSpan(row.index, row.side, row.overlap, row.length);
        EXPECT_EQ(span.begin, row.expected.begin);
        EXPECT_EQ(span.end, row.expected.end);
        EXPECT_EQ(span.last, row.expected.last);
    }
}

TEST(PatchGrid, CountsPassesPerPatchAndChannelGroup) {
    struct Row {
        int width, height, maxSize, overlap, channels, passes;
    };
    const std::vector<Row> rows = {
        {1920, 1080, 4500, 512, 3, 1},  {1920, 1080, 4500, 512, 4, 2},
        {8000, 4000, 4500, 512, 3, 3},  // ceil(8000 / 3988) x 1
        {8000, 4000, 4500, 512, 4, 6},  {8000, 4000, 4500, 512, 7, 6},
        {8000, 8000, 1024, 0, 1, 1},    {8000, 8000, 1024, 0, 4, 2},
        {1231, 2000, 1024, 512, 2, 12},  // 3 columns x ceil(2000 / 615) = 4 rows
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << row.width << "x" << row.height << ", " << row.channels << " channels");
        const PatchGrid grid =
            computePatchGrid(row.width, row.height, row.maxSize, row.overlap, 64);
        EXPECT_EQ(totalPasses(grid, row.channels), row.passes);
    }
}

TEST(BlendWeight, FadesTheSecond8kPatchInOver384Columns) {
    // Second patch of the 7680 row: columns 3840..7679, overlap 512, padding 64.
    struct Row {
        int column;
        float weight;
    };
    const std::vector<Row> rows = {{0, 0.0f},           {63, 0.0f},  {64, 0.0f},  {256, 0.5f},
                                   {447, 383.0f / 384}, {448, 1.0f}, {3839, 1.0f}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.column);
        EXPECT_FLOAT_EQ(blendWeight(row.column, 3840, 512, 64, false, true), row.weight);
    }
    // The first patch fades out over its last 64 columns, inside the band the
    // second patch replaces.
    EXPECT_FLOAT_EQ(blendWeight(4287, 4352, 512, 64, true, false), 1.0f);
    EXPECT_FLOAT_EQ(blendWeight(4288, 4352, 512, 64, true, false), 1.0f);
    EXPECT_FLOAT_EQ(blendWeight(4319, 4352, 512, 64, true, false), 0.0f);
    EXPECT_FLOAT_EQ(blendWeight(4320, 4352, 512, 64, true, false), 0.0f);
}

TEST(BlendWeight, ShortTrailingRampsEndOnFullWeight) {
    struct Row {
        int padding;
        std::vector<float> lastRows;  // weights of rows 6..9 of a 10-row patch
    };
    const std::vector<Row> rows = {
        {0, {1, 1, 1, 1}},
        {1, {1, 1, 1, 1}},  // a one-row ramp (p - h - 1 == 0) keeps weight 1
        {2, {1, 1, 1, 0}},  // row n - 2 is 1, the last row 0
        {3, {1, 1, 0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "padding " << row.padding);
        for (int y = 6; y < 10; ++y) {
            EXPECT_FLOAT_EQ(blendWeight(y, 10, 8, row.padding, true, false),
                            row.lastRows[size_t(y - 6)])
                << "row " << y;
        }
    }
}

TEST(BlendWeight, StaysFiniteWhereARampHasNoWidth) {
    // overlap == 2 * padding leaves no leading ramp, and an axis that is not
    // split has overlap and padding 0: neither may divide by zero.
    for (int y = 0; y < 12; ++y) {
        SCOPED_TRACE(y);
        EXPECT_FLOAT_EQ(blendWeight(y, 12, 8, 4, false, true), y < 4 ? 0.0f : 1.0f);
        EXPECT_FLOAT_EQ(blendWeight(y, 12, 0, 0, false, false), 1.0f);
        // Padding above half the overlap cannot come from the grid; still finite.
        const float w = blendWeight(y, 12, 4, 5, false, false);
        EXPECT_TRUE(w >= 0.0f && w <= 1.0f);
    }
}

TEST(MakeBlendMask, MultipliesRowWeightsByColumnWeights) {
    // Rows: second patch, last, overlap 4, padding 1 -> 0, 0, 0.5, 1, 1, 1.
    // Columns: first patch, not last, overlap 4, padding 2 -> 1, 1, 1, 1, 1, 0.
    const at::Tensor mask = makeBlendMask(1, 0, 6, 6, 4, 4, 2, 1, true, false);
    ASSERT_EQ(mask.sizes(), (std::vector<int64_t>{1, 1, 6, 6}));
    ASSERT_EQ(mask.scalar_type(), at::kFloat);
    const std::vector<float> rowWeights = {0, 0, 0.5f, 1, 1, 1};
    const std::vector<float> columnWeights = {1, 1, 1, 1, 1, 0};
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 6; ++x) {
            EXPECT_FLOAT_EQ(mask[0][0][y][x].item<float>(), rowWeights[y] * columnWeights[x])
                << "at " << y << ", " << x;
        }
    }
    EXPECT_EQ(makeBlendMask(1, 1, -3, 4, 0, 0, 0, 0, true, true).numel(), 0);
}

}  // namespace
}  // namespace tweenora::pipeline
