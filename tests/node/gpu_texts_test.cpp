// SPDX-License-Identifier: Apache-2.0
// Tests of the GPU rules and texts that need no node.
#include "model/gpu_texts.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/gpu_queries.h"

namespace tweenora::model {
namespace {

TEST(GpuTexts, SupportedCapabilitiesFollowTheRuntimeTable) {
    struct Row {
        long runtime;
        std::vector<int> supported;
        std::vector<int> unsupported;
    };
    const Row rows[] = {
        {10010, {35, 50, 52, 60, 61, 70, 75, 80, 86, 120}, {30, 37, 53, 62, 72}},
        {11010, {35, 50, 52, 60, 61, 70, 75, 86, 89, 90}, {80, 72, 85}},
        {11020, {75, 86, 87}, {80, 37}},
        {11080, {35, 50, 52, 60, 61, 70, 75, 86, 89, 90, 120}, {80, 87, 88, 37}},
        {12080, {50, 52, 60, 61, 70, 75, 86, 89, 120, 121}, {35, 80, 90, 100, 110}},
        {12040, {30, 80, 90, 100}, {}},
        {0, {35, 80}, {}},
    };
    for (const Row& row : rows) {
        for (int cc : row.supported) {
            SCOPED_TRACE("runtime " + std::to_string(row.runtime) + " cc " + std::to_string(cc));
            EXPECT_TRUE(capabilitySupported(cc, row.runtime));
        }
        for (int cc : row.unsupported) {
            SCOPED_TRACE("runtime " + std::to_string(row.runtime) + " cc " + std::to_string(cc));
            EXPECT_FALSE(capabilitySupported(cc, row.runtime));
        }
    }
}

TEST(GpuTexts, NativeArchitectureComesFromTheNvccLine) {
    struct Row {
        const char* configuration;
        std::optional<std::string> native;
    };
    const Row rows[] = {
        {"x\n  - NVCC architecture flags: -gencode;arch=compute_80,code=sm_80;code=sm_90\n", "90"},
        {"  - NVCC architecture flags: -gencode;arch=compute_120,code=sm_120", "120"},
        // The last of 's', 'm', '_' decides, even inside a word.
        {"  - NVCC architecture flags: code=sm_90;compute_86", "86"},
        {"  - NVCC architecture flags: code=sm_", ""},
        // The marker's own "flags" supplies an 's': no digits follow it.
        {"  - NVCC architecture flags: 86", ""},
        // One leading blank is not the marker line.
        {" - NVCC architecture flags: code=sm_90", std::nullopt},
        {"", std::nullopt},
        // Scanning stops at the first marker line.
        {"  - NVCC architecture flags: none\n  - NVCC architecture flags: sm_90\n", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.configuration);
        EXPECT_EQ(nativeSmFromConfig(row.configuration), row.native);
    }
}

TEST(GpuTexts, NativeArchitectureFallsBackOnKnownRuntimes) {
    EXPECT_EQ(nativeSmFromCudaRuntime(10010), "75");
    EXPECT_EQ(nativeSmFromCudaRuntime(11010), "86");
    EXPECT_EQ(nativeSmFromCudaRuntime(11020), "86");
    EXPECT_EQ(nativeSmFromCudaRuntime(11080), "89");
    EXPECT_EQ(nativeSmFromCudaRuntime(12080), "120");
    EXPECT_EQ(nativeSmFromCudaRuntime(12040), "");
    EXPECT_EQ(nativeSmFromCudaRuntime(0), "");
}

TEST(GpuTexts, MemoryRoundsUpToWholeGigabytes) {
    const uint64_t eight = uint64_t(8) << 30;
    EXPECT_EQ(memoryText(eight, "86", true), "8Gb   Compute capability: sm_86");
    EXPECT_EQ(memoryText(eight + 1, "86", true), "9Gb   Compute capability: sm_86");
    EXPECT_EQ(memoryText(eight - 1, "120", true), "8Gb   Compute capability: sm_120");
}

TEST(GpuTexts, UnsupportedCapabilityShowsInRed) {
    EXPECT_EQ(memoryText(uint64_t(24) << 30, "80", false),
              "24Gb&nbsp;&nbsp;&nbsp;Compute capability: <font color='red'>sm_80</font>");
    EXPECT_EQ(memoryText(uint64_t(24) << 30, "", false), "-");
}

TEST(GpuTexts, KernelTextComparesCapabilities) {
    EXPECT_EQ(kernelText("90", "89"),
              "Since your current GPU is sm_90, you will rely on JIT-compiled kernels.");
    EXPECT_EQ(kernelText("86", "89"),
              "Since your current GPU is sm_86, you will rely on native kernels.");
    EXPECT_EQ(kernelText("89", "89"),
              "Since your current GPU is sm_89, you will rely on native kernels.");
    EXPECT_THROW(kernelText("86", ""), std::invalid_argument);
}

TEST(GpuTexts, BuildTextSpellsBothCuDnnNumberings) {
    EXPECT_EQ(buildText(11080, 8401), "This version is built against CUDA 11.8.0 and cuDNN 8.4.1");
    EXPECT_EQ(buildText(12080, 90100), "This version is built against CUDA 12.8.0 and cuDNN 9.1.0");
    EXPECT_EQ(buildText(12041, 90501), "This version is built against CUDA 12.4.1 and cuDNN 9.5.1");
}

TEST(GpuTexts, OnlyTheReferencePairIsCompatible) {
    EXPECT_EQ(compatibilityText(11080, 8401),
              "This exact combination of CUDA/cuDNN versions is matching\nwhat this current build "
              "of Nuke is using, which makes this plugin\nfully compatible with Foundry's AIR "
              "tools.");
    const std::string notMatching =
        "This exact combination of CUDA/cuDNN versions is NOT matching\nwhat this current build "
        "of Nuke is using, which makes this plugin\nincompatible with Foundry's AIR tools. Please "
        "be careful with\nmixing these nodes in the same Nuke scripts.";
    EXPECT_EQ(compatibilityText(11080, 8400), notMatching);
    EXPECT_EQ(compatibilityText(12080, 8401), notMatching);
    EXPECT_EQ(compatibilityText(0, 0), notMatching);
}

TEST(GpuTexts, CudaCacheSizeIsReadAsAnInteger) {
    const std::string meets =
        "Tweenora: The CUDA_CACHE_MAXSIZE environment variable is set and meets the minimum "
        "requirement.";
    const std::string low =
        "Tweenora: WARNING, the CUDA_CACHE_MAXSIZE environment variable is set too low. It should "
        "be set to at least 4000000000. Please check the manual on how to set it for the "
        "JIT-compilation to be able to succeed.";
    const std::string unset =
        "Tweenora: WARNING, the CUDA_CACHE_MAXSIZE environment variable is not set. Please check "
        "the manual on how to set it for the JIT-compilation to be able to succeed.";
    struct Row {
        const char* value;
        const std::string& expected;
    };
    const Row rows[] = {
        {"4000000000", meets},
        {" +4000000001", meets},
        {"9223372036854775807", meets},
        {"3999999999", low},
        {"4e9", low},
        {"abc", low},
        {"", low},
        {"-5000000000", low},
        {nullptr, unset},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value ? row.value : "(unset)");
        EXPECT_EQ(cudaCacheAdvice(row.value), row.expected);
    }
}

TEST(GpuTexts, DeviceIndexIsClampedToExistingDevices) {
    EXPECT_EQ(clampDeviceIndex(0, 2), 0);
    EXPECT_EQ(clampDeviceIndex(1, 2), 1);
    EXPECT_EQ(clampDeviceIndex(5, 2), 1);
    EXPECT_EQ(clampDeviceIndex(-1, 2), 0);
    EXPECT_EQ(clampDeviceIndex(-128, 2), 0);
    EXPECT_EQ(clampDeviceIndex(9000000000LL, 3), 2);
    EXPECT_EQ(clampDeviceIndex(3, 0), 0);
}

TEST(TorchGpuQueries, CpuOnlyBuildReadsAsNoCuda) {
    const GpuQueries& torch = torchGpuQueries();
    if (torch.cudaBuild())
        GTEST_SKIP() << "libtorch was built with CUDA";
    EXPECT_FALSE(torch.isAvailable());
    EXPECT_EQ(torch.deviceCount(), 0);
    EXPECT_EQ(torch.buildConfiguration(), "");
    EXPECT_EQ(torch.versionCUDART(), 0);
    EXPECT_EQ(torch.versionCuDNN(), 0);
    EXPECT_NO_THROW(torch.emptyCache());
}

}  // namespace
}  // namespace tweenora::model
