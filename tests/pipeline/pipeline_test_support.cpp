// SPDX-License-Identifier: Apache-2.0
// What the pipeline's node tests share: small TorchScript networks, in-memory
// clips and a script with a Tweenora node reading one.
#include "tests/pipeline/pipeline_test_support.h"

#include <algorithm>
#include <sstream>

#include <DDImage/Channel.h>
#include <DDImage/Format.h>

#include "tests/models/builtin_network.h"

namespace tweenora::testing {

namespace {

using torch::jit::Module;

std::string forwardReturning(const std::string& body) {
    return "def forward(self, img0: Tensor, img1: Tensor, timestep: float, steps: int, "
           "flow_magnitude: int, threshold: float, downscale: float) -> Tensor:\n" +
           body;
}

}  // namespace

Module identityNetwork() {
    Module m("Identity");
    m.define(forwardReturning("    return img0\n"));
    return m;
}

Module blendNetwork() {
    Module m("Blend");
    m.define(forwardReturning("    return img0 + (img1 - img0) * timestep\n"));
    return m;
}

Module channelScaleNetwork() {
    Module m("ChannelScale");
    m.define(
        forwardReturning("    scale = torch.arange(1, 4, dtype=img0.dtype, device=img0.device)\n"
                         "    return img0 * scale.view(1, 3, 1, 1)\n"));
    return m;
}

Module countingConstantNetwork(double first, double step) {
    Module m("CountingConstant");
    m.register_attribute("calls", c10::IntType::get(), int64_t(0));
    m.register_attribute("first", c10::FloatType::get(), first);
    m.register_attribute("step", c10::FloatType::get(), step);
    m.define(
        forwardReturning("    self.calls += 1\n"
                         "    return torch.full_like(img0, self.first + self.step * "
                         "(self.calls - 1))\n"));
    return m;
}

Module recorderNetwork() {
    Module m("Recorder");
    m.register_attribute("calls", c10::IntType::get(), int64_t(0));
    m.register_attribute("timestep", c10::FloatType::get(), -1.0);
    m.register_attribute("steps", c10::IntType::get(), int64_t(-1));
    m.register_attribute("flow_magnitude", c10::IntType::get(), int64_t(-1));
    m.register_attribute("threshold", c10::FloatType::get(), -1.0);
    m.register_attribute("downscale", c10::FloatType::get(), -1.0);
    m.register_attribute("img0", c10::TensorType::get(), at::empty({0}));
    m.register_attribute("img1", c10::TensorType::get(), at::empty({0}));
    m.define(forwardReturning(R"(
    self.calls += 1
    self.timestep = timestep
    self.steps = steps
    self.flow_magnitude = flow_magnitude
    self.threshold = threshold
    self.downscale = downscale
    self.img0 = img0
    self.img1 = img1
    return img0
)"));
    return m;
}

Module nanRowsNetwork(int64_t row) {
    Module m("NanRows");
    m.register_attribute("row", c10::IntType::get(), row);
    m.define(forwardReturning(R"(
    out = img0.clone()
    out[:, :, self.row:, :] = float("nan")
    return out
)"));
    return m;
}

Module precisionRecorderNetwork() {
    Module m("PrecisionRecorder");
    m.register_attribute("type", c10::IntType::get(), int64_t(-1));
    m.register_attribute("cuda", c10::BoolType::get(), false);
    m.register_attribute("autocast", c10::BoolType::get(), false);
    // Autocast turns a float32 matrix product into its reduced type (Half on
    // CUDA, BFloat16 on the CPU); asking the product works in every libtorch.
    m.define(forwardReturning(R"(
    self.type = img0.dtype
    self.cuda = img0.is_cuda
    one = torch.ones([1, 1], device=img0.device)
    self.autocast = torch.mm(one, one).dtype != one.dtype
    return img0
)"));
    return m;
}

Module raisingNetwork(const std::string& message) {
    Module m("Raising");
    m.define(
        forwardReturning("    assert timestep < -1.0e30, \"" + message + "\"\n    return img0\n"));
    return m;
}

float clipValue(int frame, int channel, int pixel) {
    return float(frame + 16 * channel + pixel);
}

host::ClipFrame clipFrame(int frame, const DD::Image::Box& box, bool withAlpha) {
    using namespace DD::Image;
    host::ClipFrame data;
    data.box = box;
    data.format = Format(std::max(1, box.r()), std::max(1, box.t()));
    const std::vector<Channel> channels = {Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha, Chan_Z};
    for (int c = 0; c < 5; ++c) {
        if (channels[size_t(c)] == Chan_Alpha && !withAlpha) {
            continue;
        }
        std::vector<float> values(size_t(box.area()));
        for (size_t i = 0; i < values.size(); ++i) {
            values[i] = clipValue(frame, c, int(i));
        }
        data.planes[channels[size_t(c)]] = std::move(values);
    }
    return data;
}

std::shared_ptr<host::Clip> clipOf(const std::map<int, host::ClipFrame>& frames) {
    auto memory = std::make_shared<host::MemoryFrames>();
    for (const auto& [number, frame] : frames) {
        memory->setFrame(number, frame);
    }
    return std::make_shared<host::Clip>(memory);
}

std::shared_ptr<host::Clip> uniformClip(int first, int last, const DD::Image::Box& box) {
    std::map<int, host::ClipFrame> frames;
    for (int f = first; f <= last; ++f) {
        frames[f] = clipFrame(f, box);
    }
    return clipOf(frames);
}

RetimeRig::RetimeRig(std::shared_ptr<host::Clip> clip) {
    source_ = &script_.createSource(std::move(clip));
    node_ = &script_.createNode("Tweenora");
    script_.connect(*node_, 0, *source_);
}

Tweenora& RetimeRig::op() {
    return *node_->opAs<Tweenora>();
}

void RetimeRig::useNetwork(const torch::jit::Module& network) {
    op().model = network;
    op().model_loaded = true;
}

void RetimeRig::setKnob(const std::string& name, const std::string& value) {
    node_->setKnob(name, value);
}

void RetimeRig::showPosition(float position) {
    setKnob("mode", "Frame");
    std::ostringstream text;
    text << position;
    setKnob("output_frame", text.str());
}

std::vector<DD::Image::ImagePlane> RetimeRig::render(double frame,
                                                     const DD::Image::ChannelSet& channels) {
    return script_.render(*node_, frame, channels);
}

void RetimeRig::renderInto(double frame, DD::Image::ImagePlane& plane) {
    if (!script_.validate(*node_, frame)) {
        return;
    }
    op().open();
    op().renderStripe(plane);
}

double roundTripTolerance(at::ScalarType type) {
    switch (type) {
        case at::kHalf:
            return 3.0 / 2048;  // three units of Half's rounding, 2^-11
        case at::kBFloat16:
            return 3.0 / 256;  // and of BFloat16's, 2^-8
        default:
            return 2e-5;  // float32: the encoder and decoder alone
    }
}

DD::Image::ImagePlane filledPlane(const DD::Image::Box& box, const DD::Image::ChannelSet& channels,
                                  float fill) {
    DD::Image::ImagePlane plane(box, true, channels, int(channels.size()));
    plane.makeWritable();
    std::fill_n(plane.writable(), size_t(box.area()) * channels.size(), fill);
    return plane;
}

torch::jit::Module builtInNetwork(bool halfFlags) {
    torch::jit::Module network = models::test::loadBuiltInNetwork();
    for (torch::jit::Module module : network.modules())
        for (const char* flag : {"cast_half", "synth_fp32"})
            if (module.hasattr(flag))
                module.setattr(flag, halfFlags);
    return network;
}

void setPrecision(Tweenora& op, bool mixed, bool bf16Knob, bool deviceHasBf16) {
    op.mixed_precision = mixed;
    op.use_bfloat16 = bf16Knob;
    op.gpu_supports_bf16 = deviceHasBf16;
}

pipeline::InferenceContext passContext(RetimeRig& rig, const c10::Device& device, bool gpuInUse) {
    pipeline::InferenceContext ctx;
    ctx.node = &rig.op();
    ctx.device = device;
    ctx.gpuInUse = gpuInUse;
    ctx.frameInfo.timestep = 0.5f;
    return ctx;
}

float packedValue(const DD::Image::ImagePlane& plane, int x, int y, int slot) {
    const DD::Image::Box& b = plane.bounds();
    return plane.readable()[(size_t(y - b.y()) * size_t(b.w()) + size_t(x - b.x())) *
                                size_t(plane.nComps()) +
                            size_t(slot)];
}

}  // namespace tweenora::testing
