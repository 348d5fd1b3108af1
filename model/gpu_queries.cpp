// SPDX-License-Identifier: Apache-2.0
// The process-wide GPU queries and their replacement by tests.
#include "model/gpu_queries.h"

#include <atomic>

namespace tweenora::model {

namespace {

// Null means libtorch's own queries.
std::atomic<const GpuQueries*> installed{nullptr};

}  // namespace

const GpuQueries& gpuQueries() {
    const GpuQueries* queries = installed.load(std::memory_order_acquire);
    return queries ? *queries : torchGpuQueries();
}

const GpuQueries* installGpuQueries(const GpuQueries* queries) {
    return installed.exchange(queries, std::memory_order_acq_rel);
}

}  // namespace tweenora::model
