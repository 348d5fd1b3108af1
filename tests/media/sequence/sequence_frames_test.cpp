// SPDX-License-Identifier: Apache-2.0
// Tests of image sequences: every frame must hold the first frame's channels.
#include "media/sequence/sequence_frames.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include "host/Error.h"
#include "tests/media/media_test_support.h"

namespace tweenora::media {
namespace {

namespace fs = std::filesystem;

class SequenceFramesTest : public testing::ScratchFolderTest {
protected:
    SequenceFramesTest() : ScratchFolderTest("sequence_frames") {}

    // A 2x2 grey frame under the channel names given.
    void writeFrame(const std::string& name, const std::vector<std::string>& channels) {
        OIIO::ImageSpec spec(2, 2, int(channels.size()), OIIO::TypeDesc::UINT8);
        spec.channelnames = channels;
        spec.alpha_channel = -1;
        const std::vector<float> pixels(4 * channels.size(), 0.5f);
        const std::string file = (folder_ / name).string();
        std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(file);
        ASSERT_TRUE(out && out->open(file, spec) &&
                    out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()) && out->close())
            << file;
    }
};

TEST_F(SequenceFramesTest, FramesWhoseChannelsDifferFromTheFirstAreRefusedEitherWay) {
    const std::vector<std::string> rgb = {"R", "G", "B"}, grey = {"Y"};
    struct Row {
        const char* extension;
        std::vector<std::string> first, second;
        bool refused;
    };
    // PNG names a one-channel file's channel Y whatever it was called.
    const Row rows[] = {
        {"png", grey, rgb, true},   {"png", rgb, grey, true},  {"exr", grey, rgb, true},
        {"exr", rgb, grey, true},   {"exr", rgb, {"R"}, true}, {"png", rgb, rgb, false},
        {"png", grey, grey, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.extension) + ": " + row.first.front() + " then " +
                     row.second.front() + std::to_string(row.second.size()));
        for (const auto& entry : fs::directory_iterator(folder_))
            fs::remove(entry.path());
        const std::string extension = row.extension;
        writeFrame("s.0001." + extension, row.first);
        writeFrame("s.0002." + extension, row.second);
        writeFrame("s.0003." + extension, row.second);
        const SequencePattern pattern((folder_ / ("s.####." + extension)).string());
        try {
            SequenceFrames frames(pattern, {1, 3}, Colorspace::Auto);
            EXPECT_FALSE(row.refused) << "accepted";
        } catch (const Error& e) {
            EXPECT_TRUE(row.refused) << e.what();
            EXPECT_NE(std::string(e.what()).find("s.0002." + extension), std::string::npos)
                << e.what();
            EXPECT_NE(std::string(e.what()).find("differ"), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace tweenora::media
