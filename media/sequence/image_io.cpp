// SPDX-License-Identifier: Apache-2.0
// Image files through OpenImageIO: channel naming, colour rules, windows, safe writes.
#include "media/sequence/image_io.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include "host/Error.h"
#include "media/safe_write.h"

namespace tweenora::media {

namespace fs = std::filesystem;

namespace {

using DD::Image::Channel;

std::string quoted(const std::string& path) {
    return "'" + path + "'";
}

SampleType sampleTypeOf(const OIIO::ImageSpec& spec) {
    // A file with any float channel is float data (EXR may mix half and float).
    OIIO::TypeDesc widest = spec.format;
    for (const OIIO::TypeDesc& t : spec.channelformats)
        if (t.is_floating_point() && t.size() > widest.size())
            widest = t;
    if (widest == OIIO::TypeDesc::FLOAT || widest == OIIO::TypeDesc::DOUBLE)
        return SampleType::Float;
    if (widest == OIIO::TypeDesc::HALF)
        return SampleType::Half;
    if (widest == OIIO::TypeDesc::UINT8)
        return SampleType::UInt8;
    if (widest == OIIO::TypeDesc::UINT16)
        return SampleType::UInt16;
    return SampleType::OtherInteger;
}

bool isColour(Channel c) {
    return c == DD::Image::Chan_Red || c == DD::Image::Chan_Green || c == DD::Image::Chan_Blue;
}

// The EXIF orientation viewers turn the picture by (a JPEG's or TIFF's), 1
// for none. Only a picture without a data window of its own is turned.
int orientationOf(const std::vector<OIIO::ImageSpec>& parts) {
    const OIIO::ImageSpec& spec = parts.front();
    const int orientation = spec.get_int_attribute("Orientation", 1);
    const bool whole = spec.x == spec.full_x && spec.y == spec.full_y &&
                       spec.width == spec.full_width && spec.height == spec.full_height;
    return parts.size() == 1 && whole && orientation >= 1 && orientation <= 8 ? orientation : 1;
}

// Orientations 5-8 swap width and height.
bool swapsSides(int orientation) {
    return orientation >= 5;
}

// The stored pixel shown at column x, row y (from the top) of the upright
// picture, for a stored picture of width x height.
std::pair<int, int> storedPixel(int orientation, int x, int y, int width, int height) {
    switch (orientation) {
        case 2:
            return {width - 1 - x, y};
        case 3:
            return {width - 1 - x, height - 1 - y};
        case 4:
            return {x, height - 1 - y};
        case 5:
            return {y, x};
        case 6:
            return {y, height - 1 - x};
        case 7:
            return {width - 1 - y, height - 1 - x};
        case 8:
            return {width - 1 - y, x};
        default:
            return {x, y};
    }
}

// Interleaved pixels of width x height and channels turned upright.
std::vector<float> upright(const std::vector<float>& pixels, int orientation, int width, int height,
                           int channels) {
    const int shownWidth = swapsSides(orientation) ? height : width;
    const int shownHeight = swapsSides(orientation) ? width : height;
    std::vector<float> shown(pixels.size());
    for (int y = 0; y < shownHeight; ++y)
        for (int x = 0; x < shownWidth; ++x) {
            const auto [sx, sy] = storedPixel(orientation, x, y, width, height);
            std::copy_n(&pixels[(size_t(sy) * width + sx) * channels], channels,
                        &shown[(size_t(y) * shownWidth + x) * channels]);
        }
    return shown;
}

// Rows are stored from the top in files and from the bottom in the host, so
// the data window flips inside the display window. parts are the file's parts
// that hold channels (one, but for a multi-part EXR); they share their windows.
ImageHeader headerFromParts(const std::string& path, const std::string& formatName,
                            const std::vector<OIIO::ImageSpec>& parts) {
    const OIIO::ImageSpec& spec = parts.front();
    if (spec.width <= 0 || spec.height <= 0 || spec.nchannels <= 0)
        throw Error(quoted(path) + ": holds no pixels");
    ImageHeader header;
    header.path = path;
    header.formatName = formatName;
    const int top = spec.full_y + spec.full_height;
    header.box = DD::Image::Box(spec.x - spec.full_x, top - (spec.y + spec.height),
                                spec.x - spec.full_x + spec.width, top - spec.y);
    header.format = DD::Image::Format(spec.full_width, spec.full_height,
                                      spec.get_float_attribute("PixelAspectRatio", 1.0f));
    if (formatName == "dpx")
        for (const char* field : {"dpx:Transfer", "dpx:Colorimetric"})
            if (const std::string value = spec.get_string_attribute(field); !value.empty())
                header.dpxEncoding.emplace_back(field, value);
    header.orientation = orientationOf(parts);
    if (swapsSides(header.orientation)) {
        header.box = DD::Image::Box(0, 0, spec.height, spec.width);
        header.format = DD::Image::Format(spec.height, spec.width,
                                          1.0 / spec.get_float_attribute("PixelAspectRatio", 1.0f));
    }
    header.sampleType = sampleTypeOf(spec);
    header.unassociatedAlpha = spec.get_int_attribute("oiio:UnassociatedAlpha", 0) != 0;
    for (const OIIO::ImageSpec& part : parts) {
        if (sampleTypeOf(part) == SampleType::Float)
            header.sampleType = SampleType::Float;
        for (const std::string& name : part.channelnames) {
            FileChannel channel{name, channelsForFileName(name)};
            for (Channel c : channel.channels) {
                if (header.channels.contains(c)) {
                    throw Error(quoted(path) + ": channel " + name + " fills " +
                                DD::Image::getName(c) + ", which another channel already fills");
                }
                header.channels += c;
            }
            header.layout.push_back(std::move(channel));
        }
    }
    return header;
}

// A multi-part EXR may keep layers in parts of their own: every part counts,
// and all must share the first part's windows. Other formats' subimages
// (pages, animation frames) are no layers; only the first is read.
std::vector<OIIO::ImageSpec> partsOf(OIIO::ImageInput& in, const std::string& path) {
    std::vector<OIIO::ImageSpec> parts{in.spec()};
    if (std::string(in.format_name()) == "openexr") {
        for (int part = 1; in.seek_subimage(part, 0); ++part) {
            const OIIO::ImageSpec& spec = in.spec();
            const OIIO::ImageSpec& first = parts.front();
            if (spec.x != first.x || spec.y != first.y || spec.width != first.width ||
                spec.height != first.height || spec.full_x != first.full_x ||
                spec.full_y != first.full_y || spec.full_width != first.full_width ||
                spec.full_height != first.full_height)
                throw Error(quoted(path) + ": part " + std::to_string(part) +
                            " has other windows than the first part");
            parts.push_back(spec);
        }
        in.seek_subimage(0, 0);
    }
    for (const OIIO::ImageSpec& spec : parts)
        if (spec.deep)
            throw Error(quoted(path) + ": deep images cannot be retimed");
    return parts;
}

std::unique_ptr<OIIO::ImageInput> openInput(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(path, ec))
        throw Error(quoted(path) + ": no such file");
    // Unassociated alpha is multiplied in here, after linearising: OpenImageIO
    // would multiply the encoded values.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::open(path, &config);
    if (!in) {
        std::string reason = OIIO::geterror();
        throw Error(quoted(path) + ": cannot read it" + (reason.empty() ? "" : ": " + reason));
    }
    return in;
}

OIIO::TypeDesc outputType(const std::string& formatName, const WriteSettings& settings) {
    const bool input8 = settings.inputType == SampleType::UInt8;
    const bool inputInteger = isIntegerSample(settings.inputType);
    if (formatName == "openexr")
        return settings.floatData ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::HALF;
    if (formatName == "jpeg")
        return OIIO::TypeDesc::UINT8;
    if (formatName == "png" || formatName == "dpx")
        return input8 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16;
    if (formatName == "tiff" && (settings.floatData || !inputInteger))
        return OIIO::TypeDesc::FLOAT;
    if (settings.floatData || !inputInteger)
        return OIIO::TypeDesc::FLOAT;
    return input8 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16;
}

// Formats with room for any channel; the others keep rgba (jpeg only rgb).
bool holdsAnyChannel(const std::string& formatName) {
    return formatName == "openexr" || formatName == "tiff";
}

bool formatHolds(const std::string& formatName, Channel c) {
    if (holdsAnyChannel(formatName))
        return true;
    if (formatName == "jpeg")
        return isColour(c);
    return isColour(c) || c == DD::Image::Chan_Alpha;
}

struct OutputChannel {
    std::string name;
    Channel channel;
};

std::vector<OutputChannel> outputChannels(const host::ClipFrame& frame,
                                          const WriteSettings& settings,
                                          const std::string& formatName) {
    std::vector<OutputChannel> order;
    DD::Image::ChannelSet placed;
    for (const FileChannel& fileChannel : settings.layout) {
        const Channel c = fileChannel.channels.front();
        if (frame.planes.count(c) && formatHolds(formatName, c)) {
            order.push_back({fileChannel.name, c});
            for (Channel filled : fileChannel.channels)
                placed += filled;
        }
    }
    for (const auto& [c, plane] : frame.planes)
        if (!placed.contains(c) && formatHolds(formatName, c))
            order.push_back({fileNameForChannel(c), c});
    return order;
}

// The file's spec: region's size (placed in the display window where the
// format has windows), channels named and flagged as order has them.
OIIO::ImageSpec outputSpec(const host::ClipFrame& frame, const std::vector<OutputChannel>& order,
                           OIIO::TypeDesc type, const std::string& formatName,
                           const DD::Image::Box& region, bool windows) {
    const int nch = int(order.size());
    OIIO::ImageSpec spec(region.w(), region.h(), nch, type);
    // The constructor guesses alpha from the channel count; the names decide here.
    spec.alpha_channel = -1;
    spec.z_channel = -1;
    for (int i = 0; i < nch; ++i) {
        spec.channelnames[i] = order[i].name;
        if (order[i].channel == DD::Image::Chan_Alpha)
            spec.alpha_channel = i;
        if (order[i].channel == DD::Image::Chan_Z)
            spec.z_channel = i;
    }
    if (windows) {
        spec.x = region.x();
        spec.y = frame.format.height() - region.t();
        spec.full_x = 0;
        spec.full_y = 0;
        spec.full_width = frame.format.width();
        spec.full_height = frame.format.height();
    }
    if (frame.format.pixel_aspect() != 1.0)
        spec.attribute("PixelAspectRatio", float(frame.format.pixel_aspect()));
    if (formatName == "openexr")
        spec.attribute("compression", "zip");
    // PNG stores colour unassociated from alpha: encodeColour divides it out,
    // and OpenImageIO must not do it again.
    if (formatName == "png")
        spec.attribute("oiio:UnassociatedAlpha", 1);
    return spec;
}

// region's pixels, interleaved in order's channels, rows from the top; black
// outside the frame's box.
std::vector<float> interleavedFromTop(const host::ClipFrame& frame,
                                      const std::vector<OutputChannel>& order,
                                      const DD::Image::Box& region) {
    const size_t nch = order.size();
    std::vector<float> pixels(size_t(region.w()) * region.h() * nch, 0.0f);
    for (size_t i = 0; i < nch; ++i)
        copyRowsFromTop(frame.planes.at(order[i].channel), frame.box, region, &pixels[i], nch);
    return pixels;
}

// Colour unassociated from alpha in linear light (before encoding) where the
// format stores it so, then the sRGB curve where the file carries it.
void encodeColour(std::vector<float>& pixels, const std::vector<OutputChannel>& order,
                  int alphaIndex, bool unassociate, bool encode) {
    const size_t nch = order.size();
    for (size_t p = 0; p < pixels.size() / nch; ++p) {
        float* pixel = &pixels[p * nch];
        const float alpha = alphaIndex >= 0 ? pixel[alphaIndex] : 1.0f;
        for (size_t i = 0; i < nch; ++i) {
            if (!isColour(order[i].channel))
                continue;
            if (unassociate && alphaIndex >= 0 && alpha > 0.0f)
                pixel[i] /= alpha;
            if (encode)
                pixel[i] = linearToSrgb(pixel[i]);
        }
    }
}

// Encoded in memory, then written under a temporary name with every write
// checked, and committed into place when complete. The format libraries do not
// all notice a short write (and the JPEG one ends the process on it), so none
// of them writes to the file itself.
void writeFile(OIIO::ImageOutput& out, const std::string& path, const OIIO::ImageSpec& spec,
               const std::vector<float>& pixels) {
    OIIO::Filesystem::IOVecOutput encoded;
    const bool inMemory = out.supports("ioproxy") && out.set_ioproxy(&encoded);
    const std::string temporary = temporaryPathFor(path);
    const OutputGuard guard(temporary);
    const bool written = out.open(temporary, spec) &&
                         out.write_image(OIIO::TypeDesc::FLOAT, pixels.data()) && out.close();
    if (!written) {
        const std::string reason = out.geterror();
        out.close();
        throw Error(quoted(path) + ": cannot write it" + (reason.empty() ? "" : ": " + reason));
    }
    if (inMemory)
        writeWholeFile(temporary, path, encoded.buffer().data(), encoded.buffer().size());
    commitIntoPlace(temporary, path, guard);
}

}  // namespace

