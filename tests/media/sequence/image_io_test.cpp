// SPDX-License-Identifier: Apache-2.0
// Tests of image files: channel names, windows, colour rules and safe writes.
#include "media/sequence/image_io.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <DDImage/Channel.h>

#include "host/Error.h"
#include "tests/media/media_test_support.h"

namespace tweenora::media {
namespace {

namespace fs = std::filesystem;
using DD::Image::Channel;

class ImageIoTest : public testing::ScratchFolderTest {
protected:
    ImageIoTest() : ScratchFolderTest("image_io") {}
    void TearDown() override { fs::remove_all(folder_); }
    std::string path(const std::string& name) const { return (folder_ / name).string(); }

    // Writes pixels (interleaved, rows from the top) with OpenImageIO directly.
    static void writeFile(const std::string& file, const OIIO::ImageSpec& spec,
                          const std::vector<float>& pixels) {
        std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(file);
        ASSERT_TRUE(out);
        ASSERT_TRUE(out->open(file, spec)) << out->geterror();
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, pixels.data())) << out->geterror();
        ASSERT_TRUE(out->close());
    }

    // The bytes as stored, alpha not multiplied in.
    static std::vector<uint8_t> readBytes(const std::string& file, OIIO::ImageSpec& spec) {
        OIIO::ImageSpec config;
        config.attribute("oiio:UnassociatedAlpha", 1);
        std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::open(file, &config);
        EXPECT_TRUE(in) << OIIO::geterror();
        if (!in)
            return {};
        spec = in->spec();
        std::vector<uint8_t> bytes(size_t(spec.width) * spec.height * spec.nchannels);
        EXPECT_TRUE(in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::UINT8, bytes.data()));
        return bytes;
    }

    std::vector<std::string> folderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_))
            names.push_back(entry.path().filename().string());
        return names;
    }
};

