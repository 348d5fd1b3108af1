// SPDX-License-Identifier: Apache-2.0
#include "media/decode_log.h"

namespace tweenora::media {

void DecodeLog::decoded(int frame, std::chrono::steady_clock::time_point start) {
    nanoseconds_ += std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_[frame];
}

void DecodeLog::failed(const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_.empty())
        failure_ = message;
}

std::string DecodeLog::failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

int DecodeLog::framesDecoded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(counts_.size());
}

int DecodeLog::decodes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int total = 0;
    for (const auto& [frame, count] : counts_)
        total += count;
    return total;
}

}  // namespace tweenora::media
