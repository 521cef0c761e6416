#include "PlatformModule.h"

#include "logging.h"

#include <windows.h>

#include <vector>

namespace orv {

namespace {

std::wstring toWide(const std::string& utf8) {
    if (utf8.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                      nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

std::string toUtf8(const wchar_t* wide, std::size_t length) {
    if (length == 0)
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0,
                                      nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), &utf8[0], n, nullptr,
                            nullptr);
    return utf8;
}

} // namespace

char pathSeparator() { return '\\'; }

ModuleHandle loadModule(const std::string& pathOrName) {
    HMODULE module = LoadLibraryW(toWide(pathOrName).c_str());
    if (!module) {
        const DWORD error = GetLastError();
        FBLOG_WARN("PlatformModule", "LoadLibraryW(" << pathOrName << ") failed: " << error);
        SetLastError(error);  // the caller reports it
    }
    return reinterpret_cast<ModuleHandle>(module);
}

ModuleHandle findLoadedModule(const std::string& pathOrName) {
    return reinterpret_cast<ModuleHandle>(GetModuleHandleW(toWide(pathOrName).c_str()));
}

std::string loadedModulePath(const std::string& fileName) {
    HMODULE module = GetModuleHandleW(toWide(fileName).c_str());
    if (!module)
        return std::string();
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::string();
        if (length < buffer.size())
            return toUtf8(buffer.data(), length);
        if (buffer.size() >= 32768)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

std::size_t ownModulePath(const std::string& fileName, std::string& path, bool& truncated) {
    // A module of another name (or none, as in a test executable) gives a null handle, and
    // GetModuleFileNameW then answers with the executable's path.
    HMODULE own = GetModuleHandleW(toWide(fileName).c_str());
    wchar_t buffer[kModulePathCapacity] = {};
    const DWORD asked = static_cast<DWORD>(kModulePathCapacity - 1);
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetModuleFileNameW(own, buffer, asked);
    // A full buffer means the path was cut: the terminator needs one of the asked places.
    truncated = length >= asked || GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    path = toUtf8(buffer, length < asked ? length : asked);
    return length;
}

std::size_t pathCharacters(const std::string& path) {
    return toWide(path).size();
}

void* moduleSymbol(ModuleHandle module, const char* name) {
    if (!module)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

void freeModule(ModuleHandle module) {
    if (module)
        FreeLibrary(reinterpret_cast<HMODULE>(module));
}

std::uint32_t lastModuleError() {
    return static_cast<std::uint32_t>(GetLastError());
}

std::uint32_t pathTooLongError() {
    return ERROR_FILENAME_EXCED_RANGE;
}

} // namespace orv
