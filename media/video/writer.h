// SPDX-License-Identifier: Apache-2.0
// VideoWriter: frames encoded into a video file that appears only when complete.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/Clip.h"
#include "media/colour/transfer.h"
#include "media/frames.h"
#include "media/video/audio_track.h"
#include "media/video/source_streams.h"

struct AVCodec;
struct AVOutputFormat;

namespace tweenora::media {

class OutputGuard;

//! How a video is encoded.
struct VideoSettings {
    FrameRate frameRate;
    //! An encoder's name; empty: by container, ProRes 422 HQ (prores_ks,
    //! yuv422p10le) for .mov, H.264 (libx264, yuv420p) for .mp4, .m4v and .mkv,
    //! else the container's own default.
    std::string codec;
    //! Constant rate factor for encoders that take one; default 18 there.
    //! (Deeper input to .mp4, .m4v and .mkv: see sourceBitDepth.)
    std::optional<int> crf;
    //! How linear light is encoded: Auto and Srgb apply the sRGB transfer.
    Colorspace colorspace = Colorspace::Auto;
    //! Frames between keyframes; 0 leaves it to the encoder.
    int keyframeInterval = 0;
    //! The tags of the video whose code values are written back (its matrix
    //! is also the one encoded with); none: BT.709, with the sRGB transfer
    //! for sRGB-encoded frames.
    std::optional<ColourTags> colourTags;
    //! Width over height of a pixel.
    double pixelAspect = 1.0;
    //! The input's audio, and how the output's time runs against it.
    AudioPlan audio;
    //! The first frame's timecode ("HH:MM:SS:FF" at frameRate), "" for none.
    std::string timecode;
    //! ProRes profile by name (proxy, lt, standard, hq, 4444, 4444xq); "" for hq.
    std::string proresProfile;
    //! A pixel format by FFmpeg's name; "" picks one by encoder and sourceBitDepth.
    std::string pixelFormat;
    //! The encoder's preset (x264, x265), "" for its own default.
    std::string preset;
    //! Bits per component of the input, kept by the defaults: above 8, .mp4,
    //! .m4v and .mkv get 10-bit H.265 (libx265) rather than 8-bit H.264.
    int sourceBitDepth = 8;
    //! No log lines from the encoders.
    bool quiet = false;
    //! Keep the frames' alpha: by default ProRes then writes 4444 with alpha
    //! (yuva444p10le). Alpha is written straight, as it is read.
    bool alpha = false;
};

//! The name of the container FFmpeg writes path's extension in, "" when none.
std::string videoContainerFor(const std::string& path);

//! The encoder the settings pick for path.
std::string videoCodecFor(const std::string& path, const VideoSettings& settings);

//! Writes the frames given, in order, as one video stream. The file is written
//! under temporaryPathFor(path) and renamed by finish(): a writer destroyed
//! unfinished (a failed or interrupted run) leaves nothing behind.
class VideoWriter {
public:
    //! Throws tweenora::Error naming path: no container for its extension, no
    //! such encoder, an encoder the container cannot hold or that refuses the
    //! size (4:2:0 needs even sizes), a file that cannot be made.
    VideoWriter(const std::string& path, int width, int height, const VideoSettings& settings);
    ~VideoWriter();
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    //! Encodes frame's red, green and blue over its format (black outside its
    //! box). Returns the names of its other channels, which a video cannot
    //! hold. Throws tweenora::Error naming the file.
    std::vector<std::string> write(const host::ClipFrame& frame);
    //! Flushes the encoder and moves the file into place.
    void finish();
    //! What the user should know about the streams besides the video's.
    std::vector<std::string> notes() const;

private:
    struct Encoder;

    // The constructor's steps, in order.
    const AVCodec& chooseEncoder(const AVOutputFormat& container, const VideoSettings& settings);
    void openEncoder(const AVCodec& codec, int width, int height, const VideoSettings& settings,
                     bool globalHeader);
    void openContainer(const AVOutputFormat& container, const VideoSettings& settings);

    std::string path_;
    std::string temporary_;
    std::string codec_;
    bool encodeSrgb_ = true;
    float (*fromLinear_)(float) = linearToSrgb;  //!< the transfer encoded, when encodeSrgb_
    std::unique_ptr<Encoder> encoder_;
    std::unique_ptr<OutputGuard> guard_;
};

}  // namespace tweenora::media
