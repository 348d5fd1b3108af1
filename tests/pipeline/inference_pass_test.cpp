// SPDX-License-Identifier: Apache-2.0
// One inference pass: padding to multiples of 32, the NaN guard, precision,
// PU21 around the network, and the progress it reports.
#include "pipeline/inference_pass.h"

#include <string>
#include <vector>

#include <ATen/ATen.h>
#include <gtest/gtest.h>

#include "pipeline/pu21.h"
#include "tests/node/node_test_support.h"
#include "tests/pipeline/pipeline_test_support.h"

namespace tweenora::testing {
namespace {

using pipeline::InferenceContext;
using pipeline::runInferencePass;

// A pass context for rig's node on the CPU.
InferenceContext contextFor(RetimeRig& rig, int totalPasses = 1) {
    InferenceContext ctx;
    ctx.node = &rig.op();
    ctx.totalPasses = totalPasses;
    ctx.frameInfo.timestep = 0.5f;
    return ctx;
}

// [1, 3, height, width] holding 0, 1, 2, ... in memory order.
at::Tensor ramp(int64_t height, int64_t width) {
    return at::arange(3 * height * width, at::TensorOptions().dtype(at::kFloat))
        .view({1, 3, height, width});
}

TEST(InferencePass, PadsBottomAndRightToMultiplesOf32AndCropsBack) {
    struct Row {
        int64_t height, width, paddedHeight, paddedWidth;
    };
    for (const Row& row : {Row{33, 33, 64, 64}, Row{32, 64, 32, 64}, Row{1, 1, 32, 32}}) {
        SCOPED_TRACE(::testing::Message() << row.width << "x" << row.height);
        RetimeRig rig(uniformClip(1, 2, DD::Image::Box(0, 0, 4, 3)));
        torch::jit::Module recorder = recorderNetwork();
        rig.useNetwork(recorder);
        rig.op().colorspace_convert = false;
        InferenceContext ctx = contextFor(rig);
        const at::Tensor input = ramp(row.height, row.width);
        const at::Tensor result = runInferencePass(ctx, input, input.clone());

        const at::Tensor seen = recorder.attr("img0").toTensor();
        ASSERT_EQ(seen.sizes(), (std::vector<int64_t>{1, 3, row.paddedHeight, row.paddedWidth}));
        // Top-down rows, then copies of the last row and column.
        const at::Tensor topDown = input.flip({2});
        EXPECT_TRUE(at::equal(seen.slice(2, 0, row.height).slice(3, 0, row.width), topDown));
        const at::Tensor lastRow = topDown.slice(2, row.height - 1, row.height);
        for (int64_t y = row.height; y < row.paddedHeight; ++y) {
            ASSERT_TRUE(at::equal(seen.slice(2, y, y + 1).slice(3, 0, row.width), lastRow)) << y;
        }
        const at::Tensor lastColumn = seen.slice(3, row.width - 1, row.width);
        for (int64_t x = row.width; x < row.paddedWidth; ++x) {
            ASSERT_TRUE(at::equal(seen.slice(3, x, x + 1), lastColumn)) << x;
        }
        EXPECT_TRUE(at::equal(result, input));
        EXPECT_TRUE(result.is_contiguous());
    }
}

TEST(InferencePass, ChecksNanValuesOverTheWholePaddedResult) {
    RetimeRig rig(uniformClip(1, 2, DD::Image::Box(0, 0, 4, 3)));
    torch::jit::Module recorder = recorderNetwork();
    rig.useNetwork(recorder);
    rig.op().colorspace_convert = false;
    rig.op().debug = true;
    InferenceContext ctx = contextFor(rig);
    const at::Tensor frame = at::zeros({1, 3, 1080, 1920});
    CoutCapture out;
    runInferencePass(ctx, frame, frame);
    EXPECT_EQ(recorder.attr("img0").toTensor().sizes(), (std::vector<int64_t>{1, 3, 1088, 1920}));
    EXPECT_NE(out.text().find("    NaN check: 0/6266880 (0%)\n"), std::string::npos) << out.text();
    EXPECT_NE(out.text().find("    Inference time (forward): "), std::string::npos);
}

TEST(InferencePass, NanGuardRefusesMoreThanTheThresholdPercentage) {
    struct Row {
        int threshold;
        int nanValues;  // of 100
        bool refused;
    };
    const std::vector<Row> rows = {{10, 10, false},  {10, 11, true}, {10, 0, false},
                                   {0, 1, true},     {0, 0, false},  {100, 100, false},
                                   {150, 100, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.nanValues << "% at threshold " << row.threshold);
        RetimeRig rig(uniformClip(1, 2, DD::Image::Box(0, 0, 4, 3)));
        rig.op().nan_error_threshold = row.threshold;
        at::Tensor result = at::zeros({1, 1, 10, 10});
        result.view({-1}).slice(0, 0, row.nanValues).fill_(NAN);
        if (row.refused) {
            try {
                pipeline::checkNanValues(rig.op(), result);
                ADD_FAILURE() << "no exception";
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "Too many nan values returned, frame corrupt");
            }
        } else {
            EXPECT_NO_THROW(pipeline::checkNanValues(rig.op(), result));
        }
    }
}

TEST(InferencePass, NanValuesInThePaddingCount) {
    // 20 rows reach the network as 32; NaN in rows 20..31 are all padding.
    for (int threshold : {0, 37, 38}) {
        SCOPED_TRACE(threshold);
        RetimeRig rig(uniformClip(1, 2, DD::Image::Box(0, 0, 4, 3)));
        rig.useNetwork(nanRowsNetwork(20));
        rig.op().colorspace_convert = false;
        rig.op().nan_error_threshold = threshold;
        InferenceContext ctx = contextFor(rig);
        const at::Tensor input = ramp(20, 32);
        // 12 of 32 rows: 37.5%.
        if (threshold < 38) {
            EXPECT_THROW(runInferencePass(ctx, input, input), std::runtime_error);
            EXPECT_EQ(ctx.passesDone, 0);
        } else {
            EXPECT_TRUE(at::equal(runInferencePass(ctx, input, input), input));
            EXPECT_EQ(ctx.passesDone, 1);
        }
    }
}

TEST(InferencePass, MixedPrecisionOnTheCpuKeepsFloat32) {
    RetimeRig rig(uniformClip(1, 2, DD::Image::Box(0, 0, 4, 3)));
    torch::jit::Module recorder = recorderNetwork();
    rig.useNetwork(recorder);
    rig.op().mixed_precision = true;
    rig.op().use_bfloat16 = true;
    rig.op().gpu_supports_bf16 = true;
    InferenceContext ctx = contextFor(rig);
    const at::Tensor input = ramp(8, 8).div(100.0);
    const at::Tensor result = runInferencePass(ctx, input, input);
    EXPECT_EQ(recorder.attr("img0").toTensor().scalar_type(), at::kFloat);
    EXPECT_EQ(result.scalar_type(), at::kFloat);
    EXPECT_FALSE(autocastEnabled(c10::DeviceType::CUDA));
}

TEST(InferencePass, EncodesForTheNetworkAndDecodesItsResult) {
    RetimeRig rig(uniformClip(1, 2, DD::Image::Box(0, 0, 4, 3)));
    torch::jit::Module recorder = recorderNetwork();
    rig.useNetwork(recorder);
    InferenceContext ctx = contextFor(rig);
    const at::Tensor input = at::full({1, 3, 4, 4}, 1.0f);
    input[0][1].fill_(0.18f);
    const at::Tensor result = runInferencePass(ctx, input, input);
    const at::Tensor seen = recorder.attr("img0").toTensor();
    EXPECT_NEAR(seen[0][0][0][0].item<float>(), 1.0f, 1e-6);      // linear 1.0 encodes to 1.0
    EXPECT_NEAR(seen[0][1][0][0].item<float>(), 0.60096f, 1e-5);  // and 0.18 to 0.60096
    EXPECT_TRUE(at::allclose(result, input, 2e-5, 0.0));
}

TEST(InferencePass, ReportsItsPassToTheProgressDisplay) {
    struct Row {
        int total, done;
        std::vector<std::string> messages;
        double fraction;
    };
    const std::vector<Row> rows = {{1, 0, {}, 1.0}, {6, 2, {"Interpolating (pass 3/6)"}, 0.5}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.total);
        RetimeRig rig(uniformClip(1, 2, DD::Image::Box(0, 0, 4, 3)));
        rig.useNetwork(identityNetwork());
        InferenceContext ctx = contextFor(rig, row.total);
        ctx.passesDone = row.done;
        const at::Tensor input = ramp(4, 4);
        runInferencePass(ctx, input, input);
        EXPECT_EQ(rig.node().progressMessages(), row.messages);
        ASSERT_EQ(rig.node().progressFractions().size(), 1u);
        EXPECT_DOUBLE_EQ(rig.node().progressFractions()[0], row.fraction);
    }
}

}  // namespace
}  // namespace tweenora::testing
