// SPDX-License-Identifier: Apache-2.0
// What the loader tests share: the real plug-in from a test plug-in directory.
#include "tests/model/loader_harness.h"

#include <dlfcn.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <DDImage/Channel.h>
#include <DDImage/ChannelSet.h>

#include "host/Clip.h"
#include "host/PluginLoader.h"

namespace tweenora::testing {
namespace {

std::shared_ptr<host::Clip> twoFrameClip() {
    auto frames = std::make_shared<host::MemoryFrames>();
    for (int frame = 1; frame <= 2; ++frame) {
        host::ClipFrame data;
        data.box = DD::Image::Box(0, 0, 8, 8);
        data.format = DD::Image::Format(8, 8);
        for (DD::Image::Channel channel : {DD::Image::Chan_Red, DD::Image::Chan_Green,
                                           DD::Image::Chan_Blue, DD::Image::Chan_Alpha})
            data.planes[channel] = std::vector<float>(64, 0.25f * frame);
        frames->setFrame(frame, std::move(data));
    }
    return std::make_shared<host::Clip>(frames);
}

}  // namespace

LoaderHarness::LoaderHarness(const std::string& pluginDir) {
    host::PluginLoader loader({pluginDir});
    loader.load("Tweenora.so");
    source_ = &script_.createSource(twoFrameClip());
}

host::HostNode& LoaderHarness::createNode(const std::string& name) {
    host::HostNode& node = script_.createNode("Tweenora", name);
    script_.connect(node, 0, *source_);
    return node;
}

void LoaderHarness::open(host::HostNode& node) {
    script_.validate(node, 2.0);
    node.op()->open();
}

void LoaderHarness::close(host::HostNode& node) {
    script_.close(node);
}

void LoaderHarness::render(host::HostNode& node, double frame) {
    script_.render(node, frame, DD::Image::Mask_RGBA);
}

void LoaderHarness::reopen(host::HostNode& node) {
    close(node);
    open(node);
}

Output LoaderHarness::openAttempt(host::HostNode& node, int attempt) {
    return captureOutput([&] {
        if (attempt == 1)
            open(node);
        else
            reopen(node);
    });
}

Tweenora& tweenoraOf(host::HostNode& node) {
    return *static_cast<Tweenora*>(node.op());
}

bool isLibraryLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return false;
    dlclose(handle);  // RTLD_NOLOAD still counted a reference
    return true;
}

at::Tensor runForward(torch::jit::Module& module, const at::Tensor& img0, const at::Tensor& img1,
                      double timestep) {
    std::vector<c10::IValue> args{img0, img1, timestep, int64_t(1), int64_t(1), 0.001, 1.0};
    return module.forward(args).toTensor();
}

void beginCapture() {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
}

Output endCapture() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    Output output;
    output.out = ::testing::internal::GetCapturedStdout();
    output.err = ::testing::internal::GetCapturedStderr();
    return output;
}

}  // namespace tweenora::testing
