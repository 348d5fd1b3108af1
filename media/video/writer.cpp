// SPDX-License-Identifier: Apache-2.0
// VideoWriter: choosing encoder and pixel format by container, encoding, safe finishing.
#include "media/video/writer.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "host/Error.h"
#include "host/text.h"
#include "media/safe_write.h"
#include "media/video/av_errors.h"
#include "media/video/pixel_coding.h"

namespace tweenora::media {

namespace fs = std::filesystem;

namespace {

constexpr int kDefaultCrf = 18;

std::string extensionOf(const std::string& path) {
    return host::lowerCase(fs::path(path).extension().string());
}

bool takesPixelFormat(const AVCodec& codec, AVPixelFormat format) {
    if (!codec.pix_fmts)
        return true;
    for (const AVPixelFormat* f = codec.pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
        if (*f == format)
            return true;
    return false;
}

bool isProres(const std::string& name) {
    return name == "prores_ks" || name == "prores_aw" || name == "prores";
}

AVPixelFormat pixelFormatFor(const AVCodec& codec, const VideoSettings& settings) {
    const std::string name = codec.name;
    if (!settings.pixelFormat.empty()) {
        const AVPixelFormat format = av_get_pix_fmt(settings.pixelFormat.c_str());
        if (format == AV_PIX_FMT_NONE)
            throw Error("--pix-fmt: no pixel format is called '" + settings.pixelFormat + "'");
        if (!takesPixelFormat(codec, format) || !isSupportedPixelFormat(format))
            throw Error("--pix-fmt: the " + name + " encoder cannot write " + settings.pixelFormat +
                        " here");
        return format;
    }
    const bool deep = settings.sourceBitDepth > 8;
    if (isProres(name) && settings.alpha &&
        (settings.proresProfile.empty() || settings.proresProfile.rfind("4444", 0) == 0) &&
        takesPixelFormat(codec, AV_PIX_FMT_YUVA444P10LE))
        return AV_PIX_FMT_YUVA444P10LE;
    if (isProres(name))
        return settings.proresProfile.rfind("4444", 0) == 0 ? AV_PIX_FMT_YUV444P10LE
                                                            : AV_PIX_FMT_YUV422P10LE;
    if ((name == "libx264" || name == "libx265") && deep &&
        takesPixelFormat(codec, AV_PIX_FMT_YUV420P10LE))
        return AV_PIX_FMT_YUV420P10LE;
    if (name == "libx264" || name == "libx265")
        return AV_PIX_FMT_YUV420P;
    // Lossless, so full chroma: any frame size, nothing lost but the rounding.
    if (name == "ffv1")
        return AV_PIX_FMT_YUV444P10LE;
    if (codec.pix_fmts)
        for (const AVPixelFormat* format = codec.pix_fmts; *format != AV_PIX_FMT_NONE; ++format)
            if (isSupportedPixelFormat(*format))
                return *format;
    return AV_PIX_FMT_YUV420P;
}

// The constant rate factors encoder takes through its option crf: the
// option's range where that is a real one, the library's own where the option
// takes any number (the x264 and x265 wrappers: 0-51).
std::pair<int, int> crfRange(const std::string& encoder, const AVOption& crf) {
    constexpr int kX26xLargestCrf = 51;
    const int smallest = std::max(0, int(crf.min));
    if (crf.max < 1e6)
        return {smallest, int(crf.max)};
    if (encoder.rfind("libx264", 0) == 0 || encoder == "libx265")
        return {smallest, kX26xLargestCrf};
    return {smallest, std::numeric_limits<int>::max()};
}

// The encoder's own options the settings ask for.
void setEncoderOptions(AVCodecContext& context, const std::string& codec,
                       const VideoSettings& settings) {
    if (isProres(codec) || !settings.proresProfile.empty()) {
        // 4:4:4 is what the 4444 profiles are for; 4:2:2 gets HQ.
        const bool full = av_pix_fmt_desc_get(context.pix_fmt)->log2_chroma_w == 0;
        const std::string profile = !settings.proresProfile.empty() ? settings.proresProfile
                                    : full                          ? "4444"
                                                                    : "hq";
        if (codec != "prores_ks")
            throw Error("--prores-profile: the " + codec + " encoder takes no ProRes profile");
        av_opt_set(context.priv_data, "profile", profile.c_str(), 0);
    }
    if (!settings.preset.empty()) {
        if (!av_opt_find(context.priv_data, "preset", nullptr, 0, 0))
            throw Error("--preset: the " + codec + " encoder takes no preset");
        av_opt_set(context.priv_data, "preset", settings.preset.c_str(), 0);
    }
    // x265 prints its own lines: warnings only, none when quiet.
    if (codec == "libx265")
        av_opt_set(context.priv_data, "x265-params",
                   settings.quiet ? "log-level=none" : "log-level=warning", 0);
}

}  // namespace

std::string videoContainerFor(const std::string& path) {
    const AVOutputFormat* container = av_guess_format(nullptr, path.c_str(), nullptr);
    return container ? container->name : "";
}

std::string videoCodecFor(const std::string& path, const VideoSettings& settings) {
    if (!settings.codec.empty())
        return settings.codec;
    const std::string extension = extensionOf(path);
    if (extension == ".mov")
        return "prores_ks";
    if (extension == ".mp4" || extension == ".m4v" || extension == ".mkv")
        return settings.sourceBitDepth > 8 ? "libx265" : "libx264";
    const AVOutputFormat* container = av_guess_format(nullptr, path.c_str(), nullptr);
    if (container && container->video_codec != AV_CODEC_ID_NONE)
        if (const AVCodec* codec = avcodec_find_encoder(container->video_codec))
            return codec->name;
    return "";
}

struct VideoWriter::Encoder {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    PixelCoding coding;
    int64_t nextPts = 0;
    std::unique_ptr<AudioTrack> audio;

