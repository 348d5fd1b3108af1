// SPDX-License-Identifier: Apache-2.0
// Colour spaces of an OpenColorIO configuration, through OpenImageIO's colour processors.
#include "media/colour/colour_spaces.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <OpenImageIO/color.h>
#include <OpenImageIO/imageio.h>

#include "host/Error.h"
#include "host/text.h"
#include "media/colour/icc_profile.h"
#include "media/decode_log.h"

namespace tweenora::media {

namespace {

const DD::Image::Channel kColour[] = {DD::Image::Chan_Red, DD::Image::Chan_Green,
                                      DD::Image::Chan_Blue};

bool declaresCineonLog(const OIIO::ImageInput& in) {
    const std::string format = in.format_name();
    const std::string declared = host::lowerCase(in.spec().get_string_attribute("oiio:ColorSpace"));
    return (format == "dpx" && in.spec().get_string_attribute("dpx:Transfer") == "Logarithmic") ||
           declared == "kodaklog" || declared == "cineon";
}

// Only image files declare spaces: a video's colour comes from its stream's tags.
bool readsImageFiles(const InputFrames& frames) {
    return !frames.header().formatName.empty() && frames.frameRate().num <= 0;
}

// The scan of watchEncodingRange sees the values as decoded, before the conversion.
class ConvertedInput : public ForwardingInputFrames {
public:
    ConvertedInput(std::unique_ptr<InputFrames> frames, std::shared_ptr<const ColourSpaces> spaces,
                   const std::string& space)
        : ForwardingInputFrames(std::move(frames)), spaces_(std::move(spaces)), space_(space) {}

    std::shared_ptr<const host::ClipFrame> load(int frame) override {
        std::shared_ptr<const host::ClipFrame> decoded = ForwardingInputFrames::load(frame);
        if (!decoded)
            return decoded;
        auto converted = std::make_shared<host::ClipFrame>(*decoded);
        try {
            spaces_->convert(*converted, space_, spaces_->sceneLinear());
        } catch (const Error& e) {
            // The host keeps no text of a source's exception: the tool reports this.
            log_.failed(e.what());
            throw;
        }
        return converted;
    }
    std::string failure() const override {
        const std::string decoding = ForwardingInputFrames::failure();
        return decoding.empty() ? log_.failure() : decoding;
    }

private:
    std::shared_ptr<const ColourSpaces> spaces_;
    std::string space_;
    DecodeLog log_;
};

class ConvertedOutput : public OutputFrames {
public:
    ConvertedOutput(std::unique_ptr<OutputFrames> output,
                    std::shared_ptr<const ColourSpaces> spaces, const std::string& space)
        : output_(std::move(output)), spaces_(std::move(spaces)), space_(space) {}

    const std::string& text() const override { return output_->text(); }
    std::vector<std::string> paths(const std::vector<int>& frames) const override {
        return output_->paths(frames);
    }
    void open(const DD::Image::Format& format) override { output_->open(format); }
    std::vector<std::string> write(int number, const host::ClipFrame& frame) override {
        host::ClipFrame converted = frame;
        spaces_->convert(converted, spaces_->sceneLinear(), space_);
        return output_->write(number, converted);
    }
    std::string shownAs(int number) const override { return output_->shownAs(number); }
    void finish() override { output_->finish(); }

private:
    std::unique_ptr<OutputFrames> output_;
    std::shared_ptr<const ColourSpaces> spaces_;
    std::string space_;
};

}  // namespace

struct ColourSpaces::Config {
    OIIO::ColorConfig config;
};

namespace {

// Why the configuration file at path cannot be used, "" when it can be tried.
// OpenImageIO falls back to its built-in configuration with a clumsy text, so
// the plain cases are named here.
std::string unusableConfigReason(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status))
        return "no such file";
    if (fs::is_directory(status))
        return "it is a folder, not a configuration file";
    if (::access(path.c_str(), R_OK) != 0)
        return "it cannot be opened for reading";
    if (fs::is_regular_file(status) && fs::file_size(path, ec) == 0)
        return "it is empty";
    return "";
}

