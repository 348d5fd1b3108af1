// SPDX-License-Identifier: Apache-2.0
// `tweenora retime`: reads an image sequence or a video, retimes it through the
// Tweenora plug-in in the headless host, and writes the node's output frames.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <ATen/Parallel.h>

#include <DDImage/ImagePlane.h>
#include <DDImage/Iop.h>

#include "cli/commands.h"
#include "cli/frame_numbering.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "cli/session.h"
#include "cli/video_timing.h"
#include "host/Clip.h"
#include "host/Error.h"
#include "host/HostKnob.h"
#include "host/Script.h"
#include "host/plane_copy.h"
#include "host/render_process.h"
#include "media/colour/colour_spaces.h"
#include "media/open.h"
#include "media/safe_write.h"
#include "media/sequence/input_notes.h"
#include "media/sequence/pattern.h"
#include "media/video/audio_track.h"
#include "media/video/source_streams.h"
#include "media/video/timecode.h"

namespace tweenora::cli {

namespace {

const char* const kRetimeUsage =
    "usage: tweenora retime INPUT OUTPUT [options]\n"
    "\n"
    "Retimes INPUT through the Tweenora node and writes the node's output frames\n"
    "to OUTPUT. Each is an image sequence pattern (name.####.exr, name.%04d.exr,\n"
    "name.#.png: one digit per #) or a video file (clip.mov, clip.mp4, clip.mkv).\n"
    "A sequence's frames are the files present, or --range; a video's are frames\n"
    "1..N. The output's frame numbers are the node's output frames. Without a\n"
    "timing option the node's default applies (speed 0.5).\n"
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
    "  --fps R                frame rate from 0.001 to 1000, such as 60, 29.97 or\n"
    "                         30000/1001 (default: the input video's, else 24)\n"
    "  --codec NAME           encoder (default prores_ks, ProRes 422 HQ, for .mov;\n"
    "                         libx264 for .mp4 and .mkv)\n"
    "  --crf N                constant rate factor of encoders that take one, within\n"
    "                         the encoder's range (default 18)\n"
    "  --prores-profile P     proxy, lt, standard, hq, 4444 or 4444xq (default hq;\n"
    "                         4444 and 4444xq are 4:4:4)\n"
    "  --pix-fmt NAME         the encoder's pixel format, such as yuv422p10le (default:\n"
    "                         by encoder; 10-bit input stays 10-bit, as libx265\n"
    "                         yuv420p10le for .mp4 and .mkv)\n"
    "  --preset NAME          the encoder's preset (libx264, libx265), such as slow\n"
    "  --audio MODE           the input video's audio: copy (untouched where the output\n"
    "                         lasts as long as the input, else dropped with a note),\n"
    "                         drop, or retime (slowed or sped, its pitch kept)\n"
    "                         (default copy)\n"
    "\n"
    "reruns (by default every planned frame is written, over any file there):\n"
    "  --skip-existing        leave out frames whose output file exists (files\n"
    "                         appear only when complete); sequence outputs only\n"
    "  --no-overwrite         stop before any work when a planned output exists\n"
    "\n"
    "processing:\n"
    "  --cpu                  run the network on the CPU (use_gpu off)\n"
    "  --gpu N                use CUDA device N, as a batch render's --gpu does\n"
    "  --threads N            CPU threads for the network (default: every idle core)\n"
    "  --plugin-path DIR      look for Tweenora.so in DIR first (repeatable)\n"
    "  --debug                the node's debug output\n"
    "  --quiet                no progress display, none of the node's console lines\n"
    "                         and none of the encoders' own\n"
    "  --check                check the command and the input (reading only the first\n"
    "                         frames the node needs), print the output range as\n"
    "                         FIRST LAST and render nothing\n"
    "\n"
    "exit status: 0 every frame written; 1 a frame failed to render (the frames\n"
    "before it stay); 2 bad usage or unreadable input.\n";

// Interpolate colour and alpha; utility layers (depth, vectors) pass through
// unless asked for, since blending them is rarely what a compositor wants.
const char* const kDefaultChannels = "rgba";

using media::Colorspace;
using media::InputFrames;
using media::OutputFrames;

struct RetimeOptions {
    std::string input;
    std::string output;
    TimingOptions timing;
    std::string channels = kDefaultChannels;
    Colorspace colorspace =
        Colorspace::Auto;     //!< the built-in rules (--colorspace auto, linear, srgb)
    std::string configSpace;  //!< a colour space of the configuration, "" for the built-in rules
    bool listConfigSpaces = false;
    bool floatData = false;
    std::optional<media::FrameRate> fps;
    std::string codec;
    std::optional<int> crf;
    media::AudioMode audio = media::AudioMode::Copy;
    std::string proresProfile;
    std::string pixelFormat;
    std::string preset;
    bool cpu = false;
    std::optional<int> gpu;
    std::optional<int> threads;
    std::vector<std::string> pluginPath;
    bool debug = false;
    bool quiet = false;
    bool check = false;
    bool help = false;
    bool skipExisting = false;
    bool noOverwrite = false;
};

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
                options.listConfigSpaces = true;
            } else if (name == "auto" || name == "linear" || name == "srgb") {
                options.colorspace = media::parseColorspace(name);
            } else {
                // Read and written as they are, converted by the configuration.
                options.configSpace = name;
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
        } else if (arg == "--prores-profile") {
            options.proresProfile = value();
            const std::set<std::string> profiles = {"proxy", "lt",   "standard",
                                                    "hq",    "4444", "4444xq"};
            if (!profiles.count(options.proresProfile))
                throw Error(
                    "--prores-profile must be proxy, lt, standard, hq, 4444 or 4444xq, "
                    "not '" +
                    options.proresProfile + "'");
        } else if (arg == "--pix-fmt") {
            options.pixelFormat = value();
        } else if (arg == "--preset") {
            options.preset = value();
        } else if (arg == "--audio") {
            options.audio = media::parseAudioMode(value());
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
        } else if (arg == "--skip-existing") {
            options.skipExisting = true;
        } else if (arg == "--no-overwrite") {
            options.noOverwrite = true;
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw unknownOption("retime", arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (options.help || options.listConfigSpaces)
        return options;
    if (positional.size() != 2)
        throw Error("retime: give INPUT and OUTPUT (see tweenora retime --help)");
    options.input = positional[0];
    options.output = positional[1];
    if (options.cpu && options.gpu)
        throw Error("retime: --cpu and --gpu exclude each other");
    if (options.skipExisting && media::isVideoName(options.output))
        throw Error("--skip-existing: '" + options.output +
                    "' is a video, written whole in one go, so no frame of it can be kept; "
                    "write an image sequence to resume frame by frame, then encode it");
    if (options.fps && options.timing.toFps &&
        options.fps->value() != options.timing.toFps->value())
        throw Error("--fps: --to-fps writes the output at its own rate; give one of them");
    return options;
}

// The output frames to render: all the node publishes, or the --frames chunk,
// which must lie inside them (a frame outside would only repeat an end frame).
std::vector<int> outputFrames(int first, int last, const TimingOptions& timing) {
    if (last < first)
        throw Error("the node's output range " + std::to_string(first) + "-" +
                    std::to_string(last) + " holds no frames (is the input range a single frame?)");
    if (!timing.frames) {
        const std::optional<std::vector<int32_t>> frames = everyFrame(first, last);
        if (!frames)
            throw Error("the node's output range " + std::to_string(first) + "-" +
                        std::to_string(last) + " holds more than " +
                        std::to_string(kMaxListedFrames) + " frames; choose some with --frames");
        return std::vector<int>(frames->begin(), frames->end());
    }
    for (int frame : *timing.frames)
        if (frame < first || frame > last)
            throw Error("--frames: output frame " + std::to_string(frame) +
                        " lies outside the output range " + std::to_string(first) + "-" +
                        std::to_string(last));
    return std::vector<int>(timing.frames->begin(), timing.frames->end());
}

// A video is one file holding the output range in order: a run of some frames
// would replace it with those frames alone, and videos of chunks do not join.
void refusePartialVideo(const std::string& output, int first, int last,
                        const std::vector<int>& frames) {
    if (!media::isVideoName(output) || int64_t(frames.size()) == int64_t{last} - first + 1)
        return;
    throw Error("--frames: a video output holds the whole output range " + std::to_string(first) +
                "-" + std::to_string(last) +
                " in order, and a run of some frames would replace it with those alone; render "
                "the chunks to an image sequence (such as out.####.exr) and encode that to a "
                "video once, when every chunk is done");
}

// Beyond the files read, a sequence input's pattern names the plate's other
// frames: an output to the same pattern with --range would write over those.
void refuseToOverwriteInputs(const OutputFrames& output, const std::vector<int>& frames,
                             const std::vector<std::string>& inputPaths, const std::string& input) {
    std::set<std::string> inputs;
    for (const std::string& path : inputPaths)
        inputs.insert(media::canonicalPath(path));
    std::optional<media::SequencePattern> pattern;
    if (!media::isVideoName(input))
        pattern.emplace(input);
    const std::vector<std::string> paths = output.paths(frames);
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string path = media::canonicalPath(paths[i]);
        if (inputs.count(path))
            throw Error("refusing to write '" + paths[i] + "': it is an input file");
        if (pattern && i < frames.size() && path == media::canonicalPath(pattern->path(frames[i])))
            throw Error("refusing to write '" + paths[i] + "': the output pattern names the " +
                        "input's own files (" + input + ")");
    }
}

// The encoder's options say how a video is encoded; a sequence has no use for them.
void noteVideoOptionsUnused(const RetimeOptions& options) {
    if (options.quiet || media::isVideoName(options.output))
        return;
    std::vector<std::string> given;
    if (options.fps)
        given.push_back("--fps");
    if (!options.codec.empty())
        given.push_back("--codec");
    if (options.crf)
        given.push_back("--crf");
    if (!options.proresProfile.empty())
        given.push_back("--prores-profile");
    if (!options.pixelFormat.empty())
        given.push_back("--pix-fmt");
    if (!options.preset.empty())
        given.push_back("--preset");
    if (given.empty())
        return;
    std::string names;
    for (size_t i = 0; i < given.size(); ++i)
        names += (i == 0 ? "" : i + 1 == given.size() ? " and " : ", ") + given[i];
    std::cerr << noteLine(names + (given.size() == 1 ? " sets" : " set") +
                          " how a video is encoded: '" + options.output +
                          "' is an image sequence, so " +
                          (given.size() == 1 ? "it is" : "they are") + " not used");
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
        for (std::string& path : media::removeStalePartials(folder, names))
            removed.push_back(std::move(path));
    if (!removed.empty() && !quiet)
        std::cerr << noteLine("removed " + std::to_string(removed.size()) + " partial file" +
                              (removed.size() == 1 ? "" : "s") +
                              " left by an earlier run, such as " + removed.front());
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.2f s", seconds);
    return text;
}

int listConfigSpaces() {
    const media::ColourSpaces spaces;
    std::cerr << "colour spaces of the configuration " << spaces.configName() << ":\n";
    for (const std::string& name : spaces.names())
        std::cout << name << "\n";
    return kExitOk;
}

// The input and output as opened, with the colour conversions they need.
struct Media {
    std::unique_ptr<InputFrames> frames;
    std::unique_ptr<OutputFrames> output;
    media::FrameRate outputRate;
    std::string sourceTimecode;  //!< a video input's first frame's, "" for none
};

std::optional<media::FrameSpan> inputSpan(const TimingOptions& timing) {
    if (!timing.range)
        return std::nullopt;
    return spanOf(*timing.range);
}

// What of a video input the output carries: its colour tags, depth and alpha.
// HDR is linearised with its own transfer and written back with it; where it
// would be written as SDR instead, it is refused.
void carrySourceStreams(const media::SourceStreams& source, const RetimeOptions& options,
                        media::VideoSettings& video) {
    const std::string hdr = "'" + source.path + "': its transfer " +
                            media::transferName(source.colour.transfer) +
                            " (high dynamic range) is not supported ";
    if (media::isHdrTransfer(source.colour.transfer) && options.colorspace != Colorspace::Auto)
        throw Error(hdr + "with --colorspace other than auto: it would be read as another curve");
    if (media::isHdrTransfer(source.colour.transfer) && media::writesIntegerImages(options.output))
        throw Error(hdr +
                    "into integer images: they would hold it as standard dynamic range "
                    "(write EXR or a video)");
    video.colourTags = source.colour;
    video.sourceBitDepth = source.bitDepth;
    video.alpha = source.alpha;
}

// Opens the input, decides how its colour is read (a configuration's space, an
// ICC profile, or the built-in rules) and opens the output to write it back so.
Media openMedia(const RetimeOptions& options) {
    const std::optional<media::FrameSpan> span = inputSpan(options.timing);
    std::unique_ptr<InputFrames> opened =
        media::openInputFrames(options.input, span, options.colorspace);
    const std::shared_ptr<const media::ColourSpaces> spaces =
        media::colourSpacesFor(options.configSpace, options.colorspace, *opened);
    const std::string managed =
        media::managedColourSpace(options.configSpace, options.colorspace, *opened, *spaces);
    // A space the file declares applies to integer outputs; float EXR stays linear.
    const bool writeManaged = !managed.empty() && (!options.configSpace.empty() ||
                                                   media::writesIntegerImages(options.output));
    const media::ProfileChoice profile = managed.empty()
                                             ? media::profileColorspace(options.colorspace, *opened)
                                             : media::ProfileChoice{};
    if (!options.quiet && !managed.empty() && options.configSpace.empty())
        std::cerr << noteLine("'" + opened->paths().front() + "' declares '" + managed +
                              "': converted through the colour configuration " +
                              spaces->configName());
    if (!options.quiet && !profile.note.empty())
        std::cerr << noteLine(profile.note);
    if (!managed.empty()) {
        if (options.colorspace == Colorspace::Auto)
            opened = media::openInputFrames(options.input, span, Colorspace::Linear);
        opened = media::convertedInput(std::move(opened), spaces, managed);
    } else if (profile.colorspace != Colorspace::Auto) {
        opened = media::openInputFrames(options.input, span, profile.colorspace);
    }
    Media opening;
    opening.frames = std::move(opened);
    const InputFrames& frames = *opening.frames;
    media::WriteSettings settings;
    // Integer outputs of a linear-profiled input stay linear, as it was.
    settings.colorspace = writeManaged || profile.colorspace == Colorspace::Linear
                              ? Colorspace::Linear
                              : options.colorspace;
    settings.floatData = options.floatData;
    settings.inputType = frames.header().sampleType;
    settings.layout = frames.header().layout;
    settings.dpxEncoding = frames.header().dpxEncoding;
    media::VideoSettings video;
    video.frameRate = options.fps                  ? *options.fps
                      : options.timing.toFps       ? *options.timing.toFps
                      : frames.frameRate().num > 0 ? frames.frameRate()
                                                   : media::FrameRate{};
    video.codec = options.codec;
    video.crf = options.crf;
    video.colorspace = options.colorspace;
    video.proresProfile = options.proresProfile;
    video.pixelFormat = options.pixelFormat;
    video.preset = options.preset;
    video.quiet = options.quiet;
    if (media::isVideoName(options.input)) {
        const media::SourceStreams source = media::probeSourceStreams(options.input);
        carrySourceStreams(source, options, video);
        opening.sourceTimecode = source.timecode;
        video.audio.source = options.input;
        video.audio.mode = options.audio;
        if (source.audioStreams > 0 && options.audio != media::AudioMode::Drop &&
            !media::isVideoName(options.output) && !options.quiet)
            std::cerr << noteLine("'" + options.input +
                                  "': its audio is not carried: an image sequence holds none");
    }
    opening.outputRate = video.frameRate;
    opening.output = media::makeOutputFrames(options.output, settings, video);
    if (writeManaged)
        opening.output = media::convertedOutput(std::move(opening.output), spaces, managed);
    if (!media::isVideoName(options.input) && !options.quiet)
        std::cerr << noteLines(media::formatMismatchNote(frames.header(), options.colorspace));
    if (!options.quiet)
        for (const std::string& note : frames.notes())
            std::cerr << noteLine(note);
    return opening;
}

// The process-wide settings the node and libtorch read: the device, the
// threads, and with --quiet no console lines from the node.
void prepareProcess(const RetimeOptions& options) {
    // The node reads the device index where a batch render's --gpu leaves it.
    if (options.gpu)
        ::setenv("LUMAQUARRY_NUKE_GPU_INDEX", std::to_string(*options.gpu).c_str(), 1);
    // libtorch may start with one thread; a retime should use what the machine has free.
    at::set_num_threads(options.threads ? *options.threads : host::idleCores());
    if (options.quiet) {
        std::fflush(stdout);
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            ::dup2(devNull, STDOUT_FILENO);
            ::close(devNull);
        }
    }
}