TEST(ChannelNames, MapFileNamesToHostChannels) {
    struct Row {
        const char* fileName;
        std::vector<std::string> hostNames;
    };
    const Row rows[] = {
        {"R", {"rgba.red"}},          {"G", {"rgba.green"}},
        {"B", {"rgba.blue"}},         {"A", {"rgba.alpha"}},
        {"Z", {"depth.Z"}},           {"depth.Z", {"depth.Z"}},
        {"forward.u", {"forward.u"}}, {"diffuse.direct.R", {"diffuse_direct.R"}},
        {"mask", {"other.mask"}},     {"Y", {"rgba.red", "rgba.green", "rgba.blue"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fileName);
        std::vector<std::string> names;
        for (Channel c : channelsForFileName(row.fileName))
            names.push_back(DD::Image::getName(c));
        EXPECT_EQ(names, row.hostNames);
    }
    EXPECT_EQ(fileNameForChannel(DD::Image::Chan_Alpha), "A");
    EXPECT_EQ(fileNameForChannel(DD::Image::getChannel("depth.Z")), "depth.Z");
}

// A 6 x 4 display window whose data window is x 1-3, file rows 0-1: in the
// host (rows from the bottom) the box (1, 2, 4, 4).
TEST_F(ImageIoTest, ExrDataWindowBecomesTheBoxAndEveryChannelIsRead) {
    OIIO::ImageSpec spec(3, 2, 5, OIIO::TypeDesc::HALF);
    spec.x = 1;
    spec.y = 0;
    spec.full_x = 0;
    spec.full_y = 0;
    spec.full_width = 6;
    spec.full_height = 4;
    spec.channelnames = {"R", "G", "B", "A", "depth.Z"};
    std::vector<float> pixels(3 * 2 * 5);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = 0.25f * float(i);
    writeFile(path("window.exr"), spec, pixels);

    const ImageHeader header = readHeader(path("window.exr"));
    EXPECT_EQ(header.box, DD::Image::Box(1, 2, 4, 4));
    EXPECT_EQ(header.format.width(), 6);
    EXPECT_EQ(header.format.height(), 4);
    EXPECT_EQ(header.sampleType, SampleType::Half);
    EXPECT_TRUE(header.channels.contains(DD::Image::Mask_RGBA));
    EXPECT_TRUE(header.channels.contains(DD::Image::getChannel("depth.Z")));

    const host::ClipFrame frame = readImage(path("window.exr"), Colorspace::Auto);
    EXPECT_EQ(frame.box, DD::Image::Box(1, 2, 4, 4));
    // Host row 0 of the box is the file's lower row (1); float data stays linear.
    const std::vector<float>& depth = frame.planes.at(DD::Image::getChannel("depth.Z"));
    EXPECT_FLOAT_EQ(depth[0], pixels[(1 * 3 + 0) * 5 + 4]);
    EXPECT_FLOAT_EQ(depth[2 + 3], pixels[(0 * 3 + 2) * 5 + 4]);
    EXPECT_FLOAT_EQ(frame.planes.at(DD::Image::Chan_Red)[1], pixels[(1 * 3 + 1) * 5 + 0]);
}

TEST_F(ImageIoTest, MultiPartExrLayersAllCount) {
    OIIO::ImageSpec specs[2] = {OIIO::ImageSpec(2, 2, 3, OIIO::TypeDesc::HALF),
                                OIIO::ImageSpec(2, 2, 1, OIIO::TypeDesc::FLOAT)};
    specs[0].channelnames = {"R", "G", "B"};
    specs[0].attribute("name", "rgb");
    specs[1].channelnames = {"depth.Z"};
    specs[1].attribute("name", "depth");
    const std::string file = path("parts.exr");
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(file);
    ASSERT_TRUE(out->supports("multiimage"));
    ASSERT_TRUE(out->open(file, 2, specs)) << out->geterror();
    const std::vector<float> colour = {0.5f, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    const std::vector<float> depth = {20, 21, 22, 23};
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, colour.data()));
    ASSERT_TRUE(out->open(file, specs[1], OIIO::ImageOutput::AppendSubimage));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, depth.data()));
    ASSERT_TRUE(out->close());

    const ImageHeader header = readHeader(file);
    EXPECT_EQ(header.layout.size(), 4u);
    EXPECT_EQ(header.sampleType, SampleType::Float);
    const host::ClipFrame frame = readImage(file, Colorspace::Auto);
    // Host row 0 is the file's last row.
    EXPECT_EQ(frame.planes.at(DD::Image::getChannel("depth.Z")),
              (std::vector<float>{22, 23, 20, 21}));
    EXPECT_EQ(frame.planes.at(DD::Image::Chan_Blue), (std::vector<float>{8, 11, 2, 5}));
}

TEST_F(ImageIoTest, ExrWriteKeepsWindowsNamesAndValues) {
    host::ClipFrame frame;
    frame.box = DD::Image::Box(1, 2, 4, 4);
    frame.format = DD::Image::Format(6, 4);
    frame.planes[DD::Image::Chan_Red] = {0.5f, 1.0f, 4.0f, 0.25f, 0.0f, 2.0f};
    frame.planes[DD::Image::Chan_Alpha] = {1.0f, 1.0f, 0.5f, 0.0f, 1.0f, 1.0f};
    frame.planes[DD::Image::getChannel("depth.Z")] = {10, 11, 12, 13, 14, 15};
    WriteSettings settings;
    settings.layout = {{"depth.Z", {DD::Image::getChannel("depth.Z")}},
                       {"R", {DD::Image::Chan_Red}},
                       {"A", {DD::Image::Chan_Alpha}}};
    const std::vector<std::string> dropped = writeImage(path("out.exr"), frame, settings);
    EXPECT_TRUE(dropped.empty());
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"out.exr"});

    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::open(path("out.exr"));
    ASSERT_TRUE(in);
    const OIIO::ImageSpec& spec = in->spec();
    EXPECT_EQ(spec.format, OIIO::TypeDesc::HALF);
    EXPECT_EQ(spec.x, 1);
    EXPECT_EQ(spec.y, 0);
    EXPECT_EQ(spec.width, 3);
    EXPECT_EQ(spec.height, 2);
    EXPECT_EQ(spec.full_width, 6);
    EXPECT_EQ(spec.full_height, 4);
    in.reset();

    const host::ClipFrame back = readImage(path("out.exr"), Colorspace::Auto);
    EXPECT_EQ(back.box, frame.box);
    for (const auto& [channel, plane] : frame.planes) {
        SCOPED_TRACE(DD::Image::getName(channel));
        EXPECT_EQ(back.planes.at(channel), plane);
    }
}

