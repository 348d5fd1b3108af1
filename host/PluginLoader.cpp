// SPDX-License-Identifier: Apache-2.0
// PluginLoader: the plug-in path from the caller, NUKE_PATH and the build, and loading.
#include "host/PluginLoader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <sstream>

#include <DDImage/plugins.h>

#include "host/Error.h"
#include "model/library_file.h"

namespace tweenora::host {
namespace {

bool isFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

PluginLoader::PluginLoader(std::vector<std::string> pluginPath)
    : searchPath_(std::move(pluginPath)) {
    if (const char* nukePath = std::getenv("NUKE_PATH")) {
        std::istringstream entries(nukePath);
        std::string dir;
        while (std::getline(entries, dir, ':'))
            if (!dir.empty())
                searchPath_.push_back(dir);
    }
    searchPath_.push_back(TWEENORA_PLUGIN_DIR);
    // The plug-in looks itself up on the host's path (plugin_find), so the
    // host's path must hold every directory searched here.
    for (const std::string& dir : searchPath_)
        DD::Image::plugin_appendpath(dir.c_str());
}

void PluginLoader::load(const std::string& fileName) {
    // This loader's own order decides, whatever other loaders put on the path.
    std::string path;
    for (const std::string& dir : searchPath_) {
        const std::string candidate =
            dir.empty() || dir.back() == '/' ? dir + fileName : dir + "/" + fileName;
        if (isFile(candidate)) {
            path = candidate;
            break;
        }
    }
    if (path.empty() && fileName.find('/') != std::string::npos && isFile(fileName))
        path = fileName;
    if (path.empty()) {
        std::string dirs;
        for (const std::string& dir : searchPath_)
            dirs += (dirs.empty() ? "" : ":") + dir;
        throw Error("cannot load plug-in " + fileName + ": not found on the plug-in path (" + dirs +
                    ")");
    }
    // A file cut short would kill the process inside the system loader.
    if (const std::string damage = model::incompleteLibraryReason(path); !damage.empty())
        throw Error("cannot load plug-in " + fileName + ": " + damage);
    if (!DD::Image::plugin_load(path.c_str())) {
        const char* reason = DD::Image::plugin_error();
        throw Error("cannot load plug-in " + fileName + ": " + (reason ? reason : "unknown error"));
    }
}

void* PluginLoader::findLoadedSymbol(const std::string& fileName, const char* symbol) const {
    for (const std::string& dir : searchPath_) {
        const std::string path = dir + "/" + fileName;
        if (!isFile(path))
            continue;
        // RTLD_NOLOAD finds the module only when it is already loaded.
        void* module = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (!module)
            return nullptr;
        void* address = ::dlsym(module, symbol);
        ::dlclose(module);  // the loader's own handle keeps the module loaded
        return address;
    }
    return nullptr;
}

}  // namespace tweenora::host
