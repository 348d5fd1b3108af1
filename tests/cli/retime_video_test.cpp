// SPDX-License-Identifier: Apache-2.0
// End-to-end tests: the built tweenora retimes video files, compared with the sequence path.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "media/sequence/image_io.h"
#include "media/video/reader.h"
#include "media/video/writer.h"
#include "tests/media/media_test_support.h"
#include "tests/media/video/video_clips.h"

namespace tweenora::media {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 64, kHeight = 48, kFrames = 6;
// Speed 0.5 over frames 1-6 publishes output frames 1-10.
constexpr int kHalfSpeedFrames = 10;
// Mean differences, in display values (0-1), that ProRes HQ and H.264 at crf
// 18 stay within for the moving pattern.
constexpr double kProresTolerance = 0.004;
constexpr double kH264Tolerance = 0.02;

using testing::difference;
using testing::Difference;
using testing::ToolRun;

class RetimeVideoTest : public testing::ScratchFolderTest {
protected:
    RetimeVideoTest() : ScratchFolderTest("retime_video") {}
    void SetUp() override {
        ScratchFolderTest::SetUp();
        fs::create_directories(folder_ / "out");
    }

    std::string file(const std::string& name) const { return (folder_ / name).string(); }
    std::string out(const std::string& name) const { return (folder_ / "out" / name).string(); }

    ToolRun retime(std::vector<std::string> args) const {
        args.insert(args.begin(), "retime");
        return run(TWEENORA_TOOL, args);
    }

    // The video's frames as float EXRs: the same pictures for the sequence path.
    void writeAsSequence(const std::string& video, const std::string& pattern) {
        VideoFrames frames(video, Colorspace::Auto);
        WriteSettings settings;
        settings.floatData = true;
        settings.layout = frames.header().layout;
        for (int frame = 1; frame <= frames.lastFrame(); ++frame) {
            char name[256];
            std::snprintf(name, sizeof(name), pattern.c_str(), frame);
            writeImage(name, *frames.load(frame), settings);
        }
    }

    std::vector<std::string> outEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_ / "out"))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::string frameFile(const std::string& stem, int frame) {
        char name[64];
        std::snprintf(name, sizeof(name), "%s.%04d.exr", stem.c_str(), frame);
        return name;
    }
};

TEST_F(RetimeVideoTest, SpeedOneProResDiffersNoMoreThanTheCodecsOwnRoundTrip) {
    testing::writeClip(file("a.mov"), kFrames, kWidth, kHeight);
    {
        // The codec's own round trip: a's frames decoded and encoded again.
        VideoFrames source(file("a.mov"), Colorspace::Auto);
        VideoWriter again(file("b.mov"), kWidth, kHeight, {});
        for (int frame = 1; frame <= kFrames; ++frame)
            again.write(*source.load(frame));
        again.finish();
    }
    const ToolRun r = retime({file("a.mov"), out("c.mov"), "--speed", "1", "--cpu"});
    ASSERT_EQ(r.status, 0) << r.err;
    VideoFrames a(file("a.mov"), Colorspace::Auto), b(file("b.mov"), Colorspace::Auto),
        c(out("c.mov"), Colorspace::Auto);
    ASSERT_EQ(c.lastFrame(), kFrames);
    EXPECT_EQ(c.frameRate().value(), 24.0);
    for (int frame = 1; frame <= kFrames; ++frame) {
        SCOPED_TRACE(frame);
        const Difference codec = difference(*a.load(frame), *b.load(frame));
        const Difference tool = difference(*a.load(frame), *c.load(frame));
        EXPECT_LE(tool.largest, codec.largest + 1e-6);
        EXPECT_LE(tool.mean, codec.mean + 1e-7);
        std::printf("frame %d: codec round trip mean %.6f max %.6f; retime mean %.6f max %.6f\n",
                    frame, codec.mean, codec.largest, tool.mean, tool.largest);
    }
}

