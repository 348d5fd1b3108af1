// SPDX-License-Identifier: Apache-2.0
// What the tool prints besides its tables: error and note lines, JSON pieces, numbers.
#include "cli/messages.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace tweenora::cli {

namespace {

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// JSON's number grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
bool isJsonNumber(const std::string& s) {
    size_t i = 0;
    const size_t n = s.size();
    if (i < n && s[i] == '-')
        ++i;
    if (i >= n || !isDigit(s[i]))
        return false;
    if (s[i] == '0')
        ++i;
    else
        while (i < n && isDigit(s[i]))
            ++i;
    if (i < n && s[i] == '.') {
        ++i;
        if (i >= n || !isDigit(s[i]))
            return false;
        while (i < n && isDigit(s[i]))
            ++i;
    }
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-'))
            ++i;
        if (i >= n || !isDigit(s[i]))
            return false;
        while (i < n && isDigit(s[i]))
            ++i;
    }
    return i == n;
}

template <typename T>
std::string shortest(T value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

}  // namespace

std::string errorLine(const std::string& text) {
    return "tweenora: error: " + text + "\n";
}

std::string noteLine(const std::string& text) {
    return "tweenora: note: " + text + "\n";
}

std::string noteLines(const std::string& lines) {
    std::istringstream in(lines);
    std::string out;
    for (std::string line; std::getline(in, line);)
        out += noteLine(line);
    return out;
}

std::string shortestText(double value) {
    return shortest(value);
}

std::string shortestText(float value) {
    return shortest(value);
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x",
                                  static_cast<unsigned>(static_cast<unsigned char>(c)));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string jsonNumberOrString(const std::string& text) {
    return isJsonNumber(text) ? text : jsonString(text);
}

}  // namespace tweenora::cli