OIIO::ColorProcessorHandle processorFor(OIIO::ColorConfig& config, const std::string& from,
                                        const std::string& to) {
    const OIIO::ColorProcessorHandle processor = config.createColorProcessor(from, to);
    if (!processor) {
        // A space whose transform reads a missing file (a LUT) lands here;
        // the reason names the file.
        const std::string reason = config.geterror();
        throw Error("the colour configuration (" + config.configname() + ") cannot convert '" +
                    from + "' to '" + to + "'" + (reason.empty() ? "" : ": " + reason));
    }
    return processor;
}

}  // namespace

// OpenImageIO reads $OCIO itself, and without a word uses its built-in
// configuration when that cannot be read: a set $OCIO is loaded here so that
// its failure is reported.
ColourSpaces::ColourSpaces() : config_(std::make_unique<Config>()) {
    const char* ocio = std::getenv("OCIO");
    if (ocio && *ocio)
        load(ocio, "$OCIO names the colour configuration '" + std::string(ocio) + "'");
}

ColourSpaces::ColourSpaces(const std::string& path) : config_(std::make_unique<Config>()) {
    load(path, "the colour configuration '" + path + "'");
}

void ColourSpaces::load(const std::string& path, const std::string& named) {
    std::string reason = unusableConfigReason(path);
    if (reason.empty()) {
        config_->config.reset(path);
        // has_error() stays false when the file fails to load; the text is kept.
        reason = config_->config.geterror();
    }
    if (!reason.empty())
        throw Error(named + ", which cannot be read: " + reason);
}

ColourSpaces::~ColourSpaces() = default;

std::string ColourSpaces::configName() const {
    return config_->config.configname();
}

std::vector<std::string> ColourSpaces::names() const {
    std::vector<std::string> names;
    for (int i = 0; i < config_->config.getNumColorSpaces(); ++i)
        names.push_back(config_->config.getColorSpaceNameByIndex(i));
    return names;
}

bool ColourSpaces::has(const std::string& name) const {
    const std::vector<std::string> all = names();
    return std::find(all.begin(), all.end(), name) != all.end();
}

std::string ColourSpaces::sceneLinear() const {
    const char* role = config_->config.getColorSpaceNameByRole("scene_linear");
    return role && *role ? role : "linear";
}

std::string ColourSpaces::cineonLog() const {
    const char* role = config_->config.getColorSpaceNameByRole("compositing_log");
    if (role && *role)
        return role;
    for (const std::string& name : names())
        if (host::lowerCase(name) == "cineon" || host::lowerCase(name) == "lg10")
            return name;
    return "";
}

void ColourSpaces::checkConversion(const std::string& from, const std::string& to) const {
    if (from != to)
        processorFor(config_->config, from, to);
}

void ColourSpaces::convert(host::ClipFrame& frame, const std::string& from,
                           const std::string& to) const {
    if (from == to)
        return;
    const OIIO::ColorProcessorHandle processor = processorFor(config_->config, from, to);
    std::vector<float>* planes[3] = {};
    for (int c = 0; c < 3; ++c) {
        const auto found = frame.planes.find(kColour[c]);
        if (found == frame.planes.end())
            return;  // no colour to convert (a grey file fills all three)
        planes[c] = &found->second;
    }
    // Interleaved for the processor, then planar again.
    const size_t size = planes[0]->size();
    std::vector<float> pixels(size * 3);
    for (size_t i = 0; i < size; ++i)
        for (int c = 0; c < 3; ++c)
            pixels[i * 3 + c] = (*planes[c])[i];
    processor->apply(pixels.data(), int(size), 1, 3, sizeof(float), 3 * sizeof(float),
                     OIIO::AutoStride);
    for (size_t i = 0; i < size; ++i)
        for (int c = 0; c < 3; ++c)
            (*planes[c])[i] = pixels[i * 3 + c];
}

