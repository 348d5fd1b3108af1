// SPDX-License-Identifier: Apache-2.0
// Builds the built-in interpolation network from its TorchScript source and saves the archive.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

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

    // The node switches both flags off on the CPU. With Half or BFloat16
    // frames (on the CPU BFloat16 only), cast_half runs the matching search in
    // that type and synth_fp32 keeps the synthesis in float32 (off: in the
    // frames' type).
    torch::jit::Module flow = makeModule("FlowEstimator");
    flow.register_module("ops", ops);
    flow.register_attribute("cast_half", c10::BoolType::get(), true);
    defineMethods(flow, tweenora::models::flowEstimatorMethods());

    torch::jit::Module synth = makeModule("FrameSynthesiser");
    synth.register_module("ops", ops);
    synth.register_attribute("synth_fp32", c10::BoolType::get(), true);
    defineMethods(synth, tweenora::models::frameSynthesiserMethods());

    torch::jit::Module root = makeModule("FlowInterpolator");
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
