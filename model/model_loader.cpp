// SPDX-License-Identifier: Apache-2.0
// Tweenora::_open: the network from the model library, loaded once per node and
// moved to the selected device.
#include "node/Tweenora.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>

#include <torch/script.h>
#include <torch/version.h>

#include <DDImage/plugins.h>

#include "model/mem_adapter.h"
#include "model/model_library.h"

namespace tweenora {
namespace {

constexpr char kHalfCastingFlags[][12] = {"cast_half", "synth_fp32"};

//! A fresh module from the library's bytes, read in place; tensors are placed
//! on device as they load.
torch::jit::Module loadFromLibrary(model::ModelExportFn getModel, const c10::Device& device) {
    uint64_t size = 0;
    const unsigned char* data = getModel(&size);
    auto adapter = std::make_shared<model::MemAdapter>(data, size);
#if TORCH_VERSION_MAJOR >= 2
    return torch::jit::load(adapter, device, /*load_debug_files=*/true);
#else
    return torch::jit::load(adapter, device);  // no debug-file switch before 2.0; it loads them
#endif
}

//! Sets cast_half and synth_fp32 to false on every module of the tree that has
//! them; true when at least one was found.
bool switchOffHalfCasting(const torch::jit::Module& root) {
    bool switched = false;
    for (torch::jit::Module module : root.modules()) {
        for (const char* flag : kHalfCastingFlags) {
            if (module.hasattr(flag)) {
                module.setattr(flag, c10::IValue(false));
                switched = true;
            }
        }
    }
    return switched;
}

void reportLoadFailure(DD::Image::Op& op, const std::exception& e) {
    std::cout << model::kModelLoadError << "\n" << e.what() << std::endl;
    op.error("%s", model::kModelLoadError);
}

}  // namespace

void Tweenora::_open() {
    PlanarIop::_open();
    const auto [device, onGpu] = selectDevice(DeviceCaller::Open);

    const char* pluginPath = DD::Image::plugin_find(model::kPluginFileName, nullptr);
    if (!pluginPath)
        std::fprintf(stderr, "[Tweenora] plugin_find(\"%s\") returned null\n",
                     model::kPluginFileName);
    if (!model::loadModelLibrary(pluginPath))
        std::fprintf(stderr, "[Tweenora] Failed to load %s\n", model::kModelLibraryFileName);
    if (!model::modelLibraryLoaded()) {
        std::fprintf(stderr, "[Tweenora] Failed to resolve one or more model symbols\n");
        return;
    }
    // Looked up again on every open; only the library itself is loaded once.
    const model::ModelExportFn getModel = model::resolveModelExport();
    if (!getModel) {
        std::fprintf(stderr, "[Tweenora] Failed to resolve one or more model symbols\n");
        return;
    }

    // Process-wide JIT settings, written again by every open that gets here.
    torch::jit::setGraphExecutorOptimize(false);
    torch::jit::FusionStrategy staticFusion{{torch::jit::FusionBehavior::STATIC, 0}};
    torch::jit::setFusionStrategy(staticFusion);

    if (!model_loaded) {
        try {
            model = loadFromLibrary(getModel, device);
            model_loaded = true;
        } catch (const std::exception& e) {
            reportLoadFailure(*this, e);  // model_loaded stays false: the next open retries
            return;
        }
    }

    // Moving runs on every open, so a device change needs no reload. A failure
    // here can leave the module split across devices: drop it, so the next open
    // loads a fresh one, and report it as a failed load.
    try {
        model.to(device, false);
        if (!onGpu && switchOffHalfCasting(model)) {
            model.to(torch::kFloat, false);
            if (debug)
                std::cout << node_name()
                          << ": CPU device - running the model in FP32 (half-casting flags off) "
                             "to avoid the slow FP16-on-CPU path."
                          << std::endl;
        }
    } catch (const std::exception& e) {
        model = torch::jit::Module();
        model_loaded = false;
        reportLoadFailure(*this, e);
    }
}

}  // namespace tweenora
