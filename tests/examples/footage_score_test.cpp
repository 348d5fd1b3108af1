// SPDX-License-Identifier: Apache-2.0
// The one score of in-between frames: capped PSNR, IE, the averaging baseline.
#include "examples/footage_score.h"

#include <cmath>

#include <gtest/gtest.h>

#include "host/Error.h"

namespace tweenora::examples {
namespace {

Rgb8 picture(int width, int height, unsigned char value) {
    return {width, height, std::vector<unsigned char>(size_t(width) * height * 3, value)};
}

TEST(FootageScore, IdenticalFramesScoreTheCapAndSmallErrorsStayBelowIt) {
    const Rgb8 truth = picture(4, 2, 100);
    const Score same = score(truth, truth);
    EXPECT_EQ(same.psnr, kPsnrCap);
    EXPECT_EQ(same.ie, 0.0);

    // Every value off by 2: MSE 4, PSNR 20 log10(255 / 2) = 42.11 dB, IE 2.
    const Score off = score(picture(4, 2, 102), truth);
    EXPECT_NEAR(off.psnr, 42.1102, 1e-4);
    EXPECT_EQ(off.ie, 2.0);

    // One value off by 1 in a large frame: the formula would pass the cap.
    Rgb8 large = picture(2000, 1000, 50);
    const Rgb8 largeTruth = large;
    large.values[17] = 51;
    EXPECT_EQ(score(large, largeTruth).psnr, kPsnrCap);
}

TEST(FootageScore, RefusesFramesOfAnotherSize) {
    EXPECT_THROW(score(picture(4, 2, 0), picture(2, 4, 0)), Error);
}

TEST(FootageScore, AveragingRoundsHalfUp) {
    Rgb8 a = picture(1, 1, 0), b = picture(1, 1, 0);
    a.values = {0, 10, 255};
    b.values = {1, 13, 254};
    EXPECT_EQ(averaged(a, b).values, (std::vector<unsigned char>{1, 12, 255}));
}

}  // namespace
}  // namespace tweenora::examples
