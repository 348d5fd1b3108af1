// SPDX-License-Identifier: Apache-2.0
// What the pipeline's node tests share: small TorchScript networks, in-memory
// clips and a script with a Tweenora node reading one.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <torch/script.h>

#include <DDImage/Box.h>
#include <DDImage/ChannelSet.h>
#include <DDImage/ImagePlane.h>

#include "host/Clip.h"
#include "host/Script.h"
#include "node/Tweenora.h"
#include "pipeline/inference_pass.h"

namespace tweenora::testing {

// Networks taking the node's seven forward arguments, built in the test.
//! Returns img0 unchanged.
torch::jit::Module identityNetwork();
//! img0 + (img1 - img0) * timestep.
torch::jit::Module blendNetwork();
//! Channel k of img0 times k + 1: tells the three output channels apart.
torch::jit::Module channelScaleNetwork();
//! Call n (from 1) returns first + (n - 1) * step everywhere.
torch::jit::Module countingConstantNetwork(double first, double step);
//! Returns img0 and keeps its arguments: attributes calls, timestep, steps,
//! flow_magnitude, threshold, downscale and the tensors img0 and img1.
torch::jit::Module recorderNetwork();
//! img0 with NaN in every row from `row` on (top-down, as the network sees it).
torch::jit::Module nanRowsNetwork(int64_t row);
//! Returns img0 and keeps what the pass's precision decides: attributes type
//! (img0's scalar type), cuda (img0 on a CUDA device) and autocast (whether
//! autocast was on for img0's device).
torch::jit::Module precisionRecorderNetwork();
//! Raises an exception with message.
torch::jit::Module raisingNetwork(const std::string& message);

//! Value of channel c (0 for red ... 3 for alpha, 4 for depth.Z) at pixel
//! index i of frame f in the clips below: f + 16 * c + i, exact in float32.
float clipValue(int frame, int channel, int pixel);

//! Frames first..last over box, with the rgba channels (alpha only when
//! withAlpha) and depth.Z, valued as clipValue says (pixel index row-major
//! from the box's bottom-left corner).
host::ClipFrame clipFrame(int frame, const DD::Image::Box& box, bool withAlpha = true);
std::shared_ptr<host::Clip> clipOf(const std::map<int, host::ClipFrame>& frames);
std::shared_ptr<host::Clip> uniformClip(int first, int last, const DD::Image::Box& box);

//! A script with a source reading clip and a Tweenora node on it, whose network
//! is injected instead of loaded from a model library.
class RetimeRig {
public:
    explicit RetimeRig(std::shared_ptr<host::Clip> clip);

    Tweenora& op();
    host::HostNode& node() { return *node_; }
    host::Script& script() { return script_; }
    void useNetwork(const torch::jit::Module& network);
    void setKnob(const std::string& name, const std::string& value);
    //! Frame mode with output_frame fixed at position: every output frame shows it.
    void showPosition(float position);

    std::vector<DD::Image::ImagePlane> render(double frame, const DD::Image::ChannelSet& channels);
    //! Validates and opens at frame, then calls renderStripe on plane directly.
    void renderInto(double frame, DD::Image::ImagePlane& plane);

private:
    host::Script script_;
    host::HostNode* source_ = nullptr;
    host::HostNode* node_ = nullptr;
};

//! The built-in network from its archive, its reduced-precision flags (cast_half,
//! synth_fp32) set to halfFlags: _open leaves them on for a GPU, off for the CPU.
torch::jit::Module builtInNetwork(bool halfFlags);

//! Sets op's precision knobs and whether its device is taken to support BFloat16.
void setPrecision(Tweenora& op, bool mixed, bool bf16Knob, bool deviceHasBf16);

//! A context for one pass of rig's node on device at timestep 0.5.
pipeline::InferenceContext passContext(RetimeRig& rig, const c10::Device& device, bool gpuInUse);

//! Relative tolerance of a frame through the pass with the identity network
//! in type: PU21 encoding, rounding to type, decoding. The decoder turns a
//! relative error of the encoded values into about twice that in linear light.
double roundTripTolerance(at::ScalarType type);

using pipeline::autocastEnabled;
using pipeline::autocastType;

//! A packed plane over box for channels, every value `fill`.
DD::Image::ImagePlane filledPlane(const DD::Image::Box& box, const DD::Image::ChannelSet& channels,
                                  float fill);

//! Value at pixel (x, y) and channel slot of a packed plane.
float packedValue(const DD::Image::ImagePlane& plane, int x, int y, int slot);

}  // namespace tweenora::testing
