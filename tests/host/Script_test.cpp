// SPDX-License-Identifier: Apache-2.0
// Script: how the headless host drives ops: split inputs at their contexts,
// knob values stored at each op's frame, planes rendered once per layer,
// knob_changed after edits and on panel open.
#include "host/Script.h"

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <DDImage/Iop.h>
#include <DDImage/Knobs.h>
#include <DDImage/PlanarIop.h>

#include "host/Clip.h"
#include "host/Error.h"

namespace tweenora::host {
namespace {

using namespace DD::Image;

// A one-channel-per-layer clip: every pixel of frame f holds f in red, green,
// blue and alpha, and f + 0.5 in depth.Z.
std::shared_ptr<Clip> numberedClip(int first, int last) {
    auto frames = std::make_shared<MemoryFrames>();
    for (int f = first; f <= last; ++f) {
        ClipFrame frame;
        frame.box = Box(0, 0, 4, 2);
        frame.format = Format(4, 2);
        for (Channel z : {Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha})
            frame.planes[z] = std::vector<float>(8, float(f));
        frame.planes[Chan_Z] = std::vector<float>(8, float(f) + 0.5f);
        frames->setFrame(f, std::move(frame));
    }
    return std::make_shared<Clip>(frames);
}

// Uses input 0 three times, as a temporal median does: copy 0 at the frame,
// copy 1 one frame earlier, copy 2 one frame later. Records what it is given.
class MedianOp : public PlanarIop {
public:
    explicit MedianOp(Node* node) : PlanarIop(node) {}
    const char* Class() const override { return "TestMedian"; }
    const char* node_help() const override { return "test"; }
    int split_input(int) const override { return 3; }
    const OutputContext& inputContext(int, int offset, OutputContext& oc) const override {
        oc = outputContext();
        const double shift[3] = {0.0, -1.0, 1.0};
        oc.setFrame(outputContext().frame() + shift[offset]);
        return oc;
    }
    void knobs(Knob_Callback f) override {
        Float_knob(f, &gain, "gain", "gain");
        Tooltip(f, "scales the result");
        Enumeration_knob(f, &mode, kModes, "mode");
        ChannelSet_knob(f, &channels, "channels");
        Named_Text_knob(f, "info", nullptr, "info: -");
    }
    int knob_changed(Knob* k) override {
        changed.push_back(k == &Knob::showPanel ? "<panel>" : k->name());
        gainSeen.push_back(gain);
        inputWhenChanged = input(0) != nullptr;
        return 1;
    }
    void _validate(bool for_real) override {
        ++validations;
        copy_info();
        for (int i = 1; i < 3; ++i)
            if (input(i))
                input(i)->validate(for_real);
    }
    void renderStripe(ImagePlane& plane) override {
        std::ostringstream text;
        text << plane.channels();
        rendered.push_back(text.str());
        renderedBoxes.push_back(plane.bounds());
        progressMessage("layer %s", text.str().c_str());
        ImagePlane source(plane.bounds(), false, plane.channels(), plane.nComps());
        input(1)->fetchPlane(source);
        float* out = plane.writable();
        foreach (z, plane.channels())
            for (int y = plane.bounds().y(); y < plane.bounds().t(); ++y)
                for (int x = plane.bounds().x(); x < plane.bounds().r(); ++x)
                    out[(y - plane.bounds().y()) * plane.rowStride() +
                        (x - plane.bounds().x()) * plane.colStride() +
                        plane.chanNo(z) * plane.chanStride()] =
                        source.at(x, y, source.chanNo(z)) * gain;
    }

    float gain = 1.0f;
    int mode = 1;
    ChannelSet channels = Mask_RGBA;
    std::vector<std::string> changed;
    std::vector<float> gainSeen;
    bool inputWhenChanged = false;
    int validations = 0;
    std::vector<std::string> rendered;
    std::vector<Box> renderedBoxes;

