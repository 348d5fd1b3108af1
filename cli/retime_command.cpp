// SPDX-License-Identifier: Apache-2.0
// `tweenora retime`: reads an image sequence or a video, retimes it through the
// Tweenora plug-in in the headless host, and writes the node's output frames.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <ATen/Parallel.h>

#include <DDImage/ImagePlane.h>
#include <DDImage/Iop.h>

#include "cli/colour_management.h"
#include "cli/commands.h"
#include "cli/image_io.h"
#include "cli/input_notes.h"
#include "cli/media_io.h"
#include "cli/output_guard.h"
#include "cli/progress.h"
#include "cli/sequence.h"
#include "cli/session.h"
#include "cli/timing_options.h"
#include "host/Clip.h"
#include "host/Error.h"
#include "host/HostKnob.h"
#include "host/Script.h"

namespace tweenora::cli {

namespace {

const char* const kRetimeUsage =
    "usage: tweenora retime INPUT OUTPUT [options]\n"
    "\n"
    "Retimes INPUT through the Tweenora node and writes the node's output frames\n"
    "to OUTPUT. Each is an image sequence pattern (name.####.exr, name.%04d.exr,\n"
    "name.#.png: one digit per #) or a video file (clip.mov, clip.mp4, clip.mkv).\n"
    "A sequence's frames are the files present, or --range; a video's are frames\n"
    "1..N. The output's frame numbers are the node's output frames.\n"
    "\n"
    "timing (shared with tweenora plan):\n";

const char* const kRetimeOptions =
    "\n"
    "images:\n"
    "  --channels SET         channels to interpolate: rgb, rgba, all, or layers such\n"
    "                         as rgba,depth (default rgba; others pass through)\n"
    "  --colorspace CS        auto (integer files and video sRGB, float files linear,\n"
    "                         or what a file declares: log DPX, ICC profile),\n"
    "                         linear, srgb, or a colour space of the OpenColorIO\n"
    "                         configuration ($OCIO, else the built-in one); 'list'\n"
    "                         prints them (default auto)\n"
    "  --float                write EXR as 32-bit float (default half)\n"
    "\n"
    "video output:\n"
    "  --fps R                frame rate, such as 60, 29.97 or 30000/1001 (default:\n"
    "                         the input video's, else 24)\n"
    "  --codec NAME           encoder (default prores_ks, ProRes 422 HQ, for .mov;\n"
    "                         libx264 for .mp4 and .mkv)\n"
    "  --crf N                constant rate factor of encoders that take one (default 18)\n"
    "\n"
    "processing:\n"
    "  --cpu                  run the network on the CPU (use_gpu off)\n"
    "  --gpu N                use CUDA device N, as a batch render's --gpu does\n"
    "  --threads N            CPU threads for the network (default: every idle core)\n"
    "  --plugin-path DIR      look for Tweenora.so in DIR first (repeatable)\n"
    "  --debug                the node's debug output\n"
    "  --quiet                no progress display and none of the node's console lines\n"
    "\n"
    "exit status: 0 every frame written; 1 a frame failed to render (the frames\n"
    "before it stay); 2 bad usage or unreadable input.\n";

// Interpolate colour and alpha; utility layers (depth, vectors) pass through
// unless asked for, since blending them is rarely what a compositor wants.
const char* const kDefaultChannels = "rgba";

struct RetimeOptions {
    std::string input;
    std::string output;
    TimingOptions timing;
    std::string channels = kDefaultChannels;
    Colorspace colorspace = Colorspace::Auto;
    std::string colourSpace;  //!< a configuration's colour space, "" for the built-in rules
    bool listColourSpaces = false;
    bool floatData = false;
    std::optional<FrameRate> fps;
    std::string codec;
    std::optional<int> crf;
    bool cpu = false;
    std::optional<int> gpu;
    std::optional<int> threads;
    std::vector<std::string> pluginPath;
    bool debug = false;
    bool quiet = false;
    bool help = false;
};

int parseCount(const std::string& option, const std::string& text, int minimum) {
    const double value = parseNumber(option, text);
    if (value != std::floor(value) || value < minimum || value > 1 << 20)
        throw Error(option + ": '" + text + "' is not a whole number of at least " +
                    std::to_string(minimum));
    return int(value);
}

RetimeOptions parseOptions(const Args& args) {
    RetimeOptions options;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        if (parseTimingOption(args, i, options.timing))
            continue;
        const std::string& arg = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size())
                throw Error(arg + ": missing value");
            return args[++i];
        };
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--channels") {
            options.channels = value();
        } else if (arg == "--colorspace") {
            const std::string name = value();
            if (name == "list") {
                options.listColourSpaces = true;
            } else if (name == "auto" || name == "linear" || name == "srgb") {
                options.colorspace = parseColorspace(name);
            } else {
                // Read and written as they are, converted by the configuration.
                options.colourSpace = name;
                options.colorspace = Colorspace::Linear;
            }
        } else if (arg == "--float") {
            options.floatData = true;
        } else if (arg == "--fps") {
            options.fps = parseFrameRate(arg, value());
        } else if (arg == "--codec") {
            options.codec = value();
        } else if (arg == "--crf") {
            options.crf = parseCount(arg, value(), 0);
        } else if (arg == "--cpu") {
            options.cpu = true;
        } else if (arg == "--gpu") {
            options.gpu = parseCount(arg, value(), 0);
        } else if (arg == "--threads") {
            options.threads = parseCount(arg, value(), 1);
        } else if (arg == "--plugin-path") {
            options.pluginPath.push_back(value());
        } else if (arg == "--debug") {
            options.debug = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw Error("retime: unknown option '" + arg + "' (see tweenora retime --help)");
        } else {
            positional.push_back(arg);
        }
    }
    if (options.help || options.listColourSpaces)
        return options;
    if (positional.size() != 2)
        throw Error("retime: give INPUT and OUTPUT (see tweenora retime --help)");
    options.input = positional[0];
    options.output = positional[1];
    if (options.cpu && options.gpu)
        throw Error("retime: --cpu and --gpu exclude each other");
    return options;
}