TEST_F(RetimeVideoTest, ToFpsKeepsTheSourceFramesTheNewRateMeets) {
    struct Row {
        int from, to;
        int frames;                             // output frames for the 6 source frames
        std::vector<std::pair<int, int>> kept;  // output frame, source frame
    };
    const Row rows[] = {
        {30, 60, 12, {{1, 1}, {3, 2}, {5, 3}, {7, 4}, {9, 5}, {11, 6}, {12, 6}}},
        {24, 60, 15, {{1, 1}, {6, 3}, {11, 5}}},
        {25, 30, 8, {{1, 1}, {7, 6}, {8, 6}}},
    };
    for (const Row& row : rows) {
        const std::string name = std::to_string(row.from) + "to" + std::to_string(row.to);
        SCOPED_TRACE(name);
        VideoSettings settings;
        settings.frameRate = FrameRate{row.from, 1};
        testing::writeClip(file(name + ".mov"), kFrames, kWidth, kHeight, settings);
        {
            // The codec's own round trip, to measure the kept frames against.
            VideoFrames source(file(name + ".mov"), Colorspace::Auto);
            VideoWriter again(file(name + "_again.mov"), kWidth, kHeight, settings);
            for (int frame = 1; frame <= kFrames; ++frame)
                again.write(*source.load(frame));
            again.finish();
        }
        const ToolRun r = retime(
            {file(name + ".mov"), out(name + ".mov"), "--to-fps", std::to_string(row.to), "--cpu"});
        ASSERT_EQ(r.status, 0) << r.err;
        VideoFrames source(file(name + ".mov"), Colorspace::Auto),
            again(file(name + "_again.mov"), Colorspace::Auto),
            result(out(name + ".mov"), Colorspace::Auto);
        EXPECT_EQ(result.lastFrame(), row.frames);
        EXPECT_EQ(result.frameRate().value(), double(row.to));
        for (const auto& [output, frame] : row.kept) {
            SCOPED_TRACE("output " + std::to_string(output));
            const Difference codec = difference(*source.load(frame), *again.load(frame));
            const Difference tool = difference(*source.load(frame), *result.load(output));
            EXPECT_LE(tool.mean, codec.mean + 1e-7);
            EXPECT_LE(tool.largest, codec.largest + 1e-6);
        }
        // The plan reads the clip's own rate and frames.
        const ToolRun fromClip = run(TWEENORA_TOOL, {"plan", file(name + ".mov"), "--to-fps",
                                                     std::to_string(row.to), "--json"});
        const ToolRun fromRange =
            run(TWEENORA_TOOL, {"plan", "--range", "1-6", "--from-fps", std::to_string(row.from),
                                "--to-fps", std::to_string(row.to), "--json"});
        ASSERT_EQ(fromClip.status, 0) << fromClip.err;
        EXPECT_EQ(fromClip.out, fromRange.out);
    }
    // A video is written whole: an existing one stops --no-overwrite.
    const ToolRun again =
        retime({file("30to60.mov"), out("30to60.mov"), "--to-fps", "60", "--no-overwrite"});
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.err.find("--no-overwrite: '" + out("30to60.mov") + "' exists"),
              std::string::npos)
        << again.err;
    const ToolRun clash =
        retime({file("30to60.mov"), out("x.mov"), "--to-fps", "60", "--fps", "50"});
    EXPECT_EQ(clash.status, 2);
    EXPECT_NE(clash.err.find("--fps: --to-fps writes the output at its own rate"),
              std::string::npos)
        << clash.err;
}

