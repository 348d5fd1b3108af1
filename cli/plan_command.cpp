// SPDX-License-Identifier: Apache-2.0
// `tweenora plan`: the node's output range and, per output frame, how it maps and renders.
//
// Everything printed comes from the real plug-in in the headless host: the
// range is the one the node publishes, frame0 and frame1 are the frames the host
// evaluated the node's two input copies at, and the position, timestep and road
// come from the module's own query of the node (timing/frame_query.h).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <DDImage/Iop.h>

#include "cli/commands.h"
#include "cli/frame_numbering.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "cli/session.h"
#include "cli/video_timing.h"
#include "host/Clip.h"
#include "host/Error.h"
#include "host/PluginLoader.h"
#include "host/Script.h"
#include "media/colour/transfer.h"
#include "media/frames.h"
#include "media/open.h"
#include "timing/frame_query.h"

namespace tweenora::cli {
namespace {

const char* const kPluginFile = "Tweenora.so";

const char* const kPlanUsage =
    "usage: tweenora plan INPUT [options] [--json | --range-only]\n"
    "       tweenora plan --range A-B [options] [--json | --range-only]\n"
    "\n"
    "Shows the output range the Tweenora node publishes for the input range and\n"
    "timing knobs, and for each output frame its source position, the two source\n"
    "frames, the timestep and the road (source0, source1 or interpolate). INPUT\n"
    "is what tweenora retime takes (a sequence pattern or a video); its frames\n"
    "are the input range unless --range narrows it. Nothing is rendered.\n"
    "\n"
    "options:\n";

// Every frame of the range is one small shared frame: the plan needs the
// source's range, box and channels, never its pixels, and long ranges must not
// cost memory per frame. Outside the range the clip holds its nearest frame.
class RangeFrames : public host::FrameProvider {
public:
    RangeFrames(int first, int last) : first_(first), last_(last) {
        host::ClipFrame frame;
        frame.box = DD::Image::Box(0, 0, 2, 2);
        frame.format = DD::Image::Format(2, 2);
        for (DD::Image::Channel channel : {DD::Image::Chan_Red, DD::Image::Chan_Green,
                                           DD::Image::Chan_Blue, DD::Image::Chan_Alpha})
            frame.planes[channel] = std::vector<float>(4, 0.0f);
        frame_ = std::make_shared<const host::ClipFrame>(std::move(frame));
    }
    int firstFrame() const override { return first_; }
    int lastFrame() const override { return last_; }
    std::shared_ptr<const host::ClipFrame> load(int frame) override {
        return frame >= first_ && frame <= last_ ? frame_ : nullptr;
    }

private:
    int first_;
    int last_;
    std::shared_ptr<const host::ClipFrame> frame_;
};

// The query lives in the plug-in the session loaded: the first Tweenora.so on
// the same plug-in path.
TweenoraFramePlanFunction findFramePlanQuery(const std::vector<std::string>& pluginPath) {
    const host::PluginLoader loader(pluginPath);
    if (void* symbol = loader.findLoadedSymbol(kPluginFile, TWEENORA_FRAME_PLAN_SYMBOL))
        return reinterpret_cast<TweenoraFramePlanFunction>(symbol);
    throw Error(std::string("the loaded ") + kPluginFile + " has no " + TWEENORA_FRAME_PLAN_SYMBOL +
                " query (an older or foreign plug-in?)");
}

struct PlannedFrame {
    int32_t frame = 0;
    int32_t frame0 = 0;  //!< where the host evaluated input copy 0
    int32_t frame1 = 0;  //!< where the host evaluated input copy 1
    TweenoraFramePlan plan{};
};

const char* roadName(int32_t road) {
    switch (road) {
        case kTweenoraRoadSource0:
            return "source0";
        case kTweenoraRoadSource1:
            return "source1";
        default:
            return "interpolate";
    }
}

// JSON has no NaN or infinity.
std::string jsonFloat(float value) {
    return std::isfinite(value) ? shortestText(value) : "null";
}

int32_t contextFrame(const DD::Image::Op* input) {
    return static_cast<int32_t>(input->outputContext().frame());
}

PlannedFrame planFrame(host::Script& script, host::HostNode& node, int32_t frame,
                       TweenoraFramePlanFunction query) {
    if (!script.validate(node, frame))
        throw RenderFailure(node.name() + ": " + node.errorMessage());
    const DD::Image::Op* op = node.op();
    if (op->inputs() < 2 || !op->input(0) || !op->input(1))
        throw RenderFailure(node.name() + ": the host built no two input copies");
    PlannedFrame planned;
    planned.frame = frame;
    planned.frame0 = contextFrame(op->input(0));
    planned.frame1 = contextFrame(op->input(1));
    if (!query(static_cast<const void*>(op), &planned.plan, sizeof planned.plan))
        throw RenderFailure(node.name() + ": the plug-in does not answer for this node");
    // The host and the node must agree on what was asked for; a plan that
    // papered over a disagreement would mislead.
    if (planned.plan.frame0 != planned.frame0 || planned.plan.frame1 != planned.frame1)
        throw RenderFailure("frame " + std::to_string(frame) + ": the host evaluated the " +
                            "inputs at " + std::to_string(planned.frame0) + " and " +
                            std::to_string(planned.frame1) + ", the node maps to " +
                            std::to_string(planned.plan.frame0) + " and " +
                            std::to_string(planned.plan.frame1));
    return planned;
}

// The node's plan in the user's numbers. The node's float32 position is
// relative to the base: shown as the shortest decimal that, less the base,
// reads back as that float, so that 86400.05 is not shown with the rounding
// digits of a sum the node never computed.
struct ShownFrame {
    int32_t frame = 0;
    int32_t frame0 = 0;
    int32_t frame1 = 0;
    float nodePosition = 0.0f;
    std::string position;  //!< "" when the node's position is not finite
    float timestep = 0.0f;
    int32_t road = 0;
};

std::string positionText(float nodePosition, int64_t base) {
    if (!std::isfinite(nodePosition))
        return {};
    const double position = double(nodePosition) + double(base);
    for (int digits = 0; digits <= 17; ++digits) {
        std::ostringstream text;
        text << std::fixed << std::setprecision(digits) << position;
        if (float(std::stod(text.str()) - double(base)) == nodePosition)
            return shortestText(std::stod(text.str()));
    }
    return shortestText(position);
}

ShownFrame shown(const PlannedFrame& planned, const FrameNumbering& numbering) {
    ShownFrame frame;
    frame.frame = numbering.toUser(planned.frame);
    frame.frame0 = numbering.toUser(planned.frame0);
    frame.frame1 = numbering.toUser(planned.frame1);
    frame.nodePosition = planned.plan.requestedFramePosition;
    frame.position = positionText(frame.nodePosition, numbering.base());
    frame.timestep = planned.plan.timestep;
    frame.road = planned.plan.road;
    return frame;
}

int64_t frameCount(int32_t first, int32_t last) {
    return std::max<int64_t>(0, int64_t{last} - first + 1);
}

void printText(std::ostream& out, int32_t first, int32_t last,
               const std::vector<ShownFrame>& frames) {
    out << "Output range: " << first << " to " << last << " (" << frameCount(first, last)
        << " frames)\n";
    out << std::setw(10) << "frame" << ' ' << std::setw(14) << "position" << ' ' << std::setw(10)
        << "frame0" << ' ' << std::setw(10) << "frame1" << ' ' << std::setw(12) << "timestep"
        << "  road\n";
    for (const ShownFrame& f : frames) {
        out << std::setw(10) << f.frame << ' ' << std::setw(14)
            << (f.position.empty() ? shortestText(f.nodePosition) : f.position) << ' '
            << std::setw(10) << f.frame0 << ' ' << std::setw(10) << f.frame1 << ' ' << std::setw(12)
            << shortestText(f.timestep) << "  " << roadName(f.road) << '\n';
    }
}

void printJson(std::ostream& out, int32_t first, int32_t last,
               const std::vector<ShownFrame>& frames) {
    out << "{\"first\": " << first << ", \"last\": " << last << ", \"frames\": [";
    for (size_t i = 0; i < frames.size(); ++i) {
        const ShownFrame& f = frames[i];
        out << (i ? ",\n  " : "\n  ") << "{\"frame\": " << f.frame
            << ", \"position\": " << (f.position.empty() ? jsonFloat(f.nodePosition) : f.position)
            << ", \"frame0\": " << f.frame0 << ", \"frame1\": " << f.frame1
            << ", \"timestep\": " << jsonFloat(f.timestep) << ", \"road\": \"" << roadName(f.road)
            << "\"}";
    }
    out << (frames.empty() ? "]}\n" : "\n]}\n");
}

// Source frames outside the input range are not there: the source holds its
// nearest frame, and that is what retime renders from. Says so in one line.
std::string outsideRangeNote(const InputRange& range, const std::vector<ShownFrame>& frames) {
    const int32_t lo = std::min(range.start, range.end), hi = std::max(range.start, range.end);
    auto outside = [&](int32_t frame) { return frame < lo || frame > hi; };
    size_t count = 0;
    const ShownFrame* first = nullptr;
    for (const ShownFrame& f : frames)
        if (outside(f.frame0) || outside(f.frame1)) {
            first = first ? first : &f;
            ++count;
        }
    if (!first)
        return {};
    return std::to_string(count) + " output frame" + (count == 1 ? "" : "s") + " (the first " +
           std::to_string(first->frame) + ") map to source frames outside the input range " +
           std::to_string(lo) + "-" + std::to_string(hi) +
           ", where the source holds its nearest frame (" +
           std::to_string(std::clamp(first->frame0, lo, hi)) + " and " +
           std::to_string(std::clamp(first->frame1, lo, hi)) + " for frame " +
           std::to_string(first->frame) + ")";
}

}  // namespace

int runPlan(const Args& args) {
    TimingOptions timing;
    bool json = false;
    bool rangeOnly = false;
    std::vector<std::string> inputs;
    for (size_t i = 0; i < args.size(); ++i) {
        if (parseTimingOption(args, i, timing))
            continue;
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--range-only") {
            rangeOnly = true;
        } else if (args[i] == "-h" || args[i] == "--help") {
            std::cout << kPlanUsage << timingOptionsHelp()
                      << "  --json                 print one JSON object instead of a table\n"
                      << "  --range-only           print only the output range, as FIRST LAST\n";
            return kExitOk;
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            throw unknownOption("plan", args[i]);
        } else {
            inputs.push_back(args[i]);
        }
    }
    if (inputs.size() > 1)
        throw Error("plan: give one INPUT (see tweenora plan --help)");
    if (!timing.range && inputs.empty())
        throw Error("plan: give INPUT, or --range A-B (the input frame range)");
    if (rangeOnly && (json || timing.frames))
        throw Error("plan: --range-only prints the range alone; leave out --json and --frames");

