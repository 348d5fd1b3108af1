// SPDX-License-Identifier: Apache-2.0
// Group tensors from planar buffers, shape texts, and writing results into planes.
#include "pipeline/tensor_conversion.h"

#include <string>
#include <vector>

#include <ATen/ATen.h>
#include <c10/util/Exception.h>
#include <gtest/gtest.h>

#include <DDImage/ImagePlane.h>

#include "tests/pipeline/pipeline_test_support.h"

namespace tweenora::pipeline {
namespace {

using tweenora::testing::filledPlane;

using DD::Image::Box;
using DD::Image::ImagePlane;

// Plane c of the buffer holds 100 * c + the pixel's index.
std::vector<float> planarBuffer(int planes, int height, int width) {
    std::vector<float> buffer(size_t(planes * height * width));
    for (int c = 0; c < planes; ++c) {
        for (int i = 0; i < height * width; ++i) {
            buffer[size_t(c * height * width + i)] = float(100 * c + i);
        }
    }
    return buffer;
}

TEST(MakeGroupTensor, FeedsEachLayerSizeItsChannelTriple) {
    const int height = 3, width = 4;
    const std::vector<float> buffer = planarBuffer(4, height, width);
    struct Row {
        int channels;
        bool secondGroup;
        std::vector<int> planes;
    };
    const std::vector<Row> rows = {{1, false, {0, 0, 0}}, {2, false, {0, 1, 0}},
                                   {3, false, {0, 1, 2}}, {4, false, {0, 1, 2}},
                                   {4, true, {3, 3, 3}},  {6, true, {3, 3, 3}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << row.channels << " channels, group " << (row.secondGroup ? 2 : 1));
        const ChannelTriple triple =
            row.secondGroup ? secondGroupTriple() : firstGroupTriple(row.channels);
        const at::Tensor group =
            makeGroupTensor(buffer.data(), height, width, height * width, triple);
        ASSERT_EQ(group.sizes(), (std::vector<int64_t>{1, 3, height, width}));
        EXPECT_TRUE(group.is_contiguous());
        for (int k = 0; k < 3; ++k) {
            // Value at row 2, column 1 (pixel index 9) of the expected plane.
            EXPECT_EQ(group[0][k][2][1].item<float>(), float(100 * row.planes[size_t(k)] + 9));
        }
    }
}

TEST(TensorShapeText, ListsTheSizes) {
    EXPECT_EQ(tensorShapeText(at::empty({1, 3, 4, 5})), "[1, 3, 4, 5]");
    EXPECT_EQ(tensorShapeText(at::empty({7})), "[7]");
    EXPECT_EQ(tensorShapeText(at::scalar_tensor(1.0)), "[]");
}

TEST(PlaneWriter, CopiesTheOverlapAndZeroesTheRest) {
    // Two channels over the area (10, 20)-(14, 23): value 1000 * c + 10 * y + x.
    const Box area(10, 20, 14, 23);
    at::Tensor planes = at::empty({2, 3, 4});
    for (int c = 0; c < 2; ++c) {
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 4; ++x) {
                planes[c][y][x] = 1000 * c + 10 * (area.y() + y) + (area.x() + x);
            }
        }
    }
    const DD::Image::ChannelSet channels = DD::Image::Mask_Red | DD::Image::Mask_Green;
    struct Row {
        std::string name;
        Box planeBox;
    };
    const std::vector<Row> rows = {{"same box", area},
                                   {"larger", Box(8, 19, 16, 25)},
                                   {"smaller", Box(11, 21, 13, 22)},
                                   {"overlapping a corner", Box(12, 22, 18, 26)},
                                   {"disjoint", Box(0, 0, 5, 5)}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ImagePlane plane = filledPlane(row.planeBox, channels, -7.0f);
        PlaneWriter(plane, area, 2).writeChannels(planes);
        const Box& b = row.planeBox;
        ASSERT_EQ(plane.usage(), size_t(b.area()) * 2 * sizeof(float));
        for (int y = b.y(); y < b.t(); ++y) {
            for (int x = b.x(); x < b.r(); ++x) {
                const bool inside = x >= area.x() && x < area.r() && y >= area.y() && y < area.t();
                for (int c = 0; c < 2; ++c) {
                    const float expected = inside ? float(1000 * c + 10 * y + x) : 0.0f;
                    // Packed: channels interleaved per pixel, rows from y upwards.
                    const size_t index = size_t(((y - b.y()) * b.w() + (x - b.x())) * 2 + c);
                    ASSERT_EQ(plane.readable()[index], expected) << x << ", " << y << ", " << c;
                }
            }
        }
    }
}

// [3, H, W] whose channel c holds `base + c` everywhere.
at::Tensor constantChannels(int height, int width, float base) {
    return at::arange(3, at::TensorOptions().dtype(at::kFloat))
        .add(base)
        .view({3, 1, 1})
        .expand({3, height, width})
        .contiguous();
}

TEST(WriteResultToPlane, LeavesThePlaneUntouchedWhenAResultDoesNotFit) {
    const Box area(0, 0, 4, 4);
    ImagePlane plane = filledPlane(area, DD::Image::Mask_RGB, 5.0f);
    const at::Tensor tooSmall = constantChannels(2, 2, 1.0f);
    EXPECT_THROW(
        writeResultToPlane(plane, area, nullptr, tooSmall, nullptr,
                           {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue}),
        c10::Error);
    for (int i = 0; i < 48; ++i) {
        ASSERT_EQ(plane.readable()[i], 5.0f);
    }
}

}  // namespace
}  // namespace tweenora::pipeline
