// SPDX-License-Identifier: Apache-2.0
// Tests of the node's panel: every row, its flags and tooltip, and the GPU texts.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <DDImage/Knob.h>

#include "host/Script.h"
#include "model/gpu_queries.h"
#include "node/Tweenora.h"
#include "tests/node/node_test_support.h"

namespace tweenora {
namespace {

using DD::Image::Knob;
using testing::FakeGpu;

constexpr Knob::FlagMask kStartline = Knob::STARTLINE;
constexpr Knob::FlagMask kEarly = Knob::EARLY_STORE;
constexpr Knob::FlagMask kHidden = Knob::HIDDEN;
constexpr Knob::FlagMask kAlwaysSave = Knob::ALWAYS_SAVE;

const char* const kT1 =
    "This sets what CUDA device to use for GPU processing. The default is 0, meaning the "
    "'cuda:0' device will be used. To check your available CUDA devices, please run "
    "'nvidia-smi' in a terminal.";
const char* const kT2 =
    "When this is on, the processing will happen using the GPU instead of the CPU which is "
    "generally A LOT faster.";
const char* const kT3 =
    "When this is on, the node will look at the Nuke command line --gpu argument when rendering "
    "in batch render mode, and use that CUDA device for processing instead of the saved device "
    "ID above on the cuda_deviceid knob.";
const char* const kT4 = "First frame of input to use.";
const char* const kT5 = "Last frame of input to use.";
const char* const kT6 = "Reset the input range from the current input.";
const char* const kT7 =
    "Channels to run the interpolation on. Defaults to RGB. Pick 'all' to process every channel "
    "of the input. The model takes 3 channels at a time: for layers with fewer channels (e.g. "
    "depth) the channel is replicated; for layers with more channels (e.g. RGBA) the model runs "
    "on the first 3 and any extra channels pass through unchanged.";
const char* const kT8 = "How to map source frames to output frames for retiming.";
const char* const kT9 =
    "Controls the speed of the retime based on the output range.\nValues below 1 slow down the "
    "clip. Values above 1 speed up movement.";
const char* const kT10 =
    "Use this to specify the source frame at the current frame in the timeline.";
const char* const kT11 =
    "Sub-steps per frame (valid values are 1-6). This can provide better quality with a linear "
    "increase in computation time.";
const char* const kT12 =
    "Higher settings catches higher motion magnitudes, but can lead to less local detail. "
    "Recommended to be set only as high as necessary. Slightly increases computation time.";
const char* const kT13 =
    "If the current timestep is smaller than this value, no interpolation is performed and the "
    "input frame is used instead.";
const char* const kT14 =
    "Scaling factor for initial processing resolution. Values less than 1.0 reduce computation "
    "by processing at lower resolution first.\nFinal warp and refinement is always performed at "
    "full resolution.";
const char* const kT15 =
    "Apply the linear<->PU21 colorspace conversions the model expects (encode the inputs before "
    "inference, decode the result after). Both are toggled together.\nLeave this ON for correct "
    "results; turn it OFF only to compare against feeding raw linear values straight to the "
    "model.";
const char* const kT16 =
    "Enable mixed precision for faster inference and lower memory usage.\nOnly supported on GPU.";
const char* const kT17 =
    "When activated, the mixed precision will process using the datatype BFloat16 (if "
    "supported) instead of half floats (Float16). This is generally a better datatype to "
    "process neural nets in when using 16-bit, but is only available from Ampere GPUs and later "
    "(sm_80+).";
const char* const kT18 =
    "When activated, prints a lot of verbose info about internal process state to the terminal";
const char* const kT19 =
    "Corrupt-output guard. If more than this percentage of the values in a forward-pass result "
    "are NaN, the node errors with \"Too many nan values returned, frame corrupt\" instead of "
    "writing a corrupt frame. Catches faulty hardware (e.g. a bad GPU) silently producing NaN "
    "output. Set to 100 to disable.";
const char* const kT20 =
    "How many tiles (patches) the current input is split into for processing, given the max "
    "size / overlap below. Updates live; a single patch means the whole frame is processed in "
    "one pass.";
const char* const kT21 =
    "Controls the size of image tiles/patches in pixels. Lower values will create more tiles "
    "and lead to lower GPU memory usage (see the 'Image patches' calculation above)";
const char* const kT22 =
    "overlap sets the amount of overlap between the image patches, measured in pixels.";
const char* const kT23 =
    "padding reduces the cross fading area from using the full overlap area, so the resulting "
    "image doesn't contain any pixels from the patches' edges. This is also measured in pixels.";

const char* const kMatching =
    "This exact combination of CUDA/cuDNN versions is matching\nwhat this current build of Nuke "
    "is using, which makes this plugin\nfully compatible with Foundry's AIR tools.";
const char* const kNotMatching =
    "This exact combination of CUDA/cuDNN versions is NOT matching\nwhat this current build of "
    "Nuke is using, which makes this plugin\nincompatible with Foundry's AIR tools. Please be "
    "careful with\nmixing these nodes in the same Nuke scripts.";
const char* const kNoCuda = "This version is built without CUDA: it renders on the CPU only.";

//! One declared knob as the panel must show it. name and label null mean
//! none passed; text is checked for text knobs when not null.
struct Row {
    const char* name;
    const char* label;
    const char* kind;
    const char* text;
    Knob::FlagMask set;
    Knob::FlagMask cleared;
    const char* tooltip;
};

//! The panel with one supported GPU (8.6, 24 GB) on a CUDA 11.8 / cuDNN 8.4.1 build.
std::vector<Row> panelWithGpu() {
    return {
        {nullptr, "Tweenora", "tab", nullptr, 0, 0, nullptr},
        {nullptr, "Local GPU: ", "text", "", 0, 0, nullptr},
        {"gpuName", "", "text", "Fake GPU 0", 0, 0, nullptr},
        {nullptr, " ", "text", "", 0, 0, nullptr},
        {nullptr, "GPU memory: ", "text", "", 0, 0, nullptr},
        {"gpuMemory", "", "text", "24Gb   Compute capability: sm_86", 0, 0, nullptr},
        {nullptr, " ", "text", "", 0, 0, nullptr},
        {"GPU settings", nullptr, "group", nullptr, 0, 0, nullptr},
        {"cuda_deviceid", "CUDA device ID", "integer", nullptr, 0, 0, kT1},
        {"use_gpu", "Use GPU if available", "boolean", nullptr, 0, 0, kT2},
        {"gpu_render_override", "Use --gpu device override", "boolean", nullptr, kStartline, 0,
         kT3},
        {nullptr, nullptr, "end of group", nullptr, 0, 0, nullptr},
        {nullptr, "", "divider", nullptr, 0, 0, nullptr},
        {"frame_range_start", "input range", "integer", nullptr, kEarly, 0, kT4},
        {"frame_range_end", "", "integer", nullptr, kEarly, 0, kT5},
        {"reset_input_range", " reset ", "python script button", nullptr, 0, 0, kT6},
        {"input_channels", "channels", "channel set", nullptr, kStartline, 0, kT7},
        {"mode", "timing", "enumeration", nullptr, kEarly | kStartline | kAlwaysSave, 0, kT8},
        {"speed", "speed", "float", nullptr, kStartline | kEarly, 0, kT9},
        {"output_frame", "frame", "float", nullptr, kStartline | kEarly, 0, kT10},
        {nullptr, "", "divider", nullptr, 0, 0, nullptr},
        {"steps", "steps", "integer", nullptr, kEarly, 0, kT11},
        {"flow_magnitude", "flow magnitude", "enumeration", nullptr, kEarly, 0, kT12},
        {"threshold", "threshold", "float", nullptr, kEarly | kHidden, 0, kT13},
        {"downscale", "warp downscale", "enumeration", nullptr, kStartline | kEarly | kHidden, 0,
         kT14},
        {"colorspace_convert", "colorspace conversion", "boolean", nullptr,
         kStartline | kEarly | kHidden, 0, kT15},
        {"mixed_precision", "mixed precision", "boolean", nullptr, kEarly | kStartline | kHidden, 0,
         kT16},
        {"use_bfloat16", "use BFloat16", "boolean", nullptr, kEarly | kHidden, kStartline, kT17},
        {"debug", "debug info", "boolean", nullptr, kEarly | kStartline | kHidden, 0, kT18},
        {"nan_error_threshold", "nan error threshold", "integer", nullptr,
         kEarly | kStartline | kHidden, 0, kT19},
        {nullptr, "", "divider", nullptr, 0, 0, nullptr},
        {"tiling_group", "Tiling", "group", nullptr, 0, 0, nullptr},
        {"image_patches", "", "text", "Image patches: -", kStartline, 0, kT20},
        {"max_size", "max size", "integer", nullptr, kEarly, 0, kT21},
        {nullptr, nullptr, "text", "px", 0, kStartline, nullptr},
        {"overlap", "overlap", "integer", nullptr, kEarly, 0, kT22},
        {nullptr, nullptr, "text", "px", 0, kStartline, nullptr},
        {"padding", "padding", "integer", nullptr, kEarly, 0, kT23},
        {nullptr, nullptr, "text", "px", 0, kStartline, nullptr},
        {nullptr, nullptr, "end of group", nullptr, 0, 0, nullptr},
        {nullptr, "About", "tab", nullptr, 0, 0, nullptr},
        {nullptr, nullptr, "divider", nullptr, 0, 0, nullptr},
        {nullptr, nullptr, "text", "This version is built against CUDA 11.8.0 and cuDNN 8.4.1",
         kStartline, 0, nullptr},
        {nullptr, nullptr, "text", "with native support for GPUs up to compute capability sm_90.",
         kStartline, 0, nullptr},
        {"kernelInfo", "", "text",
         "Since your current GPU is sm_86, you will rely on native kernels.", kStartline, 0,
         nullptr},
        {nullptr, nullptr, "text", " ", kStartline, 0, nullptr},
        {nullptr, nullptr, "text", kMatching, kStartline, 0, nullptr},
        {nullptr, nullptr, "divider", nullptr, 0, 0, nullptr},
        {nullptr, nullptr, "text", "Tweenora v1.0.0", kStartline, 0, nullptr},
    };
}

std::string describe(size_t index, const Row& row) {
    return "row " + std::to_string(index + 1) + " (" + (row.name ? row.name : "-") + ", " +
           row.kind + ")";
}

void expectPanel(const host::HostNode& node, const std::vector<Row>& rows) {
    const std::vector<host::HostKnob*>& knobs = node.knobs();
    ASSERT_EQ(knobs.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const host::HostKnob& knob = *knobs[i];
        SCOPED_TRACE(describe(i, row));
        EXPECT_EQ(knob.name(), row.name ? row.name : "");
        if (row.label) {
            ASSERT_NE(knob.label(), nullptr);
            EXPECT_STREQ(knob.label(), row.label);
        } else {
            EXPECT_EQ(knob.label(), nullptr);
        }
        EXPECT_EQ(knob.kind(), row.kind);
        if (row.text) {
            EXPECT_EQ(knob.text(), row.text);
        }
        EXPECT_TRUE(knob.all_of(row.set));
        EXPECT_FALSE(knob.any_of(row.cleared));
        // Flags that are no host default are set exactly where the panel asks.
        for (const Knob::FlagMask flag : {kEarly, kHidden, kAlwaysSave})
            EXPECT_EQ(knob.any_of(flag), (row.set & flag) != 0) << "flag " << flag;
        EXPECT_EQ(knob.tooltip(), row.tooltip ? row.tooltip : "");
    }
}

std::vector<Row> withoutRow(std::vector<Row> rows, const char* name) {
    for (auto it = rows.begin(); it != rows.end(); ++it) {
        if (it->name && std::string(it->name) == name) {
            rows.erase(it);
            break;
        }
    }
    return rows;
}

bool isGpuKnob(const std::string& name) {
    return name == "cuda_deviceid" || name == "use_gpu" || name == "gpu_render_override";
}

TEST(Panel, RowsFlagsAndTooltipsWithAGpu) {
    const FakeGpu gpu = FakeGpu::withDevices(1);
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    host::HostNode& node = script.createNode("Tweenora");
    expectPanel(node, panelWithGpu());
    for (const host::HostKnob* knob : node.knobs())
        EXPECT_TRUE(knob->isEnabled()) << knob->name();
    EXPECT_TRUE(node.opAs<Tweenora>()->use_gpu);
}

TEST(Panel, EntriesAndResetScript) {
    const FakeGpu gpu = FakeGpu::withDevices(1);
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    host::HostNode& node = script.createNode("Tweenora");
    using Entries = std::vector<std::string>;
    EXPECT_EQ(node.knob("mode")->entries(), (Entries{"Output Speed", "Frame"}));
    EXPECT_EQ(node.knob("flow_magnitude")->entries(), (Entries{"low", "medium", "high"}));
    EXPECT_EQ(node.knob("downscale")->entries(), (Entries{"1.0", "0.5", "0.25"}));
    EXPECT_EQ(node.knob("reset_input_range")->script(),
              "try:\n\tnode = nuke.thisNode()\n\tnode.knob('frame_range_start').setValue(int("
              "node.input(0).frameRange().first()))\n\tnode.knob('frame_range_end').setValue(int("
              "node.input(0).frameRange().last()))\nexcept:\n\tpass");
}

TEST(Panel, CpuOnlyBuildShowsNoCudaAndGreysOutTheGpuKnobs) {
    const FakeGpu gpu = FakeGpu::cpuOnly();
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    host::HostNode& node = script.createNode("Tweenora");

    std::vector<Row> rows = withoutRow(panelWithGpu(), "kernelInfo");
    rows[2].text = "Not available";
    rows[5].text = "";
    // The build text gives way to the no-CUDA text; the native-support text goes.
    rows[42].text = kNoCuda;
    rows.erase(rows.begin() + 43);
    rows[44].text = kNotMatching;
    expectPanel(node, rows);

    for (const host::HostKnob* knob : node.knobs())
        EXPECT_EQ(knob->isEnabled(), !isGpuKnob(knob->name())) << knob->name();
    const Tweenora* op = node.opAs<Tweenora>();
    EXPECT_FALSE(op->use_gpu);
    EXPECT_EQ(node.knob("use_gpu")->get_value(), 0.0);
    EXPECT_EQ(op->gpu_name, "Not available");
}

TEST(Panel, CudaBuildWithoutDeviceFallsBackOnTheRuntimeForNativeKernels) {
    FakeGpu gpu;  // CUDA 11.8 build, no device
    gpu.configuration = "PyTorch built with:\n  - CUDA Runtime 11.8\n";
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    host::HostNode& node = script.createNode("Tweenora");

    std::vector<Row> rows = withoutRow(panelWithGpu(), "kernelInfo");
    rows[2].text = "Not available";
    rows[5].text = "";
    rows[43].text = "with native support for GPUs up to compute capability sm_89.";
    expectPanel(node, rows);
    for (const host::HostKnob* knob : node.knobs())
        EXPECT_EQ(knob->isEnabled(), !isGpuKnob(knob->name())) << knob->name();
    EXPECT_FALSE(node.opAs<Tweenora>()->use_gpu);
}

TEST(Panel, UnsupportedGpuTurnsTheGpuOffAndShowsItsCapabilityInRed) {
    const FakeGpu gpu = FakeGpu::withDevices(1, 8, 0, 40);  // sm_80 lacks kernels under 11.8
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    host::HostNode& node = script.createNode("Tweenora");

    EXPECT_EQ(node.knob("gpuMemory")->text(),
              "40Gb&nbsp;&nbsp;&nbsp;Compute capability: <font color='red'>sm_80</font>");
    EXPECT_EQ(node.knob("kernelInfo")->text(),
              "Since your current GPU is sm_80, you will rely on native kernels.");
    for (const host::HostKnob* knob : node.knobs())
        EXPECT_EQ(knob->isEnabled(), !isGpuKnob(knob->name())) << knob->name();
    EXPECT_FALSE(node.opAs<Tweenora>()->use_gpu);
}

TEST(Panel, UnknownNativeArchitectureLeavesTheKernelTextEmpty) {
    FakeGpu gpu = FakeGpu::withDevices(1, 9, 0);
    gpu.configuration = "no marker line";
    gpu.cudaRuntime = 12040;  // not in the fallback table
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    host::HostNode& node = script.createNode("Tweenora");
    ASSERT_NE(node.knob("kernelInfo"), nullptr);
    EXPECT_EQ(node.knob("kernelInfo")->text(), "");
    EXPECT_TRUE(node.opAs<Tweenora>()->use_gpu);
}

TEST(Panel, ModeIsAlwaysSavedAndHiddenKnobsOnlyWhenChanged) {
    const FakeGpu gpu = FakeGpu::withDevices(1);
    model::ScopedGpuQueries installed(gpu);
    host::Script script;
    host::HostNode& node = script.createNode("Tweenora");
    EXPECT_TRUE(node.knob("mode")->all_of(Knob::ALWAYS_SAVE));
    EXPECT_FALSE(node.knob("mode")->not_default());

    const char* const hidden[][2] = {
        {"threshold", "0.01"},         {"downscale", "0.5"},      {"colorspace_convert", "false"},
        {"mixed_precision", "true"},   {"use_bfloat16", "false"}, {"debug", "true"},
        {"nan_error_threshold", "50"},
    };
    for (const auto& [name, value] : hidden) {
        SCOPED_TRACE(name);
        host::HostKnob* knob = node.knob(name);
        ASSERT_NE(knob, nullptr);
        EXPECT_FALSE(knob->isVisible());
        EXPECT_FALSE(knob->any_of(Knob::ALWAYS_SAVE));
        EXPECT_FALSE(knob->not_default());
        node.setKnob(name, value);
        EXPECT_TRUE(knob->not_default());
    }
    const Tweenora* op = node.opAs<Tweenora>();
    EXPECT_FLOAT_EQ(op->threshold, 0.01f);
    EXPECT_EQ(op->downscale, 1);
    EXPECT_FALSE(op->colorspace_convert);
    EXPECT_TRUE(op->mixed_precision);
    EXPECT_FALSE(op->use_bfloat16);
    EXPECT_TRUE(op->debug);
    EXPECT_EQ(op->nan_error_threshold, 50);
}

}  // namespace
}  // namespace tweenora
