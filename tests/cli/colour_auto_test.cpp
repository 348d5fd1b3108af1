// SPDX-License-Identifier: Apache-2.0
// What auto reads from a file, end to end: ICC profiles' tone curves, and Cineon
// log DPX through the tool's own colour configuration when $OCIO is unset.
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include "host/Error.h"
#include "media/colour/colour_spaces.h"
#include "media/sequence/image_io.h"
#include "tests/media/colour/icc_bytes.h"

namespace tweenora::media {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::curv;
using testing::gammaCurve;
using testing::rgbProfile;
using testing::srgbPara;

class ColourAutoTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The process in the name: suites of other checkouts may run at the same time.
        folder_ = fs::path(::testing::TempDir()) /
                  (std::string("colour_auto_") +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                   std::to_string(::getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "in");
    }
    void TearDown() override {
        if (!HasFailure())
            fs::remove_all(folder_);
    }
    std::string file(const std::string& name) const { return (folder_ / name).string(); }

    // Writes values (one grey level per pixel, in all three channels) with profile attached.
    void writeImage(const std::string& path, const std::vector<float>& values, OIIO::TypeDesc type,
                    const Bytes& icc) {
        OIIO::ImageSpec spec(int(values.size()), 1, 3, type);
        if (!icc.empty())
            spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(icc.size())),
                           icc.data());
        std::vector<float> pixels;
        for (float value : values)
            pixels.insert(pixels.end(), 3, value);
        std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
        ASSERT_TRUE(out && out->open(path, spec) &&
                    out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()) && out->close());
    }
    void writeFrames(const std::string& pattern, const std::vector<float>& values,
                     OIIO::TypeDesc type, const Bytes& icc) {
        for (int frame = 1; frame <= 2; ++frame) {
            std::string path = file("in/" + pattern);
            path.replace(path.find('#'), 1, std::to_string(frame));
            writeImage(path, values, type, icc);
        }
    }

    int runTool(const std::string& environment, const std::string& arguments, std::string& err) {
        const std::string command = environment + " '" + TWEENORA_TOOL + "' retime " + arguments +
                                    " --speed 1 --cpu >/dev/null 2>'" + file("err.txt") +
                                    "' </dev/null";
        const int raw = std::system(command.c_str());
        std::ifstream in(file("err.txt"));
        std::stringstream text;
        text << in.rdbuf();
        err = text.str();
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128;
    }
    int retime(const std::string& input, const std::string& output, std::string& err) {
        return runTool("env -u OCIO", "'" + file("in/" + input) + "' '" + file(output) + "'", err);
    }
    static std::vector<float> red(const host::ClipFrame& frame) {
        return frame.planes.at(DD::Image::Chan_Red);
    }

    fs::path folder_;
};

const std::vector<float> kLevels = {0.0f, 0.2f, 0.5f, 1.0f};

TEST_F(ColourAutoTest, LinearProfileIsReadAndWrittenLinear) {
    const Bytes linear = rgbProfile(curv({}), "Linear RGB");
    writeFrames("lin.#.tif", kLevels, OIIO::TypeDesc::UINT16, linear);
    writeFrames("lin.#.png", kLevels, OIIO::TypeDesc::UINT16, linear);
    for (const std::string extension : {"tif", "png"}) {
        SCOPED_TRACE(extension);
        std::unique_ptr<OIIO::ImageInput> in =
            OIIO::ImageInput::open(file("in/lin.1." + extension));
        ASSERT_TRUE(in && in->spec().find_attribute("ICCProfile"))
            << extension << " kept no ICC profile";
        std::string err;
        ASSERT_EQ(0, retime("lin.#." + extension, "lin.#.exr", err)) << err;
        EXPECT_NE(err.find("carries an ICC profile (Linear RGB) with the identity as its tone "
                           "curve: read as linear light"),
                  std::string::npos)
            << err;
        const std::vector<float> read = red(readImage(file("lin.1.exr"), Colorspace::Auto));
        for (size_t i = 0; i < kLevels.size(); ++i)
            EXPECT_NEAR(read[i], kLevels[i], 1e-3f) << i;
        // Written back as the file held it: linear codes, not sRGB-encoded ones.
        ASSERT_EQ(0, retime("lin.#." + extension, "back.#." + extension, err)) << err;
        const std::vector<float> back =
            red(readImage(file("back.1." + extension), Colorspace::Linear));
        for (size_t i = 0; i < kLevels.size(); ++i)
            EXPECT_NEAR(back[i] * 65535.0f, kLevels[i] * 65535.0f, 1.0f) << i;
    }
}

