// SPDX-License-Identifier: Apache-2.0
// The timing options shared by `tweenora plan` and `tweenora retime`, and how they reach the node.
#include "cli/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <set>
#include <string_view>
#include <system_error>
#include <tuple>

#include "cli/messages.h"
#include "host/Error.h"
#include "host/HostKnob.h"
#include "host/HostNode.h"

namespace tweenora::cli {
namespace {

Error badValue(const std::string& option, const std::string& text, const std::string& expected) {
    return Error(option + ": '" + text + "' is not " + expected);
}

// from_chars takes no leading '+'; users type one now and then.
std::string_view withoutPlus(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-')
        text.remove_prefix(1);
    return text;
}

std::optional<int32_t> toFrame(std::string_view text) {
    text = withoutPlus(text);
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() ||
        value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(value);
}

// "A-B" with signed bounds: the separator is the first '-' after A's digits.
std::optional<std::pair<int32_t, int32_t>> toFramePair(std::string_view text) {
    size_t split = 0;
    if (split < text.size() && (text[split] == '-' || text[split] == '+'))
        ++split;
    while (split < text.size() && text[split] >= '0' && text[split] <= '9')
        ++split;
    if (split == 0 || split >= text.size() || text[split] != '-')
        return std::nullopt;
    const auto first = toFrame(text.substr(0, split));
    const auto second = toFrame(text.substr(split + 1));
    if (!first || !second)
        return std::nullopt;
    return std::make_pair(*first, *second);
}

std::vector<std::string_view> splitAt(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t begin = 0;
    while (true) {
        const size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end == std::string_view::npos ? end : end - begin));
        if (end == std::string_view::npos)
            return parts;
        begin = end + 1;
    }
}

// The values each knob means something for. The node computes with whatever it
// is given (a negative threshold fails every frame, steps are clamped), so the
// tool refuses the rest before any work starts, as it refuses unknown knobs.
struct KnobRule {
    const char* knob;
    double minimum;
    double maximum;
    bool whole;
    const char* expected;
};
constexpr double kUnbounded = std::numeric_limits<double>::max();
// Smaller patches would be padded up to the network's size step (32 pixels)
// and cost passes for nothing.
constexpr double kSmallestPatch = 32.0;
const KnobRule kKnobRules[] = {
    {"steps", 1.0, 6.0, true, "a whole number from 1 to 6"},
    {"threshold", 0.0, kUnbounded, false, "a timestep of 0 or more"},
    {"nan_error_threshold", 0.0, kUnbounded, true,
     "a whole percentage of 0 or more (100 turns the check off)"},
    {"max_size", kSmallestPatch, kUnbounded, true,
     "a whole number of pixels, at least 32 (the smallest patch the network takes), or 0 "
     "for no tiling"},
    {"overlap", 0.0, kUnbounded, true, "a whole number of pixels, 0 or more"},
    {"padding", 0.0, kUnbounded, true, "a whole number of pixels, 0 or more"},
};

// "" when value means something for knob, else what it must be.
std::string knobValueProblem(const std::string& knob, double value) {
    if (knob == "speed") {
        // The node holds speed in float32; beyond its range the source
        // position of every frame but the first is NaN.
        const float stored = static_cast<float>(value);
        return std::isfinite(stored) && stored > 0.0f ? "" : "a number above 0, at most 3.4e38";
    }
    // 0 turns tiling off: the frame is processed whole, as the panel shows.
    if (knob == "max_size" && value == 0.0)
        return {};
    for (const KnobRule& rule : kKnobRules)
        if (knob == rule.knob && (!(value >= rule.minimum && value <= rule.maximum) ||
                                  (rule.whole && value != std::floor(value))))
            return rule.expected;
    return {};
}

// Frame rates typed as decimals are matched to these: 29.97 means 30000/1001.
constexpr int kNtscDenominator = 1001;

InputRange parseInputRange(const std::string& option, const std::string& text) {
    const auto bounds = toFramePair(text);
    if (!bounds)
        throw badValue(option, text, "a frame range A-B");
    return InputRange{bounds->first, bounds->second};
}

double parseNumber(const std::string& option, const std::string& text) {
    const std::string_view digits = withoutPlus(text);
    double value = 0.0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value))
        throw badValue(option, text, "a finite number");
    return value;
}

std::vector<FrameKey> parseFrameKeys(const std::string& option, const std::string& text) {
    std::vector<FrameKey> keys;
    for (const std::string_view item : splitAt(text, ',')) {
        const size_t colon = item.find(':');
        if (colon == std::string_view::npos)
            throw badValue(option, std::string(item), "a key F:V (value V at frame F)");
        FrameKey key;
        key.frame = parseNumber(option, std::string(item.substr(0, colon)));
        key.value = parseNumber(option, std::string(item.substr(colon + 1)));
        // Frames are whole int32 numbers to the host, values float32 to the node.
        if (!(key.frame >= std::numeric_limits<int32_t>::min() &&
              key.frame <= std::numeric_limits<int32_t>::max()) ||
            !std::isfinite(static_cast<float>(key.value)))
            throw badValue(option, std::string(item),
                           "a key F:V with F a frame number and V at most 3.4e38");
        keys.push_back(key);
    }
    return keys;
}

