// SPDX-License-Identifier: Apache-2.0
// Test clips made with the video libraries: a moving pattern, and files that are damaged on
// purpose.
#include "tests/media/video/video_clips.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
}

namespace tweenora::testing {

namespace {

void check(int status, const char* what) {
    if (status < 0)
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(status));
}

}  // namespace

host::ClipFrame movingPattern(int width, int height, double time) {
    host::ClipFrame frame;
    frame.box = DD::Image::Box(0, 0, width, height);
    frame.format = DD::Image::Format(width, height);
    const size_t size = size_t(width) * height;
    std::vector<float>& r = frame.planes[DD::Image::Chan_Red];
    std::vector<float>& g = frame.planes[DD::Image::Chan_Green];
    std::vector<float>& b = frame.planes[DD::Image::Chan_Blue];
    r.resize(size);
    g.resize(size);
    b.resize(size);
    const double square = height / 3.0;
    const double left = 4.0 + 3.0 * time, bottom = height / 3.0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const size_t i = size_t(y) * width + x;
            const bool inside =
                x >= left && x < left + square && y >= bottom && y < bottom + square;
            r[i] = inside ? 0.6f : float(0.05 + 0.5 * x / width);
            g[i] = inside ? 0.6f : float(0.05 + 0.4 * y / height);
            b[i] = inside ? 0.6f : float(0.2 + 0.1 * std::sin(0.3 * (x + y)));
        }
    return frame;
}

void writeClip(const std::string& path, int count, int width, int height,
               const media::VideoSettings& settings) {
    media::VideoWriter writer(path, width, height, settings);
    for (int frame = 1; frame <= count; ++frame)
        writer.write(movingPattern(width, height, frame));
    writer.finish();
}

void remux(const std::string& from, const std::string& to, std::optional<double> rotation,
           bool audio) {
    AVFormatContext* in = nullptr;
    check(avformat_open_input(&in, from.c_str(), nullptr, nullptr), "open");
    check(avformat_find_stream_info(in, nullptr), "probe");
    AVFormatContext* out = nullptr;
    check(avformat_alloc_output_context2(&out, nullptr, nullptr, to.c_str()), "container");
    AVStream* video = avformat_new_stream(out, nullptr);
    avcodec_parameters_copy(video->codecpar, in->streams[0]->codecpar);
    video->codecpar->codec_tag = 0;
    video->time_base = in->streams[0]->time_base;
    if (rotation) {
        uint8_t* matrix =
            av_stream_new_side_data(video, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t));
        av_display_rotation_set(reinterpret_cast<int32_t*>(matrix), *rotation);
    }
    constexpr int kRate = 8000;
    AVStream* sound = nullptr;
    if (audio) {
        sound = avformat_new_stream(out, nullptr);
        sound->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        sound->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
        sound->codecpar->sample_rate = kRate;
        sound->codecpar->bits_per_coded_sample = 16;
        sound->codecpar->block_align = 2;
        av_channel_layout_default(&sound->codecpar->ch_layout, 1);
        sound->time_base = {1, kRate};
    }
    check(avio_open(&out->pb, to.c_str(), AVIO_FLAG_WRITE), "create");
    check(avformat_write_header(out, nullptr), "header");
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(in, packet) >= 0) {
        av_packet_rescale_ts(packet, in->streams[0]->time_base, video->time_base);
        packet->stream_index = 0;
        check(av_interleaved_write_frame(out, packet), "video packet");
    }
    if (sound) {
        for (int second = 0; second < 4; ++second) {
            check(av_new_packet(packet, kRate / 2), "audio packet");
            std::fill(packet->data, packet->data + packet->size, 0);
            packet->pts = packet->dts = int64_t(second) * kRate / 4;
            packet->duration = kRate / 4;
            packet->stream_index = sound->index;
            check(av_interleaved_write_frame(out, packet), "audio packet");
        }
    }
    av_packet_free(&packet);
    check(av_write_trailer(out), "trailer");
    avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
}

void writeWav(const std::string& path) {
    constexpr uint32_t kRate = 8000, kSamples = 8000;
    auto le32 = [](uint32_t v) {
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    auto le16 = [](uint16_t v) { return std::string{char(v), char(v >> 8)}; };
    std::ofstream file(path, std::ios::binary);
    file << "RIFF" << le32(36 + kSamples * 2) << "WAVE"
         << "fmt " << le32(16) << le16(1) << le16(1) << le32(kRate) << le32(kRate * 2) << le16(2)
         << le16(16) << "data" << le32(kSamples * 2) << std::string(kSamples * 2, '\0');
}

void patchBytes(const std::string& path, const std::string& what, const std::string& with) {
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    for (size_t at = bytes.find(what); at != std::string::npos; at = bytes.find(what, at + 1))
        bytes.replace(at, what.size(), with);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace tweenora::testing