// How the output's time runs against the input's: only a constant speed over
// consecutive output frames maps one onto the other. Output frame `start`
// shows source frame `start` (the user's numbers) and each output frame
// advances `slope` source frames: --factor and --to-fps by their keys, the
// speed mode by its knobs (in the node's numbers).
media::SourceTiming sourceTiming(const host::HostNode& node, const TimingOptions& options,
                                 const FrameNumbering& numbering, const InputFrames& frames,
                                 const std::vector<int>& outFrames, media::FrameRate outputRate) {
    media::SourceTiming timing;
    const media::FrameRate inputRate = frames.frameRate();
    timing.duration = double(outFrames.size()) / outputRate.value();
    if (inputRate.num <= 0)
        return timing;
    for (size_t i = 1; i < outFrames.size(); ++i)
        if (outFrames[i] != outFrames[i - 1] + 1) {
            timing.unmapped = "the output frames do not run consecutively";
            return timing;
        }
    double start = 0.0, slope = 0.0;
    if (options.factor || options.toFps) {
        if (options.range->end < options.range->start) {
            timing.unmapped = "the output runs backwards";
            return timing;
        }
        start = double(options.range->start);
        const media::FrameRate from = options.fromFps ? *options.fromFps : inputRate;
        slope = options.factor ? 1.0 / *options.factor : from.value() / options.toFps->value();
    } else if (node.knob("mode")->valueText() == "Output Speed") {
        start = numbering.toUser(std::stoi(node.knob("frame_range_start")->valueText()));
        slope = std::stod(node.knob("speed")->valueText());
    } else {
        timing.unmapped = "frame mode has no constant speed";
        return timing;
    }
    // The input's frame 1 starts at 0.
    timing.sourceStart =
        (start - 1.0 + (double(outFrames.front()) - start) * slope) / inputRate.value();
    timing.tempo = slope * outputRate.value() / inputRate.value();
    return timing;
}

