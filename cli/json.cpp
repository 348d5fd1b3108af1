// SPDX-License-Identifier: Apache-2.0
// The small pieces of JSON the tool prints, written by hand.
#include "cli/json.h"

#include <cctype>
#include <cstdio>

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

}  // namespace

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
