// SPDX-License-Identifier: Apache-2.0
// ICC profiles as far as the colour rules care: linear, sRGB or another curve, and damage.
#include "media/colour/icc_profile.h"

#include <gtest/gtest.h>

#include "tests/media/colour/icc_bytes.h"

namespace tweenora::media {
namespace {

using testing::Bytes;
using testing::curv;
using testing::descV2;
using testing::gammaCurve;
using testing::mluc;
using testing::para;
using testing::profile;
using testing::rgbProfile;
using testing::srgbPara;
using testing::srgbTable;

IccProfile read(const Bytes& bytes) {
    return readIccProfile(bytes.data(), bytes.size());
}

TEST(IccProfileTest, ToneCurvesSayLinearOrSrgb) {
    EXPECT_EQ(read(rgbProfile(curv({}))).transfer, IccTransfer::Linear);
    EXPECT_EQ(read(rgbProfile(gammaCurve(1.0))).transfer, IccTransfer::Linear);
    EXPECT_EQ(read(profile({{"kTRC", para(0, {1.0})}}, "GRAY")).transfer, IccTransfer::Linear);
    EXPECT_EQ(read(rgbProfile(srgbPara())).transfer, IccTransfer::Srgb);
    EXPECT_EQ(read(rgbProfile(para(4, {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045, 0, 0})))
                  .transfer,
              IccTransfer::Srgb);
    EXPECT_EQ(read(rgbProfile(srgbTable(1024))).transfer, IccTransfer::Srgb);
    EXPECT_EQ(read(rgbProfile(srgbTable(26))).transfer, IccTransfer::Srgb);
    // No tone curves (a lookup-table profile), but a name that says it.
    const IccProfile named = read(profile({{"desc", mluc("sRGB IEC61966-2.1")}}));
    EXPECT_EQ(named.transfer, IccTransfer::Srgb);
    EXPECT_EQ(named.description, "sRGB IEC61966-2.1");
    EXPECT_EQ(named.curve, "no tone curves");
}

TEST(IccProfileTest, OtherCurvesAndDamagedProfilesAreNotFollowed) {
    const IccProfile gamma22 = read(rgbProfile(gammaCurve(2.2), "Display 2.2"));
    EXPECT_EQ(gamma22.transfer, IccTransfer::Other);
    EXPECT_EQ(gamma22.curve, "gamma 2.2");
    EXPECT_EQ(gamma22.description, "Display 2.2");
    EXPECT_EQ(read(rgbProfile(gammaCurve(1.8))).transfer, IccTransfer::Other);
    EXPECT_EQ(read(rgbProfile(gammaCurve(2.4))).transfer, IccTransfer::Other);
    const Bytes rec709 = para(3, {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081});
    EXPECT_EQ(read(rgbProfile(rec709)).transfer, IccTransfer::Other);
    // Every channel must agree: a linear red among sRGB green and blue is neither.
    EXPECT_EQ(
        read(profile({{"rTRC", curv({})}, {"gTRC", srgbPara()}, {"bTRC", srgbPara()}})).transfer,
        IccTransfer::Other);
    EXPECT_EQ(read(profile({{"rTRC", curv({})}, {"gTRC", curv({})}})).transfer, IccTransfer::Other);

    const Bytes whole = rgbProfile(srgbTable(256));
    for (size_t size : {size_t(0), size_t(100), size_t(140), whole.size() - 2}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(readIccProfile(whole.data(), size).transfer, IccTransfer::Other);
    }
    Bytes notProfile = whole;
    notProfile[36] = 'x';
    EXPECT_EQ(read(notProfile).curve, "unreadable");
    Bytes farTag = whole;
    farTag[128 + 4 + 4] = 0x7f;  // the first tag's offset, far past the end
    EXPECT_EQ(read(farTag).transfer, IccTransfer::Other);
    Bytes longTable = whole;
    longTable[profile({}).size() + 3 * 12 + 8] = 0x7f;  // a table count past the tag
    EXPECT_EQ(read(longTable).transfer, IccTransfer::Other);
}

}  // namespace
}  // namespace tweenora::media