// Source -> Tweenora, the knobs set from the options and timing (in the node's numbers).
host::HostNode& buildGraph(Session& session, const std::shared_ptr<InputFrames>& frames,
                           const RetimeOptions& options, const TimingOptions& timing) {
    host::Script& script = session.script();
    host::HostNode& source = script.createSource(std::make_shared<host::Clip>(frames));
    host::HostNode& node = session.createTweenora();
    script.connect(node, 0, source);
    node.setKnob("input_channels", options.channels);
    if (options.cpu)
        node.setKnob("use_gpu", "false");
    if (options.debug)
        node.setKnob("debug", "true");
    applyTimingOptions(node, timing);
    if (node.knob("colorspace_convert")->valueText() == "true")
        frames->watchEncodingRange(node.knob("input_channels")->channelSet());
    return node;
}

// A decode failure surfaces as the node's error or an exception; the source's
// own message names the file, and unreadable input is a usage error.
void throwDecodeFailure(const InputFrames& frames) {
    if (!frames.failure().empty())
        throw Error(frames.failure());
}

struct Rendered {
    size_t frames = 0;
    double writeSeconds = 0.0;
};

// Renders and writes every output frame in order. Throws RenderFailure naming
// the frame when the node or the output fails it.
Rendered renderFrames(host::Script& script, host::HostNode& node, InputFrames& frames,
                      OutputFrames& output, const std::vector<int>& outFrames,
                      const FrameNumbering& numbering, const DD::Image::Format& format,
                      const DD::Image::ChannelSet& channels, Progress& progress, bool quiet) {
    Rendered rendered;
    bool notedDropped = false;
    for (int frame : outFrames) {
        const std::string framePrefix = "frame " + std::to_string(frame) + ": ";
        progress.beginFrame(frame);
        std::vector<DD::Image::ImagePlane> planes;
        try {
            planes = script.render(node, numbering.toNode(frame), channels);
        } catch (const Error&) {
            // A source file that fails to decode surfaces here or below.
            if (frames.failure().empty())
                throw;
        } catch (const std::exception& e) {
            // What the node lets through (device selection failing, say).
            throw RenderFailure(framePrefix + e.what());
        }
        throwDecodeFailure(frames);
        if (const std::string notes = frames.takeNotes(); !notes.empty() && !quiet)
            std::cerr << noteLines(notes);
        if (node.hasError())
            throw RenderFailure(framePrefix + node.errorMessage());
        const auto writeStart = std::chrono::steady_clock::now();
        std::vector<std::string> dropped;
        try {
            dropped = output.write(frame, host::frameFromPlanes(planes, format, channels));
        } catch (const Error& e) {
            throw RenderFailure(framePrefix + e.what());
        }
        rendered.writeSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - writeStart).count();
        if (!dropped.empty() && !notedDropped && !quiet) {
            std::string names;
            for (const std::string& name : dropped)
                names += (names.empty() ? "" : ", ") + name;
            std::cerr << noteLine(output.text() + " cannot hold " + names + "; written without");
            notedDropped = true;
        }
        progress.endFrame(output.shownAs(frame));
        ++rendered.frames;
    }
    return rendered;
}

