// SPDX-License-Identifier: Apache-2.0
// The rules every reader and writer shares: frame spans, integer samples, rows copied from the top.
#include "media/frames.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tweenora::media {
namespace {

TEST(FrameSpan, OnlyAnOrderedSpanPasses) {
    EXPECT_NO_THROW(requireOrdered({3, 3}, "--range"));
    EXPECT_NO_THROW(requireOrdered({-5, 2}, "--range"));
    try {
        requireOrdered({5, 3}, "input range");
        FAIL() << "a span ending before it starts passed";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "input range 5-3 ends before it starts");
    }
}

TEST(SampleTypes, OnlyHalfAndFloatAreSceneReferred) {
    EXPECT_TRUE(isIntegerSample(SampleType::UInt8));
    EXPECT_TRUE(isIntegerSample(SampleType::UInt16));
    EXPECT_TRUE(isIntegerSample(SampleType::OtherInteger));
    EXPECT_FALSE(isIntegerSample(SampleType::Half));
    EXPECT_FALSE(isIntegerSample(SampleType::Float));
}

// A 2 x 2 box holding 1, 2 (bottom row) and 3, 4 (top row), at (1, 1).
TEST(CopyRowsFromTop, FlipsRowsAndClipsToTheRegion) {
    const std::vector<float> plane = {1, 2, 3, 4};
    const DD::Image::Box box(1, 1, 3, 3);
    struct Row {
        const char* name;
        DD::Image::Box region;
        size_t step;
        std::vector<float> expected;  // -1 where nothing was written
    };
    const Row rows[] = {
        {"region is the box", box, 1, {3, 4, 1, 2}},
        {"region around the box, black border kept",
         DD::Image::Box(0, 0, 4, 4),
         1,
         {-1, -1, -1, -1, -1, 3, 4, -1, -1, 1, 2, -1, -1, -1, -1, -1}},
        {"region cutting the box's right column and top row",
         DD::Image::Box(0, 0, 2, 2),
         1,
         {-1, 1, -1, -1}},
        {"interleaved, every other value", box, 2, {3, -1, 4, -1, 1, -1, 2, -1}},
        {"region beside the box", DD::Image::Box(5, 5, 7, 6), 1, {-1, -1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<float> out(row.expected.size(), -1.0f);
        copyRowsFromTop(plane, box, row.region, out.data(), row.step);
        EXPECT_EQ(out, row.expected);
    }
}

}  // namespace
}  // namespace tweenora::media
