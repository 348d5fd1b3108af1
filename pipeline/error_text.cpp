// SPDX-License-Identifier: Apache-2.0
// The short message a render failure puts on the node.
#include "pipeline/error_text.h"

namespace tweenora::pipeline {

namespace {

constexpr const char* kOutOfMemoryMessage =
    "Out of GPU memory - lower the Tiling 'max size', reduce the input resolution, or untick "
    "'Use GPU if available' to render on CPU.";
constexpr const char* kGenericMessage = "Processing error (see the terminal for details).";

bool isLineBreak(char c) {
    return c == '\n' || c == '\r';
}

// libtorch's texts end with context lines; the last one says what went wrong.
// The search starts at the second-to-last character, so a trailing line break
// stays in the result.
std::string lastLine(const std::string& text) {
    if (text.size() < 2) {
        return text;
    }
    for (size_t k = text.size() - 2; k >= 1; --k) {
        if (isLineBreak(text[k])) {
            return text.substr(k + 1);
        }
    }
    return isLineBreak(text[0]) ? text.substr(1) : text;
}

}  // namespace

std::string errorMessageFor(const std::string& text) {
    for (const char* needle :
         {"CUDA out of memory", "out of memory", "Unable to find a valid cuDNN algorithm"}) {
        if (text.find(needle) != std::string::npos) {
            return kOutOfMemoryMessage;
        }
    }
    std::string line = lastLine(text);
    return line.empty() ? kGenericMessage : line;
}

}  // namespace tweenora::pipeline
