// SPDX-License-Identifier: Apache-2.0
// End-to-end tests: the built tweenora retimes the generated sample clip.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include "media/sequence/image_io.h"
#include "tests/media/media_test_support.h"

namespace tweenora::media {
namespace {

namespace fs = std::filesystem;

// The sample clip: six frames, small enough to keep every run fast and large
// enough for its textures to carry the motion (at 64 x 48 the finest ones are
// near the pixel grid).
constexpr char kClipSize[] = "128x96";
constexpr int kClipFrames = 6;
// How much closer (in dB of PSNR) an in-between frame must come to the exact
// frame than the average of its two source frames does.
constexpr double kMarginDb = 3.0;

using testing::readFile;
using testing::ToolRun;

// All channels of an image file as floats, rows from the top.
struct Image {
    OIIO::ImageSpec spec;
    std::vector<float> pixels;

    int channel(const std::string& name) const { return spec.channelindex(name); }
    float at(size_t pixel, int channel) const { return pixels[pixel * spec.nchannels + channel]; }
    size_t pixelCount() const { return size_t(spec.width) * spec.height; }
};

Image load(const fs::path& file) {
    Image image;
    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::open(file.string());
    EXPECT_TRUE(in) << file << ": " << OIIO::geterror();
    if (!in)
        return image;
    image.spec = in->spec();
    image.pixels.resize(image.pixelCount() * image.spec.nchannels);
    EXPECT_TRUE(
        in->read_image(0, 0, 0, image.spec.nchannels, OIIO::TypeDesc::FLOAT, image.pixels.data()));
    return image;
}

// Mean squared error over the named channels. Colour is compared as displayed,
// clamped to 0-1, so that the highlights do not swamp the rest; other channels
// (depth) as they are.
double meanSquaredError(const Image& a, const Image& b, const std::vector<std::string>& names,
                        const Image* c = nullptr) {
    double sum = 0.0;
    size_t count = 0;
    for (const std::string& name : names) {
        const int ia = a.channel(name), ib = b.channel(name);
        const int ic = c ? c->channel(name) : -1;
        EXPECT_GE(ia, 0) << name;
        EXPECT_GE(ib, 0) << name;
        if (ia < 0 || ib < 0)
            return 0.0;
        const bool colour = name == "R" || name == "G" || name == "B";
        auto shown = [colour](float v) { return colour ? std::clamp(v, 0.0f, 1.0f) : v; };
        for (size_t p = 0; p < a.pixelCount(); ++p) {
            // With c given, a is compared as the average of a and c.
            const float va = c ? 0.5f * (a.at(p, ia) + c->at(p, ic)) : a.at(p, ia);
            const double d = double(shown(va)) - shown(b.at(p, ib));
            sum += d * d;
            ++count;
        }
    }
    return sum / double(count);
}

double psnr(double mse) {
    return 10.0 * std::log10(1.0 / std::max(mse, 1e-12));
}

const std::vector<std::string> kRgb = {"R", "G", "B"};

class RetimeTest : public testing::ScratchFolderTest {
protected:
    RetimeTest() : ScratchFolderTest("retime") {}

    ToolRun retime(std::vector<std::string> args) {
        args.insert(args.begin(), "retime");
        return run(TWEENORA_TOOL, args);
    }

    std::string in(const std::string& pattern = "s.####.exr") const {
        return (folder_ / "in" / pattern).string();
    }
    std::string out(const std::string& pattern = "r.####.exr") const {
        return (folder_ / "out" / pattern).string();
    }
    fs::path inFrame(int frame) const { return folder_ / "in" / frameName("s", frame, "exr"); }
    fs::path outFrame(int frame, const std::string& folder = "out",
                      const std::string& extension = "exr") const {
        return folder_ / folder / frameName("r", frame, extension);
    }
    static std::string frameName(const std::string& stem, int frame, const std::string& ext) {
        char digits[16];
        std::snprintf(digits, sizeof(digits), "%04d", frame);
        return stem + "." + digits + "." + ext;
    }

    void makeClip(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {
            "clip", in(), "--frames", "1-" + std::to_string(kClipFrames), "--size", kClipSize};
        args.insert(args.end(), extra.begin(), extra.end());
        const ToolRun made = run(TWEENORA_SAMPLE_TOOL, args);
        ASSERT_EQ(made.status, 0) << made.err;
    }

    Image truth(double time) {
        const fs::path file = folder_ / ("truth_" + std::to_string(time) + ".exr");
        const ToolRun made = run(
            TWEENORA_SAMPLE_TOOL,
            {"frame", file.string(), "--at", std::to_string(time), "--size", kClipSize, "--float"});
        EXPECT_EQ(made.status, 0) << made.err;
        return load(file);
    }

