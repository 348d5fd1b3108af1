// SPDX-License-Identifier: Apache-2.0
// AudioTrack: packets copied as they are, or decoded, trimmed, re-timed with atempo and encoded.
#include "media/video/audio_track.h"

#include <cmath>
#include <cstdio>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "host/Error.h"
#include "media/frames.h"
#include "media/video/av_errors.h"

namespace tweenora::media {

namespace {

// Tempos this close to 1 leave the audio's duration within a sample of the video's.
constexpr double kSameTempo = 1e-6;
// Source audio read past what the output needs, in seconds: atempo holds back
// the end of what it is given (0.06 s of 0.2 s at a quarter speed), so it is
// given more and its output cut.
constexpr double kReadAhead = 1.0;

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.9g", value);
    return text;
}

}  // namespace

AudioMode parseAudioMode(const std::string& text) {
    if (text == "copy")
        return AudioMode::Copy;
    if (text == "drop")
        return AudioMode::Drop;
    if (text == "retime")
        return AudioMode::Retime;
    throw Error("--audio must be copy, drop or retime, not '" + text + "'");
}

std::vector<double> atempoChain(double tempo) {
    std::vector<double> chain;
    for (; tempo > 2.0; tempo /= 2.0)
        chain.push_back(2.0);
    for (; tempo < 0.5; tempo /= 0.5)
        chain.push_back(0.5);
    chain.push_back(tempo);
    return chain;
}

struct AudioTrack::Streams {
    std::string outPath;
    AVFormatContext* in = nullptr;
    AVFormatContext* out = nullptr;  //!< the writer's
    int inIndex = -1;
    AVStream* outStream = nullptr;
    //! Source time (in its audio's time base) at the output's start.
    int64_t startTimestamp = 0;
    double sourceEnd = 0.0;  //!< source seconds, from the output's start, the output needs
    double duration = 0.0;
    bool copy = false;
    bool cutting = false;  //!< the output starts after the source's start
    AVCodecContext* decoder = nullptr;
    AVCodecContext* encoder = nullptr;
    AVFilterGraph* graph = nullptr;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int64_t nextPts = 0;   //!< encoded samples so far
    double written = 0.0;  //!< output seconds written
    bool done = false;

