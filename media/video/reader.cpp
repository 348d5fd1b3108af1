// SPDX-License-Identifier: Apache-2.0
// VideoFrames: probing a video file, then decoding forward, seeking where that is shorter.
#include "media/video/reader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

#include "host/Error.h"
#include "media/video/av_errors.h"
#include "media/video/pixel_coding.h"

namespace tweenora::media {

namespace {

// A frame at most this far ahead of the decoder is reached by decoding on;
// further ones by seeking, which costs a keyframe's decode at least.
constexpr int kDecodeAhead = 16;

bool valid(AVRational rate) {
    return rate.num > 0 && rate.den > 0;
}

// What a pass over the stream's packets finds: how many there are, and
// whether their timestamps keep to one frame duration apart.
struct PacketScan {
    int64_t count = 0;
    bool regular = true;
};

// The container does not say how many frames it holds: count the stream's
// packets, one a frame, through a reader of their own (a stream without an
// index may not seek back to its start), and look for gaps between their
// timestamps, which a variable frame rate leaves.
PacketScan scanPackets(const std::string& path, int stream, AVRational frameDuration) {
    PacketScan scan;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
        return scan;
    const AVRational timeBase = format->streams[stream]->time_base;
    std::vector<int64_t> times;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream) {
            ++scan.count;
            if (packet->pts != AV_NOPTS_VALUE)
                times.push_back(packet->pts);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    std::sort(times.begin(), times.end());
    for (size_t i = 1; i < times.size(); ++i) {
        // In frame durations; half a frame off the grid is a missing or extra frame.
        const double step =
            av_q2d(timeBase) * double(times[i] - times[i - 1]) / av_q2d(frameDuration);
        if (std::abs(step - 1.0) > 0.5)
            scan.regular = false;
    }
    return scan;
}

// The frames an edit list presents (a trimmed .mp4 or .mov): the container's
// count holds the samples before and after the edit too, and its index marks
// them as discarded. -1 when the index does not hold every frame.
int64_t presentedFrames(AVStream& stream) {
    const int entries = avformat_index_get_entries_count(&stream);
    if (stream.nb_frames <= 0 || entries != stream.nb_frames)
        return -1;
    int64_t presented = 0;
    for (int i = 0; i < entries; ++i)
        presented += !(avformat_index_get_entry(&stream, i)->flags & AVINDEX_DISCARD_FRAME);
    return presented;
}

std::string variableRateNote(const std::string& path, FrameRate rate) {
    char text[160];
    std::snprintf(text, sizeof(text),
                  "'%s' has a variable frame rate: its frames are taken in order, as a clip of "
                  "%.3f fps",
                  path.c_str(), rate.value());
    return text;
}

}  // namespace

bool isImageContainer(const std::string& formatName) {
    const std::string pipe = "_pipe";
    return formatName.rfind("image2", 0) == 0 ||
           (formatName.size() > pipe.size() &&
            formatName.compare(formatName.size() - pipe.size(), pipe.size(), pipe) == 0);
}

// Note [Frame numbers of a video]
// Frame k of a constant-rate clip is the frame whose timestamp lies k-1
// frame durations after the first frame's, however the decoder got there:
// decoding on from the start or from a keyframe after a seek gives the same
// frames. A frame missing from the stream shows the next one. A clip of
// variable rate has no such grid: its frames are counted from the start.
struct VideoFrames::Decoder {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int stream = -1;
    int64_t startPts = AV_NOPTS_VALUE;
    int held = 0;        //!< the frame number of `frame`; 0 for none
    int heldBefore = 0;  //!< the frame decoded before it, when decoding on
    int counted = 0;     //!< frames received since the last seek to the start
    bool draining = false;
    std::string error;  //!< why decoding stopped early, "" at the stream's end

    ~Decoder() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }

