#pragma once
// The module-loading seam: shared libraries loaded by path or by bare name, found among the
// modules already in the process, their exports, and the path the plug-in's own module was
// loaded from. Paths are UTF-8 here; the Windows implementation converts to UTF-16.

#include <cstddef>
#include <cstdint>
#include <string>

namespace orv {

// HMODULE on Windows, a dlopen handle elsewhere; null when there is no module.
using ModuleHandle = void*;

// Capacity of the buffer the plug-in's own path is read into, in the platform's path
// characters (UTF-16 code units on Windows, bytes elsewhere), terminator included.
constexpr std::size_t kModulePathCapacity = 256;

// The character that ends a path's directory part.
char pathSeparator();

// Loads a module by full path, or by bare file name with the system's normal search.
// Every successful call takes a reference that freeModule gives back.
ModuleHandle loadModule(const std::string& pathOrName);

// The module of this full path or bare file name if it is already loaded in the process,
// else null. Takes no reference and never loads anything.
ModuleHandle findLoadedModule(const std::string& pathOrName);

// The full path of the module with this bare file name if one is already loaded in the
// process, else the empty string. Searches no folder and loads nothing.
std::string loadedModulePath(const std::string& fileName);

// The full path of the loaded module with this bare file name, or of the process's
// executable when no such module is loaded, read into a buffer of kModulePathCapacity
// characters asking for at most one less. Returns the path's length in path characters
// (0 when not even the executable's path could be read); `truncated` tells whether the
// path did not fit and `path` holds only its first part.
std::size_t ownModulePath(const std::string& fileName, std::string& path, bool& truncated);

// Length of a UTF-8 path in the platform's path characters (what kModulePathCapacity counts).
std::size_t pathCharacters(const std::string& path);

// An export of a loaded module, or null.
void* moduleSymbol(ModuleHandle module, const char* name);

// Gives back one reference taken by loadModule.
void freeModule(ModuleHandle module);

// The system's error code for the last failing call of this seam on this thread
// (GetLastError on Windows, errno elsewhere); the reason, where the system gives one,
// goes to the log.
std::uint32_t lastModuleError();

// The code lastModuleError reports for a path that does not fit kModulePathCapacity.
std::uint32_t pathTooLongError();

} // namespace orv