    static constexpr const char* kModes[] = {"first", "second", nullptr};
    static const Iop::Description description;
};

Iop* buildMedian(Node* node) {
    return new MedianOp(node);
}
const Iop::Description MedianOp::description("TestMedian", "Test/TestMedian", buildMedian);

// Scales its input by an animatable gain; used upstream of the median.
class GainOp : public PlanarIop {
public:
    explicit GainOp(Node* node) : PlanarIop(node) {}
    const char* Class() const override { return "TestGain"; }
    const char* node_help() const override { return "test"; }
    void knobs(Knob_Callback f) override { Float_knob(f, &gain, "gain"); }
    void renderStripe(ImagePlane& plane) override {
        input0().fetchPlane(plane);
        float* out = plane.writable();
        for (size_t i = 0; i < plane.usage() / sizeof(float); ++i)
            out[i] *= gain;
    }
    float gain = 1.0f;
    static const Op::Description description;
};

Op* buildGain(Node* node) {
    return new GainOp(node);
}
const Op::Description GainOp::description("TestGain", buildGain);

TEST(ScriptDriver, SplitInputCopiesAreConsecutiveInputsAtTheirContexts) {
    Script script;
    auto clip = numberedClip(1, 20);
    HostNode& read = script.createSource(clip);
    HostNode& median = script.createNode("TestMedian");
    script.connect(median, 0, read);

    ASSERT_TRUE(script.validate(median, 10));
    auto* op = median.opAs<MedianOp>();
    ASSERT_NE(op, nullptr);
    ASSERT_EQ(op->inputs(), 3);
    const double expected[3] = {10, 9, 11};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_NE(op->input(i), nullptr);
        EXPECT_EQ(op->input(i)->outputContext().frame(), expected[i]);
        EXPECT_EQ(op->input(0, i), op->input(i));
    }
    // Three contexts at once need three distinct ops of the source node.
    EXPECT_NE(op->input(0), op->input(1));
    EXPECT_NE(op->input(1), op->input(2));
    EXPECT_EQ(op->info().box(), Box(0, 0, 4, 2));

    // Another frame reuses the same ops rather than making more.
    const Op* firstOp = op;
    ASSERT_TRUE(script.validate(median, 15));
    EXPECT_EQ(median.op(), firstOp);
    EXPECT_EQ(op->input(1)->outputContext().frame(), 14.0);
}

TEST(ScriptDriver, AnimatedKnobIsStoredAtEachOpsFrame) {
    Script script;
    HostNode& read = script.createSource(numberedClip(1, 20));
    HostNode& gain = script.createNode("TestGain");
    HostNode& median = script.createNode("TestMedian");
    script.connect(gain, 0, read);
    script.connect(median, 0, gain);
    gain.setKey("gain", 1, 0.0);
    gain.setKey("gain", 11, 10.0);

    const struct {
        double frame;
        float atFrame, before, after;
    } rows[] = {
        {6, 5.0f, 4.0f, 6.0f},     // between the keys: linear
        {1, 0.0f, 0.0f, 1.0f},     // the earlier copy is held before the first key
        {11, 10.0f, 9.0f, 10.0f},  // the later copy is held after the last key
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.frame);
        ASSERT_TRUE(script.validate(median, row.frame));
        auto* op = median.opAs<MedianOp>();
        EXPECT_EQ(dynamic_cast<GainOp*>(op->input(0))->gain, row.atFrame);
        EXPECT_EQ(dynamic_cast<GainOp*>(op->input(1))->gain, row.before);
        EXPECT_EQ(dynamic_cast<GainOp*>(op->input(2))->gain, row.after);
    }
}

TEST(ScriptDriver, RendersOncePerLayerWithPackedPlanesOverTheBox) {
    Script script;
    HostNode& read = script.createSource(numberedClip(1, 20));
    HostNode& median = script.createNode("TestMedian");
    script.connect(median, 0, read);
    median.setKnob("gain", "2");
    std::vector<std::string> heard;
    median.setProgressListener([&heard](const std::string& text) { heard.push_back(text); });

    const std::vector<ImagePlane> planes =
        script.render(median, 5, ChannelSet(Mask_RGBA) + Chan_Z + Chan_U);
    auto* op = median.opAs<MedianOp>();
    // forward.u is not in the input, so only rgba and depth render, in layer order.
    EXPECT_EQ(op->rendered, (std::vector<std::string>{"rgba", "depth"}));
    // Progress messages reach the listener as they are reported, and are kept.
    EXPECT_EQ(heard, (std::vector<std::string>{"layer rgba", "layer depth"}));
    EXPECT_EQ(median.progressMessages(), heard);
    ASSERT_EQ(planes.size(), 2u);
    EXPECT_TRUE(planes[0].packed());
    EXPECT_EQ(planes[0].bounds(), Box(0, 0, 4, 2));
    EXPECT_EQ(planes[0].nComps(), 4);
    // Copy 1 is frame 4: 4 * gain 2 in rgba, 4.5 * 2 in depth.
    EXPECT_EQ(planes[0].at(3, 1, 3), 8.0f);
    EXPECT_EQ(planes[1].at(0, 0, 0), 9.0f);
    // The copies were asked for what the op's getRequests wanted.
    EXPECT_EQ(dynamic_cast<Iop*>(op->input(0))->requestedBox(), Box(0, 0, 4, 2));
    EXPECT_TRUE(op->opened());
}

