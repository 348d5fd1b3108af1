// SPDX-License-Identifier: Apache-2.0
// The sRGB transfer pair and the one rule for when stored values carry it.
#include "media/colour/transfer.h"

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "host/Error.h"

namespace tweenora::media {
namespace {

TEST(Transfer, SrgbUnderAutoOnlyForDisplayReferredStorage) {
    struct Row {
        Colorspace colorspace;
        bool displayReferred;
        bool carries;
    };
    const Row rows[] = {
        {Colorspace::Auto, true, true},    {Colorspace::Auto, false, false},
        {Colorspace::Srgb, true, true},    {Colorspace::Srgb, false, true},
        {Colorspace::Linear, true, false}, {Colorspace::Linear, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << int(row.colorspace) << " display-referred " << row.displayReferred);
        EXPECT_EQ(carriesSrgb(row.colorspace, row.displayReferred), row.carries);
    }
}

TEST(Colour, SrgbPairMatchesTheStandardAndInvertsOnEveryByte) {
    EXPECT_NEAR(srgbToLinear(0.5f), 0.214041f, 1e-6f);
    EXPECT_NEAR(srgbToLinear(0.04f), 0.04f / 12.92f, 1e-9f);
    EXPECT_NEAR(linearToSrgb(0.18f), 0.461356f, 1e-6f);
    EXPECT_FLOAT_EQ(linearToSrgb(1.0f), 1.0f);
    for (int code = 0; code < 256; ++code) {
        SCOPED_TRACE(code);
        const float back = linearToSrgb(srgbToLinear(code / 255.0f)) * 255.0f;
        EXPECT_EQ(std::lround(back), code);
    }
}

TEST(Colour, HdrPairsMatchTheirStandardsAndInvertOnEveryTenBitCode) {
    struct Row {
        const char* name;
        float (*toLinear)(float);
        float (*fromLinear)(float);
        float code, linear;  //!< a published point of the curve
    };
    const Row rows[] = {
        // PQ: 1.0 is 100 cd/m2; 1000 cd/m2 is code 0.7518, the peak code 1.
        {"pq 100", pqToLinear, linearToPq, 0.50808f, 1.0f},
        {"pq 1000", pqToLinear, linearToPq, 0.75183f, 10.0f},
        {"pq peak", pqToLinear, linearToPq, 1.0f, 100.0f},
        // HLG: the curve turns at code 0.5 (1/12); code 1 is scene light 1.
        {"hlg knee", hlgToLinear, linearToHlg, 0.5f, 1.0f / 12.0f},
        {"hlg peak", hlgToLinear, linearToHlg, 1.0f, 1.0f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_NEAR(row.toLinear(row.code), row.linear, 2e-4f * std::max(1.0f, row.linear));
        EXPECT_NEAR(row.fromLinear(row.linear), row.code, 2e-5f);
        for (int code = 0; code < 1024; ++code) {
            const float back = row.fromLinear(row.toLinear(code / 1023.0f)) * 1023.0f;
            ASSERT_EQ(std::lround(back), code);
        }
    }
}

TEST(Colour, ParsesTheColourSpaceOption) {
    EXPECT_EQ(parseColorspace("auto"), Colorspace::Auto);
    EXPECT_EQ(parseColorspace("linear"), Colorspace::Linear);
    EXPECT_EQ(parseColorspace("srgb"), Colorspace::Srgb);
    EXPECT_THROW(parseColorspace("rec709"), Error);
}

}  // namespace
}  // namespace tweenora::media
