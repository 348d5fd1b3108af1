// SPDX-License-Identifier: Apache-2.0
// OutputGuard: no partial output file survives a failure or an interrupt.
#pragma once

#include <string>

namespace tweenora::cli {

//! Removes the file at path, which is being written, unless released: when the
//! guard goes out of scope (a failed write) and when the process is stopped by
//! SIGINT, SIGTERM or SIGHUP while the guard lives (an interrupted run). One
//! guard at a time; the tool writes one file at a time.
class OutputGuard {
public:
    explicit OutputGuard(const std::string& path);
    ~OutputGuard();
    OutputGuard(const OutputGuard&) = delete;
    OutputGuard& operator=(const OutputGuard&) = delete;

    //! The file is complete and in place: keep it.
    void release() const;

private:
    std::string path_;
    mutable bool released_ = false;
};

//! Installs the signal handlers that clean up after an interrupt (once).
void installInterruptCleanup();

}  // namespace tweenora::cli
