// SPDX-License-Identifier: Apache-2.0
// Tests of the node's class, registration, construction, start-up advice,
// destruction and the debug switch of its logging.
#include "node/Tweenora.h"

#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include <DDImage/Op.h>

#include "diagnostics/logging.h"
#include "host/Script.h"
#include "model/gpu_queries.h"
#include "tests/node/node_test_support.h"

namespace tweenora {
namespace {

using testing::CoutCapture;
using testing::FakeGpu;
using testing::LogCapture;
using testing::ScopedEnv;

const DD::Image::Op::Description* findDescription(const char* name) {
    for (int i = 0; const DD::Image::Op::Description* d = DD::Image::Op::Description::find(i); ++i)
        if (d->name && std::strcmp(d->name, name) == 0)
            return d;
    return nullptr;
}

TEST(Registration, AnnouncesTweenoraUnderItsMenu) {
    const DD::Image::Op::Description* description = findDescription("Tweenora");
    ASSERT_NE(description, nullptr);
    EXPECT_STREQ(description->menu, "Lumaquarry/Tweenora");

    const FakeGpu gpu = FakeGpu::cpuOnly();
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    Tweenora* op = script.createNode("Tweenora").opAs<Tweenora>();
    ASSERT_NE(op, nullptr);
    EXPECT_STREQ(op->Class(), "Tweenora");
    EXPECT_STREQ(op->node_help(),
                 "Tweenora provides machine learning based frame interpolation and retiming based "
                 "on the Interp ZezUvaveru framework. Supports EMA-VFI, RIFE-vgg, and RIFE-pro "
                 "models for high-quality motion interpolation.");
    EXPECT_EQ(op->minimum_inputs(), 1);
    EXPECT_EQ(op->maximum_inputs(), 1);
    EXPECT_EQ(op->packedPreference(), DD::Image::PlanarI::ePackedPreferencePacked);
}

TEST(Construction, NewNodeHoldsTheDefaults) {
    const FakeGpu gpu = FakeGpu::withDevices(1);
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    const Tweenora& op = *script.createNode("Tweenora").opAs<Tweenora>();

    EXPECT_FALSE(op.debug);
    EXPECT_TRUE(op.use_gpu);
    EXPECT_EQ(op.cuda_deviceid, 0);
    EXPECT_TRUE(op.gpu_render_override);
    EXPECT_TRUE(op.gpu_supports_bf16);  // the fake device is 8.6
    EXPECT_TRUE(op.use_bfloat16);
    EXPECT_EQ(op.max_size, 4500);
    EXPECT_EQ(op.overlap, 512);
    EXPECT_EQ(op.padding, 64);
    EXPECT_EQ(op.nan_error_threshold, 10);
    EXPECT_EQ(op.mode, 0);
    EXPECT_EQ(op.speed, 0.5f);
    EXPECT_EQ(op.output_frame, 1.0f);
    EXPECT_EQ(op.steps, 2);
    EXPECT_EQ(op.flow_magnitude, 0);
    uint32_t thresholdBits = 0;
    std::memcpy(&thresholdBits, &op.threshold, sizeof thresholdBits);
    EXPECT_EQ(thresholdBits, 0x3A83126Fu);
    EXPECT_EQ(op.downscale, 0);
    EXPECT_TRUE(op.colorspace_convert);
    EXPECT_EQ(op.frame_range_start, -999999);
    EXPECT_EQ(op.frame_range_end, -999999);
    EXPECT_FALSE(op.mixed_precision);
    EXPECT_TRUE(op.input_channels == DD::Image::Mask_All);
    EXPECT_EQ(op.modelChannelCount, 3);
    EXPECT_EQ(op.outputFirstFrame, -999999);
    EXPECT_EQ(op.outputLastFrame, -999999);
    EXPECT_FALSE(op.model_loaded);
    EXPECT_EQ(op.gpu_name, "Fake GPU 0");
    EXPECT_EQ(op.gpu_sm, "86");
    EXPECT_EQ(op.native_sm, "90");
}

// What constructing a node prints, for a GPU and the environment of one row.
std::string startupOutput(const FakeGpu& gpu, std::optional<std::string> suppress,
                          std::optional<std::string> cacheSize) {
    model::ScopedGpuQueries installed(gpu);
    ScopedEnv suppressEnv("LUMAQUARRY_SUPPRESS_KERNEL_WARNINGS", std::move(suppress));
    ScopedEnv cacheEnv("CUDA_CACHE_MAXSIZE", std::move(cacheSize));
    host::Script script;
    CoutCapture out;
    script.createNode("Tweenora");
    return out.text();
}

TEST(KernelCheck, AdvisesOnlyWhenTheGpuIsNewerThanTheNativeKernels) {
    const std::string jit =
        "Tweenora: This plugin build natively supports up to compute capability sm_80. Since "
        "your current GPU is sm_86, you will rely on JIT-compiled kernels.\n";
    const std::string unset =
        "Tweenora: WARNING, the CUDA_CACHE_MAXSIZE environment variable is not set. Please check "
        "the manual on how to set it for the JIT-compilation to be able to succeed.\n";
    const std::string low =
        "Tweenora: WARNING, the CUDA_CACHE_MAXSIZE environment variable is set too low. It should "
        "be set to at least 4000000000. Please check the manual on how to set it for the "
        "JIT-compilation to be able to succeed.\n";
    const std::string meets =
        "Tweenora: The CUDA_CACHE_MAXSIZE environment variable is set and meets the minimum "
        "requirement.\n";

    FakeGpu native90 = FakeGpu::withDevices(1);
    FakeGpu native80 = FakeGpu::withDevices(1);
    native80.configuration = "  - NVCC architecture flags: -gencode;arch=compute_80,code=sm_80\n";
    FakeGpu noMarker = FakeGpu::withDevices(1);
    noMarker.configuration = "  - CUDA Runtime 11.8\n";
    const FakeGpu none = FakeGpu::cpuOnly();

    struct Row {
        const char* what;
        const FakeGpu& gpu;
        std::optional<std::string> suppress;
        std::optional<std::string> cacheSize;
        std::string expected;
    };
    const Row rows[] = {
        {"native sm_90", native90, std::nullopt, std::nullopt, ""},
        {"no CUDA", none, std::nullopt, std::nullopt, ""},
        {"no NVCC line", noMarker, std::nullopt, std::nullopt, ""},
        {"cache unset", native80, std::nullopt, std::nullopt, jit + unset},
        {"cache 4000000000", native80, std::nullopt, "4000000000", jit + meets},
        {"cache 3999999999", native80, std::nullopt, "3999999999", jit + low},
        {"cache 4e9", native80, std::nullopt, "4e9", jit + low},
        {"cache abc", native80, std::nullopt, "abc", jit + low},
        {"suppressed", native80, "1", "4000000000", ""},
        {"suppress true", native80, "true", std::nullopt, jit + unset},
        {"suppress yes", native80, "yes", std::nullopt, jit + unset},
        {"suppress 01", native80, "01", std::nullopt, jit + unset},
        {"suppress '1 '", native80, "1 ", std::nullopt, jit + unset},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(startupOutput(row.gpu, row.suppress, row.cacheSize), row.expected);
    }
}

TEST(KernelCheck, PrintsWhateverDebugSays) {
    FakeGpu gpu = FakeGpu::withDevices(1);
    gpu.configuration = "  - NVCC architecture flags: code=sm_80\n";
    diagnostics::applyDebugLevel(true);
    LogCapture log;
    const std::string out = startupOutput(gpu, std::nullopt, "4000000000");
    EXPECT_NE(out.find("JIT-compiled kernels"), std::string::npos);
    EXPECT_EQ(log.text().find("JIT-compiled"), std::string::npos);
}

TEST(Lifecycle, DestructorLogsItsCleanup) {
    const FakeGpu gpu = FakeGpu::cpuOnly();
    model::ScopedGpuQueries installed(gpu);
    struct Row {
        const char* what;
        bool loaded;
        bool namedModule;
        std::string expected;
    };
    const Row rows[] = {
        {"never loaded", false, false,
         "debug: Tweenora destructor: Cleanup completed successfully\n"},
        {"loaded", true, true,
         "debug: Tweenora destructor: Moving model to CPU before cleanup\n"
         "debug: Tweenora destructor: Cleanup completed successfully\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto script = std::make_unique<host::Script>();
        Tweenora* op = script->createNode("Tweenora").opAs<Tweenora>();
        op->model_loaded = row.loaded;
        if (row.namedModule)
            op->model = torch::jit::Module("__torch__.Loaded");
        LogCapture log;
        diagnostics::applyDebugLevel(true);
        script.reset();
        EXPECT_EQ(log.text(), row.expected);
    }
}

TEST(Lifecycle, DestructorContainsAFailedMove) {
    const FakeGpu gpu = FakeGpu::cpuOnly();
    model::ScopedGpuQueries installed(gpu);
    auto script = std::make_unique<host::Script>();
    // A module that holds nothing cannot be moved: libtorch throws.
    script->createNode("Tweenora").opAs<Tweenora>()->model_loaded = true;
    LogCapture log;
    diagnostics::applyDebugLevel(true);
    EXPECT_NO_THROW(script.reset());
    const std::string text = log.text();
    EXPECT_EQ(text.rfind("debug: Tweenora destructor: Moving model to CPU before cleanup\n"
                         "error: Tweenora destructor error: ",
                         0),
              0u)
        << text;
    EXPECT_EQ(text.find("Cleanup completed"), std::string::npos);
}

// Exposes _close, which the host calls when it is done rendering with an op.
class ClosableTweenora : public Tweenora {
public:
    using Tweenora::_close;
    using Tweenora::Tweenora;
};

TEST(Lifecycle, CloseHandsCachedGpuMemoryBack) {
    const FakeGpu gpu = FakeGpu::withDevices(1);
    model::ScopedGpuQueries installed(gpu);
    ClosableTweenora op(nullptr);
    op._close();
    EXPECT_EQ(gpu.cacheEmptied, 1);
    op._close();  // closing again, as after a later render, is harmless
    EXPECT_EQ(gpu.cacheEmptied, 2);
}

TEST(Logging, ConstructionSwitchesTraceLinesOff) {
    const FakeGpu gpu = FakeGpu::cpuOnly();
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    LogCapture log;
    diagnostics::applyDebugLevel(true);
    host::HostNode& node = script.createNode("Tweenora");
    EXPECT_EQ(log.text(), "");  // not even "Tweenora::knobs called"

    node.setKnob("padding", "10");
    EXPECT_EQ(log.text(), "");
    diagnostics::applyDebugLevel(true);
    node.setKnob("padding", "20");
    EXPECT_NE(log.text().find("debug: Tweenora::knob_changed called\n"
                              "debug: [Tweenora::knob_changed] knob_changed called on: padding\n"),
              std::string::npos)
        << log.text();
}

TEST(Logging, LastNodeToValidateDecidesForAll) {
    const FakeGpu gpu = FakeGpu::cpuOnly();
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    host::HostNode& source = script.createSource(testing::clipOfSize(64, 32));
    host::HostNode& verbose = script.createNode("Tweenora", "Verbose");
    host::HostNode& quiet = script.createNode("Tweenora", "Quiet");
    script.connect(verbose, 0, source);
    script.connect(quiet, 0, source);
    verbose.setKnob("debug", "true");
    const std::string entry = "debug: Tweenora::_validate called\n";
    const std::string range = "debug: Input range: 1 to 10 (10 frames)\n";
    struct Step {
        host::HostNode& node;
        bool entryShown;  // ahead of the range: logged under the level the previous call left
        bool rangeShown;  // logged under this node's own debug
    };
    const Step steps[] = {
        {verbose, false, true}, {verbose, true, true},  {quiet, true, false},
        {quiet, false, false},  {verbose, false, true},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE("step " + std::to_string(i + 1));
        LogCapture log;
        script.validate(steps[i].node, 1);
        // The host may validate more than once per evaluation: only the first
        // entry line, ahead of any range line, tells the earlier level.
        const size_t firstEntry = log.text().find(entry);
        const size_t firstRange = log.text().find(range);
        EXPECT_EQ(firstEntry != std::string::npos && firstEntry < firstRange, steps[i].entryShown)
            << log.text();
        EXPECT_EQ(firstRange != std::string::npos, steps[i].rangeShown) << log.text();
    }
}

TEST(Logging, OffSilencesWarningsAndErrorsToo) {
    LogCapture log;
    diagnostics::applyDebugLevel(false);
    spdlog::warn("a warning");
    spdlog::error("an error");
    diagnostics::applyDebugLevel(true);
    spdlog::debug("a trace line");
    EXPECT_EQ(log.text(), "debug: a trace line\n");
}

}  // namespace
}  // namespace tweenora
