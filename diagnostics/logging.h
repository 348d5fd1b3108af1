// SPDX-License-Identifier: Apache-2.0
// The node's console logging: one switch for the trace lines of every node.
#pragma once

namespace tweenora::diagnostics {

//! Sets the process-wide log level (every logger of the process) from a node's
//! debug knob: debug when on, off when off. With off nothing is logged at all,
//! warnings and errors included. The last node to call this decides for all.
void applyDebugLevel(bool debug);

}  // namespace tweenora::diagnostics
