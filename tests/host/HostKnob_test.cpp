// SPDX-License-Identifier: Apache-2.0
// HostKnob: parsing values from text, printing them, animation, and the panel kinds.
#include "host/HostKnob.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include <DDImage/Channel.h>

#include "host/Error.h"

namespace tweenora::host {
namespace {

using namespace DD::Image;

const char* const kEntries[] = {"Output Speed", "Frame", nullptr};

struct Fields {
    int integer = 4500;
    float number = 0.001f;
    bool flag = true;
    int entry = 0;
    ChannelSet channels = Mask_All;
};

struct Knobs {
    Fields fields;
    HostKnob integer{nullptr, INT_KNOB, IntPtr, "max_size", "max size", nullptr, &fields.integer};
    HostKnob number{nullptr, FLOAT_KNOB, FloatPtr, "threshold", nullptr, nullptr, &fields.number};
    HostKnob flag{nullptr, BOOL_KNOB, BoolPtr, "use_gpu", nullptr, nullptr, &fields.flag};
    HostKnob entry{nullptr, ENUMERATION_KNOB, IntPtr, "mode", nullptr, kEntries, &fields.entry};
    HostKnob channels{nullptr, CHANNEL_MASK_KNOB, ChannelSetPtr,   "input_channels",
                      nullptr, nullptr,           &fields.channels};
};

TEST(HostKnobText, DefaultsPrintAsTheHostShowsThem) {
    Knobs k;
    EXPECT_EQ(k.integer.defaultText(), "4500");
    EXPECT_EQ(k.number.defaultText(), "0.001");
    EXPECT_EQ(k.flag.defaultText(), "true");
    EXPECT_EQ(k.entry.defaultText(), "Output Speed");
    EXPECT_EQ(k.channels.defaultText(), "all");
}

TEST(HostKnobText, ParsesEveryKindOfValue) {
    const struct {
        const char* knob;
        const char* text;
        const char* shown;
    } rows[] = {
        {"max_size", " 1024 ", "1024"},
        {"max_size", "-3", "-3"},
        {"threshold", "0.25", "0.25"},
        {"threshold", "1e-3", "0.001"},
        {"use_gpu", "off", "false"},
        {"use_gpu", "YES", "true"},
        {"use_gpu", "0", "false"},
        {"mode", "Frame", "Frame"},
        {"mode", "frame", "Frame"},
        {"mode", "0", "Output Speed"},
        {"input_channels", "rgb", "rgb"},
        {"input_channels", "rgba, depth", "rgba depth"},
        {"input_channels", "red blue", "rgba.red rgba.blue"},
        {"input_channels", "rgba.alpha depth.Z", "rgba.alpha depth"},
        {"input_channels", "none", "none"},
        {"input_channels", "all", "all"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.knob) + " = " + row.text);
        Knobs k;
        HostKnob* knobs[] = {&k.integer, &k.number, &k.flag, &k.entry, &k.channels};
        for (HostKnob* knob : knobs)
            if (knob->name() == row.knob) {
                knob->setFromText(row.text);
                EXPECT_EQ(knob->valueText(), row.shown);
            }
    }
}

TEST(HostKnobText, RejectsTextThatDoesNotFitNamingKnobAndText) {
    const struct {
        const char* knob;
        const char* text;
    } rows[] = {
        {"max_size", "12.5"},
        {"max_size", "abc"},
        {"max_size", ""},
        {"max_size", "99999999999"},
        {"threshold", "fast"},
        {"threshold", "1.5x"},
        {"use_gpu", "maybe"},
        {"mode", "Speed"},
        {"mode", "2"},
        {"mode", "-1"},
        {"input_channels", "rgbz"},
        {"input_channels", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.knob) + " = '" + row.text + "'");
        Knobs k;
        HostKnob* knobs[] = {&k.integer, &k.number, &k.flag, &k.entry, &k.channels};
        for (HostKnob* knob : knobs) {
            if (knob->name() != row.knob)
                continue;
            const std::string before = knob->valueText();
            try {
                knob->setFromText(row.text);
                ADD_FAILURE() << "accepted";
            } catch (const Error& e) {
                const std::string message = e.what();
                EXPECT_NE(message.find(row.knob), std::string::npos) << message;
                EXPECT_NE(message.find(std::string("'") + row.text + "'"), std::string::npos)
                    << message;
            }
            EXPECT_EQ(knob->valueText(), before);
        }
    }
}

