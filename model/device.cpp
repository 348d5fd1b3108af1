// SPDX-License-Identifier: Apache-2.0
// Tweenora: the compute device a render uses, and what the panel says about the GPU.
#include "node/Tweenora.h"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include <DDImage/Knob.h>
#include <DDImage/TextKnobI.h>

#include "model/gpu_queries.h"
#include "model/gpu_texts.h"

namespace tweenora {

namespace {

constexpr const char* kGpuIndexVariable = "LUMAQUARRY_NUKE_GPU_INDEX";

void setKnobText(DD::Image::Op& op, const char* name, std::string text) {
    if (auto* knob = dynamic_cast<DD::Image::Text_KnobI*>(op.knob(name)))
        knob->text(text);
}

}  // namespace

std::pair<c10::Device, bool> Tweenora::selectDevice(DeviceCaller caller) const {
    const model::GpuQueries& gpu = model::gpuQueries();
    if (!use_gpu || !gpu.isAvailable())
        return {c10::Device(c10::kCPU, -1), false};

    const int count = gpu.deviceCount();
    const bool inRender = caller == DeviceCaller::RenderStripe;
    if (inRender && debug)
        std::cout << node_name() << ": Saved cuda_deviceid: " << cuda_deviceid << std::endl;
    int index = model::clampDeviceIndex(cuda_deviceid, count);

    // A batch render's --gpu choice; it applies in the interface as well.
    if (gpu_render_override) {
        if (const char* value = std::getenv(kGpuIndexVariable)) {
            if (debug)
                std::cout << (inRender ? "[renderStripe] Render --gpu override: "
                                       : "[_open] Render --gpu override: ")
                          << value << std::endl;
            index = model::clampDeviceIndex(std::atol(value), count);
        }
    }
    if (inRender && debug)
        std::cout << node_name() << ": Set the use_cuda_device to: " << index << std::endl;
    return {c10::Device(c10::kCUDA, static_cast<c10::DeviceIndex>(index)), true};
}

GpuProbe Tweenora::probeGpu(bool fromKnobs) {
    const model::GpuQueries& gpu = model::gpuQueries();
    GpuProbe probe;
    probe.cudaAvailable = gpu.isAvailable();
    probe.cudaBuild = gpu.cudaBuild();
    const long cudaRuntime = gpu.versionCUDART();
    const long cuDnn = gpu.versionCuDNN();

    if (fromKnobs)
        gpu_name = model::gpuNotAvailableText();

    // The device cuda_deviceid names; the batch override plays no part here.
    uint64_t totalMemory = 0;
    if (probe.cudaAvailable) {
        const int index = model::clampDeviceIndex(cuda_deviceid, gpu.deviceCount());
        if (debug && index != cuda_deviceid)
            std::cout << model::invalidDeviceIdText() << std::endl;
        const model::GpuDeviceProperties props = gpu.deviceProperties(index);
        gpu_supports_bf16 = props.major >= 8;
        gpu_sm = model::capabilityDigits(props.major, props.minor);
        gpu_name = props.name;
        totalMemory = props.totalGlobalMem;
        if (auto native = model::nativeSmFromConfig(gpu.buildConfiguration()))
            native_sm = *native;
    }

    if (fromKnobs) {
        if (native_sm.empty())
            native_sm = model::nativeSmFromCudaRuntime(cudaRuntime);
        // Without a probed capability (no CUDA) stoi throws: unsupported.
        try {
            probe.supported = model::capabilitySupported(std::stoi(gpu_sm), cudaRuntime);
        } catch (const std::exception&) {
            probe.supported = false;
        }
        if (!probe.supported)
            use_gpu = false;
        try {
            probe.kernelText = model::kernelText(gpu_sm, native_sm);
            probe.kernelKnown = true;
        } catch (const std::exception&) {
            // No native architecture to compare with: the panel shows no kernel text.
        }
    } else if (probe.cudaAvailable) {
        // The verdict and the kernel text share one handler: either failing
        // leaves the device unusable and the kernel text as it was.
        try {
            probe.supported = model::capabilitySupported(std::stoi(gpu_sm), cudaRuntime);
            if (!probe.supported)
                use_gpu = false;
            probe.kernelText = model::kernelText(gpu_sm, native_sm);
            probe.kernelKnown = true;
        } catch (const std::exception&) {
            probe.supported = false;
            use_gpu = false;
        }
    }

    if (probe.cudaAvailable)
        probe.memoryText = model::memoryText(totalMemory, gpu_sm, probe.supported);
    probe.buildText =
        probe.cudaBuild ? model::buildText(cudaRuntime, cuDnn) : model::noCudaBuildText();
    probe.nativeText = model::nativeSupportText(native_sm);
    probe.compatibilityText = model::compatibilityText(cudaRuntime, cuDnn);

    if (!fromKnobs) {
        if (probe.kernelKnown)
            setKnobText(*this, "kernelInfo", probe.kernelText);
        setKnobText(*this, "gpuName", gpu_name);
        if (probe.cudaAvailable)
            setKnobText(*this, "gpuMemory", probe.memoryText);
    }
    return probe;
}

}  // namespace tweenora
