// SPDX-License-Identifier: Apache-2.0
// PlanarI: the interface of ops that render whole planes.
#pragma once

#include <cstddef>
#include <set>

#include "DDImage/Box.h"
#include "DDImage/ChannelSet.h"

namespace DD {
namespace Image {

class LocalPlaneCache;

class PlanarI {
public:
    enum PackedPreference {
        ePackedPreferenceNone,
        ePackedPreferencePacked,
        ePackedPreferenceUnpacked
    };
    typedef ChannelSet PlaneID;
    typedef std::set<PlaneID> PlaneSet;

    virtual PackedPreference packedPreference() const = 0;
    virtual size_t getStripeCount() const = 0;
    virtual Box getStripeBox(int idx) const = 0;
    virtual size_t rowToStripeIndex(int y) const = 0;
    //! The layers (planes) that hold the given channels, one per layer.
    PlaneSet getAllPlanes(const ChannelSet& channels);
    ChannelSet getAllChannels(const ChannelSet& channels);
    virtual LocalPlaneCache* getCache() { return nullptr; }
    virtual bool stripesCanBeRenderedInParallel() { return false; }
    //! The plane (the channel's whole layer) a channel belongs to.
    virtual PlaneID getPlaneFromChannel(Channel chan);

protected:
    virtual ~PlanarI() = default;
};

}  // namespace Image
}  // namespace DD
