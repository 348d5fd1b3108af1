// SPDX-License-Identifier: Apache-2.0
// The keys of --factor and --to-fps, and the tool's frame numbering relative to the clip.
#include "cli/video_timing.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/frame_numbering.h"
#include "host/Error.h"

namespace tweenora::cli {
namespace {

using Keys = std::vector<std::pair<double, double>>;

Keys pairs(const std::vector<FrameKey>& keys) {
    Keys out;
    for (const FrameKey& key : keys)
        out.emplace_back(key.frame, key.value);
    return out;
}

TEST(VideoTiming, FactorRunsStraightFromFirstToLastSourceFrame) {
    struct Row {
        int64_t start, end;
        int factor;
        Keys keys;
    };
    const Row rows[] = {
        // 10 frames at 2: 19 frames, output 9 shows source 5.5 (1 + 9/2).
        {1, 10, 2, {{1, 1}, {19, 10}}},
        {0, 5, 3, {{0, 0}, {15, 5}}},
        {1001, 1001, 4, {{1001, 1001}}},
        {10, 1, 2, {{10, 10}, {28, 1}}},  // backwards: towards the end
        {5, 9, 1, {{5, 5}, {9, 9}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.start) + "-" + std::to_string(row.end) + " x" +
                     std::to_string(row.factor));
        EXPECT_EQ(pairs(factorKeys(row.start, row.end, row.factor)), row.keys);
    }
    EXPECT_THROW(factorKeys(0, 600000, 2), Error);
}

TEST(VideoTiming, FrameRateKeysKeepTheDurationAndHoldTheLastFrame) {
    struct Row {
        const char* name;
        int64_t start, end;
        media::FrameRate from, to;
        Keys keys;
    };
    const Row rows[] = {
        // 30 frames (1 s): 60 frames, the last holds source 29 where 29.5 would be.
        {"30 to 60", 0, 29, {30, 1}, {60, 1}, {{0, 0}, {58, 29}, {59, 29}}},
        // 24 frames: 60, straight to output 57 (source 22.8), then 23 held twice.
        {"24 to 60", 0, 23, {24, 1}, {60, 1}, {{0, 0}, {57, 22.8}, {58, 23}, {59, 23}}},
        {"25 to 30", 0, 24, {25, 1}, {30, 1}, {{0, 0}, {28, 28.0 * 25 / 30}, {29, 24}}},
        // 7 frames of 24 last 0.2917 s: 9 frames of 30 begin inside it.
        {"24 to 30, 7 frames", 0, 6, {24, 1}, {30, 1}, {{0, 0}, {7, 5.6}, {8, 6}}},
        {"60 to 30", 0, 9, {60, 1}, {30, 1}, {{0, 0}, {4, 8}}},
        {"the same rate", 3, 7, {25, 1}, {25, 1}, {{3, 3}, {7, 7}}},
        {"one frame", 0, 0, {30, 1}, {60, 1}, {{0, 0}, {1, 0}}},
        {"backwards", 9, 0, {30, 1}, {60, 1}, {{9, 9}, {27, 0}, {28, 0}}},
        {"29.97 to 59.94", 0, 2, {30000, 1001}, {60000, 1001}, {{0, 0}, {4, 2}, {5, 2}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Keys keys = pairs(frameRateKeys(row.start, row.end, row.from, row.to));
        ASSERT_EQ(keys.size(), row.keys.size());
        for (size_t i = 0; i < keys.size(); ++i) {
            EXPECT_EQ(keys[i].first, row.keys[i].first) << i;
            EXPECT_NEAR(keys[i].second, row.keys[i].second, 1e-12) << i;
        }
    }
}

TEST(VideoTiming, RefusesWhatItCannotTime) {
    TimingOptions timing;
    timing.range = InputRange{1, 10};
    timing.toFps = media::FrameRate{60, 1};
    try {
        withVideoTiming(timing, media::FrameRate{0, 0});
        FAIL() << "a sequence without a rate was timed";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("--from-fps"), std::string::npos) << e.what();
    }
    timing.fromFps = media::FrameRate{30, 1};
    const TimingOptions keyed = withVideoTiming(timing, media::FrameRate{0, 0});
    EXPECT_FALSE(keyed.toFps);
    EXPECT_EQ(pairs(keyed.frameKeys), (Keys{{1, 1}, {19, 10}, {20, 10}}));

    TimingOptions fromAlone;
    fromAlone.range = InputRange{1, 10};
    fromAlone.fromFps = media::FrameRate{30, 1};
    EXPECT_THROW(withVideoTiming(fromAlone, media::FrameRate{0, 0}), Error);
}

TEST(FrameNumbering, CountsFromTheEarliestFrameAndMapsBack) {
    TimingOptions timing;
    timing.range = InputRange{86400, 86409};
    timing.frames = std::vector<int32_t>{86401, 86405};
    const FrameNumbering numbering = FrameNumbering::forTiming(timing);
    EXPECT_EQ(numbering.base(), 86400);
    const TimingOptions node = numbering.toNode(timing);
    EXPECT_EQ(node.range->start, 0);
    EXPECT_EQ(node.range->end, 9);
    EXPECT_EQ(*node.frames, (std::vector<int32_t>{1, 5}));
    EXPECT_EQ(numbering.toUser(3), 86403);
    // --set values of the knobs that hold frames move with them; others stay.
    timing.knobValues = {{"output_frame", "86401.5"},
                         {"frame_range_end", "86405"},
                         {"steps", "4"},
                         {"output_frame", "curve"}};
    EXPECT_EQ(numbering.toNode(timing).knobValues,
              (std::vector<std::pair<std::string, std::string>>{{"output_frame", "1.5"},
                                                                {"frame_range_end", "5"},
                                                                {"steps", "4"},
                                                                {"output_frame", "curve"}}));
    timing.knobValues.clear();

    // Keys before the range move the base; a key's value moves with its frame.
    timing.frameKeys = {{86390.0, 86400.5}, {86420.0, 86409.0}};
    const FrameNumbering keyed = FrameNumbering::forTiming(timing);
    EXPECT_EQ(keyed.base(), 86390);
    EXPECT_EQ(pairs(keyed.toNode(timing).frameKeys), (Keys{{0, 10.5}, {30, 19}}));
}

TEST(FrameNumbering, RefusesNumbersBeyondInt32) {
    const int32_t top = std::numeric_limits<int32_t>::max();
    const FrameNumbering numbering(2147483640);
    EXPECT_EQ(numbering.toUser(7), top);
    for (const int32_t nodeFrame : {8, top}) {
        SCOPED_TRACE(nodeFrame);
        try {
            numbering.toUser(nodeFrame);
            FAIL() << "numbered";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("cannot be numbered"), std::string::npos);
        }
    }
    // The node clamps what float32 cannot hold to the int32 limit: not a number to use.
    EXPECT_THROW(FrameNumbering(0).toUser(top), Error);
    EXPECT_THROW(FrameNumbering(-10).toNode(int64_t(top)), Error);
}

}  // namespace
}  // namespace tweenora::cli
