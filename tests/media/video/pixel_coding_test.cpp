// SPDX-License-Identifier: Apache-2.0
// Video code values: the matrix and range both ways, exactness, chroma, rotation.
#include "media/video/pixel_coding.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace tweenora::media {
namespace {

struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

FramePtr makeFrame(AVPixelFormat format, int width, int height) {
    FramePtr frame(av_frame_alloc());
    frame->format = format;
    frame->width = width;
    frame->height = height;
    EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
    return frame;
}

RgbPlanes filled(int width, int height, float r, float g, float b) {
    RgbPlanes planes;
    planes.width = width;
    planes.height = height;
    planes.r.assign(size_t(width) * height, r);
    planes.g.assign(size_t(width) * height, g);
    planes.b.assign(size_t(width) * height, b);
    return planes;
}

TEST(VideoCoding, Bt709LimitedRangeCodesMatchThePublishedValues) {
    // 8-bit BT.709 studio-range codes of the primaries and of white and black.
    struct Row {
        float r, g, b;
        int y, cb, cr;
    };
    const Row rows[] = {
        {1, 1, 1, 235, 128, 128}, {0, 0, 0, 16, 128, 128}, {1, 0, 0, 63, 102, 240},
        {0, 1, 0, 173, 42, 26},   {0, 0, 1, 32, 240, 118},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.r) + "," + std::to_string(row.g) + "," +
                     std::to_string(row.b));
        FramePtr frame = makeFrame(AV_PIX_FMT_YUV444P, 2, 2);
        encodeRgb(filled(2, 2, row.r, row.g, row.b), outputPixelCoding(AV_PIX_FMT_YUV444P), *frame);
        EXPECT_EQ(frame->data[0][0], row.y);
        EXPECT_EQ(frame->data[1][0], row.cb);
        EXPECT_EQ(frame->data[2][0], row.cr);
        frame->color_range = AVCOL_RANGE_MPEG;
        frame->colorspace = AVCOL_SPC_BT709;
        const RgbPlanes back = decodeRgb(*frame, pixelCodingOf(*frame));
        EXPECT_NEAR(back.r[0], row.r, 0.01f);
        EXPECT_NEAR(back.g[0], row.g, 0.01f);
        EXPECT_NEAR(back.b[0], row.b, 0.01f);
    }
}

TEST(VideoCoding, DecodingAndEncodingAgainGivesBackEveryCode) {
    // Every 10-bit 4:2:2 code triple that decodes to a real colour comes back
    // as it was: the tool's pipeline adds nothing to a codec's own round trip.
    for (const AVPixelFormat format : {AV_PIX_FMT_YUV422P10LE, AV_PIX_FMT_YUV420P}) {
        SCOPED_TRACE(av_get_pix_fmt_name(format));
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
        const int maximum = (1 << desc->comp[0].depth) - 1;
        const int width = 64, height = 16;
        FramePtr frame = makeFrame(format, width, height);
        // A spread of codes, luma varying per pixel and chroma per block.
        for (int y = 0; y < height; ++y) {
            uint16_t* luma16 = reinterpret_cast<uint16_t*>(frame->data[0] + y * frame->linesize[0]);
            uint8_t* luma8 = frame->data[0] + y * frame->linesize[0];
            for (int x = 0; x < width; ++x) {
                const int code = (x * 37 + y * 101) % (maximum + 1);
                if (desc->comp[0].depth > 8)
                    luma16[x] = uint16_t(code);
                else
                    luma8[x] = uint8_t(code);
            }
        }
        for (int c = 1; c < 3; ++c)
            for (int y = 0; y < AV_CEIL_RSHIFT(height, desc->log2_chroma_h); ++y)
                for (int x = 0; x < AV_CEIL_RSHIFT(width, desc->log2_chroma_w); ++x) {
                    const int code = (x * 53 + y * 29 + c * 211) % (maximum + 1);
                    if (desc->comp[0].depth > 8)
                        reinterpret_cast<uint16_t*>(frame->data[c] + y * frame->linesize[c])[x] =
                            uint16_t(code);
                    else
                        frame->data[c][y * frame->linesize[c] + x] = uint8_t(code);
                }
        frame->color_range = AVCOL_RANGE_MPEG;
        const RgbPlanes rgb = decodeRgb(*frame, pixelCodingOf(*frame));
        FramePtr again = makeFrame(format, width, height);
        encodeRgb(rgb, outputPixelCoding(format), *again);
        for (int c = 0; c < 3; ++c) {
            const int rows = c == 0 ? height : AV_CEIL_RSHIFT(height, desc->log2_chroma_h);
            const int bytes = (c == 0 ? width : AV_CEIL_RSHIFT(width, desc->log2_chroma_w)) *
                              (desc->comp[0].depth > 8 ? 2 : 1);
            for (int y = 0; y < rows; ++y)
                ASSERT_EQ(0, std::memcmp(frame->data[c] + y * frame->linesize[c],
                                         again->data[c] + y * again->linesize[c], bytes))
                    << "component " << c << " row " << y;
        }
    }
}