TEST_F(RetimeVideoTest, VideoInAndOutMatchTheSequencePath) {
    testing::writeClip(file("a.mov"), kFrames, kWidth, kHeight);
    writeAsSequence(file("a.mov"), file("s.%04d.exr"));
    // The sequence path: the same pictures as float EXRs, retimed.
    ToolRun r =
        retime({file("s.####.exr"), out("q.####.exr"), "--speed", "0.5", "--cpu", "--float"});
    ASSERT_EQ(r.status, 0) << r.err;

    // Video in, sequence out: the node sees the same frames, to the bit.
    r = retime({file("a.mov"), out("v.####.exr"), "--speed", "0.5", "--cpu", "--float"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (int frame = 1; frame <= kHalfSpeedFrames; ++frame) {
        SCOPED_TRACE(frame);
        EXPECT_TRUE(readImage(out(frameFile("v", frame)), Colorspace::Auto).planes ==
                    readImage(out(frameFile("q", frame)), Colorspace::Auto).planes);
    }

    // Video out, from video and from the sequence: the sequence path's frames
    // through the codec, at the input's rate or the one asked for.
    struct Row {
        std::string input;
        std::string output;
        std::vector<std::string> extra;
        double fps;
        double tolerance;
    };
    const Row rows[] = {
        {file("a.mov"), out("o.mov"), {}, 24.0, kProresTolerance},
        {file("s.####.exr"), out("o.mp4"), {"--fps", "48", "--range", "1-3"}, 48.0, kH264Tolerance},
        {file("a.mov"),
         out("o.mkv"),
         {"--fps", "30000/1001", "--crf", "12", "--range", "1-3"},
         30000.0 / 1001,
         kH264Tolerance},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output);
        std::vector<std::string> args = {row.input, row.output, "--speed", "0.5", "--cpu"};
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        r = retime(args);
        ASSERT_EQ(r.status, 0) << r.err;
        VideoFrames written(row.output, Colorspace::Auto);
        // Input frames 1-3 publish output frames 1-4, the whole range's first four.
        const bool shorter = row.extra.size() > 2;
        ASSERT_EQ(written.lastFrame(), shorter ? 4 : kHalfSpeedFrames);
        EXPECT_NEAR(written.frameRate().value(), row.fps, 1e-9);
        for (int frame = 1; frame <= written.lastFrame(); ++frame) {
            SCOPED_TRACE(frame);
            const host::ClipFrame expected =
                readImage(out(frameFile("q", frame)), Colorspace::Auto);
            EXPECT_LT(difference(*written.load(frame), expected).mean, row.tolerance);
        }
    }
}

TEST_F(RetimeVideoTest, ChunksOfAVideoGiveTheFramesOfOneRun) {
    VideoSettings settings;
    // Keyframes at 1, 4 and 7, B-frames between.
    settings.keyframeInterval = 3;
    testing::writeClip(file("a.mp4"), 8, kWidth, kHeight, settings);
    ToolRun r = retime({file("a.mp4"), out("w.####.exr"), "--speed", "0.5", "--cpu", "--float"});
    ASSERT_EQ(r.status, 0) << r.err;
    // Each source frame is decoded once: 8 read, 8 decodes.
    EXPECT_NE(r.err.find("8 source frames read, 8 decodes"), std::string::npos) << r.err;
    r = retime({file("a.mp4"), out("c.####.exr"), "--speed", "0.5", "--cpu", "--float", "--frames",
                "9-12"});
    ASSERT_EQ(r.status, 0) << r.err;
    // Output 9-12 show source 5.25-6.75: the chunk reads frames 5-7 only.
    EXPECT_NE(r.err.find("3 source frames read, 3 decodes"), std::string::npos) << r.err;
    for (int frame = 9; frame <= 12; ++frame) {
        SCOPED_TRACE(frame);
        EXPECT_TRUE(readImage(out(frameFile("c", frame)), Colorspace::Auto).planes ==
                    readImage(out(frameFile("w", frame)), Colorspace::Auto).planes);
    }
}

TEST_F(RetimeVideoTest, AVideoOutputHoldsTheWholeOutputRangeOrIsRefused) {
    testing::writeClip(file("a.mov"), kFrames, kWidth, kHeight);
    struct Row {
        std::string frames;
        int status;
    };
    // Speed 1 publishes output frames 1-6; each run of some of them would
    // replace the video with those frames alone.
    const Row rows[] = {{"5,1,3", 2}, {"1-5", 2}, {"2-6", 2}, {"1-6", 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.frames);
        fs::remove_all(folder_ / "out");
        fs::create_directories(folder_ / "out");
        const ToolRun r =
            retime({file("a.mov"), out("r.mov"), "--speed", "1", "--cpu", "--frames", row.frames});
        EXPECT_EQ(r.status, row.status) << r.err;
        if (row.status == 0) {
            EXPECT_EQ(VideoFrames(out("r.mov"), Colorspace::Auto).lastFrame(), kFrames);
            continue;
        }
        EXPECT_NE(r.err.find("a video output holds the whole output range 1-6"), std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("render the chunks to an image sequence"), std::string::npos) << r.err;
        EXPECT_TRUE(outEntries().empty());
    }
}

TEST_F(RetimeVideoTest, BadInputExitsWithStatusTwoNamingTheFileAndLeavesNoOutput) {
    std::ofstream(file("notes.mov")) << "not a video at all\n";
    testing::writeWav(file("sound.wav"));
    testing::writeClip(file("odd.mkv"), 3, kWidth, kHeight);
    testing::patchBytes(file("odd.mkv"), "V_MPEG4/ISO/AVC", "V_MPEG4/ISO/ZZZ");
    VideoSettings intra;
    intra.keyframeInterval = 1;
    testing::writeClip(file("cut.mp4"), 40, kWidth, kHeight, intra);
    fs::resize_file(file("cut.mp4"), fs::file_size(file("cut.mp4")) * 6 / 10);
    struct Row {
        std::string name;
        std::string message;
    };
    const Row rows[] = {
        {"notes.mov", "not a video"},
        {"sound.wav", "holds no video stream"},
        {"odd.mkv", "its video codec is not supported"},
        {"cut.mp4", "damaged or truncated: frame "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Speed 1 passes frames through: the truncated clip reaches its damage quickly.
        const ToolRun r = retime({file(row.name), out("r.mov"), "--speed", "1", "--cpu"});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("tweenora: error: '" + file(row.name) + "': " + row.message),
                  std::string::npos)
            << r.err;
        EXPECT_TRUE(outEntries().empty());
    }
}

TEST_F(RetimeVideoTest, FailedRenderLeavesNoVideo) {
    testing::writeClip(file("a.mov"), kFrames, kWidth, kHeight);
    const ToolRun r = retime({file("a.mov"), out("r.mov"), "--speed", "0.5", "--cpu",
                              "--plugin-path", TWEENORA_NAN_PLUGIN_DIR});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(outEntries().empty());
}

TEST_F(RetimeVideoTest, VideoHoldsColourOnlyAndSaysSo) {
    // An RGBA sequence with an alpha that is not 1: the video gets R, G, B.
    testing::writeClip(file("a.mov"), 3, kWidth, kHeight);
    VideoFrames source(file("a.mov"), Colorspace::Auto);
    WriteSettings settings;
    settings.floatData = true;
    for (int frame = 1; frame <= 3; ++frame) {
        host::ClipFrame rgba = *source.load(frame);
        rgba.planes[DD::Image::Chan_Alpha].assign(size_t(kWidth) * kHeight, 0.5f);
        writeImage(file(frameFile("s", frame)), rgba, settings);
    }
    const ToolRun r = retime({file("s.####.exr"), out("r.mov"), "--speed", "1", "--cpu"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("cannot hold rgba.alpha; written without"), std::string::npos) << r.err;
    VideoFrames written(out("r.mov"), Colorspace::Auto);
    EXPECT_EQ(written.header().channels, DD::Image::Mask_RGB);
    // Colour is carried as it is, not divided or multiplied by alpha.
    EXPECT_LT(difference(*written.load(2), *source.load(2)).mean, kProresTolerance);
}

// A clip trimmed by an edit list, as ffmpeg trims without re-encoding: the
// tool retimes the frames a player shows, all of them, to the end.
TEST_F(RetimeVideoTest, TrimmedClipIsRetimedToItsLastShownFrame) {
    if (std::system("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null") != 0)
        GTEST_SKIP() << "needs the ffmpeg and ffprobe programs to trim a clip by an edit list";
    VideoSettings settings;
    settings.keyframeInterval = 12;
    testing::writeClip(file("num.mp4"), 48, kWidth, kHeight, settings);
    const std::string folder = testing::quoted(folder_.string());
    const ToolRun trimmed = testing::runShell(
        "cd " + folder + " && ffmpeg -v error -y -ss 0.3 -i num.mp4 -c copy -t 1 numel.mp4", folder_);
    ASSERT_EQ(trimmed.status, 0) << trimmed.err;
    const ToolRun probed = testing::runShell(
        "ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames "
        "-of csv=p=0 " +
            testing::quoted(file("numel.mp4")),
        folder_);
    ASSERT_EQ(probed.status, 0) << probed.err;
    const int shown = std::stoi(probed.out);
    const ToolRun r =
        retime({file("numel.mp4"), out("r.####.png"), "--speed", "1", "--cpu", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(int(outEntries().size()), shown);
}

}  // namespace
}  // namespace tweenora::media
