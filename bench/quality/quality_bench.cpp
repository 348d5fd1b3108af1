// SPDX-License-Identifier: Apache-2.0
// tweenora_bench_quality: in-between frames of real footage through the real
// plug-in in the headless host, scored against the true middle frames, next to
// plain averaging (and ffmpeg's minterpolate when asked); and the node's speed
// on a 1920 x 1080 pair next to ffmpeg's on the same pair.
//
// Quality: every case folder under --data holds frame10.png, frame11.png and
// the middle frame frame10i11.png, or im1.png, im2.png (the middle) and
// im3.png. The 8-bit files are sRGB: they are linearised on the way in and
// encoded on the way out, as `tweenora retime` does with them. The node
// renders t = 0.5 with its default knobs or those given with --knob. Scores are
// over 8-bit RGB: PSNR with peak 255, and IE, the mean absolute difference over
// the three channels, as the frame interpolation literature reports it; and
// tile, the IE of the worst 1 % of 16 x 16 tiles, which sees the local
// failures (fragments of a moving object left behind) that means dilute.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <ATen/Parallel.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include <DDImage/Channel.h>
#include <DDImage/ChannelSet.h>
#include <DDImage/ImagePlane.h>

#include "examples/footage_score.h"
#include "host/Clip.h"
#include "host/Error.h"
#include "host/PluginLoader.h"
#include "host/Script.h"
#include "host/plane_copy.h"
#include "host/render_process.h"
#include "media/sequence/image_io.h"

namespace {

namespace fs = std::filesystem;
using tweenora::Error;
using tweenora::host::ClipFrame;

const char* const kUsage =
    "usage: tweenora_bench_quality [options]\n"
    "  --data DIR          footage: set folders of case folders (default " TWEENORA_FOOTAGE_DIR
    ");\n"
    "                      repeatable, the sets of every folder in turn\n"
    "  --sets A,B          only these set folders\n"
    "  --out DIR           keep the in-between frames, DIR/<set>/<case>.png\n"
    "  --knob NAME=VALUE   a knob of the node (repeatable): steps=3, flow_magnitude=high,\n"
    "                      downscale=0.5, ...\n"
    "  --threads N         libtorch threads (default: the usable cores)\n"
    "  --ffmpeg            also score ffmpeg's minterpolate on every case\n"
    "  --speed             time one in-between frame of a pair scaled to --size, the\n"
    "                      node (downscale 1.0 and 0.5) next to ffmpeg's minterpolate\n"
    "  --speed-only        the speed part alone\n"
    "  --size WxH          frame size for --speed (default 1920x1080)\n"
    "  --work DIR          scratch folder for --speed and --ffmpeg (default bench-quality)\n"
    "  --plugin-path DIR   where Tweenora.so and TweenoraModels.so are (default: the build's)\n";

// The filter ffmpeg's reference figures were measured with.
const char* const kMinterpolate =
    "minterpolate=fps=2:mi_mode=mci:mc_mode=aobmc:me_mode=bidir:vsbmc=1";

struct Options {
    std::vector<fs::path> data;  // empty: the default footage
    std::vector<std::string> sets;
    std::optional<fs::path> out;
    std::vector<std::pair<std::string, std::string>> knobs;
    int threads = 0;
    bool ffmpeg = false;
    bool speed = false;
    bool quality = true;
    int width = 1920;
    int height = 1080;
    fs::path work = "bench-quality";
    std::vector<std::string> pluginPath;
};

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty())
            items.push_back(item);
    return items;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw Error(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--data") {
            options.data.push_back(value());
        } else if (arg == "--sets") {
            options.sets = splitList(value());
        } else if (arg == "--out") {
            options.out = fs::path(value());
        } else if (arg == "--knob") {
            const std::string setting = value();
            const size_t eq = setting.find('=');
            if (eq == std::string::npos || eq == 0)
                throw Error("--knob wants NAME=VALUE, not '" + setting + "'");
            options.knobs.emplace_back(setting.substr(0, eq), setting.substr(eq + 1));
        } else if (arg == "--threads") {
            options.threads = std::stoi(value());
        } else if (arg == "--ffmpeg") {
            options.ffmpeg = true;
        } else if (arg == "--speed") {
            options.speed = true;
        } else if (arg == "--speed-only") {
            options.speed = true;
            options.quality = false;
        } else if (arg == "--size") {
            const std::string size = value();
            if (std::sscanf(size.c_str(), "%dx%d", &options.width, &options.height) != 2 ||
                options.width < 32 || options.height < 32)
                throw Error("--size wants WxH, not '" + size + "'");
        } else if (arg == "--work") {
            options.work = value();
        } else if (arg == "--plugin-path") {
            options.pluginPath.push_back(value());
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        } else {
            throw Error("unknown option '" + arg + "'\n" + kUsage);
        }
    }
    if (options.data.empty())
        options.data.push_back(TWEENORA_FOOTAGE_DIR);
    return options;
}

