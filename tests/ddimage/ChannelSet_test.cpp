// SPDX-License-Identifier: Apache-2.0
// Channels and ChannelSet: names, channels created by name, order, set
// operations with every operand kind, the all-set, and printing.
#include <DDImage/ChannelSet.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace DD::Image;

std::string text(const ChannelSet& set) {
    std::ostringstream out;
    out << set;
    return out.str();
}

TEST(Channel, NamesOfTheFixedChannels) {
    const struct {
        const char* name;
        Channel z;
        const char* full;
        const char* layer;
        unsigned colour;
    } rows[] = {
        {"rgba.red", Chan_Red, "rgba.red", "rgba", 0},
        {"green", Chan_Green, "rgba.green", "rgba", 1},
        {"b", Chan_Blue, "rgba.blue", "rgba", 2},
        {"alpha", Chan_Alpha, "rgba.alpha", "rgba", 3},
        {"depth.Z", Chan_Z, "depth.Z", "depth", 0},
        {"Z", Chan_Z, "depth.Z", "depth", 0},
        {"forward.v", Chan_V, "forward.v", "forward", 1},
        {"backward.u", Chan_Backward_U, "backward.u", "backward", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(getChannel(row.name), row.z);
        EXPECT_STREQ(getName(row.z), row.full);
        EXPECT_STREQ(getLayerName(row.z), row.layer);
        EXPECT_EQ(colourIndex(row.z), row.colour);
    }
    EXPECT_EQ(getChannel("nosuchchannel"), Chan_Black);
    EXPECT_EQ(getChannel(""), Chan_Black);
    EXPECT_EQ(getChannel(nullptr), Chan_Black);
}

TEST(Channel, LayersCreatedByNameHoldUpToFourChannels) {
    const int before = getChannelCount();
    const Channel x = getChannel("tcreate.x");
    const Channel y = getChannel("tcreate.y");
    EXPECT_GT(x, Chan_RotoPaint_Mask);
    EXPECT_EQ(y, x + 1);
    EXPECT_EQ(getChannel("tcreate.x"), x);
    EXPECT_EQ(getChannelCount(), before + 2);
    EXPECT_STREQ(getName(y), "tcreate.y");
    EXPECT_STREQ(getLayerName(y), "tcreate");
    EXPECT_EQ(colourIndex(y), 1u);
    getChannel("tcreate.z");
    getChannel("tcreate.w");
    EXPECT_EQ(getChannel("tcreate.v"), Chan_Black);
    EXPECT_EQ(getChannel("bad.name.x"), Chan_Black);
}

TEST(ChannelSet, IteratesInAscendingOrder) {
    ChannelSet set;
    set += Chan_Z;
    set += Chan_Alpha;
    set += Chan_Red;
    std::vector<Channel> viaForeach, viaRange;
    foreach (z, set)
        viaForeach.push_back(z);
    for (Channel z : set)
        viaRange.push_back(z);
    const std::vector<Channel> expected{Chan_Red, Chan_Alpha, Chan_Z};
    EXPECT_EQ(viaForeach, expected);
    EXPECT_EQ(viaRange, expected);
    EXPECT_EQ(set.first(), Chan_Red);
    EXPECT_EQ(set.next(Chan_Red), Chan_Alpha);
    EXPECT_EQ(set.last(), Chan_Z);
    EXPECT_EQ(set.next(Chan_Z), Chan_Black);
    EXPECT_EQ(set.size(), 3u);
}

TEST(ChannelSet, OperationsWithEachOperandKind) {
    ChannelSet set(Mask_RGB);
    set += Chan_Z;
    EXPECT_EQ(set, ChannelSet(Mask_RGB | Mask_Z));
    set -= Mask_Green;
    EXPECT_EQ(set, ChannelSet(Mask_Red | Mask_Blue | Mask_Z));
    set &= ChannelSet(Mask_RGBA);
    EXPECT_EQ(set, ChannelSet(Mask_Red | Mask_Blue));
    set += ChannelSet(Chan_Alpha);
    set -= Chan_Red;
    EXPECT_EQ(set, ChannelSet(Mask_Blue | Mask_Alpha));
    set &= Chan_Blue;
    EXPECT_EQ(set, Chan_Blue);

    const ChannelSet rgba(Mask_RGBA);
    EXPECT_TRUE(rgba.contains(Mask_RGB));
    EXPECT_FALSE(rgba.contains(ChannelSet(Mask_RGB) + Chan_Z));
    EXPECT_TRUE(rgba & Mask_Alpha);
    EXPECT_FALSE(rgba & Mask_Z);
    EXPECT_TRUE(ChannelSet(Chan_Black).empty());
    EXPECT_EQ(rgba.intersection(Mask_Z).size(), 0u);
}

TEST(ChannelSet, AllCoversChannelsCreatedLater) {
    ChannelSet all(Mask_All);
    const Channel later = getChannel("tlater.q");
    EXPECT_TRUE(all.contains(later));
    EXPECT_EQ(all.size(), unsigned(getChannelCount()));
    EXPECT_EQ(all.last(), Channel(getChannelCount()));
    EXPECT_TRUE(all.contains(Mask_RGBA));

    ChannelSet someAll = all;
    someAll -= Chan_Red;
    EXPECT_FALSE(someAll.all());
    EXPECT_FALSE(someAll.contains(Chan_Red));
    EXPECT_TRUE(someAll.contains(later));
    EXPECT_EQ(someAll.size(), unsigned(getChannelCount() - 1));

    ChannelSet rgb(Mask_RGB);
    rgb &= Mask_All;
    EXPECT_EQ(rgb, ChannelSet(Mask_RGB));
    ChannelSet fromAll(Mask_All);
    fromAll &= Mask_RGB;
    EXPECT_EQ(fromAll, ChannelSet(Mask_RGB));
    rgb += all;
    EXPECT_TRUE(rgb.all());
}

TEST(ChannelSet, PrintsLayersWholeAndChannelsOtherwise) {
    const struct {
        ChannelSet set;
        const char* printed;
    } rows[] = {
        {ChannelSet(), "none"},
        {ChannelSet(Mask_All), "all"},
        {ChannelSet(Mask_RGBA), "rgba"},
        {ChannelSet(Mask_RGB), "rgb"},
        {ChannelSet(Mask_Red | Mask_Green), "rgba.red rgba.green"},
        {ChannelSet(Mask_Z), "depth"},
        {ChannelSet(Mask_RGBA | Mask_Z), "rgba depth"},
        {ChannelSet(Mask_RGB | Mask_Z), "rgba.red rgba.green rgba.blue depth"},
        {ChannelSet(Mask_Alpha | Mask_U | Mask_V), "rgba.alpha forward"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.printed);
        EXPECT_EQ(text(row.set), row.printed);
    }
}

TEST(ChannelSet, OrdersLayersByTheirFirstChannel) {
    const std::set<ChannelSet> layers{ChannelSet(Mask_Z), ChannelSet(Mask_U | Mask_V),
                                      ChannelSet(Mask_RGBA)};
    std::vector<std::string> order;
    for (const ChannelSet& layer : layers)
        order.push_back(text(layer));
    EXPECT_EQ(order, (std::vector<std::string>{"rgba", "depth", "forward"}));
}

}  // namespace
