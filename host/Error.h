// SPDX-License-Identifier: Apache-2.0
// tweenora::Error: the one exception our own code (outside the node) throws.
#pragma once

#include <stdexcept>
#include <string>

namespace tweenora {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace tweenora