// --- Images as 8-bit sRGB, the scale the scores use ------------------------

using tweenora::examples::averaged;
using tweenora::examples::Rgb8;
using tweenora::examples::score;
using tweenora::examples::Score;
using tweenora::examples::worstTileError;

const DD::Image::Channel kRgb[3] = {DD::Image::Chan_Red, DD::Image::Chan_Green,
                                    DD::Image::Chan_Blue};

unsigned char encode8(float linear) {
    const float v = tweenora::media::linearToSrgb(std::clamp(linear, 0.0f, 1.0f));
    return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
}

Rgb8 toRgb8(const ClipFrame& frame) {
    Rgb8 image{frame.box.w(), frame.box.h(), {}};
    image.values.resize(size_t(image.width) * image.height * 3);
    for (int c = 0; c < 3; ++c) {
        const std::vector<float>& plane = frame.planes.at(kRgb[c]);
        for (size_t i = 0; i < plane.size(); ++i)
            image.values[i * 3 + size_t(c)] = encode8(plane[i]);
    }
    return image;
}

// --- The node --------------------------------------------------------------

// One node for the whole run, so the network loads once; each pair gets its
// own source node, connected in turn.
class Interpolator {
public:
    Interpolator(const Options& options) : loader_(options.pluginPath) {
        loader_.load("Tweenora.so");
        node_ = &script_.createNode("Tweenora", "Tweenora1");
        // Frame mode, the source position held at 1.5: t = 0.5 between 1 and 2.
        node_->setKnob("mode", "1");
        node_->setKnob("output_frame", "1.5");
        node_->setKnob("input_channels", "rgb");
        for (const auto& [name, value] : options.knobs)
            node_->setKnob(name, value);
    }

    void setKnob(const std::string& name, const std::string& value) { node_->setKnob(name, value); }

    //! Makes a and b (linear light) frames 1 and 2 of a new source node feeding the node.
    void setPair(ClipFrame a, ClipFrame b) {
        like_.box = a.box;
        like_.format = a.format;
        auto frames = std::make_shared<tweenora::host::MemoryFrames>();
        frames->setFrame(1, std::move(a));
        frames->setFrame(2, std::move(b));
        tweenora::host::HostNode& source = script_.createSource(
            std::make_shared<tweenora::host::Clip>(frames), "Read" + std::to_string(++sources_));
        script_.connect(*node_, 0, source);
    }

    //! The in-between frame of the pair (linear light), and the render's seconds.
    std::pair<ClipFrame, double> render() {
        // The node's own console lines would break up the table.
        std::fflush(stdout);
        const int saved = ::dup(STDOUT_FILENO);
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDOUT_FILENO);
        const auto start = std::chrono::steady_clock::now();
        std::vector<DD::Image::ImagePlane> planes;
        try {
            planes = script_.render(*node_, 1.0, DD::Image::Mask_RGB);
        } catch (...) {
            restoreStdout(saved, devNull);
            throw;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        restoreStdout(saved, devNull);
        if (node_->hasError())
            throw Error("the node failed: " + node_->errorMessage());
        return {framesFromPlanes(planes, like_), seconds};
    }

private:
    static void restoreStdout(int saved, int devNull) {
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
        ::close(devNull);
    }

