// SPDX-License-Identifier: Apache-2.0
// The retime tool's input and output: sequence or video chosen by the name.
#include "cli/media_io.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "cli/sequence.h"
#include "cli/sequence_frames.h"
#include "cli/video_reader.h"
#include "host/Error.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace tweenora::cli {

namespace fs = std::filesystem;

namespace {

// Frame rates typed as decimals are matched to these: 29.97 means 30000/1001.
constexpr int kNtscDenominator = 1001;

FrameSpan sequenceSpan(const SequencePattern& input, const std::optional<InputRange>& range) {
    if (!range)
        return input.spanOnDisk();
    if (range->end < range->start)
        throw Error("--range " + std::to_string(range->start) + "-" + std::to_string(range->end) +
                    " ends before it starts");
    return {range->start, range->end};
}

void makeFolder(const std::string& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder))
        throw Error("cannot make the output folder '" + folder + "'" +
                    (ec ? ": " + ec.message() : ""));
    if (::access(folder.c_str(), W_OK) != 0)
        throw Error("cannot write into the output folder '" + folder + "'");
}

std::string folderOf(const std::string& path) {
    const std::string folder = fs::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

// Libraries that read video also read single images; a name without a frame
// field that holds one is a sequence pattern written wrong, and is told so.
bool isImageFormat(const std::string& formatName) {
    const std::string pipe = "_pipe";
    return formatName.rfind("image2", 0) == 0 ||
           (formatName.size() > pipe.size() &&
            formatName.compare(formatName.size() - pipe.size(), pipe.size(), pipe) == 0);
}

// A range over a video: frames counted from 1, all of them by default.
class RangedVideo : public ForwardingInputFrames {
public:
    RangedVideo(std::unique_ptr<VideoFrames> video, FrameSpan span)
        : ForwardingInputFrames(std::move(video)), span_(span) {}

    int firstFrame() const override { return span_.first; }
    int lastFrame() const override { return span_.last; }
    std::shared_ptr<const host::ClipFrame> load(int frame) override {
        return ForwardingInputFrames::load(std::min(std::max(frame, span_.first), span_.last));
    }

private:
    FrameSpan span_;
};

class SequenceOutput : public OutputFrames {
public:
    SequenceOutput(const std::string& text, const WriteSettings& settings)
        : pattern_(text), settings_(settings) {
        checkWritableFormat(pattern_.path(0));
    }
    const std::string& text() const override { return pattern_.text(); }
    std::vector<std::string> paths(const std::vector<int>& frames) const override {
        std::vector<std::string> paths;
        for (int frame : frames)
            paths.push_back(pattern_.path(frame));
        return paths;
    }
    void open(const DD::Image::Format&) override { makeFolder(pattern_.directory()); }
    std::vector<std::string> write(int number, const host::ClipFrame& frame) override {
        return writeImage(pattern_.path(number), frame, settings_);
    }
    std::string shownAs(int number) const override { return pattern_.path(number); }

private:
    SequencePattern pattern_;
    WriteSettings settings_;
};

class VideoOutput : public OutputFrames {
public:
    VideoOutput(const std::string& path, const VideoSettings& settings)
        : path_(path), settings_(settings) {
        if (videoCodecFor(path, settings).empty())
            throw Error("'" + path + "': no video format is known for its extension");
    }
    const std::string& text() const override { return path_; }
    std::vector<std::string> paths(const std::vector<int>&) const override { return {path_}; }
    void open(const DD::Image::Format& format) override {
        makeFolder(folderOf(path_));
        writer_ = std::make_unique<VideoWriter>(path_, format.width(), format.height(), settings_);
    }
    std::vector<std::string> write(int, const host::ClipFrame& frame) override {
        ++written_;
        return writer_->write(frame);
    }
    std::string shownAs(int) const override {
        return path_ + " (frame " + std::to_string(written_) + ")";
    }
    void finish() override { writer_->finish(); }

private:
    std::string path_;
    VideoSettings settings_;
    std::unique_ptr<VideoWriter> writer_;
    int written_ = 0;
};

}  // namespace

bool isVideoName(const std::string& text) {
    try {
        SequencePattern pattern(text);
        return false;
    } catch (const Error&) {
        return true;
    }
}

bool writesIntegerImages(const std::string& text) {
    if (isVideoName(text))
        return false;
    std::string extension = fs::path(text).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension != ".exr" && extension != ".hdr";
}

FrameRate parseFrameRate(const std::string& option, const std::string& text) {
    const size_t slash = text.find('/');
    if (slash != std::string::npos) {
        const double num = parseNumber(option, text.substr(0, slash));
        const double den = parseNumber(option, text.substr(slash + 1));
        if (num != std::floor(num) || den != std::floor(den) || num < 1 || den < 1 || num > 1e6 ||
            den > 1e6)
            throw Error(option + ": '" + text + "' is not a frame rate N/D of whole numbers");
        return {int(num), int(den)};
    }
    const double rate = parseNumber(option, text);
    if (rate <= 0.0 || rate > 1000.0)
        throw Error(option + ": '" + text + "' is not a frame rate between 0 and 1000");
    if (rate == std::floor(rate))
        return {int(rate), 1};
    const double ntsc = std::round(rate * kNtscDenominator / 1000.0) * 1000.0;
    if (std::abs(ntsc / kNtscDenominator - rate) < 0.005)
        return {int(ntsc), kNtscDenominator};
    return {int(std::lround(rate * 1000.0)), 1000};
}

std::unique_ptr<InputFrames> openInputFrames(const std::string& text,
                                             const std::optional<InputRange>& range,
                                             Colorspace colorspace) {
    if (!isVideoName(text)) {
        const SequencePattern pattern(text);
        return std::make_unique<SequenceFrames>(pattern, sequenceSpan(pattern, range), colorspace);
    }
    auto video = std::make_unique<VideoFrames>(text, colorspace);
    if (isImageFormat(video->header().formatName))
        SequencePattern{text};  // throws: no frame number in the name
    FrameSpan span{1, video->lastFrame()};
    if (range) {
        if (range->end < range->start)
            throw Error("--range " + std::to_string(range->start) + "-" +
                        std::to_string(range->end) + " ends before it starts");
        if (range->start < 1 || range->end > span.last)
            throw Error("--range " + std::to_string(range->start) + "-" +
                        std::to_string(range->end) + ": '" + text + "' holds frames 1-" +
                        std::to_string(span.last));
        span = {range->start, range->end};
    }
    return std::make_unique<RangedVideo>(std::move(video), span);
}

std::unique_ptr<OutputFrames> makeOutputFrames(const std::string& text, const WriteSettings& image,
                                               const VideoSettings& video) {
    if (isVideoName(text)) {
        const AVOutputFormat* container = av_guess_format(nullptr, text.c_str(), nullptr);
        if (!container || isImageFormat(container->name))
            SequencePattern{text};  // throws: no frame number in the name
        return std::make_unique<VideoOutput>(text, video);
    }
    return std::make_unique<SequenceOutput>(text, image);
}

}  // namespace tweenora::cli