    //! The next frame into `frame`; false at the end of the stream or on damage.
    bool receive() {
        while (true) {
            int status = avcodec_receive_frame(codec, frame);
            if (status == 0) {
                ++counted;
                return true;
            }
            if (status != AVERROR(EAGAIN)) {
                if (status != AVERROR_EOF)
                    error = avErrorText(status);
                return false;
            }
            if (draining)
                return false;
            status = av_read_frame(format, packet);
            if (status < 0) {
                if (status != AVERROR_EOF)
                    error = avErrorText(status);
                draining = true;
                avcodec_send_packet(codec, nullptr);
                continue;
            }
            if (packet->stream_index != stream) {
                av_packet_unref(packet);
                continue;
            }
            status = avcodec_send_packet(codec, packet);
            av_packet_unref(packet);
            if (status < 0) {
                error = avErrorText(status);
                draining = true;
                avcodec_send_packet(codec, nullptr);
            }
        }
    }

    //! Moves to the keyframe at or before timestamp; INT64_MIN means the start.
    void seek(int64_t timestamp) {
        if (timestamp == INT64_MIN) {
            const int64_t startTime = format->streams[stream]->start_time;
            timestamp = startTime == AV_NOPTS_VALUE ? 0 : startTime;
        }
        if (av_seek_frame(format, stream, timestamp, AVSEEK_FLAG_BACKWARD) < 0)
            avformat_seek_file(format, stream, INT64_MIN, timestamp, INT64_MAX, 0);
        avcodec_flush_buffers(codec);
        draining = false;
        error.clear();
        held = heldBefore = 0;
    }
};

VideoFrames::VideoFrames(const std::string& path, Colorspace colorspace)
    : path_(path), colorspace_(colorspace), decoder_(std::make_unique<Decoder>()) {
    quietVideoLibraries();
    openDecoder();
    readFrameRate();
    readRotation();
    countFrames();
    decodeFirstFrame();
    describeFrames();
}

AVStream& VideoFrames::stream() const {
    return *decoder_->format->streams[decoder_->stream];
}

void VideoFrames::openDecoder() {
    const std::string& path = path_;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        throw fileError(path, "no such file");
    Decoder& d = *decoder_;
    int status = avformat_open_input(&d.format, path.c_str(), nullptr, nullptr);
    if (status < 0)
        throw fileError(path,
                        "not a video (or a format this build cannot read): " + avErrorText(status));
    status = avformat_find_stream_info(d.format, nullptr);
    if (status < 0)
        throw fileError(path, "not a video: " + avErrorText(status));
    d.stream = av_find_best_stream(d.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (d.stream < 0 || (d.format->streams[d.stream]->disposition & AV_DISPOSITION_ATTACHED_PIC))
        throw fileError(path, "holds no video stream");
    const AVCodecParameters* parameters = stream().codecpar;
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (parameters->codec_id == AV_CODEC_ID_NONE)
        throw fileError(path, "its video codec is not supported: the libraries do not know it");
    if (!decoder)
        throw fileError(path, std::string("its video codec is not supported: this build has no ") +
                                  avcodec_get_name(parameters->codec_id) + " decoder");
    d.codec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(d.codec, parameters);
    d.codec->thread_count = 0;
    status = avcodec_open2(d.codec, decoder, nullptr);
    if (status < 0)
        throw fileError(path, std::string("its video codec (") + decoder->name +
                                  ") cannot be opened: " + avErrorText(status));
}

void VideoFrames::readFrameRate() {
    const AVRational average = stream().avg_frame_rate, real = stream().r_frame_rate;
    // A raw stream (an .h264 file) has no timestamps of its own: the demuxer
    // makes them up at a rate of its choosing (newer libraries say 25 and
    // twice the field rate), and the decoder knows the stream's own rate.
    // Its frames are taken in order.
    if (decoder_->format->iformat->flags & AVFMT_NOTIMESTAMPS) {
        const AVRational decoded = decoder_->codec->framerate;
        const AVRational rate = valid(decoded) ? decoded : valid(average) ? average : real;
        if (!valid(rate))
            throw fileError(path_, "states no frame rate");
        frameRate_ = {rate.num, rate.den};
        constantRate_ = false;
        return;
    }
    const AVRational rate = valid(average) ? average : real;
    if (!valid(rate))
        throw fileError(path_, "states no frame rate");
    frameRate_ = {rate.num, rate.den};
    if (valid(average) && valid(real) && std::abs(av_q2d(average) / av_q2d(real) - 1.0) > 0.005) {
        constantRate_ = false;
        notes_.push_back(variableRateNote(path_, frameRate_));
    }
}

void VideoFrames::readRotation() {
    const uint8_t* matrix = av_stream_get_side_data(&stream(), AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix)
        return;
    double degrees = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(degrees))
        degrees = 0.0;
    degrees -= 360.0 * std::floor(degrees / 360.0);
    const long turns = std::lround(degrees / 90.0);
    if (std::abs(degrees - 90.0 * double(turns)) > 0.5)
        throw fileError(path_, "is shown rotated by " + std::to_string(degrees) +
                                   " degrees, which is no quarter turn: it cannot be retimed");
    quarterTurns_ = int(turns % 4);
    if (quarterTurns_ != 0)
        notes_.push_back("'" + path_ + "' is shown turned " + std::to_string(90 * quarterTurns_) +
                         " degrees clockwise: its frames are retimed upright, as shown");
}

