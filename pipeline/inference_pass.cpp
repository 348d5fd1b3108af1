// SPDX-License-Identifier: Apache-2.0
// One run of the network on a pair of image tensors, with the NaN guard.
#include "pipeline/inference_pass.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <vector>

#include <ATen/Parallel.h>
#include <ATen/autocast_mode.h>
#include <torch/nn/functional/padding.h>
#include <torch/script.h>
#include <torch/version.h>

#include "model/model_library.h"
#include "pipeline/pu21.h"

namespace tweenora::pipeline {

namespace {

// The network sees sizes that are multiples of this.
constexpr int64_t kSizeMultiple = 32;
constexpr int kMaxStepsArgument = 5;

at::Tensor prepareInput(const InferenceContext& ctx, const at::Tensor& img) {
    // The network wants rows top-down; the host stores them bottom-up.
    at::Tensor prepared =
        img.flip({2}).to(at::TensorOptions().device(ctx.device), /*non_blocking=*/false,
                         /*copy=*/false);
    if (ctx.node->colorspace_convert) {
        // The flipped tensor is ours alone, so it can be encoded in place.
        pu21EncodeInPlace(prepared);
    }
    return padToMultiple(prepared, kSizeMultiple);
}

std::vector<c10::IValue> forwardArguments(const InferenceContext& ctx, at::Tensor img0,
                                          at::Tensor img1) {
    const Tweenora& node = *ctx.node;
    const int64_t steps = std::clamp(node.steps - 1, 0, kMaxStepsArgument);
    const int64_t flowMagnitude = node.flow_magnitude + 1;
    std::vector<c10::IValue> arguments;
    arguments.reserve(7);
    arguments.emplace_back(std::move(img0));
    arguments.emplace_back(std::move(img1));
    arguments.emplace_back(double(ctx.frameInfo.timestep));
    arguments.emplace_back(steps);
    arguments.emplace_back(flowMagnitude);
    arguments.emplace_back(double(node.threshold));
    arguments.emplace_back(double(ctx.downscaleFactor));
    return arguments;
}

// Autocast switched on or off on the device's type for one forward call, in
// the given reduced type; the thread's previous switch and type come back on every way out, an
// exception included. Autocast's own type must be the frames': it rejects ops
// that mix another reduced type with its own ("Unexpected floating ScalarType
// in at::autocast::prioritize"), and its defaults differ by device (CUDA Half,
// the CPU BFloat16). libtorch 2.4 made the switch and the type per device
// type; before, CUDA and the CPU had functions each.
class AutocastScope {
public:
    AutocastScope(c10::DeviceType type, bool on, at::ScalarType reduced)
        : type_(type), wasEnabled_(autocastEnabled(type)), previousType_(autocastType(type)) {
        set(type_, on, reduced);
    }
    ~AutocastScope() { set(type_, wasEnabled_, previousType_); }
    AutocastScope(const AutocastScope&) = delete;
    AutocastScope& operator=(const AutocastScope&) = delete;

private:
#if TORCH_VERSION_MAJOR > 2 || (TORCH_VERSION_MAJOR == 2 && TORCH_VERSION_MINOR >= 4)
    static void set(c10::DeviceType type, bool on, at::ScalarType reduced) {
        at::autocast::set_autocast_dtype(type, reduced);
        at::autocast::set_autocast_enabled(type, on);
    }
#else
    static void set(c10::DeviceType type, bool on, at::ScalarType reduced) {
        if (type == c10::DeviceType::CPU) {
            // The CPU's autocast took only BFloat16 then, and let Half through.
            if (reduced == at::kBFloat16)
                at::autocast::set_autocast_cpu_dtype(reduced);
            at::autocast::set_cpu_enabled(on);
        } else {
            at::autocast::set_autocast_gpu_dtype(reduced);
            at::autocast::set_enabled(on);
        }
    }
#endif
    c10::DeviceType type_;
    bool wasEnabled_;
    at::ScalarType previousType_;
};

// isnan(result).sum() without the mask tensor on the CPU.
int64_t countNan(const at::Tensor& result) {
    if (!result.device().is_cpu() || result.scalar_type() != at::kFloat ||
        !result.is_contiguous()) {
        return at::isnan(result).sum().item<int64_t>();
    }
    const float* data = result.data_ptr<float>();
    constexpr int64_t kGrain = 32768;
    return at::parallel_reduce(
        int64_t(0), result.numel(), kGrain, int64_t(0),
        [data](int64_t begin, int64_t end, int64_t count) {
            for (int64_t i = begin; i < end; ++i) {
                count += std::isnan(data[i]) ? 1 : 0;
            }
            return count;
        },
        [](int64_t a, int64_t b) { return a + b; });
}

}  // namespace

// libtorch 2.4 made the queries per device type; before, CUDA and the CPU had
// functions each.
bool autocastEnabled(c10::DeviceType type) {
#if TORCH_VERSION_MAJOR > 2 || (TORCH_VERSION_MAJOR == 2 && TORCH_VERSION_MINOR >= 4)
    return at::autocast::is_autocast_enabled(type);
#else
    return type == c10::DeviceType::CPU ? at::autocast::is_cpu_enabled()
                                        : at::autocast::is_enabled();
#endif
}

at::ScalarType autocastType(c10::DeviceType type) {
#if TORCH_VERSION_MAJOR > 2 || (TORCH_VERSION_MAJOR == 2 && TORCH_VERSION_MINOR >= 4)
    return at::autocast::get_autocast_dtype(type);
#else
    return type == c10::DeviceType::CPU ? at::autocast::get_autocast_cpu_dtype()
                                        : at::autocast::get_autocast_gpu_dtype();
#endif
}

int64_t clockTicks() {
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

at::Tensor padToMultiple(const at::Tensor& x, int64_t m) {
    const int64_t height = x.size(2);
    const int64_t width = x.size(3);
    const int64_t right = (width + m - 1) / m * m - width;
    const int64_t bottom = (height + m - 1) / m * m - height;
    if (right == 0 && bottom == 0) {
        return x;
    }
    namespace F = torch::nn::functional;
    return F::pad(x, F::PadFuncOptions({0, right, 0, bottom}).mode(torch::kReplicate).value(0));
}

int64_t checkNanValues(const Tweenora& node, const at::Tensor& result) {
    const int threshold = node.nan_error_threshold;
    if (threshold >= 100) {
        return 0;
    }
    const int64_t n = result.numel();
    if (n <= 0) {
        return 0;
    }
    const int64_t k = countNan(result);
    const double percent = double(k) * 100.0 / double(n);
    if (node.debug) {
        std::cout << "    NaN check: " << k << "/" << n << " (" << percent << "%)" << std::endl;
    }
    if (percent > double(threshold)) {
        throw std::runtime_error("Too many nan values returned, frame corrupt");
    }
    return k;
}

at::Tensor runInferencePass(InferenceContext& ctx, at::Tensor img0, at::Tensor img1) {
    Tweenora& node = *ctx.node;
    const int64_t height = img0.size(2);
    const int64_t width = img0.size(3);
    if (ctx.totalPasses > 1) {
        node.progressMessage("Interpolating (pass %d/%d)", ctx.passesDone + 1, ctx.totalPasses);
    }

    img0 = prepareInput(ctx, img0);
    img1 = prepareInput(ctx, img1);

    // Autocast and its casts act on the device's type: CUDA wherever the node
    // sets gpuInUse. Paired with the CPU, the same branch runs under the
    // CPU's autocast, which lets it be exercised without a GPU.
    const c10::DeviceType autocastDevice = ctx.device.type();
    std::optional<AutocastScope> autocast;
    if (ctx.gpuInUse) {
        const at::ScalarType reduced =
            node.use_bfloat16 && node.gpu_supports_bf16 ? at::kBFloat16 : at::kHalf;
        autocast.emplace(autocastDevice, node.mixed_precision, reduced);
        if (node.mixed_precision) {
            img0 = at::autocast::cached_cast(reduced, img0, autocastDevice);
            img1 = at::autocast::cached_cast(reduced, img1, autocastDevice);
        }
    }

    // An empty module fails with a libtorch internal assertion that hides the
    // cause; the loader's own failure says what to mend.
    if (!node.model_loaded) {
        throw std::runtime_error(model::modelUnavailableText());
    }
    std::vector<c10::IValue> arguments = forwardArguments(ctx, std::move(img0), std::move(img1));
    const int64_t start = clockTicks();
    at::Tensor result;
    {
        c10::InferenceMode guard(true);
        result = node.model.forward(std::move(arguments), torch::jit::Kwargs()).toTensor();
    }
    const int64_t elapsed = clockTicks() - start;
    if (node.debug) {
        std::cout << "    Inference time (forward): " << elapsed / 10000 << "ms" << std::endl;
    }
    autocast.reset();

    // Counted over the padded result, before any conversion.
    checkNanValues(node, result);

    if (node.mixed_precision) {
        result = result.to(at::kFloat);
    }
    result = result.slice(2, 0, height).slice(3, 0, width);
    if (node.colorspace_convert) {
        result = pu21Decode(result);
    }
    // flip writes a new contiguous tensor, so no further copy is needed.
    result = result.to(at::kFloat)
                 .to(at::TensorOptions().device(c10::Device(c10::kCPU)))
                 .flip({2})
                 .contiguous();

    ++ctx.passesDone;
    node.progressFraction(double(ctx.passesDone) / double(ctx.totalPasses),
                          DD::Image::Op::StatusNone);
    return result;
}

}  // namespace tweenora::pipeline
