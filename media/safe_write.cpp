// SPDX-License-Identifier: Apache-2.0
// Safe writes: temporary names, the commit into place, partial files removed on failure.
#include "media/safe_write.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "host/Error.h"

namespace tweenora::media {

namespace {

// Note [Interrupt cleanup]
// A signal handler may only touch lock-free state and call async-signal-safe
// functions, so the path being written sits in a fixed buffer with a flag,
// and the handler unlinks it and dies of the same signal, as if we had no
// handler (the shell then sees the usual status).
constexpr size_t kMaxPath = 4096;
char gWritingPath[kMaxPath];
volatile std::sig_atomic_t gWriting = 0;

extern "C" void removePartialAndDie(int signal) {
    if (gWriting)
        ::unlink(gWritingPath);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

const char* const kPartialMark = ".partial-";

// The host part of partial names: the host name with anything that is awkward
// in a file name replaced.
const std::string& hostTag() {
    static const std::string tag = [] {
        char name[256] = {};
        if (::gethostname(name, sizeof name - 1) != 0 || !name[0])
            return std::string("localhost");
        std::string text(name);
        for (char& c : text)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_')
                c = '_';
        return text;
    }();
    return tag;
}

// "'path': what: the system's reason", from errno.
Error systemError(const std::string& path, const std::string& what) {
    return Error("'" + path + "': " + what + ": " + std::strerror(errno));
}

bool allDigits(const std::string& text) {
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// A partial file of one of names written by a process of this host that no
// longer exists. kill(pid, 0) fails with ESRCH only when there is no such
// process; EPERM means it lives under another user.
bool isStalePartial(const std::string& entry, const std::set<std::string>& names) {
    const size_t mark = entry.rfind(kPartialMark);
    if (entry.size() < 2 || entry[0] != '.' || mark == std::string::npos || mark < 2)
        return false;
    if (!names.count(entry.substr(1, mark - 1)))
        return false;
    const std::string writer = entry.substr(mark + std::strlen(kPartialMark));
    std::string pidText = writer;
    if (!allDigits(writer)) {
        const size_t dash = writer.rfind('-');
        if (dash == std::string::npos || writer.substr(0, dash) != hostTag())
            return false;
        pidText = writer.substr(dash + 1);
    }
    if (!allDigits(pidText))
        return false;
    const pid_t pid = static_cast<pid_t>(std::stol(pidText));
    if (pid <= 0 || pid == ::getpid())
        return false;
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

OutputGuard::OutputGuard(const std::string& path) : path_(path) {
    gWriting = 0;
    if (path.size() < kMaxPath) {
        std::memcpy(gWritingPath, path.c_str(), path.size() + 1);
        gWriting = 1;
    }
}

OutputGuard::~OutputGuard() {
    gWriting = 0;
    if (!released_)
        std::remove(path_.c_str());
}

void OutputGuard::release() const {
    gWriting = 0;
    released_ = true;
}

void installInterruptCleanup() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = removePartialAndDie;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

std::string partialNameFor(const std::string& name) {
    return "." + name + kPartialMark + hostTag() + "-" + std::to_string(::getpid());
}

std::string temporaryPathFor(const std::string& path) {
    const std::filesystem::path target(path);
    return (target.parent_path() / partialNameFor(target.filename().string())).string();
}

void writeWholeFile(const std::string& temporary, const std::string& path, const void* data,
                    size_t size) {
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw systemError(path, "cannot make it");
    const char* next = static_cast<const char*>(data);
    size_t left = size;
    while (left > 0) {
        const ssize_t written = ::write(fd, next, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            // A write that makes no progress without an error is a full disk too.
            const int error = written < 0 ? errno : ENOSPC;
            ::close(fd);
            errno = error;
            throw systemError(path, "cannot write it");
        }
        next += written;
        left -= size_t(written);
    }
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        throw systemError(path, "cannot flush it to disk");
    }
    if (::close(fd) != 0)
        throw systemError(path, "cannot write it");
}

void commitIntoPlace(const std::string& temporary, const std::string& path,
                     const OutputGuard& guard) {
    // Network and delayed-allocation file systems report a failed write only
    // when the data is flushed; a rename before that could put a cut-short
    // file in place.
    const int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        errno = error;
        throw systemError(path, "cannot flush it to disk");
    }
    ::close(fd);
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec)
        throw Error("'" + path + "': cannot move the finished file into place: " + ec.message());
    guard.release();
}

std::vector<std::string> removeStalePartials(const std::string& folder,
                                             const std::set<std::string>& names) {
    namespace fs = std::filesystem;
    std::vector<std::string> removed;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (isStalePartial(entry, names) && fs::remove(it->path(), ec))
            removed.push_back(it->path().string());
        ec.clear();
    }
    return removed;
}

}  // namespace tweenora::media
