// SPDX-License-Identifier: Apache-2.0
// ImagePlane: packed and unpacked addressing agree with chanNo, and data is
// zero-filled on allocation and un-shared before writing.
#include <DDImage/ImagePlane.h>

#include <gtest/gtest.h>

namespace {

using namespace DD::Image;

TEST(ImagePlane, ChanNoIsTheRankInTheSet) {
    const ImagePlane rgb(Box(0, 0, 1, 1), true, Mask_RGB);
    EXPECT_EQ(rgb.chanNo(Chan_Green), 1);
    EXPECT_EQ(rgb.chanNo(Chan_Alpha), -1);
    const ImagePlane rgbaz(Box(0, 0, 1, 1), true, Mask_RGBA | Mask_Z);
    EXPECT_EQ(rgbaz.chanNo(Chan_Alpha), 3);
    EXPECT_EQ(rgbaz.chanNo(Chan_Z), 4);
    EXPECT_EQ(ImagePlane(Box(0, 0, 1, 1), false, Mask_Blue | Mask_Z).chanNo(Chan_Z), 1);
}

TEST(ImagePlane, PackedAndUnpackedAddressing) {
    // A 3 x 2 box at (10, 20) holding green, blue and depth.
    const Box box(10, 20, 13, 22);
    const ChannelSet channels(Mask_Green | Mask_Blue | Mask_Z);
    const struct {
        bool packed;
        int col, row, chan;
    } rows[] = {{true, 3, 9, 1}, {false, 1, 3, 6}};
    for (const auto& layout : rows) {
        SCOPED_TRACE(layout.packed ? "packed" : "unpacked");
        ImagePlane plane(box, layout.packed, channels, 3);
        EXPECT_EQ(plane.colStride(), layout.col);
        EXPECT_EQ(plane.rowStride(), layout.row);
        EXPECT_EQ(plane.chanStride(), layout.chan);
        EXPECT_EQ(plane.readable(), nullptr);
        plane.makeWritable();
        ASSERT_NE(plane.readable(), nullptr);
        EXPECT_EQ(plane.usage(), 18 * sizeof(float));
        for (int y = 20; y < 22; ++y)
            for (int x = 10; x < 13; ++x)
                foreach (z, channels)
                    plane.writableAt(x, y, plane.chanNo(z)) =
                        float(100 * z + 10 * (y - 20) + x - 10);
        // Depth (slot 2) at (10, 21), worked by hand for each layout.
        const int index = layout.packed ? (1 * 3 + 0) * 3 + 2 : 2 * 6 + 1 * 3 + 0;
        EXPECT_EQ(plane.readable()[index], 510.0f);
        EXPECT_EQ(plane.at(11, 20, Chan_Green), 201.0f);
        EXPECT_EQ(plane.at(10, 21, 1), 310.0f);
    }
}

TEST(ImagePlane, CopiesShareDataUntilWritten) {
    ImagePlane original(Box(0, 0, 2, 2), true, Mask_RGB);
    original.makeWritable();
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(original.readable()[i], 0.0f);
    original.writableAt(0, 0, 0) = 1.0f;
    ImagePlane copy = original;
    EXPECT_EQ(copy.readable(), original.readable());
    copy.makeWritable();
    copy.writableAt(0, 0, 0) = 2.0f;
    EXPECT_EQ(original.at(0, 0, 0), 1.0f);
    EXPECT_EQ(copy.at(0, 0, 0), 2.0f);
    // writable() without makeWritable() must not write into a shared block either.
    ImagePlane second = original;
    second.writable()[0] = 3.0f;
    EXPECT_EQ(original.at(0, 0, 0), 1.0f);
}

TEST(ImagePlane, CopyIntersectionConvertsLayout) {
    ImagePlane source(Box(0, 0, 4, 4), true, Mask_RGBA);
    source.makeWritable();
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 4; ++c)
                source.writableAt(x, y, c) = float(100 * c + 10 * y + x);
    ImagePlane dest(Box(2, 3, 6, 5), false, Mask_Blue | Mask_Z);
    dest.makeWritable();
    dest.copyIntersectionFrom(source);
    EXPECT_EQ(dest.at(3, 3, dest.chanNo(Chan_Blue)), 233.0f);
    EXPECT_EQ(dest.at(4, 3, dest.chanNo(Chan_Blue)), 0.0f);  // outside the source
    EXPECT_EQ(dest.at(2, 3, dest.chanNo(Chan_Z)), 0.0f);     // not in the source
}

}  // namespace
