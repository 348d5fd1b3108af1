// SPDX-License-Identifier: Apache-2.0
// Channels: the rgba channels, the standard layers, and layers created by name.
#pragma once

namespace DD {
namespace Image {

//! A channel number. The rgba channels and the standard ones have fixed values;
//! getChannel() creates further channels ("layer.chan") on demand, numbered upwards.
enum Channel {
    Chan_Black = 0,
    Chan_Red = 1,
    Chan_Green = 2,
    Chan_Blue = 3,
    Chan_Alpha = 4,
    Chan_Z = 5,
    Chan_Mask = 6,
    Chan_U = 7,
    Chan_V = 8,
    Chan_Backward_U = 9,
    Chan_Backward_V = 10,
    Chan_Stereo_Disp_Left_X = 11,
    Chan_Stereo_Disp_Left_Y = 12,
    Chan_Stereo_Disp_Right_X = 13,
    Chan_Stereo_Disp_Right_Y = 14,
    Chan_DeepFront = 15,
    Chan_DeepBack = 16,
    Chan_RotoPaint_Mask = 17,
    Chan_Unused = 18,  //!< first number handed to channels created by name
    Chan_Last = 1023
};

//! Bit masks of the first channels (bit n - 1 for channel n); Mask_All is every channel.
enum ChannelSetInit : unsigned {
    Mask_None = 0,
    Mask_Red = 1u << 0,
    Mask_Green = 1u << 1,
    Mask_Blue = 1u << 2,
    Mask_Alpha = 1u << 3,
    Mask_Z = 1u << 4,
    Mask_Mask = 1u << 5,
    Mask_U = 1u << 6,
    Mask_V = 1u << 7,
    Mask_RGB = Mask_Red | Mask_Green | Mask_Blue,
    Mask_RGBA = Mask_RGB | Mask_Alpha,
    Mask_UV = Mask_U | Mask_V,
    Mask_All = 0xFFFFFFFFu
};

inline ChannelSetInit operator|(ChannelSetInit a, ChannelSetInit b) {
    return ChannelSetInit(unsigned(a) | unsigned(b));
}

//! Full name of a channel, such as "rgba.red" or "depth.Z"; "none" for Chan_Black.
const char* getName(Channel c);
//! The channel called name ("rgba.red", "depth.Z", or a short alias such as "red");
//! an unknown "layer.chan" name creates the channel. Returns Chan_Black for an
//! empty or malformed name.
Channel getChannel(const char* name, bool sort = true);
//! Name of the channel's layer ("rgba", "depth").
const char* getLayerName(Channel c);
//! Position of the channel inside its layer (0 to 3).
unsigned colourIndex(Channel c);
//! Number of channels that exist now (the highest channel number in use).
int getChannelCount();

}  // namespace Image
}  // namespace DD
