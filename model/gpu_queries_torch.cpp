// SPDX-License-Identifier: Apache-2.0
// The GPU queries answered by libtorch, a build without CUDA included.
#include "model/gpu_queries.h"

#include <stdexcept>

#include <ATen/detail/CUDAHooksInterface.h>
#include <c10/util/Exception.h>
#include <torch/cuda.h>

#ifdef TWEENORA_HAS_CUDA
#include <ATen/cuda/CUDAContext.h>
#include <c10/cuda/CUDACachingAllocator.h>
#endif

namespace tweenora::model {

namespace {

// Note [CPU-only libtorch]
// A libtorch built without CUDA answers the build queries (configuration,
// CUDA runtime and cuDNN versions) by throwing c10::Error. The node must work
// there all the same, so such a build reads as one without CUDA: no
// configuration text and version 0.
class TorchGpuQueries final : public GpuQueries {
public:
    bool isAvailable() const override { return torch::cuda::is_available(); }

    int deviceCount() const override { return static_cast<int>(torch::cuda::device_count()); }

    GpuDeviceProperties deviceProperties(int index) const override {
#ifdef TWEENORA_HAS_CUDA
        const auto* props = at::cuda::getDeviceProperties(static_cast<c10::DeviceIndex>(index));
        GpuDeviceProperties result;
        result.name = props->name;
        result.totalGlobalMem = static_cast<uint64_t>(props->totalGlobalMem);
        result.major = props->major;
        result.minor = props->minor;
        return result;
#else
        throw std::out_of_range("CUDA device " + std::to_string(index) +
                                " queried in a build without CUDA");
#endif
    }

    bool cudaBuild() const override {
        // The build cannot change while the process runs.
        static const bool built = [] {
            try {
                at::detail::getCUDAHooks().versionCUDART();
                return true;
            } catch (const c10::Error&) {
                return false;  // See Note [CPU-only libtorch]
            }
        }();
        return built;
    }

    std::string buildConfiguration() const override {
        if (!cudaBuild())
            return {};
        return at::detail::getCUDAHooks().showConfig();
    }

    long versionCUDART() const override {
        if (!cudaBuild())
            return 0;
        return at::detail::getCUDAHooks().versionCUDART();
    }

    long versionCuDNN() const override {
        if (!cudaBuild())
            return 0;
        try {
            return at::detail::getCUDAHooks().versionCuDNN();
        } catch (const c10::Error&) {
            return 0;  // a CUDA build without cuDNN
        }
    }

    void emptyCache() const override {
#ifdef TWEENORA_HAS_CUDA
        if (isAvailable())
            c10::cuda::CUDACachingAllocator::emptyCache();
#endif
    }
};

}  // namespace

const GpuQueries& torchGpuQueries() {
    static const TorchGpuQueries queries;
    return queries;
}

}  // namespace tweenora::model
