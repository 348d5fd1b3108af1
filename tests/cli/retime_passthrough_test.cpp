// SPDX-License-Identifier: Apache-2.0
// End-to-end tests: what a video carries besides its frames (colour tags, pixel aspect, audio,
// timecode) reaches the retimed video, checked with ffprobe on clips that ffmpeg makes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "media/colour/transfer.h"
#include "media/sequence/image_io.h"
#include "media/video/audio_track.h"
#include "media/video/reader.h"
#include "media/video/timecode.h"
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
        ffmpeg("-f lavfi -i testsrc2=s=64x48:r=" + std::to_string(rate) +
                   ":d=" + std::to_string(double(frames) / rate) + " " + extra,
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

    // The MD5 of each audio packet of name, in order, as they are stored.
    std::vector<std::string> audioPackets(const std::string& name) const {
        const ToolRun r = testing::runShell(
            "ffmpeg -v error -i " + testing::quoted(file(name)) + " -map 0:a -c copy -f framemd5 -",
            folder_);
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> hashes;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && line[0] != '#') {
                // stream, dts, pts, duration, size, hash[, side data]
                std::istringstream fields(line);
                std::string field;
                for (int i = 0; i < 6; ++i)
                    std::getline(fields, field, ',');
                hashes.push_back(field);
            }
        return hashes;
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
        // QuickTime's colour atom has no range: ProRes, limited by definition,
        // is read back as such by some FFmpeg versions and as unknown by others.
        if (row.output.substr(row.output.size() - 4) == ".mov")
            EXPECT_NE(video.at("color_range"), "pc");
        else
            EXPECT_EQ(video.at("color_range"), "tv");
        if (row.aspect != "1:1")
            EXPECT_EQ(video.at("sample_aspect_ratio"), row.aspect);
        else
            EXPECT_TRUE(video.at("sample_aspect_ratio") == "1:1" ||
                        video.at("sample_aspect_ratio") == "N/A");
    }
}

// 30 fps video of 6 frames with a second of 48 kHz sine audio beside it.
constexpr const char* kWithSine =
    "-f lavfi -i sine=f=440:r=48000:d=1 -map 0:v -map 1:a -c:v prores_ks -pix_fmt yuv422p10le ";

TEST_F(RetimePassthroughTest, AudioIsCopiedUntouchedWhereTheOutputLastsAsLong) {
    makeClip("pcm.mov", 6, 30, std::string(kWithSine) + "-c:a pcm_s16le");
    makeClip("aac.mov", 6, 30, std::string(kWithSine) + "-c:a aac");
    const std::vector<std::string> pcm = audioPackets("pcm.mov"), aac = audioPackets("aac.mov");
    struct Row {
        std::string input, output;
        std::vector<std::string> extra;
        const std::vector<std::string>& packets;
    };
    // Speed 0.5 at twice the rate runs as fast as the input.
    const Row rows[] = {
        {"pcm.mov", "a.mov", {"--speed", "1"}, pcm},
        {"aac.mov", "b.mp4", {"--speed", "1"}, aac},
        {"aac.mov", "c.mov", {"--speed", "0.5", "--fps", "60"}, aac},
        // A new rate for the same duration keeps the source's time.
        {"aac.mov", "d.mov", {"--to-fps", "60"}, aac},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output);
        std::vector<std::string> args = {file(row.input), file(row.output)};
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        const ToolRun r = retime(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("audio"), std::string::npos) << r.err;
        // The packets the output's span needs, bit for bit, an AAC encoder's
        // priming packet included: up to one packet past the video's end.
        const std::vector<std::string> copied = audioPackets(row.output);
        ASSERT_FALSE(copied.empty());
        ASSERT_LE(copied.size(), row.packets.size());
        EXPECT_TRUE(std::equal(copied.begin(), copied.end(), row.packets.begin()));
        const double video = std::stod(stream(row.output, "video").at("duration"));
        const double audio = std::stod(stream(row.output, "audio").at("duration"));
        EXPECT_GE(audio, video);
        EXPECT_LE(audio, video + 4096.0 / 48000.0);
    }
}

