// SPDX-License-Identifier: Apache-2.0
// tweenora_bench_retime: times `tweenora retime` on a 1920 x 1080 RGBA sample clip
// at speed 0.5 with one and two threads, and splits the time between the
// network's forward calls, image files and the rest of our pipeline. The same
// clip as a ProRes video, retimed into ProRes, gives what decoding and
// encoding video add to a frame's time, and the clip with a sine audio track
// beside it (made with ffmpeg, where installed), retimed with --audio retime,
// what re-timing audio adds; as ProRes 4444 with alpha, what alpha adds. Last,
// the same EXR clip retimed with --factor 2 against --speed 0.5: about twice
// the frames either way, but --factor keeps every source frame, so it should
// cost about half the network's work.
//
// Each run renders on the CPU with --debug, which makes the node print the
// duration of every forward call; the tool's closing line gives the render
// loop's time and the time spent reading and writing files. Everything else in
// the loop (host, tensor conversion, PU21, padding, copies) is "pipeline".
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* const kUsage =
    "usage: tweenora_bench_retime [--work DIR] [--frames N] [--size WxH] [--output-frames LIST]\n"
    "                             [--threads LIST] [--only threads|timing]\n"
    "  --work DIR            where the clip and the results go (default bench-retime)\n"
    "  --frames N            source frames (default 24)\n"
    "  --size WxH            frame size (default 1920x1080)\n"
    "  --output-frames LIST  render only these output frames (default all)\n"
    "  --threads LIST        thread counts to time, comma-separated (default 1,2)\n"
    "  --only WHAT           only the thread and file table, or only the timing\n"
    "                        comparison (at the first thread count)\n";

