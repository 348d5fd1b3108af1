// SPDX-License-Identifier: Apache-2.0
// Tests that no partial output survives a failure or an interrupting signal.
#include "media/safe_write.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace tweenora::media {
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

// A process id that was just in use and is not any more.
pid_t deadPid() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

TEST(OutputGuard, PartialNamesCarryTheHostAndTheProcess) {
    const std::string name = partialNameFor("out.0001.exr");
    const std::string pid = "-" + std::to_string(::getpid());
    ASSERT_EQ(name.rfind(".out.0001.exr.partial-", 0), 0u) << name;
    ASSERT_GT(name.size(), std::string(".out.0001.exr.partial-").size() + pid.size()) << name;
    EXPECT_EQ(name.substr(name.size() - pid.size()), pid) << name;
}

TEST(OutputGuard, RemovesOnlyPartialsWhoseWriterIsGone) {
    const fs::path folder = fs::path(::testing::TempDir()) / "stale_partials";
    fs::remove_all(folder);
    fs::create_directories(folder);
    // This host's tag, as the tool writes it.
    const std::string own = partialNameFor("x");
    const std::string prefix = ".x.partial-";
    const std::string host = own.substr(
        prefix.size(), own.size() - prefix.size() - std::to_string(::getpid()).size() - 1);
    const std::string dead = std::to_string(deadPid());
    const std::string alive = std::to_string(::getppid());

    const std::set<std::string> stale = {
        ".a.exr.partial-" + host + "-" + dead,
        ".a.exr.partial-" + dead,  // an earlier version's name: no host
        ".b.exr.partial-" + host + "-" + dead,
    };
    const std::set<std::string> kept = {
        ".a.exr.partial-" + host + "-" + alive,
        partialNameFor("a.exr"),                // this very process
        ".a.exr.partial-another-host-" + dead,  // cannot be checked from here
        ".c.exr.partial-" + host + "-" + dead,  // not a frame of this run
        ".a.exr.partial-" + host + "-x" + dead,
        "a.exr",
    };
    for (const std::set<std::string>* names : {&stale, &kept})
        for (const std::string& name : *names)
            std::ofstream(folder / name) << "half a frame";

    const std::vector<std::string> removed =
        removeStalePartials(folder.string(), {"a.exr", "b.exr"});
    EXPECT_EQ(removed.size(), stale.size());
    for (const std::string& name : stale)
        EXPECT_FALSE(fs::exists(folder / name)) << name;
    for (const std::string& name : kept)
        EXPECT_TRUE(fs::exists(folder / name)) << name;
    fs::remove_all(folder);
}

}  // namespace
}  // namespace tweenora::media
