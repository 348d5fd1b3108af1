// SPDX-License-Identifier: Apache-2.0
// Video files both ways: clips written and read back, seeking, refused and damaged files.
#include "media/video/reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/Error.h"
#include "media/video/writer.h"
#include "tests/media/media_test_support.h"
#include "tests/media/video/video_clips.h"

namespace tweenora::media {
namespace {

namespace fs = std::filesystem;
using testing::Difference;
using testing::difference;
using testing::movingPattern;
using testing::writeClip;

constexpr int kWidth = 64, kHeight = 48;

class VideoFilesTest : public testing::ScratchFolderTest {
protected:
    VideoFilesTest() : ScratchFolderTest("video") {}
    std::string file(const std::string& name) const { return (folder_ / name).string(); }
    // Runs the ffmpeg program (or ffprobe) with args; its standard output.
    std::string ffmpeg(const std::string& program, const std::string& args) const {
        const testing::ToolRun run = testing::runShell(
            "cd " + testing::quoted(folder_.string()) + " && " + program + " -v error " + args,
            folder_);
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    }
    static bool haveFfmpeg() {
        return std::system("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null") == 0;
    }
    // Which frame of movingPattern (1..count) frame shows.
    static int patternFrameOf(const host::ClipFrame& frame, int width, int count) {
        int best = 0;
        double smallest = 1e9;
        for (int candidate = 1; candidate <= count; ++candidate) {
            const double mean = difference(frame, movingPattern(width, kHeight, candidate)).mean;
            if (mean < smallest) {
                smallest = mean;
                best = candidate;
            }
        }
        return best;
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(VideoFilesTest, ClipsReadBackCloseToWhatWasWritten) {
    struct Row {
        const char* name;
        SampleType depth;
        double meanTolerance;  // in display values, 0-1
    };
    // ProRes HQ is 10-bit 4:2:2; H.264 at crf 18 is 8-bit 4:2:0 and lossier.
    const Row rows[] = {{"clip.mov", SampleType::UInt16, 0.008},
                        {"clip.mp4", SampleType::UInt8, 0.02}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        writeClip(file(row.name), 6, kWidth, kHeight);
        VideoFrames video(file(row.name), Colorspace::Auto);
        EXPECT_EQ(video.firstFrame(), 1);
        EXPECT_EQ(video.lastFrame(), 6);
        EXPECT_EQ(video.frameRate().value(), 24.0);
        EXPECT_EQ(video.header().channels, DD::Image::Mask_RGB);
        EXPECT_EQ(video.header().sampleType, row.depth);
        EXPECT_EQ(video.header().format.width(), kWidth);
        EXPECT_EQ(video.header().format.height(), kHeight);
        for (int frame = 1; frame <= 6; ++frame) {
            SCOPED_TRACE(frame);
            const Difference d =
                difference(*video.load(frame), movingPattern(kWidth, kHeight, frame));
            EXPECT_LT(d.mean, row.meanTolerance);
        }
        EXPECT_EQ(video.framesDecoded(), 6);
        EXPECT_EQ(video.decodes(), 6);
        EXPECT_TRUE(video.notes().empty());
    }
}

TEST_F(VideoFilesTest, SeekingGivesTheFramesDecodingOnGives) {
    // H.264 with B-frames and a keyframe every 5 frames: seeks land on
    // keyframes before the frame and decode on from there.
    VideoSettings settings;
    settings.keyframeInterval = 5;
    writeClip(file("clip.mp4"), 30, kWidth, kHeight, settings);
    VideoFrames inOrder(file("clip.mp4"), Colorspace::Auto);
    std::vector<std::shared_ptr<const host::ClipFrame>> frames;
    for (int frame = 1; frame <= 30; ++frame)
        frames.push_back(inOrder.load(frame));
    VideoFrames jumping(file("clip.mp4"), Colorspace::Auto);
    for (int frame : {27, 3, 19, 20, 30, 1, 12, 2, 29}) {
        SCOPED_TRACE(frame);
        EXPECT_TRUE(jumping.load(frame)->planes == frames[frame - 1]->planes);
    }
    // Frames of the same clip differ: the comparison above can fail.
    EXPECT_FALSE(frames[0]->planes == frames[1]->planes);
}

TEST_F(VideoFilesTest, RefusesFilesThatAreNoUsableVideoNamingThem) {
    std::ofstream(file("notes.mov")) << "not a video at all\n";
    testing::writeWav(file("sound.wav"));
    writeClip(file("odd.mkv"), 3, kWidth, kHeight);
    // A codec nobody knows: the track's codec name replaced.
    testing::patchBytes(file("odd.mkv"), "V_MPEG4/ISO/AVC", "V_MPEG4/ISO/ZZZ");
    struct Row {
        std::string name;
        std::string message;
    };
    const Row rows[] = {
        {"missing.mov", "no such file"},
        {"notes.mov", "not a video"},
        {"sound.wav", "holds no video stream"},
        {"odd.mkv", "its video codec is not supported"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            VideoFrames video(file(row.name), Colorspace::Auto);
            ADD_FAILURE() << "opened";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("'" + file(row.name) + "'"), std::string::npos)
                << e.what();
            EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
        }
    }
}

TEST_F(VideoFilesTest, TruncatedFileDecodesUpToTheDamage) {
    // Every frame a keyframe, so the frames take the bulk of the file and the
    // cut falls among them.
    VideoSettings settings;
    settings.keyframeInterval = 1;
    writeClip(file("clip.mp4"), 40, kWidth, kHeight, settings);
    fs::resize_file(file("clip.mp4"), fs::file_size(file("clip.mp4")) * 6 / 10);
    VideoFrames video(file("clip.mp4"), Colorspace::Auto);
    EXPECT_EQ(video.lastFrame(), 40);
    int decoded = 0;
    std::string message;
    for (int frame = 1; frame <= 40 && message.empty(); ++frame) {
        try {
            video.load(frame);
            decoded = frame;
        } catch (const Error& e) {
            message = e.what();
        }
    }
    EXPECT_GT(decoded, 2);
    EXPECT_LT(decoded, 40);
    EXPECT_NE(message.find("'" + file("clip.mp4") + "': damaged or truncated: frame " +
                           std::to_string(decoded + 1) + " of 40"),
              std::string::npos)
        << message;
    EXPECT_EQ(video.failure(), message);
    // The frames before the damage stay readable; the damaged one stays refused.
    EXPECT_LT(difference(*video.load(2), movingPattern(kWidth, kHeight, 2)).mean, 0.02);
    EXPECT_THROW(video.load(decoded + 1), Error);
}

TEST_F(VideoFilesTest, UnstatedFrameCountIsCounted) {
    // A raw H.264 stream states neither a frame count nor a duration.
    writeClip(file("clip.h264"), 10, kWidth, kHeight);
    VideoFrames video(file("clip.h264"), Colorspace::Auto);
    EXPECT_EQ(video.lastFrame(), 10);
    // The stream's own rate, not one the demuxer makes up for its timestamps.
    EXPECT_EQ(video.frameRate().num, 24);
    EXPECT_EQ(video.frameRate().den, 1);
    ASSERT_EQ(video.notes().size(), 1u) << video.notes().back();
    EXPECT_NE(video.notes()[0].find("does not state its frame count"), std::string::npos);
    EXPECT_LT(difference(*video.load(10), movingPattern(kWidth, kHeight, 10)).mean, 0.02);
}

TEST_F(VideoFilesTest, RotatedClipIsReadUprightItsAudioLeftToTheWriter) {
    writeClip(file("clip.mov"), 3, kWidth, kHeight);
    // A display matrix of 90 degrees: players show the frames turned a
    // quarter clockwise.
    testing::remux(file("clip.mov"), file("turned.mov"), 90.0, true);
    VideoFrames plain(file("clip.mov"), Colorspace::Auto);
    VideoFrames turned(file("turned.mov"), Colorspace::Auto);
    EXPECT_EQ(turned.header().format.width(), kHeight);
    EXPECT_EQ(turned.header().format.height(), kWidth);
    const std::vector<std::string> notes = turned.notes();
    // Whether the audio is carried depends on the output: the writer says.
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("turned 90 degrees clockwise"), std::string::npos) << notes[0];
    // Turned clockwise, the stored top row is the shown right column, read
    // from the top. Host rows count from the bottom.
    const auto stored = plain.load(2), shown = turned.load(2);
    const std::vector<float>& s = stored->planes.at(DD::Image::Chan_Red);
    const std::vector<float>& t = shown->planes.at(DD::Image::Chan_Red);
    for (int x = 0; x < kWidth; ++x) {
        const float top = s[size_t(kHeight - 1) * kWidth + x];  // stored row 0, column x
        EXPECT_EQ(t[size_t(kWidth - 1 - x) * kHeight + kHeight - 1], top) << x;
    }
}

TEST_F(VideoFilesTest, WriterLeavesNothingBehindUnlessFinished) {
    {
        VideoWriter writer(file("out.mov"), kWidth, kHeight, {});
        writer.write(movingPattern(kWidth, kHeight, 1));
        EXPECT_EQ(entries().size(), 1u);  // the partial file, hidden
        EXPECT_EQ(entries()[0].rfind(".out.mov.partial-", 0), 0u) << entries()[0];
    }
    EXPECT_TRUE(entries().empty());
    writeClip(file("out.mov"), 2, kWidth, kHeight);
    EXPECT_EQ(entries(), std::vector<std::string>{"out.mov"});
}

TEST_F(VideoFilesTest, WriterRefusesWhatCannotBeWritten) {
    struct Row {
        std::string name;
        int width;
        VideoSettings settings;
        std::string message;
    };
    VideoSettings defaults, noSuchCodec, crfForProres, h264InMov, h264Crf52, h265Crf99;
    noSuchCodec.codec = "no_such_codec";
    crfForProres.crf = 20;
    h264InMov.codec = "libx264";
    h264Crf52.crf = 52;
    h265Crf99.codec = "libx265";
    h265Crf99.crf = 99;
    const Row rows[] = {
        {"odd.mp4", kWidth + 1, defaults, "needs a width divisible by 2"},
        {"codec.mov", kWidth, noSuchCodec, "no video encoder 'no_such_codec'"},
        {"crf.mov", kWidth, crfForProres, "--crf: the prores_ks encoder takes no"},
        // x264 would clamp it without a word, x265 fail to open.
        {"crf.mp4", kWidth, h264Crf52, "--crf: 52 is outside the libx264 encoder's range, 0 to 51"},
        {"crf.mkv", kWidth, h265Crf99, "--crf: 99 is outside the libx265 encoder's range, 0 to 51"},
        {"clip.unknownext", kWidth, defaults, "no video container"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            VideoWriter writer(file(row.name), row.width, kHeight, row.settings);
            ADD_FAILURE() << "opened";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
        }
    }
    EXPECT_TRUE(entries().empty());
    // H.264 in a .mov is fine when asked for.
    writeClip(file("h264.mov"), 2, kWidth, kHeight, h264InMov);
    EXPECT_EQ(VideoFrames(file("h264.mov"), Colorspace::Auto).lastFrame(), 2);
    // Lossless FFV1 keeps full chroma, so odd sizes are fine.
    VideoSettings ffv1;
    ffv1.codec = "ffv1";
    writeClip(file("odd.mkv"), 2, kWidth + 1, kHeight + 1, ffv1);
    VideoFrames odd(file("odd.mkv"), Colorspace::Auto);
    EXPECT_EQ(odd.header().format.width(), kWidth + 1);
    EXPECT_LT(difference(*odd.load(2), movingPattern(kWidth + 1, kHeight + 1, 2)).largest, 0.01);
}

// Wide enough for the square to stay in view for 48 frames, and near-lossless,
// so that every frame can be told from its neighbours.
constexpr int kWide = 160;
VideoSettings nearLossless() {
    VideoSettings settings;
    settings.crf = 0;
    settings.keyframeInterval = 12;
    return settings;
}

// Trimmed without re-encoding, a clip keeps the samples from the keyframe
// before the cut, and an edit list says to show it from the cut on: its
// frames are those a player shows, counted and sought as such.
TEST_F(VideoFilesTest, EditListsDecideWhichFramesAClipHolds) {
    if (!haveFfmpeg())
        GTEST_SKIP() << "needs the ffmpeg and ffprobe programs to trim a clip by an edit list";
    constexpr int kCount = 48;
    writeClip(file("num.mp4"), kCount, kWide, kHeight, nearLossless());
    for (const std::string name : {"numel.mp4", "numel.mov"}) {
        SCOPED_TRACE(name);
        ffmpeg("ffmpeg", "-y -ss 0.3 -i num.mp4 -c copy -t 1 " + name);
        const int shown = std::stoi(ffmpeg("ffprobe",
                                           "-count_frames -select_streams v "
                                           "-show_entries stream=nb_read_frames -of "
                                           "csv=p=0 " +
                                               name));
        VideoFrames inOrder(file(name), Colorspace::Auto);
        ASSERT_EQ(inOrder.lastFrame(), shown);
        std::vector<std::shared_ptr<const host::ClipFrame>> frames;
        const int first = patternFrameOf(*inOrder.load(1), kWide, kCount);
        EXPECT_GT(first, 1) << "the frames before the cut are shown";
        for (int frame = 1; frame <= shown; ++frame) {
            frames.push_back(inOrder.load(frame));
            EXPECT_EQ(patternFrameOf(*frames.back(), kWide, kCount), first + frame - 1) << frame;
        }
        VideoFrames jumping(file(name), Colorspace::Auto);
        for (int frame : {shown, 2, shown - 1, 1, shown / 2}) {
            SCOPED_TRACE(frame);
            EXPECT_TRUE(jumping.load(frame)->planes == frames[frame - 1]->planes);
        }
    }
}

// Matroska states no frame count and no rate of its own: gaps between the
// timestamps show a variable rate, whose frames are taken in order, not
// filled with repeats.
TEST_F(VideoFilesTest, VariableRateMatroskaIsNotedAndTakenInOrder) {
    if (!haveFfmpeg())
        GTEST_SKIP() << "needs the ffmpeg program to make a variable-rate clip";
    constexpr int kCount = 30;
    writeClip(file("num.mkv"), kCount, kWide, kHeight, nearLossless());
    // Source frames 6-10 left out, the others keeping their timestamps.
    ffmpeg("ffmpeg",
           "-y -i num.mkv -vf \"select='not(between(n,5,9))'\" -fps_mode vfr "
           "-c:v libx264 -crf 0 vfr.mkv");
    VideoFrames regular(file("num.mkv"), Colorspace::Auto);
    EXPECT_EQ(regular.lastFrame(), kCount);
    EXPECT_TRUE(regular.notes().empty()) << regular.notes().front();

    VideoFrames video(file("vfr.mkv"), Colorspace::Auto);
    ASSERT_EQ(video.lastFrame(), kCount - 5);
    ASSERT_EQ(video.notes().size(), 1u);
    EXPECT_NE(video.notes()[0].find("has a variable frame rate"), std::string::npos);
    for (int frame = 1; frame <= kCount - 5; ++frame)
        EXPECT_EQ(patternFrameOf(*video.load(frame), kWide, kCount), frame <= 5 ? frame : frame + 5)
            << frame;
}

// Noise (which no encoder squeezes) until a small disk fills: the video fails
// naming its file and the cause, and leaves nothing behind.
TEST_F(VideoFilesTest, AFullDiskFailsTheVideoAndLeavesNothing) {
    const testing::SmallDisk disk(folder_ / "disk", 64);
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    host::ClipFrame noise = movingPattern(kWidth, kHeight, 1);
    uint32_t state = 99;
    for (auto& [channel, plane] : noise.planes)
        for (float& value : plane) {
            state = state * 1664525u + 1013904223u;
            value = float(state >> 8) / float(1 << 24);
        }
    VideoSettings ffv1;
    ffv1.codec = "ffv1";
    const std::pair<std::string, VideoSettings> rows[] = {{"clip.mov", {}}, {"clip.mkv", ffv1}};
    for (const auto& [name, settings] : rows) {
        SCOPED_TRACE(name);
        const std::string path = (folder_ / "disk" / name).string();
        std::string failure;
        try {
            VideoWriter writer(path, kWidth, kHeight, settings);
            for (int frame = 1; frame <= 200; ++frame)
                writer.write(noise);
            writer.finish();
        } catch (const Error& e) {
            failure = e.what();
        }
        ASSERT_FALSE(failure.empty()) << "no write failed: the full disk went unnoticed";
        EXPECT_NE(failure.find(path), std::string::npos) << failure;
        EXPECT_NE(failure.find("No space left"), std::string::npos) << failure;
        EXPECT_TRUE(fs::is_empty(folder_ / "disk"));
    }
}

}  // namespace
}  // namespace tweenora::media
