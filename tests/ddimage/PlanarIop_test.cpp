// SPDX-License-Identifier: Apache-2.0
// PlanarIop: plane fetches become one renderStripe per layer (and stripe),
// copied into the caller's box and layout with zeros where the op has nothing.
#include <DDImage/PlanarIop.h>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <DDImage/Row.h>

namespace {

using namespace DD::Image;

// Box (0, 0, 4, 3) with rgba and depth; every sample is 1000 z + 10 y + x.
class PatternOp : public PlanarIop {
public:
    PatternOp() : PlanarIop(nullptr) {}
    const char* Class() const override { return "Pattern"; }
    const char* node_help() const override { return "test"; }
    PackedPreference packedPreference() const override { return preference; }
    bool useStripes() const override { return stripes; }
    size_t stripeHeight() const override { return 2; }

    void renderStripe(ImagePlane& plane) override {
        std::ostringstream text;
        text << plane.channels() << (plane.packed() ? " packed " : " unpacked ")
             << plane.bounds().y() << "-" << plane.bounds().t();
        calls.push_back(text.str());
        lastPlane = &plane;
        plane.makeWritable();
        const Box& b = plane.bounds();
        foreach (z, plane.channels())
            for (int y = b.y(); y < b.t(); ++y)
                for (int x = b.x(); x < b.r(); ++x)
                    plane.writableAt(x, y, plane.chanNo(z)) = value(x, y, z);
    }
    static float value(int x, int y, Channel z) { return float(1000 * z + 10 * y + x); }

    PackedPreference preference = ePackedPreferenceNone;
    bool stripes = false;
    std::vector<std::string> calls;
    const ImagePlane* lastPlane = nullptr;

protected:
    void _validate(bool) override {
        info_.set(0, 0, 4, 3);
        info_.channels(Mask_RGBA | Mask_Z);
    }
};

TEST(PlanarIopFetch, RendersEachLayerOnceAndCopiesIntoTheCallersBox) {
    for (auto preference : {PlanarI::ePackedPreferenceNone, PlanarI::ePackedPreferencePacked,
                            PlanarI::ePackedPreferenceUnpacked}) {
        for (bool packed : {true, false}) {
            SCOPED_TRACE(std::to_string(int(preference)) + (packed ? " packed" : " unpacked"));
            PatternOp op;
            op.preference = preference;
            // Wider and taller than the op's box, and forward.u, which it lacks.
            ImagePlane plane(Box(-1, 1, 3, 4), packed, Mask_Green | Mask_Z | Mask_U);
            op.fetchPlane(plane);
            const bool renderPacked = preference == PlanarI::ePackedPreferenceNone
                                          ? packed
                                          : preference == PlanarI::ePackedPreferencePacked;
            const std::string layout = renderPacked ? " packed " : " unpacked ";
            EXPECT_EQ(op.calls, (std::vector<std::string>{"rgba" + layout + "0-3",
                                                          "depth" + layout + "0-3"}));
            const struct {
                int x, y;
                Channel z;
                float value;
            } rows[] = {
                {0, 1, Chan_Green, PatternOp::value(0, 1, Chan_Green)},
                {2, 2, Chan_Z, PatternOp::value(2, 2, Chan_Z)},
                {-1, 1, Chan_Green, 0.0f},  // left of the op's box
                {1, 3, Chan_Z, 0.0f},       // above it
                {1, 1, Chan_U, 0.0f},       // a channel the op does not have
            };
            for (const auto& row : rows) {
                SCOPED_TRACE(std::to_string(row.x) + "," + std::to_string(row.y));
                EXPECT_EQ(plane.at(row.x, row.y, row.z), row.value);
            }
        }
    }
}

TEST(PlanarIopFetch, AWholeLayerOverTheStripeRendersStraightIntoTheCallersPlane) {
    PatternOp op;
    ImagePlane plane(Box(0, 0, 4, 3), false, Mask_RGBA);
    op.fetchPlane(plane);
    EXPECT_EQ(op.lastPlane, &plane);
    EXPECT_EQ(plane.at(3, 2, Chan_Alpha), PatternOp::value(3, 2, Chan_Alpha));
}

TEST(PlanarIopFetch, StripesEachRenderEveryLayer) {
    PatternOp op;
    op.stripes = true;
    op.validate(true);
    EXPECT_EQ(op.getStripeCount(), 2u);
    EXPECT_EQ(op.getStripeBox(1), Box(0, 2, 4, 3));
    EXPECT_EQ(op.rowToStripeIndex(2), 1u);
    ImagePlane plane(Box(0, 0, 4, 3), true, Mask_Red | Mask_Z);
    op.fetchPlane(plane);
    EXPECT_EQ(op.calls, (std::vector<std::string>{"rgba packed 0-2", "depth packed 0-2",
                                                  "rgba packed 2-3", "depth packed 2-3"}));
    EXPECT_EQ(plane.at(1, 2, Chan_Red), PatternOp::value(1, 2, Chan_Red));
}

TEST(PlanarIopFetch, RowsComeFromTheSamePlanes) {
    PatternOp op;
    op.validate(true);
    Row row(1, 3);
    op.get(2, 1, 3, Mask_Blue, row);
    EXPECT_EQ(row[Chan_Blue][2], PatternOp::value(2, 2, Chan_Blue));
    EXPECT_EQ(row[Chan_Red][1], 0.0f);  // not asked for
}

TEST(PlanarIopRequest, DefaultRequestsPassToInputZeroAndMerge) {
    PatternOp source, op;
    op.inputs(1);
    op.set_input(0, &source, 0, 0);
    op.validate(true);
    op.request(Box(0, 0, 2, 2), Mask_RGB, 1);
    op.request(Box(1, 1, 3, 3), Mask_Alpha, 1);
    EXPECT_EQ(source.requestedBox(), Box(0, 0, 3, 3));
    EXPECT_EQ(source.requestedChannels(), ChannelSet(Mask_RGBA));
    EXPECT_EQ(source.requestedCount(), 2);
    // A new validation starts a new round of requests.
    source.invalidate();
    op.request(Box(2, 2, 3, 3), Mask_Red, 1);
    EXPECT_EQ(source.requestedBox(), Box(2, 2, 3, 3));
    EXPECT_EQ(source.requestedCount(), 1);
}

}  // namespace