std::vector<Channel> channelsForFileName(const std::string& name) {
    struct Alias {
        const char* name;
        Channel channel;
    };
    static const Alias kAliases[] = {
        {"R", DD::Image::Chan_Red},     {"r", DD::Image::Chan_Red},
        {"red", DD::Image::Chan_Red},   {"G", DD::Image::Chan_Green},
        {"g", DD::Image::Chan_Green},   {"green", DD::Image::Chan_Green},
        {"B", DD::Image::Chan_Blue},    {"b", DD::Image::Chan_Blue},
        {"blue", DD::Image::Chan_Blue}, {"A", DD::Image::Chan_Alpha},
        {"a", DD::Image::Chan_Alpha},   {"alpha", DD::Image::Chan_Alpha},
        {"Z", DD::Image::Chan_Z},
    };
    for (const Alias& alias : kAliases)
        if (name == alias.name)
            return {alias.channel};
    if (name == "Y")
        return {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue};

    // Host layer names hold no dots, so "a.b.c" becomes layer "a_b", channel "c".
    std::string hostName;
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
        hostName = "other." + name;
    } else {
        std::string layer = name.substr(0, dot);
        std::replace(layer.begin(), layer.end(), '.', '_');
        hostName = layer + "." + name.substr(dot + 1);
    }
    const Channel c = DD::Image::getChannel(hostName.c_str());
    if (c == DD::Image::Chan_Black)
        throw Error("channel name '" + name + "' cannot be used");
    return {c};
}