TEST_F(RetimePassthroughTest, AudioIsRetimedDroppedOrReencodedAsAsked) {
    makeClip("pcm.mov", 6, 30, std::string(kWithSine) + "-c:a pcm_s16le");
    // FFmpeg 6.1 and later hold PCM in .mp4 as it is; earlier ones re-encode it.
    const bool mp4HoldsPcm = avformat_query_codec(av_guess_format("mp4", nullptr, nullptr),
                                                  AV_CODEC_ID_PCM_S16LE, FF_COMPLIANCE_NORMAL) == 1;
    // One AAC frame: 1024 samples at 48 kHz.
    constexpr double kAacFrame = 1024.0 / 48000.0;
    struct Row {
        std::string output;
        std::vector<std::string> extra;
        bool audio;
        std::string note;  //!< "" for none about the audio
    };
    const Row rows[] = {
        // .mp4 cannot hold PCM: re-encoded, its duration kept.
        {"same.mp4", {"--speed", "1"}, true, mp4HoldsPcm ? "" : "is re-encoded as aac"},
        // Slower and faster than atempo's own range in one filter.
        {"quarter.mp4",
         {"--speed", "0.25", "--audio", "retime"},
         true,
         "is re-timed to 0.25 times"},
        {"quarter.mov",
         {"--speed", "0.25", "--audio", "retime"},
         true,
         "is re-timed to 0.25 times"},
        {"fast.mov", {"--speed", "5", "--audio", "retime"}, true, "is re-timed to 5 times"},
        // Every source frame kept, one between each pair: half the speed.
        {"factor.mov", {"--factor", "2", "--audio", "retime"}, true, "is re-timed to 0.5 times"},
        {"slow.mov", {"--speed", "0.5"}, false, "is not carried: the output runs at 0.5 times"},
        {"frames.mov", {"--frame-keys", "1:1,10:3"}, false, "is not carried: frame mode"},
        {"dropped.mov", {"--speed", "1", "--audio", "drop"}, false, ""},
        {"seq.####.exr", {"--speed", "1"}, false, "is not carried: an image sequence holds none"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output);
        std::vector<std::string> args = {file("pcm.mov"), file(row.output)};
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        const ToolRun r = retime(args);
        ASSERT_EQ(r.status, 0) << r.err;
        if (row.note.empty())
            EXPECT_EQ(r.err.find("audio"), std::string::npos) << r.err;
        else
            EXPECT_NE(r.err.find("its audio " + row.note), std::string::npos) << r.err;
        if (row.output.find('#') != std::string::npos)
            continue;
        const Fields audio = stream(row.output, "audio");
        ASSERT_EQ(!audio.empty(), row.audio);
        if (row.audio) {
            EXPECT_NEAR(std::stod(audio.at("duration")),
                        std::stod(stream(row.output, "video").at("duration")), kAacFrame);
        }
    }
}

TEST_F(RetimePassthroughTest, AtempoChainsStayInTheFiltersRange) {
    struct Row {
        double tempo;
        size_t length;
    };
    for (const Row& row : {Row{1.0, 1}, Row{0.25, 2}, Row{0.1, 4}, Row{5.0, 3}, Row{64.0, 6}}) {
        SCOPED_TRACE(row.tempo);
        const std::vector<double> chain = atempoChain(row.tempo);
        EXPECT_EQ(chain.size(), row.length);
        double product = 1.0;
        for (double factor : chain) {
            EXPECT_GE(factor, 0.5);
            EXPECT_LE(factor, 2.0);
            product *= factor;
        }
        EXPECT_NEAR(product, row.tempo, 1e-12);
    }
}

