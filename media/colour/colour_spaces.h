// SPDX-License-Identifier: Apache-2.0
// Colour spaces of an OpenColorIO configuration, through OpenImageIO: frames
// converted to the configuration's scene-linear space on reading, back on writing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/Clip.h"
#include "media/colour/transfer.h"
#include "media/frames.h"

namespace tweenora::media {

//! The configuration $OCIO names, else OpenImageIO's built-in one (linear,
//! sRGB, Rec709, ...). Conversions go through OpenImageIO's colour processors.
class ColourSpaces {
public:
    //! $OCIO's configuration when it is set (not empty), else the built-in
    //! one. Throws tweenora::Error naming $OCIO's file and the reason when that
    //! cannot be read: missing, a folder, empty or not a configuration.
    ColourSpaces();
    //! The configuration in the file at path. Throws tweenora::Error naming it
    //! and the reason when OpenColorIO cannot read it.
    explicit ColourSpaces(const std::string& path);
    ~ColourSpaces();

    //! The configuration's file, or "built-in".
    std::string configName() const;
    std::vector<std::string> names() const;
    bool has(const std::string& name) const;
    //! Where the node works: the scene_linear role, else "linear".
    std::string sceneLinear() const;
    //! A Cineon log space: the compositing_log role, else a space named
    //! cineon, Cineon or lg10; "" when the configuration has none.
    std::string cineonLog() const;
    //! Converts frame's red, green and blue from one space to another. Throws
    //! tweenora::Error naming both when the configuration cannot (and the
    //! file a transform misses, such as a LUT).
    void convert(host::ClipFrame& frame, const std::string& from, const std::string& to) const;
    //! Throws as convert does when the configuration cannot convert from one
    //! space to another, converting nothing.
    void checkConversion(const std::string& from, const std::string& to) const;

private:
    void load(const std::string& path, const std::string& named);

    struct Config;
    std::unique_ptr<Config> config_;
};

//! The colour space a file declares that the built-in rules do not cover: a
//! DPX whose header declares a logarithmic transfer is Cineon log, a file whose
//! oiio:ColorSpace attribute names a space of the configuration other than
//! linear and sRGB is in that space; "" otherwise. Throws tweenora::Error
//! naming the file when it declares Cineon log and the configuration has none.
std::string declaredColourSpace(const std::string& path, const ColourSpaces& spaces);

//! The tool's own configuration (linear, sRGB and Cineon log through
//! OpenColorIO's transforms): share/tweenora/tweenora.ocio beside the installed
//! tool, else the source tree's; "" when neither is there.
std::string ownColourConfig();

//! The configuration a retime converts with: $OCIO's when set, else
//! OpenImageIO's built-in one, but the tool's own where auto meets an image
//! file declaring Cineon log, which the built-in one cannot convert.
std::shared_ptr<const ColourSpaces> colourSpacesFor(const std::string& requested,
                                                    Colorspace colorspace,
                                                    const InputFrames& frames);

//! What auto reads an image file with an ICC profile as: Linear or Srgb where
//! the profile says so, Auto (the file's type decides) otherwise. note says
//! which profile was followed, or that it was not and what the file is read as.
struct ProfileChoice {
    Colorspace colorspace = Colorspace::Auto;
    std::string note;
};
ProfileChoice profileColorspace(Colorspace colorspace, const InputFrames& frames);

//! The configuration's space the retime reads from: requested when given
//! (--colorspace NAME; throws tweenora::Error when the configuration has no
//! such space), else what an image sequence's first file declares under
//! auto; "" where the built-in rules (auto, linear, srgb) hold.
std::string managedColourSpace(const std::string& requested, Colorspace colorspace,
                               const InputFrames& frames, const ColourSpaces& spaces);

//! frames converted from space to spaces' scene-linear space as they load; a
//! conversion that fails is their failure(). Throws tweenora::Error when the
//! configuration cannot convert space (see ColourSpaces::checkConversion).
std::unique_ptr<InputFrames> convertedInput(std::unique_ptr<InputFrames> frames,
                                            std::shared_ptr<const ColourSpaces> spaces,
                                            const std::string& space);

//! output fed frames converted from spaces' scene-linear space to space.
//! Throws tweenora::Error when the configuration cannot convert to space.
std::unique_ptr<OutputFrames> convertedOutput(std::unique_ptr<OutputFrames> output,
                                              std::shared_ptr<const ColourSpaces> spaces,
                                              const std::string& space);

}  // namespace tweenora::media
