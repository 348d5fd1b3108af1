// SPDX-License-Identifier: Apache-2.0
// What the timing tests share: a source clip wired into a Tweenora node, and captured log lines.
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <DDImage/Box.h>
#include <DDImage/Channel.h>
#include <DDImage/Format.h>

#include "host/Clip.h"
#include "host/Script.h"
#include "node/Tweenora.h"

namespace tweenora::testing {

//! A small rgba frame over box.
inline host::ClipFrame smallFrame(const DD::Image::Box& box = DD::Image::Box(0, 0, 2, 2)) {
    host::ClipFrame frame;
    frame.box = box;
    frame.format = DD::Image::Format(box.r(), box.t());
    const size_t pixels = static_cast<size_t>(box.area());
    for (DD::Image::Channel channel :
         {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue, DD::Image::Chan_Alpha})
        frame.planes[channel] = std::vector<float>(pixels, 0.25f);
    return frame;
}

//! A clip of small frames first..last.
inline std::shared_ptr<host::Clip> smallClip(int first, int last) {
    auto frames = std::make_shared<host::MemoryFrames>();
    for (int frame = first; frame <= last; ++frame)
        frames->setFrame(frame, smallFrame());
    return std::make_shared<host::Clip>(frames);
}

//! Read -> Tweenora in a script of its own.
struct RetimeGraph {
    host::Script script;
    std::shared_ptr<host::Clip> clip;
    host::HostNode* source = nullptr;
    host::HostNode* node = nullptr;

    //! A source of frames first..last connected to a new Tweenora node.
    RetimeGraph(int first, int last) : RetimeGraph(smallClip(first, last)) {}
    explicit RetimeGraph(std::shared_ptr<host::Clip> sourceClip) : clip(std::move(sourceClip)) {
        source = &script.createSource(clip);
        node = &script.createNode("Tweenora");
        script.connect(*node, 0, *source);
    }

    //! The node's op validated at frame.
    Tweenora& at(double frame) {
        script.validate(*node, frame);
        return *node->opAs<Tweenora>();
    }
    //! Sets the input range and speed mode.
    void speedMode(int start, int end, const std::string& speed) {
        node->setKnob("frame_range_start", std::to_string(start));
        node->setKnob("frame_range_end", std::to_string(end));
        node->setKnob("mode", "0");
        node->setKnob("speed", speed);
    }
    //! The frame the host evaluated copy of the node's input 0 at.
    double inputFrame(int copy) { return node->op()->input(copy)->outputContext().frame(); }
};

//! Routes the default logger into a string of "<level>: <message>" lines while alive.
class LogCapture {
public:
    LogCapture() : previous_(spdlog::default_logger()) {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(buffer_);
        sink->set_pattern("%l: %v");
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("", sink));
        spdlog::set_level(spdlog::level::debug);
    }
    ~LogCapture() {
        spdlog::set_default_logger(previous_);
        spdlog::set_level(spdlog::level::off);
    }
    std::string text() const { return buffer_.str(); }

private:
    std::ostringstream buffer_;
    std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace tweenora::testing
