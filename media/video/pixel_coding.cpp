// SPDX-License-Identifier: Apache-2.0
// Video code values and R'G'B': an exact matrix and range conversion of our own,
// so that decoding and re-encoding a frame gives back its codes.
#include "media/video/pixel_coding.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace tweenora::media {

namespace {

const AVPixFmtDescriptor& descriptorOf(int pixelFormat) {
    return *av_pix_fmt_desc_get(AVPixelFormat(pixelFormat));
}

bool hasColour(const AVPixFmtDescriptor& desc) {
    return desc.nb_components >= 3;
}

// The alpha component, when the layout has one: the last.
int alphaComponent(const AVPixFmtDescriptor& desc) {
    return (desc.flags & AV_PIX_FMT_FLAG_ALPHA) ? desc.nb_components - 1 : -1;
}

// Code value to normalised value, for one component: luma/RGB to 0-1, chroma to -0.5..0.5.
struct Scale {
    double offset = 0.0;
    double range = 1.0;
};

Scale scaleOf(int depth, bool chroma, const PixelCoding& coding) {
    const double maximum = double((1 << depth) - 1);
    const double step = std::ldexp(1.0, depth - 8);
    if (coding.rgb || coding.fullRange)
        return {chroma ? double(1 << (depth - 1)) : 0.0, maximum};
    return chroma ? Scale{128.0 * step, 224.0 * step} : Scale{16.0 * step, 219.0 * step};
}

std::vector<float> decodeTable(int depth, bool chroma, const PixelCoding& coding) {
    const Scale scale = scaleOf(depth, chroma, coding);
    std::vector<float> table(size_t(1) << depth);
    for (size_t code = 0; code < table.size(); ++code)
        table[code] = float((double(code) - scale.offset) / scale.range);
    return table;
}

uint16_t encodeValue(float value, int depth, bool chroma, const PixelCoding& coding) {
    const Scale scale = scaleOf(depth, chroma, coding);
    if (!std::isfinite(value))
        value = value > 0.0f ? 1.0f : 0.0f;
    const double code = std::round(double(value) * scale.range + scale.offset);
    return uint16_t(std::clamp(code, 0.0, double((1 << depth) - 1)));
}

// av_write_image_line2 ORs its bits into what the frame holds: start from zeros.
void clearPlanes(const AVPixFmtDescriptor& desc, AVFrame& frame) {
    int rows[4] = {0, 0, 0, 0};
    for (int c = 0; c < desc.nb_components; ++c) {
        const bool chroma = (c == 1 || c == 2) && !(desc.flags & AV_PIX_FMT_FLAG_RGB);
        const int height = chroma ? AV_CEIL_RSHIFT(frame.height, desc.log2_chroma_h) : frame.height;
        rows[desc.comp[c].plane] = std::max(rows[desc.comp[c].plane], height);
    }
    for (int plane = 0; plane < 4; ++plane)
        if (frame.data[plane] && rows[plane] > 0)
            for (int y = 0; y < rows[plane]; ++y)
                std::memset(frame.data[plane] + ptrdiff_t(y) * frame.linesize[plane], 0,
                            size_t(std::abs(frame.linesize[plane])));
}

// The luma weights of matrix (an AVColorSpace); BT.709's for what is untagged.
void setLumaWeights(PixelCoding& coding, int matrix) {
    switch (matrix) {
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            coding.kr = 0.299;
            coding.kb = 0.114;
            break;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            coding.kr = 0.2627;
            coding.kb = 0.0593;
            break;
        case AVCOL_SPC_SMPTE240M:
            coding.kr = 0.212;
            coding.kb = 0.087;
            break;
        case AVCOL_SPC_FCC:
            coding.kr = 0.30;
            coding.kb = 0.11;
            break;
        default:  // BT.709, and what is untagged
            break;
    }
}

}  // namespace

PixelCoding pixelCodingOf(const AVFrame& frame) {
    PixelCoding coding;
    const AVPixFmtDescriptor& desc = descriptorOf(frame.format);
    if (desc.flags & AV_PIX_FMT_FLAG_RGB) {
        coding.rgb = true;
        coding.fullRange = true;
        return coding;
    }
    const AVPixelFormat format = AVPixelFormat(frame.format);
    coding.fullRange = frame.color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
                       format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P ||
                       format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
    setLumaWeights(coding, frame.colorspace);
    return coding;
}