std::string fileNameForChannel(Channel channel) {
    switch (channel) {
        case DD::Image::Chan_Red:
            return "R";
        case DD::Image::Chan_Green:
            return "G";
        case DD::Image::Chan_Blue:
            return "B";
        case DD::Image::Chan_Alpha:
            return "A";
        default:
            return DD::Image::getName(channel);
    }
}

ImageHeader readHeader(const std::string& path) {
    std::unique_ptr<OIIO::ImageInput> in = openInput(path);
    return headerFromParts(path, in->format_name(), partsOf(*in, path));
}

host::ClipFrame readImage(const std::string& path, Colorspace colorspace) {
    std::unique_ptr<OIIO::ImageInput> in = openInput(path);
    const std::vector<OIIO::ImageSpec> parts = partsOf(*in, path);
    const ImageHeader header = headerFromParts(path, in->format_name(), parts);
    int width = parts.front().width, height = parts.front().height;
    int total = 0;
    for (const OIIO::ImageSpec& part : parts)
        total += part.nchannels;
    // One interleaved block per part, side by side: channel c of the file
    // (counted over all parts) sits at offset c within a pixel of total values.
    std::vector<float> pixels(size_t(width) * height * total);
    int first = 0;
    for (size_t part = 0; part < parts.size(); ++part) {
        const int nch = parts[part].nchannels;
        const OIIO::stride_t xstride = OIIO::stride_t(total * sizeof(float));
        if (!in->read_image(int(part), 0, 0, nch, OIIO::TypeDesc::FLOAT, &pixels[first], xstride)) {
            const std::string reason = in->geterror();
            throw Error(quoted(path) + ": cannot decode it" +
                        (reason.empty() ? "" : ": " + reason));
        }
        first += nch;
    }
    const int nch = total;
    if (header.orientation != 1) {
        pixels = upright(pixels, header.orientation, width, height, nch);
        if (swapsSides(header.orientation))
            std::swap(width, height);
    }

    host::ClipFrame frame;
    frame.box = header.box;
    frame.format = header.format;
    const bool linearise = carriesSrgb(colorspace, isIntegerSample(header.sampleType));
    const size_t planeSize = size_t(width) * height;
    for (int c = 0; c < nch; ++c) {
        const std::vector<Channel>& targets = header.layout[c].channels;
        std::vector<float> plane(planeSize);
        for (int row = 0; row < height; ++row) {
            const float* src = &pixels[(size_t(height - 1 - row) * width) * nch + c];
            float* dst = &plane[size_t(row) * width];
            for (int x = 0; x < width; ++x)
                dst[x] = src[size_t(x) * nch];
        }
        if (linearise && isColour(targets.front()))
            std::transform(plane.begin(), plane.end(), plane.begin(), srgbToLinear);
        for (size_t i = 0; i + 1 < targets.size(); ++i)
            frame.planes[targets[i]] = plane;
        frame.planes[targets.back()] = std::move(plane);
    }

    const auto alpha = frame.planes.find(DD::Image::Chan_Alpha);
    if (header.unassociatedAlpha && alpha != frame.planes.end()) {
        for (auto& [c, plane] : frame.planes)
            if (isColour(c))
                for (size_t i = 0; i < planeSize; ++i)
                    plane[i] *= alpha->second[i];
    }
    return frame;
}

