// SPDX-License-Identifier: Apache-2.0
// GPU information without a node: the device index rule, the supported-device
// table and the texts the panel and the start-up check show.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tweenora::model {

//! CUDA_CACHE_MAXSIZE below this many bytes is too small for JIT-compiled kernels.
constexpr long long kCudaCacheMinimum = 4000000000LL;

//! The device a wanted index names among count devices: clamped to [0, count - 1]
//! (0 when there is no device), so a negative or too large index never names a
//! device that does not exist.
int clampDeviceIndex(long long wanted, int count);

//! Compute capability as digits, major then minor: "86" for 8.6, "120" for 12.0.
std::string capabilityDigits(int major, int minor);

//! The newest architecture the build carries native kernels for, read from the
//! first "  - NVCC architecture flags: " line of the build configuration: the
//! digits after the line's last 's', 'm' or '_' ("90" for ...code=sm_90, "" when
//! no digits follow). Nothing (keep the current value) when there is no such line
//! or the line has none of those characters.
std::optional<std::string> nativeSmFromConfig(const std::string& configuration);

//! The native architecture a known CUDA runtime implies ("75", "86", "89",
//! "120"), or "" for other runtimes.
std::string nativeSmFromCudaRuntime(long versionCUDART);

//! Whether compute capability cc (86 for 8.6) runs under the build's CUDA
//! runtime; every capability does under runtimes the table does not name.
bool capabilitySupported(int cc, long versionCUDART);

//! Memory rounded up to whole gigabytes (2^30 bytes).
long long memoryGigabytes(uint64_t totalGlobalMem);

//! The panel's memory and capability text. An unsupported device shows its
//! capability in red (an HTML fragment), or "-" when the capability is unknown.
std::string memoryText(uint64_t totalGlobalMem, const std::string& gpuSm, bool supported);

//! Whether the GPU relies on native or JIT-compiled kernels. Throws
//! std::invalid_argument or std::out_of_range when either text is not a number.
std::string kernelText(const std::string& gpuSm, const std::string& nativeSm);

//! "with native support for GPUs up to compute capability sm_<nativeSm>."
std::string nativeSupportText(const std::string& nativeSm);

//! The CUDA and cuDNN versions the build uses ("... CUDA 11.8.0 and cuDNN 8.4.1").
std::string buildText(long versionCUDART, long versionCuDNN);

//! Shown in place of buildText by a libtorch built without CUDA.
std::string noCudaBuildText();

//! Whether the build's CUDA/cuDNN pair is the host's own (11.8 with 8.4.1).
std::string compatibilityText(long versionCUDART, long versionCuDNN);

//! The GPU name the panel shows when no device was probed.
std::string gpuNotAvailableText();

//! Printed by the probe (with debug on) when the saved device id is not a device.
std::string invalidDeviceIdText();

//! The start-up line for a GPU newer than the build's native kernels.
std::string jitKernelAdvice(const std::string& nativeSm, const std::string& gpuSm);

//! The start-up line about CUDA_CACHE_MAXSIZE; value is the variable's text or
//! null when it is not set. The text is read as the C library's strtoll does.
std::string cudaCacheAdvice(const char* value);

}  // namespace tweenora::model
