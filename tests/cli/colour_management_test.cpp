// SPDX-License-Identifier: Apache-2.0
// Colour-managed plates: a configuration's spaces, Cineon log DPX under auto, the tool with $OCIO.
#include "media/colour/colour_spaces.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include "host/Error.h"
#include "media/sequence/image_io.h"
#include "tests/media/media_test_support.h"

namespace tweenora::media {
namespace {

namespace fs = std::filesystem;

// A configuration with a Cineon log space built from OpenColorIO's own log
// transform: code 685/1023 is white (1.0), code 95/1023 black (0.0).
const char* const kConfig = R"(ocio_profile_version: 2

roles:
  default: linear
  scene_linear: linear
  compositing_log: cineon

file_rules:
  - !<Rule> {name: Default, colorspace: default}

displays:
  sRGB:
    - !<View> {name: Raw, colorspace: linear}

colorspaces:
  - !<ColorSpace>
    name: linear

  - !<ColorSpace>
    name: cineon
    to_scene_reference: !<LogAffineTransform> {base: 10, log_side_slope: 0.293255132, log_side_offset: 0.669599218, lin_side_slope: 0.989202248, lin_side_offset: 0.010797752, direction: inverse}
)";

// Cineon codes and their linear values: (10^((code - 685) / 300) - b) / (1 - b)
// with b = 10^((95 - 685) / 300), worked out by hand.
struct CineonValue {
    int code;
    float linear;
};
const CineonValue kCineon[] = {{685, 1.0f}, {95, 0.0f}, {445, 0.14930f}, {1023, 13.5217f}};

class ColourTest : public testing::ScratchFolderTest {
protected:
    ColourTest() : ScratchFolderTest("colour") {}
    void SetUp() override {
        ScratchFolderTest::SetUp();
        std::ofstream(file("config.ocio")) << kConfig;
        const char* previous = std::getenv("OCIO");
        previous_ = previous ? previous : "";
    }
    void TearDown() override {
        useConfig(previous_);
        ScratchFolderTest::TearDown();
    }
    std::string file(const std::string& name) const { return (folder_ / name).string(); }
    static void useConfig(const std::string& path) {
        if (path.empty())
            ::unsetenv("OCIO");
        else
            ::setenv("OCIO", path.c_str(), 1);
    }

    // A 10-bit DPX of the Cineon codes, one per pixel, in all three channels.
    void writeLogDpx(const std::string& path) {
        OIIO::ImageSpec spec(int(std::size(kCineon)), 1, 3, OIIO::TypeDesc::UINT16);
        spec.attribute("oiio:BitsPerSample", 10);
        spec.attribute("dpx:Transfer", "Logarithmic");
        std::vector<float> pixels;
        for (const CineonValue& value : kCineon)
            for (int c = 0; c < 3; ++c)
                pixels.push_back(value.code / 1023.0f);
        std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
        ASSERT_TRUE(out && out->open(path, spec) &&
                    out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()) && out->close());
    }

    // Runs the tool with environment (such as "OCIO=path" or "env -u OCIO") before it.
    int runTool(const std::string& environment, const std::string& arguments, std::string& out,
                std::string& err) {
        const testing::ToolRun run = testing::runShell(
            environment + " " + testing::quoted(TWEENORA_TOOL) + " " + arguments, folder_);
        out = run.out;
        err = run.err;
        return run.status;
    }

    std::string previous_;
};

TEST_F(ColourTest, ConfigurationSpacesConvertBothWays) {
    useConfig(file("config.ocio"));
    const ColourSpaces spaces;
    EXPECT_EQ(spaces.names(), (std::vector<std::string>{"linear", "cineon"}));
    EXPECT_EQ(spaces.sceneLinear(), "linear");
    EXPECT_EQ(spaces.cineonLog(), "cineon");
    host::ClipFrame frame;
    frame.box = DD::Image::Box(0, 0, int(std::size(kCineon)), 1);
    for (DD::Image::Channel c : {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue})
        for (const CineonValue& value : kCineon)
            frame.planes[c].push_back(value.code / 1023.0f);
    frame.planes[DD::Image::Chan_Alpha] = {0.5f, 0.5f, 0.5f, 0.5f};
    host::ClipFrame linear = frame;
    spaces.convert(linear, "cineon", "linear");
    for (size_t i = 0; i < std::size(kCineon); ++i) {
        SCOPED_TRACE(kCineon[i].code);
        EXPECT_NEAR(linear.planes[DD::Image::Chan_Green][i], kCineon[i].linear,
                    2e-3f * std::max(1.0f, kCineon[i].linear));
    }
    EXPECT_EQ(linear.planes[DD::Image::Chan_Alpha], frame.planes[DD::Image::Chan_Alpha]);
    spaces.convert(linear, "linear", "cineon");
    for (size_t i = 0; i < std::size(kCineon); ++i)
        EXPECT_NEAR(linear.planes[DD::Image::Chan_Blue][i], frame.planes[DD::Image::Chan_Blue][i],
                    1e-5f);
}