std::string declaredColourSpace(const std::string& path, const ColourSpaces& spaces) {
    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::open(path);
    if (!in)
        return "";  // the reader reports it
    if (std::string(in->format_name()) == "openexr")
        return "";
    const std::string declared = in->spec().get_string_attribute("oiio:ColorSpace");
    if (declaresCineonLog(*in)) {
        const std::string cineon = spaces.cineonLog();
        if (cineon.empty())
            throw Error("'" + path +
                        "' declares a logarithmic (Cineon) transfer, and the colour "
                        "configuration (" +
                        spaces.configName() +
                        ") has no Cineon log space: set $OCIO to one that has (a "
                        "compositing_log role), or say what the files hold with --colorspace");
        return cineon;
    }
    const std::string lower = host::lowerCase(declared);
    if (declared.empty() || lower == "linear" || lower == "srgb" || !spaces.has(declared))
        return "";
    return declared;
}

std::string managedColourSpace(const std::string& requested, Colorspace colorspace,
                               const InputFrames& frames, const ColourSpaces& spaces) {
    if (!requested.empty()) {
        if (!spaces.has(requested))
            throw Error(
                "--colorspace: '" + requested +
                "' is neither auto, linear, srgb nor a colour space of the configuration (" +
                spaces.configName() + "); see tweenora retime --colorspace list");
        return requested;
    }
    if (colorspace != Colorspace::Auto || !readsImageFiles(frames))
        return "";
    return declaredColourSpace(frames.paths().front(), spaces);
}

std::string ownColourConfig() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path tool = fs::read_symlink("/proc/self/exe", ec);
    const fs::path candidates[] = {
        ec ? fs::path() : tool.parent_path().parent_path() / "share/tweenora/tweenora.ocio",
        TWEENORA_OWN_OCIO_CONFIG};
    for (const fs::path& candidate : candidates)
        if (!candidate.empty() && fs::is_regular_file(candidate, ec))
            return candidate.string();
    return "";
}

std::shared_ptr<const ColourSpaces> colourSpacesFor(const std::string& requested,
                                                    Colorspace colorspace,
                                                    const InputFrames& frames) {
    auto spaces = std::make_shared<const ColourSpaces>();
    const char* ocio = std::getenv("OCIO");
    if ((ocio && *ocio) || !requested.empty() || colorspace != Colorspace::Auto ||
        !readsImageFiles(frames) || !spaces->cineonLog().empty())
        return spaces;
    const std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::open(frames.paths().front());
    const std::string own = ownColourConfig();
    if (in && declaresCineonLog(*in) && !own.empty())
        return std::make_shared<const ColourSpaces>(own);
    return spaces;
}

ProfileChoice profileColorspace(Colorspace colorspace, const InputFrames& frames) {
    if (colorspace != Colorspace::Auto || !readsImageFiles(frames))
        return {};
    const std::string path = frames.paths().front();
    const std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::open(path);
    const OIIO::ParamValue* icc = in ? in->spec().find_attribute("ICCProfile") : nullptr;
    if (!icc)
        return {};
    const IccProfile profile =
        readIccProfile(static_cast<const unsigned char*>(icc->data()), icc->datasize());
    const std::string named =
        "'" + path + "' carries an ICC profile" +
        (profile.description.empty() ? "" : " (" + profile.description + ")") + " with " +
        profile.curve + " as its tone curve";
    switch (profile.transfer) {
        case IccTransfer::Linear:
            return {Colorspace::Linear, named + ": read as linear light"};
        case IccTransfer::Srgb:
            return {Colorspace::Srgb, ""};
        default:
            break;
    }
    const bool integer = isIntegerSample(frames.header().sampleType);
    return {Colorspace::Auto, named + ", which is not followed: read as " +
                                  (integer ? "sRGB" : "linear light") +
                                  " (say what it holds with --colorspace)"};
}

std::unique_ptr<InputFrames> convertedInput(std::unique_ptr<InputFrames> frames,
                                            std::shared_ptr<const ColourSpaces> spaces,
                                            const std::string& space) {
    spaces->checkConversion(space, spaces->sceneLinear());
    return std::make_unique<ConvertedInput>(std::move(frames), std::move(spaces), space);
}

std::unique_ptr<OutputFrames> convertedOutput(std::unique_ptr<OutputFrames> output,
                                              std::shared_ptr<const ColourSpaces> spaces,
                                              const std::string& space) {
    spaces->checkConversion(spaces->sceneLinear(), space);
    return std::make_unique<ConvertedOutput>(std::move(output), std::move(spaces), space);
}

}  // namespace tweenora::media
