// SPDX-License-Identifier: Apache-2.0
// The small pieces of JSON the tool prints, written by hand.
#pragma once

#include <string>

namespace tweenora::cli {

//! text as a JSON string literal: quoted, with quotes, backslashes and control
//! characters escaped (bytes from 0x80 up pass through as UTF-8).
std::string jsonString(const std::string& text);

//! text when it is a JSON number as written ("-999999", "0.5", "1e-3"), else
//! jsonString(text).
std::string jsonNumberOrString(const std::string& text);

}  // namespace tweenora::cli