TEST_F(ColourTest, AutoFollowsWhatTheFileDeclares) {
    writeLogDpx(file("log.dpx"));
    WriteSettings settings;
    settings.inputType = SampleType::UInt8;
    writeImage(file("plain.png"), readImage(file("log.dpx"), Colorspace::Linear), settings);

    useConfig("");
    const ColourSpaces builtIn;
    EXPECT_EQ(declaredColourSpace(file("plain.png"), builtIn), "");
    try {
        declaredColourSpace(file("log.dpx"), builtIn);
        ADD_FAILURE() << "a log DPX passed as sRGB";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("'" + file("log.dpx") +
                                             "' declares a logarithmic (Cineon) transfer"),
                  std::string::npos)
            << e.what();
    }
    useConfig(file("config.ocio"));
    EXPECT_EQ(declaredColourSpace(file("log.dpx"), ColourSpaces()), "cineon");
}

TEST_F(ColourTest, ToolLinearisesLogDpxAndWritesItBack) {
    fs::create_directories(folder_ / "in");
    for (int frame = 1; frame <= 2; ++frame)
        writeLogDpx(file("in/log." + std::to_string(frame) + ".dpx"));
    std::string out, err;
    const std::string environment = "OCIO='" + file("config.ocio") + "' ";
    ASSERT_EQ(0, runTool(environment, "retime --colorspace list", out, err)) << err;
    EXPECT_EQ(out, "linear\ncineon\n");

    // Auto: EXR output in linear light, through the configuration's Cineon space.
    const std::string common = "--speed 1 --cpu --quiet";
    ASSERT_EQ(0, runTool(environment,
                         "retime '" + file("in/log.#.dpx") + "' '" + file("lin.#.exr") +
                             "' --float " + common,
                         out, err))
        << err;
    const host::ClipFrame linear = readImage(file("lin.1.exr"), Colorspace::Auto);
    for (size_t i = 0; i < std::size(kCineon); ++i)
        EXPECT_NEAR(linear.planes.at(DD::Image::Chan_Red)[i], kCineon[i].linear,
                    2e-3f * std::max(1.0f, kCineon[i].linear))
            << kCineon[i].code;
    // DPX output gets the log encoding back: the same 10-bit codes.
    ASSERT_EQ(
        0, runTool(environment,
                   "retime '" + file("in/log.#.dpx") + "' '" + file("back.#.dpx") + "' " + common,
                   out, err))
        << err;
    const host::ClipFrame back = readImage(file("back.1.dpx"), Colorspace::Linear);
    const host::ClipFrame source = readImage(file("in/log.1.dpx"), Colorspace::Linear);
    for (size_t i = 0; i < std::size(kCineon); ++i)
        EXPECT_NEAR(back.planes.at(DD::Image::Chan_Red)[i] * 1023.0f,
                    source.planes.at(DD::Image::Chan_Red)[i] * 1023.0f, 0.5f)
            << kCineon[i].code;

    // Without $OCIO the tool's own configuration reads Cineon log.
    EXPECT_EQ(
        0, runTool("env -u OCIO",
                   "retime '" + file("in/log.#.dpx") + "' '" + file("x.#.exr") + "' " + common, out,
                   err))
        << err;
    // A name the configuration lacks is refused, pointing at the list.
    EXPECT_EQ(2, runTool(environment,
                         "retime '" + file("in/log.#.dpx") + "' '" + file("x.#.exr") +
                             "' --colorspace ACEScg " + common,
                         out, err));
    EXPECT_NE(err.find("'ACEScg' is neither auto, linear, srgb nor a colour space"),
              std::string::npos)
        << err;
}

// A set $OCIO that cannot be read is an error naming it and why, never a quiet
// switch to the built-in configuration; a space whose LUT is missing names the
// space and the file.
TEST_F(ColourTest, UnreadableConfigurationsAndMissingLutsAreNamed) {
    fs::create_directories(folder_ / "in");
    for (int frame = 1; frame <= 2; ++frame)
        writeLogDpx(file("in/log." + std::to_string(frame) + ".dpx"));
    std::ofstream(file("empty.ocio")).flush();
    std::ofstream(file("broken.ocio")) << "ocio_profile_version: 2\nroles: [unclosed\n";
    fs::create_directories(folder_ / "folder.ocio");
    std::ofstream(file("lut.ocio")) << std::string(kConfig) + R"(
  - !<ColorSpace>
    name: graded
    to_scene_reference: !<FileTransform> {src: missing_grade.cube, interpolation: linear}
)";
    struct Row {
        std::string config;
        std::string colorspace;
        std::vector<std::string> named;
    };
    const Row rows[] = {
        {file("missing.ocio"), "auto", {"$OCIO", file("missing.ocio"), "no such file"}},
        {file("empty.ocio"), "auto", {"$OCIO", file("empty.ocio"), "empty"}},
        {file("broken.ocio"), "auto", {"$OCIO", file("broken.ocio"), "cannot be read: "}},
        {file("folder.ocio"), "auto", {"$OCIO", file("folder.ocio"), "folder"}},
        {file("lut.ocio"), "graded", {"'graded'", "missing_grade.cube"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.config);
        std::string out, err;
        const int status = runTool("OCIO=" + testing::quoted(row.config),
                                   "retime '" + file("in/log.#.dpx") + "' '" + file("x.#.exr") +
                                       "' --speed 1 --cpu --quiet --colorspace " + row.colorspace,
                                   out, err);
        EXPECT_EQ(status, 2) << err;
        for (const std::string& text : row.named)
            EXPECT_NE(err.find(text), std::string::npos) << text << " in: " << err;
        EXPECT_FALSE(fs::exists(file("x.1.exr")));
    }
}

}  // namespace
}  // namespace tweenora::media
