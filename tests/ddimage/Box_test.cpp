// SPDX-License-Identifier: Apache-2.0
// Box: exclusive edges, union and overlap of overlapping, nested and disjoint boxes.
#include <DDImage/Box.h>

#include <gtest/gtest.h>

namespace {

using DD::Image::Box;

TEST(Box, RightAndTopAreExclusive) {
    const Box box(2, 3, 10, 7);
    EXPECT_EQ(box.w(), 8);
    EXPECT_EQ(box.h(), 4);
    EXPECT_EQ(box.area(), 32);
    EXPECT_EQ(box.clampx(100), 9);
    EXPECT_EQ(box.clampx(-5), 2);
    EXPECT_EQ(box.clampy(7), 6);
    // 100000 x 100000 overflows a 32-bit int.
    EXPECT_EQ(Box(0, 0, 100000, 100000).area(), int64_t(10000000000));
}

TEST(Box, MergeAndIntersect) {
    const struct {
        const char* name;
        Box a, b, merged, overlap;
        bool intersects;
    } rows[] = {
        {"overlapping", {0, 0, 10, 10}, {5, -2, 12, 4}, {0, -2, 12, 10}, {5, 0, 10, 4}, true},
        {"nested", {0, 0, 10, 10}, {2, 3, 4, 5}, {0, 0, 10, 10}, {2, 3, 4, 5}, true},
        {"disjoint", {0, 0, 10, 10}, {20, 30, 25, 35}, {0, 0, 25, 35}, {20, 30, 20, 30}, false},
        {"touching edges", {0, 0, 10, 10}, {10, 0, 20, 10}, {0, 0, 20, 10}, {10, 0, 10, 10}, false},
        {"empty b", {0, 0, 10, 10}, {50, 50, 50, 60}, {0, 0, 10, 10}, {50, 50, 50, 50}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Box merged = row.a;
        merged.merge(row.b);
        EXPECT_EQ(merged, row.merged);
        Box overlap = row.a;
        overlap.intersect(row.b);
        EXPECT_EQ(overlap, row.overlap);
        EXPECT_GE(overlap.w(), 0);
        EXPECT_GE(overlap.h(), 0);
        EXPECT_EQ(row.a.intersects(row.b), row.intersects);
    }
}

TEST(Box, MergePointAndPadding) {
    Box box(0, 0, 2, 2);
    box.merge(5, -1);
    EXPECT_EQ(box, Box(0, -1, 6, 2));
    box.pad(1);
    EXPECT_EQ(box, Box(-1, -2, 7, 3));
    box.move(1, 2);
    EXPECT_EQ(box, Box(0, 0, 8, 5));
}

}  // namespace
