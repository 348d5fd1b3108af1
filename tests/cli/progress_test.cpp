// SPDX-License-Identifier: Apache-2.0
// Tests of the progress texts: durations, the status line, the estimate, plain lines.
#include "cli/progress.h"

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

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

TEST(Progress, EstimatesFromTheAveragePaceCountingTheFrameInProgress) {
    EXPECT_FALSE(estimateRemaining(0.0, 0, 5.0, 10));
    struct Row {
        double finished;
        int done;
        double inFrame;
        int total;
        double left;
    };
    const Row rows[] = {
        {10.0, 2, 0.0, 10, 40.0},  // between frames: 8 frames at 5 s
        {10.0, 10, 0.0, 10, 0.0},
        // Frame 2 of 3 at 10 s a frame: the estimate falls as the frame renders.
        {10.0, 1, 1.0, 3, 19.0},
        {10.0, 1, 9.0, 3, 11.0},
        // A frame slower than the pace stops counting down, never climbs.
        {10.0, 1, 14.0, 3, 10.0},
        {10.0, 1, 30.0, 3, 10.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.done) + " done, " + std::to_string(row.inFrame) + " s in");
        EXPECT_DOUBLE_EQ(*estimateRemaining(row.finished, row.done, row.inFrame, row.total),
                         row.left);
    }
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
    // A log has no status line: the estimate rides on the first frame's line,
    // and the last one needs none.
    EXPECT_NE(text.find(" s; about 0:00 left\nframe 2 of 2"), std::string::npos) << text;
    EXPECT_EQ(text.find("left", text.find("frame 2 of 2")), std::string::npos) << text;
    EXPECT_EQ(text.find("Interpolating"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 15), "wrote 2 frames\n");
}

TEST(Progress, EstimateComesEveryFewFramesInALog) {
    std::ostringstream out;
    {
        Progress progress(Progress::Style::Lines, 12, out);
        for (int frame = 1; frame <= 12; ++frame) {
            progress.beginFrame(frame);
            progress.endFrame("f");
        }
    }
    std::istringstream lines(out.str());
    std::string line;
    std::vector<int> withEstimate;
    for (int index = 1; std::getline(lines, line); ++index)
        if (line.find("; about ") != std::string::npos)
            withEstimate.push_back(index);
    EXPECT_EQ(withEstimate, (std::vector<int>{1, 5, 10})) << out.str();
}

TEST(Progress, ConsoleFilterDropsOnlyTheHiddenLines) {
    for (const bool shown : {false, true}) {
        SCOPED_TRACE(shown);
        std::ostringstream captured;
        std::streambuf* original = std::cout.rdbuf(captured.rdbuf());
        {
            const ConsoleLineFilter filter(": Running inference for layer '", shown);
            std::cout << "Tweenora1: Running inference for layer 'rgba' on CPU" << std::endl;
            std::cout << "Tweenora1: Processing complete\n"
                      << "partial";
        }
        std::cout.rdbuf(original);
        EXPECT_EQ(
            captured.str(),
            std::string(shown ? "Tweenora1: Running inference for layer 'rgba' on CPU\n" : "") +
                "Tweenora1: Processing complete\npartial");
    }
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
