// SPDX-License-Identifier: Apache-2.0
// --factor and --to-fps: timing that keeps source frames, as output_frame keys of the node's frame
// mode.
#include "cli/video_timing.h"

#include <string>

#include "host/Error.h"

namespace tweenora::cli {
namespace {

// Rates hold numerators and denominators up to 10^6 and clips up to 2^32
// frames: products in 128 bits cannot overflow.
using Wide = __int128;

int64_t checkedCount(Wide count, const std::string& option) {
    if (count > kMaxListedFrames)
        throw Error(option + ": the output would hold more than " +
                    std::to_string(kMaxListedFrames) + " frames");
    return int64_t(count);
}

}  // namespace

std::vector<FrameKey> factorKeys(int64_t start, int64_t end, int factor) {
    const int64_t direction = end < start ? -1 : 1;
    const int64_t span = (end - start) * direction;
    const int64_t last = checkedCount(Wide(span) * factor + 1, "--factor") - 1;
    std::vector<FrameKey> keys = {{double(start), double(start)}};
    if (last > 0)
        keys.push_back({double(start + last), double(end)});
    return keys;
}

std::vector<FrameKey> frameRateKeys(int64_t start, int64_t end, media::FrameRate from,
                                    media::FrameRate to) {
    const int64_t direction = end < start ? -1 : 1;
    const int64_t span = (end - start) * direction;
    // Source time per output frame, from / to, as the fraction num / den.
    const Wide num = Wide(from.num) * to.den;
    const Wide den = Wide(from.den) * to.num;
    const int64_t count = checkedCount((Wide(span + 1) * den + num - 1) / num, "--to-fps");
    // The last output frame that still lies between two source frames.
    const int64_t lastBetween = int64_t(Wide(span) * den / num);
    std::vector<FrameKey> keys = {{double(start), double(start)}};
    if (lastBetween > 0)
        keys.push_back(
            {double(start + lastBetween),
             double(start) + double(direction) * double(lastBetween) * double(num) / double(den)});
    // Hold the last source frame: a key right after the straight part, and
    // one at the end when the hold is longer than a frame.
    if (count - 1 > lastBetween)
        keys.push_back({double(start + lastBetween + 1), double(end)});
    if (count - 1 > lastBetween + 1)
        keys.push_back({double(start + count - 1), double(end)});
    return keys;
}

TimingOptions withVideoTiming(const TimingOptions& timing, media::FrameRate clipRate) {
    if (!timing.factor && !timing.toFps) {
        if (timing.fromFps)
            throw Error("--from-fps: only --to-fps reads it");
        return timing;
    }
    TimingOptions keyed = timing;
    const int64_t start = timing.range->start, end = timing.range->end;
    if (timing.factor) {
        keyed.frameKeys = factorKeys(start, end, *timing.factor);
    } else {
        const media::FrameRate from = timing.fromFps ? *timing.fromFps : clipRate;
        if (from.num <= 0 || from.den <= 0)
            throw Error(
                "--to-fps: the input has no frame rate of its own (an image sequence); "
                "give it with --from-fps");
        keyed.frameKeys = frameRateKeys(start, end, from, *timing.toFps);
    }
    keyed.factor.reset();
    keyed.toFps.reset();
    return keyed;
}

}  // namespace tweenora::cli
