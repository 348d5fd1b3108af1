// SPDX-License-Identifier: Apache-2.0
// Progress: the live status line, plain log lines, and the time estimate.
#include "cli/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <thread>
#include <vector>

namespace tweenora::cli {

namespace {

// Plain lines carry the estimate after the first frame and every this many after.
constexpr int kLinesPerEstimate = 5;
// Used when the terminal does not say how wide it is.
constexpr int kDefaultColumns = 80;
// How often the elapsed time on the status line moves on.
constexpr std::chrono::milliseconds kRedrawInterval(250);
const char* const kClearLine = "\r\033[2K";

void writeAll(int fd, const std::string& text) {
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n <= 0)
            return;
        written += size_t(n);
    }
}

}  // namespace

// Note [Terminal relay]
// The node prints lines of its own (on standard output and, for errors,
// standard error) in the middle of a frame. Written straight to the terminal
// they would land on the end of the status line. So while the display runs,
// those descriptors, where they are the terminal, point into a pipe; a reader
// thread clears the status line, prints each line it gets, and draws the
// status line again below it. A ticker redraws the line as time passes.
class TerminalRelay {
public:
    explicit TerminalRelay(Progress& progress) : progress_(progress) {
        terminal_ = ::dup(STDERR_FILENO);
        int fds[2];
        if (terminal_ < 0 || ::pipe(fds) != 0)
            return;
        readEnd_ = fds[0];
        std::fflush(stdout);
        std::cout.flush();
        // Node lines should arrive as they are printed, not when a buffer fills.
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
        for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
            if (!::isatty(fd))
                continue;
            saved_.push_back({fd, ::dup(fd)});
            ::dup2(fds[1], fd);
        }
        ::close(fds[1]);
        reader_ = std::thread([this] { relay(); });
        ticker_ = std::thread([this] { tick(); });
    }

    ~TerminalRelay() {
        std::fflush(stdout);
        std::cout.flush();
        std::cerr.flush();
        // Giving the descriptors back closes the pipe's last write end, which
        // ends the reader once it has passed on everything.
        for (const auto& [fd, copy] : saved_) {
            ::dup2(copy, fd);
            ::close(copy);
        }
        if (reader_.joinable())
            reader_.join();
        {
            std::lock_guard<std::mutex> lock(tickMutex_);
            stopping_ = true;
        }
        tickWake_.notify_all();
        if (ticker_.joinable())
            ticker_.join();
        {
            std::lock_guard<std::mutex> lock(drawMutex_);
            clearLocked();
        }
        if (readEnd_ >= 0)
            ::close(readEnd_);
        if (terminal_ >= 0)
            ::close(terminal_);
    }

    void redraw() {
        std::lock_guard<std::mutex> lock(drawMutex_);
        drawLocked();
    }

    //! Prints text above the status line.
    void print(const std::string& text) {
        std::lock_guard<std::mutex> lock(drawMutex_);
        clearLocked();
        writeAll(terminal_, text);
        drawLocked();
    }

private:
    void drawLocked() {
        std::string line = progress_.currentLine();
        if (line.empty())
            return;
        winsize size{};
        const int columns = ::ioctl(terminal_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0
                                ? size.ws_col
                                : kDefaultColumns;
        // A line as wide as the terminal would wrap, and \r returns only to
        // the start of its last piece.
        if (line.size() >= size_t(columns))
            line.resize(size_t(columns) - 1);
        writeAll(terminal_, kClearLine + line);
        shown_ = true;
    }

    void clearLocked() {
        if (shown_)
            writeAll(terminal_, kClearLine);
        shown_ = false;
    }

    void relay() {
        std::string pending;
        char buffer[4096];
        while (true) {
            const ssize_t n = ::read(readEnd_, buffer, sizeof(buffer));
            if (n <= 0)
                break;
            pending.append(buffer, size_t(n));
            const size_t lastNewline = pending.rfind('\n');
            if (lastNewline == std::string::npos)
                continue;
            print(pending.substr(0, lastNewline + 1));
            pending.erase(0, lastNewline + 1);
        }
        if (!pending.empty())
            print(pending + "\n");
    }

    void tick() {
        std::unique_lock<std::mutex> lock(tickMutex_);
        while (!tickWake_.wait_for(lock, kRedrawInterval, [this] { return stopping_; })) {
            lock.unlock();
            redraw();
            lock.lock();
        }
    }

    Progress& progress_;
    int terminal_ = -1;
    int readEnd_ = -1;
    std::vector<std::pair<int, int>> saved_;  //!< descriptor, copy of what it was
    std::thread reader_;
    std::thread ticker_;
    std::mutex drawMutex_;
    bool shown_ = false;
    std::mutex tickMutex_;
    std::condition_variable tickWake_;
    bool stopping_ = false;
};