// The output frames to render: all the node publishes, or the --frames chunk,
// which must lie inside them (a frame outside would only repeat an end frame).
std::vector<int> outputFrames(int first, int last, const TimingOptions& timing) {
    if (last < first)
        throw Error("the node's output range " + std::to_string(first) + "-" +
                    std::to_string(last) + " holds no frames (is the input range a single frame?)");
    if (!timing.frames) {
        // 64-bit: a range ending at the int32 limit must neither wrap nor allocate without bound.
        const int64_t count = int64_t(last) - int64_t(first) + 1;
        if (count > kMaxListedFrames)
            throw Error("the node's output range " + std::to_string(first) + "-" +
                        std::to_string(last) + " holds more than " +
                        std::to_string(kMaxListedFrames) + " frames; choose some with --frames");
        std::vector<int> frames;
        frames.reserve(size_t(count));
        for (int64_t frame = first; frame <= last; ++frame)
            frames.push_back(int(frame));
        return frames;
    }
    for (int frame : *timing.frames)
        if (frame < first || frame > last)
            throw Error("--frames: output frame " + std::to_string(frame) +
                        " lies outside the output range " + std::to_string(first) + "-" +
                        std::to_string(last));
    return std::vector<int>(timing.frames->begin(), timing.frames->end());
}

void refuseToOverwriteInputs(const OutputFrames& output, const std::vector<int>& frames,
                             const std::vector<std::string>& inputPaths) {
    std::set<std::string> inputs;
    for (const std::string& path : inputPaths)
        inputs.insert(canonicalPath(path));
    for (const std::string& path : output.paths(frames)) {
        if (inputs.count(canonicalPath(path)))
            throw Error("refusing to write '" + path + "': it is an input file");
    }
}

