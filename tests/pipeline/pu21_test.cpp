// SPDX-License-Identifier: Apache-2.0
// PU21 encoding: published sample values, round trips, and the clamped ranges.
#include "pipeline/pu21.h"

#include <cmath>
#include <vector>

#include <ATen/ATen.h>
#include <gtest/gtest.h>

namespace tweenora::pipeline {
namespace {

at::Tensor floats(const std::vector<float>& values) {
    return at::tensor(values, at::TensorOptions().dtype(at::kFloat));
}

TEST(Pu21, EncodesTheSampleValues) {
    struct Row {
        float linear;
        double encoded;
    };
    // Five significant digits, worked out in double precision.
    const std::vector<Row> rows = {{0.18f, 0.60096}, {0.5f, 0.82997}, {1.0f, 1.0},
                                   {2.0f, 1.18093},  {10.0f, 1.63853}, {100.0f, 2.32225}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.linear);
        const float encoded = pu21Encode(floats({row.linear})).item<float>();
        EXPECT_NEAR(encoded, row.encoded, 1e-5);
    }
    EXPECT_DOUBLE_EQ(pu21ReferenceValue(), 256.38714480338587);
}

TEST(Pu21, EncodesZeroAndNegativesToTheSameTinyValue) {
    const at::Tensor encoded = pu21Encode(floats({0.0f, -0.5f, -1000.0f}));
    const float zero = encoded[0].item<float>();
    EXPECT_GE(zero, 0.0f);
    EXPECT_LT(zero, 1e-6f);
    EXPECT_EQ(encoded[1].item<float>(), zero);
    EXPECT_EQ(encoded[2].item<float>(), zero);
}

TEST(Pu21, RoundTripsFrom1e4To500) {
    std::vector<float> values;
    for (double exponent = -4.0; exponent <= std::log10(500.0); exponent += 0.01) {
        values.push_back(float(std::pow(10.0, exponent)));
    }
    values.push_back(500.0f);
    const at::Tensor back = pu21Decode(pu21Encode(floats(values)));
    for (size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(values[i]);
        // Just above 1e-4 the encoder subtracts two nearly equal float32
        // values (r^p4 - p5), which costs up to about 3.3e-5 there.
        const double tolerance = values[i] < 2e-4f ? 4e-5 : 2e-5;
        EXPECT_NEAR(back[int64_t(i)].item<float>(), values[i], tolerance * values[i]);
    }
}

TEST(Pu21, ClampsDecodedValuesToZeroAndFiveHundred) {
    const at::Tensor back = pu21Decode(pu21Encode(floats({600.0f, 1e4f, 0.0f, -3.0f})));
    EXPECT_EQ(back[0].item<float>(), 500.0f);
    EXPECT_EQ(back[1].item<float>(), 500.0f);
    for (int64_t i : {2, 3}) {
        EXPECT_GE(back[i].item<float>(), 0.0f);
        EXPECT_LT(back[i].item<float>(), 1e-8f);
    }
    // A network may return negative code values: they decode like 0.
    const at::Tensor decoded = pu21Decode(floats({0.0f, -0.25f, -7.0f}));
    EXPECT_GE(decoded[0].item<float>(), 0.0f);
    EXPECT_LT(decoded[0].item<float>(), 1e-8f);
    EXPECT_EQ(decoded[1].item<float>(), decoded[0].item<float>());
    EXPECT_EQ(decoded[2].item<float>(), decoded[0].item<float>());
}

TEST(Pu21, InPlaceEncodingMatchesBitForBit) {
    at::Tensor image = at::rand({1, 3, 37, 53}) * 40.0 - 5.0;
    at::Tensor inPlace = image.clone();
    pu21EncodeInPlace(inPlace);
    EXPECT_TRUE(at::equal(inPlace, pu21Encode(image)));
}

}  // namespace
}  // namespace tweenora::pipeline