    ~Encoder() {
        audio.reset();
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
        if (format) {
            avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    //! Sends frame (null: the end) and writes the packets that come out.
    void encode(const AVFrame* input, const std::string& path) {
        int status = avcodec_send_frame(codec, input);
        if (status < 0)
            throw fileError(path, "cannot encode: " + avErrorText(status));
        while ((status = avcodec_receive_packet(codec, packet)) == 0) {
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const double seconds = double(packet->dts) * av_q2d(stream->time_base);
            status = av_interleaved_write_frame(format, packet);
            if (status >= 0)
                status = format->pb->error;  // a buffered write that failed (a full disk)
            if (status < 0)
                throw fileError(path, "cannot write: " + avErrorText(status));
            // The audio keeps pace, so that the muxer need not hold either back.
            if (audio)
                audio->writeUntil(seconds);
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF)
            throw fileError(path, "cannot encode: " + avErrorText(status));
    }
};

VideoWriter::VideoWriter(const std::string& path, int width, int height,
                         const VideoSettings& settings)
    : path_(path), temporary_(temporaryPathFor(path)), encoder_(std::make_unique<Encoder>()) {
    quietVideoLibraries();
    encodeSrgb_ = carriesSrgb(settings.colorspace, true);
    // An HDR input's frames go back through its own transfer (as the reader decoded them).
    const int transfer = settings.colourTags ? settings.colourTags->transfer : 0;
    if (settings.colorspace == Colorspace::Auto && transfer == AVCOL_TRC_SMPTE2084)
        fromLinear_ = linearToPq;
    if (settings.colorspace == Colorspace::Auto && transfer == AVCOL_TRC_ARIB_STD_B67)
        fromLinear_ = linearToHlg;
    const AVOutputFormat* container = av_guess_format(nullptr, path.c_str(), nullptr);
    if (!container || container->video_codec == AV_CODEC_ID_NONE)
        throw fileError(path, "no video container is known for its extension");
    const AVCodec& codec = chooseEncoder(*container, settings);
    openEncoder(codec, width, height, settings, container->flags & AVFMT_GLOBALHEADER);
    openContainer(*container, settings);
}

const AVCodec& VideoWriter::chooseEncoder(const AVOutputFormat& container,
                                          const VideoSettings& settings) {
    codec_ = videoCodecFor(path_, settings);
    const AVCodec* codec = avcodec_find_encoder_by_name(codec_.c_str());
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO)
        throw fileError(path_, "this build has no video encoder '" + codec_ + "'");
    if (avformat_query_codec(&container, codec->id, FF_COMPLIANCE_NORMAL) == 0)
        throw fileError(path_, std::string("a ") + container.name + " file cannot hold " + codec_);
    if (settings.frameRate.num <= 0 || settings.frameRate.den <= 0)
        throw fileError(path_, "no frame rate to write it at");
    return *codec;
}

void VideoWriter::openEncoder(const AVCodec& codec, int width, int height,
                              const VideoSettings& settings, bool globalHeader) {
    Encoder& e = *encoder_;
    const AVPixelFormat pixelFormat = pixelFormatFor(codec, settings);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixelFormat);
    const int stepX = 1 << desc->log2_chroma_w, stepY = 1 << desc->log2_chroma_h;
    if (width % stepX != 0 || height % stepY != 0)
        throw fileError(path_, codec_ + " in " + av_get_pix_fmt_name(pixelFormat) +
                                   " needs a width divisible by " + std::to_string(stepX) +
                                   " and a height divisible by " + std::to_string(stepY) +
                                   "; the frames are " + std::to_string(width) + "x" +
                                   std::to_string(height));
    if (fromLinear_ != linearToSrgb && desc->comp[0].depth < 10)
        throw fileError(path_, std::string("an HDR input needs 10 bits or more: ") +
                                   av_get_pix_fmt_name(pixelFormat) + " has " +
                                   std::to_string(desc->comp[0].depth));
    const ColourTags tags = settings.colourTags.value_or(ColourTags{});
    e.coding = outputPixelCoding(pixelFormat, tags.matrix);

