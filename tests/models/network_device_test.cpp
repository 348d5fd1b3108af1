// SPDX-License-Identifier: Apache-2.0
// The built-in network as a GPU runs it: frames in Half or BFloat16 with the
// half-precision flags as saved, and where it reads tensor values on the host.
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <torch/csrc/jit/ir/ir.h>
#include <torch/csrc/jit/passes/inliner.h>
#include <torch/script.h>

#include "tests/models/builtin_network.h"
#include "tests/models/synthetic_frames.h"

namespace {

using tweenora::models::test::discScene;
using tweenora::models::test::loadBuiltInNetwork;
using tweenora::models::test::psnr;

void setFlags(const torch::jit::Module& root, bool castHalf, bool synthFp32) {
    for (torch::jit::Module module : root.modules()) {
        if (module.hasattr("cast_half"))
            module.setattr("cast_half", castHalf);
        if (module.hasattr("synth_fp32"))
            module.setattr("synth_fp32", synthFp32);
    }
}

at::Tensor interpolate(torch::jit::Module& network, const at::Tensor& img0,
                       const at::Tensor& img1) {
    c10::InferenceMode guard;
    return network.forward({img0, img1, 0.5, int64_t(1), int64_t(1), 0.001, 1.0}).toTensor();
}

// A disc moving over a moving background: the matching search, the
// refinement and the occlusion-aware blend all take part.
struct Scene {
    at::Tensor img0 = discScene(96, 128, 18.0, -8.0, 2.0, 4.0, 1.0, 0.0);
    at::Tensor img1 = discScene(96, 128, 18.0, -8.0, 2.0, 4.0, 1.0, 1.0);
};

// Note [Reduced-precision tolerance]
// BFloat16 keeps 8 significant bits: rounding alone puts values near 1 on
// steps of 2^-8, an error of about 0.0011 RMS, 59 dB. The frames also reach
// the flow estimation rounded (54.5 dB measured with the flags off), and with
// a flag on the matching costs or the final blend are rounded too (50 dB).
// 45 dB leaves room for other libtorch versions and still fails on a wrong
// type, a lost channel or a blend on the wrong side (all below 30 dB). Half
// keeps 11 bits and, on the CPU, computes in float32: 66.6 dB measured, 60
// required.
TEST(NetworkReducedPrecision, StaysCloseToFloat32WithEitherFlagSetting) {
    const Scene scene;
    torch::jit::Module network = loadBuiltInNetwork();
    setFlags(network, false, false);
    const at::Tensor reference = interpolate(network, scene.img0, scene.img1);
    struct Row {
        at::ScalarType type;
        bool castHalf, synthFp32;
        double minPsnr;
    };
    const std::vector<Row> rows = {
        {at::kBFloat16, true, true, 45.0},   {at::kBFloat16, true, false, 45.0},
        {at::kBFloat16, false, false, 45.0}, {at::kHalf, true, true, 60.0},
        {at::kHalf, true, false, 60.0},      {at::kHalf, false, false, 60.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(c10::toString(row.type)) + (row.castHalf ? " cast_half" : "") +
                     (row.synthFp32 ? " synth_fp32" : ""));
        setFlags(network, row.castHalf, row.synthFp32);
        const at::Tensor out =
            interpolate(network, scene.img0.to(row.type), scene.img1.to(row.type));
        EXPECT_EQ(out.scalar_type(), row.type);
        EXPECT_TRUE(torch::isfinite(out).all().item<bool>());
        EXPECT_GT(psnr(out.to(at::kFloat), reference, 0), row.minPsnr);
    }
}

TEST(NetworkReducedPrecision, FlagsSwitchTheReducedPathsWhereTheDeviceHasTheKernels) {
    // Computed in float32, a reduced-precision pair gives exactly its
    // float32 copy's result, rounded. The CPU has the BFloat16 kernels of
    // both reduced paths (the matching search under cast_half, the blend
    // without synth_fp32); it lacks Half ones, so Half is computed in float32
    // whatever the flags say, rather than failing.
    const Scene scene;
    torch::jit::Module network = loadBuiltInNetwork();
    struct Row {
        at::ScalarType type;
        bool castHalf, synthFp32;
        bool reduced;
    };
    const std::vector<Row> rows = {
        {at::kBFloat16, false, true, false},
        {at::kBFloat16, true, true, true},
        {at::kBFloat16, false, false, true},
        {at::kHalf, true, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(c10::toString(row.type)) + (row.castHalf ? " cast_half" : "") +
                     (row.synthFp32 ? " synth_fp32" : ""));
        const at::Tensor img0 = scene.img0.to(row.type);
        const at::Tensor img1 = scene.img1.to(row.type);
        setFlags(network, row.castHalf, row.synthFp32);
        const at::Tensor out = interpolate(network, img0, img1);
        const at::Tensor inFloat32 =
            interpolate(network, img0.to(at::kFloat), img1.to(at::kFloat)).to(row.type);
        EXPECT_EQ(!torch::equal(out, inFloat32), row.reduced);
    }
}

// A node that reads a tensor's value on the host, which on a GPU waits for
// all the work queued before it: value reads, comparisons of whole tensors,
// tensors made from host values (a blocking copy to the device), and results
// whose size depends on values. Conversions of plain numbers do not count.
bool readsOnHost(const torch::jit::Node* node) {
    static const std::set<std::string> always = {
        "aten::item",
        "aten::equal",
        "aten::allclose",
        "aten::is_nonzero",
        "aten::tensor",
        "aten::as_tensor",
        "aten::nonzero",
        "aten::masked_select",
        "aten::nonzero_numpy",
        "aten::repeat_interleave",
        "aten::unique_dim",
        "aten::_unique2",
        "aten::unique_consecutive",
        "aten::cpu",
        "prim::tolist",
    };
    static const std::set<std::string> ofTensor = {"aten::Bool",        "aten::Int",
                                                   "aten::Float",       "aten::ScalarImplicit",
                                                   "aten::IntImplicit", "aten::FloatImplicit"};
    const std::string kind = node->kind().toQualString();
    if (always.count(kind) > 0)
        return true;
    return ofTensor.count(kind) > 0 && !node->inputs().empty() &&
           node->inputs()[0]->type()->kind() == c10::TypeKind::TensorType;
}

struct HostRead {
    std::string text;
    int loopDepth = 0;
};

void collectHostReads(const torch::jit::Block* block, int loopDepth, std::vector<HostRead>& out) {
    for (const torch::jit::Node* node : block->nodes()) {
        if (readsOnHost(node)) {
            std::ostringstream text;
            text << *node;
            out.push_back({text.str(), loopDepth});
        }
        const int inner = loopDepth + (node->kind() == c10::prim::Loop ? 1 : 0);
        for (const torch::jit::Block* sub : node->blocks())
            collectHostReads(sub, inner, out);
    }
}

// The host reads of module's forward, with every method it calls inlined: a
// read in a method called inside a loop shows inside that loop.
std::vector<HostRead> hostReads(const torch::jit::Module& module) {
    std::shared_ptr<torch::jit::Graph> graph = module.get_method("forward").graph()->copy();
    torch::jit::Inline(*graph);
    std::vector<HostRead> reads;
    collectHostReads(graph->block(), 0, reads);
    return reads;
}

TEST(NetworkHostReads, AreFoundInCalledMethodsAndLoops) {
    torch::jit::Module module("Reads");
    module.define(R"(
def step(self, x: Tensor) -> Tensor:
    if bool(x.sum() > 0.0):
        return x * 0.5
    return x

def forward(self, x: Tensor) -> Tensor:
    if torch.equal(x, x * 2.0):
        return x
    for i in range(3):
        x = self.step(x) + float(i)
    return x * torch.tensor([2.0], device=x.device)
)");
    const std::vector<HostRead> reads = hostReads(module);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].loopDepth, 0);  // torch.equal
    EXPECT_EQ(reads[1].loopDepth, 1);  // bool() in step; float(i) is no read
    EXPECT_EQ(reads[2].loopDepth, 0);  // torch.tensor
}

TEST(NetworkHostReads, NoneInsideTheLoopsAndAtMostTwoPerCall) {
    const std::vector<HostRead> reads = hostReads(loadBuiltInNetwork());
    std::string listing;
    for (const HostRead& read : reads)
        listing += (read.loopDepth > 0 ? "in a loop: " : "") + read.text;
    for (const HostRead& read : reads)
        EXPECT_EQ(read.loopDepth, 0) << read.text;
    // Equal frames and the cut check.
    EXPECT_LE(reads.size(), 2u) << listing;
}

}  // namespace
