// SPDX-License-Identifier: Apache-2.0
// Image data to model tensors and back: group tensors, writing packed planes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <DDImage/Box.h>
#include <DDImage/Channel.h>

namespace at {
class Tensor;
}  // namespace at

namespace DD::Image {
class ImagePlane;
class Iop;
}  // namespace DD::Image

namespace tweenora::pipeline {

//! Planes of a planar frame buffer that fill channels 0, 1, 2 of a group tensor.
using ChannelTriple = std::array<int, 3>;

//! The first group's triple for nch processed channels: (c0, c0, c0),
//! (c0, c1, c0) or (c0, c1, c2).
ChannelTriple firstGroupTriple(int processedChannels);
//! The second group (four or more processed channels): (c3, c3, c3).
ChannelTriple secondGroupTriple();

//! [1, 3, height, width] float32 CPU contiguous tensor whose channel k is plane
//! triple[k] of buffer (planes of planeStride floats, rows bottom-up).
at::Tensor makeGroupTensor(const float* buffer, int height, int width, int64_t planeStride,
                           const ChannelTriple& triple);

//! "[1, 3, 1080, 1920]"; "[]" for a 0-dimensional tensor.
std::string tensorShapeText(const at::Tensor& tensor);

//! Writes channel planes rendered over `area` into an output plane of any box:
//! the part of the plane that area covers receives the data, the rest is 0,
//! and nothing outside the plane's buffer is touched. Works for packed and
//! unpacked planes (packed planes take one permuted copy per call).
class PlaneWriter {
public:
    //! Makes the plane writable; channelCount is the number of channel slots
    //! the caller will fill (the plane's channels).
    PlaneWriter(DD::Image::ImagePlane& plane, const DD::Image::Box& area, int channelCount);

    //! planes: [k, H, W] float32 CPU over area, written into slots 0 .. k - 1.
    void writeChannels(const at::Tensor& planes);
    //! channel: [H, W] float32 CPU over area, written into the given slot.
    void writeChannel(const at::Tensor& channel, int slot);

private:
    DD::Image::ImagePlane& plane_;
    DD::Image::Box area_;
    DD::Image::Box overlap_;
    int slots_ = 0;
    float* data_ = nullptr;
};

//! Fills the output plane from the group results: processed channel j < 3
//! from channel j of result1 ([3, H, W], contiguous), processed channel 3 from
//! channel 1 of result2 ([1, 3, H, W], may be null), and every other channel
//! of the plane from frame0Source fetched over area.
void writeResultToPlane(DD::Image::ImagePlane& plane, const DD::Image::Box& area,
                        DD::Image::Iop* frame0Source, const at::Tensor& result1,
                        const at::Tensor* result2,
                        const std::vector<DD::Image::Channel>& processedChannels);

}  // namespace tweenora::pipeline
