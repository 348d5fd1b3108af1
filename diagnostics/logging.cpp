// SPDX-License-Identifier: Apache-2.0
// The node's console logging: one switch for the trace lines of every node.
#include "diagnostics/logging.h"

#include <spdlog/spdlog.h>

namespace tweenora::diagnostics {

void applyDebugLevel(bool debug) {
    spdlog::set_level(debug ? spdlog::level::debug : spdlog::level::off);
}

}  // namespace tweenora::diagnostics
