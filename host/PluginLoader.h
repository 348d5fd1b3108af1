// SPDX-License-Identifier: Apache-2.0
// PluginLoader: finds plug-in files on the plug-in path and loads them.
#pragma once

#include <string>
#include <vector>

namespace tweenora::host {

//! The plug-in path is the caller's directories, then those of NUKE_PATH
//! (colon-separated), then the build's plug-in directory. Loading a plug-in runs
//! its static registration records, after which Script::createNode finds its classes.
class PluginLoader {
public:
    explicit PluginLoader(std::vector<std::string> pluginPath = {});

    //! Loads fileName (such as "Tweenora.so") from the first directory that has
    //! it; loading an already loaded file does nothing. Throws tweenora::Error
    //! naming the file and the loader's reason when it cannot be loaded.
    void load(const std::string& fileName);
    const std::vector<std::string>& searchPath() const { return searchPath_; }
    //! The address of symbol in fileName as already loaded from this path (the
    //! first directory that has the file); null when that file is not loaded or
    //! lacks the symbol. Loads nothing.
    void* findLoadedSymbol(const std::string& fileName, const char* symbol) const;

private:
    std::vector<std::string> searchPath_;
};

}  // namespace tweenora::host
