// SPDX-License-Identifier: Apache-2.0
// The model library beside the plug-in: loaded once per process from the
// plug-in's directory only, its export resolved on every open.
#include "model/model_library.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#if defined(__GLIBC__)
#include <link.h>
#endif

#include "model/library_file.h"
#endif

namespace tweenora::model {
namespace {

// Process-wide, never released. The handle is set once under loadMutex; the
// export pointer is rewritten by every open that reaches the lookup.
std::atomic<void*> libraryHandle{nullptr};
std::atomic<ModelExportFn> exportPointer{nullptr};
std::mutex loadMutex;
// The last load or lookup failure, for the render that finds no network.
std::mutex failureMutex;
std::string lastFailure;

void recordFailure(const std::string& what) {
    const std::lock_guard<std::mutex> lock(failureMutex);
    lastFailure = what;
}

#ifdef _WIN32
constexpr char kSeparators[] = "\\/";
constexpr char kJoinSeparator = '\\';
#else
constexpr char kSeparators[] = "/";
constexpr char kJoinSeparator = '/';
#endif

template <class Char>
std::basic_string<Char> directoryOf(const std::basic_string<Char>& pluginPath) {
    const std::basic_string<Char> separators(kSeparators, kSeparators + sizeof(kSeparators) - 1);
    const size_t last = pluginPath.find_last_of(separators);
    if (last == std::basic_string<Char>::npos)
        return {};
    // A plug-in in the root directory keeps the root as its directory; cutting
    // before the separator would leave nothing and lose the directory.
    return pluginPath.substr(0, last == 0 ? 1 : last);
}

template <class Char>
std::basic_string<Char> joinLibraryPath(const std::basic_string<Char>& directory) {
    const std::basic_string<Char> separators(kSeparators, kSeparators + sizeof(kSeparators) - 1);
    const std::basic_string<Char> fileName(
        kModelLibraryFileName, kModelLibraryFileName + sizeof(kModelLibraryFileName) - 1);
    if (directory.empty())
        return fileName;
    if (separators.find(directory.back()) != std::basic_string<Char>::npos)
        return directory + fileName;
    return directory + Char(kJoinSeparator) + fileName;
}

#ifdef _WIN32

// The plug-in path as UTF-16: UTF-8 when that converts, else the ANSI code page.
std::wstring widenPath(const char* path) {
    if (!path)
        return {};
    for (const UINT codePage : {UINT(CP_UTF8), UINT(CP_ACP)}) {
        const int length = MultiByteToWideChar(codePage, 0, path, -1, nullptr, 0);
        if (length > 0) {
            std::wstring wide(size_t(length), L'\0');
            MultiByteToWideChar(codePage, 0, path, -1, wide.data(), length);
            wide.resize(size_t(length) - 1);  // the count includes the terminator
            return wide;
        }
    }
    return {};
}

bool loadLocked(const char* pluginPath) {
    const std::wstring directory = directoryOf(widenPath(pluginPath));
    const std::wstring libraryPath = joinLibraryPath(directory);

    // Process-wide and lasting: the current directory and PATH drop out of the
    // search for every later load in the host.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    DLL_DIRECTORY_COOKIE cookie = nullptr;
    if (!directory.empty())
        cookie = AddDllDirectory(directory.c_str());
    const HMODULE handle =
        LoadLibraryExW(libraryPath.c_str(), nullptr,
                       LOAD_LIBRARY_SEARCH_DEFAULT_DIRS | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR);
    // Taken before RemoveDllDirectory can overwrite it.
    const DWORD loadError = handle ? 0 : GetLastError();
    if (cookie)
        RemoveDllDirectory(cookie);

    if (handle) {
        char moduleName[260];
        if (GetModuleFileNameA(handle, moduleName, 260) == 0)
            std::fprintf(stderr, "[Tweenora] GetModuleFileNameA failed (err=%lu)\n",
                         static_cast<unsigned long>(GetLastError()));
        libraryHandle.store(handle, std::memory_order_release);
        return true;
    }
    std::fprintf(stderr,
                 "[Tweenora] Failed to load %s\n  plugin_path: %s\n  models_path: %ls\n"
                 "  GetLastError: %lu (%s)\n",
                 kModelLibraryFileName, pluginPath ? pluginPath : "(null)", libraryPath.c_str(),
                 static_cast<unsigned long>(loadError), systemErrorText(loadError).c_str());
    std::string reason = systemErrorText(loadError);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r'))
        reason.pop_back();
    recordFailure(std::string(kModelLibraryFileName) + " could not be loaded: " + reason);
    return false;
}

ModelExportFn lookUpExport(void* handle) {
    const FARPROC symbol = GetProcAddress(static_cast<HMODULE>(handle), kModelExportName);
    if (!symbol) {
        const DWORD code = GetLastError();
        std::fprintf(stderr, "[Tweenora] GetProcAddress failed for %s (err=%lu)\n",
                     kModelExportName, static_cast<unsigned long>(code));
        recordFailure(std::string(kModelLibraryFileName) + " has no " + kModelExportName +
                      " (err=" + std::to_string(code) + ")");
        return nullptr;
    }
    return reinterpret_cast<ModelExportFn>(reinterpret_cast<void*>(symbol));
}

#else

bool loadLocked(const char* pluginPath) {
    const std::string libraryPath = modelLibraryPath(pluginPath);

    // dlopen looks a name without a '/' up on LD_LIBRARY_PATH, the loader cache
    // and the system directories: a library from anywhere but the plug-in's own
    // directory. Without a directory there is nothing safe to load.
    void* handle = nullptr;
    std::string reason;
    if (libraryPath.find('/') == std::string::npos) {
        reason = "no plug-in directory to load it from";
    } else if (const std::string damage = incompleteLibraryReason(libraryPath); !damage.empty()) {
        reason = damage;  // the loader would die on it rather than fail
    } else {
        handle = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* text = dlerror();
            reason = text ? text : "Unknown error";
        }
    }

