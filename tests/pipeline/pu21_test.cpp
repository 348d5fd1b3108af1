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
    const std::vector<Row> rows = {{0.18f, 0.60096}, {0.5f, 0.82997},  {1.0f, 1.0},
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

// The encoding and decoding as the plain sequence of libtorch operations,
// each with a double scalar, in the order that fixes the float32 result.
at::Tensor encodeBySteps(const at::Tensor& x) {
    const double p0 = 0.353487901, p1 = 0.3734658629, p2 = 8.277049286e-05, p3 = 0.9062562627,
                 p4 = 0.09150303166, p5 = 0.9099517204, p6 = 596.3148142;
    at::Tensor y = at::clamp_min(x.mul(100.0), 0.0).add(0.005);
    at::Tensor a = y.pow(p3);
    at::Tensor d = a.mul(p2).add(1.0);
    at::Tensor n = a.mul(p1).add(p0);
    at::Tensor v = n.div(d).pow(p4).sub(p5).mul(p6);
    return at::clamp_min(v, 0.0).div(256.38714480338587);
}

at::Tensor decodeBySteps(const at::Tensor& e) {
    const double p0 = 0.353487901, p1 = 0.3734658629, p2 = 8.277049286e-05, p5 = 0.9099517204,
                 p6 = 596.3148142;
    at::Tensor v = at::clamp_min(e, 0.0).mul(256.38714480338587);
    at::Tensor w = at::clamp_min(v.div(p6).add(p5), 1e-9).pow(10.928599652476258);
    at::Tensor m = w.mul(p2);
    at::Tensor den = at::clamp_min(at::full_like(m, p1).sub_(m), 0.001);
    at::Tensor q = at::clamp_min(w.sub(p0).div(den), 1e-9);
    at::Tensor y = at::clamp(q.pow(1.1034406504631595).sub(0.005), 0.0, 50000.0);
    return y.div(100.0);
}

// Same bits, NaN included.
void expectSameBits(const at::Tensor& actual, const at::Tensor& expected) {
    ASSERT_EQ(actual.sizes(), expected.sizes());
    const at::Tensor a = actual.contiguous().view(at::kInt);
    const at::Tensor b = expected.contiguous().view(at::kInt);
    const at::Tensor differ = a.ne(b);
    EXPECT_EQ(differ.sum().item<int64_t>(), 0)
        << "first difference at " << differ.flatten().nonzero()[0].item<int64_t>();
}

TEST(Pu21, MatchesTheOperationSequenceBitForBit) {
    // Odd sizes leave remainders after every vector width.
    at::Tensor image = at::rand({1, 3, 37, 53}) * 600.0 - 50.0;
    at::Tensor special = image.view({-1});
    const std::vector<float> values = {0.0f,    -0.0f,  1e-30f, 1e-4f, 0.18f,    1.0f,
                                       499.99f, 500.0f, 1e9f,   NAN,   INFINITY, -INFINITY};
    for (size_t i = 0; i < values.size(); ++i) {
        special[int64_t(i * 101)] = values[i];
    }
    at::Tensor inPlace = image.clone();
    pu21EncodeInPlace(inPlace);
    expectSameBits(pu21Encode(image), encodeBySteps(image));
    expectSameBits(inPlace, encodeBySteps(image));
    // Code values as a network returns them: any range, and cropped views.
    at::Tensor codes = at::rand({1, 3, 40, 64}) * 4.0 - 1.0;
    codes.view({-1})[7] = NAN;
    const at::Tensor cropped = codes.slice(2, 0, 37).slice(3, 0, 53);
    expectSameBits(pu21Decode(cropped), decodeBySteps(cropped));
    expectSameBits(pu21Decode(image), decodeBySteps(image));
}

}  // namespace
}  // namespace tweenora::pipeline