    static ClipFrame framesFromPlanes(const std::vector<DD::Image::ImagePlane>& planes,
                                      const ClipFrame& like) {
        ClipFrame frame = tweenora::host::frameFromPlanes(planes, like.format, DD::Image::Mask_RGB);
        for (DD::Image::Channel z : kRgb)
            if (!frame.planes.count(z))
                throw Error("the node returned no " + std::string(DD::Image::getName(z)));
        return frame;
    }

    tweenora::host::PluginLoader loader_;
    tweenora::host::Script script_;
    tweenora::host::HostNode* node_ = nullptr;
    int sources_ = 0;
    ClipFrame like_;  // box and format of the pair, without its pixels
};

// --- ffmpeg ----------------------------------------------------------------

bool haveFfmpeg() {
    return std::system("ffmpeg -version > /dev/null 2>&1") == 0;
}

// minterpolate's middle frame of a and b: the pair fed at 1 frame/s as three
// frames (b repeated), converted to 2 frames/s; the second output frame.
// Returns the seconds the command took.
double ffmpegMiddle(const fs::path& a, const fs::path& b, const fs::path& dir,
                    const fs::path& result) {
    fs::create_directories(dir);
    fs::copy_file(a, dir / "in1.png", fs::copy_options::overwrite_existing);
    fs::copy_file(b, dir / "in2.png", fs::copy_options::overwrite_existing);
    fs::copy_file(b, dir / "in3.png", fs::copy_options::overwrite_existing);
    const std::string command = "ffmpeg -y -loglevel error -framerate 1 -i '" +
                                (dir / "in%d.png").string() + "' -vf " + kMinterpolate +
                                " -start_number 1 '" + (dir / "out%d.png").string() + "'";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0 || !fs::exists(dir / "out2.png"))
        throw Error("ffmpeg failed: " + command);
    fs::create_directories(result.parent_path());
    fs::rename(dir / "out2.png", result);
    return seconds;
}

// --- Footage ---------------------------------------------------------------

struct Case {
    std::string name;
    fs::path first, middle, last;
};

std::optional<Case> caseIn(const fs::path& dir) {
    const std::string name = dir.filename().string();
    if (fs::exists(dir / "frame10.png") && fs::exists(dir / "frame11.png") &&
        fs::exists(dir / "frame10i11.png"))
        return Case{name, dir / "frame10.png", dir / "frame10i11.png", dir / "frame11.png"};
    if (fs::exists(dir / "im1.png") && fs::exists(dir / "im2.png") && fs::exists(dir / "im3.png"))
        return Case{name, dir / "im1.png", dir / "im2.png", dir / "im3.png"};
    return std::nullopt;
}

std::vector<fs::path> sortedFolders(const fs::path& dir) {
    std::vector<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_directory())
            folders.push_back(entry.path());
    std::sort(folders.begin(), folders.end());
    return folders;
}

using Sets = std::vector<std::pair<std::string, std::vector<Case>>>;

// Set name -> its cases. A --data folder that holds cases itself is one set.
void addSets(const Options& options, const fs::path& data, Sets& sets) {
    if (!fs::is_directory(data))
        throw Error("no footage folder at " + data.string());
    std::vector<Case> direct;
    for (const fs::path& folder : sortedFolders(data)) {
        if (auto c = caseIn(folder)) {
            direct.push_back(*c);
            continue;
        }
        const std::string name = folder.filename().string();
        if (!options.sets.empty() &&
            std::find(options.sets.begin(), options.sets.end(), name) == options.sets.end())
            continue;
        std::vector<Case> cases;
        for (const fs::path& sub : sortedFolders(folder))
            if (auto c = caseIn(sub))
                cases.push_back(*c);
        if (!cases.empty())
            sets.emplace_back(name, std::move(cases));
    }
    if (!direct.empty())
        sets.emplace_back(data.filename().string(), std::move(direct));
}

Sets findSets(const Options& options) {
    Sets sets;
    for (const fs::path& data : options.data)
        addSets(options, data, sets);
    if (sets.empty())
        throw Error("no cases under the --data folders");
    return sets;
}

ClipFrame readSrgb(const fs::path& file) {
    return tweenora::media::readImage(file.string(), tweenora::media::Colorspace::Srgb);
}

