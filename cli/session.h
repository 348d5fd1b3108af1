// SPDX-License-Identifier: Apache-2.0
// Session: the headless host with the plug-in loaded, as every subcommand needs it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/PluginLoader.h"
#include "host/Script.h"

namespace DD::Image {
class Iop;
}  // namespace DD::Image

namespace tweenora::cli {

//! Loads Tweenora.so from the plug-in path (the given directories first, then
//! NUKE_PATH, then the build's plug-in directory) into a fresh script.
//! Throws tweenora::Error when the plug-in cannot be loaded.
class Session {
public:
    explicit Session(const std::vector<std::string>& pluginPath = {});

    host::Script& script() { return script_; }
    //! A new Tweenora node (the panel built, nothing connected).
    host::HostNode& createTweenora(const std::string& name = "Tweenora1");
    //! node's operator as an image operator. Throws RenderFailure when it is none.
    static const DD::Image::Iop& imageOf(host::HostNode& node);

private:
    host::PluginLoader loader_;
    host::Script script_;
};

}  // namespace tweenora::cli
