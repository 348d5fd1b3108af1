// SPDX-License-Identifier: Apache-2.0
// What the tool prints besides its tables: error and note lines, JSON pieces, numbers.
#pragma once

#include <string>

namespace tweenora::cli {

//! "tweenora: error: TEXT\n".
std::string errorLine(const std::string& text);
//! "tweenora: note: TEXT\n".
std::string noteLine(const std::string& text);
//! Each line of lines (each ending in a newline) as a noteLine.
std::string noteLines(const std::string& lines);

//! The shortest text that reads back as the same double, or float, whatever
//! the C locale says; "nan", "inf" and "-inf" for the others.
std::string shortestText(double value);
std::string shortestText(float value);

//! text as a JSON string literal: quoted, with quotes, backslashes and control
//! characters escaped (bytes from 0x80 up pass through as UTF-8).
std::string jsonString(const std::string& text);

//! text when it is a JSON number as written ("-999999", "0.5", "1e-3"), else
//! jsonString(text).
std::string jsonNumberOrString(const std::string& text);

}  // namespace tweenora::cli