std::vector<int32_t> parseFrameList(const std::string& option, const std::string& text) {
    std::set<int32_t> frames;
    int64_t listed = 0;
    for (const std::string_view item : splitAt(text, ',')) {
        int32_t first = 0;
        int32_t last = 0;
        if (const auto single = toFrame(item)) {
            first = last = *single;
        } else if (const auto pair = toFramePair(item)) {
            std::tie(first, last) = *pair;
            if (first > last)
                throw badValue(option, std::string(item), "a range A-B with A <= B");
        } else {
            throw badValue(option, std::string(item), "a frame or a frame range A-B");
        }
        listed += int64_t{last} - first + 1;
        if (listed > kMaxListedFrames)
            throw Error(option + ": '" + text + "' lists more than " +
                        std::to_string(kMaxListedFrames) + " frames");
        for (int64_t frame = first; frame <= last; ++frame)
            frames.insert(static_cast<int32_t>(frame));
    }
    return std::vector<int32_t>(frames.begin(), frames.end());
}

// One way of timing at a time: each sets the node's mode and curve its own way.
void refuseSecondTiming(const std::string& name, const TimingOptions& options) {
    const std::pair<const char*, bool> given[] = {{"--speed", bool(options.speed)},
                                                  {"--frame-keys", !options.frameKeys.empty()},
                                                  {"--factor", bool(options.factor)},
                                                  {"--to-fps", bool(options.toFps)}};
    bool isTiming = false;
    for (const auto& [option, set] : given)
        isTiming = isTiming || name == option;
    if (!isTiming)
        return;
    for (const auto& [option, set] : given)
        if (set && name != option)
            throw Error(name + ": cannot be used with " + option +
                        " (one way of timing, not both)");
}

}  // namespace

bool TimingOptions::choosesTiming() const {
    if (speed || !frameKeys.empty() || factor || toFps)
        return true;
    for (const auto& [knob, value] : knobValues)
        if (knob == "mode" || knob == "speed" || knob == "output_frame")
            return true;
    return false;
}

bool parseTimingOption(const Args& args, size_t& i, TimingOptions& options) {
    static const char* const kNames[] = {"--range",  "--speed",  "--frame-keys", "--set",
                                         "--frames", "--factor", "--to-fps",     "--from-fps"};
    const std::string& arg = args[i];
    std::string name;
    std::optional<std::string> value;
    for (const char* candidate : kNames) {
        const std::string option = candidate;
        if (arg == option) {
            name = option;
        } else if (arg.compare(0, option.size() + 1, option + "=") == 0) {
            name = option;
            value = arg.substr(option.size() + 1);
        }
    }
    if (name.empty())
        return false;
    size_t next = i;
    if (!value) {
        if (next + 1 >= args.size())
            throw Error(name + ": missing value");
        value = args[++next];
    }

    refuseSecondTiming(name, options);
    if (name == "--range") {
        options.range = parseInputRange(name, *value);
    } else if (name == "--speed") {
        options.speed = parseNumber(name, *value);
        if (const std::string problem = knobValueProblem("speed", *options.speed); !problem.empty())
            throw badValue(name, *value, problem);
    } else if (name == "--factor") {
        options.factor = parseCount(name, *value, 1);
    } else if (name == "--to-fps") {
        options.toFps = parseFrameRate(name, *value);
    } else if (name == "--from-fps") {
        options.fromFps = parseFrameRate(name, *value);
    } else if (name == "--frame-keys") {
        const std::vector<FrameKey> keys = parseFrameKeys(name, *value);
        options.frameKeys.insert(options.frameKeys.end(), keys.begin(), keys.end());
    } else if (name == "--set") {
        const size_t equals = value->find('=');
        if (equals == 0 || equals == std::string::npos)
            throw badValue(name, *value, "knob=value");
        options.knobValues.emplace_back(value->substr(0, equals), value->substr(equals + 1));
    } else {
        options.frames = parseFrameList(name, *value);
    }
    i = next;
    return true;
}