TEST(HostKnobValue, StoresIntoFieldsAtTheFrame) {
    Knobs k;
    k.entry.setFromText("Frame");
    k.channels.setFromText("rgb");
    k.number.setKeyAt(10, 2.0);
    k.number.setKeyAt(20, 4.0);
    k.integer.setKeyAt(0, 0.0);
    k.integer.setKeyAt(4, 10.0);

    Fields out;
    k.entry.storeInto(&out.entry, 0);
    k.channels.storeInto(&out.channels, 0);
    k.number.storeInto(&out.number, 12.5);
    k.integer.storeInto(&out.integer, 1);
    EXPECT_EQ(out.entry, 1);
    EXPECT_EQ(out.channels, ChannelSet(Mask_RGB));
    EXPECT_EQ(out.number, 2.5f);
    EXPECT_EQ(out.integer, 3);  // 2.5 rounds to the nearest integer away from zero
}

TEST(HostKnobValue, AnimationIsLinearBetweenKeysAndHeldOutside) {
    Knobs k;
    k.number.setKeyAt(5.0, 1.0);
    k.number.setKeyAt(15.4, 3.0);
    k.number.setKeyAt(10.0, 2.0);
    const struct {
        double frame, value;
    } rows[] = {{-100, 1.0}, {5, 1.0}, {7.5, 1.5}, {10, 2.0}, {12.7, 2.5}, {15.4, 3.0}, {99, 3.0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.frame);
        EXPECT_DOUBLE_EQ(k.number.get_value_at(row.frame), row.value);
    }
    EXPECT_TRUE(k.number.isAnimated());
    std::set<int> keys;
    EXPECT_EQ(k.number.getKeyList(keys), 3);
    EXPECT_EQ(keys, (std::set<int>{5, 10, 15}));
    EXPECT_TRUE(k.number.not_default());

    // A plain value replaces the animation.
    k.number.set_value(0.5);
    EXPECT_FALSE(k.number.isAnimated());
    EXPECT_DOUBLE_EQ(k.number.get_value_at(12.0), 0.5);
    EXPECT_THROW(k.channels.setKeyAt(1, 1), Error);
}

TEST(HostKnobValue, NotDefaultComparesWithTheFieldAtCreation) {
    Knobs k;
    EXPECT_FALSE(k.integer.not_default());
    k.integer.setFromText("4500");
    EXPECT_FALSE(k.integer.not_default());
    k.integer.setFromText("4501");
    EXPECT_TRUE(k.integer.not_default());
    EXPECT_FALSE(k.channels.not_default());
    k.channels.setFromText("rgba");
    EXPECT_TRUE(k.channels.not_default());
}

TEST(HostKnobPanel, KindsFollowTypeAndExtra) {
    const struct {
        int type;
        const void* extra;
        const char* kind;
    } rows[] = {
        {TAB_KNOB, reinterpret_cast<const void*>(intptr_t(0)), "tab"},
        {TAB_KNOB, reinterpret_cast<const void*>(intptr_t(2)), "group"},
        {TAB_KNOB, reinterpret_cast<const void*>(intptr_t(-1)), "end of group"},
        {TEXT_KNOB, nullptr, "divider"},
        {TEXT_KNOB, "px", "text"},
        {PYSCRIPT_KNOB, "print(1)", "python script button"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kind);
        HostKnob knob(nullptr, row.type, Custom, nullptr, nullptr, row.extra, nullptr);
        EXPECT_EQ(knob.kind(), row.kind);
        EXPECT_FALSE(knob.hasValue());
    }
}

TEST(HostKnobPanel, TextKnobShowsNewDeclaredTextsButKeepsTextsSetSince) {
    HostKnob info(nullptr, TEXT_KNOB, Custom, "image_patches", nullptr, "Image patches: -",
                  nullptr);
    std::string shown = "Image patches: 2 (2 x 1)";
    info.text(shown);
    info.redeclare("Image patches: -");
    EXPECT_EQ(info.text(), "Image patches: 2 (2 x 1)");
    info.redeclare("GPU: none");
    EXPECT_EQ(info.text(), "GPU: none");
    EXPECT_STREQ(info.get_text(), "GPU: none");
}

}  // namespace
}  // namespace tweenora::host
