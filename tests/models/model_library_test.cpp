// SPDX-License-Identifier: Apache-2.0
// The product's model library: its export hands out a loadable archive in place.
#include <dlfcn.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <torch/script.h>

namespace {

using GetModel = const unsigned char* (*)(uint64_t*);

struct Library {
    const char* name;
    const char* path;
    bool embedsBuiltin;
};

void PrintTo(const Library& library, std::ostream* os) {
    *os << library.name;
}

// The product's library, and the built-in network embedded through a
// generated source file instead of the assembler.
const Library kLibraries[] = {
    {"Assembler", TWEENORA_MODEL_LIBRARY, TWEENORA_EMBEDS_BUILTIN != 0},
    {"Source", TWEENORA_MODEL_LIBRARY_IN_SOURCE, true},
};

class ModelLibrary : public ::testing::TestWithParam<Library> {
protected:
    GetModel exportOfTheLibrary() const {
        // Loaded and never closed, as the node does; dlopen counts repeats.
        void* handle = dlopen(GetParam().path, RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return nullptr;
        return reinterpret_cast<GetModel>(dlsym(handle, "lq_get_model_A"));
    }
};

TEST_P(ModelLibrary, ExportsTheArchiveInPlace) {
    GetModel get = exportOfTheLibrary();
    ASSERT_NE(get, nullptr) << dlerror();
    uint64_t size = 0;
    const unsigned char* data = get(&size);
    ASSERT_NE(data, nullptr);
    EXPECT_GT(size, 0u);
    // Every call hands out the same bytes: nothing is copied or set up.
    uint64_t again = 0;
    EXPECT_EQ(get(&again), data);
    EXPECT_EQ(again, size);
    // A TorchScript archive is a zip file.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 2), "PK");
}

TEST_P(ModelLibrary, EmbedsTheGeneratedNetworkByDefault) {
    if (!GetParam().embedsBuiltin)
        GTEST_SKIP() << "built with TWEENORA_MODEL_ARCHIVE";
    GetModel get = exportOfTheLibrary();
    ASSERT_NE(get, nullptr);
    uint64_t size = 0;
    const unsigned char* data = get(&size);
    std::ifstream file(TWEENORA_NETWORK_ARCHIVE, std::ios::binary);
    const std::vector<char> expected((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    ASSERT_EQ(size, expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reinterpret_cast<const char*>(data)));
}

TEST_P(ModelLibrary, ArchiveLoadsAndInterpolates) {
    GetModel get = exportOfTheLibrary();
    ASSERT_NE(get, nullptr);
    uint64_t size = 0;
    const unsigned char* data = get(&size);
    std::istringstream bytes(std::string(reinterpret_cast<const char*>(data), size));
    torch::jit::Module module = torch::jit::load(bytes);
    const at::Tensor frame = torch::rand({1, 3, 32, 32});
    c10::InferenceMode guard;
    const at::Tensor out =
        module.forward({frame, frame, 0.5, int64_t(1), int64_t(1), 0.001, 1.0}).toTensor();
    EXPECT_EQ(out.sizes(), frame.sizes());
}

INSTANTIATE_TEST_SUITE_P(Embedded, ModelLibrary, ::testing::ValuesIn(kLibraries),
                         [](const ::testing::TestParamInfo<Library>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
