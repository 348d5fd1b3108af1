// SPDX-License-Identifier: Apache-2.0
// A retime's input and output: sequence or video, chosen by the name.
#include "media/open.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "host/Error.h"
#include "host/text.h"
#include "media/sequence/pattern.h"
#include "media/sequence/sequence_frames.h"
#include "media/video/reader.h"

namespace tweenora::media {

namespace fs = std::filesystem;

namespace {

const char* const kSpanName = "--range";

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
        settings_.pixelAspect = format.pixel_aspect();
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
    void setSourceTiming(const SourceTiming& timing) override {
        settings_.audio.sourceStart = timing.sourceStart;
        settings_.audio.tempo = timing.tempo;
        settings_.audio.duration = timing.duration;
        settings_.audio.unmapped = timing.unmapped;
        settings_.timecode = timing.timecode;
    }
    std::vector<std::string> notes() const override { return writer_->notes(); }

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
    const std::string extension = host::lowerCase(fs::path(text).extension().string());
    return extension != ".exr" && extension != ".hdr";
}

std::unique_ptr<InputFrames> openInputFrames(const std::string& text,
                                             const std::optional<FrameSpan>& span,
                                             Colorspace colorspace) {
    if (span)
        requireOrdered(*span, kSpanName);
    if (!isVideoName(text)) {
        const SequencePattern pattern(text);
        return std::make_unique<SequenceFrames>(pattern, span ? *span : pattern.spanOnDisk(),
                                                colorspace);
    }
    auto video = std::make_unique<VideoFrames>(text, colorspace);
    if (isImageContainer(video->header().formatName))
        SequencePattern{text};  // throws: no frame number in the name
    const FrameSpan all{1, video->lastFrame()};
    if (span && (span->first < 1 || span->last > all.last))
        throw Error(std::string(kSpanName) + " " + std::to_string(span->first) + "-" +
                    std::to_string(span->last) + ": '" + text + "' holds frames 1-" +
                    std::to_string(all.last));
    return std::make_unique<RangedVideo>(std::move(video), span ? *span : all);
}

std::unique_ptr<OutputFrames> makeOutputFrames(const std::string& text, const WriteSettings& image,
                                               const VideoSettings& video) {
    if (isVideoName(text)) {
        const std::string container = videoContainerFor(text);
        if (container.empty() || isImageContainer(container))
            SequencePattern{text};  // throws: no frame number in the name
        return std::make_unique<VideoOutput>(text, video);
    }
    return std::make_unique<SequenceOutput>(text, image);
}

}  // namespace tweenora::media
