// SPDX-License-Identifier: Apache-2.0
// Timecodes carried through a retime, counted with libavutil's timecode arithmetic.
#include "media/video/timecode.h"

#include <cmath>

extern "C" {
#include <libavutil/timecode.h>
}

namespace tweenora::media {

std::string mappedTimecode(const std::string& sourceTimecode, FrameRate sourceRate,
                           double sourceStart, FrameRate outputRate) {
    if (sourceTimecode.empty() || sourceRate.num <= 0 || outputRate.num <= 0)
        return "";
    AVTimecode source;
    if (av_timecode_init_from_string(&source, {sourceRate.num, sourceRate.den},
                                     sourceTimecode.c_str(), nullptr) < 0)
        return "";
    // Timecode counts nominal frames (30 a second at 29.97): the start as
    // nominal seconds, the offset as the source frames it spans.
    const double seconds =
        (double(source.start) + sourceStart * sourceRate.value()) / double(source.fps);
    AVTimecode output;
    const AVRational rate = {outputRate.num, outputRate.den};
    const int dropFrame =
        (source.flags & AV_TIMECODE_FLAG_DROPFRAME) && av_timecode_check_frame_rate(rate) == 0 &&
                (av_cmp_q(rate, {30000, 1001}) == 0 || av_cmp_q(rate, {60000, 1001}) == 0)
            ? AV_TIMECODE_FLAG_DROPFRAME
            : 0;
    if (av_timecode_init(&output, rate, dropFrame, 0, nullptr) < 0)
        return "";
    const int frames = int(std::llround(seconds * output.fps));
    char text[AV_TIMECODE_STR_SIZE];
    return av_timecode_make_string(&output, text, frames);
}

}  // namespace tweenora::media