bool fileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

// --skip-existing leaves out the frames whose file is there (writes rename
// complete files into place, so a file that exists is whole); --no-overwrite
// then refuses before any work when a file still to write exists (a video's).
// Returns the frames to render.
std::vector<int> framesToWrite(const RetimeOptions& options, const OutputFrames& output,
                               const std::vector<int>& planned) {
    std::vector<int> frames;
    for (int frame : planned)
        if (!options.skipExisting || !fileExists(output.paths({frame}).front()))
            frames.push_back(frame);
    if (frames.size() < planned.size() && !options.quiet)
        std::cerr << noteLine("--skip-existing: " + std::to_string(planned.size() - frames.size()) +
                              " of " + std::to_string(planned.size()) + " frames exist in " +
                              output.text() + "; rendering the other " +
                              std::to_string(frames.size()));
    if (options.noOverwrite) {
        const std::vector<std::string> paths = output.paths(frames);
        std::vector<std::string> existing;
        std::copy_if(paths.begin(), paths.end(), std::back_inserter(existing), fileExists);
        if (existing.size() == 1 && paths.size() == 1)
            throw Error("--no-overwrite: '" + existing.front() + "' exists");
        if (!existing.empty())
            throw Error("--no-overwrite: " + std::to_string(existing.size()) + " of the " +
                        std::to_string(paths.size()) + " planned output files exist, such as '" +
                        existing.front() + "'");
    }
    return frames;
}

