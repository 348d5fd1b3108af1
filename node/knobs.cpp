// SPDX-License-Identifier: Apache-2.0
// Tweenora: the control panel, two tabs of knobs bound to the node's fields.
#include "node/Tweenora.h"

#include <spdlog/spdlog.h>

#include <DDImage/Knob.h>
#include <DDImage/Knobs.h>

#include "model/gpu_queries.h"

using namespace DD::Image;

namespace tweenora {

namespace {

const char* const kModeEntries[] = {"Output Speed", "Frame", nullptr};
const char* const kFlowMagnitudeEntries[] = {"low", "medium", "high", nullptr};
const char* const kDownscaleEntries[] = {"1.0", "0.5", "0.25", nullptr};

// Refills the input range from whatever is connected; does nothing without an input.
const char* const kResetInputRangeScript =
    "try:\n"
    "\tnode = nuke.thisNode()\n"
    "\tnode.knob('frame_range_start').setValue(int(node.input(0).frameRange().first()))\n"
    "\tnode.knob('frame_range_end').setValue(int(node.input(0).frameRange().last()))\n"
    "except:\n"
    "\tpass";

const char* const kVersionText = "Tweenora v1.0.0";
const char* const kImagePatchesUnknown = "Image patches: -";

const char* const kTipCudaDeviceId =
    "This sets what CUDA device to use for GPU processing. The default is 0, meaning the "
    "'cuda:0' device will be used. To check your available CUDA devices, please run "
    "'nvidia-smi' in a terminal.";
const char* const kTipUseGpu =
    "When this is on, the processing will happen using the GPU instead of the CPU which is "
    "generally A LOT faster.";
const char* const kTipGpuRenderOverride =
    "When this is on, the node will look at the Nuke command line --gpu argument when rendering "
    "in batch render mode, and use that CUDA device for processing instead of the saved device "
    "ID above on the cuda_deviceid knob.";
const char* const kTipFrameRangeStart = "First frame of input to use.";
const char* const kTipFrameRangeEnd = "Last frame of input to use.";
const char* const kTipResetInputRange = "Reset the input range from the current input.";
const char* const kTipInputChannels =
    "Channels to run the interpolation on. Defaults to RGB. Pick 'all' to process every channel "
    "of the input. The model takes 3 channels at a time: for layers with fewer channels (e.g. "
    "depth) the channel is replicated; for layers with more channels (e.g. RGBA) the model runs "
    "on the first 3 and any extra channels pass through unchanged.";
const char* const kTipMode = "How to map source frames to output frames for retiming.";
const char* const kTipSpeed =
    "Controls the speed of the retime based on the output range.\nValues below 1 slow down the "
    "clip. Values above 1 speed up movement.";
const char* const kTipOutputFrame =
    "Use this to specify the source frame at the current frame in the timeline.";
const char* const kTipSteps =
    "Sub-steps per frame (valid values are 1-6). This can provide better quality with a linear "
    "increase in computation time.";
const char* const kTipFlowMagnitude =
    "Higher settings catches higher motion magnitudes, but can lead to less local detail. "
    "Recommended to be set only as high as necessary. Slightly increases computation time.";
const char* const kTipThreshold =
    "If the current timestep is smaller than this value, no interpolation is performed and the "
    "input frame is used instead.";
const char* const kTipDownscale =
    "Scaling factor for initial processing resolution. Values less than 1.0 reduce computation "
    "by processing at lower resolution first.\nFinal warp and refinement is always performed at "
    "full resolution.";
const char* const kTipColorspaceConvert =
    "Apply the linear<->PU21 colorspace conversions the model expects (encode the inputs before "
    "inference, decode the result after). Both are toggled together.\nLeave this ON for correct "
    "results; turn it OFF only to compare against feeding raw linear values straight to the "
    "model.";
const char* const kTipMixedPrecision =
    "Enable mixed precision for faster inference and lower memory usage.\nOnly supported on GPU.";
const char* const kTipUseBfloat16 =
    "When activated, the mixed precision will process using the datatype BFloat16 (if "
    "supported) instead of half floats (Float16). This is generally a better datatype to "
    "process neural nets in when using 16-bit, but is only available from Ampere GPUs and later "
    "(sm_80+).";
const char* const kTipDebug =
    "When activated, prints a lot of verbose info about internal process state to the terminal";
const char* const kTipNanErrorThreshold =
    "Corrupt-output guard. If more than this percentage of the values in a forward-pass result "
    "are NaN, the node errors with \"Too many nan values returned, frame corrupt\" instead of "
    "writing a corrupt frame. Catches faulty hardware (e.g. a bad GPU) silently producing NaN "
    "output. Set to 100 to disable.";
const char* const kTipImagePatches =
    "How many tiles (patches) the current input is split into for processing, given the max "
    "size / overlap below. Updates live; a single patch means the whole frame is processed in "
    "one pass.";
const char* const kTipMaxSize =
    "Controls the size of image tiles/patches in pixels. Lower values will create more tiles "
    "and lead to lower GPU memory usage (see the 'Image patches' calculation above)";
const char* const kTipOverlap =
    "overlap sets the amount of overlap between the image patches, measured in pixels.";
const char* const kTipPadding =
    "padding reduces the cross fading area from using the full overlap area, so the resulting "
    "image doesn't contain any pixels from the patches' edges. This is also measured in pixels.";

// Greys out a GPU knob when no usable GPU was found. Passes that only store
// values may hand back no knob.
void disableWithoutGpu(Knob* knob, bool gpuSupported) {
    if (knob && (!model::gpuQueries().isAvailable() || !gpuSupported))
        knob->disable();
}

// A "px" unit on the row of the knob before it.
void pixelUnit(Knob_Callback f) {
    Text_knob(f, "px");
    ClearFlags(f, Knob::STARTLINE);
}

}  // namespace

void Tweenora::knobs(Knob_Callback f) {
    spdlog::debug("Tweenora::knobs called");
    // The text knobs below point into panelTexts_, which outlives this call.
    panelTexts_ = probeGpu(/*fromKnobs=*/true);
    const bool gpuSupported = panelTexts_.supported;

    Tab_knob(f, "Tweenora");
    Text_knob(f, "Local GPU: ", "");
    Named_Text_knob(f, "gpuName", "", gpu_name.c_str());
    Text_knob(f, " ", "");
    // Declared on every call so that the panel's knob set stays fixed; the
    // memory text is empty without CUDA.
    Text_knob(f, "GPU memory: ", "");
    Named_Text_knob(f, "gpuMemory", "", panelTexts_.memoryText.c_str());
    Text_knob(f, " ", "");

    BeginClosedGroup(f, "GPU settings");
    Knob* knob = Int_knob(f, &cuda_deviceid, "cuda_deviceid", "CUDA device ID");
    Tooltip(f, kTipCudaDeviceId);
    disableWithoutGpu(knob, gpuSupported);
    knob = Bool_knob(f, &use_gpu, "use_gpu", "Use GPU if available");
    Tooltip(f, kTipUseGpu);
    disableWithoutGpu(knob, gpuSupported);
    knob = Bool_knob(f, &gpu_render_override, "gpu_render_override", "Use --gpu device override");
    Tooltip(f, kTipGpuRenderOverride);
    SetFlags(f, Knob::STARTLINE);
    disableWithoutGpu(knob, gpuSupported);
    EndGroup(f);

    Divider(f, "");
    Int_knob(f, &frame_range_start, "frame_range_start", "input range");
    SetFlags(f, Knob::EARLY_STORE);
    Tooltip(f, kTipFrameRangeStart);
    Int_knob(f, &frame_range_end, "frame_range_end", "");
    SetFlags(f, Knob::EARLY_STORE);
    Tooltip(f, kTipFrameRangeEnd);
    PyScript_knob(f, kResetInputRangeScript, "reset_input_range", " reset ");
    Tooltip(f, kTipResetInputRange);
    Input_ChannelSet_knob(f, &input_channels, 0, "input_channels", "channels");
    SetFlags(f, Knob::STARTLINE);
    Tooltip(f, kTipInputChannels);
    Enumeration_knob(f, &mode, kModeEntries, "mode", "timing");
    SetFlags(f, Knob::EARLY_STORE | Knob::STARTLINE | Knob::ALWAYS_SAVE);
    Tooltip(f, kTipMode);
    Float_knob(f, &speed, "speed", "speed");
    SetFlags(f, Knob::STARTLINE | Knob::EARLY_STORE);
    Tooltip(f, kTipSpeed);
    Float_knob(f, &output_frame, "output_frame", "frame");
    SetFlags(f, Knob::STARTLINE | Knob::EARLY_STORE);
    Tooltip(f, kTipOutputFrame);

    Divider(f, "");
    Int_knob(f, &steps, "steps", "steps");
    SetFlags(f, Knob::EARLY_STORE);
    Tooltip(f, kTipSteps);
    Enumeration_knob(f, &flow_magnitude, kFlowMagnitudeEntries, "flow_magnitude", "flow magnitude");
    SetFlags(f, Knob::EARLY_STORE);
    Tooltip(f, kTipFlowMagnitude);
    // Hidden: saved and scriptable, never shown.
    Float_knob(f, &threshold, "threshold", "threshold");
    SetFlags(f, Knob::EARLY_STORE | Knob::HIDDEN);
    Tooltip(f, kTipThreshold);
    Enumeration_knob(f, &downscale, kDownscaleEntries, "downscale", "warp downscale");
    SetFlags(f, Knob::STARTLINE | Knob::EARLY_STORE | Knob::HIDDEN);
    Tooltip(f, kTipDownscale);
    Bool_knob(f, &colorspace_convert, "colorspace_convert", "colorspace conversion");
    SetFlags(f, Knob::STARTLINE | Knob::EARLY_STORE | Knob::HIDDEN);
    Tooltip(f, kTipColorspaceConvert);
    Bool_knob(f, &mixed_precision, "mixed_precision", "mixed precision");
    SetFlags(f, Knob::EARLY_STORE | Knob::STARTLINE | Knob::HIDDEN);
    Tooltip(f, kTipMixedPrecision);
    Bool_knob(f, &use_bfloat16, "use_bfloat16", "use BFloat16");
    SetFlags(f, Knob::EARLY_STORE | Knob::HIDDEN);
    ClearFlags(f, Knob::STARTLINE);
    Tooltip(f, kTipUseBfloat16);
    Bool_knob(f, &debug, "debug", "debug info");
    SetFlags(f, Knob::EARLY_STORE | Knob::STARTLINE | Knob::HIDDEN);
    Tooltip(f, kTipDebug);
    Int_knob(f, &nan_error_threshold, "nan_error_threshold", "nan error threshold");
    SetFlags(f, Knob::EARLY_STORE | Knob::STARTLINE | Knob::HIDDEN);
    Tooltip(f, kTipNanErrorThreshold);

    Divider(f, "");
    BeginClosedGroup(f, "tiling_group", "Tiling");
    Named_Text_knob(f, "image_patches", "", kImagePatchesUnknown);
    SetFlags(f, Knob::STARTLINE);
    Tooltip(f, kTipImagePatches);
    Int_knob(f, &max_size, "max_size", "max size");
    SetFlags(f, Knob::EARLY_STORE);
    Tooltip(f, kTipMaxSize);
    pixelUnit(f);
    Int_knob(f, &overlap, "overlap", "overlap");
    SetFlags(f, Knob::EARLY_STORE);
    Tooltip(f, kTipOverlap);
    pixelUnit(f);
    Int_knob(f, &padding, "padding", "padding");
    SetFlags(f, Knob::EARLY_STORE);
    Tooltip(f, kTipPadding);
    pixelUnit(f);
    EndGroup(f);

    Tab_knob(f, "About");
    Divider(f);
    Text_knob(f, panelTexts_.buildText.c_str());
    SetFlags(f, Knob::STARTLINE);
    // A build without CUDA has no native kernels to speak of.
    if (panelTexts_.cudaBuild) {
        Text_knob(f, panelTexts_.nativeText.c_str());
        SetFlags(f, Knob::STARTLINE);
        if (!gpu_sm.empty()) {
            Named_Text_knob(f, "kernelInfo", "", panelTexts_.kernelText.c_str());
            SetFlags(f, Knob::STARTLINE);
        }
    }
    Text_knob(f, " ");
    SetFlags(f, Knob::STARTLINE);
    Text_knob(f, panelTexts_.compatibilityText.c_str());
    SetFlags(f, Knob::STARTLINE);
    Divider(f);
    Text_knob(f, kVersionText);
    SetFlags(f, Knob::STARTLINE);
}

}  // namespace tweenora
