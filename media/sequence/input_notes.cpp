// SPDX-License-Identifier: Apache-2.0
// Notes on input files: values outside the node's encoding, formats under another name.
#include "media/sequence/input_notes.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include <OpenImageIO/imageio.h>

#include "host/text.h"
#include "pipeline/pu21.h"

namespace tweenora::media {

namespace {

// The formats OpenImageIO reads from files with extension (lower case, no dot).
std::vector<std::string> formatsForExtension(const std::string& extension) {
    // "openexr:exr,sxr,mxr;png:png;..."
    std::vector<std::string> formats;
    std::istringstream list(OIIO::get_string_attribute("extension_list"));
    std::string entry;
    while (std::getline(list, entry, ';')) {
        const size_t colon = entry.find(':');
        if (colon == std::string::npos)
            continue;
        std::istringstream extensions(entry.substr(colon + 1));
        std::string candidate;
        while (std::getline(extensions, candidate, ','))
            if (candidate == extension)
                formats.push_back(entry.substr(0, colon));
    }
    return formats;
}

}  // namespace

EncodingRange& EncodingRange::operator|=(const EncodingRange& other) {
    clamped = clamped || other.clamped;
    infinite = infinite || other.infinite;
    return *this;
}

EncodingRange encodingRangeOf(const host::ClipFrame& frame, const DD::Image::ChannelSet& channels) {
    EncodingRange range;
    const float top = float(pipeline::kPu21MaxLinear);
    for (const auto& [channel, plane] : frame.planes) {
        if (!channels.contains(channel))
            continue;
        for (const float v : plane) {
            if (std::isinf(v))
                range.infinite = true;
            else if (v > top || v < 0.0f)
                range.clamped = true;
        }
    }
    return range;
}

std::string encodingRangeNote(const std::string& path, const EncodingRange& range) {
    std::ostringstream note;
    if (range.clamped)
        note << "'" << path << "' holds values below 0 or above " << pipeline::kPu21MaxLinear
             << "; interpolated frames clamp them to 0 and " << pipeline::kPu21MaxLinear
             << " (the node's colorspace_convert encoding; --set colorspace_convert=false "
                "keeps them)\n";
    if (range.infinite)
        note << "'" << path << "' holds infinite values; interpolated frames show them as NaN\n";
    return note.str();
}

std::string formatMismatchNote(const ImageHeader& header, Colorspace colorspace) {
    std::string extension = std::filesystem::path(header.path).extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    const std::vector<std::string> named = formatsForExtension(host::lowerCase(extension));
    if (named.empty() || std::find(named.begin(), named.end(), header.formatName) != named.end())
        return {};
    const bool srgb = carriesSrgb(colorspace, isIntegerSample(header.sampleType));
    return "'" + header.path + "' is a " + header.formatName + " file, not " + named.front() +
           " as its name says; read as " + header.formatName +
           (srgb ? ", its colour converted from sRGB" : ", its colour taken as linear") + "\n";
}

}  // namespace tweenora::media