TEST_F(ImageIoTest, PngIsLinearisedOnReadAndEncodedBackExactly) {
    // Unassociated colour with alpha, as PNG stores it.
    OIIO::ImageSpec spec(4, 1, 4, OIIO::TypeDesc::UINT8);
    const std::vector<float> bytes = {0,   64,  128, 255, 200, 100, 50, 128,
                                      255, 255, 255, 1,   30,  60,  90, 0};
    std::vector<float> pixels;
    for (float b : bytes)
        pixels.push_back(b / 255.0f);
    OIIO::ImageSpec config = spec;
    config.attribute("oiio:UnassociatedAlpha", 1);
    writeFile(path("in.png"), config, pixels);

    const host::ClipFrame frame = readImage(path("in.png"), Colorspace::Auto);
    // The second pixel: colour linearised, then multiplied by alpha 128/255.
    const float alpha = 128.0f / 255.0f;
    EXPECT_NEAR(frame.planes.at(DD::Image::Chan_Red)[1], srgbToLinear(200.0f / 255.0f) * alpha,
                1e-6f);
    EXPECT_NEAR(frame.planes.at(DD::Image::Chan_Alpha)[1], alpha, 1e-6f);

    const ImageHeader header = readHeader(path("in.png"));
    WriteSettings settings;
    settings.inputType = header.sampleType;
    settings.layout = header.layout;
    writeImage(path("out.png"), frame, settings);
    OIIO::ImageSpec outSpec;
    const std::vector<uint8_t> written = readBytes(path("out.png"), outSpec);
    EXPECT_EQ(outSpec.format, OIIO::TypeDesc::UINT8);
    // Colour under zero alpha is gone once multiplied by alpha; every other byte survives.
    const std::vector<uint8_t> expected = {0,   64,  128, 255, 200, 100, 50, 128,
                                           255, 255, 255, 1,   0,   0,   0,  0};
    EXPECT_EQ(written, expected);
}

TEST_F(ImageIoTest, LinearColourSpaceLeavesIntegerValuesAlone) {
    OIIO::ImageSpec spec(1, 1, 3, OIIO::TypeDesc::UINT8);
    writeFile(path("grey.png"), spec, {128 / 255.0f, 128 / 255.0f, 128 / 255.0f});
    const host::ClipFrame frame = readImage(path("grey.png"), Colorspace::Linear);
    EXPECT_FLOAT_EQ(frame.planes.at(DD::Image::Chan_Green)[0], 128 / 255.0f);
}

TEST_F(ImageIoTest, FormatsWithoutRoomForLayersDropThemAndSayWhich) {
    host::ClipFrame frame;
    frame.box = DD::Image::Box(0, 0, 2, 1);
    frame.format = DD::Image::Format(2, 1);
    for (Channel c : {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue,
                      DD::Image::Chan_Alpha, DD::Image::getChannel("depth.Z")})
        frame.planes[c] = {0.5f, 1.0f};
    WriteSettings settings;
    EXPECT_EQ(writeImage(path("out.png"), frame, settings), std::vector<std::string>{"depth.Z"});
    EXPECT_EQ(writeImage(path("out.jpg"), frame, settings),
              (std::vector<std::string>{"rgba.alpha", "depth.Z"}));
    EXPECT_TRUE(writeImage(path("out.tif"), frame, settings).empty());
}

