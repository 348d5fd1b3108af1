// SPDX-License-Identifier: Apache-2.0
// The tool's option values and message texts, checked without running the tool.
#include "cli/options.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "cli/messages.h"
#include "host/Error.h"

namespace tweenora::cli {
namespace {

TEST(Options, FrameRatesAsTypedBecomeFractions) {
    struct Row {
        const char* text;
        int num;
        int den;
    };
    const Row rows[] = {
        {"30", 30, 1},          {"29.97", 30000, 1001}, {"23.976", 24000, 1001},
        {"59.94", 60000, 1001}, {"12.5", 12500, 1000},  {"30000/1001", 30000, 1001},
        {"+25", 25, 1},         {"0.001", 1, 1000},     {"0.5", 500, 1000},
        {"1/1000", 1, 1000},    {"1000", 1000, 1},      {"1000000/1000", 1000000, 1000}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const media::FrameRate rate = parseFrameRate("--fps", row.text);
        EXPECT_EQ(rate.num, row.num);
        EXPECT_EQ(rate.den, row.den);
    }
    // The ends of the range hold for both forms.
    for (const char* bad : {"0", "-24", "1001", "30/0", "2.5/1", "fast", "nan", "0.0009",
                            "1/1000000", "1001/1", "1000001/1000"}) {
        SCOPED_TRACE(bad);
        try {
            parseFrameRate("--fps", bad);
            FAIL() << "accepted";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("--fps: '" + std::string(bad) + "' is not ", 0),
                      0u)
                << e.what();
        }
    }
}

TEST(Options, EveryFrameListsUpToTheLimitWithoutWrapping) {
    EXPECT_EQ(everyFrame(-1, 2), (std::vector<int32_t>{-1, 0, 1, 2}));
    EXPECT_EQ(everyFrame(3, 2), std::vector<int32_t>{});
    const int32_t top = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(everyFrame(top - 1, top), (std::vector<int32_t>{top - 1, top}));
    EXPECT_EQ(everyFrame(1, int32_t(kMaxListedFrames))->size(), size_t(kMaxListedFrames));
    EXPECT_FALSE(everyFrame(0, int32_t(kMaxListedFrames)));
    EXPECT_FALSE(everyFrame(std::numeric_limits<int32_t>::min(), top));
}

TEST(Options, OneWordingForAnUnknownOption) {
    EXPECT_STREQ(unknownOption("knobs", "--bogus").what(),
                 "knobs: unknown option '--bogus' (see tweenora knobs --help)");
}

TEST(Messages, ShortestTextReadsBackAsTheSameNumber) {
    EXPECT_EQ(shortestText(0.5), "0.5");
    EXPECT_EQ(shortestText(0.1f), "0.1");
    EXPECT_EQ(shortestText(double(0.1f)), "0.10000000149011612");
    EXPECT_EQ(shortestText(std::nan("")), "nan");
    EXPECT_EQ(shortestText(-std::numeric_limits<float>::infinity()), "-inf");
    for (const double value : {1.0 / 3.0, 1e-300, 123456789.125, -2.5e17}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(std::stod(shortestText(value)), value);
    }
}

TEST(Messages, EveryNoteLineGetsThePrefix) {
    EXPECT_EQ(noteLines("a\nb\n"), "tweenora: note: a\ntweenora: note: b\n");
    EXPECT_EQ(noteLines(""), "");
    EXPECT_EQ(errorLine("x"), "tweenora: error: x\n");
}

}  // namespace
}  // namespace tweenora::cli
