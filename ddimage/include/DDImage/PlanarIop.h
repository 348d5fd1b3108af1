// SPDX-License-Identifier: Apache-2.0
// PlanarIop: the base of image ops that render one plane (one layer) at a time.
#pragma once

#include "DDImage/ImagePlane.h"
#include "DDImage/Iop.h"
#include "DDImage/PlanarI.h"
#include "DDImage/RequestOutput.h"

namespace DD {
namespace Image {

class PlanarIop : public Iop, public PlanarI {
public:
    PlanarIop(Node* node);

    //! Gathers the input requests; the default asks input 0 for box and channels.
    virtual void getRequests(const Box& box, const ChannelSet& channels, int count,
                             RequestOutput& reqData) const;
    //! Fills the plane (one layer, at most four channels) over its whole box.
    virtual void renderStripe(ImagePlane& plane) = 0;
    PlanarI* getPlanarI() { return this; }
    virtual bool useStripes() const { return false; }
    virtual size_t stripeHeight() const { return 256; }
    PackedPreference packedPreference() const override { return ePackedPreferenceNone; }
    virtual bool renderFullPlanes() const { return false; }

    size_t getStripeCount() const override;
    Box getStripeBox(int idx) const override;
    size_t rowToStripeIndex(int y) const override;

protected:
    void _open() override {}
    void engine(int y, int x, int r, ChannelMask m, Row& row) override;
    void _request(int x, int y, int r, int t, ChannelMask chans, int count) override;
    //! Renders one plane per layer of the wanted channels over the stripe box and
    //! copies them into the caller's plane (zeros outside this op's box).
    void doFetchPlane(ImagePlane& plane) override;
};

}  // namespace Image
}  // namespace DD
