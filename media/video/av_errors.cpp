// SPDX-License-Identifier: Apache-2.0
// Small helpers the video reader and writer share around FFmpeg's libraries.
#include "media/video/av_errors.h"

#include <mutex>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace tweenora::media {

std::string avErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

void quietVideoLibraries() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

}  // namespace tweenora::media