// A rerun of a chunk whose task was killed outright (SIGKILL leaves no chance
// to clean up) finds that task's partial files; remove those whose writer is gone.
void removeStalePartialsOf(const OutputFrames& output, const std::vector<int>& frames, bool quiet) {
    std::map<std::string, std::set<std::string>> namesByFolder;
    for (const std::string& path : output.paths(frames)) {
        const std::filesystem::path file(path);
        const std::string folder = file.parent_path().string();
        namesByFolder[folder.empty() ? "." : folder].insert(file.filename().string());
    }
    std::vector<std::string> removed;
    for (const auto& [folder, names] : namesByFolder)
        for (std::string& path : removeStalePartials(folder, names))
            removed.push_back(std::move(path));
    if (!removed.empty() && !quiet)
        std::cerr << "tweenora: note: removed " << removed.size() << " partial file"
                  << (removed.size() == 1 ? "" : "s") << " left by an earlier run, such as "
                  << removed.front() << "\n";
}

// The node's packed planes, one per layer, as one frame of planar channels.
// Planes span whole layers, so an RGB input's rgba plane carries an alpha the
// input never had (zeros, which would make a PNG transparent black): only the
// node's output channels are kept.
host::ClipFrame frameFromPlanes(const std::vector<DD::Image::ImagePlane>& planes,
                                const DD::Image::Format& format,
                                const DD::Image::ChannelSet& channels) {
    host::ClipFrame frame;
    frame.format = format;
    bool first = true;
    for (const DD::Image::ImagePlane& plane : planes) {
        const DD::Image::Box& box = plane.bounds();
        if (first)
            frame.box = box;
        first = false;
        const float* data = plane.readable();
        foreach (z, plane.channels()) {
            if (!channels.contains(z))
                continue;
            std::vector<float>& out = frame.planes[z];
            out.assign(size_t(box.w()) * box.h(), 0.0f);
            if (!data)
                continue;
            const int slot = plane.chanNo(z);
            for (int y = 0; y < box.h(); ++y)
                for (int x = 0; x < box.w(); ++x)
                    out[size_t(y) * box.w() + x] =
                        data[size_t(y) * plane.rowStride() + size_t(x) * plane.colStride() +
                             size_t(slot) * plane.chanStride()];
        }
    }
    return frame;
}

// The cores this process may run on: a farm task often gets fewer than the machine has.
int usableCores() {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (::sched_getaffinity(0, sizeof(cores), &cores) == 0 && CPU_COUNT(&cores) > 0)
        return CPU_COUNT(&cores);
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

// The usable cores that other processes leave idle, by the last minute's load
// average, at least one. libtorch's threads wait for each other at the end of
// every operator, spinning: one whose core another process holds stalls the
// rest. On a 2-core machine busy with other work, 2 threads took 2 to 4 times
// as long as 1 per frame, and 4 times the CPU time.
int idleCores() {
    const int usable = usableCores();
    double load = 0.0;
    std::ifstream loadavg("/proc/loadavg");
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    if (!(loadavg >> load) || online < 1)
        return usable;
    const double busy = std::clamp(load / double(online), 0.0, 1.0);
    return std::max(1, int(std::lround(double(usable) * (1.0 - busy))));
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.2f s", seconds);
    return text;
}

}  // namespace

