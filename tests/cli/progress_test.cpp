// SPDX-License-Identifier: Apache-2.0
// Tests of the progress texts: durations, the status line, the estimate, plain lines.
#include "cli/progress.h"

#include <sstream>

#include <gtest/gtest.h>

namespace tweenora::cli {
namespace {

TEST(Progress, FormatsDurations) {
    struct Row {
        double seconds;
        const char* text;
    };
    const Row rows[] = {{0.0, "0:00"},    {7.9, "0:07"},       {59.99, "0:59"}, {60.0, "1:00"},
                        {754.0, "12:34"}, {3723.5, "1:02:03"}, {-5.0, "0:00"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.seconds);
        EXPECT_EQ(formatDuration(row.seconds), row.text);
    }
}

TEST(Progress, StatusLineShowsWhatIsKnown) {
    EXPECT_EQ(statusLine(3, 24, 1003, "Interpolating (pass 2/6)", 12.0, 90.0),
              "frame 3 of 24 (1003) | Interpolating (pass 2/6) | 0:12 elapsed | about 1:30 left");
    EXPECT_EQ(statusLine(1, 24, 1001, "", 0.4, std::nullopt),
              "frame 1 of 24 (1001) | 0:00 elapsed");
}

TEST(Progress, EstimatesFromTheAveragePace) {
    EXPECT_FALSE(estimateRemaining(5.0, 0, 10));
    EXPECT_DOUBLE_EQ(*estimateRemaining(10.0, 2, 10), 40.0);
    EXPECT_DOUBLE_EQ(*estimateRemaining(10.0, 10, 10), 0.0);
}

TEST(Progress, PlainLinesNameEachWrittenFrame) {
    std::ostringstream out;
    {
        Progress progress(Progress::Style::Lines, 2, out);
        progress.beginFrame(1001);
        progress.message("Interpolating (pass 1/2)");
        progress.endFrame("out.1001.exr");
        progress.beginFrame(1002);
        progress.endFrame("out.1002.exr");
        progress.finish("wrote 2 frames");
    }
    const std::string text = out.str();
    EXPECT_NE(text.find("frame 1 of 2 (1001): wrote out.1001.exr in "), std::string::npos) << text;
    EXPECT_NE(text.find("frame 2 of 2 (1002): wrote out.1002.exr in "), std::string::npos) << text;
    EXPECT_EQ(text.find("Interpolating"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 15), "wrote 2 frames\n");
}

TEST(Progress, QuietSaysNothing) {
    std::ostringstream out;
    {
        Progress progress(Progress::Style::Quiet, 1, out);
        progress.beginFrame(1);
        progress.message("Processing complete");
        progress.endFrame("out.0001.exr");
        progress.finish("wrote 1 frame");
    }
    EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace tweenora::cli
