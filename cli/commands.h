// SPDX-License-Identifier: Apache-2.0
// The tweenora tool's subcommands; each takes the arguments after its name.
#pragma once

#include <string>
#include <vector>

#include "host/Error.h"

namespace tweenora::cli {

//! Exit statuses of the tool. Where an error is raised decides its status:
//! a tweenora::Error (bad usage, unreadable input) exits kExitUsage, a
//! RenderFailure and whatever else the node lets through kExitRenderFailed.
enum ExitStatus {
    kExitOk = 0,            //!< everything asked for was done
    kExitRenderFailed = 1,  //!< a frame failed to render (the node's error)
    kExitUsage = 2          //!< bad usage or unreadable input
};

//! A frame, or the node, failed to render.
class RenderFailure : public Error {
public:
    using Error::Error;
};

using Args = std::vector<std::string>;

int runKnobs(const Args& args);
int runInfo(const Args& args);
int runPlan(const Args& args);
int runRetime(const Args& args);

}  // namespace tweenora::cli
