// SPDX-License-Identifier: Apache-2.0
// Finding the model library beside the plug-in, and the failures of loading it.
// Nothing here loads a library successfully: that would last for the process.
#include "model/model_library.h"

#include <unistd.h>

#include <climits>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "tests/testnets/testnets.h"

namespace tweenora::model {
namespace {

std::string captureStderrOf(bool& result, const char* pluginPath) {
    ::testing::internal::CaptureStderr();
    result = loadModelLibrary(pluginPath);
    return ::testing::internal::GetCapturedStderr();
}

std::string escapedForRegex(const std::string& text) {
    return std::regex_replace(text, std::regex("[.^$|()\\[\\]{}*+?\\\\]"), "\\$&");
}

//! Runs in directory for as long as it lives.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const char* directory) {
        char previous[PATH_MAX];
        if (getcwd(previous, sizeof previous))
            previous_ = previous;
        EXPECT_EQ(chdir(directory), 0) << directory;
    }
    ~WorkingDirectory() {
        if (!previous_.empty() && chdir(previous_.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << previous_;
    }

private:
    std::string previous_;
};

TEST(ModelLibraryPath, SitsBesideThePlugin) {
    struct Row {
        const char* pluginPath;
        const char* expected;
    };
    const Row rows[] = {
        {"/opt/host/plugins/Tweenora.so", "/opt/host/plugins/TweenoraModels.so"},
        {"/opt/host//Tweenora.so", "/opt/host/TweenoraModels.so"},  // no second separator
        {"plugins/Tweenora.so", "plugins/TweenoraModels.so"},
        {"/Tweenora.so", "/TweenoraModels.so"},  // the root keeps its separator
        {"Tweenora.so", "TweenoraModels.so"},
        {"", "TweenoraModels.so"},
        {nullptr, "TweenoraModels.so"},
        {"dir\\Tweenora.so", "TweenoraModels.so"},  // a backslash is part of a name here
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pluginPath ? row.pluginPath : "(null)");
        EXPECT_EQ(modelLibraryPath(row.pluginPath), row.expected);
    }
}

// The test runs in a directory holding a TweenoraModels.so and with that
// directory on LD_LIBRARY_PATH (set by the test's CMake): a bare file name
// handed to the system loader would find it there.
TEST(LoadModelLibrary, WithoutADirectoryNothingIsSearched) {
    const WorkingDirectory inLibraryDirectory(testnets::kIdentityPluginDir);
    struct Row {
        const char* pluginPath;
        const char* shownPath;
    };
    const Row rows[] = {{nullptr, "(null)"}, {"Tweenora.so", "Tweenora.so"}, {"", ""}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shownPath);
        bool loaded = true;
        const std::string err = captureStderrOf(loaded, row.pluginPath);
        EXPECT_FALSE(loaded);
        EXPECT_FALSE(modelLibraryLoaded());
        EXPECT_EQ(err, std::string("[Tweenora] Failed to load TweenoraModels.so\n"
                                   "  plugin_path: ") +
                           row.shownPath +
                           "\n"
                           "  models_path: TweenoraModels.so\n"
                           "  dlerror: no plug-in directory to load it from\n");
    }
    EXPECT_EQ(resolveModelExport(), nullptr);
    EXPECT_EQ(modelExport(), nullptr);
}

TEST(LoadModelLibrary, MissingLibraryIsReportedAndTriedAgain) {
    const std::string directory = testnets::kNoLibraryPluginDir;
    const std::string pluginPath = directory + "/Tweenora.so";
    const std::string modelsPath = directory + "/TweenoraModels.so";
    const std::regex expected(
        "\\[Tweenora\\] Failed to load TweenoraModels\\.so\n"
        "  plugin_path: " +
        escapedForRegex(pluginPath) +
        "\n"
        "  models_path: " +
        escapedForRegex(modelsPath) +
        "\n"
        "  dlerror: [^\n]*No such file[^\n]*\n");
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        bool loaded = true;
        const std::string err = captureStderrOf(loaded, pluginPath.c_str());
        EXPECT_FALSE(loaded);
        EXPECT_TRUE(std::regex_match(err, expected)) << err;
    }
    EXPECT_FALSE(modelLibraryLoaded());
}

}  // namespace
}  // namespace tweenora::model