TEST_F(RetimePassthroughTest, TimecodeIsThatOfTheSourceInstantTheOutputStartsAt) {
    makeClip("tc.mov", 6, 30, "-timecode 01:00:10:00 -c:v prores_ks");
    struct Row {
        std::string output;
        std::vector<std::string> extra;
        std::string timecode;
    };
    const Row rows[] = {
        {"same.mov", {"--speed", "1"}, "01:00:10:00"},
        // Twice the rate: the same instant, counted in 60ths.
        {"double.mov", {"--speed", "0.5", "--fps", "60"}, "01:00:10:00"},
        // Starting at source frame 3: two frames on.
        {"later.mp4", {"--speed", "1", "--range", "3-6"}, "01:00:10:02"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output);
        std::vector<std::string> args = {file("tc.mov"), file(row.output)};
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        const ToolRun r = retime(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(stream(row.output, "video")["tag:timecode"], row.timecode);
    }

    struct Mapping {
        std::string source;
        FrameRate sourceRate;
        double sourceStart;
        FrameRate outputRate;
        std::string expected;
    };
    const Mapping mappings[] = {
        {"01:00:10:00", {30, 1}, 0.5, {30, 1}, "01:00:10:15"},
        {"01:00:10:00", {25, 1}, 0.0, {50, 1}, "01:00:10:00"},
        // Drop-frame: the frame after 00:00:59;29 is 00:01:00;02.
        {"00:00:59;29", {30000, 1001}, 1001.0 / 30000, {30000, 1001}, "00:01:00;02"},
        {"not a timecode", {30, 1}, 0.0, {30, 1}, ""},
    };
    for (const Mapping& m : mappings) {
        SCOPED_TRACE(m.source);
        EXPECT_EQ(mappedTimecode(m.source, m.sourceRate, m.sourceStart, m.outputRate), m.expected);
    }
}

TEST_F(RetimePassthroughTest, EncoderSettingsAndDeepInputKeepTheirDepth) {
    makeClip("deep.mov", 4, 30, "-c:v prores_ks -pix_fmt yuv422p10le");
    makeClip("8bit.mp4", 4, 30, "-c:v libx264 -pix_fmt yuv420p");
    struct Row {
        std::string input, output;
        std::vector<std::string> extra;
        std::string codec, pixelFormat, profile;
    };
    const Row rows[] = {
        {"8bit.mp4", "a.mp4", {}, "h264", "yuv420p", "High"},
        {"deep.mov", "b.mp4", {}, "hevc", "yuv420p10le", "Main 10"},
        {"deep.mov", "c.mkv", {"--preset", "ultrafast"}, "hevc", "yuv420p10le", "Main 10"},
        {"8bit.mp4", "d.mov", {"--prores-profile", "lt"}, "prores", "yuv422p10le", "LT"},
        {"8bit.mp4", "e.mov", {"--prores-profile", "4444"}, "prores", "yuv444p12le", "4444"},
        {"8bit.mp4", "f.mov", {"--pix-fmt", "yuv444p10le"}, "prores", "yuv444p12le", "4444"},
        {"8bit.mp4",
         "g.mp4",
         {"--codec", "libx265", "--pix-fmt", "yuv420p10le"},
         "hevc",
         "yuv420p10le",
         "Main 10"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output);
        std::vector<std::string> args = {file(row.input), file(row.output), "--speed", "1",
                                         "--quiet"};
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        const ToolRun r = retime(args);
        ASSERT_EQ(r.status, 0) << r.err;
        // --quiet silences the encoders too (x265 prints its own lines).
        EXPECT_EQ(r.err, "");
        const ToolRun probe = testing::runShell(
            "ffprobe -v error -select_streams v -show_entries stream=codec_name,pix_fmt,profile "
            "-of compact=p=0 " +
                testing::quoted(file(row.output)),
            folder_);
        EXPECT_NE(probe.out.find("codec_name=" + row.codec + "|"), std::string::npos) << probe.out;
        EXPECT_NE(probe.out.find("profile=" + row.profile + "|"), std::string::npos) << probe.out;
        // The ProRes decoder reports 4:4:4 as 12-bit.
        EXPECT_NE(probe.out.find("pix_fmt=" + row.pixelFormat), std::string::npos) << probe.out;
    }

    struct Refused {
        std::vector<std::string> extra;
        std::string message;
    };
    const Refused refusals[] = {
        {{"--prores-profile", "ultra"}, "--prores-profile must be"},
        {{"--codec", "libx264", "--prores-profile", "lt"}, "takes no ProRes profile"},
        {{"--pix-fmt", "yuv9000p"}, "no pixel format is called 'yuv9000p'"},
        {{"--pix-fmt", "yuv420p"}, "the prores_ks encoder cannot write yuv420p"},
        {{"--codec", "prores_ks", "--preset", "slow"}, "takes no preset"},
        {{"--audio", "loud"}, "--audio must be copy, drop or retime"},
    };
    for (const Refused& refused : refusals) {
        SCOPED_TRACE(refused.message);
        std::vector<std::string> args = {file("8bit.mp4"), file("r.mov"), "--speed", "1"};
        args.insert(args.end(), refused.extra.begin(), refused.extra.end());
        const ToolRun r = retime(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(refused.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(file("r.mov")));
    }
}

TEST_F(RetimePassthroughTest, HdrKeepsItsTransferOrIsRefused) {
    makeClip("pq.mp4", 4, 30,
             "-vf setparams=color_primaries=bt2020:color_trc=smpte2084:colorspace=bt2020nc "
             "-c:v libx265 -x265-params log-level=none -pix_fmt yuv420p10le");
    makeClip("hlg.mov", 4, 30,
             "-vf setparams=color_primaries=bt2020:color_trc=arib-std-b67:colorspace=bt2020nc "
             "-c:v prores_ks");
    struct Row {
        std::string input, output;
        float (*fromLinear)(float);
        std::string transfer;
        double tolerance;  //!< mean difference of the code values, 0-1
    };
    const Row rows[] = {
        {"pq.mp4", "pq-out.mp4", linearToPq, "smpte2084", 0.01},
        // ProRes's own second generation of this sharp pattern costs as much
        // (44 dB, the same as ffmpeg re-encoding it).
        {"hlg.mov", "hlg-out.mov", linearToHlg, "arib-std-b67", 0.01},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output);
        ToolRun r = retime({file(row.input), file(row.output), "--speed", "1"});
        ASSERT_EQ(r.status, 0) << r.err;
        const Fields video = stream(row.output, "video");
        EXPECT_EQ(video.at("color_transfer"), row.transfer);
        EXPECT_EQ(video.at("color_primaries"), "bt2020");
        EXPECT_EQ(video.at("color_space"), "bt2020nc");
        EXPECT_NE(video.at("pix_fmt").find("10le"), std::string::npos) << video.at("pix_fmt");
        // Read through the transfer and written back through it: the codes return.
        VideoFrames source(file(row.input), Colorspace::Auto);
        VideoFrames written(file(row.output), Colorspace::Auto);
        const host::ClipFrame a = *source.load(2), b = *written.load(2);
        double sum = 0.0, brightest = 0.0;
        size_t count = 0;
        for (DD::Image::Channel c :
             {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue})
            for (size_t i = 0; i < a.planes.at(c).size(); ++i) {
                sum +=
                    std::abs(row.fromLinear(a.planes.at(c)[i]) - row.fromLinear(b.planes.at(c)[i]));
                brightest = std::max(brightest, double(a.planes.at(c)[i]));
                ++count;
            }
        EXPECT_LT(sum / double(count), row.tolerance);
        if (row.transfer == "smpte2084") {
            // Brighter than SDR white, into EXR as it is.
            EXPECT_GT(brightest, 1.5);
            r = retime({file(row.input), file("pq.####.exr"), "--speed", "1", "--float"});
            ASSERT_EQ(r.status, 0) << r.err;
            const host::ClipFrame exr = readImage(file("pq.0002.exr"), Colorspace::Auto);
            EXPECT_NEAR(*std::max_element(exr.planes.at(DD::Image::Chan_Red).begin(),
                                          exr.planes.at(DD::Image::Chan_Red).end()),
                        *std::max_element(a.planes.at(DD::Image::Chan_Red).begin(),
                                          a.planes.at(DD::Image::Chan_Red).end()),
                        1e-3 * brightest);
        }
    }
    struct Refused {
        std::vector<std::string> args;
        std::string message;
    };
    const Refused refusals[] = {
        {{file("pq.mp4"), file("pq.####.png")}, "into integer images"},
        {{file("pq.mp4"), file("r.mov"), "--colorspace", "srgb"}, "with --colorspace"},
        {{file("hlg.mov"), file("r.mp4"), "--codec", "libx264", "--pix-fmt", "yuv420p"},
         "an HDR input needs 10 bits or more"},
    };
    for (const Refused& refused : refusals) {
        SCOPED_TRACE(refused.message);
        std::vector<std::string> args = refused.args;
        args.insert(args.end(), {"--speed", "1"});
        const ToolRun r = retime(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(refused.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(file("r.mov")) || fs::exists(file("r.mp4")));
    }
}

TEST_F(RetimePassthroughTest, AlphaIsReadInterpolatedAndWrittenAsProRes4444) {
    // A horizontal alpha ramp, the same in every frame, under the moving pattern.
    const std::string ramp =
        "-vf \"format=yuva444p10le,geq=lum='lum(X,Y)':cb='cb(X,Y)':"
        "cr='cr(X,Y)':a='X*16'";
    makeClip("alpha.mov", 6, 30, ramp + "\" -c:v prores_ks -profile:v 4444");
    makeClip("alpha.mkv", 6, 30, ramp + ",format=yuva420p\" -c:v ffv1");
    // Each frame's alpha as 16-bit codes, frames one after the other.
    auto alphaOf = [&](const std::string& name) {
        const ToolRun r = testing::runShell("ffmpeg -v error -y -i " + testing::quoted(file(name)) +
                                                " -vf alphaextract,format=gray16le -f rawvideo " +
                                                testing::quoted(file(name + ".alpha")),
                                            folder_);
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string bytes = testing::readFile(file(name + ".alpha"));
        std::vector<int> codes(bytes.size() / 2);
        for (size_t i = 0; i < codes.size(); ++i)
            codes[i] = uint8_t(bytes[2 * i]) | uint8_t(bytes[2 * i + 1]) << 8;
        return codes;
    };
    constexpr size_t kFrameSize = 64 * 48;
    struct Row {
        std::string input, output, speed;
        int tolerance;  //!< in 16-bit codes
    };
    const Row rows[] = {
        // ProRes codes alpha losslessly: 10 bits in, 10 bits out.
        {"alpha.mov", "a.mov", "1", 64},
        // Interpolated frames of an unchanging alpha keep it.
        {"alpha.mov", "b.mov", "0.5", 64},
        // 8-bit alpha to 10 bits: within one 8-bit code.
        {"alpha.mkv", "c.mov", "1", 257},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output);
        const ToolRun r = retime({file(row.input), file(row.output), "--speed", row.speed});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("alpha"), std::string::npos) << r.err;
        const Fields video = stream(row.output, "video");
        EXPECT_EQ(video.at("pix_fmt"), "yuva444p12le");
        const std::vector<int> source = alphaOf(row.input), written = alphaOf(row.output);
        ASSERT_GE(written.size(), kFrameSize * 4);
        int largest = 0;
        for (size_t i = 0; i < written.size(); ++i)
            largest = std::max(largest, std::abs(written[i] - source[i % kFrameSize]));
        EXPECT_LE(largest, row.tolerance);
        // Not opaque: the ramp starts transparent.
        EXPECT_EQ(written[0], 0);
    }
    // A container that cannot hold it says so.
    const ToolRun r = retime({file("alpha.mov"), file("d.mp4"), "--speed", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("cannot hold rgba.alpha; written without"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tweenora::media