void writeSrgb(const fs::path& file, const ClipFrame& frame) {
    fs::create_directories(file.parent_path());
    tweenora::media::WriteSettings settings;
    settings.colorspace = tweenora::media::Colorspace::Srgb;
    settings.inputType = tweenora::media::SampleType::UInt8;
    tweenora::media::writeImage(file.string(), frame, settings);
}

struct Tally {
    int cases = 0;
    // tile: worstTileError's figure.
    double psnr = 0, ie = 0, tile = 0, seconds = 0, averagePsnr = 0, averageIe = 0, averageTile = 0,
           ffmpegPsnr = 0, ffmpegIe = 0, ffmpegTile = 0;
    int ffmpegCases = 0;
    // The case furthest below ffmpeg (PSNR ours minus theirs), with ffmpeg.
    double worstGap = 1e30;
    std::string worstCase;
    void add(const Tally& other) {
        cases += other.cases;
        psnr += other.psnr;
        ie += other.ie;
        tile += other.tile;
        seconds += other.seconds;
        averagePsnr += other.averagePsnr;
        averageIe += other.averageIe;
        averageTile += other.averageTile;
        ffmpegPsnr += other.ffmpegPsnr;
        ffmpegIe += other.ffmpegIe;
        ffmpegTile += other.ffmpegTile;
        ffmpegCases += other.ffmpegCases;
        if (other.worstGap < worstGap) {
            worstGap = other.worstGap;
            worstCase = other.worstCase;
        }
    }
};

void printRow(const std::string& label, const Tally& t) {
    const double n = std::max(1, t.cases);
    std::printf("%-22s %5d  %7.2f  %5.2f  %5.1f  %7.3f   %7.2f  %5.2f  %5.1f", label.c_str(),
                t.cases, t.psnr / n, t.ie / n, t.tile / n, t.seconds / n, t.averagePsnr / n,
                t.averageIe / n, t.averageTile / n);
    if (t.ffmpegCases > 0) {
        const double m = t.ffmpegCases;
        std::printf("   %7.2f  %5.2f  %5.1f  %+6.2f", t.ffmpegPsnr / m, t.ffmpegIe / m,
                    t.ffmpegTile / m, t.psnr / n - t.ffmpegPsnr / m);
    }
    if (t.cases > 1 && t.ffmpegCases > 0)
        std::printf("  worst %+.2f (%s)", t.worstGap, t.worstCase.c_str());
    std::printf("\n");
}

void runQuality(const Options& options, Interpolator& node) {
    const bool ffmpeg = options.ffmpeg && haveFfmpeg();
    if (options.ffmpeg && !ffmpeg)
        std::printf("ffmpeg not found: run bench/quality/setup.sh (or leave out --ffmpeg)\n");
    std::printf("%-22s %5s  %7s  %5s  %5s  %7s   %7s  %5s  %5s%s\n", "set / case", "cases", "PSNR",
                "IE", "tile", "s/frame", "avg PSNR", "IE", "tile",
                ffmpeg ? "   ffmpeg PSNR  IE    tile  ours-ff" : "");
    Tally overall;
    for (const auto& [set, cases] : findSets(options)) {
        Tally tally;
        for (const Case& c : cases) {
            ClipFrame a = readSrgb(c.first);
            ClipFrame b = readSrgb(c.last);
            const Rgb8 truth = toRgb8(readSrgb(c.middle));
            const Rgb8 average = averaged(toRgb8(a), toRgb8(b));
            const Score averageScore = score(average, truth);
            node.setPair(std::move(a), std::move(b));
            const auto [result, seconds] = node.render();
            const Rgb8 ours8 = toRgb8(result);
            const Score ours = score(ours8, truth);
            Tally row;
            row.cases = 1;
            row.psnr = ours.psnr;
            row.ie = ours.ie;
            row.tile = worstTileError(ours8, truth);
            row.seconds = seconds;
            row.averagePsnr = averageScore.psnr;
            row.averageIe = averageScore.ie;
            row.averageTile = worstTileError(average, truth);
            if (ffmpeg) {
                const fs::path file = options.work / "ffmpeg" / (set + "-" + c.name + ".png");
                ffmpegMiddle(c.first, c.last, options.work / "ffmpeg-run", file);
                const Rgb8 theirs8 = toRgb8(readSrgb(file));
                const Score theirs = score(theirs8, truth);
                row.ffmpegPsnr = theirs.psnr;
                row.ffmpegIe = theirs.ie;
                row.ffmpegTile = worstTileError(theirs8, truth);
                row.ffmpegCases = 1;
                row.worstGap = ours.psnr - theirs.psnr;
                row.worstCase = c.name;
            }
            printRow("  " + c.name, row);
            if (options.out)
                writeSrgb(*options.out / set / (c.name + ".png"), result);
            tally.add(row);
        }
        printRow(set, tally);
        overall.add(tally);
    }
    printRow("overall", overall);
}

