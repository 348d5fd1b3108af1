// SPDX-License-Identifier: Apache-2.0
// Progress: what the retime tool shows while it works.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>

namespace tweenora::cli {

//! "0:07", "12:34", "1:02:03" (seconds rounded down).
std::string formatDuration(double seconds);

//! The status line: "frame 3 of 24 (1003) | Interpolating (pass 2/6) | 0:12
//! elapsed | about 1:30 left"; the message part is left out when empty, the
//! estimate when there is none yet.
std::string statusLine(int index, int total, int frame, const std::string& message,
                       double elapsedSeconds, std::optional<double> remainingSeconds);

//! Time left, from the frames finished so far (finishedSeconds for framesDone
//! of total) at their average pace, less what the frame in progress has had
//! of its share (inFrameSeconds, 0 between frames), so that the estimate falls
//! while a frame renders instead of climbing with the clock; none before the
//! first frame is done.
std::optional<double> estimateRemaining(double finishedSeconds, int framesDone,
                                        double inFrameSeconds, int total);

//! While it lives, lines written to std::cout (the node's console lines among
//! them) that contain hidden are left out, unless shown is true. The node
//! announces every layer it runs the network on; once per frame is noise
//! outside debugging.
class ConsoleLineFilter {
public:
    ConsoleLineFilter(std::string hidden, bool shown);
    ~ConsoleLineFilter();
    ConsoleLineFilter(const ConsoleLineFilter&) = delete;
    ConsoleLineFilter& operator=(const ConsoleLineFilter&) = delete;

private:
    class Buffer;
    std::unique_ptr<Buffer> buffer_;
    std::streambuf* original_ = nullptr;
};

class TerminalRelay;

//! On a terminal, one status line kept at the bottom and redrawn in place as
//! time passes and the node reports its passes, with whatever else is printed
//! (the node's console lines) scrolling above it; elsewhere (a log file, a farm)
//! one plain line per finished frame, with the estimate every few frames;
//! nothing at all when quiet.
class Progress {
public:
    enum class Style { Quiet, Lines, Terminal };
    //! Terminal when standard error is one, else Lines; Quiet when asked.
    static Style styleFor(bool quiet);

    //! Lines go to out. A terminal display takes over standard output and
    //! standard error (where they are the terminal) until destruction.
    Progress(Style style, int total, std::ostream& out);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void beginFrame(int frame);
    //! A message of the node's (such as its pass messages) for the frame in work.
    void message(const std::string& text);
    void endFrame(const std::string& path);
    //! Closing summary line (not when quiet).
    void finish(const std::string& summary);

    double elapsedSeconds() const;

private:
    friend class TerminalRelay;
    //! The status line as it stands now (empty before the first frame).
    std::string currentLine() const;
    //! The estimate at elapsed seconds; mutex_ held.
    std::optional<double> remainingLocked(double elapsed) const;

    Style style_;
    int total_;
    std::ostream& out_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point frameStart_;
    mutable std::mutex mutex_;
    int index_ = 0;
    int frame_ = 0;
    int done_ = 0;
    std::string message_;
    bool finished_ = false;
    std::unique_ptr<TerminalRelay> relay_;
};

}  // namespace tweenora::cli