PixelCoding outputPixelCoding(int pixelFormat, int matrix) {
    PixelCoding coding;
    coding.rgb = (descriptorOf(pixelFormat).flags & AV_PIX_FMT_FLAG_RGB) != 0;
    coding.fullRange = coding.rgb;
    if (!coding.rgb)
        setLumaWeights(coding, matrix);
    return coding;
}

bool hasAlpha(int pixelFormat) {
    return alphaComponent(descriptorOf(pixelFormat)) >= 0;
}

bool isSupportedPixelFormat(int pixelFormat) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(pixelFormat));
    if (!desc ||
        (desc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL |
                        AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER)))
        return false;
    for (int c = 0; c < desc->nb_components; ++c)
        if (desc->comp[c].depth < 8 || desc->comp[c].depth > 16)
            return false;
    return true;
}

RgbPlanes decodeRgb(const AVFrame& frame, const PixelCoding& coding) {
    const AVPixFmtDescriptor& desc = descriptorOf(frame.format);
    RgbPlanes planes;
    planes.width = frame.width;
    planes.height = frame.height;
    const size_t size = size_t(frame.width) * frame.height;
    planes.r.resize(size);
    planes.g.resize(size);
    planes.b.resize(size);
    const uint8_t* data[4] = {frame.data[0], frame.data[1], frame.data[2], frame.data[3]};
    const int width = frame.width;
    if (const int alpha = alphaComponent(desc); alpha >= 0) {
        // Alpha is full range and never subsampled.
        planes.a.resize(size);
        std::vector<uint16_t> line(width);
        const float scale = 1.0f / float((1 << desc.comp[alpha].depth) - 1);
        for (int y = 0; y < frame.height; ++y) {
            av_read_image_line2(line.data(), data, frame.linesize, &desc, 0, y, alpha, width, 0, 2);
            for (int x = 0; x < width; ++x)
                planes.a[size_t(y) * width + x] = float(line[x]) * scale;
        }
    }
    const bool colour = hasColour(desc);
    const int chromaWidth = AV_CEIL_RSHIFT(width, desc.log2_chroma_w);

    std::vector<float> tables[3];
    for (int c = 0; c < (colour ? 3 : 1); ++c)
        tables[c] = decodeTable(desc.comp[c].depth, !coding.rgb && c > 0, coding);
    std::vector<uint16_t> lines[3] = {std::vector<uint16_t>(width), std::vector<uint16_t>(width),
                                      std::vector<uint16_t>(width)};
    const double kg = 1.0 - coding.kr - coding.kb;
    const float crToR = float(2.0 * (1.0 - coding.kr));
    const float cbToB = float(2.0 * (1.0 - coding.kb));
    const float rToG = float(coding.kr / kg), bToG = float(coding.kb / kg);
    for (int y = 0; y < frame.height; ++y) {
        const size_t row = size_t(y) * width;
        av_read_image_line2(lines[0].data(), data, frame.linesize, &desc, 0, y, 0, width, 0, 2);
        if (!colour) {
            for (int x = 0; x < width; ++x)
                planes.r[row + x] = planes.g[row + x] = planes.b[row + x] = tables[0][lines[0][x]];
            continue;
        }
        if (coding.rgb) {
            for (int c = 1; c < 3; ++c)
                av_read_image_line2(lines[c].data(), data, frame.linesize, &desc, 0, y, c, width, 0,
                                    2);
            for (int x = 0; x < width; ++x) {
                planes.r[row + x] = tables[0][lines[0][x]];
                planes.g[row + x] = tables[1][lines[1][x]];
                planes.b[row + x] = tables[2][lines[2][x]];
            }
            continue;
        }
        const int chromaRow = y >> desc.log2_chroma_h;
        for (int c = 1; c < 3; ++c)
            av_read_image_line2(lines[c].data(), data, frame.linesize, &desc, 0, chromaRow, c,
                                chromaWidth, 0, 2);
        for (int x = 0; x < width; ++x) {
            const int cx = x >> desc.log2_chroma_w;
            const float luma = tables[0][lines[0][x]];
            const float cb = tables[1][lines[1][cx]], cr = tables[2][lines[2][cx]];
            const float r = luma + crToR * cr, b = luma + cbToB * cb;
            planes.r[row + x] = r;
            planes.g[row + x] = luma + rToG * (luma - r) + bToG * (luma - b);
            planes.b[row + x] = b;
        }
    }
    return planes;
}

