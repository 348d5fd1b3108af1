// SPDX-License-Identifier: Apache-2.0
// Session: loads the plug-in and makes the script the subcommands work in.
#include "cli/session.h"

#include <DDImage/Iop.h>

#include "cli/commands.h"

namespace tweenora::cli {

Session::Session(const std::vector<std::string>& pluginPath) : loader_(pluginPath) {
    loader_.load("Tweenora.so");
}

host::HostNode& Session::createTweenora(const std::string& name) {
    return script_.createNode("Tweenora", name);
}

const DD::Image::Iop& Session::imageOf(host::HostNode& node) {
    const auto* iop = node.opAs<DD::Image::Iop>();
    if (!iop)
        throw RenderFailure(node.name() + ": not an image node");
    return *iop;
}

}  // namespace tweenora::cli
