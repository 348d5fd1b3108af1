// SPDX-License-Identifier: Apache-2.0
// GPU information without a node: the device index rule, the supported-device
// table and the texts the panel and the start-up check show.
#include "model/gpu_texts.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <sstream>

namespace tweenora::model {

namespace {

constexpr const char* kNvccNeedle = "  - NVCC architecture flags: ";

// The pair the host's own build uses.
constexpr long kReferenceCudaRuntime = 11080;
constexpr long kReferenceCuDnn = 8401;

bool listedOrAtLeast(int cc, std::initializer_list<int> listed, int atLeast) {
    return cc >= atLeast || std::find(listed.begin(), listed.end(), cc) != listed.end();
}

}  // namespace

int clampDeviceIndex(long long wanted, int count) {
    if (count <= 0)
        return 0;
    return static_cast<int>(std::clamp<long long>(wanted, 0, count - 1));
}

std::string capabilityDigits(int major, int minor) {
    return std::to_string(major) + std::to_string(minor);
}

std::optional<std::string> nativeSmFromConfig(const std::string& configuration) {
    std::istringstream lines(configuration);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find(kNvccNeedle) == std::string::npos)
            continue;
        const size_t mark = line.find_last_of("sm_");
        if (mark == std::string::npos)
            return std::nullopt;
        std::string digits;
        for (size_t i = mark + 1;
             i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i)
            digits += line[i];
        return digits;
    }
    return std::nullopt;
}

std::string nativeSmFromCudaRuntime(long versionCUDART) {
    switch (versionCUDART) {
        case 10010:
            return "75";
        case 11010:
        case 11020:
            return "86";
        case 11080:
            return "89";
        case 12080:
            return "120";
        default:
            return "";
    }
}

bool capabilitySupported(int cc, long versionCUDART) {
    switch (versionCUDART) {
        case 10010:
            return listedOrAtLeast(cc, {35, 50, 52, 60, 61, 70}, 75);
        case 11010:
        case 11020:
            return listedOrAtLeast(cc, {35, 50, 52, 60, 61, 70, 75}, 86);
        case 11080:
            return listedOrAtLeast(cc, {35, 50, 52, 60, 61, 70, 75, 86}, 89);
        case 12080:
            return listedOrAtLeast(cc, {50, 52, 60, 61, 70, 75, 86, 89}, 120);
        default:
            return true;
    }
}

long long memoryGigabytes(uint64_t totalGlobalMem) {
    const double kib = 1.0 / 1024.0;
    return static_cast<long long>(std::ceil(static_cast<double>(totalGlobalMem) * kib * kib * kib));
}

std::string memoryText(uint64_t totalGlobalMem, const std::string& gpuSm, bool supported) {
    const std::string gb = std::to_string(memoryGigabytes(totalGlobalMem));
    if (supported)
        return gb + "Gb   Compute capability: sm_" + gpuSm;
    if (!gpuSm.empty())
        return gb + "Gb&nbsp;&nbsp;&nbsp;Compute capability: <font color='red'>sm_" + gpuSm +
               "</font>";
    return "-";
}

std::string kernelText(const std::string& gpuSm, const std::string& nativeSm) {
    const bool jit = std::stoi(gpuSm) > std::stoi(nativeSm);
    return "Since your current GPU is sm_" + gpuSm +
           (jit ? ", you will rely on JIT-compiled kernels."
                : ", you will rely on native kernels.");
}

std::string nativeSupportText(const std::string& nativeSm) {
    return "with native support for GPUs up to compute capability sm_" + nativeSm + ".";
}

std::string buildText(long versionCUDART, long versionCuDNN) {
    const long v = versionCUDART;
    const long w = versionCuDNN;
    const long cudnnMajor = w >= 90000 ? w / 10000 : w / 1000;
    const long cudnnMinor = w >= 90000 ? (w % 10000) / 100 : (w % 1000) / 100;
    return "This version is built against CUDA " + std::to_string(v / 1000) + "." +
           std::to_string((v % 1000) / 10) + "." + std::to_string(v % 10) + " and cuDNN " +
           std::to_string(cudnnMajor) + "." + std::to_string(cudnnMinor) + "." +
           std::to_string(w % 100);
}

std::string noCudaBuildText() {
    return "This version is built without CUDA: it renders on the CPU only.";
}

std::string compatibilityText(long versionCUDART, long versionCuDNN) {
    if (versionCUDART == kReferenceCudaRuntime && versionCuDNN == kReferenceCuDnn)
        return "This exact combination of CUDA/cuDNN versions is matching\n"
               "what this current build of Nuke is using, which makes this plugin\n"
               "fully compatible with Foundry's AIR tools.";
    return "This exact combination of CUDA/cuDNN versions is NOT matching\n"
           "what this current build of Nuke is using, which makes this plugin\n"
           "incompatible with Foundry's AIR tools. Please be careful with\n"
           "mixing these nodes in the same Nuke scripts.";
}

std::string gpuNotAvailableText() {
    return "Not available";
}

std::string invalidDeviceIdText() {
    return "Invalid CUDA device ID, falling back to cuda:0";
}

std::string jitKernelAdvice(const std::string& nativeSm, const std::string& gpuSm) {
    return "Tweenora: This plugin build natively supports up to compute capability sm_" + nativeSm +
           ". Since your current GPU is sm_" + gpuSm + ", you will rely on JIT-compiled kernels.";
}

std::string cudaCacheAdvice(const char* value) {
    if (!value)
        return "Tweenora: WARNING, the CUDA_CACHE_MAXSIZE environment variable is not set. "
               "Please check the manual on how to set it for the JIT-compilation to be able to "
               "succeed.";
    if (std::strtoll(value, nullptr, 10) < kCudaCacheMinimum)
        return "Tweenora: WARNING, the CUDA_CACHE_MAXSIZE environment variable is set too low. "
               "It should be set to at least " +
               std::to_string(kCudaCacheMinimum) +
               ". Please check the manual on how to set it for the JIT-compilation to be able to "
               "succeed.";
    return "Tweenora: The CUDA_CACHE_MAXSIZE environment variable is set and meets the minimum "
           "requirement.";
}

}  // namespace tweenora::model
