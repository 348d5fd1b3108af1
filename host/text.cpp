// SPDX-License-Identifier: Apache-2.0
// Small text helpers the host, the media library and the tool share.
#include "host/text.h"

#include <cctype>

namespace tweenora::host {

std::string lowerCase(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace tweenora::host
