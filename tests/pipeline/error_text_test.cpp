// SPDX-License-Identifier: Apache-2.0
// The node's message for an exception text.
#include "pipeline/error_text.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tweenora::pipeline {
namespace {

TEST(ErrorMessageFor, ShowsOutOfMemoryAdviceOrTheLastLine) {
    const std::string outOfMemory =
        "Out of GPU memory - lower the Tiling 'max size', reduce the input resolution, or untick "
        "'Use GPU if available' to render on CPU.";
    const std::string generic = "Processing error (see the terminal for details).";
    struct Row {
        std::string text;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"CUDA out of memory. Tried to allocate 2.00 GiB (GPU 0; 7.79 GiB total capacity)",
         outOfMemory},
        {"DefaultCPUAllocator: not enough memory: you tried to allocate 8 bytes\nran out of memory",
         outOfMemory},
        {"Unable to find a valid cuDNN algorithm to run convolution", outOfMemory},
        {"The following operation failed in the TorchScript interpreter.\nshape mismatch",
         "shape mismatch"},
        {"first\r\nsecond", "second"},
        {"only line\n", "only line\n"},
        {"one\ntwo\nthree\n", "three\n"},
        {"Too many nan values returned, frame corrupt",
         "Too many nan values returned, frame corrupt"},
        {"\nafter a leading break", "after a leading break"},
        {"x", "x"},
        {"\n", "\n"},
        {"text\n\n", "\n"},
        {"", generic},
        {"trailing break\n\nlast", "last"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(errorMessageFor(row.text), row.expected);
    }
}

}  // namespace
}  // namespace tweenora::pipeline