    // The input's frames and rate, as retime opens it (headers, and a video's first frame).
    media::FrameRate clipRate{0, 0};
    if (!inputs.empty()) {
        const std::optional<media::FrameSpan> span =
            timing.range ? std::optional<media::FrameSpan>(spanOf(*timing.range)) : std::nullopt;
        const std::unique_ptr<media::InputFrames> clip =
            media::openInputFrames(inputs.front(), span, media::Colorspace::Auto);
        if (!timing.range)
            timing.range = InputRange{clip->firstFrame(), clip->lastFrame()};
        clipRate = clip->frameRate();
        for (const std::string& note : clip->notes())
            std::cerr << noteLine(note);
    }
    // See Note [Frame numbers relative to the clip].
    const FrameNumbering numbering = FrameNumbering::forTiming(timing);
    const TimingOptions nodeTiming = withVideoTiming(numbering.toNode(timing), clipRate);

    const std::vector<std::string> pluginPath;
    Session session(pluginPath);
    const TweenoraFramePlanFunction query = findFramePlanQuery(pluginPath);
    host::Script& script = session.script();
    const InputRange range = *nodeTiming.range;
    auto clip = std::make_shared<host::Clip>(std::make_shared<RangeFrames>(
        std::min(range.start, range.end), std::max(range.start, range.end)));
    host::HostNode& source = script.createSource(clip);
    host::HostNode& node = session.createTweenora();
    script.connect(node, 0, source);
    applyTimingOptions(node, nodeTiming);
    if (const std::string note = defaultTimingNote(timing, node); !note.empty())
        std::cerr << noteLine(note);

