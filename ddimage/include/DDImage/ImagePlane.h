// SPDX-License-Identifier: Apache-2.0
// ImagePlane: a box of float pixels for a set of channels, packed or unpacked.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "DDImage/Box.h"
#include "DDImage/ChannelSet.h"

namespace DD {
namespace Image {

//! A reference-counted block of floats; copies share the block.
class RefCountedFloatBuffer {
public:
    RefCountedFloatBuffer() = default;
    explicit RefCountedFloatBuffer(size_t count);
    operator const float*() const { return data_ ? data_->data() : nullptr; }
    float* writable() { return data_ ? data_->data() : nullptr; }
    size_t size() const { return data_ ? data_->size() : 0; }
    bool unique() const { return data_.use_count() <= 1; }

private:
    std::shared_ptr<std::vector<float>> data_;
};

//! Which box, channels and layout a plane has.
class ImagePlaneDescriptor {
public:
    ImagePlaneDescriptor(const DD::Image::Box& bounds, bool packed, DD::Image::ChannelSet mask,
                         int nComps)
        : _bounds(bounds), _mask(mask), _nComps(nComps), _packed(packed) {}

    const Box& bounds() const { return _bounds; }
    const ChannelSet& channels() const { return _mask; }
    int nComps() const { return _nComps; }
    bool packed() const { return _packed; }
    bool intersects(const ImagePlaneDescriptor& other) const;
    bool intersects(int y, int t) const { return y < _bounds.t() && _bounds.y() < t; }
    bool satisfiedBy(const ImagePlaneDescriptor& candidate);

protected:
    Box _bounds;
    ChannelSet _mask;
    int _nComps;
    bool _packed;
};

//! Float pixels over bounds() for the channels of channels(). Packed planes
//! interleave the channels per pixel; unpacked planes hold one whole plane per
//! channel. Rows run from y upwards. Call makeWritable() before writable().
class ImagePlane : public ImagePlaneDescriptor {
public:
    ImagePlane(const DD::Image::Box& bounds, bool packed, DD::Image::ChannelSet mask, int nComps);
    ImagePlane(const DD::Image::Box& bounds, bool packed, DD::Image::ChannelSet mask);
    ImagePlane(const ImagePlane& ip) = default;
    explicit ImagePlane(const DD::Image::Box& bounds);
    ImagePlane();
    ImagePlane& operator=(const ImagePlane& ip) = default;

    //! Writable data; valid after makeWritable().
    float* writable();
    //! The data, or null when the plane holds none.
    const float* readable() const { return _buffer; }
    //! Allocates (zero-filled) or unshares the data so it can be written.
    void makeWritable(size_t alignment = 0);
    void makeUnique();
    void copyIntersectionFrom(const ImagePlane& other, bool forceDeep = false);

    //! Slot of channel z in this plane (its rank in channels()), or -1.
    int chanNo(Channel z) const;
    const float& at(int x, int y, int z) const;
    const float& at(int x, int y, Channel z);
    float& writableAt(int x, int y, int z);

    int colStride() const { return _packed ? _nComps : 1; }
    int rowStride() const { return _packed ? _bounds.w() * _nComps : _bounds.w(); }
    int chanStride() const { return _packed ? 1 : _bounds.w() * _bounds.h(); }
    //! Bytes held; 0 when the plane has no data.
    size_t usage() const { return _buffer.size() * sizeof(float); }
    void clear() { _buffer = RefCountedFloatBuffer(); }
    const RefCountedFloatBuffer& memory() const { return _buffer; }
    void setMemory(RefCountedFloatBuffer& memory) { _buffer = memory; }
    void fillChannel(Channel z, float value);
    void copyChannel(Channel dst, Channel src);

private:
    size_t index(int x, int y, int slot) const;
    RefCountedFloatBuffer _buffer;
};

}  // namespace Image
}  // namespace DD
