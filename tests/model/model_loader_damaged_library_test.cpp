// SPDX-License-Identifier: Apache-2.0
// A model library that is missing or damaged (cut short, empty, random bytes):
// the loader's failure on standard error and on the node when a frame needs
// the network, never a crash in the system loader or a call of the empty module.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include <DDImage/ChannelSet.h>

#include "tests/model/loader_harness.h"
#include "tests/testnets/testnets.h"

namespace tweenora::testing {
namespace {

namespace fs = std::filesystem;

TEST(ModelLoader, DamagedLibraryIsReportedAndTheModuleNeverCalled) {
    // A copy of a working plug-in directory whose library each row damages.
    const fs::path dir = fs::temp_directory_path() / "tweenora-damaged-library-test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path source = testnets::kIdentityPluginDir;
    fs::copy_file(source / "Tweenora.so", dir / "Tweenora.so");
    const fs::path library = dir / "TweenoraModels.so";
    const uintmax_t fullSize = fs::file_size(source / "TweenoraModels.so");

    LoaderHarness harness(dir.string());
    host::HostNode& node = harness.createNode("Tweenora1");
    struct Row {
        const char* what;
        const char* reason;  // in the loader's message and on the node
    };
    const Row rows[] = {{"missing", "No such file"},
                        {"cut short", "is cut short"},
                        {"empty", "file too short"},
                        {"random bytes", "invalid ELF header"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string what = row.what;
        fs::remove(library);
        if (what == "cut short") {
            fs::copy_file(source / "TweenoraModels.so", library);
            fs::resize_file(library, fullSize / 2);
        } else if (what == "empty") {
            std::ofstream(library, std::ios::binary);
        } else if (what == "random bytes") {
            std::ofstream out(library, std::ios::binary);
            uint32_t state = 12345;
            for (int i = 0; i < 4096; ++i) {
                state = state * 1664525u + 1013904223u;
                out.put(char(state >> 24));
            }
        }
        harness.close(node);
        node.clearErrors();
        const Output opened = harness.openAttempt(node, 1);
        EXPECT_NE(opened.err.find("[Tweenora] Failed to load TweenoraModels.so\n"),
                  std::string::npos)
            << opened.err;
        EXPECT_NE(opened.err.find(row.reason), std::string::npos) << opened.err;
        EXPECT_FALSE(node.hasError());

        // Output frame 2 lies at 1.75: the interpolation road, which needs the network.
        const Output rendered = captureOutput([&] { harness.render(node, 2.0); });
        ASSERT_TRUE(node.hasError());
        const std::string error = node.errorMessage();
        EXPECT_EQ(error.rfind("TweenoraModels.so could not be loaded: ", 0), 0u) << error;
        EXPECT_NE(error.find(row.reason), std::string::npos) << error;
        EXPECT_EQ(rendered.err.find("INTERNAL ASSERT"), std::string::npos) << rendered.err;
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tweenora::testing
