// SPDX-License-Identifier: Apache-2.0
// MemAdapter: clipped reads from borrowed bytes, and libtorch loading through it.
#include "model/mem_adapter.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <torch/script.h>

#include <gtest/gtest.h>

#include "tests/testnets/testnets.h"

namespace tweenora::model {
namespace {

std::vector<char> fileBytes(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(MemAdapter, ReadsAreClippedToTheBlock) {
    const std::string block = "abcdefgh";
    const MemAdapter adapter(block.data(), block.size());
    EXPECT_EQ(adapter.size(), 8u);

    struct Row {
        uint64_t pos;
        size_t n;
        std::string expected;
    };
    const Row rows[] = {
        {0, 3, "abc"},
        {5, 3, "fgh"},                                  // ends exactly at the end
        {6, 5, "gh"},                                   // runs over the end
        {0, 100, "abcdefgh"},                           // longer than the block
        {3, 0, ""},                                     // nothing asked for
        {8, 1, ""},                                     // at the end
        {100, 4, ""},                                   // beyond it
        {std::numeric_limits<uint64_t>::max(), 4, ""},  // pos + n would wrap
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("pos " + std::to_string(row.pos) + ", n " + std::to_string(row.n));
        std::string buffer(16, '#');
        const size_t count = adapter.read(row.pos, buffer.data(), row.n, "test");
        EXPECT_EQ(count, row.expected.size());
        EXPECT_EQ(buffer.substr(0, count), row.expected);
        EXPECT_EQ(buffer.substr(count), std::string(16 - count, '#')) << "wrote past the count";
    }
}

TEST(MemAdapter, ReadsTheBlockInPlace) {
    std::string block = "abcd";
    const MemAdapter adapter(block.data(), block.size());
    block[1] = 'X';  // the owner changes its bytes: the adapter must see them
    char buffer[4] = {};
    ASSERT_EQ(adapter.read(0, buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "aXcd");
}

TEST(MemAdapter, LibtorchLoadsAnArchiveFromIt) {
    const std::vector<char> archive = fileBytes(testnets::kIdentity0);
    ASSERT_FALSE(archive.empty());
    torch::jit::Module module = torch::jit::load(
        std::make_shared<MemAdapter>(archive.data(), archive.size()), c10::Device(c10::kCPU));

    const at::Tensor img0 = at::rand({1, 3, 32, 32});
    const at::Tensor img1 = at::rand({1, 3, 32, 32});
    std::vector<c10::IValue> args{img0, img1, 0.5, int64_t(1), int64_t(1), 0.001, 1.0};
    EXPECT_TRUE(module.forward(args).toTensor().equal(img0));
}

TEST(MemAdapter, ZeroLengthBlockFailsToLoad) {
    const char byte = 0;  // a valid pointer with no bytes behind it, as an empty export gives
    EXPECT_THROW(torch::jit::load(std::make_shared<MemAdapter>(&byte, 0), c10::Device(c10::kCPU)),
                 std::exception);
}

}  // namespace
}  // namespace tweenora::model
