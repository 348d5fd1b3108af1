// SPDX-License-Identifier: Apache-2.0
// tweenora: retimes image sequences and videos through the Tweenora plug-in, headless.
#include <exception>
#include <iostream>
#include <string>

#include "cli/commands.h"
#include "cli/messages.h"
#include "host/Error.h"
#include "host/render_process.h"

namespace {

const char* const kUsage =
    "usage: tweenora <command> [options]\n"
    "\n"
    "commands:\n"
    "  retime INPUT OUTPUT [options]  retime an image sequence or a video\n"
    "  plan INPUT [options]           show the output range and each frame's mapping\n"
    "                                 (or plan --range A-B without an input)\n"
    "  knobs [--json]                 list the node's panel\n"
    "  info                           GPU and build information\n"
    "\n"
    "Run 'tweenora <command> --help' for a command's options.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace tweenora::cli;
    tweenora::host::keepFreedMemory();
    if (argc < 2) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    const std::string command = argv[1];
    const Args args(argv + 2, argv + argc);
    try {
        if (command == "retime")
            return runRetime(args);
        if (command == "plan")
            return runPlan(args);
        if (command == "knobs")
            return runKnobs(args);
        if (command == "info")
            return runInfo(args);
        if (command == "-h" || command == "--help" || command == "help") {
            std::cout << kUsage;
            return kExitOk;
        }
        std::cerr << errorLine("unknown command '" + command + "'") << kUsage;
        return kExitUsage;
    } catch (const RenderFailure& e) {
        std::cerr << errorLine(e.what());
        return kExitRenderFailed;
    } catch (const tweenora::Error& e) {
        std::cerr << errorLine(e.what());
        return kExitUsage;
    } catch (const std::exception& e) {
        // What the node or libtorch lets through fails the render.
        std::cerr << errorLine(e.what());
        return kExitRenderFailed;
    }
}
