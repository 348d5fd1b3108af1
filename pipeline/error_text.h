// SPDX-License-Identifier: Apache-2.0
// The short message a render failure puts on the node.
#pragma once

#include <string>

namespace tweenora::pipeline {

//! The message shown on the node for an exception text: the out-of-GPU-memory
//! advice when the text says the device ran out of memory, otherwise the
//! text's last line (a line break that ends the text is kept), or a pointer to
//! the terminal when that line is empty.
std::string errorMessageFor(const std::string& text);

}  // namespace tweenora::pipeline
