// SPDX-License-Identifier: Apache-2.0
// Image data to model tensors and back: group tensors, writing packed planes.
#include "pipeline/tensor_conversion.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <utility>

#include <ATen/ATen.h>

#include <DDImage/ChannelSet.h>
#include <DDImage/ImagePlane.h>
#include <DDImage/Iop.h>

#include "pipeline/source_fetch.h"

namespace tweenora::pipeline {

namespace {

constexpr int kGroupChannels = 3;

at::TensorOptions floatOptions() {
    return at::TensorOptions().dtype(at::kFloat);
}

}  // namespace

ChannelTriple firstGroupTriple(int processedChannels) {
    return {0, processedChannels > 1 ? 1 : 0, processedChannels > 2 ? 2 : 0};
}

ChannelTriple secondGroupTriple() {
    return {3, 3, 3};
}

at::Tensor makeGroupTensor(const float* buffer, int height, int width, int64_t planeStride,
                           const ChannelTriple& triple) {
    at::Tensor group = at::empty({1, kGroupChannels, height, width}, floatOptions());
    float* out = group.data_ptr<float>();
    const size_t bytes = size_t(height) * size_t(width) * sizeof(float);
    for (int k = 0; k < kGroupChannels; ++k) {
        std::memcpy(out + k * planeStride, buffer + triple[size_t(k)] * planeStride, bytes);
    }
    return group;
}

std::string tensorShapeText(const at::Tensor& tensor) {
    std::ostringstream text;
    text << "[";
    const auto sizes = tensor.sizes();
    for (size_t i = 0; i < sizes.size(); ++i) {
        text << (i ? ", " : "") << sizes[i];
    }
    text << "]";
    return text.str();
}

PlaneWriter::PlaneWriter(DD::Image::ImagePlane& plane, const DD::Image::Box& area, int channelCount)
    : plane_(plane), area_(area) {
    plane_.makeWritable();
    data_ = plane_.writable();
    const DD::Image::Box& bounds = plane_.bounds();
    const int64_t planeFloats = std::max<int64_t>(0, bounds.area()) * plane_.nComps();
    if (data_ == nullptr || plane_.usage() < size_t(planeFloats) * sizeof(float)) {
        data_ = nullptr;  // a plane without room for its own box: nothing to write into
        return;
    }
    slots_ = std::max(0, std::min(channelCount, plane_.nComps()));
    overlap_ = DD::Image::Box(std::max(bounds.x(), area.x()), std::max(bounds.y(), area.y()),
                              std::min(bounds.r(), area.r()), std::min(bounds.t(), area.t()));
    // Parts of the plane that no write below reaches must not keep stale data.
    if (overlap_ != bounds || slots_ < plane_.nComps()) {
        std::fill_n(data_, planeFloats, 0.0f);
    }
}

void PlaneWriter::writeChannels(const at::Tensor& planes) {
    const int64_t count = std::min<int64_t>(planes.size(0), slots_);
    if (data_ == nullptr || count <= 0 || overlap_.w() <= 0 || overlap_.h() <= 0) {
        return;
    }
    const DD::Image::Box& bounds = plane_.bounds();
    float* origin = data_ + int64_t(overlap_.y() - bounds.y()) * plane_.rowStride() +
                    int64_t(overlap_.x() - bounds.x()) * plane_.colStride();
    at::Tensor target = at::from_blob(origin, {count, overlap_.h(), overlap_.w()},
                                      {plane_.chanStride(), plane_.rowStride(), plane_.colStride()},
                                      floatOptions());
    // One permuted copy interleaves the channels straight into the plane.
    target.copy_(planes.slice(0, 0, count)
                     .slice(1, overlap_.y() - area_.y(), overlap_.t() - area_.y())
                     .slice(2, overlap_.x() - area_.x(), overlap_.r() - area_.x()));
}

void PlaneWriter::writeChannel(const at::Tensor& channel, int slot) {
    if (slot < 0 || slot >= slots_) {
        return;
    }
    const DD::Image::Box& bounds = plane_.bounds();
    const int64_t offset = int64_t(slot) * plane_.chanStride();
    if (data_ == nullptr || overlap_.w() <= 0 || overlap_.h() <= 0) {
        return;
    }
    float* origin = data_ + offset + int64_t(overlap_.y() - bounds.y()) * plane_.rowStride() +
                    int64_t(overlap_.x() - bounds.x()) * plane_.colStride();
    at::Tensor target = at::from_blob(origin, {overlap_.h(), overlap_.w()},
                                      {plane_.rowStride(), plane_.colStride()}, floatOptions());
    target.copy_(channel.slice(0, overlap_.y() - area_.y(), overlap_.t() - area_.y())
                     .slice(1, overlap_.x() - area_.x(), overlap_.r() - area_.x()));
}

void writeResultToPlane(DD::Image::ImagePlane& plane, const DD::Image::Box& area,
                        DD::Image::Iop* frame0Source, const at::Tensor& result1,
                        const at::Tensor* result2,
                        const std::vector<DD::Image::Channel>& processedChannels) {
    const DD::Image::ChannelSet layerChannels = plane.channels();
    const int outChannels = int(layerChannels.size());
    const int64_t height = std::max(0, area.h());
    const int64_t width = std::max(0, area.w());

    // Gather every channel first: a result of the wrong shape must fail
    // before the plane is touched.
    std::vector<std::pair<at::Tensor, int>> writes;
    DD::Image::ChannelSet frame0Channels = layerChannels;
    const size_t fromFirst = std::min<size_t>(processedChannels.size(), kGroupChannels);
    for (size_t j = 0; j < fromFirst; ++j) {
        writes.emplace_back(result1.select(0, int64_t(j)), plane.chanNo(processedChannels[j]));
        frame0Channels -= processedChannels[j];
    }
    if (processedChannels.size() >= 4 && result2 != nullptr) {
        // The second group ran (c3, c3, c3); its middle channel is c3.
        writes.emplace_back(result2->squeeze(0).select(0, 1), plane.chanNo(processedChannels[3]));
        frame0Channels -= processedChannels[3];
    }
    const std::vector<int64_t> planeShape = {height, width};
    for (const auto& write : writes) {
        const auto shape = at::infer_size(write.first.sizes(), planeShape);
        TORCH_CHECK(at::IntArrayRef(shape) == at::IntArrayRef(planeShape), "a result of shape ",
                    tensorShapeText(write.first), " does not fit the ", height, " x ", width,
                    " output");
    }

    // Channels that no result fills carry frame0. Fetching only those gives
    // the plane that fetching all of frame0 and overwriting the rest gives.
    const int frame0Count = int(frame0Channels.size());
    at::Tensor frame0;
    if (frame0Count > 0) {
        frame0 = at::empty({frame0Count, height, width}, floatOptions());
        fetchSourcePlane(frame0Source, area.x(), area.y(), area.r(), area.t(), frame0Channels,
                         frame0Count, frame0.data_ptr<float>());
        int k = 0;
        foreach (z, frame0Channels) {
            writes.emplace_back(frame0.select(0, k++), plane.chanNo(z));
        }
    }

    PlaneWriter writer(plane, area, outChannels);
    for (const auto& write : writes) {
        writer.writeChannel(write.first, write.second);
    }
}

}  // namespace tweenora::pipeline