std::string summary(const Rendered& rendered, const OutputFrames& output, const InputFrames& frames,
                    double seconds) {
    char rate[32];
    std::snprintf(rate, sizeof(rate), "%.3g", rendered.frames / std::max(seconds, 1e-9));
    return "wrote " + std::to_string(rendered.frames) +
           (rendered.frames == 1 ? " frame to " : " frames to ") + output.text() + " in " +
           secondsText(seconds) + " (" + rate + " frames/s; " +
           std::to_string(frames.framesDecoded()) + " source frames read, " +
           std::to_string(frames.decodes()) + " decodes; " + secondsText(frames.decodeSeconds()) +
           " reading, " + secondsText(rendered.writeSeconds) + " writing)";
}

}  // namespace

int runRetime(const Args& args) {
    RetimeOptions options = parseOptions(args);
    if (options.help) {
        std::cout << kRetimeUsage << timingOptionsHelp() << kRetimeOptions;
        return kExitOk;
    }
    if (options.listConfigSpaces)
        return listConfigSpaces();
    media::installInterruptCleanup();
    noteVideoOptionsUnused(options);

    Media opened = openMedia(options);
    OutputFrames& output = *opened.output;
    // The node would fill its input range from the clip on its first
    // validation; set now, it maps the very first frame right, so the host
    // decodes no source frame the run does not need.
    if (!options.timing.range)
        options.timing.range = InputRange{opened.frames->firstFrame(), opened.frames->lastFrame()};
    // See Note [Frame numbers relative to the clip].
    const FrameNumbering numbering = FrameNumbering::forTiming(options.timing);
    const TimingOptions nodeTiming =
        withVideoTiming(numbering.toNode(options.timing), opened.frames->frameRate());
    const std::shared_ptr<InputFrames> input = renumbered(std::move(opened.frames), numbering);
    InputFrames& frames = *input;
    // A check prints the range on standard output, which --quiet would close.
    if (!options.check)
        prepareProcess(options);

    // Declared before the session, so that it outlives the node.
    const ConsoleLineFilter inferenceLines(": Running inference for layer '", options.debug);
    Session session(options.pluginPath);
    host::Script& script = session.script();
    host::HostNode& node = buildGraph(session, input, options, nodeTiming);
    if (!options.quiet)
        if (const std::string note = defaultTimingNote(options.timing, node); !note.empty())
            std::cerr << noteLine(note);

    // The published range is the same at every frame. Validating decodes the
    // source frames that frame needs: take one the run renders anyway.
    const auto renderStart = std::chrono::steady_clock::now();
    const int probeFrame = nodeTiming.frames ? nodeTiming.frames->front() : frames.firstFrame();
    if (!script.validate(node, probeFrame)) {
        throwDecodeFailure(frames);
        throw RenderFailure(node.name() + ": " + node.errorMessage());
    }
    const DD::Image::Iop& iop = session.imageOf(node);
    const int first = numbering.toUser(iop.first_frame());
    const int last = numbering.toUser(iop.last_frame());
    const std::vector<int> planned = outputFrames(first, last, options.timing);
    refusePartialVideo(options.output, first, last, planned);
    // Every frame carries the input's channels and format (mismatched input
    // frames were refused); only the box follows the frames.
    const DD::Image::ChannelSet channels = iop.channels();
    const DD::Image::Format format = iop.format();
    refuseToOverwriteInputs(output, planned, frames.paths(), options.input);
    const std::vector<int> outFrames = framesToWrite(options, output, planned);
    media::SourceTiming timing =
        sourceTiming(node, options.timing, numbering, frames, outFrames, opened.outputRate);
    if (timing.unmapped.empty())
        timing.timecode = media::mappedTimecode(opened.sourceTimecode, frames.frameRate(),
                                                timing.sourceStart, opened.outputRate);
    output.setSourceTiming(timing);
    if (options.check) {
        // For scripts: two numbers a shell's `read FIRST LAST` takes as they are.
        std::cout << first << ' ' << last << std::endl;
        return kExitOk;
    }
    if (outFrames.empty()) {
        if (!options.quiet)
            std::cerr << "nothing to do: all " << planned.size() << " frames of " << output.text()
                      << " exist\n";
        return kExitOk;
    }
    output.open(format);
    if (!options.quiet)
        for (const std::string& note : output.notes())
            std::cerr << noteLine(note);
    removeStalePartialsOf(output, outFrames, options.quiet);

    Progress progress(Progress::styleFor(options.quiet), int(outFrames.size()), std::cerr);
    // The node's pass messages ("Interpolating (pass 2/6)") join the display live.
    node.setProgressListener([&progress](const std::string& text) { progress.message(text); });
    const Rendered rendered = renderFrames(script, node, frames, output, outFrames, numbering,
                                           format, channels, progress, options.quiet);
    script.close(node);
    try {
        output.finish();
    } catch (const Error& e) {
        throw RenderFailure(e.what());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - renderStart).count();
    node.setProgressListener({});
    progress.finish(summary(rendered, output, frames, seconds));
    return kExitOk;
}

}  // namespace tweenora::cli