// --- Speed -----------------------------------------------------------------

double peakResidentMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// A real pair scaled to the benchmark size: the first case of the footage.
std::pair<fs::path, fs::path> speedPair(const Options& options) {
    const auto sets = findSets(options);
    const Case& c = sets.front().second.front();
    fs::create_directories(options.work);
    std::pair<fs::path, fs::path> files{options.work / "speed-a.png", options.work / "speed-b.png"};
    const OIIO::ROI size(0, options.width, 0, options.height, 0, 1, 0, 3);
    for (auto [from, to] : {std::pair{c.first, files.first}, std::pair{c.last, files.second}}) {
        OIIO::ImageBuf scaled =
            OIIO::ImageBufAlgo::resize(OIIO::ImageBuf(from.string()), "", 0, size);
        if (scaled.has_error() || !scaled.write(to.string()))
            throw Error("cannot scale " + from.string() + " to " + to.string());
    }
    std::printf("speed pair: %s (%s) scaled to %dx%d\n", c.name.c_str(), sets.front().first.c_str(),
                options.width, options.height);
    return files;
}

void runSpeed(const Options& options, Interpolator& node) {
    const auto [fileA, fileB] = speedPair(options);
    node.setPair(readSrgb(fileA), readSrgb(fileB));
    // The first render also loads the network; it is not timed.
    node.render();
    auto best = [&](const std::string& downscale) {
        node.setKnob("downscale", downscale);
        double seconds = 1e30;
        for (int i = 0; i < 3; ++i)
            seconds = std::min(seconds, node.render().second);
        return seconds;
    };
    const double full = best("1.0");
    const double half = best("0.5");
    std::printf("Tweenora, downscale 1.0   %7.3f s per in-between frame (best of 3)\n", full);
    std::printf("Tweenora, downscale 0.5   %7.3f s  (%.2fx faster)\n", half, full / half);
    if (haveFfmpeg()) {
        double seconds = 1e30;
        for (int i = 0; i < 3; ++i)
            seconds = std::min(seconds, ffmpegMiddle(fileA, fileB, options.work / "ffmpeg-speed",
                                                     options.work / "ffmpeg-middle.png"));
        std::printf(
            "ffmpeg minterpolate       %7.3f s  (whole command: decode 3 frames, "
            "interpolate, encode 5; best of 3)\n",
            seconds);
    } else {
        std::printf("ffmpeg minterpolate       not installed: run bench/quality/setup.sh\n");
    }
    std::printf(
        "peak resident memory      %7.0f MB (this process: the network, the host's frames\n"
        "                                  and the benchmark's own copies)\n",
        peakResidentMegabytes());
}

int usableThreads(const Options& options) {
    return options.threads > 0 ? options.threads : tweenora::host::usableCores();
}

}  // namespace

int main(int argc, char** argv) {
    // As the tool does, so that the times are the tool's.
    tweenora::host::keepFreedMemory();
    try {
        const Options options = parseOptions(argc, argv);
        at::set_num_threads(usableThreads(options));
        std::printf("libtorch threads: %d\n", at::get_num_threads());
        Interpolator node(options);
        if (options.quality)
            runQuality(options, node);
        if (options.speed)
            runSpeed(options, node);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tweenora_bench_quality: %s\n", e.what());
        return 1;
    }
    return 0;
}