TEST_F(ColourAutoTest, SrgbProfileIsFollowedOtherProfilesAreNoted) {
    // A float file says sRGB through its profile: linearised, though float.
    writeFrames("srgb.#.tif", kLevels, OIIO::TypeDesc::FLOAT, rgbProfile(srgbPara()));
    std::string err;
    ASSERT_EQ(0, retime("srgb.#.tif", "srgb.#.exr", err)) << err;
    EXPECT_EQ(err.find("ICC"), std::string::npos) << err;
    std::vector<float> read = red(readImage(file("srgb.1.exr"), Colorspace::Auto));
    for (size_t i = 0; i < kLevels.size(); ++i)
        EXPECT_NEAR(read[i], srgbToLinear(kLevels[i]), 1e-3f) << i;

    // Gamma 2.2 is neither: one note, and the 16-bit file is read as sRGB as before.
    writeFrames("g22.#.tif", kLevels, OIIO::TypeDesc::UINT16, rgbProfile(gammaCurve(2.2)));
    ASSERT_EQ(0, retime("g22.#.tif", "g22.#.exr", err)) << err;
    EXPECT_NE(err.find("g22.1.tif' carries an ICC profile with gamma 2.2 as its tone curve, "
                       "which is not followed: read as sRGB"),
              std::string::npos)
        << err;
    read = red(readImage(file("g22.1.exr"), Colorspace::Auto));
    for (size_t i = 0; i < kLevels.size(); ++i)
        EXPECT_NEAR(read[i], srgbToLinear(kLevels[i]), 1e-3f) << i;
    // Saying what the files hold overrides the profile, with no note.
    ASSERT_EQ(0, runTool("",
                         "'" + file("in/g22.#.tif") + "' '" + file("g22l.#.exr") +
                             "' --colorspace linear",
                         err))
        << err;
    EXPECT_EQ(err.find("ICC"), std::string::npos) << err;
    read = red(readImage(file("g22l.1.exr"), Colorspace::Auto));
    EXPECT_NEAR(read[1], kLevels[1], 1e-3f);
}

// Cineon codes and their linear values, worked out by hand:
// (10^((code - 685) / 300) - b) / (1 - b) with b = 10^((95 - 685) / 300).
struct CineonValue {
    int code;
    float linear;
};
const CineonValue kCineon[] = {{685, 1.0f}, {95, 0.0f}, {445, 0.14930f}, {1023, 13.5217f}};

TEST_F(ColourAutoTest, OwnConfigurationConvertsCineonAndSrgb) {
    const std::string own = ownColourConfig();
    ASSERT_FALSE(own.empty());
    const ColourSpaces spaces(own);
    EXPECT_EQ(spaces.configName(), own);
    EXPECT_EQ(spaces.sceneLinear(), "linear");
    EXPECT_EQ(spaces.cineonLog(), "cineon");
    EXPECT_TRUE(spaces.has("sRGB"));
    host::ClipFrame frame;
    for (DD::Image::Channel c :
         {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue}) {
        for (const CineonValue& value : kCineon)
            frame.planes[c].push_back(value.code / 1023.0f);
        frame.planes[c].push_back(0.5f);
    }
    host::ClipFrame linear = frame;
    spaces.convert(linear, "cineon", "linear");
    for (size_t i = 0; i < std::size(kCineon); ++i)
        EXPECT_NEAR(linear.planes[DD::Image::Chan_Green][i], kCineon[i].linear,
                    2e-3f * std::max(1.0f, kCineon[i].linear))
            << kCineon[i].code;
    host::ClipFrame fromSrgb = frame;
    spaces.convert(fromSrgb, "sRGB", "linear");
    EXPECT_NEAR(fromSrgb.planes[DD::Image::Chan_Blue].back(), srgbToLinear(0.5f), 1e-4f);
    EXPECT_THROW(ColourSpaces{file("missing.ocio")}, Error);
}

