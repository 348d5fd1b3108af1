// SPDX-License-Identifier: Apache-2.0
// Support shared by the tool's tests: scratch folders, runs of the built programs, frame
// differences.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/Clip.h"

namespace tweenora::testing {

//! arg quoted for the shell.
std::string quoted(const std::string& arg);

//! The whole file's bytes, "" when it cannot be read.
std::string readFile(const std::filesystem::path& file);

//! A finished run: its exit status (128 + signal when killed) and what it printed.
struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

//! Runs command in the shell with no input, capturing its output in files in folder.
ToolRun runShell(const std::string& command, const std::filesystem::path& folder);

//! Runs program with args, each quoted, as runShell does.
ToolRun runProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& folder);

//! The mean and largest difference of two frames' colour, as displayed (sRGB-encoded).
struct Difference {
    double mean = 0.0;
    double largest = 0.0;
};

Difference difference(const host::ClipFrame& a, const host::ClipFrame& b);

//! A tmpfs of a few kilobytes mounted on a folder, to run out of space on;
//! unmounted (and the folder removed) when it goes. Mounting needs root: where
//! it is refused, mounted() is false and reason() says why.
class SmallDisk {
public:
    SmallDisk(const std::filesystem::path& folder, int kilobytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& reason() const { return reason_; }

private:
    std::filesystem::path folder_;
    bool mounted_ = false;
    std::string reason_;
};

//! A fresh folder for each test, named after the prefix, the test and the process (so that
//! two suites running at once on one machine keep apart), kept when the test failed.
class ScratchFolderTest : public ::testing::Test {
protected:
    explicit ScratchFolderTest(std::string prefix) : prefix_(std::move(prefix)) {}

    void SetUp() override;
    void TearDown() override;

    //! Runs program with args, its output captured in the scratch folder.
    ToolRun run(const std::string& program, const std::vector<std::string>& args) const {
        return runProgram(program, args, folder_);
    }

    std::filesystem::path folder_;

private:
    std::string prefix_;
};

}  // namespace tweenora::testing
