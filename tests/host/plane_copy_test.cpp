// SPDX-License-Identifier: Apache-2.0
// The node's packed planes copied into a clip frame: channels kept, values placed, no data as
// zeros.
#include "host/plane_copy.h"

#include <vector>

#include <gtest/gtest.h>

namespace tweenora::host {
namespace {

using DD::Image::Chan_Alpha;
using DD::Image::Chan_Blue;
using DD::Image::Chan_Green;
using DD::Image::Chan_Red;

// A packed plane over box holding values, interleaved pixel by pixel.
DD::Image::ImagePlane packedPlane(const DD::Image::Box& box, DD::Image::ChannelSet channels,
                                  const std::vector<float>& values) {
    DD::Image::ImagePlane plane(box, true, channels);
    plane.makeWritable();
    std::copy(values.begin(), values.end(), plane.writable());
    return plane;
}

TEST(FrameFromPlanes, KeepsTheAskedChannelsOfEachPlaneInPlace) {
    const DD::Image::Box box(3, 5, 5, 6);  // two pixels in one row
    const DD::Image::Format format(8, 8);
    const std::vector<DD::Image::ImagePlane> planes = {
        packedPlane(box, DD::Image::Mask_RGBA, {1, 2, 3, 4, 5, 6, 7, 8})};

    const ClipFrame rgb = frameFromPlanes(planes, format, DD::Image::Mask_RGB);
    EXPECT_EQ(rgb.box, box);
    EXPECT_EQ(rgb.format.width(), 8);
    EXPECT_EQ(rgb.planes.count(Chan_Alpha), 0u) << "alpha the output never asked for";
    EXPECT_EQ(rgb.planes.at(Chan_Red), (std::vector<float>{1, 5}));
    EXPECT_EQ(rgb.planes.at(Chan_Green), (std::vector<float>{2, 6}));
    EXPECT_EQ(rgb.planes.at(Chan_Blue), (std::vector<float>{3, 7}));

    const ClipFrame rgba = frameFromPlanes(planes, format, DD::Image::Mask_RGBA);
    EXPECT_EQ(rgba.planes.at(Chan_Alpha), (std::vector<float>{4, 8}));
}

TEST(FrameFromPlanes, APlaneWithoutDataGivesZeros) {
    const DD::Image::Box box(0, 0, 2, 2);
    const std::vector<DD::Image::ImagePlane> planes = {
        DD::Image::ImagePlane(box, true, DD::Image::Mask_RGB)};
    const ClipFrame frame = frameFromPlanes(planes, DD::Image::Format(2, 2), DD::Image::Mask_RGB);
    ASSERT_EQ(frame.planes.size(), 3u);
    for (const auto& [channel, values] : frame.planes) {
        SCOPED_TRACE(DD::Image::getName(channel));
        EXPECT_EQ(values, std::vector<float>(4, 0.0f));
    }
}

}  // namespace
}  // namespace tweenora::host
