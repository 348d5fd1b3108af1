// SPDX-License-Identifier: Apache-2.0
// Video files both ways: clips written and read back, seeking, refused and damaged files.
#include "media/video/reader.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
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
    ASSERT_EQ(video.notes().size(), 1u);
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
    VideoSettings defaults, noSuchCodec, crfForProres, h264InMov;
    noSuchCodec.codec = "no_such_codec";
    crfForProres.crf = 20;
    h264InMov.codec = "libx264";
    const Row rows[] = {
        {"odd.mp4", kWidth + 1, defaults, "needs a width divisible by 2"},
        {"codec.mov", kWidth, noSuchCodec, "no video encoder 'no_such_codec'"},
        {"crf.mov", kWidth, crfForProres, "--crf: the prores_ks encoder takes no"},
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
}

}  // namespace
}  // namespace tweenora::media
