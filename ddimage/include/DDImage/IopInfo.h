// SPDX-License-Identifier: Apache-2.0
// Info2D and IopInfo: what validation tells about an image op's output.
#pragma once

#include "DDImage/Box.h"
#include "DDImage/ChannelSet.h"
#include "DDImage/Format.h"
#include "DDImage/GeneralInfo.h"

namespace DD {
namespace Image {

//! Frame range, bounding box (the data window) and formats.
class Info2D : public GeneralInfo, public Box {
public:
    enum AccessPreference { eAccessPreferNone, eAccessPreferLinear };

    Info2D();
    void setFormats(const FormatPair& formats);
    FormatPair formats() const;
    const Format& format() const { return *format_; }
    void format(const Format& v) { format_ = &v; }
    const Format& full_size_format() const { return *fullSizeFormat_; }
    void full_size_format(const Format& v) { fullSizeFormat_ = &v; }
    const DD::Image::Box& box() const { return *this; }
    DD::Image::Box& box() { return *this; }
    void setBox(const DD::Image::Box& b) { Box::set(b); }
    int ydirection() const { return ydirection_; }
    void ydirection(int v) { ydirection_ = v; }
    void setAccessPreference(AccessPreference ap) { accessPreference_ = ap; }
    const AccessPreference& accessPreference() const { return accessPreference_; }

private:
    const Format* format_;
    const Format* fullSizeFormat_;
    int ydirection_ = 1;
    AccessPreference accessPreference_ = eAccessPreferNone;
};

//! Info2D plus the channels that carry data (all others read as zero).
class IopInfo : public Info2D {
public:
    ChannelSet& channels() { return channels_; }
    ChannelMask channels() const { return channels_; }
    void channels(ChannelSetInit v) { channels_ = v; }
    void channels(ChannelMask v) { channels_ = v; }
    void channels(Channel v) { channels_ = v; }
    bool black_outside() const { return blackOutside_; }
    void black_outside(bool v) { blackOutside_ = v; }
    void turn_on(ChannelSetInit v) { channels_ += v; }
    void turn_on(ChannelMask v) { channels_ += v; }
    void turn_on(Channel v) { channels_ += v; }
    void turn_off(ChannelSetInit v) { channels_ -= v; }
    void turn_off(ChannelMask v) { channels_ -= v; }
    void turn_off(Channel v) { channels_ -= v; }
    bool is_constant() const { return Box::is_constant(); }
    void clipmove(int dx, int dy, int dr, int dt) { pad(-dx, -dy, dr, dt); }

private:
    ChannelSet channels_;
    bool blackOutside_ = false;
};

}  // namespace Image
}  // namespace DD
