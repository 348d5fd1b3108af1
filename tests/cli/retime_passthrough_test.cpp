// SPDX-License-Identifier: Apache-2.0
// End-to-end tests: what a video carries besides its frames (colour tags, pixel aspect, audio,
// timecode) reaches the retimed video, checked with ffprobe on clips that ffmpeg makes.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/media/media_test_support.h"

namespace tweenora::media {
namespace {

namespace fs = std::filesystem;
using testing::ToolRun;

// One stream's fields as ffprobe prints them (key=value).
using Fields = std::map<std::string, std::string>;

class RetimePassthroughTest : public testing::ScratchFolderTest {
protected:
    RetimePassthroughTest() : ScratchFolderTest("retime_passthrough") {}

    void SetUp() override {
        if (std::system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1"))
            GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
        ScratchFolderTest::SetUp();
    }

    std::string file(const std::string& name) const { return (folder_ / name).string(); }

    ToolRun retime(std::vector<std::string> args) const {
        args.insert(args.begin(), "retime");
        args.push_back("--cpu");
        return run(TWEENORA_TOOL, args);
    }

    // Runs ffmpeg with args (a shell fragment) writing name; the clip is 64x48.
    void ffmpeg(const std::string& args, const std::string& name) const {
        const ToolRun r = testing::runShell(
            "ffmpeg -hide_banner -loglevel error -y " + args + " " + testing::quoted(file(name)),
            folder_);
        ASSERT_EQ(r.status, 0) << r.err;
    }

    // A 64x48 test pattern of frames at rate, with the ffmpeg output options extra.
    void makeClip(const std::string& name, int frames, int rate, const std::string& extra) const {
        ffmpeg("-f lavfi -i testsrc2=s=64x48:r=" + std::to_string(rate) + " -frames:v " +
                   std::to_string(frames) + " " + extra,
               name);
    }

    // Every stream of name: ffprobe's entries (and tags) for each.
    std::vector<Fields> streams(const std::string& name) const {
        const ToolRun r = testing::runShell(
            "ffprobe -v error -show_entries stream=codec_type,codec_name,sample_aspect_ratio,"
            "color_range,color_space,color_transfer,color_primaries,pix_fmt,duration,"
            "nb_frames:stream_tags=timecode -of compact=p=0:nk=0 " +
                testing::quoted(file(name)),
            folder_);
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<Fields> found;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) {
            Fields fields;
            std::istringstream parts(line);
            for (std::string part; std::getline(parts, part, '|');)
                if (const size_t eq = part.find('='); eq != std::string::npos)
                    fields[part.substr(0, eq)] = part.substr(eq + 1);
            found.push_back(fields);
        }
        return found;
    }

    Fields stream(const std::string& name, const std::string& type) const {
        for (const Fields& fields : streams(name))
            if (fields.count("codec_type") && fields.at("codec_type") == type)
                return fields;
        return {};
    }
};

TEST_F(RetimePassthroughTest, ColourTagsAndPixelAspectAreThoseOfTheInput) {
    const std::string bt709 =
        "-vf setsar=64/45,setparams=color_primaries=bt709:color_trc=bt709:colorspace=bt709:"
        "range=tv ";
    const std::string bt601 =
        "-vf setparams=color_primaries=smpte170m:color_trc=smpte170m:colorspace=smpte170m:"
        "range=tv ";
    makeClip("709.mov", 4, 30, bt709 + "-c:v prores_ks -pix_fmt yuv422p10le");
    makeClip("709.mp4", 4, 30, bt709 + "-c:v libx264 -pix_fmt yuv420p");
    makeClip("601.mkv", 4, 30, bt601 + "-c:v libx264 -pix_fmt yuv420p");
    struct Row {
        std::string input, output;
        std::string primaries, transfer, matrix, aspect;
    };
    const Row rows[] = {
        {"709.mov", "a.mov", "bt709", "bt709", "bt709", "64:45"},
        {"709.mov", "a.mp4", "bt709", "bt709", "bt709", "64:45"},
        {"709.mp4", "b.mov", "bt709", "bt709", "bt709", "64:45"},
        {"601.mkv", "c.mp4", "smpte170m", "smpte170m", "smpte170m", "1:1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input + " -> " + row.output);
        const ToolRun r = retime({file(row.input), file(row.output), "--speed", "1"});
        ASSERT_EQ(r.status, 0) << r.err;
        const Fields video = stream(row.output, "video");
        EXPECT_EQ(video.at("color_primaries"), row.primaries);
        EXPECT_EQ(video.at("color_transfer"), row.transfer);
        EXPECT_EQ(video.at("color_space"), row.matrix);
        EXPECT_EQ(video.at("color_range"), "tv");
        if (row.aspect != "1:1")
            EXPECT_EQ(video.at("sample_aspect_ratio"), row.aspect);
        else
            EXPECT_TRUE(video.at("sample_aspect_ratio") == "1:1" ||
                        video.at("sample_aspect_ratio") == "N/A");
    }
}

}  // namespace
}  // namespace tweenora::media