int runRetime(const Args& args) {
    RetimeOptions options = parseOptions(args);
    if (options.help) {
        std::cout << kRetimeUsage << timingOptionsHelp() << kRetimeOptions;
        return kExitOk;
    }
    if (options.listColourSpaces) {
        const ColourSpaces spaces;
        std::cerr << "colour spaces of the configuration " << spaces.configName() << ":\n";
        for (const std::string& name : spaces.names())
            std::cout << name << "\n";
        return kExitOk;
    }
    installInterruptCleanup();

    std::unique_ptr<InputFrames> opened =
        openInputFrames(options.input, options.timing.range, options.colorspace);
    const std::shared_ptr<const ColourSpaces> spaces =
        colourSpacesFor(options.colourSpace, options.colorspace, *opened);
    const std::string managed =
        managedColourSpace(options.colourSpace, options.colorspace, *opened, *spaces);
    // A space the file declares applies to integer outputs; float EXR stays linear.
    const bool writeManaged =
        !managed.empty() && (!options.colourSpace.empty() || writesIntegerImages(options.output));
    const ProfileChoice profile =
        managed.empty() ? profileColorspace(options.colorspace, *opened) : ProfileChoice{};
    if (!options.quiet && !managed.empty() && options.colourSpace.empty())
        std::cerr << "tweenora: note: '" << opened->paths().front() << "' declares '" << managed
                  << "': converted through the colour configuration " << spaces->configName()
                  << "\n";
    if (!options.quiet && !profile.note.empty())
        std::cerr << "tweenora: note: " << profile.note << "\n";
    if (!managed.empty()) {
        if (options.colorspace == Colorspace::Auto)
            opened = openInputFrames(options.input, options.timing.range, Colorspace::Linear);
        opened = convertedInput(std::move(opened), spaces, managed);
    } else if (profile.colorspace != Colorspace::Auto) {
        opened = openInputFrames(options.input, options.timing.range, profile.colorspace);
    }
    const std::shared_ptr<InputFrames> frames = std::move(opened);
    WriteSettings settings;
    // Integer outputs of a linear-profiled input stay linear, as it was.
    settings.colorspace = writeManaged || profile.colorspace == Colorspace::Linear
                              ? Colorspace::Linear
                              : options.colorspace;
    settings.floatData = options.floatData;
    settings.inputType = frames->header().sampleType;
    settings.layout = frames->header().layout;
    VideoSettings video;
    video.frameRate = options.fps                   ? *options.fps
                      : frames->frameRate().num > 0 ? frames->frameRate()
                                                    : FrameRate{};
    video.codec = options.codec;
    video.crf = options.crf;
    video.colorspace = options.colorspace;
    std::unique_ptr<OutputFrames> output = makeOutputFrames(options.output, settings, video);
    if (writeManaged)
        output = convertedOutput(std::move(output), spaces, managed);
    if (!isVideoName(options.input) && !options.quiet)
        std::cerr << formatMismatchNote(frames->header(), options.colorspace);
    // The node would fill its input range from the clip on its first
    // validation; set now, it maps the very first frame right, so the host
    // decodes no source frame the run does not need.
    if (!options.timing.range)
        options.timing.range = InputRange{frames->firstFrame(), frames->lastFrame()};
    if (!options.quiet)
        for (const std::string& note : frames->notes())
            std::cerr << "tweenora: note: " << note << "\n";

    // The node reads the device index where a batch render's --gpu leaves it.
    if (options.gpu)
        ::setenv("LUMAQUARRY_NUKE_GPU_INDEX", std::to_string(*options.gpu).c_str(), 1);
    // libtorch may start with one thread; a retime should use what the machine has free.
    at::set_num_threads(options.threads ? *options.threads : idleCores());
    if (options.quiet) {
        std::fflush(stdout);
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            ::dup2(devNull, STDOUT_FILENO);
            ::close(devNull);
        }
    }

    Session session(options.pluginPath);
    host::Script& script = session.script();
    auto clip = std::make_shared<host::Clip>(frames);
    host::HostNode& source = script.createSource(clip);
    host::HostNode& node = session.createTweenora();
    script.connect(node, 0, source);
    node.setKnob("input_channels", options.channels);
    if (options.cpu)
        node.setKnob("use_gpu", "false");
    if (options.debug)
        node.setKnob("debug", "true");
    applyTimingOptions(node, options.timing);
    if (node.knob("colorspace_convert")->valueText() == "true")
        frames->watchEncodingRange(node.knob("input_channels")->channelSet());

    // The published range is the same at every frame. Validating decodes the
    // source frames that frame needs: take one the run renders anyway.
    const auto renderStart = std::chrono::steady_clock::now();
    const int probeFrame =
        options.timing.frames ? options.timing.frames->front() : frames->firstFrame();
    if (!script.validate(node, probeFrame)) {
        if (!frames->failure().empty())
            throw Error(frames->failure());
        std::cerr << "tweenora: error: " << node.name() << ": " << node.errorMessage() << "\n";
        return kExitRenderFailed;
    }
    const auto* iop = node.opAs<DD::Image::Iop>();
    if (!iop)
        throw Error(node.name() + " is not an image node");
    const std::vector<int> outFrames =
        outputFrames(iop->first_frame(), iop->last_frame(), options.timing);
    // Every frame carries the input's channels and format (mismatched input
    // frames were refused); only the box follows the frames.
    const DD::Image::ChannelSet channels = iop->channels();
    const DD::Image::Format format = iop->format();
    refuseToOverwriteInputs(*output, outFrames, frames->paths());
    output->open(format);
    removeStalePartialsOf(*output, outFrames, options.quiet);

    Progress progress(Progress::styleFor(options.quiet), int(outFrames.size()), std::cerr);
    // The node's pass messages ("Interpolating (pass 2/6)") join the display live.
    node.setProgressListener([&progress](const std::string& text) { progress.message(text); });
    double writeSeconds = 0.0;
    bool notedDropped = false;
    for (int frame : outFrames) {
        progress.beginFrame(frame);
        std::vector<DD::Image::ImagePlane> planes;
        try {
            planes = script.render(node, frame, channels);
        } catch (const Error&) {
            // A source file that fails to decode surfaces here or below.
            if (frames->failure().empty())
                throw;
        } catch (const std::exception& e) {
            // What the node lets through (device selection failing, say).
            std::cerr << "tweenora: error: frame " << frame << ": " << e.what() << "\n";
            return kExitRenderFailed;
        }
        if (!frames->failure().empty())
            throw Error(frames->failure());
        if (const std::string notes = frames->takeNotes(); !notes.empty() && !options.quiet)
            std::cerr << notes;
        if (node.hasError()) {
            std::cerr << "tweenora: error: frame " << frame << ": " << node.errorMessage() << "\n";
            return kExitRenderFailed;
        }
        const auto writeStart = std::chrono::steady_clock::now();
        std::vector<std::string> dropped;
        try {
            dropped = output->write(frame, frameFromPlanes(planes, format, channels));
        } catch (const Error& e) {
            std::cerr << "tweenora: error: frame " << frame << ": " << e.what() << "\n";
            return kExitRenderFailed;
        }
        writeSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - writeStart).count();
        if (!dropped.empty() && !notedDropped && !options.quiet) {
            std::string names;
            for (const std::string& name : dropped)
                names += (names.empty() ? "" : ", ") + name;
            std::cerr << "tweenora: note: " << output->text() << " cannot hold " << names
                      << "; written without\n";
            notedDropped = true;
        }
        progress.endFrame(output->shownAs(frame));
    }
    script.close(node);
    try {
        output->finish();
    } catch (const Error& e) {
        std::cerr << "tweenora: error: " << e.what() << "\n";
        return kExitRenderFailed;
    }

    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - renderStart).count();
    char rate[32];
    std::snprintf(rate, sizeof(rate), "%.3g", outFrames.size() / std::max(seconds, 1e-9));
    node.setProgressListener({});
    progress.finish("wrote " + std::to_string(outFrames.size()) +
                    (outFrames.size() == 1 ? " frame to " : " frames to ") + output->text() +
                    " in " + secondsText(seconds) + " (" + rate + " frames/s; " +
                    std::to_string(frames->framesDecoded()) + " source frames read, " +
                    std::to_string(frames->decodes()) + " decodes; " +
                    secondsText(frames->decodeSeconds()) + " reading, " +
                    secondsText(writeSeconds) + " writing)");
    return kExitOk;
}

}  // namespace tweenora::cli
