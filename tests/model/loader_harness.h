// SPDX-License-Identifier: Apache-2.0
// What the loader tests share: the real Tweenora.so loaded from one test
// plug-in directory, nodes opened through the headless host, captured output.
#pragma once

#include <string>

#include <torch/script.h>

#include "host/Script.h"
#include "node/Tweenora.h"

namespace tweenora::testing {

//! The node's error when its network cannot be loaded or prepared.
constexpr char kLoadError[] = "Error loading the frame interpolation neural network model";

//! What a call wrote to standard output and standard error (the file
//! descriptors, so fprintf and std::cout both count).
struct Output {
    std::string out;
    std::string err;
};
void beginCapture();
Output endCapture();

template <class Call>
Output captureOutput(Call&& call) {
    beginCapture();
    call();
    return endCapture();
}

//! Loads Tweenora.so from pluginDir (the first time in the process) and builds
//! a script with a small two-frame source for the nodes of one test.
class LoaderHarness {
public:
    explicit LoaderHarness(const std::string& pluginDir);

    //! A Tweenora node fed by the source.
    host::HostNode& createNode(const std::string& name);
    //! Opens the node's op as the host does before its first render.
    void open(host::HostNode& node);
    //! Closes it, so that the next open() runs _open again.
    void close(host::HostNode& node);
    void reopen(host::HostNode& node);
    //! Renders the node's rgba at frame, as the tool does.
    void render(host::HostNode& node, double frame);
    //! Opens the node on the first attempt and reopens it on later ones,
    //! capturing what that writes.
    Output openAttempt(host::HostNode& node, int attempt);

private:
    host::Script script_;
    host::HostNode* source_ = nullptr;
};

//! The node's op. Only its fields may be used: its methods live in the plug-in,
//! which the test executable does not link.
Tweenora& tweenoraOf(host::HostNode& node);

//! True when the library file at path is loaded in this process.
bool isLibraryLoaded(const std::string& path);

//! The result of the module's forward for the node's seven arguments
//! (steps 1, flow magnitude 1, threshold 0.001, downscale 1.0).
at::Tensor runForward(torch::jit::Module& module, const at::Tensor& img0, const at::Tensor& img1,
                      double timestep);

}  // namespace tweenora::testing
