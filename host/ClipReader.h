// SPDX-License-Identifier: Apache-2.0
// ClipReader: the host's source op, which delivers the frames of a Clip.
#pragma once

#include <memory>

#include <DDImage/Format.h>
#include <DDImage/PlanarIop.h>

#include "host/Clip.h"

namespace tweenora::host {

//! Reads the clip frame nearest to round(context frame) when validated; fills
//! planes of any box and layout, with zeros outside the frame's data window and
//! for channels the frame does not have. Not registered as a class: only
//! Script::createSource makes it.
class ClipReader : public DD::Image::PlanarIop {
public:
    ClipReader(Node* node, std::shared_ptr<Clip> clip);

    const char* Class() const override { return "ClipReader"; }
    const char* node_help() const override { return "Delivers the frames of a clip."; }
    int minimum_inputs() const override { return 0; }
    int maximum_inputs() const override { return 0; }
    void append(DD::Image::Hash& hash) override;
    void renderStripe(DD::Image::ImagePlane& plane) override;

protected:
    void _validate(bool for_real) override;
    //! renderStripe fills any plane, so fetches skip the planar base's
    //! intermediate plane and its copy (frames can be large).
    void doFetchPlane(DD::Image::ImagePlane& plane) override;

private:
    //! The clip frame this op's context reads (clamped to the clip's range).
    int clipFrame() const;

    std::shared_ptr<Clip> clip_;
    std::shared_ptr<const ClipFrame> frame_;
    //! Downstream infos point at this format, so it lives as long as the op.
    DD::Image::Format format_;
};

}  // namespace tweenora::host