std::string slurp(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int runCommand(const std::string& command) {
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128;
}

struct Timing {
    int frames = 0;
    double loopSeconds = 0.0;
    double readSeconds = 0.0;
    double writeSeconds = 0.0;
    double forwardSeconds = 0.0;
    int forwardCalls = 0;
};

Timing parse(const std::string& out, const std::string& err) {
    Timing timing;
    const std::regex summary(
        R"(wrote (\d+) frames? to .* in ([0-9.]+) s \(.*; ([0-9.]+) s reading, ([0-9.]+) s writing\))");
    std::smatch m;
    if (!std::regex_search(err, m, summary))
        throw std::runtime_error("no summary line from tweenora:\n" + err);
    timing.frames = std::stoi(m[1]);
    timing.loopSeconds = std::stod(m[2]);
    timing.readSeconds = std::stod(m[3]);
    timing.writeSeconds = std::stod(m[4]);
    const std::regex forward(R"(Inference time \(forward\): (\d+)ms)");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), forward);
         it != std::sregex_iterator(); ++it) {
        timing.forwardSeconds += std::stod((*it)[1]) / 1000.0;
        ++timing.forwardCalls;
    }
    return timing;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path work = "bench-retime";
    std::string frames = "24", size = "1920x1080", outputFrames, threadList = "1,2", only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            std::cerr << kUsage;
            return 2;
        }
        if (arg == "--work")
            work = argv[++i];
        else if (arg == "--frames")
            frames = argv[++i];
        else if (arg == "--size")
            size = argv[++i];
        else if (arg == "--output-frames")
            outputFrames = argv[++i];
        else if (arg == "--threads")
            threadList = argv[++i];
        else if (arg == "--only" &&
                 (std::string(argv[i + 1]) == "threads" || std::string(argv[i + 1]) == "timing"))
            only = argv[++i];
        else {
            std::cerr << kUsage;
            return 2;
        }
    }
    try {
        const fs::path clip = work / "clip" / "bench.####.exr";
        if (runCommand(std::string(TWEENORA_SAMPLE_TOOL) + " clip '" + clip.string() +
                       "' --frames 1-" + frames + " --size " + size + " --no-depth") != 0)
            throw std::runtime_error("the sample clip could not be made");

        // The same pictures as a ProRes clip; a speed-1 retime returns them as they are.
        const fs::path video = work / "clip.mov";
        if (runCommand(std::string(TWEENORA_TOOL) + " retime '" + clip.string() + "' '" +
                       video.string() + "' --speed 1 --cpu --quiet") != 0)
            throw std::runtime_error("the ProRes clip could not be made");
        // The same clip as ProRes 4444 with (opaque) alpha, which is decoded,
        // interpolated and written back.
        const fs::path withAlpha = work / "clip-alpha.mov";
        const bool alpha =
            runCommand("ffmpeg -hide_banner -loglevel error -y -i '" + video.string() +
                       "' -vf format=yuva444p10le -c:v prores_ks -profile:v 4444 '" +
                       withAlpha.string() + "'") == 0;
        // The same clip with 48 kHz stereo PCM beside it.
        const fs::path withAudio = work / "clip-audio.mov";
        const bool audio =
            runCommand("ffmpeg -hide_banner -loglevel error -y -i '" + video.string() +
                       "' -f lavfi -i sine=f=440:r=48000 -ac 2 -map 0:v -map 1:a -c:v copy "
                       "-c:a pcm_s16le -shortest '" +
                       withAudio.string() + "'") == 0;

        // One retime of input into output with timing; its row of the table.
        auto timed = [&](const std::string& threads, const std::string& timing,
                         const fs::path& input, const std::string& output,
                         const std::string& label) {
            std::string stem = "t" + threads + "-" + fs::path(output).stem().string() +
                               fs::path(output).extension().string();
            if (timing.find("--factor") != std::string::npos)
                stem += "-factor";
            const fs::path log = work / (stem + ".out"), errLog = work / (stem + ".err");
            std::string command = std::string(TWEENORA_TOOL) + " retime '" + input.string() +
                                  "' '" + (work / stem / output).string() + "' " + timing +
                                  " --cpu --debug --threads " + threads;
            if (!outputFrames.empty())
                command += " --frames " + outputFrames;
            command += " >'" + log.string() + "' 2>'" + errLog.string() + "'";
            if (runCommand(command) != 0)
                throw std::runtime_error("tweenora failed:\n" + slurp(errLog));
            const Timing t = parse(slurp(log), slurp(errLog));
            const double io = t.readSeconds + t.writeSeconds;
            const double pipeline = t.loopSeconds - t.forwardSeconds - io;
            std::printf("%8s %-22s %7d %9.2f %8.3f %8.1f%% %8.1f%% %8.1f%%\n", threads.c_str(),
                        label.c_str(), t.frames, t.loopSeconds, t.frames / t.loopSeconds,
                        100.0 * t.forwardSeconds / t.loopSeconds, 100.0 * io / t.loopSeconds,
                        100.0 * pipeline / t.loopSeconds);
            std::fflush(stdout);
            return t;
        };
        const char* const kHeader = "%8s %-22s %7s %9s %8s %9s %9s %9s\n";
        std::stringstream list(threadList);
        std::string firstThreads;
        std::getline(std::stringstream(threadList), firstThreads, ',');
        if (only != "timing")
            std::printf("retime of %s source frames, %s, speed 0.5, CPU\n", frames.c_str(),
                        size.c_str());
        if (only != "timing")
            std::printf(kHeader, "threads", "files", "frames", "seconds", "fps", "forward",
                        "file io", "pipeline");
        for (std::string threads; only != "timing" && std::getline(list, threads, ',');) {
            const Timing exr =
                timed(threads, "--speed 0.5", clip, "out.####.exr", "EXR half in and out");
            const Timing prores =
                timed(threads, "--speed 0.5", video, "out.mov", "ProRes HQ in and out");
            // Decoding and encoding against the frame's time without any file work.
            const double videoIo = (prores.readSeconds + prores.writeSeconds) / prores.frames;
            const double bare = (prores.loopSeconds / prores.frames) - videoIo;
            const double exrIo = (exr.readSeconds + exr.writeSeconds) / exr.frames;
            std::printf(
                "%8s video decoding and encoding: %.3f s a frame, %.2f%% of the frame's "
                "time without file io (EXR reading and writing: %.3f s, %.2f%%)\n",
                threads.c_str(), videoIo, 100.0 * videoIo / bare, exrIo, 100.0 * exrIo / bare);
            if (alpha) {
                const Timing rgba = timed(threads, "--speed 0.5", withAlpha, "out-alpha.mov",
                                          "ProRes 4444 + alpha");
                std::printf(
                    "%8s alpha decoded, interpolated and written: %.2fx the loop's time "
                    "of ProRes HQ, %.2fx its reading and writing\n",
                    threads.c_str(), rgba.loopSeconds / prores.loopSeconds,
                    (rgba.readSeconds + rgba.writeSeconds) /
                        std::max(prores.readSeconds + prores.writeSeconds, 1e-9));
            }
            if (audio) {
                const Timing sound = timed(threads, "--speed 0.5 --audio retime", withAudio,
                                           "out-audio.mov", "ProRes + audio retimed");
                // Audio is read and written inside the video's writing.
                std::printf(
                    "%8s audio re-timed with the video: %.2fx the loop's time, %.2fx "
                    "the writing's\n",
                    threads.c_str(), sound.loopSeconds / prores.loopSeconds,
                    sound.writeSeconds / std::max(prores.writeSeconds, 1e-9));
            }
        }
        if (only != "threads") {
            std::printf("\ninterpolation work of %s source frames, %s, EXR, CPU, %s threads\n",
                        frames.c_str(), size.c_str(), firstThreads.c_str());
            std::printf(kHeader, "threads", "timing", "frames", "seconds", "fps", "forward",
                        "file io", "pipeline");
            const Timing speed =
                timed(firstThreads, "--speed 0.5", clip, "out.####.exr", "--speed 0.5");
            const Timing factor =
                timed(firstThreads, "--factor 2", clip, "out.####.exr", "--factor 2");
            std::printf(
                "--factor 2 / --speed 0.5: %d / %d forward calls (%.2f), %.2f / %.2f s "
                "in the network (%.2f), %.2f / %.2f s in all (%.2f)\n",
                factor.forwardCalls, speed.forwardCalls,
                double(factor.forwardCalls) / std::max(speed.forwardCalls, 1),
                factor.forwardSeconds, speed.forwardSeconds,
                factor.forwardSeconds / speed.forwardSeconds, factor.loopSeconds, speed.loopSeconds,
                factor.loopSeconds / speed.loopSeconds);
        }
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "tweenora_bench_retime: " << e.what() << "\n";
        return 1;
    }
}
