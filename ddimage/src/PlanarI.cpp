// SPDX-License-Identifier: Apache-2.0
// PlanarI: grouping channels into planes, one plane per layer.
#include "DDImage/PlanarI.h"

#include <cstring>

namespace DD {
namespace Image {

PlanarI::PlaneSet PlanarI::getAllPlanes(const ChannelSet& channels) {
    PlaneSet planes;
    ChannelSet covered;
    foreach (z, channels) {
        if (covered.contains(z))
            continue;
        PlaneID plane = getPlaneFromChannel(z);
        covered += plane;
        planes.insert(plane);
    }
    return planes;
}

ChannelSet PlanarI::getAllChannels(const ChannelSet& channels) {
    ChannelSet all;
    for (const PlaneID& plane : getAllPlanes(channels))
        all += plane;
    return all;
}

PlanarI::PlaneID PlanarI::getPlaneFromChannel(Channel chan) {
    PlaneID plane;
    if (chan == Chan_Black)
        return plane;
    const char* layer = getLayerName(chan);
    const int count = getChannelCount();
    for (int c = 1; c <= count; ++c)
        if (std::strcmp(getLayerName(Channel(c)), layer) == 0)
            plane += Channel(c);
    return plane;
}

}  // namespace Image
}  // namespace DD
