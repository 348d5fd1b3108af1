// SPDX-License-Identifier: Apache-2.0
// ChannelSet: an ordered set of channels with set operations and iteration.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>

#include "DDImage/Channel.h"

namespace DD {
namespace Image {

class Hash;
class ChannelSet;

//! Visits the channels of a set in ascending order; its != does not compare sets.
class ChannelSetIterator {
public:
    ChannelSetIterator(const ChannelSet& set, bool end = false);
    Channel& operator++();
    bool operator!=(const ChannelSetIterator& other) const { return current_ != other.current_; }
    Channel& operator*() { return current_; }

private:
    const ChannelSet* set_;
    Channel current_;
};

//! A set of channels. Mask_All is "every channel", including channels created later.
class ChannelSet {
public:
    ChannelSet() = default;
    ChannelSet(ChannelSetInit v);
    ChannelSet(Channel v);
    ChannelSet(const Channel* array, int n);
    ChannelSet(const ChannelSet& source) = default;
    ChannelSet(ChannelSet&& source) = default;

    const ChannelSet& operator=(const ChannelSet& source);
    const ChannelSet& operator=(ChannelSetInit v);
    const ChannelSet& operator=(Channel z);
    const ChannelSet& operator=(ChannelSet&& source);

    void swap(ChannelSet& other);
    void clear();
    operator bool() const { return !empty(); }
    bool empty() const;
    bool all() const { return all_; }
    void append(Hash& hash) const;

    bool operator==(const ChannelSet& other) const;
    bool operator!=(const ChannelSet& other) const { return !(*this == other); }
    bool operator<(const ChannelSet& other) const;
    bool operator==(ChannelSetInit v) const { return *this == ChannelSet(v); }
    bool operator!=(ChannelSetInit v) const { return !(*this == v); }
    bool operator==(Channel z) const { return *this == ChannelSet(z); }
    bool operator!=(Channel z) const { return !(*this == z); }

    void operator+=(const ChannelSet& other);
    void operator+=(ChannelSetInit v) { *this += ChannelSet(v); }
    void operator+=(Channel z) { insert(z); }
    void insert(Channel z);
    void insert(const Channel* array, int n);
    void operator-=(const ChannelSet& other);
    void operator-=(ChannelSetInit v) { *this -= ChannelSet(v); }
    void operator-=(Channel z) { erase(z); }
    void erase(Channel z);
    void erase(const Channel* array, int n);
    void operator&=(const ChannelSet& other);
    void operator&=(ChannelSetInit v) { *this &= ChannelSet(v); }
    void operator&=(Channel z) { *this &= ChannelSet(z); }

    template <class T>
    ChannelSet operator+(T z) const {
        ChannelSet r(*this);
        r += z;
        return r;
    }
    template <class T>
    ChannelSet operator-(T z) const {
        ChannelSet r(*this);
        r -= z;
        return r;
    }
    template <class T>
    ChannelSet intersection(T z) const {
        ChannelSet r(*this);
        r &= z;
        return r;
    }
    ChannelSet operator&(const ChannelSet& other) const { return intersection(other); }
    ChannelSet operator&(ChannelSetInit v) const { return intersection(v); }
    ChannelSet operator&(Channel z) const { return intersection(z); }

    bool contains(const ChannelSet& other) const;
    bool contains(ChannelSetInit v) const { return contains(ChannelSet(v)); }
    bool contains(Channel z) const;
    unsigned count(Channel z) const { return contains(z) ? 1u : 0u; }

    //! Number of channels; for an all-set, the number of channels that exist now.
    unsigned size() const;
    //! Lowest channel, or Chan_Black when empty.
    Channel first() const;
    //! Next channel above z, or Chan_Black after the last.
    Channel next(Channel z) const;
    //! Highest channel, or Chan_Black when empty.
    Channel last() const;

    ChannelSetIterator begin() const { return ChannelSetIterator(*this); }
    ChannelSetIterator end() const { return ChannelSetIterator(*this, true); }

private:
    static constexpr int kWords = (Chan_Last + 1 + 63) / 64;
    //! Every existing channel as explicit bits (all_ cleared), before removing some.
    void expandAll();

    std::array<uint64_t, kWords> bits_{};  //!< bit z for channel z (bit 0 unused)
    bool all_ = false;
};

//! A channel set passed by const reference, as the host passes masks.
typedef const ChannelSet& ChannelMask;

//! Prints as the host shows a set: "none", "all", layer names for whole layers
//! ("rgba", "rgb", "depth"), otherwise the channels' full names, separated by blanks.
std::ostream& operator<<(std::ostream& o, const ChannelSet& set);

//! Declares Channel z and visits the channels of set in ascending order.
#define foreach(z, set) \
    for (DD::Image::Channel z = (set).first(); z != DD::Image::Chan_Black; z = (set).next(z))

}  // namespace Image
}  // namespace DD
