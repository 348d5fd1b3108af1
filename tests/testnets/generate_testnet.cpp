// SPDX-License-Identifier: Apache-2.0
// Builds one small TorchScript test network and saves it: networks whose output
// tests can predict, standing in for the real interpolator.
//
// Usage: tweenora_testnet_generator <kind> <output.pt> [value]
//   identity0, identity1      return img0 / img1 unchanged
//   blend                     img0 + (img1 - img0) * timestep
//   constant <value>          every output value is <value> (in the network's domain)
//   recorder                  returns img0 and keeps its last arguments in attributes
//   nan_percent <p>           img0 with round(p% of the output's values) set to NaN
//   nan_count <k>             img0 with its first k values set to NaN
//   wrong_shape               the top-left quarter of img0 (half height, half width)
//   half_flags                img0 through a submodule with cast_half/synth_fp32
//                             (both true as saved) and a float64 buffer
//   no_half_flags             the same without the two attributes
//   int_half_flag             img0, with a cast_half attribute that is an int, not a bool
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <torch/script.h>

namespace {

using torch::jit::Module;

// Every network takes the node's seven forward arguments.
const std::string kSignature =
    "img0: Tensor, img1: Tensor, timestep: float, steps: int, flow_magnitude: int, "
    "threshold: float, downscale: float";

std::string forwardReturning(const std::string& body) {
    return "def forward(self, " + kSignature + ") -> Tensor:\n" + body;
}

Module identity(const char* which) {
    Module m("Identity");
    m.define(forwardReturning(std::string("    return ") + which + "\n"));
    return m;
}

Module blend() {
    Module m("Blend");
    m.define(forwardReturning("    return img0 + (img1 - img0) * timestep\n"));
    return m;
}

Module constant(double value) {
    Module m("Constant");
    m.register_attribute("value", c10::FloatType::get(), value);
    m.define(forwardReturning("    return torch.full_like(img0, self.value)\n"));
    return m;
}

Module recorder() {
    Module m("Recorder");
    m.register_attribute("calls", c10::IntType::get(), int64_t(0));
    m.register_attribute("last_timestep", c10::FloatType::get(), -1.0);
    m.register_attribute("last_steps", c10::IntType::get(), int64_t(-1));
    m.register_attribute("last_flow_magnitude", c10::IntType::get(), int64_t(-1));
    m.register_attribute("last_threshold", c10::FloatType::get(), -1.0);
    m.register_attribute("last_downscale", c10::FloatType::get(), -1.0);
    m.register_attribute("last_shape", c10::ListType::ofInts(), c10::List<int64_t>());
    m.register_attribute("last_img1_shape", c10::ListType::ofInts(), c10::List<int64_t>());
    m.register_attribute("last_dtype", c10::IntType::get(), int64_t(-1));  // c10::ScalarType
    m.register_attribute("last_is_cuda", c10::BoolType::get(), false);
    m.define(forwardReturning(R"(
    self.calls += 1
    self.last_timestep = timestep
    self.last_steps = steps
    self.last_flow_magnitude = flow_magnitude
    self.last_threshold = threshold
    self.last_downscale = downscale
    self.last_shape = img0.size()
    self.last_img1_shape = img1.size()
    self.last_dtype = img0.dtype
    self.last_is_cuda = img0.is_cuda
    return img0
)"));
    return m;
}

// count < 0 takes percent of the output's values, rounded to the nearest count.
Module nanEmitter(int64_t count, double percent) {
    Module m("NanEmitter");
    m.register_attribute("count", c10::IntType::get(), count);
    m.register_attribute("fraction", c10::FloatType::get(), percent / 100.0);
    m.define(forwardReturning(R"(
    out = img0.clone()
    flat = out.view(-1)
    n = flat.numel()
    k = self.count
    if k < 0:
        k = int(self.fraction * n + 0.5)
    k = min(k, n)
    flat.narrow(0, 0, k).fill_(float("nan"))
    return out
)"));
    return m;
}

Module wrongShape() {
    Module m("WrongShape");
    m.define(forwardReturning("    return img0[:, :, : img0.size(2) // 2, : img0.size(3) // 2]\n"));
    return m;
}

// The flags live in a submodule, so the node has to walk the module tree to find them.
Module halfFlags(bool withFlags) {
    auto unit = std::make_shared<torch::jit::CompilationUnit>();
    Module synth("Synth", unit, true);
    synth.register_buffer("weight", at::ones({1}, at::kDouble));
    if (withFlags) {
        synth.register_attribute("cast_half", c10::BoolType::get(), true);
        synth.register_attribute("synth_fp32", c10::BoolType::get(), true);
        synth.define(R"(
def forward(self, x: Tensor) -> Tensor:
    if self.cast_half:
        x = x.half().float()
    return x
)");
    } else {
        synth.define("def forward(self, x: Tensor) -> Tensor:\n    return x\n");
    }
    Module m("HalfFlags", unit, true);
    m.register_module("synth", synth);
    m.define(forwardReturning("    return self.synth.forward(img0)\n"));
    return m;
}

// A flag of the wrong type: switching it off fails after the module has loaded.
Module intHalfFlag() {
    Module m("IntHalfFlag");
    m.register_attribute("cast_half", c10::IntType::get(), int64_t(1));
    m.define(forwardReturning("    return img0\n"));
    return m;
}

double numberArgument(int argc, char** argv) {
    if (argc < 4)
        throw std::invalid_argument("this kind needs a value");
    size_t used = 0;
    const double value = std::stod(argv[3], &used);
    if (argv[3][used] != '\0')
        throw std::invalid_argument(std::string("not a number: ") + argv[3]);
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <kind> <output.pt> [value]\n", argv[0]);
        return 2;
    }
    const std::string kind = argv[1];
    const std::map<std::string, std::function<Module()>> builders = {
        {"identity0", [] { return identity("img0"); }},
        {"identity1", [] { return identity("img1"); }},
        {"blend", [] { return blend(); }},
        {"constant", [&] { return constant(numberArgument(argc, argv)); }},
        {"recorder", [] { return recorder(); }},
        {"nan_percent", [&] { return nanEmitter(-1, numberArgument(argc, argv)); }},
        {"nan_count", [&] { return nanEmitter(int64_t(numberArgument(argc, argv)), 0.0); }},
        {"wrong_shape", [] { return wrongShape(); }},
        {"half_flags", [] { return halfFlags(true); }},
        {"no_half_flags", [] { return halfFlags(false); }},
        {"int_half_flag", [] { return intHalfFlag(); }},
    };
    const auto builder = builders.find(kind);
    if (builder == builders.end()) {
        std::fprintf(stderr, "%s: unknown network kind '%s'\n", argv[0], kind.c_str());
        return 2;
    }
    try {
        Module network = builder->second();
        network.eval();  // the node never switches modes: save as it should run
        network.save(argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s: %s\n", argv[0], kind.c_str(), e.what());
        return 1;
    }
    return 0;
}
