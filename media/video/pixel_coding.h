// SPDX-License-Identifier: Apache-2.0
// Video code values and R'G'B': matrices, ranges and pixel layouts, both ways.
#pragma once

#include <vector>

struct AVFrame;

namespace tweenora::media {

//! How a frame's code values stand for transfer-encoded R'G'B'.
struct PixelCoding {
    bool rgb = false;  //!< the components are R', G', B' (no matrix)
    bool fullRange =
        false;           //!< codes use 0..2^n-1; else luma 16..235 and chroma 16..240, x 2^(n-8)
    double kr = 0.2126;  //!< luma weight of red (BT.709 by default)
    double kb = 0.0722;  //!< luma weight of blue
};

//! A frame's R'G'B' as three planes, rows from the top, nominal range 0-1,
//! and its alpha (0-1, as stored) when it has one.
struct RgbPlanes {
    int width = 0;
    int height = 0;
    std::vector<float> r, g, b;
    std::vector<float> a;  //!< empty: no alpha
};

//! Whether pixelFormat (an AVPixelFormat) stores alpha.
bool hasAlpha(int pixelFormat);

//! The coding a decoded frame is tagged with: its matrix and range, BT.709 and
//! limited range where the stream says nothing (full range for the JPEG pixel
//! formats and for RGB ones).
PixelCoding pixelCodingOf(const AVFrame& frame);

//! What we write: limited range, through matrix (an AVColorSpace; BT.709's
//! weights for what has none).
PixelCoding outputPixelCoding(int pixelFormat, int matrix = 1);

//! Whether code can read and write pixelFormat (an AVPixelFormat): planar or
//! packed YUV, RGB or grey of up to 16 bits; not palettes, bitstreams, float
//! or hardware frames.
bool isSupportedPixelFormat(int pixelFormat);

//! The frame's pixels through coding, chroma repeated over the pixels it
//! covers, and its alpha where its format has one. The frame's format must
//! be supported.
RgbPlanes decodeRgb(const AVFrame& frame, const PixelCoding& coding);

//! Writes planes into frame (allocated, of planes' size, in a supported
//! format): Y'CbCr through coding, chroma averaged over the pixels it covers,
//! codes rounded and clamped to their range; alpha from planes.a where the
//! format has alpha (opaque when planes.a is empty).
void encodeRgb(const RgbPlanes& planes, const PixelCoding& coding, AVFrame& frame);

//! Turns planes a whole number of quarter turns clockwise.
RgbPlanes rotateQuarterTurns(const RgbPlanes& planes, int quarterTurns);

}  // namespace tweenora::media
