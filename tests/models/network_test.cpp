// SPDX-License-Identifier: Apache-2.0
// Invariants of the built-in network, loaded from the archive the build generates.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <torch/script.h>

#include "tests/models/builtin_network.h"
#include "tests/models/synthetic_frames.h"

namespace {

using tweenora::models::test::discScene;
using tweenora::models::test::loadBuiltInNetwork;
using tweenora::models::test::psnr;
using tweenora::models::test::texture;
using tweenora::models::test::wallScene;

struct Call {
    double timestep = 0.5;
    int64_t steps = 1;         // the node's default steps knob, 2, minus one
    int64_t magnitude = 1;     // flow_magnitude "low"
    double threshold = 0.001;  // the threshold knob's default
    double downscale = 1.0;
};

torch::jit::Module& network() {
    static torch::jit::Module module = loadBuiltInNetwork();
    return module;
}

at::Tensor interpolate(const at::Tensor& img0, const at::Tensor& img1, const Call& call = {}) {
    c10::InferenceMode guard;
    return network()
        .forward(
            {img0, img1, call.timestep, call.steps, call.magnitude, call.threshold, call.downscale})
        .toTensor();
}

at::Tensor average(const at::Tensor& img0, const at::Tensor& img1, double t) {
    return img0 * (1.0 - t) + img1 * t;
}

bool allFinite(const at::Tensor& x) {
    return torch::isfinite(x).all().item<bool>();
}

TEST(NetworkInvariants, EqualFramesGiveThatFrame) {
    const at::Tensor frame = texture(64, 96, 0.0, 0.0, 1);
    for (double t : {0.25, 0.5, 0.75}) {
        SCOPED_TRACE(t);
        EXPECT_TRUE(torch::equal(interpolate(frame, frame.clone(), {t}), frame));
    }
}

TEST(NetworkInvariants, RecoversASubPixelTranslation) {
    // Content moves by (2.6, -1.3) pixels between the frames; at t it has
    // moved t times as far. The margin leaves out what enters at the border.
    const double dx = 2.6;
    const double dy = -1.3;
    const at::Tensor img0 = texture(96, 128, 0.0, 0.0, 3);
    const at::Tensor img1 = texture(96, 128, dx, dy, 3);
    for (double t : {0.25, 0.5, 0.75}) {
        SCOPED_TRACE(t);
        const at::Tensor exact = texture(96, 128, t * dx, t * dy, 3);
        const at::Tensor out = interpolate(img0, img1, {t});
        EXPECT_GT(psnr(out, exact, 8), 40.0);
        EXPECT_LT((out - exact).slice(2, 8, 88).slice(3, 8, 120).abs().max().item<double>(), 0.05);
    }
}

TEST(NetworkInvariants, StaysFiniteForRandomAndExtremeInputs) {
    torch::manual_seed(5);
    struct Row {
        std::string name;
        at::Tensor img0, img1;
    };
    const std::vector<Row> rows = {
        {"uniform noise", torch::rand({1, 3, 64, 64}), torch::rand({1, 3, 64, 64})},
        {"noise 32 x 32", torch::rand({1, 3, 32, 32}), torch::rand({1, 3, 32, 32})},
        {"flat, different levels", torch::full({1, 3, 64, 32}, 0.2f),
         torch::full({1, 3, 64, 32}, 0.7f)},
        {"zero against huge", torch::zeros({1, 3, 32, 64}), torch::full({1, 3, 32, 64}, 1e30f)},
        {"huge of both signs", torch::rand({1, 3, 64, 64}) * 6e37 - 3e37,
         torch::rand({1, 3, 64, 64}) * 6e37 - 3e37},
        {"negative", -torch::rand({1, 3, 64, 64}), -torch::rand({1, 3, 64, 64})},
        {"denormal", torch::full({1, 3, 32, 32}, 1e-40f), torch::zeros({1, 3, 32, 32})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (double t : {0.1, 0.5, 0.9}) {
            const at::Tensor out = interpolate(row.img0, row.img1, {t});
            EXPECT_EQ(out.sizes(), row.img0.sizes());
            EXPECT_TRUE(allFinite(out));
        }
    }
}

TEST(NetworkInvariants, ResultCoversTheInputInItsTypeAndDevice) {
    for (auto [h, w] : std::vector<std::pair<int64_t, int64_t>>{{32, 32}, {64, 32}, {32, 96}}) {
        SCOPED_TRACE(std::to_string(h) + " x " + std::to_string(w));
        const at::Tensor out = interpolate(texture(h, w, 0, 0, 2), texture(h, w, 1.0, 0.5, 2));
        ASSERT_EQ(out.dim(), 4);
        EXPECT_EQ(out.size(0), 1);
        EXPECT_EQ(out.size(1), 3);
        EXPECT_GE(out.size(2), h);
        EXPECT_GE(out.size(3), w);
        EXPECT_EQ(out.scalar_type(), torch::kFloat);
        EXPECT_TRUE(out.device().is_cpu());
    }
}

TEST(NetworkInvariants, UnrelatedFramesGiveTheNearerFrame) {
    const at::Tensor img0 = texture(64, 64, 0, 0, 21);
    const at::Tensor img1 = texture(64, 64, 0, 0, 22);
    EXPECT_TRUE(torch::equal(interpolate(img0, img1, {0.3}), img0));
    EXPECT_TRUE(torch::equal(interpolate(img0, img1, {0.7}), img1));
}

TEST(NetworkInvariants, AFadeIsNotTakenForACut) {
    // The same picture a stop darker, which the perceptually uniform values
    // the network sees turn into an offset: it blends rather than cuts.
    const at::Tensor img0 = texture(64, 64, 0, 0, 4);
    const at::Tensor img1 = img0 - 0.15;
    const at::Tensor out = interpolate(img0, img1, {0.5});
    // Holding either frame would score 22.5 dB.
    EXPECT_GT(psnr(out, img0 - 0.075, 4), 30.0);
}

TEST(NetworkQuality, OccludingDiscFarAboveAveraging) {
    // A disc moving 8 px left over a background moving 4 px right: motion,
    // occlusion and disocclusion in one small pair.
    const at::Tensor img0 = discScene(96, 128, 18.0, -8.0, 2.0, 4.0, 1.0, 0.0);
    const at::Tensor img1 = discScene(96, 128, 18.0, -8.0, 2.0, 4.0, 1.0, 1.0);
    const at::Tensor exact = discScene(96, 128, 18.0, -8.0, 2.0, 4.0, 1.0, 0.5);
    const double ours = psnr(interpolate(img0, img1), exact, 6);
    const double blend = psnr(average(img0, img1, 0.5), exact, 6);
    EXPECT_GT(ours, 32.0);
    EXPECT_GT(ours, blend + 5.0);
}

TEST(NetworkQuality, UncoveredWallComesOutClean) {
    // A dark object moving several pixels over a plain light wall filmed with
    // a little noise: the wall it uncovers, and the wall it is about to
    // cover, are seen by one frame only, and in the other frame the object
    // lies there. The network must take that wall from the frame that sees
    // it, not carry fragments of the object into it. Its error against the
    // noise-free wall at t = 0.5, beyond two pixels of the object's edge
    // (where the edge's sub-pixel place is fair uncertainty), is bounded at
    // every pixel by 0.08, an eighth of the object's contrast of about 0.63,
    // below which a fragment is a faint ghost at most and above the frames'
    // own noise (sigma 0.01); and on the mean by 0.015: that noise accounts
    // for 0.008, and fragments covering 1 % of that wall would add 0.006.
    struct Row {
        std::string name;
        double radius;
        bool bar;
        double fgx, fgy, bgx, bgy;
    };
    const std::vector<Row> rows = {
        {"disc, still wall", 14.0, false, 16.0, 0.0, 0.0, 0.0},
        {"bar, still wall", 6.0, true, -12.0, 0.0, 0.0, 0.0},
        {"disc, panning wall", 14.0, false, 14.0, 6.0, 2.0, -1.0},
    };
    torch::manual_seed(27);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto scene = [&](double t, at::Tensor* cover = nullptr) {
            return wallScene(96, 128, row.radius, row.bar, row.fgx, row.fgy, row.bgx, row.bgy, t,
                             cover);
        };
        at::Tensor cover0, cover1, cover;
        const at::Tensor img0 = scene(0.0, &cover0) + torch::randn({1, 3, 96, 128}) * 0.01;
        const at::Tensor img1 = scene(1.0, &cover1) + torch::randn({1, 3, 96, 128}) * 0.01;
        const at::Tensor exact = scene(0.5, &cover);
        const at::Tensor error = (interpolate(img0, img1) - exact).abs().mean(1)[0];
        // Wall at t seen by one frame only, beyond two pixels of the object
        // and six of the frame's border.
        const at::Tensor near =
            torch::max_pool2d(cover.view({1, 1, 96, 128}), {5, 5}, {1, 1}, {2, 2})[0][0];
        at::Tensor region = (near == 0) & ((cover0 > 0) | (cover1 > 0));
        region.slice(0, 0, 6).fill_(false);
        region.slice(0, 90, 96).fill_(false);
        region.slice(1, 0, 6).fill_(false);
        region.slice(1, 122, 128).fill_(false);
        ASSERT_GT(region.sum().item<int64_t>(), 200);
        const at::Tensor wallError = error.masked_select(region);
        EXPECT_LT(wallError.max().item<double>(), 0.08);
        EXPECT_LT(wallError.mean().item<double>(), 0.015);
    }
}

TEST(NetworkQuality, FramesPastAMegapixelKeepTheirQuality) {
    // Past a megapixel the finest level takes fewer warps and the flow is
    // projected at half the resolution. The same scene a little wider than
    // that must come out as well as just below it, and far above averaging.
    const auto score = [](int64_t w) {
        const auto scene = [w](double t) {
            return discScene(832, w, 160.0, -48.0, 12.0, 24.0, 6.0, t);
        };
        const at::Tensor img0 = scene(0.0);
        const at::Tensor img1 = scene(1.0);
        const at::Tensor exact = scene(0.5);
        const double blend = psnr(average(img0, img1, 0.5), exact, 48);
        return std::pair{psnr(interpolate(img0, img1), exact, 48), blend};
    };
    const auto [below, belowBlend] = score(1200);  // 0.998 megapixels
    const auto [past, pastBlend] = score(1280);    // 1.065 megapixels
    EXPECT_GT(below, belowBlend + 8.0);
    EXPECT_GT(past, pastBlend + 8.0);
    EXPECT_GT(past, below - 0.5);
}

TEST(NetworkArguments, ThresholdReturnsTheNearerInputUntouched) {
    const at::Tensor img0 = texture(64, 64, 0, 0, 8);
    const at::Tensor img1 = texture(64, 64, 1.5, 0.5, 8);
    EXPECT_TRUE(torch::equal(interpolate(img0, img1, {0.0005}), img0));
    EXPECT_TRUE(torch::equal(interpolate(img0, img1, {0.9995}), img1));
    EXPECT_TRUE(torch::equal(interpolate(img0, img1, {0.2, 1, 1, 0.25}), img0));
    Call noThreshold{0.0005};
    noThreshold.threshold = 0.0;
    EXPECT_FALSE(torch::equal(interpolate(img0, img1, noThreshold), img0));
}

TEST(NetworkArguments, EveryStepCountRecoversTheMotionDifferently) {
    const at::Tensor img0 = texture(64, 96, 0, 0, 9);
    const at::Tensor img1 = texture(64, 96, 3.2, 1.1, 9);
    const at::Tensor exact = texture(64, 96, 1.6, 0.55, 9);
    std::vector<at::Tensor> results;
    for (int64_t steps = 0; steps <= 5; ++steps) {
        SCOPED_TRACE(steps);
        Call call;
        call.steps = steps;
        results.push_back(interpolate(img0, img1, call));
        EXPECT_GT(psnr(results.back(), exact, 8), 38.0);
    }
    EXPECT_FALSE(torch::equal(results.front(), results.back()));
}

TEST(NetworkArguments, HigherFlowMagnitudeReachesLargerMotion) {
    // 60 px in a 256 px frame of coarse texture: beyond the reach of "low",
    // within that of "medium" and "high".
    const at::Tensor img0 = texture(256, 256, 0, 0, 13, 0.3);
    const at::Tensor img1 = texture(256, 256, 60.0, -6.0, 13, 0.3);
    const at::Tensor exact = texture(256, 256, 30.0, -3.0, 13, 0.3);
    const double low = psnr(interpolate(img0, img1), exact, 32);
    for (int64_t magnitude : {2, 3}) {
        SCOPED_TRACE(magnitude);
        Call call;
        call.magnitude = magnitude;
        const double higher = psnr(interpolate(img0, img1, call), exact, 32);
        EXPECT_GT(higher, 28.0);
        EXPECT_GT(higher, low + 10.0);
    }
}

TEST(NetworkArguments, DownscaleEstimatesTheFlowAtLowerResolution) {
    const at::Tensor img0 = texture(128, 128, 0, 0, 17);
    const at::Tensor img1 = texture(128, 128, 4.4, 2.2, 17);
    const at::Tensor exact = texture(128, 128, 2.2, 1.1, 17);
    const at::Tensor full = interpolate(img0, img1);
    for (double factor : {0.5, 0.25}) {
        SCOPED_TRACE(factor);
        Call call;
        call.downscale = factor;
        const at::Tensor reduced = interpolate(img0, img1, call);
        EXPECT_FALSE(torch::equal(reduced, full));
        EXPECT_GT(psnr(reduced, exact, 12), 34.0);
    }
}

TEST(NetworkPrecision, ReducedPrecisionInputsKeepTheirType) {
    const at::Tensor img0 = texture(64, 64, 0, 0, 19);
    const at::Tensor img1 = texture(64, 64, 2.0, 1.0, 19);
    const at::Tensor reference = interpolate(img0, img1);
    for (bool flags : {true, false}) {
        // The node switches both flags off on the CPU; saved, they are on.
        for (const torch::jit::Module& m : network().modules()) {
            torch::jit::Module module = m;
            for (const char* name : {"cast_half", "synth_fp32"})
                if (module.hasattr(name))
                    module.setattr(name, flags);
        }
        for (auto type : {torch::kHalf, torch::kBFloat16}) {
            SCOPED_TRACE(std::string(flags ? "flags on, " : "flags off, ") + c10::toString(type));
            const at::Tensor out = interpolate(img0.to(type), img1.to(type));
            EXPECT_EQ(out.scalar_type(), type);
            EXPECT_TRUE(allFinite(out));
            EXPECT_LT((out.to(torch::kFloat) - reference).abs().mean().item<double>(), 0.01);
        }
    }
}

TEST(NetworkPrecision, CarriesTheHalfPrecisionFlags) {
    int castHalf = 0;
    int synthFp32 = 0;
    for (const torch::jit::Module& module : network().modules()) {
        if (module.hasattr("cast_half") && module.attr("cast_half").isBool())
            ++castHalf;
        if (module.hasattr("synth_fp32") && module.attr("synth_fp32").isBool())
            ++synthFp32;
    }
    EXPECT_GE(castHalf, 1);
    EXPECT_GE(synthFp32, 1);
}

TEST(NetworkArchive, IsSavedInEvaluationMode) {
    for (const torch::jit::Module& module : network().modules())
        EXPECT_FALSE(module.is_training());
}

}  // namespace
