// SPDX-License-Identifier: Apache-2.0
// ImagePlane: addressing of packed and unpacked planes and copy-on-write data.
#include "DDImage/ImagePlane.h"

#include <algorithm>
#include <cstring>

namespace DD {
namespace Image {

RefCountedFloatBuffer::RefCountedFloatBuffer(size_t count)
    : data_(std::make_shared<std::vector<float>>(count, 0.0f)) {}

bool ImagePlaneDescriptor::intersects(const ImagePlaneDescriptor& other) const {
    return _bounds.intersects(other._bounds) && !_mask.intersection(other._mask).empty();
}

bool ImagePlaneDescriptor::satisfiedBy(const ImagePlaneDescriptor& candidate) {
    return candidate._packed == _packed && candidate._bounds.contains(_bounds) &&
           candidate._mask.contains(_mask);
}

ImagePlane::ImagePlane(const Box& bounds, bool packed, ChannelSet mask, int nComps)
    : ImagePlaneDescriptor(bounds, packed, mask, nComps) {}

ImagePlane::ImagePlane(const Box& bounds, bool packed, ChannelSet mask)
    : ImagePlaneDescriptor(bounds, packed, mask, int(mask.size())) {}

ImagePlane::ImagePlane(const Box& bounds) : ImagePlaneDescriptor(bounds, false, Mask_RGBA, 4) {}

ImagePlane::ImagePlane() : ImagePlaneDescriptor(Box(), false, ChannelSet(), 0) {}

float* ImagePlane::writable() {
    // Writing into shared data would change the other holders' pixels.
    if (!_buffer.writable() || !_buffer.unique())
        makeWritable();
    return _buffer.writable();
}

void ImagePlane::makeWritable(size_t /*alignment*/) {
    const size_t count = size_t(std::max(0, _bounds.w())) * size_t(std::max(0, _bounds.h())) *
                         size_t(std::max(0, _nComps));
    if (!_buffer.writable() || _buffer.size() != count) {
        _buffer = RefCountedFloatBuffer(count);
        return;
    }
    makeUnique();
}

void ImagePlane::makeUnique() {
    if (!_buffer.writable() || _buffer.unique())
        return;
    RefCountedFloatBuffer copy(_buffer.size());
    std::memcpy(copy.writable(), static_cast<const float*>(_buffer),
                _buffer.size() * sizeof(float));
    _buffer = copy;
}

void ImagePlane::copyIntersectionFrom(const ImagePlane& other, bool /*forceDeep*/) {
    const float* source = other.readable();
    if (!source)
        return;
    Box box = _bounds;
    box.intersect(other.bounds());
    if (box.w() <= 0 || box.h() <= 0)
        return;
    float* dest = writable();
    foreach (z, _mask) {
        const int to = chanNo(z);
        const int from = other.chanNo(z);
        if (to < 0 || from < 0 || to >= _nComps || from >= other.nComps())
            continue;
        for (int y = box.y(); y < box.t(); ++y)
            for (int x = box.x(); x < box.r(); ++x)
                dest[index(x, y, to)] = source[other.index(x, y, from)];
    }
}

int ImagePlane::chanNo(Channel z) const {
    if (!_mask.contains(z))
        return -1;
    int slot = 0;
    foreach (c, _mask) {
        if (c == z)
            return slot;
        ++slot;
    }
    return -1;
}

const float& ImagePlane::at(int x, int y, int z) const {
    return readable()[index(x, y, z)];
}

const float& ImagePlane::at(int x, int y, Channel z) {
    return readable()[index(x, y, chanNo(z))];
}

float& ImagePlane::writableAt(int x, int y, int z) {
    return writable()[index(x, y, z)];
}

void ImagePlane::fillChannel(Channel z, float value) {
    const int slot = chanNo(z);
    if (slot < 0 || slot >= _nComps)
        return;
    float* data = writable();
    for (int y = _bounds.y(); y < _bounds.t(); ++y)
        for (int x = _bounds.x(); x < _bounds.r(); ++x)
            data[index(x, y, slot)] = value;
}

void ImagePlane::copyChannel(Channel dst, Channel src) {
    const int to = chanNo(dst);
    const int from = chanNo(src);
    if (to < 0 || from < 0 || to >= _nComps || from >= _nComps || to == from)
        return;
    float* data = writable();
    for (int y = _bounds.y(); y < _bounds.t(); ++y)
        for (int x = _bounds.x(); x < _bounds.r(); ++x)
            data[index(x, y, to)] = data[index(x, y, from)];
}

size_t ImagePlane::index(int x, int y, int slot) const {
    const size_t column = size_t(x - _bounds.x());
    const size_t row = size_t(y - _bounds.y());
    return row * size_t(rowStride()) + column * size_t(colStride()) +
           size_t(slot) * size_t(chanStride());
}

}  // namespace Image
}  // namespace DD