TEST_F(ImageIoTest, UnreadableFilesNameThemselves) {
    std::vector<float> pixels(64 * 48 * 4, 0.5f);
    writeFile(path("whole.exr"), OIIO::ImageSpec(64, 48, 4, OIIO::TypeDesc::FLOAT), pixels);
    fs::copy_file(path("whole.exr"), path("cut.exr"));
    fs::resize_file(path("cut.exr"), fs::file_size(path("whole.exr")) / 2);
    { std::ofstream(path("text.exr")) << "not an image"; }
    for (const char* name : {"cut.exr", "text.exr", "missing.exr"}) {
        SCOPED_TRACE(name);
        try {
            readImage(path(name), Colorspace::Auto);
            FAIL() << "read it";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(path(name)), std::string::npos) << e.what();
        }
    }
}

TEST_F(ImageIoTest, ExifOrientationIsTurnedUprightAsViewersShowIt) {
    // Stored 16x8: red, green over blue, white, in quadrants of 8x4.
    constexpr int kWidth = 16, kHeight = 8;
    enum Colour { Red, Green, Blue, White };
    const float rgb[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
    std::vector<float> pixels;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int quadrant = (y < kHeight / 2 ? 0 : 2) + (x < kWidth / 2 ? 0 : 1);
            pixels.insert(pixels.end(), rgb[quadrant], rgb[quadrant] + 3);
        }
    struct Row {
        int orientation;
        // The colours shown top left, top right, bottom left, bottom right.
        Colour shown[4];
    };
    const Row rows[] = {
        {1, {Red, Green, Blue, White}}, {2, {Green, Red, White, Blue}},  // mirrored left to right
        {3, {White, Blue, Green, Red}},                                  // half a turn
        {6, {Blue, Red, White, Green}},                                  // a quarter turn clockwise
        {8, {Green, White, Red, Blue}},  // a quarter turn anticlockwise
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.orientation);
        const std::string file = path("turned" + std::to_string(row.orientation) + ".jpg");
        OIIO::ImageSpec spec(kWidth, kHeight, 3, OIIO::TypeDesc::UINT8);
        spec.attribute("Orientation", row.orientation);
        spec.attribute("CompressionQuality", 100);
        writeFile(file, spec, pixels);
        const host::ClipFrame frame = readImage(file, Colorspace::Linear);
        const bool turned = row.orientation >= 5;
        const int width = turned ? kHeight : kWidth, height = turned ? kWidth : kHeight;
        EXPECT_EQ(frame.format.width(), width);
        EXPECT_EQ(frame.format.height(), height);
        EXPECT_EQ(readHeader(file).orientation, row.orientation);
        // The middle of each shown quadrant, rows counted from the top.
        const int xs[4] = {width / 4, 3 * width / 4, width / 4, 3 * width / 4};
        const int ys[4] = {height / 4, height / 4, 3 * height / 4, 3 * height / 4};
        for (int q = 0; q < 4; ++q) {
            SCOPED_TRACE(q);
            const size_t i = size_t(height - 1 - ys[q]) * width + xs[q];
            EXPECT_NEAR(frame.planes.at(DD::Image::Chan_Red)[i], rgb[row.shown[q]][0], 0.05);
            EXPECT_NEAR(frame.planes.at(DD::Image::Chan_Green)[i], rgb[row.shown[q]][1], 0.05);
            EXPECT_NEAR(frame.planes.at(DD::Image::Chan_Blue)[i], rgb[row.shown[q]][2], 0.05);
        }
    }
}

TEST_F(ImageIoTest, AFailedWriteLeavesNoFileBehind) {
    host::ClipFrame frame;
    frame.box = DD::Image::Box(0, 0, 1, 1);
    frame.format = DD::Image::Format(1, 1);
    frame.planes[DD::Image::Chan_Red] = {1.0f};
    // The target name is taken by a folder: the rename must fail after the
    // temporary file was written completely.
    fs::create_directories(folder_ / "taken.exr" / "inside");
    EXPECT_THROW(writeImage(path("taken.exr"), frame, WriteSettings()), Error);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"taken.exr"});
    EXPECT_THROW(writeImage(path("nowhere/out.exr"), frame, WriteSettings()), Error);
    EXPECT_THROW(checkWritableFormat(path("out.0001.nosuchformat")), Error);
}

}  // namespace
}  // namespace tweenora::media
