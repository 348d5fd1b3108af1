// SPDX-License-Identifier: Apache-2.0
// PluginLoader: the search path's order and the errors of plug-ins that cannot load.
#include "host/PluginLoader.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include <DDImage/plugins.h>

#include "host/Error.h"

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

}  // namespace
}  // namespace tweenora::host
