// SPDX-License-Identifier: Apache-2.0
// Tests that no partial output survives a failure or an interrupting signal.
#include "cli/output_guard.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace tweenora::cli {
namespace {

namespace fs = std::filesystem;

fs::path scratch(const std::string& name) {
    const fs::path folder = fs::path(::testing::TempDir()) / "output_guard";
    fs::create_directories(folder);
    const fs::path file = folder / name;
    fs::remove(file);
    return file;
}

TEST(OutputGuard, RemovesTheFileUnlessReleased) {
    const fs::path failed = scratch("failed.partial"), kept = scratch("kept.partial");
    {
        const OutputGuard guard(failed.string());
        std::ofstream(failed) << "half a frame";
    }
    {
        const OutputGuard guard(kept.string());
        std::ofstream(kept) << "a whole frame";
        guard.release();
    }
    EXPECT_FALSE(fs::exists(failed));
    EXPECT_TRUE(fs::exists(kept));
}

TEST(OutputGuard, AnInterruptRemovesTheFileBeingWritten) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const fs::path file = scratch("interrupted.partial");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            installInterruptCleanup();
            const OutputGuard guard(file.string());
            std::ofstream(file) << "half a frame";
            std::raise(signal);
            ::_exit(0);  // not reached: the handler ends the process
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_FALSE(fs::exists(file));
    }
}

}  // namespace
}  // namespace tweenora::cli