TEST(ScriptDriver, KnobChangedFollowsEditsAndPanelOpening) {
    Script script;
    HostNode& read = script.createSource(numberedClip(1, 20));
    HostNode& median = script.createNode("TestMedian");
    script.connect(median, 0, read);
    auto* first = median.opAs<MedianOp>();

    median.setKnob("gain", "3.5");
    median.openPanel();
    median.setKnob("mode", "first");

    EXPECT_EQ(first->changed, (std::vector<std::string>{"gain", "<panel>", "mode"}));
    // The edited value is in the op's field by the time knob_changed runs,
    // and the op's inputs are there to look at.
    EXPECT_EQ(first->gainSeen.front(), 3.5f);
    EXPECT_EQ(first->mode, 0);
    EXPECT_TRUE(first->inputWhenChanged);
    EXPECT_EQ(median.invalidations(), 0);
}

TEST(ScriptDriver, KnobsRecordDeclarationsDefaultsAndDecorators) {
    Script script;
    HostNode& median = script.createNode("TestMedian", "Median");
    ASSERT_EQ(median.knobs().size(), 4u);
    const HostKnob* gain = median.knob("gain");
    ASSERT_NE(gain, nullptr);
    EXPECT_EQ(gain->tooltip(), "scales the result");
    EXPECT_EQ(gain->kind(), "float");
    EXPECT_EQ(median.knob("mode")->defaultText(), "second");
    EXPECT_EQ(median.knob("channels")->valueText(), "rgba");
    EXPECT_EQ(median.knob("info")->text(), "info: -");
    EXPECT_EQ(median.name(), "Median");
    EXPECT_EQ(median.op()->node_name(), "Median");
    EXPECT_EQ(median.op()->knob("mode"), median.knob("mode"));
}

TEST(ScriptDriver, UnknownClassesAndInputsAreErrors) {
    Script script;
    try {
        script.createNode("NoSuchClass");
        FAIL() << "expected an error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("NoSuchClass"), std::string::npos);
    }
    HostNode& median = script.createNode("TestMedian");
    HostNode& gain = script.createNode("TestGain");
    EXPECT_THROW(script.connect(median, 1, gain), Error);
    script.connect(median, 0, gain);
    EXPECT_THROW(script.connect(gain, 0, median), Error);  // a loop
    EXPECT_THROW(median.setKnob("nosuch", "1"), Error);
}

TEST(ScriptDriver, HashFollowsFramesKnobsAndInputs) {
    Script script;
    HostNode& read = script.createSource(numberedClip(1, 5));
    HostNode& median = script.createNode("TestMedian");
    script.connect(median, 0, read);

    const Hash at2 = script.hash(median, 2);
    EXPECT_EQ(script.hash(median, 2), at2);
    EXPECT_NE(script.hash(median, 3), at2);
    median.setKnob("gain", "2");
    EXPECT_NE(script.hash(median, 2), at2);
    // Past the clip's end every source frame clamps to the last one.
    median.setKnob("gain", "1");
    EXPECT_EQ(script.hash(median, 9), script.hash(median, 10));
}

TEST(ScriptDriver, SourceErrorsFailValidation) {
    Script script;
    auto frames = std::make_shared<MemoryFrames>();
    HostNode& read = script.createSource(std::make_shared<Clip>(frames));
    HostNode& median = script.createNode("TestMedian");
    script.connect(median, 0, read);
    EXPECT_FALSE(script.validate(median, 1));
    EXPECT_TRUE(read.hasError());
    EXPECT_TRUE(script.render(median, 1, Mask_RGBA).empty());
}

}  // namespace
}  // namespace tweenora::host