    e.codec = avcodec_alloc_context3(&codec);
    e.codec->width = width;
    e.codec->height = height;
    e.codec->pix_fmt = pixelFormat;
    e.codec->framerate = {settings.frameRate.num, settings.frameRate.den};
    e.codec->time_base = {settings.frameRate.den, settings.frameRate.num};
    e.codec->thread_count = 0;
    if (settings.keyframeInterval > 0)
        e.codec->gop_size = settings.keyframeInterval;
    e.codec->color_range = e.coding.rgb ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    e.codec->colorspace = e.coding.rgb ? AVCOL_SPC_RGB : AVColorSpace(tags.matrix);
    e.codec->color_primaries = AVColorPrimaries(tags.primaries);
    // The sRGB curve that decoded an input video encodes it again: its code
    // values, and so its own transfer, come back.
    e.codec->color_trc = !encodeSrgb_          ? AVCOL_TRC_LINEAR
                         : settings.colourTags ? AVColorTransferCharacteristic(tags.transfer)
                                               : AVCOL_TRC_IEC61966_2_1;
    if (settings.pixelAspect > 0.0 && settings.pixelAspect != 1.0)
        e.codec->sample_aspect_ratio = av_d2q(settings.pixelAspect, 1 << 16);
    if (globalHeader)
        e.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    setEncoderOptions(*e.codec, codec_, settings);
    // Players on one family of systems take H.265 in .mov and .mp4 only as hvc1.
    if (codec.id == AV_CODEC_ID_HEVC &&
        (extensionOf(path_) == ".mov" || extensionOf(path_) == ".mp4" ||
         extensionOf(path_) == ".m4v"))
        e.codec->codec_tag = MKTAG('h', 'v', 'c', '1');
    const AVOption* crfOption =
        av_opt_find(e.codec->priv_data, "crf", nullptr, 0, AV_OPT_SEARCH_CHILDREN);
    if (settings.crf && !crfOption)
        throw Error("--crf: the " + codec_ + " encoder takes no constant rate factor");
    std::string crfText;
    if (crfOption) {
        const auto [smallest, largest] = crfRange(codec_, *crfOption);
        const int crf = settings.crf.value_or(std::clamp(kDefaultCrf, smallest, largest));
        crfText = ", crf " + std::to_string(crf);
        // Out of range, some encoders clamp without a word and others fail to open.
        if (crf < smallest || crf > largest)
            throw Error("--crf: " + std::to_string(crf) + " is outside the " + codec_ +
                        " encoder's range, " + std::to_string(smallest) + " to " +
                        std::to_string(largest));
        if (av_opt_set_int(e.codec->priv_data, "crf", crf, AV_OPT_SEARCH_CHILDREN) < 0)
            throw Error("--crf: the " + codec_ + " encoder does not take " + std::to_string(crf));
    }
    const int status = avcodec_open2(e.codec, &codec, nullptr);
    if (status < 0)
        throw fileError(path_, "the " + codec_ + " encoder refuses its settings (" +
                                   std::to_string(width) + "x" + std::to_string(height) + " " +
                                   av_get_pix_fmt_name(pixelFormat) + crfText +
                                   "): " + avErrorText(status));
}

void VideoWriter::openContainer(const AVOutputFormat& container, const VideoSettings& settings) {
    Encoder& e = *encoder_;
    int status = avformat_alloc_output_context2(&e.format, &container, nullptr, temporary_.c_str());
    if (status < 0)
        throw fileError(path_, "cannot make its container: " + avErrorText(status));
    e.stream = avformat_new_stream(e.format, nullptr);
    avcodec_parameters_from_context(e.stream->codecpar, e.codec);
    e.stream->time_base = e.codec->time_base;
    e.stream->avg_frame_rate = e.codec->framerate;
    e.stream->sample_aspect_ratio = e.codec->sample_aspect_ratio;
    if (!settings.timecode.empty())
        av_dict_set(&e.stream->metadata, "timecode", settings.timecode.c_str(), 0);
    e.audio = std::make_unique<AudioTrack>(settings.audio, *e.format, path_);

    guard_ = std::make_unique<OutputGuard>(temporary_);
    status = avio_open(&e.format->pb, temporary_.c_str(), AVIO_FLAG_WRITE);
    if (status < 0)
        throw fileError(path_, "cannot write it: " + avErrorText(status));
    // MP4 is for delivery: its index goes first, so players start at once and
    // a cut-off copy still plays up to the cut.
    AVDictionary* options = nullptr;
    if (std::string(container.name) == "mp4")
        av_dict_set(&options, "movflags", "+faststart", 0);
    status = avformat_write_header(e.format, &options);
    av_dict_free(&options);
    if (status < 0)
        throw fileError(path_, "cannot write its header: " + avErrorText(status));

    e.frame->format = e.codec->pix_fmt;
    e.frame->width = e.codec->width;
    e.frame->height = e.codec->height;
    // Some encoders (ProRes) write the frame's tags into the stream, not the context's.
    e.frame->color_primaries = e.codec->color_primaries;
    e.frame->color_trc = e.codec->color_trc;
    e.frame->colorspace = e.codec->colorspace;
    e.frame->color_range = e.codec->color_range;
    e.frame->sample_aspect_ratio = e.codec->sample_aspect_ratio;
    status = av_frame_get_buffer(e.frame, 0);
    if (status < 0)
        throw fileError(path_, "cannot allocate a frame: " + avErrorText(status));
}

// Unfinished, the guard removes the partial file.
VideoWriter::~VideoWriter() = default;

std::vector<std::string> VideoWriter::write(const host::ClipFrame& frame) {
    Encoder& e = *encoder_;
    RgbPlanes rgb;
    rgb.width = e.codec->width;
    rgb.height = e.codec->height;
    const size_t size = size_t(rgb.width) * rgb.height;
    const bool alpha = hasAlpha(e.codec->pix_fmt) && frame.planes.count(DD::Image::Chan_Alpha) != 0;
    std::vector<std::string> dropped;
    for (const auto& [channel, plane] : frame.planes)
        if (channel != DD::Image::Chan_Red && channel != DD::Image::Chan_Green &&
            channel != DD::Image::Chan_Blue && !(alpha && channel == DD::Image::Chan_Alpha))
            dropped.push_back(DD::Image::getName(channel));
    const DD::Image::Box whole(0, 0, rgb.width, rgb.height);
    if (alpha) {
        // Transparent outside the box.
        rgb.a.assign(size, 0.0f);
        copyRowsFromTop(frame.planes.at(DD::Image::Chan_Alpha), frame.box, whole, rgb.a.data(), 1);
    }
    const std::pair<DD::Image::Channel, std::vector<float>*> targets[] = {
        {DD::Image::Chan_Red, &rgb.r},
        {DD::Image::Chan_Green, &rgb.g},
        {DD::Image::Chan_Blue, &rgb.b}};
    for (const auto& [channel, target] : targets) {
        // Black outside the box (the sRGB curve keeps 0 at 0).
        target->assign(size, 0.0f);
        const auto found = frame.planes.find(channel);
        if (found == frame.planes.end())
            continue;
        copyRowsFromTop(found->second, frame.box, whole, target->data(), 1);
        // Straight alpha: the colour divided out where there is any.
        if (alpha)
            for (size_t i = 0; i < size; ++i)
                if (rgb.a[i] > 0.0f)
                    (*target)[i] /= rgb.a[i];
        if (encodeSrgb_)
            std::transform(target->begin(), target->end(), target->begin(), fromLinear_);
    }
    int status = av_frame_make_writable(e.frame);
    if (status < 0)
        throw fileError(path_, "cannot encode: " + avErrorText(status));
    encodeRgb(rgb, e.coding, *e.frame);
    e.frame->pts = e.nextPts++;
    e.encode(e.frame, path_);
    return dropped;
}

void VideoWriter::finish() {
    Encoder& e = *encoder_;
    e.encode(nullptr, path_);
    e.audio->finish();
    int status = av_write_trailer(e.format);
    if (status >= 0) {
        avio_flush(e.format->pb);
        status = e.format->pb->error;
    }
    if (status < 0)
        throw fileError(path_, "cannot finish it: " + avErrorText(status));
    status = avio_closep(&e.format->pb);
    if (status < 0)
        throw fileError(path_, "cannot finish it: " + avErrorText(status));
    commitIntoPlace(temporary_, path_, *guard_);
}

std::vector<std::string> VideoWriter::notes() const {
    return encoder_->audio ? encoder_->audio->notes() : std::vector<std::string>{};
}

}  // namespace tweenora::media
