// SPDX-License-Identifier: Apache-2.0
// Plug-in path and loading.
#pragma once

#include <vector>

namespace DD {
namespace Image {

//! Full path of name (tried as given, then with each extension) in the first
//! directory of the plug-in path that has it, or null. The text stays valid.
const char* plugin_find(const char* name, const char* const* extensions = nullptr);
//! Loads the plug-in file name (found on the plug-in path) once; returns its
//! path, or null with the reason in plugin_error().
const char* plugin_load(const char* name, const char* altname = nullptr);
const char* plugin_path(int n);
//! Puts a directory at the front of the plug-in path.
void plugin_addpath(const char* path);
//! Puts a directory at the end of the plug-in path.
void plugin_appendpath(const char* path);
const char* plugin_error();
void plugin_error(const char* message);
const char* const* plugin_default_extensions();
//! The whole plug-in path, front first.
const std::vector<const char*>& getPluginPath();

}  // namespace Image
}  // namespace DD