void applyTimingOptions(host::HostNode& node, const TimingOptions& options) {
    if (options.range) {
        node.setKnob("frame_range_start", std::to_string(options.range->start));
        node.setKnob("frame_range_end", std::to_string(options.range->end));
    }
    // Modes by index: 0 is speed mode, 1 frame mode.
    if (options.speed) {
        node.setKnob("mode", "0");
        node.setKnob("speed", shortestText(*options.speed));
    }
    if (!options.frameKeys.empty()) {
        node.setKnob("mode", "1");
        for (const FrameKey& key : options.frameKeys)
            node.setKey("output_frame", key.frame, key.value);
    }
    for (const auto& [knob, value] : options.knobValues) {
        try {
            node.setKnob(knob, value);
        } catch (const Error& e) {
            throw Error("--set: '" + knob + "=" + value + "': " + e.what());
        }
        const std::string_view digits = withoutPlus(value);
        double number = 0.0;
        const auto [end, ec] =
            std::from_chars(digits.data(), digits.data() + digits.size(), number);
        const bool numeric = ec == std::errc() && end == digits.data() + digits.size();
        const std::string problem = numeric ? knobValueProblem(knob, number) : "";
        if (!problem.empty())
            throw Error("--set: '" + knob + "=" + value + "': " + knob + " must be " + problem);
    }
}

std::string defaultTimingNote(const TimingOptions& timing, host::HostNode& node) {
    if (timing.choosesTiming())
        return {};
    return "no --speed, --factor, --to-fps or --frame-keys: the node's default speed " +
           node.knob("speed")->valueText() +
           ", which samples between source frames (N frames become 2N - 2, none of them "
           "kept as it is); --factor 2 doubles the frames and keeps every source frame";
}

media::FrameRate parseFrameRate(const std::string& option, const std::string& text) {
    const std::string expected = "a frame rate from " + shortestText(kSlowestFrameRate) + " to " +
                                 shortestText(kFastestFrameRate) +
                                 " frames per second, such as 60, 29.97 or 30000/1001";
    const size_t slash = text.find('/');
    if (slash != std::string::npos) {
        const double num = parseNumber(option, text.substr(0, slash));
        const double den = parseNumber(option, text.substr(slash + 1));
        if (num != std::floor(num) || den != std::floor(den) || num < 1 || den < 1 || num > 1e6 ||
            den > 1e6)
            throw badValue(option, text, "a frame rate N/D of whole numbers");
        if (num / den < kSlowestFrameRate || num / den > kFastestFrameRate)
            throw badValue(option, text, expected);
        return {int(num), int(den)};
    }
    const double rate = parseNumber(option, text);
    if (!(rate >= kSlowestFrameRate && rate <= kFastestFrameRate))
        throw badValue(option, text, expected);
    if (rate == std::floor(rate))
        return {int(rate), 1};
    // Rates below one frame a second are no NTSC rates (and would round to 0/1001).
    const double ntsc = std::round(rate * kNtscDenominator / 1000.0) * 1000.0;
    if (rate > 1.0 && std::abs(ntsc / kNtscDenominator - rate) < 0.005)
        return {int(ntsc), kNtscDenominator};
    return {int(std::lround(rate * 1000.0)), 1000};
}

int parseCount(const std::string& option, const std::string& text, int minimum) {
    const double value = parseNumber(option, text);
    if (value != std::floor(value) || value < minimum || value > 1 << 20)
        throw badValue(option, text, "a whole number of at least " + std::to_string(minimum));
    return int(value);
}

std::optional<std::vector<int32_t>> everyFrame(int32_t first, int32_t last) {
    const int64_t count = std::max<int64_t>(0, int64_t{last} - first + 1);
    if (count > kMaxListedFrames)
        return std::nullopt;
    std::vector<int32_t> frames;
    frames.reserve(size_t(count));
    for (int64_t frame = first; frame <= last; ++frame)
        frames.push_back(static_cast<int32_t>(frame));
    return frames;
}

media::FrameSpan spanOf(const InputRange& range) {
    return {range.start, range.end};
}

Error unknownOption(const std::string& command, const std::string& arg) {
    return Error(command + ": unknown option '" + arg + "' (see tweenora " + command + " --help)");
}

const char* timingOptionsHelp() {
    return "  --range A-B            input frame range (frame_range_start, frame_range_end)\n"
           "  --speed S              speed mode: S source frames per output frame\n"
           "  --frame-keys F:V,...   frame mode: output_frame keyed to V at frame F,\n"
           "                         linear between keys\n"
           "  --factor N             N times as many frames, every source frame kept:\n"
           "                         N x (frames - 1) + 1 frames\n"
           "  --to-fps R             the same duration at R frames per second, source\n"
           "                         frames kept where the new rate meets them\n"
           "  --from-fps S           the input's frame rate for --to-fps (default: a\n"
           "                         video's own; a sequence needs it)\n"
           "  --set KNOB=VALUE       set any knob (repeatable, applied last)\n"
           "  --frames LIST          output frames, such as 1,2,198-200,-100\n";
}

}  // namespace tweenora::cli
