// SPDX-License-Identifier: Apache-2.0
// The model library beside the plug-in: finding it, loading it once per process,
// and resolving its one export.
#pragma once

#include <cstdint>
#include <string>

namespace tweenora::model {

//! The model library's export: a pointer to the serialised TorchScript archive,
//! its length stored through size. The bytes stay valid for the whole process.
using ModelExportFn = const unsigned char* (*)(uint64_t* size);

#ifdef _WIN32
inline constexpr char kPluginFileName[] = "Tweenora.dll";
inline constexpr char kModelLibraryFileName[] = "TweenoraModels.dll";
#else
inline constexpr char kPluginFileName[] = "Tweenora.so";
inline constexpr char kModelLibraryFileName[] = "TweenoraModels.so";
#endif
inline constexpr char kModelExportName[] = "lq_get_model_A";
//! The node's error when the network cannot be loaded from the library's bytes.
inline constexpr char kModelLoadError[] =
    "Error loading the frame interpolation neural network model";

//! The model library's path beside the plug-in file pluginPath: the directory
//! part (before the last separator: '/' here, '\\' or '/' on Windows) followed
//! by the file name, with one separator between them. A null path, or one
//! without a separator, gives the bare file name. A plug-in in the root
//! directory gives the model library in the root directory.
std::string modelLibraryPath(const char* pluginPath);

//! Loads the model library from the plug-in's directory, once per process and
//! never unloaded. Returns true when it is loaded (now or by an earlier call,
//! whose path then wins). On failure writes what was tried and the system's
//! reason to standard error and returns false; a later call tries again.
//! Safe to call from several threads at once: one of them loads.
//!
//! Here the library is loaded from its full path only. A bare file name (no
//! plug-in directory known) is refused rather than handed to the loader, which
//! would look it up on the library search path.
bool loadModelLibrary(const char* pluginPath);

//! True once loadModelLibrary has succeeded in this process.
bool modelLibraryLoaded();

//! Looks up kModelExportName in the loaded library and stores the result, null
//! when it is missing, as the process's export pointer; returns it. A missing
//! export writes the lookup failure with the system's reason to standard error.
//! Call only when modelLibraryLoaded().
ModelExportFn resolveModelExport();

//! The export pointer the last resolveModelExport stored (null before).
ModelExportFn modelExport();

//! What a render without a network reports, in one line: the last failure of
//! loadModelLibrary or resolveModelExport ("TweenoraModels.so could not be
//! loaded: <the system's reason>"), or the node's model-load error when
//! neither failed (the archive itself did not load).
std::string modelUnavailableText();

#ifdef _WIN32
//! The system's message for a Windows error code, trailing line break kept;
//! "" for 0 and "Unknown error" when the system has no text.
std::string systemErrorText(unsigned long code);
#endif

}  // namespace tweenora::model