void checkWritableFormat(const std::string& path) {
    if (!OIIO::ImageOutput::create(path)) {
        const std::string reason = OIIO::geterror();
        throw Error(quoted(path) + ": no image format to write it in" +
                    (reason.empty() ? "" : ": " + reason));
    }
}

std::vector<std::string> writeImage(const std::string& path, const host::ClipFrame& frame,
                                    const WriteSettings& settings) {
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
    if (!out) {
        const std::string reason = OIIO::geterror();
        throw Error(quoted(path) + ": cannot write this format" +
                    (reason.empty() ? "" : ": " + reason));
    }
    const std::string formatName = out->format_name();
    const std::vector<OutputChannel> order = outputChannels(frame, settings, formatName);
    std::vector<std::string> dropped;
    for (const auto& [c, plane] : frame.planes)
        if (!formatHolds(formatName, c))
            dropped.push_back(DD::Image::getName(c));
    if (order.empty())
        throw Error(quoted(path) + ": " + formatName +
                    " files cannot hold any channel of the image");

    const OIIO::TypeDesc type = outputType(formatName, settings);
    const bool windows = out->supports("displaywindow") && out->supports("origin");
    const DD::Image::Box region =
        windows ? frame.box : DD::Image::Box(0, 0, frame.format.width(), frame.format.height());
    OIIO::ImageSpec spec = outputSpec(frame, order, type, formatName, region, windows);
    if (formatName == "dpx" && !type.is_floating_point())
        for (const auto& [field, value] : settings.dpxEncoding)
            spec.attribute(field, value);
    std::vector<float> pixels = interleavedFromTop(frame, order, region);
    encodeColour(pixels, order, spec.alpha_channel, formatName == "png",
                 carriesSrgb(settings.colorspace, !type.is_floating_point()));
    writeFile(*out, path, spec, pixels);
    return dropped;
}

}  // namespace tweenora::media
