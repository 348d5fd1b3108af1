// SPDX-License-Identifier: Apache-2.0
// Text_KnobI: the interface of knobs that show a text.
#pragma once

#include <string>

namespace DD {
namespace Image {

class Text_KnobI {
public:
    virtual const std::string& text() const = 0;
    virtual void text(std::string& text) = 0;
    virtual ~Text_KnobI() = default;
};

}  // namespace Image
}  // namespace DD
