// SPDX-License-Identifier: Apache-2.0
// AudioTrack: an input video's audio carried into the retimed video: copied, or re-timed.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct AVFormatContext;

namespace tweenora::media {

//! What becomes of the input's audio: copied when the output lasts as long
//! as the input (dropped with a note otherwise), dropped, or re-timed with
//! its pitch kept.
enum class AudioMode { Copy, Drop, Retime };

//! "copy", "drop" or "retime"; throws tweenora::Error otherwise.
AudioMode parseAudioMode(const std::string& text);

//! Where the output's audio comes from and how its time runs.
struct AudioPlan {
    std::string source;  //!< the input video; "" for none
    AudioMode mode = AudioMode::Copy;
    //! Seconds after the source's first video frame that the output starts at.
    double sourceStart = 0.0;
    //! Source seconds per output second; 0 when the retime has no constant one.
    double tempo = 1.0;
    double duration = 0.0;  //!< the output's seconds
    //! Why the output's time cannot be mapped onto the source's, "" when it can.
    std::string unmapped;
};

//! The atempo factors, each within the filter's 0.5..2, whose product is tempo (> 0).
std::vector<double> atempoChain(double tempo);

//! Adds the source's audio to a video being written, packets interleaved
//! with the video's as it goes.
class AudioTrack {
public:
    //! Adds the stream to out, whose header is not written yet. Throws
    //! tweenora::Error naming outPath when the audio cannot be read or encoded.
    AudioTrack(const AudioPlan& plan, AVFormatContext& out, const std::string& outPath);
    ~AudioTrack();
    AudioTrack(const AudioTrack&) = delete;
    AudioTrack& operator=(const AudioTrack&) = delete;

    //! Writes the audio that comes before seconds of output.
    void writeUntil(double seconds);
    //! Writes the rest, up to the output's end.
    void finish();
    //! What the user should know: audio dropped, or re-encoded.
    const std::vector<std::string>& notes() const { return notes_; }

private:
    struct Streams;
    std::unique_ptr<Streams> streams_;
    std::vector<std::string> notes_;
};

}  // namespace tweenora::media
