// SPDX-License-Identifier: Apache-2.0
// Hash: the CRC-64 reference value, determinism and sensitivity to what is appended.
#include <DDImage/Hash.h>

#include <gtest/gtest.h>

#include <DDImage/ChannelSet.h>
#include <DDImage/OutputContext.h>

namespace {

using DD::Image::Hash;

TEST(Hash, MatchesTheCrc64EcmaCheckValue) {
    // CRC-64/ECMA-182 of "123456789" from zero, without a final xor.
    Hash hash;
    hash.reset(0);
    hash.append("123456789");
    EXPECT_EQ(hash.value(), 0x6C40DF5F0B497347ull);
}

TEST(Hash, SameInputsSameValueAnyChangeAnotherValue) {
    auto build = [](int a, double b, bool c, const char* s) {
        Hash hash;
        hash.append(a);
        hash.append(b);
        hash.append(c);
        hash.append(s);
        return hash;
    };
    const Hash base = build(1, 2.5, true, "rgba");
    EXPECT_EQ(build(1, 2.5, true, "rgba"), base);
    EXPECT_NE(build(2, 2.5, true, "rgba"), base);
    EXPECT_NE(build(1, 2.5000001, true, "rgba"), base);
    EXPECT_NE(build(1, 2.5, false, "rgba"), base);
    EXPECT_NE(build(1, 2.5, true, "rgb"), base);

    // int, float and double keep their own widths.
    Hash asInt, asFloat, asDouble;
    asInt.append(1);
    asFloat.append(1.0f);
    asDouble.append(1.0);
    EXPECT_NE(asInt, asFloat);
    EXPECT_NE(asFloat, asDouble);

    Hash fresh = base;
    fresh.newvalue();
    EXPECT_NE(fresh, base);
}

TEST(Hash, ChannelSetsAndContextsContribute) {
    auto of = [](const DD::Image::ChannelSet& set, double frame) {
        Hash hash;
        set.append(hash);
        DD::Image::OutputContext context;
        context.setFrame(frame);
        context.append(hash);
        return hash;
    };
    const Hash base = of(DD::Image::Mask_RGB, 1.0);
    EXPECT_EQ(of(DD::Image::Mask_RGB, 1.0), base);
    EXPECT_NE(of(DD::Image::Mask_RGBA, 1.0), base);
    EXPECT_NE(of(DD::Image::Mask_All, 1.0), base);
    EXPECT_NE(of(DD::Image::Mask_RGB, 2.0), base);
}

}  // namespace
