// SPDX-License-Identifier: Apache-2.0
// The sample tools' common entry: help, and errors reported as the tool's own.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace tweenora::examples {

//! Runs run(arguments) for the tool name: -h or --help prints usage; an
//! exception is reported as "name: error: ..." (with the usage when fewer than
//! argumentsNeeded arguments were given) and ends with exit status 2.
template <class Run>
int runTool(const char* name, const char* usage, std::size_t argumentsNeeded, int argc, char** argv,
            Run&& run) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
        std::cout << usage;
        return EXIT_SUCCESS;
    }
    try {
        return run(args);
    } catch (const std::exception& e) {
        std::cerr << name << ": error: " << e.what() << "\n";
        if (args.size() < argumentsNeeded)
            std::cerr << usage;
        return 2;
    }
}

}  // namespace tweenora::examples
