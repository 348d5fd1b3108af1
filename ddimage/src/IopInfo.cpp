// SPDX-License-Identifier: Apache-2.0
// Info2D: formats default to one shared empty format until an op sets its own.
#include "DDImage/IopInfo.h"

namespace DD {
namespace Image {
namespace {

const Format& emptyFormat() {
    static const Format format;
    return format;
}

}  // namespace

Info2D::Info2D() : format_(&emptyFormat()), fullSizeFormat_(&emptyFormat()) {}

void Info2D::setFormats(const FormatPair& formats) {
    if (formats.format)
        format_ = formats.format;
    if (formats.fullSizeFormat)
        fullSizeFormat_ = formats.fullSizeFormat;
}

FormatPair Info2D::formats() const {
    FormatPair pair;
    pair.format = format_;
    pair.fullSizeFormat = fullSizeFormat_;
    return pair;
}

}  // namespace Image
}  // namespace DD
