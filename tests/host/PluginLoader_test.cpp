// SPDX-License-Identifier: Apache-2.0
// PluginLoader: the search path's order and the errors of plug-ins that cannot load.
#include "host/PluginLoader.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include <DDImage/plugins.h>

#include "host/Error.h"
#include "timing/frame_query.h"

namespace tweenora::host {
namespace {

namespace fs = std::filesystem;

std::string loadError(PluginLoader& loader, const std::string& fileName) {
    try {
        loader.load(fileName);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

TEST(PluginLoader, SearchesGivenDirectoriesThenNukePathThenTheBuild) {
    ::setenv("NUKE_PATH", "/tmp/tweenora-a::/tmp/tweenora-b", 1);
    PluginLoader loader({"/tmp/tweenora-given"});
    ::unsetenv("NUKE_PATH");
    EXPECT_EQ(loader.searchPath(),
              (std::vector<std::string>{"/tmp/tweenora-given", "/tmp/tweenora-a", "/tmp/tweenora-b",
                                        TWEENORA_PLUGIN_DIR}));
    const std::vector<const char*>& path = DD::Image::getPluginPath();
    EXPECT_NE(std::find_if(path.begin(), path.end(),
                           [](const char* dir) { return std::string(dir) == TWEENORA_PLUGIN_DIR; }),
              path.end());
}

TEST(PluginLoader, ReportsMissingAndBrokenPlugins) {
    const fs::path dir = fs::temp_directory_path() / "tweenora-loader-test";
    fs::create_directories(dir);
    std::ofstream(dir / "Broken.so") << "not a shared library";
    PluginLoader loader({dir.string()});

    const std::string missing = loadError(loader, "Missing.so");
    EXPECT_EQ(missing.rfind("cannot load plug-in Missing.so: not found on the plug-in path", 0), 0u)
        << missing;
    EXPECT_NE(missing.find(dir.string()), std::string::npos) << missing;

    // The reason is the dynamic loader's own text, which names the file.
    const std::string broken = loadError(loader, "Broken.so");
    EXPECT_EQ(broken.rfind("cannot load plug-in Broken.so: ", 0), 0u) << broken;
    EXPECT_NE(broken.find((dir / "Broken.so").string()), std::string::npos) << broken;
    fs::remove_all(dir);
}

TEST(PluginLoader, RefusesAPluginCutShortInsteadOfDyingInTheLoader) {
    const fs::path plugin = fs::path(TWEENORA_PLUGIN_DIR) / "Tweenora.so";
    ASSERT_TRUE(fs::exists(plugin)) << plugin;
    const fs::path dir = fs::temp_directory_path() / "tweenora-loader-cut-test";
    const uintmax_t size = fs::file_size(plugin);
    // Inside the program headers, inside the first segment (an interrupted
    // copy), and only the last byte, where the section header table ends.
    for (const uintmax_t length : {uintmax_t(100), uintmax_t(20000), size / 2, size - 1}) {
        SCOPED_TRACE(length);
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::copy_file(plugin, dir / "Tweenora.so");
        fs::resize_file(dir / "Tweenora.so", length);
        PluginLoader loader({dir.string()});
        const std::string error = loadError(loader, "Tweenora.so");
        EXPECT_EQ(error.rfind("cannot load plug-in Tweenora.so: '" +
                                  (dir / "Tweenora.so").string() + "' is cut short: its ",
                              0),
                  0u)
            << error;
        EXPECT_NE(error.find("the file holds " + std::to_string(length) + " bytes"),
                  std::string::npos)
            << error;
    }
    fs::remove_all(dir);
}

TEST(PluginLoader, FindsSymbolsOfLoadedPluginsOnly) {
    PluginLoader loader;
    EXPECT_EQ(loader.findLoadedSymbol("Tweenora.so", TWEENORA_FRAME_PLAN_SYMBOL), nullptr)
        << "found in a plug-in that was never loaded";
    loader.load("Tweenora.so");
    EXPECT_NE(loader.findLoadedSymbol("Tweenora.so", TWEENORA_FRAME_PLAN_SYMBOL), nullptr);
    EXPECT_EQ(loader.findLoadedSymbol("Tweenora.so", "tweenora_no_such_symbol"), nullptr);
    EXPECT_EQ(loader.findLoadedSymbol("Missing.so", TWEENORA_FRAME_PLAN_SYMBOL), nullptr);
}

}  // namespace
}  // namespace tweenora::host