TEST(VideoCoding, StreamTagsChooseMatrixAndRange) {
    FramePtr frame = makeFrame(AV_PIX_FMT_YUV444P, 2, 2);
    // Y 128, Cb 128, Cr 255: red-shifted grey; how red depends on the tags.
    std::memset(frame->data[0], 128, frame->linesize[0] * 2);
    std::memset(frame->data[1], 128, frame->linesize[1] * 2);
    std::memset(frame->data[2], 255, frame->linesize[2] * 2);
    struct Row {
        AVColorSpace space;
        AVColorRange range;
        float r;  // worked out by hand from the matrix and range
    };
    const Row rows[] = {
        // Untagged is BT.709 limited: (128-16)/219 + 2(1-0.2126)(255-128)/224.
        {AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, 0.511416f + 0.892857f},
        {AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, 0.511416f + 0.892857f},
        // BT.601: 2(1-0.299)(127/224).
        {AVCOL_SPC_SMPTE170M, AVCOL_RANGE_MPEG, 0.511416f + 0.794884f},
        // Full range: 128/255 + 2(1-0.2126)(127/255).
        {AVCOL_SPC_BT709, AVCOL_RANGE_JPEG, 0.501961f + 0.784314f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.space) + "/" + std::to_string(row.range));
        frame->colorspace = row.space;
        frame->color_range = row.range;
        EXPECT_NEAR(decodeRgb(*frame, pixelCodingOf(*frame)).r[0], row.r, 1e-4f);
    }
}

TEST(VideoCoding, ChromaIsTheMeanOfThePixelsItCovers) {
    // Red and blue halves of each chroma pair: the pair's Cr is their mean.
    RgbPlanes planes = filled(2, 2, 0, 0, 0);
    planes.r = {1, 0, 1, 0};
    planes.b = {0, 1, 0, 1};
    FramePtr frame = makeFrame(AV_PIX_FMT_YUV422P, 2, 2);
    encodeRgb(planes, outputPixelCoding(AV_PIX_FMT_YUV422P), *frame);
    // Cr of red 240, of blue 118 (BT.709 table above): mean 179.
    EXPECT_EQ(frame->data[2][0], 179);
    EXPECT_EQ(frame->data[1][0], 171);  // Cb: (102 + 240) / 2
}

TEST(VideoCoding, QuarterTurnsMoveTheCorners) {
    // A 3x2 image, rows from the top: a b c / d e f.
    RgbPlanes planes = filled(3, 2, 0, 0, 0);
    planes.r = {1, 2, 3, 4, 5, 6};
    const RgbPlanes clockwise = rotateQuarterTurns(planes, 1);
    EXPECT_EQ(clockwise.width, 2);
    EXPECT_EQ(clockwise.height, 3);
    EXPECT_EQ(clockwise.r, (std::vector<float>{4, 1, 5, 2, 6, 3}));
    EXPECT_EQ(rotateQuarterTurns(planes, 2).r, (std::vector<float>{6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(rotateQuarterTurns(planes, 3).r, (std::vector<float>{3, 6, 2, 5, 1, 4}));
    EXPECT_EQ(rotateQuarterTurns(planes, 4).r, planes.r);
}

TEST(VideoCoding, AlphaCodesComeBackAndMissingAlphaIsOpaque) {
    for (AVPixelFormat format : {AV_PIX_FMT_YUVA444P10LE, AV_PIX_FMT_YUVA420P, AV_PIX_FMT_RGBA}) {
        SCOPED_TRACE(av_get_pix_fmt_name(format));
        const int depth = av_pix_fmt_desc_get(format)->comp[3].depth;
        const int maximum = (1 << depth) - 1;
        RgbPlanes planes = filled(4, 2, 0.5f, 0.25f, 0.75f);
        // Every alpha a code, out-of-range values clamped.
        planes.a = {0.0f, 1.0f / float(maximum), 0.5f, 1.0f, 1.5f, -0.5f, 0.25f, 0.75f};
        FramePtr frame = makeFrame(format, 4, 2);
        encodeRgb(planes, outputPixelCoding(format), *frame);
        const RgbPlanes decoded = decodeRgb(*frame, pixelCodingOf(*frame));
        ASSERT_EQ(decoded.a.size(), planes.a.size());
        for (size_t i = 0; i < planes.a.size(); ++i) {
            const float expected =
                std::round(std::clamp(planes.a[i], 0.0f, 1.0f) * float(maximum)) / float(maximum);
            EXPECT_FLOAT_EQ(decoded.a[i], expected) << i;
        }
        planes.a.clear();
        encodeRgb(planes, outputPixelCoding(format), *frame);
        for (float alpha : decodeRgb(*frame, pixelCodingOf(*frame)).a)
            EXPECT_EQ(alpha, 1.0f);
        EXPECT_TRUE(hasAlpha(format));
    }
    EXPECT_FALSE(hasAlpha(AV_PIX_FMT_YUV422P10LE));
    // No alpha in the format: none decoded.
    FramePtr opaque = makeFrame(AV_PIX_FMT_YUV444P, 2, 2);
    encodeRgb(filled(2, 2, 0.5f, 0.5f, 0.5f), outputPixelCoding(AV_PIX_FMT_YUV444P), *opaque);
    EXPECT_TRUE(decodeRgb(*opaque, pixelCodingOf(*opaque)).a.empty());
}

}  // namespace
}  // namespace tweenora::media
