// SPDX-License-Identifier: Apache-2.0
// Small text helpers the host, the media library and the tool share.
#pragma once

#include <string>

namespace tweenora::host {

//! text with ASCII letters in lower case; other bytes (UTF-8 included) as they are.
std::string lowerCase(std::string text);

}  // namespace tweenora::host
