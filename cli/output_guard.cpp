// SPDX-License-Identifier: Apache-2.0
// OutputGuard: removing partial files on failure and on interrupting signals.
#include "cli/output_guard.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace tweenora::cli {

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

}  // namespace tweenora::cli
