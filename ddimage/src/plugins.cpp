// SPDX-License-Identifier: Apache-2.0
// The plug-in path, finding plug-in files on it, and loading them once each.
#include "DDImage/plugins.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <list>
#include <mutex>
#include <set>
#include <string>

namespace DD {
namespace Image {
namespace {

struct PluginState {
    // A recursive lock: a plug-in's static records may call back in while it loads.
    std::recursive_mutex mutex;
    std::list<std::string> path;        // list nodes keep the texts in place
    std::vector<const char*> pathView;  // what getPluginPath() hands out
    std::set<std::string> foundPaths;   // texts returned by plugin_find stay valid
    std::set<std::string> loaded;
    std::string error;
};

PluginState& state() {
    static PluginState instance;
    return instance;
}

void refreshView(PluginState& s) {
    s.pathView.clear();
    for (const std::string& dir : s.path)
        s.pathView.push_back(dir.c_str());
}

bool isFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string joinPath(const std::string& dir, const std::string& name) {
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

}  // namespace

const char* plugin_find(const char* name, const char* const* extensions) {
    if (!name || !*name)
        return nullptr;
    PluginState& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    std::vector<std::string> names{name};
    for (const char* const* ext = extensions; ext && *ext; ++ext)
        names.push_back(std::string(name) + *ext);
    auto keep = [&](const std::string& path) { return s.foundPaths.insert(path).first->c_str(); };
    // A name with a directory in it is taken as a path of its own.
    if (std::string(name).find('/') != std::string::npos) {
        for (const std::string& candidate : names)
            if (isFile(candidate))
                return keep(candidate);
        return nullptr;
    }
    for (const std::string& dir : s.path)
        for (const std::string& candidate : names) {
            const std::string full = joinPath(dir, candidate);
            if (isFile(full))
                return keep(full);
        }
    return nullptr;
}

const char* plugin_load(const char* name, const char* altname) {
    PluginState& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    const char* path = plugin_find(name, plugin_default_extensions());
    if (!path && altname)
        path = plugin_find(altname, plugin_default_extensions());
    if (!path) {
        s.error = "not found on the plug-in path";
        return nullptr;
    }
    if (s.loaded.count(path))
        return path;
    // RTLD_GLOBAL: ops of one plug-in may use symbols of another loaded before it.
    if (!::dlopen(path, RTLD_NOW | RTLD_GLOBAL)) {
        const char* reason = ::dlerror();
        s.error = reason ? reason : "unknown error";
        return nullptr;
    }
    s.loaded.insert(path);
    s.error.clear();
    return path;
}

const char* plugin_path(int n) {
    PluginState& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    return n >= 0 && size_t(n) < s.pathView.size() ? s.pathView[size_t(n)] : nullptr;
}

void plugin_addpath(const char* path) {
    if (!path || !*path)
        return;
    PluginState& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    s.path.remove(path);
    s.path.push_front(path);
    refreshView(s);
}

void plugin_appendpath(const char* path) {
    if (!path || !*path)
        return;
    PluginState& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    if (std::find(s.path.begin(), s.path.end(), path) != s.path.end())
        return;
    s.path.push_back(path);
    refreshView(s);
}

const char* plugin_error() {
    PluginState& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    return s.error.empty() ? nullptr : s.error.c_str();
}

void plugin_error(const char* message) {
    PluginState& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    s.error = message ? message : "";
}

const char* const* plugin_default_extensions() {
    static const char* const kExtensions[] = {".so", nullptr};
    return kExtensions;
}

const std::vector<const char*>& getPluginPath() {
    return state().pathView;
}

}  // namespace Image
}  // namespace DD
