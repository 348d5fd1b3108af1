// SPDX-License-Identifier: Apache-2.0
#include "tests/media/media_test_support.h"

#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <DDImage/Channel.h>

#include "media/sequence/image_io.h"

namespace tweenora::testing {

namespace fs = std::filesystem;

std::string quoted(const std::string& arg) {
    std::string text = "'";
    for (char c : arg)
        text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

ToolRun runShell(const std::string& command, const fs::path& folder) {
    const fs::path out = folder / "stdout.txt", err = folder / "stderr.txt";
    const std::string redirected =
        command + " >" + quoted(out.string()) + " 2>" + quoted(err.string()) + " </dev/null";
    const int raw = std::system(redirected.c_str());
    ToolRun result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    result.out = readFile(out);
    result.err = readFile(err);
    return result;
}

ToolRun runProgram(const std::string& program, const std::vector<std::string>& args,
                   const fs::path& folder) {
    std::string command = quoted(program);
    for (const std::string& arg : args)
        command += " " + quoted(arg);
    return runShell(command, folder);
}

Difference difference(const host::ClipFrame& a, const host::ClipFrame& b) {
    Difference d;
    size_t count = 0;
    for (DD::Image::Channel c :
         {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue}) {
        const std::vector<float>& x = a.planes.at(c);
        const std::vector<float>& y = b.planes.at(c);
        EXPECT_EQ(x.size(), y.size());
        for (size_t i = 0; i < std::min(x.size(), y.size()); ++i) {
            const double e = std::abs(media::linearToSrgb(x[i]) - media::linearToSrgb(y[i]));
            d.mean += e;
            d.largest = std::max(d.largest, e);
            ++count;
        }
    }
    d.mean /= double(std::max<size_t>(count, 1));
    return d;
}

SmallDisk::SmallDisk(const fs::path& folder, int kilobytes) : folder_(folder) {
    fs::create_directories(folder);
    const std::string options = "size=" + std::to_string(kilobytes) + "k";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0)
        mounted_ = true;
    else
        reason_ = "cannot mount a small tmpfs to fill (" + std::string(std::strerror(errno)) +
                  "; it needs root)";
}

SmallDisk::~SmallDisk() {
    if (mounted_)
        ::umount2(folder_.c_str(), MNT_DETACH);
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

void ScratchFolderTest::SetUp() {
    folder_ = fs::path(::testing::TempDir()) /
              (prefix_ + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
               "_" + std::to_string(::getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
}

void ScratchFolderTest::TearDown() {
    if (!HasFailure())
        fs::remove_all(folder_);
}

}  // namespace tweenora::testing