// Writes in/log.1.dpx and in/log.2.dpx: 10-bit Cineon log codes of kCineon,
// with the colorimetric field where one is given.
void writeLogDpxPlate(const fs::path& folder, const char* colorimetric = nullptr) {
    for (int frame = 1; frame <= 2; ++frame) {
        const std::string path = (folder / ("in/log." + std::to_string(frame) + ".dpx")).string();
        OIIO::ImageSpec spec(int(std::size(kCineon)), 1, 3, OIIO::TypeDesc::UINT16);
        spec.attribute("oiio:BitsPerSample", 10);
        spec.attribute("dpx:Transfer", "Logarithmic");
        if (colorimetric)
            spec.attribute("dpx:Colorimetric", colorimetric);
        std::vector<float> pixels;
        for (const CineonValue& value : kCineon)
            pixels.insert(pixels.end(), 3, value.code / 1023.0f);
        std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
        ASSERT_TRUE(out && out->open(path, spec) &&
                    out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()) && out->close());
    }
}

TEST_F(ColourAutoTest, LogDpxWithoutOcioUsesTheOwnConfiguration) {
    writeLogDpxPlate(folder_);
    if (HasFatalFailure())
        return;
    std::string err;
    ASSERT_EQ(0, retime("log.#.dpx", "lin.#.exr", err)) << err;
    EXPECT_NE(err.find("log.1.dpx' declares 'cineon': converted through the colour configuration " +
                       ownColourConfig()),
              std::string::npos)
        << err;
    const std::vector<float> read = red(readImage(file("lin.1.exr"), Colorspace::Auto));
    for (size_t i = 0; i < std::size(kCineon); ++i)
        EXPECT_NEAR(read[i], kCineon[i].linear, 2e-3f * std::max(1.0f, kCineon[i].linear))
            << kCineon[i].code;

    // $OCIO still wins: a configuration without Cineon log refuses the file.
    std::ofstream(file("plain.ocio")) << "ocio_profile_version: 2\n"
                                         "roles:\n  default: linear\n  scene_linear: linear\n"
                                         "file_rules:\n"
                                         "  - !<Rule> {name: Default, colorspace: default}\n"
                                         "displays:\n  sRGB:\n"
                                         "    - !<View> {name: Raw, colorspace: linear}\n"
                                         "colorspaces:\n  - !<ColorSpace>\n    name: linear\n";
    EXPECT_EQ(2, runTool("OCIO='" + file("plain.ocio") + "'",
                         "'" + file("in/log.#.dpx") + "' '" + file("x.#.exr") + "'", err));
    EXPECT_NE(err.find("has no Cineon log space"), std::string::npos) << err;
}

TEST_F(ColourAutoTest, LogDpxWrittenBackSaysItIsLog) {
    writeLogDpxPlate(folder_, "Printing density");
    if (HasFatalFailure())
        return;
    std::string err;
    ASSERT_EQ(0, retime("log.#.dpx", "in/again.#.dpx", err)) << err;
    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::open(file("in/again.1.dpx"));
    ASSERT_TRUE(in);
    EXPECT_EQ(in->spec().get_string_attribute("dpx:Transfer"), "Logarithmic");
    EXPECT_EQ(in->spec().get_string_attribute("dpx:Colorimetric"), "Printing density");
    // A second retime reads the output as log again, not as sRGB.
    ASSERT_EQ(0, retime("again.#.dpx", "lin.#.exr", err)) << err;
    EXPECT_NE(err.find("declares 'cineon'"), std::string::npos) << err;
    const std::vector<float> read = red(readImage(file("lin.1.exr"), Colorspace::Auto));
    for (size_t i = 0; i < std::size(kCineon); ++i)
        EXPECT_NEAR(read[i], kCineon[i].linear, 4e-3f * std::max(1.0f, kCineon[i].linear))
            << kCineon[i].code;
}

}  // namespace
}  // namespace tweenora::media
