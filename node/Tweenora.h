// SPDX-License-Identifier: Apache-2.0
// Tweenora: the retiming operator. One class whose methods live in the folder
// that owns each concern; each group below names the file that defines it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include <torch/script.h>

#include <DDImage/ChannelSet.h>
#include <DDImage/Hash.h>
#include <DDImage/ImagePlane.h>
#include <DDImage/Knob.h>
#include <DDImage/Knobs.h>
#include <DDImage/OutputContext.h>
#include <DDImage/PlanarIop.h>
#include <DDImage/RequestOutput.h>

#include "timing/frame_info.h"

namespace tweenora {

//! Which caller selects a device; only the debug lines differ.
enum class DeviceCaller { Open, RenderStripe };

//! What the GPU probe learnt, for the panel's texts (model/device.cpp).
struct GpuProbe {
    bool cudaAvailable = false;
    bool cudaBuild = false;    //!< libtorch was built with CUDA
    bool supported = false;    //!< the verdict on the device
    bool kernelKnown = false;  //!< kernelText compares known capabilities
    std::string memoryText;    //!< empty when CUDA is unavailable
    std::string kernelText;    //!< empty unless kernelKnown
    std::string nativeText;
    std::string buildText;  //!< the CUDA/cuDNN versions, or the no-CUDA text
    std::string compatibilityText;
};

//! The area and channels one renderStripe call works on (pipeline/render_stripe.cpp).
struct StripeArea {
    int x = 0, y = 0, r = 0, t = 0;  //!< union box of both source frames
    int width = 0, height = 0;
    int64_t pixels = 0;              //!< width * height
    int outChannels = 0;             //!< channels of the output plane (Cout)
    DD::Image::ChannelSet layerChannels;
    DD::Image::ChannelSet processedChannels;
};

class Tweenora : public DD::Image::PlanarIop {
public:
    // --- node/Tweenora.cpp: class, registration and lifecycle
    explicit Tweenora(Node* node);
    ~Tweenora() override;
    const char* Class() const override;
    const char* node_help() const override;
    int minimum_inputs() const override { return 1; }
    int maximum_inputs() const override { return 1; }
    PackedPreference packedPreference() const override;
    //! Start-up advice on JIT-compiled kernels and CUDA_CACHE_MAXSIZE (standard output).
    void checkKernelSupport();
    static const DD::Image::Op::Description description;

    // --- node/knobs.cpp: the panel
    void knobs(DD::Image::Knob_Callback f) override;

private:
    //! The GPU texts of the last knobs() call; the panel's text knobs point into it.
    GpuProbe panelTexts_;

public:
    // --- node/knob_changed.cpp: reactions to knob changes
    //! Always returns 1.
    int knob_changed(DD::Image::Knob* k) override;
    //! Refreshes the image_patches text from input 0's box, max_size and overlap.
    void updateImagePatches();

    // --- timing/input_range.cpp: input and output ranges
    void resolveInputRange();
    //! First and last key frame of output_frame, or (-1, -1).
    std::pair<int32_t, int32_t> getKeyframeRange();

    // --- timing/frame_mapping.cpp: frame mapping, input requests, hash
    FrameInfo calculateFrameInfo(float currentFrame) const;
    int split_input(int n) const override;
    const DD::Image::OutputContext& inputContext(int n, int offset,
                                                 DD::Image::OutputContext& oc) const override;
    void getRequests(const DD::Image::Box& box, const DD::Image::ChannelSet& channels, int count,
                     DD::Image::RequestOutput& reqData) const override;
    void append(DD::Image::Hash& hash) override;

    // --- model/device.cpp: device selection and GPU information
    //! The device a model load or render uses, and whether it is a GPU: the
    //! clamped cuda_deviceid, or LUMAQUARRY_NUKE_GPU_INDEX under the override.
    std::pair<c10::Device, bool> selectDevice(DeviceCaller caller) const;
    //! Probes the device cuda_deviceid names (clamped) and fills gpu_name,
    //! gpu_sm, native_sm and gpu_supports_bf16; turns use_gpu off for an
    //! unusable device. fromKnobs selects the full probe knobs() runs; otherwise
    //! it is the re-probe of a cuda_deviceid change, which also updates the
    //! gpuName, gpuMemory and kernelInfo texts on the panel.
    GpuProbe probeGpu(bool fromKnobs);

    // --- pipeline/render_stripe.cpp and pipeline/interpolation_road.cpp: rendering
    void renderStripe(DD::Image::ImagePlane& outputPlane) override;
    //! The interpolation road for a plane that takes neither short road.
    void renderInterpolated(DD::Image::ImagePlane& outputPlane, const StripeArea& area,
                            int64_t startTicks);

protected:
    // --- timing/input_range.cpp
    void _validate(bool for_real) override;
    // --- model/model_loader.cpp
    void _open() override;
    // --- node/Tweenora.cpp
    void _close() override;

public:
    // Knob-backed fields carry their knob's name; the host stores into them.
    bool debug;
    bool use_gpu;
    int cuda_deviceid;
    bool gpu_render_override;
    bool gpu_supports_bf16;
    bool use_bfloat16;
    int max_size;
    int overlap;
    int padding;
    int nan_error_threshold;
    int mode;
    float speed;
    float output_frame;
    int steps;
    int flow_magnitude;
    float threshold;
    int downscale;
    bool colorspace_convert;
    int frame_range_start;
    int frame_range_end;
    bool mixed_precision;
    DD::Image::ChannelSet input_channels;
    int modelChannelCount;
    int outputFirstFrame;
    int outputLastFrame;
    torch::jit::Module model;
    bool model_loaded;
    std::string gpu_name;
    std::string gpu_sm;
    std::string native_sm;
};

}  // namespace tweenora
