// SPDX-License-Identifier: Apache-2.0
// Tests of device selection and the GPU re-probe of a cuda_deviceid change.
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "host/Script.h"
#include "model/gpu_queries.h"
#include "node/Tweenora.h"
#include "tests/node/node_test_support.h"

namespace tweenora {
namespace {

using testing::CoutCapture;
using testing::FakeGpu;
using testing::ScopedEnv;

constexpr const char* kGpuIndex = "LUMAQUARRY_NUKE_GPU_INDEX";

//! Two devices: an 8.6 with 24 GB and a 9.0 with 80 GB.
FakeGpu twoGpus() {
    FakeGpu gpu = FakeGpu::withDevices(1);
    gpu.devices.push_back({"Big GPU", uint64_t(80) << 30, 9, 0});
    return gpu;
}

TEST(SelectDevice, ClampsTheSavedIdAndHonoursTheOverride) {
    const FakeGpu gpu = twoGpus();
    model::ScopedGpuQueries installed(gpu);
    struct Row {
        const char* what;
        const char* deviceId;
        const char* override;
        std::optional<std::string> gpuIndex;
        int expected;
    };
    const Row rows[] = {
        {"saved 0", "0", "true", std::nullopt, 0},
        {"saved 1", "1", "true", std::nullopt, 1},
        {"saved beyond the last", "5", "true", std::nullopt, 1},
        {"saved negative", "-1", "true", std::nullopt, 0},
        {"override 1", "0", "true", "1", 1},
        {"override off", "0", "false", "1", 0},
        {"override beyond the last", "0", "true", "7", 1},
        {"override negative", "1", "true", "-3", 0},
        {"override unparsable", "1", "true", "abc", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScopedEnv env(kGpuIndex, row.gpuIndex);
        host::Script script;
        host::HostNode& node = script.createNode("Tweenora", "Retime1");
        node.setKnob("cuda_deviceid", row.deviceId);
        node.setKnob("gpu_render_override", row.override);
        for (const DeviceCaller caller : {DeviceCaller::Open, DeviceCaller::RenderStripe}) {
            const auto [device, onGpu] = node.opAs<Tweenora>()->selectDevice(caller);
            EXPECT_TRUE(onGpu);
            EXPECT_TRUE(device.is_cuda());
            EXPECT_EQ(device.index(), row.expected);
        }
    }
}

TEST(SelectDevice, UsesTheCpuWithoutCudaOrWhenTheGpuIsOff) {
    for (const bool cuda : {false, true}) {
        SCOPED_TRACE(cuda ? "GPU switched off" : "no CUDA");
        const FakeGpu gpu = cuda ? twoGpus() : FakeGpu::cpuOnly();
        model::ScopedGpuQueries installed(gpu);
        ScopedEnv env(kGpuIndex, "1");
        host::Script script;
        host::HostNode& node = script.createNode("Tweenora");
        node.setKnob("use_gpu", "false");
        const auto [device, onGpu] =
            node.opAs<Tweenora>()->selectDevice(DeviceCaller::RenderStripe);
        EXPECT_FALSE(onGpu);
        EXPECT_TRUE(device.is_cpu());
        EXPECT_EQ(device.index(), -1);
    }
}

TEST(SelectDevice, DebugLinesDependOnTheCaller) {
    const FakeGpu gpu = twoGpus();
    model::ScopedGpuQueries installed(gpu);
    ScopedEnv env(kGpuIndex, "1");
    host::Script script;
    host::HostNode& node = script.createNode("Tweenora", "Retime1");
    const Tweenora* op = node.opAs<Tweenora>();
    {
        CoutCapture out;
        op->selectDevice(DeviceCaller::RenderStripe);
        op->selectDevice(DeviceCaller::Open);
        EXPECT_EQ(out.text(), "");
    }
    node.setKnob("debug", "true");
    {
        CoutCapture out;
        op->selectDevice(DeviceCaller::RenderStripe);
        EXPECT_EQ(out.text(),
                  "Retime1: Saved cuda_deviceid: 0\n"
                  "[renderStripe] Render --gpu override: 1\n"
                  "Retime1: Set the use_cuda_device to: 1\n");
    }
    {
        CoutCapture out;
        op->selectDevice(DeviceCaller::Open);
        EXPECT_EQ(out.text(), "[_open] Render --gpu override: 1\n");
    }
}

TEST(GpuReprobe, DescribesTheNewlyChosenDevice) {
    const FakeGpu gpu = twoGpus();
    model::ScopedGpuQueries installed(gpu);
    ScopedEnv env(kGpuIndex, "0");  // the override plays no part in the description
    host::Script script;
    host::HostNode& node = script.createNode("Tweenora");
    const int invalidations = node.invalidations();
    node.opAs<Tweenora>()->model_loaded = true;

    node.setKnob("cuda_deviceid", "1");
    EXPECT_EQ(node.knob("gpuName")->text(), "Big GPU");
    EXPECT_EQ(node.knob("gpuMemory")->text(), "80Gb   Compute capability: sm_90");
    EXPECT_EQ(node.knob("kernelInfo")->text(),
              "Since your current GPU is sm_90, you will rely on native kernels.");
    const Tweenora* op = node.opAs<Tweenora>();
    EXPECT_EQ(op->gpu_sm, "90");
    EXPECT_TRUE(op->use_gpu);
    // Neither a reload nor a re-render: the next _open moves the module.
    EXPECT_TRUE(op->model_loaded);
    EXPECT_EQ(node.invalidations(), invalidations);
}

TEST(GpuReprobe, ReportsAndClampsAnInvalidId) {
    const FakeGpu gpu = twoGpus();
    model::ScopedGpuQueries installed(gpu);
    struct Row {
        const char* deviceId;
        bool debug;
        const char* name;
        const char* printed;
    };
    const Row rows[] = {
        {"5", true, "Big GPU", "Invalid CUDA device ID, falling back to cuda:0\n"},
        {"5", false, "Big GPU", ""},
        {"-1", true, "Fake GPU 0", "Invalid CUDA device ID, falling back to cuda:0\n"},
        {"1", true, "Big GPU", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.deviceId) + (row.debug ? " debug" : ""));
        host::Script script;
        host::HostNode& node = script.createNode("Tweenora");
        node.setKnob("debug", row.debug ? "true" : "false");
        CoutCapture out;
        node.setKnob("cuda_deviceid", row.deviceId);
        EXPECT_EQ(out.text(), row.printed);
        EXPECT_EQ(node.knob("gpuName")->text(), row.name);
    }
}

TEST(GpuReprobe, UnsupportedDeviceTurnsTheGpuOff) {
    FakeGpu gpu = twoGpus();
    gpu.devices[1].major = 8;
    gpu.devices[1].minor = 0;  // no kernels for sm_80 under CUDA 11.8
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    host::HostNode& node = script.createNode("Tweenora");
    node.setKnob("cuda_deviceid", "1");
    EXPECT_EQ(node.knob("gpuMemory")->text(),
              "80Gb&nbsp;&nbsp;&nbsp;Compute capability: <font color='red'>sm_80</font>");
    EXPECT_FALSE(node.opAs<Tweenora>()->use_gpu);
    EXPECT_TRUE(node.opAs<Tweenora>()->gpu_supports_bf16);
}

TEST(GpuReprobe, UnknownNativeArchitectureKeepsTheKernelTextAndTurnsTheGpuOff) {
    FakeGpu gpu = twoGpus();
    gpu.configuration = "no marker line";
    gpu.cudaRuntime = 12040;  // no fallback either: native_sm stays empty
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    host::HostNode& node = script.createNode("Tweenora");
    std::string earlier = "earlier text";
    node.knob("kernelInfo")->text(earlier);
    node.setKnob("cuda_deviceid", "1");
    EXPECT_EQ(node.knob("kernelInfo")->text(), "earlier text");
    EXPECT_EQ(node.knob("gpuName")->text(), "Big GPU");
    EXPECT_FALSE(node.opAs<Tweenora>()->use_gpu);
}

TEST(GpuReprobe, WithoutCudaOnlyTheNameIsShown) {
    const FakeGpu gpu = FakeGpu::cpuOnly();
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    host::HostNode& node = script.createNode("Tweenora");
    node.setKnob("cuda_deviceid", "1");
    EXPECT_EQ(node.knob("gpuName")->text(), "Not available");
    EXPECT_EQ(node.knob("gpuMemory")->text(), "");
    EXPECT_EQ(node.knob("kernelInfo"), nullptr);
}

}  // namespace
}  // namespace tweenora