    std::vector<std::string> entries(const std::string& folder) const {
        std::vector<std::string> names;
        if (fs::exists(folder_ / folder))
            for (const auto& entry : fs::directory_iterator(folder_ / folder))
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Checks that output frame's in-between picture beats averaging its two
    // source frames against the exact frame at position.
    void expectBeatsAveraging(const fs::path& output, double position,
                              const std::vector<std::string>& channels) {
        SCOPED_TRACE("position " + std::to_string(position));
        const int frame0 = int(std::floor(position));
        const Image result = load(output);
        const Image exact = truth(position);
        const Image a = load(inFrame(frame0)), b = load(inFrame(frame0 + 1));
        const double ours = psnr(meanSquaredError(result, exact, channels));
        const double averaged = psnr(meanSquaredError(a, exact, channels, &b));
        EXPECT_GT(ours, averaged + kMarginDb)
            << "ours " << ours << " dB, averaging " << averaged << " dB";
    }
};

void expectSamePixels(const fs::path& a, const fs::path& b) {
    SCOPED_TRACE(a.string() + " vs " + b.string());
    const Image x = load(a), y = load(b);
    EXPECT_EQ(x.spec.format, y.spec.format);
    EXPECT_EQ(x.spec.channelnames, y.spec.channelnames);
    EXPECT_EQ(x.spec.x, y.spec.x);
    EXPECT_EQ(x.spec.y, y.spec.y);
    EXPECT_EQ(x.spec.width, y.spec.width);
    EXPECT_EQ(x.spec.height, y.spec.height);
    EXPECT_EQ(x.spec.full_width, y.spec.full_width);
    EXPECT_EQ(x.spec.full_height, y.spec.full_height);
    EXPECT_TRUE(x.pixels == y.pixels);
}

TEST_F(RetimeTest, SpeedOneReproducesTheSourceBitForBit) {
    makeClip();
    const ToolRun r = retime({in(), out(), "--speed", "1", "--cpu"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entries("out").size(), size_t(kClipFrames));
    for (int frame = 1; frame <= kClipFrames; ++frame)
        expectSamePixels(outFrame(frame), inFrame(frame));
}

TEST_F(RetimeTest, HalfSpeedWritesThePublishedFramesAndBeatsAveraging) {
    makeClip();
    const ToolRun r = retime({in(), out(), "--speed", "0.5", "--cpu"});
    ASSERT_EQ(r.status, 0) << r.err;
    // Input 1-6 at speed 0.5 publishes 1-10; output frame f shows 0.75 + f / 2.
    std::vector<std::string> expected;
    for (int frame = 1; frame <= 10; ++frame)
        expected.push_back(frameName("r", frame, "exr"));
    EXPECT_EQ(entries("out"), expected);
    for (int frame = 1; frame <= 10; ++frame)
        expectBeatsAveraging(outFrame(frame), 0.75 + 0.5 * frame, kRgb);
}

TEST_F(RetimeTest, FrameModeFollowsTheKeys) {
    makeClip();
    // Source frame 1 at output 1 to source frame 3 at output 5: 1, 1.5, 2, 2.5, 3.
    const ToolRun r = retime({in(), out(), "--frame-keys", "1:1,5:3", "--cpu"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entries("out").size(), 5u);
    expectSamePixels(outFrame(1), inFrame(1));
    expectSamePixels(outFrame(3), inFrame(2));
    expectSamePixels(outFrame(5), inFrame(3));
    expectBeatsAveraging(outFrame(2), 1.5, kRgb);
    expectBeatsAveraging(outFrame(4), 2.5, kRgb);
}

TEST_F(RetimeTest, DepthIsInterpolatedOnlyWhenAsked) {
    makeClip();
    ASSERT_EQ(retime({in(), out(), "--speed", "0.5", "--cpu", "--frames", "2"}).status, 0);
    ASSERT_EQ(retime({in(), out("all.####.exr"), "--speed", "0.5", "--cpu", "--frames", "2",
                      "--channels", "all"})
                  .status,
              0);
    // Output frame 2 shows position 1.75, between source frames 1 and 2.
    const Image source = load(inFrame(1));
    const Image rgba = load(outFrame(2));
    const Image all = load(folder_ / "out" / "all.0002.exr");
    ASSERT_EQ(rgba.spec.channelnames, source.spec.channelnames);
    ASSERT_EQ(all.spec.channelnames, source.spec.channelnames);
    const Image exact = truth(1.75);

    // With rgba only, depth passes through from frame0 untouched.
    EXPECT_EQ(meanSquaredError(rgba, source, {"depth.Z"}), 0.0);
    // Alpha is interpolated with the colour.
    EXPECT_LT(meanSquaredError(rgba, exact, {"A"}), meanSquaredError(source, exact, {"A"}));
    // Asked for, depth is interpolated too: it moves towards the exact depth.
    EXPECT_LT(meanSquaredError(all, exact, {"depth.Z"}),
              meanSquaredError(source, exact, {"depth.Z"}));
}

TEST_F(RetimeTest, PngInPngOut) {
    makeClip();
    // An 8-bit PNG copy of the clip, written as any program would: sRGB, unassociated.
    for (int frame = 1; frame <= kClipFrames; ++frame) {
        WriteSettings settings;
        settings.inputType = SampleType::UInt8;
        writeImage((folder_ / "in" / ("p." + std::to_string(frame) + ".png")).string(),
                   readImage(inFrame(frame).string(), Colorspace::Auto), settings);
    }
    ToolRun r =
        retime({in("p.#.png"), out("r.####.png"), "--speed", "1", "--cpu", "--frames", "1-3"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (int frame = 1; frame <= 3; ++frame) {
        SCOPED_TRACE(frame);
        EXPECT_EQ(load(outFrame(frame, "out", "png")).pixels,
                  load(folder_ / "in" / ("p." + std::to_string(frame) + ".png")).pixels);
    }
    r = retime({in("p.#.png"), out("h.####.png"), "--speed", "0.5", "--cpu", "--frames", "4"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Image half = load(folder_ / "out" / "h.0004.png");
    EXPECT_EQ(half.spec.format, OIIO::TypeDesc::UINT8);
    EXPECT_EQ(half.spec.nchannels, 4);
}

TEST_F(RetimeTest, KeepsTheInputsChannelsWithoutAlpha) {
    makeClip();
    // Copies of the clip without alpha (nor depth), as cameras and renderers write them.
    struct Row {
        const char* what;
        const char* extension;
        SampleType type;
        bool grey;
        std::vector<std::string> names;
    };
    const Row rows[] = {{"8-bit RGB PNG", "png", SampleType::UInt8, false, kRgb},
                        {"16-bit RGB PNG", "png", SampleType::UInt16, false, kRgb},
                        {"8-bit grey PNG", "png", SampleType::UInt8, true, {"Y"}},
                        {"RGB EXR", "exr", SampleType::Half, false, kRgb}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(folder_ / "plain");
        fs::remove_all(folder_ / "out");
        const std::string ext = row.extension;
        for (int frame = 1; frame <= kClipFrames; ++frame) {
            host::ClipFrame picture = readImage(inFrame(frame).string(), Colorspace::Auto);
            picture.planes.erase(DD::Image::Chan_Alpha);
            picture.planes.erase(DD::Image::Chan_Z);
            WriteSettings settings;
            settings.inputType = row.type;
            if (row.grey) {
                picture.planes[DD::Image::Chan_Green] = picture.planes[DD::Image::Chan_Red];
                picture.planes[DD::Image::Chan_Blue] = picture.planes[DD::Image::Chan_Red];
                settings.layout = {{"Y", channelsForFileName("Y")}};
            }
            fs::create_directories(folder_ / "plain");
            writeImage((folder_ / "plain" / frameName("p", frame, ext)).string(), picture,
                       settings);
        }
        const std::string plain = (folder_ / "plain" / ("p.####." + ext)).string();
        ToolRun r =
            retime({plain, out("r.####." + ext), "--speed", "1", "--cpu", "--frames", "1-2"});
        ASSERT_EQ(r.status, 0) << r.err;
        for (int frame = 1; frame <= 2; ++frame) {
            SCOPED_TRACE(frame);
            const Image source = load(folder_ / "plain" / frameName("p", frame, ext));
            const Image result = load(outFrame(frame, "out", ext));
            EXPECT_EQ(result.spec.channelnames, row.names);
            EXPECT_EQ(result.spec.format, source.spec.format);
            EXPECT_TRUE(result.pixels == source.pixels);
        }
        // An in-between frame (position 2.75) keeps the channels and is about
        // as bright as its neighbours, far from black.
        r = retime({plain, out("h.####." + ext), "--speed", "0.5", "--cpu", "--frames", "4"});
        ASSERT_EQ(r.status, 0) << r.err;
        const Image half = load(folder_ / "out" / ("h.0004." + ext));
        ASSERT_EQ(half.spec.channelnames, row.names);
        auto mean = [](const Image& image) {
            double sum = 0.0;
            for (float v : image.pixels)
                sum += v;
            return sum / double(image.pixels.size());
        };
        const double neighbours = 0.5 * (mean(load(folder_ / "plain" / frameName("p", 2, ext))) +
                                         mean(load(folder_ / "plain" / frameName("p", 3, ext))));
        EXPECT_NEAR(mean(half), neighbours, 0.1 * neighbours);
    }
}

TEST_F(RetimeTest, ChunksRenderExactlyWhatTheWholeRangeDoes) {
    makeClip();
    ASSERT_EQ(retime({in(), out(), "--speed", "0.5", "--cpu"}).status, 0);
    const std::string chunks = (folder_ / "chunks" / "r.####.exr").string();
    ASSERT_EQ(retime({in(), chunks, "--speed", "0.5", "--cpu", "--frames", "1-4"}).status, 0);
    ASSERT_EQ(retime({in(), chunks, "--speed", "0.5", "--cpu", "--frames", "5-10"}).status, 0);
    EXPECT_EQ(entries("chunks"), entries("out"));
    for (int frame = 1; frame <= 10; ++frame)
        expectSamePixels(outFrame(frame, "chunks"), outFrame(frame));
}

TEST_F(RetimeTest, ReadsEachSourceFrameOnce) {
    makeClip();
    ToolRun r = retime({in(), out(), "--speed", "0.5", "--cpu"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("6 source frames read, 6 decodes"), std::string::npos) << r.err;
    // Output frames 4-6 show 2.75, 3.25 and 3.75: only source frames 2-4 are read.
    r = retime({in(), out(), "--speed", "0.5", "--cpu", "--frames", "4-6"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("3 source frames read, 3 decodes"), std::string::npos) << r.err;
}

TEST_F(RetimeTest, BadInputStopsWithStatusTwoAndNamesTheFile) {
    struct Row {
        const char* what;
        int frame;
        std::vector<std::string> extra;  // more arguments
    };
    const Row rows[] = {{"missing", 3, {}},
                        {"truncated", 4, {}},
                        {"mismatched", 5, {}},
                        {"not an image", 2, {}},
                        {"missing inside --range", 7, {"--range", "1-7"}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(folder_ / "in");
        fs::remove_all(folder_ / "out");
        makeClip();
        const fs::path broken = inFrame(row.frame);
        const std::string what = row.what;
        if (what == "missing") {
            fs::remove(broken);
        } else if (what == "truncated") {
            fs::resize_file(broken, fs::file_size(broken) / 2);
        } else if (what == "mismatched") {
            const ToolRun made = run(TWEENORA_SAMPLE_TOOL, {"frame", broken.string(), "--at", "5",
                                                            "--size", kClipSize, "--no-depth"});
            ASSERT_EQ(made.status, 0) << made.err;
        } else if (what == "not an image") {
            std::ofstream(broken, std::ios::trunc) << "this is no image";
        }
        std::vector<std::string> args = {in(), out(), "--speed", "1", "--cpu"};
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        const ToolRun r = retime(args);
        EXPECT_EQ(r.status, 2) << r.err;
        // One error line, and it names the file.
        const size_t error = r.err.find("tweenora: error: ");
        ASSERT_NE(error, std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("tweenora: error: ", error + 1), std::string::npos) << r.err;
        const std::string line = r.err.substr(error, r.err.find('\n', error) - error);
        EXPECT_NE(line.find(broken.filename().string()), std::string::npos) << line;
        for (const std::string& name : entries("out")) {
            EXPECT_EQ(name.find("partial"), std::string::npos) << name;
            EXPECT_LT(name, frameName("r", row.frame, "exr")) << "written past the bad frame";
        }
    }
}

TEST_F(RetimeTest, AFailingNetworkStopsWithStatusOneAndKeepsTheFramesBefore) {
    makeClip();
    // Output 1 is source frame 1 (no network); output 2 lies at 1.5.
    const ToolRun r = retime({in(), out(), "--frame-keys", "1:1,3:2", "--cpu", "--plugin-path",
                              TWEENORA_NAN_PLUGIN_DIR});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("tweenora: error: frame 2: Too many nan values returned, frame corrupt"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(entries("out"), std::vector<std::string>{frameName("r", 1, "exr")});
}

TEST_F(RetimeTest, ADamagedLibraryStopsWithTheLoadersReason) {
    makeClip();
    const fs::path plugins = folder_ / "plugins";
    struct Row {
        const char* file;
        int status;
        const char* says;
    };
    // Output 1 is source frame 1 (no network); output 2 lies at 1.5.
    const Row rows[] = {{"TweenoraModels.so", 1,
                         "tweenora: error: frame 2: TweenoraModels.so could not be loaded: '"},
                        {"Tweenora.so", 2, "tweenora: error: cannot load plug-in Tweenora.so: '"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        fs::remove_all(plugins);
        fs::remove_all(folder_ / "out");
        fs::create_directories(plugins);
        for (const char* file : {"Tweenora.so", "TweenoraModels.so"})
            fs::copy_file(fs::path(TWEENORA_NAN_PLUGIN_DIR) / file, plugins / file);
        fs::resize_file(plugins / row.file, fs::file_size(plugins / row.file) / 2);
        const ToolRun r = retime(
            {in(), out(), "--frame-keys", "1:1,3:2", "--cpu", "--plugin-path", plugins.string()});
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("is cut short"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("INTERNAL ASSERT"), std::string::npos) << r.err;
    }
}

TEST_F(RetimeTest, NotesWhatTheInputHoldsBeyondTheEncoding) {
    makeClip();
    // Frames 2 and 3 with a highlight above the encoding's top, a negative
    // value and an infinite one in the colour channels.
    for (int bad = 2; bad <= 3; ++bad) {
        host::ClipFrame frame = readImage(inFrame(bad).string(), Colorspace::Auto);
        frame.planes[DD::Image::Chan_Red][0] = 1000.0f;
        frame.planes[DD::Image::Chan_Green][1] = -0.5f;
        frame.planes[DD::Image::Chan_Blue][2] = std::numeric_limits<float>::infinity();
        WriteSettings settings;
        settings.floatData = true;
        settings.layout = readHeader(inFrame(bad).string()).layout;
        writeImage(inFrame(bad).string(), frame, settings);
    }
    const std::string clamped = "holds values below 0 or above 500; interpolated frames clamp";
    const std::string infinite = "holds infinite values; interpolated frames show them as NaN";
    auto count = [](const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    };
    // Output frames 1-4 read source frames 1-3: one note of each kind, naming frame 2.
    ToolRun r = retime({in(), out(), "--speed", "0.5", "--cpu", "--frames", "1-4"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count(r.err, clamped), 1u) << r.err;
    EXPECT_NE(r.err.find("'" + inFrame(2).string() + "' " + clamped), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--set colorspace_convert=false keeps them"), std::string::npos) << r.err;
    EXPECT_EQ(count(r.err, infinite), 1u) << r.err;
    // Without the encoding, or reading only clean frames, there is nothing to say.
    r = retime({in(), out(), "--speed", "0.5", "--cpu", "--frames", "1-4", "--set",
                "colorspace_convert=false"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("tweenora: note"), std::string::npos) << r.err;
    r = retime({in(), out(), "--speed", "0.5", "--cpu", "--frames", "7-10"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("tweenora: note"), std::string::npos) << r.err;
}

TEST_F(RetimeTest, NotesAFileWhoseNameHidesItsFormat) {
    makeClip();
    for (int frame = 1; frame <= 2; ++frame) {
        const fs::path png = folder_ / "in" / frameName("p", frame, "png");
        WriteSettings settings;
        settings.inputType = SampleType::UInt8;
        writeImage(png.string(), readImage(inFrame(frame).string(), Colorspace::Auto), settings);
        fs::rename(png, folder_ / "in" / frameName("p", frame, "exr"));
    }
    const ToolRun r = retime({in("p.####.exr"), out(), "--speed", "1", "--cpu"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string note = "tweenora: note: '" +
                             (folder_ / "in" / frameName("p", 1, "exr")).string() +
                             "' is a png file, not openexr as its name says; read as png, its "
                             "colour converted from sRGB\n";
    EXPECT_NE(r.err.find(note), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("tweenora: note", r.err.find(note) + 1), std::string::npos) << r.err;
    // A file that is what its name says gets no note.
    EXPECT_EQ(
        retime({in(), out("plain.####.exr"), "--speed", "1", "--cpu"}).err.find("tweenora: note"),
        std::string::npos);
}

TEST_F(RetimeTest, CheckPrintsTheOutputRangeAndRefusesWhatARunWouldRefuse) {
    makeClip();
    struct Row {
        std::vector<std::string> options;
        int status;
        const char* says;  //!< on standard output when the check passes, else on standard error
    };
    const Row rows[] = {
        {{"--speed", "0.5"}, 0, "1 10\n"},
        // The range the run renders, whichever options are given, and where.
        {{"--speed", "0.5", "--quiet", "--speed", "0.25"}, 0, "1 20\n"},
        {{"--range", "2-5", "--frame-keys", "3:2,7:5"}, 0, "3 7\n"},
        {{"--speed", "0.5", "--frames", "9-10"}, 0, "1 10\n"},
        {{"--speed", "0.5", "--bogus"}, 2, "unknown option '--bogus'"},
        {{"--speed", "0.5", "--frames", "11"}, 2, "outside the output range 1-10"},
    };
    for (const Row& row : rows) {
        std::string line;
        for (const std::string& arg : row.options)
            line += arg + " ";
        SCOPED_TRACE(line);
        std::vector<std::string> args = {in(), out(), "--cpu", "--check"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const ToolRun r = retime(args);
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_NE((row.status == 0 ? r.out : r.err).find(row.says), std::string::npos)
            << r.out << r.err;
    }
    // Nor an output without a frame field that names no video format.
    const ToolRun r = retime({in(), out("r.exr"), "--speed", "0.5", "--check"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("has no frame number in its file name"), std::string::npos) << r.err;
    EXPECT_TRUE(entries("out").empty());
}

TEST_F(RetimeTest, RefusesToWriteOverItsInput) {
    makeClip();
    const std::string before = readFile(inFrame(2));
    for (const std::string& target :
         {in(), (folder_ / "in" / ".." / "in" / "s.%04d.exr").string()}) {
        SCOPED_TRACE(target);
        const ToolRun r = retime({in(), target, "--speed", "1", "--cpu"});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("it is an input file"), std::string::npos) << r.err;
    }
    EXPECT_EQ(readFile(inFrame(2)), before);
    // With --range, the pattern still names the plate's other frames.
    const std::string later = readFile(inFrame(4));
    const ToolRun r =
        retime({in(), in(), "--range", "1-3", "--speed", "0.5", "--frames", "4", "--cpu"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("the output pattern names the input's own files"), std::string::npos)
        << r.err;
    EXPECT_TRUE(readFile(inFrame(4)) == later) << "frame 4 of the plate was overwritten";
}

// A grey first frame (one Y channel) fills red, green and blue as R, G and B
// do: its channel names must count, or the others' colour is written grey.
TEST_F(RetimeTest, FramesWithOtherChannelNamesThanTheFirstAreRefused) {
    makeClip();
    const Image second = load(inFrame(2));
    OIIO::ImageSpec spec = second.spec;
    std::vector<std::string> names = {"Y"};
    for (const std::string& name : spec.channelnames)
        if (name != "R" && name != "G" && name != "B")
            names.push_back(name);
    std::vector<float> pixels;
    for (size_t p = 0; p < second.pixelCount(); ++p)
        for (const std::string& name : names)
            pixels.push_back(second.at(p, second.channel(name == "Y" ? "G" : name)));
    spec.nchannels = int(names.size());
    spec.channelnames = names;
    spec.channelformats.clear();
    spec.alpha_channel = -1;
    spec.z_channel = -1;
    for (int frame : {1, 6}) {
        SCOPED_TRACE(frame);
        fs::remove_all(folder_ / "in");
        makeClip();
        const std::string file = inFrame(frame).string();
        std::unique_ptr<OIIO::ImageOutput> grey = OIIO::ImageOutput::create(file);
        ASSERT_TRUE(grey && grey->open(file, spec) &&
                    grey->write_image(OIIO::TypeDesc::FLOAT, pixels.data()) && grey->close());
        const ToolRun r = retime({in(), out(), "--speed", "1", "--cpu"});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("differ from those of"), std::string::npos) << r.err;
        EXPECT_TRUE(entries("out").empty());
    }
}

// Options for a video given with a sequence output do nothing, and say so.
TEST_F(RetimeTest, NotesVideoOptionsGivenForASequence) {
    makeClip();
    const ToolRun r = retime(
        {in(), out(), "--frames", "1", "--speed", "1", "--cpu", "--fps", "30", "--crf", "20"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("--fps and --crf set how a video is encoded: '" + out() +
                         "' is an image sequence, so they are not used"),
              std::string::npos)
        << r.err;
    const ToolRun plain = retime({in(), out(), "--frames", "1", "--speed", "1", "--cpu"});
    EXPECT_EQ(plain.err.find("how a video is encoded"), std::string::npos) << plain.err;
}

TEST_F(RetimeTest, BadUsageStopsWithStatusTwo) {
    makeClip();
    struct Row {
        std::vector<std::string> args;
        const char* says;
    };
    const Row rows[] = {
        {{}, "give INPUT and OUTPUT"},
        {{in()}, "give INPUT and OUTPUT"},
        {{in(), out(), "--bogus"}, "unknown option '--bogus'"},
        {{in(), out(), "--speed", "fast"}, "--speed"},
        {{in(), out(), "--speed", "0.5", "--frame-keys", "1:1"}, "not both"},
        {{in(), out(), "--speed", "0.5", "--frames", "11"}, "outside the output range 1-10"},
        {{in(), out(), "--colorspace", "rec709"}, "--colorspace"},
        {{in(), out("r.####.nosuchformat")}, "nosuchformat"},
        {{in("x.####.exr"), out()}, "x.####.exr"},
        {{in(), out(), "--range", "5-2"}, "ends before it starts"},
        {{in(), out(), "--channels", "nosuchlayer"}, "nosuchlayer"},
        {{in(), out(), "--threads", "0"}, "--threads"},
        // Frame rates and rate factors a video cannot be written with.
        {{in(), out("r.mp4"), "--fps", "1/1000000"}, "a frame rate from 0.001 to 1000"},
        {{in(), out("r.mp4"), "--fps", "0.0001"}, "a frame rate from 0.001 to 1000"},
        {{in(), out("r.mp4"), "--crf", "52"}, "--crf: 52 is outside the libx264 encoder's range"},
        {{in(), out("r.mkv"), "--codec", "libx265", "--crf", "99"},
         "--crf: 99 is outside the libx265 encoder's range"},
        // A vanishing speed publishes an output range beyond the int32 limit.
        {{in(), out(), "--speed", "1e-9"}, "cannot be numbered"},
        {{in(), out(), "--speed", "1e-6"}, "choose some with --frames"},
        {{in(), out(), "--factor", "2", "--speed", "1"}, "not both"},
        {{in(), out(), "--to-fps", "60"}, "give it with --from-fps"},
        {{in(), out("r.mov"), "--skip-existing"}, "is a video, written whole in one go"},
        // Speeds that map no frame anywhere sensible, as options and as knobs.
        {{in(), out(), "--speed", "0"}, "--speed: '0' is not a number above 0"},
        {{in(), out(), "--speed", "-1"}, "--speed: '-1' is not a number above 0"},
        {{in(), out(), "--speed", "1e300"}, "--speed: '1e300' is not a number above 0"},
        {{in(), out(), "--set", "speed=-0.5"}, "'speed=-0.5': speed must be a number above 0"},
        {{in(), out(), "--frame-keys", "1:1,5:1e300"}, "--frame-keys: '5:1e300' is not a key"},
        // Knob values outside what the knob means.
        {{in(), out(), "--set", "nan_error_threshold=-1"}, "nan_error_threshold must be"},
        {{in(), out(), "--set", "threshold=-0.5"}, "threshold must be a timestep of 0 or more"},
        {{in(), out(), "--set", "steps=0"}, "steps must be a whole number from 1 to 6"},
        {{in(), out(), "--set", "steps=7"}, "steps must be a whole number from 1 to 6"},
        {{in(), out(), "--set", "padding=-4"}, "padding must be"},
        {{in(), out(), "--set", "overlap=-4"}, "overlap must be"},
        {{in(), out(), "--set", "max_size=16"},
         "max_size must be a whole number of pixels, at least 32"},
    };
    for (const Row& row : rows) {
        std::string line;
        for (const std::string& arg : row.args)
            line += arg + " ";
        SCOPED_TRACE(line);
        const ToolRun r = retime(row.args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
    }
    EXPECT_TRUE(entries("out").empty());
    // max_size 0 is the node's way of processing the frame whole.
    const ToolRun whole = retime({in(), out(), "--cpu", "--frames", "1", "--set", "max_size=0"});
    EXPECT_EQ(whole.status, 0) << whole.err;
}

// A full disk fails the frame that does not fit with status 1, naming it and
// the cause: every file written before it is whole, nothing partial is left,
// and a video is not left at all. The disk is filled to leave room for about
// two and a half frames (or half the video) of what one run writes.
TEST_F(RetimeTest, AFullDiskStopsWithStatusOneNamingTheFrame) {
    const testing::SmallDisk disk(folder_ / "full", 1024);
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    makeClip();
    for (const std::string extension : {"png", "jpg", "exr", "tif", "dpx", "mov"}) {
        SCOPED_TRACE(extension);
        for (const auto& entry : fs::directory_iterator(folder_ / "full"))
            fs::remove_all(entry.path());
        const bool video = extension == "mov";
        const std::string name = video ? "r.mov" : "r.####." + extension;
        fs::remove_all(folder_ / "out");
        const ToolRun sized = retime({in(), out(name), "--speed", "1", "--cpu", "--quiet"});
        ASSERT_EQ(sized.status, 0) << sized.err;
        uintmax_t written = 0;
        for (const auto& entry : fs::directory_iterator(folder_ / "out"))
            written += entry.file_size();
        const uintmax_t room = video ? written / 2 : written * 5 / (2 * kClipFrames);
        const uintmax_t free = fs::space(folder_ / "full").available;
        ASSERT_GT(free, room);
        {
            std::ofstream filler(folder_ / "full" / "filler", std::ios::binary);
            const std::string block(free - room, 'x');
            filler << block;
            ASSERT_TRUE(filler.flush());
        }
        const ToolRun r =
            retime({in(), (folder_ / "full" / name).string(), "--speed", "1", "--cpu", "--quiet"});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("tweenora: error: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
        if (!video) {
            EXPECT_NE(r.err.find("tweenora: error: frame "), std::string::npos) << r.err;
        }
        int kept = 0;
        for (const auto& entry : fs::directory_iterator(folder_ / "full")) {
            const std::string file = entry.path().filename().string();
            if (file == "filler")
                continue;
            EXPECT_FALSE(video) << file;
            EXPECT_EQ(file.find("partial"), std::string::npos) << file;
            std::unique_ptr<OIIO::ImageInput> image = OIIO::ImageInput::open(entry.path().string());
            ASSERT_TRUE(image) << file;
            std::vector<float> pixels(size_t(image->spec().image_pixels()) *
                                      image->spec().nchannels);
            EXPECT_TRUE(image->read_image(0, 0, 0, image->spec().nchannels, OIIO::TypeDesc::FLOAT,
                                          pixels.data()))
                << file << ": " << image->geterror();
            ++kept;
        }
        EXPECT_LT(kept, kClipFrames);
    }
}

TEST_F(RetimeTest, FactorKeepsEverySourceFrameBitForBit) {
    makeClip();
    const ToolRun r = retime({in(), out(), "--factor", "2", "--cpu"});
    ASSERT_EQ(r.status, 0) << r.err;
    // 6 frames at factor 2: 11, source frame f at output 2f - 1.
    EXPECT_EQ(entries("out").size(), 11u);
    for (int frame = 1; frame <= kClipFrames; ++frame)
        expectSamePixels(outFrame(2 * frame - 1), inFrame(frame));
    expectBeatsAveraging(outFrame(4), 2.5, kRgb);
    // The note about the default speed is for runs that choose no timing.
    EXPECT_EQ(r.err.find("default speed"), std::string::npos) << r.err;
}

TEST_F(RetimeTest, PlanReadsTheClipAsRetimeDoes) {
    makeClip();
    for (const std::string timing : {"--factor", "--speed"}) {
        SCOPED_TRACE(timing);
        const std::string value = timing == "--factor" ? "3" : "0.5";
        const ToolRun fromClip = run(TWEENORA_TOOL, {"plan", in(), timing, value, "--json"});
        const ToolRun fromRange =
            run(TWEENORA_TOOL,
                {"plan", "--range", "1-" + std::to_string(kClipFrames), timing, value, "--json"});
        ASSERT_EQ(fromClip.status, 0) << fromClip.err;
        ASSERT_EQ(fromRange.status, 0) << fromRange.err;
        EXPECT_EQ(fromClip.out, fromRange.out);
    }
    // --range narrows the clip, and must lie inside it.
    const ToolRun narrowed =
        run(TWEENORA_TOOL, {"plan", in(), "--range", "2-4", "--factor", "2", "--range-only"});
    EXPECT_EQ(narrowed.status, 0) << narrowed.err;
    EXPECT_EQ(narrowed.out, "2 6\n");
    const ToolRun outside = run(TWEENORA_TOOL, {"plan", in(), "--range", "2-9", "--factor", "2"});
    EXPECT_EQ(outside.status, 2);
    EXPECT_EQ(run(TWEENORA_TOOL, {"plan", in("x.####.exr"), "--factor", "2"}).status, 2);
}

TEST_F(RetimeTest, LargeFrameNumbersShowTheirOwnSourceFrames) {
    makeClip({"--frames", "1-4"});
    // The same pictures numbered where float32 no longer holds every frame.
    const int64_t first = 16777217;
    fs::create_directories(folder_ / "big");
    for (int frame = 1; frame <= 4; ++frame)
        fs::copy_file(inFrame(frame),
                      folder_ / "big" / ("s." + std::to_string(first + frame - 1) + ".exr"));
    const std::string big = (folder_ / "big" / "s.#.exr").string();
    ToolRun r = retime({big, out("r.#.exr"), "--speed", "1", "--cpu"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (int frame = 1; frame <= 4; ++frame)
        expectSamePixels(folder_ / "out" / ("r." + std::to_string(first + frame - 1) + ".exr"),
                         inFrame(frame));
    // At half speed the in-between frames are interpolated, not pairs of copies.
    r = retime({big, out("h.#.exr"), "--speed", "0.5", "--cpu", "--frames",
                std::to_string(first) + "-" + std::to_string(first + 1)});
    ASSERT_EQ(r.status, 0) << r.err;
    expectBeatsAveraging(folder_ / "out" / ("h." + std::to_string(first) + ".exr"), 1.25, kRgb);
    expectBeatsAveraging(folder_ / "out" / ("h." + std::to_string(first + 1) + ".exr"), 1.75, kRgb);
}

TEST_F(RetimeTest, FrameNumbersBeyondInt32AreRefusedBeforeAnyWork) {
    makeClip({"--frames", "1-2"});
    fs::create_directories(folder_ / "top");
    fs::copy_file(inFrame(1), folder_ / "top" / "s.2147483646.exr");
    fs::copy_file(inFrame(2), folder_ / "top" / "s.2147483647.exr");
    const std::string top = (folder_ / "top" / "s.#.exr").string();
    ToolRun r = retime({top, out("r.#.exr"), "--speed", "1", "--cpu"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entries("out"), (std::vector<std::string>{"r.2147483646.exr", "r.2147483647.exr"}));
    r = retime({top, out("q.#.exr"), "--factor", "2", "--cpu"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("output frame 2147483648 cannot be numbered"), std::string::npos) << r.err;
    EXPECT_EQ(entries("out").size(), 2u);
}

// A run killed outright (SIGKILL) once its third frame is written.
ToolRun killedAfterThirdFrame(const std::string& tool, const std::vector<std::string>& args,
                              const fs::path& folder) {
    std::string command = testing::quoted(tool) + " retime";
    for (const std::string& arg : args)
        command += " " + testing::quoted(arg);
    // The tool's plain progress lines name each frame once it is written.
    const std::string script = "{ " + command + " 2>&1 & echo $! > pid; wait; } | " +
                               "while IFS= read -r line; do case \"$line\" in " +
                               "'frame 3 of '*) kill -KILL \"$(cat pid)\"; break;; esac; done";
    return testing::runShell("bash -c " + testing::quoted(script), folder);
}

TEST_F(RetimeTest, SkipExistingRendersOnlyWhatAKilledRunLeftOut) {
    makeClip();
    const std::vector<std::string> args = {in(), out(), "--factor", "2", "--cpu", "--threads", "1"};
    killedAfterThirdFrame(TWEENORA_TOOL, args, folder_);
    std::vector<std::string> left = entries("out");
    // Only finished frames carry their names; a partial file may remain hidden.
    left.erase(std::remove_if(left.begin(), left.end(),
                              [](const std::string& name) { return name[0] == '.'; }),
               left.end());
    ASSERT_GE(left.size(), 3u);
    ASSERT_LT(left.size(), 11u) << "the run finished before it was killed";
    std::map<std::string, fs::file_time_type> written;
    for (const std::string& name : left)
        written[name] = fs::last_write_time(folder_ / "out" / name);

    std::vector<std::string> again = args;
    again.push_back("--skip-existing");
    const ToolRun r = retime(again);
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t missing = 11 - left.size();
    EXPECT_NE(r.err.find(std::to_string(left.size()) + " of 11 frames exist in "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("wrote " + std::to_string(missing) + " frames"), std::string::npos)
        << r.err;
    EXPECT_EQ(entries("out").size(), 11u);
    for (const auto& [name, time] : written)
        EXPECT_EQ(fs::last_write_time(folder_ / "out" / name), time) << name << " was rewritten";
    for (int frame = 1; frame <= kClipFrames; ++frame)
        expectSamePixels(outFrame(2 * frame - 1), inFrame(frame));

    // With every frame there, a rerun has nothing to do.
    const ToolRun done = retime(again);
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_NE(done.err.find("nothing to do: all 11 frames"), std::string::npos) << done.err;
}

TEST_F(RetimeTest, NoOverwriteStopsBeforeAnyWork) {
    makeClip();
    const std::vector<std::string> args = {in(), out(), "--speed", "1", "--cpu", "--no-overwrite"};
    ToolRun r = retime(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string before = readFile(outFrame(2));
    fs::remove(outFrame(4));
    r = retime(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--no-overwrite: 5 of the 6 planned output files exist, such as '" +
                         outFrame(1).string() + "'"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(outFrame(4)));
    EXPECT_EQ(readFile(outFrame(2)), before);
    // Without it, the default stays: every frame is written again.
    r = retime({in(), out(), "--speed", "1", "--cpu"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(outFrame(4)));
}

TEST_F(RetimeTest, TheNodesPerLayerLineIsForDebugging) {
    makeClip({"--frames", "1-2"});
    for (const bool debug : {false, true}) {
        SCOPED_TRACE(debug);
        std::vector<std::string> args = {in(), out(), "--speed", "0.5", "--cpu", "--frames", "1"};
        if (debug)
            args.push_back("--debug");
        const ToolRun r = retime(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.find("Tweenora1: Running inference for layer 'rgba'") != std::string::npos,
                  debug)
            << r.out;
    }
}

}  // namespace
}  // namespace tweenora::media
