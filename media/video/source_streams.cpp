// SPDX-License-Identifier: Apache-2.0
// SourceStreams: probing an input video's colour tags, depth, alpha, timecode and audio.
#include "media/video/source_streams.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include "media/video/av_errors.h"

namespace tweenora::media {

namespace {

struct Input {
    AVFormatContext* format = nullptr;
    ~Input() { avformat_close_input(&format); }
};

// An unspecified or reserved tag means BT.709, as the reader decodes it.
int orBt709(int tag) {
    return tag == AVCOL_PRI_UNSPECIFIED || tag == AVCOL_PRI_RESERVED0 || tag == AVCOL_PRI_RESERVED
               ? 1
               : tag;
}

std::string timecodeOf(const AVFormatContext& format, const AVStream& video) {
    // The video stream, a timecode track beside it, or the file.
    if (const AVDictionaryEntry* tag = av_dict_get(video.metadata, "timecode", nullptr, 0))
        return tag->value;
    for (unsigned i = 0; i < format.nb_streams; ++i)
        if (const AVDictionaryEntry* tag =
                av_dict_get(format.streams[i]->metadata, "timecode", nullptr, 0))
            return tag->value;
    if (const AVDictionaryEntry* tag = av_dict_get(format.metadata, "timecode", nullptr, 0))
        return tag->value;
    return "";
}

}  // namespace

SourceStreams probeSourceStreams(const std::string& path) {
    quietVideoLibraries();
    Input in;
    int status = avformat_open_input(&in.format, path.c_str(), nullptr, nullptr);
    if (status < 0)
        throw fileError(path, "cannot be opened: " + avErrorText(status));
    status = avformat_find_stream_info(in.format, nullptr);
    if (status < 0)
        throw fileError(path, "not a video: " + avErrorText(status));
    const int index = av_find_best_stream(in.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        throw fileError(path, "holds no video stream");
    const AVStream& video = *in.format->streams[index];
    const AVCodecParameters& parameters = *video.codecpar;

    SourceStreams streams;
    streams.path = path;
    streams.colour.primaries = orBt709(parameters.color_primaries);
    streams.colour.transfer = orBt709(parameters.color_trc);
    streams.colour.matrix =
        parameters.color_space == AVCOL_SPC_RGB ? AVCOL_SPC_BT709 : orBt709(parameters.color_space);
    if (const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(parameters.format))) {
        streams.bitDepth = desc->comp[0].depth;
        streams.alpha = (desc->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    }
    const AVRational rate =
        video.avg_frame_rate.num > 0 ? video.avg_frame_rate : video.r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        streams.frameRate = {rate.num, rate.den};
    streams.timecode = timecodeOf(*in.format, video);
    for (unsigned i = 0; i < in.format->nb_streams; ++i)
        streams.audioStreams += in.format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    return streams;
}

std::string transferName(int transfer) {
    const char* name = av_color_transfer_name(AVColorTransferCharacteristic(transfer));
    return name ? name : "unknown";
}

bool isHdrTransfer(int transfer) {
    return transfer == AVCOL_TRC_SMPTE2084 || transfer == AVCOL_TRC_ARIB_STD_B67;
}

}  // namespace tweenora::media
