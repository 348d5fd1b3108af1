// SPDX-License-Identifier: Apache-2.0
// Iop: an operator that produces an image; IopInfoOwner: its validated description.
#pragma once

#include "DDImage/Box.h"
#include "DDImage/ChannelSet.h"
#include "DDImage/IopInfo.h"
#include "DDImage/Op.h"

namespace DD {
namespace Image {

class ImagePlane;
class Row;

class IopInfoOwner {
public:
    typedef IopInfo Info;
    virtual ~IopInfoOwner() = default;

    //! Valid only after validate(true).
    const Info& info() const { return info_; }
    int x() const { return info_.x(); }
    int y() const { return info_.y(); }
    int r() const { return info_.r(); }
    int t() const { return info_.t(); }
    int w() const { return info_.w(); }
    int h() const { return info_.h(); }
    bool is_constant() const { return info_.is_constant(); }
    int clampx(int x) const { return info_.clampx(x); }
    int clampy(int y) const { return info_.clampy(y); }
    const Format& format() const { return info_.format(); }
    const Format& full_size_format() const { return info_.full_size_format(); }
    int ydirection() const { return info_.ydirection(); }
    bool black_outside() const { return info_.black_outside(); }
    ChannelMask channels() const { return info_.channels(); }
    int first_frame() const { return info_.first_frame(); }
    int last_frame() const { return info_.last_frame(); }
    void format(const Format& f) { info_.format(f); }
    void full_size_format(const Format& f) { info_.full_size_format(f); }

protected:
    Info info_;
};

class Iop : public Op, public IopInfoOwner {
public:
    Iop(Node* node);
    ~Iop() override;

    //! Op input n as an image op (null when missing or not an Iop).
    Iop* input(int n) const;
    //! Copy m of node input n (copies are consecutive op inputs).
    Iop* input(int n, int m) const;
    Iop& input0() const { return *input(0); }
    Iop& input1() const { return *input(1); }

    //! Fills the plane with this op's pixels over the plane's box and channels.
    void fetchPlane(ImagePlane& imagePlane);

    void request(int x, int y, int r, int t, ChannelMask channels, int count);
    void request(DD::Image::Box box, ChannelMask channels, int count);
    void request(ChannelMask channels, int count);
    const Box& requestedBox() const { return requestedBox_; }
    const Box& unclampedRequestedBox() const { return requestedBox_; }
    ChannelMask requestedChannels() const { return requestedChannels_; }
    int requestedCount() const { return requestedCount_; }

    virtual void engine(int y, int x, int r, ChannelMask channels, Row& row) = 0;
    void get(int y, int x, int r, ChannelMask channels, Row& row);

    //! Validates input 0 and copies its info into info_.
    void copy_info();
    void copy_info(int input);
    void set_out_channels(ChannelSetInit v) { outChannels_ = v; }
    void set_out_channels(ChannelMask v) { outChannels_ = v; }
    void set_out_channels(Channel v) { outChannels_ = v; }
    ChannelMask out_channels() const { return outChannels_; }
    virtual void in_channels(int /*input*/, ChannelSet& /*mask*/) const {}

    Iop* iop() { return this; }
    const Iop* iop() const { return this; }

protected:
    void _validate(bool for_real) override;
    virtual void _request(int x, int y, int r, int t, ChannelMask channels, int count);
    //! Default: assembles the plane from engine() rows.
    virtual void doFetchPlane(ImagePlane& plane);

private:
    Box requestedBox_;
    ChannelSet requestedChannels_;
    int requestedCount_ = 0;
    unsigned requestValidation_ = 0;  //!< the validation the recorded requests belong to
    ChannelSet outChannels_;
};

}  // namespace Image
}  // namespace DD