void encodeRgb(const RgbPlanes& planes, const PixelCoding& coding, AVFrame& frame) {
    const AVPixFmtDescriptor& desc = descriptorOf(frame.format);
    const int width = planes.width, height = planes.height;
    clearPlanes(desc, frame);
    const bool colour = hasColour(desc);
    const int alpha = alphaComponent(desc);
    std::vector<uint16_t> line(width);
    auto writeLine = [&](int component, int y, int count) {
        av_write_image_line2(line.data(), frame.data, frame.linesize, &desc, 0, y, component, count,
                             2);
    };
    if (alpha >= 0) {
        const int depth = desc.comp[alpha].depth;
        const double maximum = double((1 << depth) - 1);
        // Alpha is full range and never subsampled; none given is opaque.
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const float value = planes.a.empty() ? 1.0f : planes.a[size_t(y) * width + x];
                line[x] = uint16_t(
                    std::clamp(std::round(double(std::isfinite(value) ? value : 0.0f) * maximum),
                               0.0, maximum));
            }
            writeLine(alpha, y, width);
        }
    }
    if (coding.rgb && colour) {
        const std::vector<float>* sources[3] = {&planes.r, &planes.g, &planes.b};
        for (int c = 0; c < 3; ++c)
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x)
                    line[x] = encodeValue((*sources[c])[size_t(y) * width + x], desc.comp[c].depth,
                                          false, coding);
                writeLine(c, y, width);
            }
        return;
    }

    const double kg = 1.0 - coding.kr - coding.kb;
    const size_t size = size_t(width) * height;
    std::vector<float> cb(colour ? size : 0), cr(colour ? size : 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t i = size_t(y) * width + x;
            const double r = planes.r[i], g = planes.g[i], b = planes.b[i];
            const double luma = coding.kr * r + kg * g + coding.kb * b;
            line[x] = encodeValue(float(luma), desc.comp[0].depth, false, coding);
            if (colour) {
                cb[i] = float((b - luma) / (2.0 * (1.0 - coding.kb)));
                cr[i] = float((r - luma) / (2.0 * (1.0 - coding.kr)));
            }
        }
        writeLine(0, y, width);
    }
    if (!colour)
        return;
    // Each chroma sample is the mean of the pixels it covers.
    const int stepX = 1 << desc.log2_chroma_w, stepY = 1 << desc.log2_chroma_h;
    const int chromaWidth = AV_CEIL_RSHIFT(width, desc.log2_chroma_w);
    const int chromaHeight = AV_CEIL_RSHIFT(height, desc.log2_chroma_h);
    const std::vector<float>* sources[2] = {&cb, &cr};
    for (int c = 1; c < 3; ++c) {
        const std::vector<float>& source = *sources[c - 1];
        for (int cy = 0; cy < chromaHeight; ++cy) {
            for (int cx = 0; cx < chromaWidth; ++cx) {
                double sum = 0.0;
                int count = 0;
                for (int y = cy * stepY; y < std::min(height, (cy + 1) * stepY); ++y)
                    for (int x = cx * stepX; x < std::min(width, (cx + 1) * stepX); ++x) {
                        sum += source[size_t(y) * width + x];
                        ++count;
                    }
                line[cx] = encodeValue(float(sum / count), desc.comp[c].depth, true, coding);
            }
            writeLine(c, cy, chromaWidth);
        }
    }
}

RgbPlanes rotateQuarterTurns(const RgbPlanes& planes, int quarterTurns) {
    const int turns = ((quarterTurns % 4) + 4) % 4;
    if (turns == 0)
        return planes;
    const int w = planes.width, h = planes.height;
    RgbPlanes out;
    out.width = turns == 2 ? w : h;
    out.height = turns == 2 ? h : w;
    const size_t size = size_t(w) * h;
    out.r.resize(size);
    out.g.resize(size);
    out.b.resize(size);
    out.a.resize(planes.a.empty() ? 0 : size);
    for (int i = 0; i < out.height; ++i) {
        for (int j = 0; j < out.width; ++j) {
            // The source pixel (row, column) that lands at row i, column j.
            int row = 0, column = 0;
            if (turns == 1) {
                row = h - 1 - j;
                column = i;
            } else if (turns == 2) {
                row = h - 1 - i;
                column = w - 1 - j;
            } else {
                row = j;
                column = w - 1 - i;
            }
            const size_t from = size_t(row) * w + column, to = size_t(i) * out.width + j;
            out.r[to] = planes.r[from];
            out.g[to] = planes.g[from];
            out.b[to] = planes.b[from];
            if (!planes.a.empty())
                out.a[to] = planes.a[from];
        }
    }
    return out;
}

}  // namespace tweenora::media
