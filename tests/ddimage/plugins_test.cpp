// SPDX-License-Identifier: Apache-2.0
// The plug-in path: finding files on it, loading them once, and the reasons
// loading fails.
#include <DDImage/plugins.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include <DDImage/Op.h>

namespace {

namespace fs = std::filesystem;
using namespace DD::Image;

bool announced(const std::string& name) {
    for (int i = 0; const Op::Description* record = Op::Description::find(i); ++i)
        if (name == record->name)
            return true;
    return false;
}

TEST(Plugins, FindsFilesInPathOrderWithStableTexts) {
    const fs::path first = fs::temp_directory_path() / "tweenora-plugins-1";
    const fs::path second = fs::temp_directory_path() / "tweenora-plugins-2";
    fs::create_directories(first);
    fs::create_directories(second);
    std::ofstream(second / "Both.so") << "x";
    std::ofstream(first / "Both.so") << "x";
    std::ofstream(second / "Later.so") << "x";
    plugin_appendpath(first.c_str());
    plugin_appendpath(second.c_str());
    plugin_appendpath(first.c_str());  // already there: stays where it was

    const char* both = plugin_find("Both.so");
    ASSERT_NE(both, nullptr);
    EXPECT_EQ(std::string(both), (first / "Both.so").string());
    EXPECT_EQ(std::string(plugin_find("Later.so")), (second / "Later.so").string());
    EXPECT_EQ(plugin_find("Later", nullptr), nullptr);
    EXPECT_EQ(std::string(plugin_find("Later", plugin_default_extensions())),
              (second / "Later.so").string());
    EXPECT_EQ(plugin_find("Missing.so"), nullptr);
    // Found texts stay valid and equal across calls.
    EXPECT_EQ(plugin_find("Both.so"), both);
    fs::remove_all(first);
    fs::remove_all(second);
}

TEST(Plugins, LoadingRegistersClassesAndFailuresSayWhy) {
    plugin_appendpath(TWEENORA_TEST_PLUGIN_DIR);
    EXPECT_FALSE(announced("LoaderProbe"));
    const char* path = plugin_load("ddimage_test_plugin.so");
    ASSERT_NE(path, nullptr) << plugin_error();
    EXPECT_TRUE(announced("LoaderProbe"));
    EXPECT_EQ(plugin_load("ddimage_test_plugin.so"), path);

    EXPECT_EQ(plugin_load("NoSuchPlugin.so"), nullptr);
    EXPECT_STREQ(plugin_error(), "not found on the plug-in path");

    const fs::path dir = fs::temp_directory_path() / "tweenora-plugins-bad";
    fs::create_directories(dir);
    std::ofstream(dir / "Garbage.so") << "not a library";
    EXPECT_EQ(plugin_load((dir / "Garbage.so").c_str()), nullptr);
    ASSERT_NE(plugin_error(), nullptr);
    EXPECT_NE(std::string(plugin_error()).find("Garbage.so"), std::string::npos);
    fs::remove_all(dir);
}

}  // namespace
