// SPDX-License-Identifier: Apache-2.0
// loader_check PLUGIN_PATH ARCHIVE: loads TweenoraModels.dll beside the plug-in
// path PLUGIN_PATH as the node does and checks that its export hands out the
// bytes of ARCHIVE. Before that, the failures: a directory without the
// library, and a plug-in path without a directory. Exit status 0 when all
// holds; each failed check says what it found.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "model/model_library.h"

namespace {

int failures = 0;

void check(bool holds, const std::string& what) {
    std::printf("%s: %s\n", holds ? "ok  " : "FAIL", what.c_str());
    if (!holds)
        ++failures;
}

std::vector<char> readFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tweenora::model;
    if (argc != 3) {
        std::fprintf(stderr, "usage: loader_check PLUGIN_PATH ARCHIVE\n");
        return 2;
    }
    const std::string plugin = argv[1];

    check(modelLibraryPath("C:\\host\\plugins\\Tweenora.dll") ==
              "C:\\host\\plugins\\TweenoraModels.dll",
          "the library sits beside the plug-in");
    check(modelLibraryPath("C:/host/plugins/Tweenora.dll") == "C:/host/plugins\\TweenoraModels.dll",
          "a forward slash separates too");

    // Failed loads leave nothing behind: the next call tries again.
    const std::string elsewhere = plugin.substr(0, plugin.find_last_of("\\/")) + "-missing\\x.dll";
    check(!loadModelLibrary(elsewhere.c_str()), "a directory without the library fails");
    check(!loadModelLibrary("Tweenora.dll"), "a plug-in path without a directory fails");
    check(!modelLibraryLoaded(), "nothing is loaded after the failures");

    check(loadModelLibrary(plugin.c_str()), "the library loads beside " + plugin);
    const ModelExportFn get = resolveModelExport();
    check(get != nullptr, "lq_get_model_A is exported");
    if (get) {
        uint64_t size = 0;
        const unsigned char* data = get(&size);
        const std::vector<char> expected = readFile(argv[2]);
        check(size == expected.size() &&
                  std::equal(expected.begin(), expected.end(), reinterpret_cast<const char*>(data)),
              "its bytes are the archive's (" + std::to_string(size) + " bytes)");
        uint64_t again = 0;
        check(get(&again) == data && again == size, "every call hands out the same bytes");
    }
    check(systemErrorText(0).empty() && !systemErrorText(2).empty(), "system error texts");
    return failures == 0 ? 0 : 1;
}
