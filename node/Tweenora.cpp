// SPDX-License-Identifier: Apache-2.0
// Tweenora: the node's class, its registration with the host, and its lifecycle.
#include "node/Tweenora.h"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <string>

#include <spdlog/spdlog.h>

#include "diagnostics/logging.h"
#include "model/gpu_queries.h"
#include "model/gpu_texts.h"

namespace tweenora {

namespace {

constexpr const char* kClassName = "Tweenora";
constexpr const char* kMenuPath = "Lumaquarry/Tweenora";
constexpr const char* kHelp =
    "Tweenora provides machine learning based frame interpolation and retiming based on the "
    "Interp ZezUvaveru framework. Supports EMA-VFI, RIFE-vgg, and RIFE-pro models for "
    "high-quality motion interpolation.";

// float32 bits 0x3A83126F
constexpr float kDefaultThreshold = 0.001f;

//! The variable's value, or "" when it is not set.
std::string getEnvString(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The node lives in storage from the host's allocator.
DD::Image::Iop* build(Node* node) {
    void* storage = DD::Image::Op::operator new(sizeof(Tweenora));
    if (!storage)
        return nullptr;
    try {
        return ::new (storage) Tweenora(node);
    } catch (...) {
        DD::Image::Op::operator delete(storage);
        throw;
    }
}

}  // namespace

const DD::Image::Op::Description Tweenora::description(kClassName, kMenuPath, build);

Tweenora::Tweenora(Node* node)
    : PlanarIop(node),
      debug(false),
      use_gpu(true),
      cuda_deviceid(0),
      gpu_render_override(true),
      gpu_supports_bf16(false),
      use_bfloat16(true),
      max_size(4500),
      overlap(512),
      padding(64),
      nan_error_threshold(10),
      mode(0),
      speed(0.5f),
      output_frame(1.0f),
      steps(2),
      flow_magnitude(0),
      threshold(kDefaultThreshold),
      downscale(0),
      colorspace_convert(true),
      frame_range_start(kUnsetFrame),
      frame_range_end(kUnsetFrame),
      mixed_precision(false),
      input_channels(DD::Image::Mask_All),
      modelChannelCount(3),
      outputFirstFrame(frame_range_start),
      outputLastFrame(frame_range_end),
      model_loaded(false) {
    diagnostics::applyDebugLevel(debug);
    checkKernelSupport();
}

Tweenora::~Tweenora() {
    try {
        if (model_loaded) {
            spdlog::debug("Tweenora destructor: Moving model to CPU before cleanup");
            model.to(c10::Device(c10::kCPU), /*non_blocking=*/false);
        }
        spdlog::debug("Tweenora destructor: Cleanup completed successfully");
    } catch (const std::exception& e) {
        spdlog::error("Tweenora destructor error: {}", e.what());
    } catch (...) {
        spdlog::error("Tweenora destructor: Unknown error during cleanup");
    }
}

const char* Tweenora::Class() const {
    return kClassName;
}

const char* Tweenora::node_help() const {
    return kHelp;
}

DD::Image::PlanarI::PackedPreference Tweenora::packedPreference() const {
    // renderStripe writes its result channel-interleaved.
    return ePackedPreferencePacked;
}

void Tweenora::checkKernelSupport() {
    // Printed whatever debug says: this is advice for the user at start-up.
    const model::GpuQueries& gpu = model::gpuQueries();
    if (!gpu.isAvailable())
        return;
    const int index = model::clampDeviceIndex(cuda_deviceid, gpu.deviceCount());
    const model::GpuDeviceProperties props = gpu.deviceProperties(index);
    gpu_supports_bf16 = props.major >= 8;
    gpu_sm = model::capabilityDigits(props.major, props.minor);
    if (auto native = model::nativeSmFromConfig(gpu.buildConfiguration()))
        native_sm = *native;

    int current = 0;
    int native = 0;
    try {
        current = std::stoi(gpu_sm);
        native = std::stoi(native_sm);
    } catch (const std::exception&) {
        return;  // no native architecture known: nothing to advise
    }
    if (current <= native)
        return;
    if (getEnvString("LUMAQUARRY_SUPPRESS_KERNEL_WARNINGS") == "1")
        return;
    std::cout << model::jitKernelAdvice(native_sm, gpu_sm) << std::endl;
    std::cout << model::cudaCacheAdvice(std::getenv("CUDA_CACHE_MAXSIZE")) << std::endl;
}

void Tweenora::_close() {
    DD::Image::Iop::_close();
    // The module stays loaded; only cached blocks no tensor holds go back.
    model::gpuQueries().emptyCache();
}

}  // namespace tweenora
