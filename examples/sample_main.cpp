// SPDX-License-Identifier: Apache-2.0
// tweenora-sample: writes the sample clip, or its exact frame at any fractional time.
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "examples/sample_scene.h"
#include "examples/tool_main.h"
#include "host/Error.h"
#include "media/sequence/pattern.h"

namespace {

using tweenora::Error;
using tweenora::examples::SampleOptions;

const char* const kUsage =
    "usage: tweenora-sample clip OUTPUT [--frames A-B] [options]\n"
    "       tweenora-sample frame OUTPUT --at TIME [options]\n"
    "\n"
    "clip   writes frames A to B (default 1-12) of the sample clip to the\n"
    "       sequence OUTPUT (such as clip/sample.####.exr)\n"
    "frame  writes the exact frame at TIME (a frame number, fractions allowed)\n"
    "       to the file OUTPUT: the ground truth of an in-between frame\n"
    "\n"
    "options:\n"
    "  --size WxH     frame size (default 640x360)\n"
    "  --float        32-bit float channels (default: half)\n"
    "  --no-depth     leave out the depth.Z layer\n";

int parseInt(const std::string& text, const std::string& what) {
    size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size())
        throw Error("bad " + what + " '" + text + "'");
    return value;
}

double parseTime(const std::string& text) {
    size_t used = 0;
    double value = 0.0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size())
        throw Error("bad time '" + text + "'");
    return value;
}

struct Command {
    std::string mode;
    std::string output;
    int first = 1;
    int last = 12;
    bool timeGiven = false;
    double time = 0.0;
    bool halfFloat = true;
    SampleOptions options;
};

Command parse(const std::vector<std::string>& args) {
    if (args.size() < 2)
        throw Error("missing arguments");
    Command command;
    command.mode = args[0];
    if (command.mode != "clip" && command.mode != "frame")
        throw Error("unknown mode '" + command.mode + "' (clip or frame)");
    command.output = args[1];
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw Error(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--frames") {
            const std::string text = value();
            const size_t dash = text.find('-', 1);
            if (dash == std::string::npos)
                throw Error("bad frame range '" + text + "' (write A-B)");
            command.first = parseInt(text.substr(0, dash), "first frame");
            command.last = parseInt(text.substr(dash + 1), "last frame");
            if (command.last < command.first)
                throw Error("frame range '" + text + "' ends before it starts");
        } else if (arg == "--at") {
            command.time = parseTime(value());
            command.timeGiven = true;
        } else if (arg == "--size") {
            const std::string text = value();
            const size_t x = text.find('x');
            if (x == std::string::npos)
                throw Error("bad size '" + text + "' (write WxH)");
            command.options.width = parseInt(text.substr(0, x), "width");
            command.options.height = parseInt(text.substr(x + 1), "height");
            if (command.options.width < 1 || command.options.height < 1)
                throw Error("bad size '" + text + "'");
        } else if (arg == "--float") {
            command.halfFloat = false;
        } else if (arg == "--no-depth") {
            command.options.depth = false;
        } else {
            throw Error("unknown option '" + arg + "'");
        }
    }
    if (command.mode == "frame" && !command.timeGiven)
        throw Error("frame needs --at TIME");
    return command;
}

int run(const std::vector<std::string>& args) {
    const Command command = parse(args);
    const std::filesystem::path folder = std::filesystem::path(command.output).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder);
    if (command.mode == "frame") {
        tweenora::examples::writeSampleExr(
            tweenora::examples::renderSampleFrame(command.time, command.options), command.output,
            command.halfFloat);
        return EXIT_SUCCESS;
    }
    const tweenora::media::SequencePattern pattern(command.output);
    for (int frame = command.first; frame <= command.last; ++frame)
        tweenora::examples::writeSampleExr(
            tweenora::examples::renderSampleFrame(frame, command.options), pattern.path(frame),
            command.halfFloat);
    std::cout << "wrote frames " << command.first << "-" << command.last << " of "
              << command.options.width << "x" << command.options.height << " to " << command.output
              << "\n";
    return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
    return tweenora::examples::runTool("tweenora-sample", kUsage, 2, argc, argv, run);
}