    ~Streams() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avfilter_graph_free(&graph);
        avcodec_free_context(&encoder);
        avcodec_free_context(&decoder);
        avformat_close_input(&in);
    }

    [[noreturn]] void fail(const std::string& what, int status) const {
        throw fileError(outPath, "cannot carry its audio: " + what + ": " + avErrorText(status));
    }

    const AVStream& input() const { return *in->streams[inIndex]; }

    void openCopy() {
        outStream = avformat_new_stream(out, nullptr);
        avcodec_parameters_copy(outStream->codecpar, input().codecpar);
        outStream->codecpar->codec_tag = 0;
        outStream->time_base = input().time_base;
    }

    // The source's codec where the container holds it and an encoder exists, else the container's
    // own.
    const AVCodec& chooseEncoder() const {
        const AVCodecID sourceCodec = input().codecpar->codec_id;
        if (avformat_query_codec(out->oformat, sourceCodec, FF_COMPLIANCE_NORMAL) == 1)
            if (const AVCodec* codec = avcodec_find_encoder(sourceCodec))
                return *codec;
        const AVCodec* codec = avcodec_find_encoder(out->oformat->audio_codec);
        if (!codec)
            throw fileError(outPath,
                            "cannot carry its audio: this build has no audio encoder for " +
                                std::string(out->oformat->name));
        return *codec;
    }

    void openTranscode(double tempo) {
        const AVCodecParameters& parameters = *input().codecpar;
        const AVCodec* decoding = avcodec_find_decoder(parameters.codec_id);
        if (!decoding)
            throw fileError(outPath, std::string("cannot carry its audio: this build has no ") +
                                         avcodec_get_name(parameters.codec_id) + " decoder");
        decoder = avcodec_alloc_context3(decoding);
        avcodec_parameters_to_context(decoder, &parameters);
        decoder->pkt_timebase = input().time_base;
        int status = avcodec_open2(decoder, decoding, nullptr);
        if (status < 0)
            fail("its decoder", status);

        const AVCodec& encoding = chooseEncoder();
        encoder = avcodec_alloc_context3(&encoding);
        encoder->sample_rate = decoder->sample_rate;
        av_channel_layout_copy(&encoder->ch_layout, &decoder->ch_layout);
        if (encoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&encoder->ch_layout, decoder->ch_layout.nb_channels);
        encoder->sample_fmt = encoding.sample_fmts ? encoding.sample_fmts[0] : decoder->sample_fmt;
        if (encoding.sample_fmts)
            for (const AVSampleFormat* format = encoding.sample_fmts; *format != AV_SAMPLE_FMT_NONE;
                 ++format)
                if (*format == decoder->sample_fmt)
                    encoder->sample_fmt = decoder->sample_fmt;
        encoder->time_base = {1, encoder->sample_rate};
        if (out->oformat->flags & AVFMT_GLOBALHEADER)
            encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        status = avcodec_open2(encoder, &encoding, nullptr);
        if (status < 0)
            fail(std::string("the ") + encoding.name + " encoder", status);
        outStream = avformat_new_stream(out, nullptr);
        avcodec_parameters_from_context(outStream->codecpar, encoder);
        outStream->time_base = encoder->time_base;
        openFilters(tempo);
    }

    // Source timestamps run from the output's start: atrim cuts the span the
    // output shows, atempo re-times it, aformat gives the encoder its samples.
    void openFilters(double tempo) {
        graph = avfilter_graph_alloc();
        char layout[128] = {};
        av_channel_layout_describe(&decoder->ch_layout, layout, sizeof(layout));
        const std::string sourceArgs =
            "time_base=1/" + std::to_string(decoder->sample_rate) +
            ":sample_rate=" + std::to_string(decoder->sample_rate) +
            ":sample_fmt=" + av_get_sample_fmt_name(decoder->sample_fmt) +
            ":channel_layout=" + layout;
        int status = avfilter_graph_create_filter(&source, avfilter_get_by_name("abuffer"), "in",
                                                  sourceArgs.c_str(), nullptr, graph);
        if (status < 0)
            fail("its filter source", status);
        status = avfilter_graph_create_filter(&sink, avfilter_get_by_name("abuffersink"), "out",
                                              nullptr, nullptr, graph);
        if (status < 0)
            fail("its filter sink", status);
        char encoderLayout[128] = {};
        av_channel_layout_describe(&encoder->ch_layout, encoderLayout, sizeof(encoderLayout));
        std::string chain =
            "atrim=start=0:end=" + number(sourceEnd + kReadAhead) + ",asetpts=PTS-STARTPTS";
        if (std::abs(tempo - 1.0) > kSameTempo)
            for (double factor : atempoChain(tempo))
                chain += ",atempo=" + number(factor);
        chain += ",atrim=end=" + number(duration);
        chain += std::string(",aformat=sample_fmts=") +
                 av_get_sample_fmt_name(encoder->sample_fmt) +
                 ":sample_rates=" + std::to_string(encoder->sample_rate) +
                 ":channel_layouts=" + encoderLayout;
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        outputs->name = av_strdup("in");
        outputs->filter_ctx = source;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink;
        status = avfilter_graph_parse_ptr(graph, chain.c_str(), &inputs, &outputs, nullptr);
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (status < 0)
            fail("its filters (" + chain + ")", status);
        status = avfilter_graph_config(graph, nullptr);
        if (status < 0)
            fail("its filters (" + chain + ")", status);
        if (encoder->frame_size > 0 &&
            !(encoder->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
            av_buffersink_set_frame_size(sink, unsigned(encoder->frame_size));
    }

    void writePacket() {
        packet->stream_index = outStream->index;
        const int status = av_interleaved_write_frame(out, packet);
        if (status < 0)
            fail("writing", status);
    }

    // One source packet copied: its time moved to the output's.
    void copyPacket() {
        const AVRational base = input().time_base;
        const int64_t start = packet->pts == AV_NOPTS_VALUE ? packet->dts : packet->pts;
        const double at = double(start - startTimestamp) * av_q2d(base);
        const double end = at + double(packet->duration) * av_q2d(base);
        if (at >= duration) {
            done = true;
            return;
        }
        // Cut at a later start, what ends before it goes; from the clip's start
        // every packet stays, an encoder's priming ones (before 0) included.
        if (cutting && end <= 0.0 && packet->duration > 0)
            return;
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts -= startTimestamp;
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts -= startTimestamp;
        av_packet_rescale_ts(packet, base, outStream->time_base);
        writePacket();
        written = at;
    }

    void encode(const AVFrame* filtered) {
        int status = avcodec_send_frame(encoder, filtered);
        if (status < 0)
            fail("encoding", status);
        while ((status = avcodec_receive_packet(encoder, packet)) == 0) {
            av_packet_rescale_ts(packet, encoder->time_base, outStream->time_base);
            writePacket();
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF)
            fail("encoding", status);
    }

    void drainFilters() {
        int status;
        while ((status = av_buffersink_get_frame(sink, frame)) >= 0) {
            frame->pts = nextPts;
            nextPts += frame->nb_samples;
            written = double(nextPts) / encoder->sample_rate;
            encode(frame);
            av_frame_unref(frame);
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF)
            fail("filtering", status);
    }

    // Decoded frames, their time moved to the output's, through the filters.
    void filterDecoded() {
        int status;
        while ((status = avcodec_receive_frame(decoder, frame)) == 0) {
            const int64_t at = frame->best_effort_timestamp == AV_NOPTS_VALUE
                                   ? frame->pts
                                   : frame->best_effort_timestamp;
            frame->pts =
                av_rescale_q(at - startTimestamp, input().time_base, {1, decoder->sample_rate});
            if (double(frame->pts) / decoder->sample_rate > sourceEnd + 2.0 * kReadAhead)
                done = true;
            status = av_buffersrc_add_frame(source, frame);
            // The trim at the output's end closes the filters; newer libavfilter
            // then refuses further frames with EOF: what remains is not needed.
            if (status == AVERROR_EOF) {
                av_frame_unref(frame);
                done = true;
                drainFilters();
                return;
            }
            if (status < 0)
                fail("filtering", status);
            drainFilters();
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF)
            fail("decoding", status);
    }

    void step() {
        const int status = av_read_frame(in, packet);
        if (status < 0) {
            done = true;
            return;
        }
        if (packet->stream_index == inIndex) {
            if (copy) {
                copyPacket();
            } else {
                const int sent = avcodec_send_packet(decoder, packet);
                if (sent < 0 && sent != AVERROR_INVALIDDATA)
                    fail("decoding", sent);
                filterDecoded();
            }
        }
        av_packet_unref(packet);
    }

    void flush() {
        if (copy)
            return;
        avcodec_send_packet(decoder, nullptr);
        filterDecoded();
        const int status = av_buffersrc_add_frame(source, nullptr);
        if (status < 0 && status != AVERROR_EOF)
            fail("filtering", status);
        drainFilters();
        encode(nullptr);
    }
};

AudioTrack::AudioTrack(const AudioPlan& plan, AVFormatContext& out, const std::string& outPath) {
    if (plan.source.empty() || plan.mode == AudioMode::Drop)
        return;
    auto streams = std::make_unique<Streams>();
    streams->outPath = outPath;
    streams->out = &out;
    Streams& s = *streams;
    if (avformat_open_input(&s.in, plan.source.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(s.in, nullptr) < 0)
        throw fileError(plan.source, "cannot read its audio");
    s.inIndex = av_find_best_stream(s.in, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (s.inIndex < 0)
        return;
    const std::string source = "'" + plan.source + "': its audio ";
    if (!plan.unmapped.empty() || plan.tempo <= 0.0) {
        notes_.push_back(source + "is not carried: " + plan.unmapped);
        return;
    }
    const bool sameDuration = std::abs(plan.tempo - 1.0) <= kSameTempo;
    if (plan.mode == AudioMode::Copy && !sameDuration) {
        notes_.push_back(source + "is not carried: the output runs at " + number(plan.tempo) +
                         " times its speed (--audio retime re-times it, keeping its pitch)");
        return;
    }
    const int video = av_find_best_stream(s.in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVStream* videoStream = video >= 0 ? s.in->streams[video] : nullptr;
    const double videoStart = videoStream && videoStream->start_time != AV_NOPTS_VALUE
                                  ? double(videoStream->start_time) * av_q2d(videoStream->time_base)
                                  : 0.0;
    s.startTimestamp = std::llround((videoStart + plan.sourceStart) / av_q2d(s.input().time_base));
    s.duration = plan.duration;
    s.cutting = plan.sourceStart > 0.0;
    s.sourceEnd = plan.duration * plan.tempo;
    const AVCodecID codec = s.input().codecpar->codec_id;
    s.copy = sameDuration && avformat_query_codec(out.oformat, codec, FF_COMPLIANCE_NORMAL) == 1;
    if (s.copy) {
        s.openCopy();
    } else {
        s.openTranscode(plan.tempo);
        const std::string encoder = s.encoder->codec->name;
        if (sameDuration)
            notes_.push_back(source + "is re-encoded as " + encoder + ": the " + out.oformat->name +
                             " container cannot hold " + avcodec_get_name(codec));
        else
            notes_.push_back(source + "is re-timed to " + number(plan.tempo) +
                             " times its speed, its pitch kept, and encoded as " + encoder);
    }
    streams_ = std::move(streams);
}

AudioTrack::~AudioTrack() = default;

void AudioTrack::writeUntil(double seconds) {
    if (!streams_)
        return;
    while (!streams_->done && streams_->written < seconds)
        streams_->step();
}

void AudioTrack::finish() {
    if (!streams_)
        return;
    writeUntil(std::numeric_limits<double>::infinity());
    streams_->flush();
}

}  // namespace tweenora::media
