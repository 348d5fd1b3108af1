// SPDX-License-Identifier: Apache-2.0
// DecodeLog: what a source of input frames has decoded, for the run's summary and errors.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace tweenora::media {

//! How often each frame was decoded, the time that took and the first failure.
//! The node's worker threads decode at once, so every member is thread-safe.
class DecodeLog {
public:
    //! Counts a decode of frame that began at start and has just finished.
    void decoded(int frame, std::chrono::steady_clock::time_point start);
    //! Keeps message when no failure came before it.
    void failed(const std::string& message);

    //! The first failure, "" when none.
    std::string failure() const;
    //! Frames decoded so far, and how many decodes that took in all.
    int framesDecoded() const;
    int decodes() const;
    double seconds() const { return nanoseconds_.load() * 1e-9; }

private:
    mutable std::mutex mutex_;
    std::string failure_;
    std::map<int, int> counts_;
    std::atomic<long long> nanoseconds_{0};
};

}  // namespace tweenora::media
