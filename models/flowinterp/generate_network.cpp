// SPDX-License-Identifier: Apache-2.0
// Builds the built-in interpolation network from its TorchScript source and saves the archive.
#include <exception>
#include <iostream>
#include <string>

#include <torch/script.h>

#include "models/flowinterp/network_source.h"

namespace {

torch::jit::Module makeModule(const std::string& name) {
    torch::jit::Module module(name);
    // Module::eval needs the flag; the archive is saved in evaluation mode.
    module.register_attribute("training", c10::BoolType::get(), true);
    return module;
}

void defineMethods(torch::jit::Module& module, const std::vector<std::string>& methods) {
    for (const std::string& source : methods)
        module.define(source);
}

torch::jit::Module buildNetwork() {
    torch::jit::Module ops = makeModule("ImageOps");
    defineMethods(ops, tweenora::models::imageOpsMethods());

    torch::jit::Module flow = makeModule("FlowEstimator");
    flow.register_module("ops", ops);
    flow.register_attribute("cast_half", c10::BoolType::get(), true);
    flow.register_attribute("thumb", c10::IntType::get(), int64_t(4));
    flow.register_attribute("alpha", c10::FloatType::get(), 2e-3);
    flow.register_attribute("data_radius", c10::IntType::get(), int64_t(1));
    flow.register_attribute("median", c10::IntType::get(), int64_t(1));
    flow.register_attribute("search_levels", c10::IntType::get(), int64_t(3));
    flow.register_attribute("search_radius", c10::IntType::get(), int64_t(3));
    flow.register_attribute("warps", c10::IntType::get(), int64_t(3));
    flow.register_attribute("inner", c10::IntType::get(), int64_t(10));
    flow.register_attribute("edge_mode", c10::IntType::get(), int64_t(1));
    flow.register_attribute("edge_sigma", c10::FloatType::get(), 0.05);
    flow.register_attribute("flow_eps", c10::FloatType::get(), 0.5);
    flow.register_attribute("warp_mode", c10::IntType::get(), int64_t(2));
    flow.register_attribute("fill_radius", c10::IntType::get(), int64_t(3));
    flow.register_attribute("fill_sigma", c10::FloatType::get(), 1.0);
    flow.register_attribute("data_eps", c10::FloatType::get(), 0.01);
    flow.register_attribute("refine_mode", c10::IntType::get(), int64_t(2));
    flow.register_attribute("fine_luma", c10::IntType::get(), int64_t(1));
    flow.register_attribute("fine_warp_mode", c10::IntType::get(), int64_t(0));
    flow.register_attribute("fill_pooled", c10::IntType::get(), int64_t(1));
    flow.register_attribute("fill_fine", c10::IntType::get(), int64_t(1));
    flow.register_attribute("warp_grads", c10::IntType::get(), int64_t(0));
    flow.register_attribute("fine_warps", c10::IntType::get(), int64_t(0));
    flow.register_attribute("fine_iters", c10::IntType::get(), int64_t(5));
    flow.register_attribute("tv_lambda", c10::FloatType::get(), 38.0);
    flow.register_attribute("tv_theta", c10::FloatType::get(), 0.6);
    defineMethods(flow, tweenora::models::flowEstimatorMethods());

    torch::jit::Module synth = makeModule("FrameSynthesiser");
    synth.register_module("ops", ops);
    synth.register_attribute("synth_fp32", c10::BoolType::get(), true);
    synth.register_attribute("occ_strength", c10::FloatType::get(), 1.0);
    synth.register_attribute("sharpen", c10::FloatType::get(), 0.0);
    synth.register_attribute("debug", c10::IntType::get(), int64_t(0));
    synth.register_attribute("mode", c10::IntType::get(), int64_t(0));
    synth.register_attribute("splat_taps", c10::IntType::get(), int64_t(4));
    synth.register_attribute("vis_mode", c10::IntType::get(), int64_t(0));
    synth.register_attribute("vis_floor", c10::FloatType::get(), 0.5);
    synth.register_attribute("photo_sigma", c10::FloatType::get(), 0.2);
    synth.register_attribute("fallback", c10::FloatType::get(), 0.3);
    synth.register_attribute("prefilter", c10::FloatType::get(), 0.0);
    defineMethods(synth, tweenora::models::frameSynthesiserMethods());

    torch::jit::Module root = makeModule("FlowInterpolator");
    // The node switches both off on the CPU; on a GPU with Half or BFloat16
    // inputs they choose what runs in the reduced type.
    root.register_module("flow", flow);
    root.register_module("synth", synth);
    defineMethods(root, tweenora::models::flowInterpolatorMethods());
    root.eval();
    return root;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: generate_network OUTPUT.pt\n";
        return 2;
    }
    try {
        buildNetwork().save(argv[1]);
    } catch (const std::exception& e) {
        std::cerr << "generate_network: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