    if (handle) {
#if defined(__GLIBC__)
        // Sanity check of the handle; the library stays in use either way.
        struct link_map* map = nullptr;
        if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0) {
            const char* text = dlerror();
            std::fprintf(stderr, "[Tweenora] dlinfo failed (%s)\n", text ? text : "Unknown error");
        }
#endif
        libraryHandle.store(handle, std::memory_order_release);
        return true;
    }
    std::fprintf(stderr,
                 "[Tweenora] Failed to load %s\n  plugin_path: %s\n  models_path: %s\n"
                 "  dlerror: %s\n",
                 kModelLibraryFileName, pluginPath ? pluginPath : "(null)", libraryPath.c_str(),
                 reason.c_str());
    recordFailure(std::string(kModelLibraryFileName) + " could not be loaded: " + reason);
    return false;
}

ModelExportFn lookUpExport(void* handle) {
    dlerror();  // clear an earlier error, so the one read below is this lookup's
    void* symbol = dlsym(handle, kModelExportName);
    if (!symbol) {
        const char* text = dlerror();
        const std::string reason = text ? text : "the symbol's address is null";
        std::fprintf(stderr, "[Tweenora] dlsym failed for %s (%s)\n", kModelExportName,
                     reason.c_str());
        recordFailure(std::string(kModelLibraryFileName) + " has no " + kModelExportName + ": " +
                      reason);
        return nullptr;
    }
    return reinterpret_cast<ModelExportFn>(symbol);
}

#endif

}  // namespace

std::string modelLibraryPath(const char* pluginPath) {
    return joinLibraryPath(directoryOf(std::string(pluginPath ? pluginPath : "")));
}

bool loadModelLibrary(const char* pluginPath) {
    if (libraryHandle.load(std::memory_order_acquire))
        return true;
    // Two nodes opening at once: one loads, the other waits and then finds it.
    const std::lock_guard<std::mutex> lock(loadMutex);
    if (libraryHandle.load(std::memory_order_acquire))
        return true;
    return loadLocked(pluginPath);
}

bool modelLibraryLoaded() {
    return libraryHandle.load(std::memory_order_acquire) != nullptr;
}

ModelExportFn resolveModelExport() {
    void* handle = libraryHandle.load(std::memory_order_acquire);
    const ModelExportFn found = handle ? lookUpExport(handle) : nullptr;
    if (found)
        recordFailure({});
    exportPointer.store(found, std::memory_order_release);
    return found;
}

ModelExportFn modelExport() {
    return exportPointer.load(std::memory_order_acquire);
}

std::string modelUnavailableText() {
    const std::lock_guard<std::mutex> lock(failureMutex);
    return lastFailure.empty() ? kModelLoadError : lastFailure;
}

#ifdef _WIN32
std::string systemErrorText(unsigned long code) {
    if (code == 0)
        return {};
    LPSTR buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, static_cast<DWORD>(code), 0x400, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) {
        if (buffer)
            LocalFree(buffer);
        return "Unknown error";
    }
    std::string text(buffer, length);  // the system's trailing line break stays
    LocalFree(buffer);
    return text;
}
#endif

}  // namespace tweenora::model