    // The published range is the same at every frame; read it where the input starts.
    if (!script.validate(node, range.start))
        throw RenderFailure(node.name() + ": " + node.errorMessage());
    const DD::Image::Iop& iop = session.imageOf(node);
    const int32_t first = numbering.toUser(iop.first_frame());
    const int32_t last = numbering.toUser(iop.last_frame());
    if (rangeOnly) {
        // For scripts: two numbers a shell's `read FIRST LAST` takes as they are.
        std::cout << first << ' ' << last << '\n';
        return kExitOk;
    }

    const std::optional<std::vector<int32_t>> frames =
        timing.frames ? timing.frames : everyFrame(first, last);
    if (!frames)
        throw Error("plan: the output range " + std::to_string(first) + " to " +
                    std::to_string(last) + " has more than " + std::to_string(kMaxListedFrames) +
                    " frames; choose some with --frames");

    std::vector<ShownFrame> planned;
    planned.reserve(frames->size());
    for (const int32_t frame : *frames)
        planned.push_back(
            shown(planFrame(script, node, numbering.toNode(frame), query), numbering));

    std::ostringstream out;
    if (json)
        printJson(out, first, last, planned);
    else
        printText(out, first, last, planned);
    std::cout << out.str();
    if (const std::string note = outsideRangeNote(*timing.range, planned); !note.empty())
        std::cerr << noteLine(note);
    return kExitOk;
}

}  // namespace tweenora::cli