void VideoFrames::countFrames() {
    const AVFormatContext& format = *decoder_->format;
    AVStream& video = stream();
    const AVRational frameDuration = {frameRate_.den, frameRate_.num};
    int64_t count = video.nb_frames;
    if (const int64_t presented = presentedFrames(video); presented > 0)
        count = presented;
    // Without a stated count, the rates the container states do not show a
    // variable rate (Matroska states none): the timestamps do.
    std::optional<PacketScan> scan;
    if (count <= 0 && constantRate_) {
        scan = scanPackets(path_, decoder_->stream, frameDuration);
        if (!scan->regular && scan->count > 0) {
            constantRate_ = false;
            count = scan->count;
            notes_.push_back(variableRateNote(path_, frameRate_));
        }
    }
    if (count <= 0 && constantRate_ && video.duration != AV_NOPTS_VALUE && video.duration > 0 &&
        format.duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
        count = av_rescale_q_rnd(video.duration, video.time_base, frameDuration, AV_ROUND_NEAR_INF);
    // A duration guessed from the bit rate is no count to go by.
    if (count <= 0 && constantRate_ && format.duration != AV_NOPTS_VALUE && format.duration > 0 &&
        format.duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
        count = av_rescale_q_rnd(format.duration, AV_TIME_BASE_Q, frameDuration, AV_ROUND_NEAR_INF);
    if (count <= 0) {
        if (!scan)
            scan = scanPackets(path_, decoder_->stream, frameDuration);
        count = scan->count;
        notes_.push_back("'" + path_ + "' does not state its frame count: counted " +
                         std::to_string(count) + " frames");
    }
    if (count <= 0)
        throw fileError(path_, "holds no video frames");
    if (count > int64_t(1) << 30)
        throw fileError(path_, "states an implausible frame count (" + std::to_string(count) + ")");
    frameCount_ = int(count);
}

void VideoFrames::decodeFirstFrame() {
    Decoder& d = *decoder_;
    if (!d.receive())
        throw fileError(path_, "cannot decode its first frame" +
                                   (d.error.empty() ? std::string() : ": " + d.error));
    d.startPts = d.frame->best_effort_timestamp;
    // Older decoders learn a raw stream's rate from its first frame.
    if ((d.format->iformat->flags & AVFMT_NOTIMESTAMPS) && valid(d.codec->framerate))
        frameRate_ = {d.codec->framerate.num, d.codec->framerate.den};
    if (d.startPts == AV_NOPTS_VALUE)
        constantRate_ = false;
    d.held = 1;
    if (!isSupportedPixelFormat(d.frame->format))
        throw fileError(path_, std::string("its pixel format (") +
                                   av_get_pix_fmt_name(AVPixelFormat(d.frame->format)) +
                                   ") is not supported");
    linearise_ = carriesSrgb(colorspace_, d.frame->color_trc != AVCOL_TRC_LINEAR);
    // HDR streams are linearised with their own transfer; --colorspace srgb says otherwise.
    if (colorspace_ == Colorspace::Auto && d.frame->color_trc == AVCOL_TRC_SMPTE2084)
        toLinear_ = pqToLinear;
    if (colorspace_ == Colorspace::Auto && d.frame->color_trc == AVCOL_TRC_ARIB_STD_B67)
        toLinear_ = hlgToLinear;
}

void VideoFrames::describeFrames() {
    Decoder& d = *decoder_;
    const bool turned = quarterTurns_ % 2 != 0;
    const int width = turned ? d.frame->height : d.frame->width;
    const int height = turned ? d.frame->width : d.frame->height;
    AVRational aspect = av_guess_sample_aspect_ratio(d.format, &stream(), d.frame);
    double pixelAspect = valid(aspect) ? av_q2d(aspect) : 1.0;
    if (turned)
        pixelAspect = 1.0 / pixelAspect;
    header_.path = path_;
    header_.formatName = d.format->iformat->name;
    header_.box = DD::Image::Box(0, 0, width, height);
    header_.format = DD::Image::Format(width, height, pixelAspect);
    header_.layout = {{"R", {DD::Image::Chan_Red}},
                      {"G", {DD::Image::Chan_Green}},
                      {"B", {DD::Image::Chan_Blue}}};
    header_.channels = DD::Image::Mask_RGB;
    // Video alpha is straight: multiplied in on reading, as a PNG's is.
    if (hasAlpha(d.frame->format)) {
        header_.layout.push_back({"A", {DD::Image::Chan_Alpha}});
        header_.channels = DD::Image::Mask_RGBA;
        header_.unassociatedAlpha = true;
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(d.frame->format));
    header_.sampleType = desc->comp[0].depth <= 8 ? SampleType::UInt8 : SampleType::UInt16;
}

VideoFrames::~VideoFrames() = default;

int VideoFrames::indexOfDecoded() const {
    const Decoder& d = *decoder_;
    const int64_t pts = d.frame->best_effort_timestamp;
    if (!constantRate_ || pts == AV_NOPTS_VALUE)
        return d.counted;
    const AVRational frameDuration = {frameRate_.den, frameRate_.num};
    const AVRational timeBase = d.format->streams[d.stream]->time_base;
    return 1 + int(av_rescale_q_rnd(pts - d.startPts, timeBase, frameDuration, AV_ROUND_NEAR_INF));
}

void VideoFrames::seekTo(int frame) {
    Decoder& d = *decoder_;
    if (!constantRate_ || frame <= 1) {
        d.seek(d.startPts == AV_NOPTS_VALUE ? INT64_MIN : d.startPts);
        d.counted = 0;
        return;
    }
    const AVRational frameDuration = {frameRate_.den, frameRate_.num};
    d.seek(d.startPts +
           av_rescale_q(frame - 1, frameDuration, d.format->streams[d.stream]->time_base));
}

std::shared_ptr<const host::ClipFrame> VideoFrames::load(int frame) {
    const int wanted = std::min(std::max(frame, 1), frameCount_);
    const auto start = std::chrono::steady_clock::now();
    Decoder& d = *decoder_;
    try {
        // A frame missing from the stream shows the next one: the held frame
        // stands for every number between the one before it and its own.
        const bool heldShowsIt = d.held > 0 && wanted <= d.held && wanted > d.heldBefore;
        if (!heldShowsIt) {
            const bool seek = d.held == 0 || wanted < d.held || wanted > d.held + kDecodeAhead;
            if (seek)
                seekTo(wanted);
            bool rewound = wanted <= 1 || !seek;
            while (true) {
                if (!d.receive()) {
                    std::string text = "damaged or truncated: frame " + std::to_string(wanted) +
                                       " of " + std::to_string(frameCount_) + " cannot be decoded";
                    if (d.held > 0)
                        text += " (the last one decoded is frame " + std::to_string(d.held) + ")";
                    // A failed receive empties the frame: nothing is held now.
                    d.held = d.heldBefore = 0;
                    throw fileError(path_, text + (d.error.empty() ? "" : ": " + d.error));
                }
                const int index = indexOfDecoded();
                if (d.held == 0 && index > wanted && !rewound) {
                    // The seek landed after the frame: decode from the start.
                    seekTo(1);
                    rewound = true;
                    continue;
                }
                d.heldBefore = d.held;
                d.held = index;
                if (index >= wanted)
                    break;
            }
        }
        auto decoded = std::make_shared<const host::ClipFrame>(toClipFrame());
        log_.decoded(wanted, start);
        return decoded;
    } catch (const Error& e) {
        log_.failed(e.what());
        throw;
    }
}

host::ClipFrame VideoFrames::toClipFrame() const {
    const AVFrame& decoded = *decoder_->frame;
    if (!isSupportedPixelFormat(decoded.format))
        throw fileError(path_, "frame " + std::to_string(decoder_->held) +
                                   " changes to an unsupported pixel format");
    const RgbPlanes rgb =
        rotateQuarterTurns(decodeRgb(decoded, pixelCodingOf(decoded)), quarterTurns_);
    const int width = header_.format.width(), height = header_.format.height();
    if (rgb.width != width || rgb.height != height)
        throw fileError(path_, "frame " + std::to_string(decoder_->held) + " is " +
                                   std::to_string(rgb.width) + "x" + std::to_string(rgb.height) +
                                   ", unlike the first frame's " + std::to_string(width) + "x" +
                                   std::to_string(height));
    host::ClipFrame frame;
    frame.box = header_.box;
    frame.format = header_.format;
    const std::pair<DD::Image::Channel, const std::vector<float>*> sources[] = {
        {DD::Image::Chan_Red, &rgb.r},
        {DD::Image::Chan_Green, &rgb.g},
        {DD::Image::Chan_Blue, &rgb.b}};
    const bool alpha = header_.channels.contains(DD::Image::Chan_Alpha);
    if (alpha && rgb.a.size() != size_t(width) * height)
        throw fileError(path_, "frame " + std::to_string(decoder_->held) +
                                   " has no alpha, unlike the first frame");
    for (const auto& [channel, source] : sources) {
        std::vector<float>& plane = frame.planes[channel];
        plane.resize(size_t(width) * height);
        // Rows run from the top in the file and from the bottom in the host.
        for (int row = 0; row < height; ++row) {
            const float* from = source->data() + size_t(height - 1 - row) * width;
            float* to = plane.data() + size_t(row) * width;
            if (linearise_)
                std::transform(from, from + width, to, toLinear_);
            else
                std::copy(from, from + width, to);
        }
    }
    if (alpha) {
        std::vector<float>& plane = frame.planes[DD::Image::Chan_Alpha];
        plane.resize(size_t(width) * height);
        for (int row = 0; row < height; ++row)
            std::copy_n(rgb.a.data() + size_t(height - 1 - row) * width, width,
                        plane.data() + size_t(row) * width);
        for (DD::Image::Channel channel :
             {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue}) {
            std::vector<float>& colour = frame.planes[channel];
            for (size_t i = 0; i < colour.size(); ++i)
                colour[i] *= plane[i];
        }
    }
    return frame;
}

}  // namespace tweenora::media
