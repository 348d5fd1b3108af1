// SPDX-License-Identifier: Apache-2.0
// Tiling: the cross-fade between patches and the early return on abort.
#include "pipeline/tiling.h"

#include <string>

#include <ATen/ATen.h>
#include <gtest/gtest.h>

#include "pipeline/inference_pass.h"
#include "tests/node/node_test_support.h"
#include "tests/pipeline/pipeline_test_support.h"

namespace tweenora::testing {
namespace {

// 7680 columns with the default knobs: patches [0, 4352) and [3840, 7680).
// A few rows are enough: the rows are not split, and each column blends alike.
struct EightKRow {
    RetimeRig rig{uniformClip(1, 2, DD::Image::Box(0, 0, 4, 3))};
    torch::jit::Module network =
        countingConstantNetwork(1.0, 1.0);  // 1 for the first patch, 2 for the second
    pipeline::InferenceContext ctx;
    at::Tensor frame = at::zeros({1, 3, 4, 7680});

    EightKRow() {
        rig.useNetwork(network);
        rig.op().colorspace_convert = false;
        ctx.node = &rig.op();
        ctx.totalPasses = 2;
    }
};

TEST(TileAndInterpolate, CrossFadesThe8kPatchesColumnByColumn) {
    EightKRow setup;
    setup.rig.op().debug = true;
    CoutCapture out;
    const at::Tensor result =
        pipeline::tileAndInterpolate(setup.rig.op(), setup.ctx, setup.frame, setup.frame);
    EXPECT_EQ(setup.network.attr("calls").toInt(), 2);
    EXPECT_NE(out.text().find("Tweenora1: tiling 7680x4 into 2x1 patches (side 4352x4, overlap "
                              "512, padding 64)\n"),
              std::string::npos)
        << out.text();
    ASSERT_EQ(result.sizes(), (std::vector<int64_t>{1, 3, 4, 7680}));
    const at::Tensor row = result[0][2][3];
    for (int x = 0; x < 7680; ++x) {
        // The first patch alone, a linear fade over 384 columns, the second alone.
        float expected = 2.0f;
        if (x < 3904) {
            expected = 1.0f;
        } else if (x < 4288) {
            expected = 1.0f + float(x - 3904) / 384.0f;
        }
        ASSERT_NEAR(row[x].item<float>(), expected, 1e-6) << "column " << x;
    }
}

TEST(TileAndInterpolate, ReturnsThePartlyBlendedFrameOnAbort) {
    EightKRow setup;
    setup.rig.node().setAborted(true);
    const at::Tensor result =
        pipeline::tileAndInterpolate(setup.rig.op(), setup.ctx, setup.frame, setup.frame);
    EXPECT_EQ(setup.network.attr("calls").toInt(), 1);
    EXPECT_EQ(result[0][0][0][100].item<float>(), 1.0f);
    EXPECT_EQ(result[0][0][0][5000].item<float>(), 0.0f);
}

}  // namespace
}  // namespace tweenora::testing
