// SPDX-License-Identifier: Apache-2.0
// SequencePattern: image-sequence paths with one frame-number field, and the frames on disk.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "media/frame_span.h"

namespace tweenora::media {

//! A path whose file name holds one frame-number field: "####" (four digits,
//! zero-padded; one digit per '#', so "#" is unpadded) or a printf field "%04d"
//! / "%d". Negative frames print with a leading minus, as printf does.
class SequencePattern {
public:
    //! Throws tweenora::Error naming the pattern when its file name holds no
    //! frame field or more than one.
    explicit SequencePattern(const std::string& pattern);

    const std::string& text() const { return text_; }
    //! The folder the files live in ("." for a bare file name).
    std::string directory() const { return folder_.empty() ? "." : folder_; }
    //! The file of frame.
    std::string path(int frame) const;
    //! The frame a file name (without folder) stands for, when it is this
    //! pattern's name for that frame exactly.
    std::optional<int> frameOf(const std::string& fileName) const;
    //! Frame numbers of the files present in the folder, ascending.
    std::vector<int> framesOnDisk() const;
    //! First to last frame present. Throws tweenora::Error when there is none.
    FrameSpan spanOnDisk() const;

private:
    std::string fileName(int frame) const;

    std::string text_;
    std::string folder_;  //!< as given; empty for a bare file name
    std::string prefix_;  //!< file name before the field
    std::string suffix_;  //!< file name after the field
    int padding_ = 1;
};

//! The absolute path with symbolic links of its existing part resolved: two
//! names of one file, existing or to be written, give the same text.
std::string canonicalPath(const std::string& path);

}  // namespace tweenora::media
