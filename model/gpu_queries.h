// SPDX-License-Identifier: Apache-2.0
// GpuQueries: every question the node asks CUDA, behind one interface tests can replace.
#pragma once

#include <cstdint>
#include <string>

namespace tweenora::model {

//! The fields of a CUDA device's properties that the node reads.
struct GpuDeviceProperties {
    std::string name;
    uint64_t totalGlobalMem = 0;  //!< bytes
    int major = 0;                //!< compute capability
    int minor = 0;
};

//! What the node asks CUDA, reached through libtorch in the plug-in and
//! replaced by a fake in tests. A libtorch built without CUDA is a build
//! without CUDA here: its queries answer "none" instead of throwing.
class GpuQueries {
public:
    virtual ~GpuQueries() = default;

    //! True when a CUDA device can be used.
    virtual bool isAvailable() const = 0;
    virtual int deviceCount() const = 0;
    //! Properties of device index, 0 <= index < deviceCount().
    virtual GpuDeviceProperties deviceProperties(int index) const = 0;
    //! True when libtorch was built with CUDA (whether or not a device exists).
    virtual bool cudaBuild() const = 0;
    //! The build's configuration summary; empty without a CUDA build.
    virtual std::string buildConfiguration() const = 0;
    //! The build's CUDA runtime, major * 1000 + minor * 10 (11080 for 11.8); 0 without CUDA.
    virtual long versionCUDART() const = 0;
    //! The build's cuDNN (8401 for 8.4.1, 90100 for 9.1.0); 0 without cuDNN.
    virtual long versionCuDNN() const = 0;
    //! Hands the GPU memory cached by libtorch's allocator back to the driver.
    virtual void emptyCache() const = 0;
};

//! The process-wide queries: the installed ones, else libtorch's.
const GpuQueries& gpuQueries();

//! Makes queries the process-wide instance (null restores libtorch's) and returns
//! the one installed before (null for libtorch's). The caller keeps queries alive
//! while installed. Meant for tests; install before creating nodes.
const GpuQueries* installGpuQueries(const GpuQueries* queries);

//! The libtorch implementation (model/gpu_queries_torch.cpp).
const GpuQueries& torchGpuQueries();

//! Installs queries for the lifetime of the guard, then restores the previous ones.
class ScopedGpuQueries {
public:
    explicit ScopedGpuQueries(const GpuQueries& queries) : previous_(installGpuQueries(&queries)) {}
    ~ScopedGpuQueries() { installGpuQueries(previous_); }
    ScopedGpuQueries(const ScopedGpuQueries&) = delete;
    ScopedGpuQueries& operator=(const ScopedGpuQueries&) = delete;

private:
    const GpuQueries* previous_;
};

}  // namespace tweenora::model