std::string formatDuration(double seconds) {
    const long long total = seconds > 0.0 ? (long long)std::floor(seconds) : 0;
    const long long hours = total / 3600, minutes = total / 60 % 60, secs = total % 60;
    char text[48];
    if (hours > 0)
        std::snprintf(text, sizeof(text), "%lld:%02lld:%02lld", hours, minutes, secs);
    else
        std::snprintf(text, sizeof(text), "%lld:%02lld", minutes, secs);
    return text;
}

std::string statusLine(int index, int total, int frame, const std::string& message,
                       double elapsedSeconds, std::optional<double> remainingSeconds) {
    std::string line = "frame " + std::to_string(index) + " of " + std::to_string(total) + " (" +
                       std::to_string(frame) + ")";
    if (!message.empty())
        line += " | " + message;
    line += " | " + formatDuration(elapsedSeconds) + " elapsed";
    if (remainingSeconds)
        line += " | about " + formatDuration(*remainingSeconds) + " left";
    return line;
}

std::optional<double> estimateRemaining(double finishedSeconds, int framesDone,
                                        double inFrameSeconds, int total) {
    if (framesDone <= 0)
        return std::nullopt;
    const int left = total - framesDone;
    if (left <= 0)
        return 0.0;
    const double pace = finishedSeconds / framesDone;
    return std::max(pace - inFrameSeconds, 0.0) + pace * (left - 1);
}

class ConsoleLineFilter::Buffer : public std::streambuf {
public:
    Buffer(std::streambuf* target, std::string hidden)
        : target_(target), hidden_(std::move(hidden)) {}
    ~Buffer() override {
        std::lock_guard<std::mutex> lock(mutex_);
        forwardLocked();
    }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        xsputn(&ch, 1);
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        // The node may print from worker threads.
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::streamsize i = 0; i < count; ++i) {
            line_ += text[i];
            if (text[i] == '\n')
                forwardLocked();
        }
        return count;
    }
    int sync() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return target_->pubsync();
    }

private:
    void forwardLocked() {
        if (line_.find(hidden_) == std::string::npos)
            target_->sputn(line_.data(), std::streamsize(line_.size()));
        line_.clear();
    }

    std::streambuf* target_;
    std::string hidden_;
    std::mutex mutex_;
    std::string line_;
};

ConsoleLineFilter::ConsoleLineFilter(std::string hidden, bool shown) {
    if (shown)
        return;
    buffer_ = std::make_unique<Buffer>(std::cout.rdbuf(), std::move(hidden));
    original_ = std::cout.rdbuf(buffer_.get());
}

ConsoleLineFilter::~ConsoleLineFilter() {
    if (!buffer_)
        return;
    std::cout.flush();
    std::cout.rdbuf(original_);
    buffer_.reset();
    std::cout.flush();
}

Progress::Style Progress::styleFor(bool quiet) {
    if (quiet)
        return Style::Quiet;
    return ::isatty(STDERR_FILENO) ? Style::Terminal : Style::Lines;
}

Progress::Progress(Style style, int total, std::ostream& out)
    : style_(style), total_(total), out_(out), start_(std::chrono::steady_clock::now()) {
    if (style_ == Style::Terminal)
        relay_ = std::make_unique<TerminalRelay>(*this);
}

Progress::~Progress() = default;

double Progress::elapsedSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string Progress::currentLine() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index_ == 0 || finished_)
        return "";
    const double elapsed = elapsedSeconds();
    return statusLine(index_, total_, frame_, message_, elapsed, remainingLocked(elapsed));
}

std::optional<double> Progress::remainingLocked(double elapsed) const {
    const bool inFrame = index_ > done_;
    const double finished =
        inFrame ? std::chrono::duration<double>(frameStart_ - start_).count() : elapsed;
    return estimateRemaining(finished, done_, inFrame ? elapsed - finished : 0.0, total_);
}

void Progress::beginFrame(int frame) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++index_;
        frame_ = frame;
        message_.clear();
        frameStart_ = std::chrono::steady_clock::now();
    }
    if (relay_)
        relay_->redraw();
}

void Progress::message(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (text == message_)
            return;
        message_ = text;
    }
    if (relay_)
        relay_->redraw();
}

void Progress::endFrame(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++done_;
    if (style_ != Style::Lines)
        return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - frameStart_).count();
    char took[32];
    std::snprintf(took, sizeof(took), "%.2f", seconds);
    out_ << "frame " << index_ << " of " << total_ << " (" << frame_ << "): wrote " << path
         << " in " << took << " s";
    if (done_ < total_ && (done_ == 1 || done_ % kLinesPerEstimate == 0))
        if (const std::optional<double> left = remainingLocked(elapsedSeconds()))
            out_ << "; about " << formatDuration(*left) << " left";
    out_ << "\n" << std::flush;
}

void Progress::finish(const std::string& summary) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
    }
    if (style_ == Style::Quiet)
        return;
    if (relay_)
        relay_->print(summary + "\n");
    else
        out_ << summary << "\n" << std::flush;
}

}  // namespace tweenora::cli
