#include "CompanionDouble.h"

#include "CompanionControl.h"

#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace orv { namespace test {

namespace {

// The folder the test executable was started from: where the build puts the doubles.
std::string executableFolder()
{
#ifdef _WIN32
    wchar_t buffer[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        throw std::runtime_error("cannot read the test executable's path");
    std::wstring wide(buffer, n);
    wide.resize(wide.find_last_of(L"\\/"));
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string path(bytes > 0 ? bytes - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &path[0], bytes, nullptr, nullptr);
    return path;
#else
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        throw std::runtime_error("cannot read the test executable's path");
    std::string path(buffer, static_cast<std::size_t>(n));
    return path.substr(0, path.find_last_of('/'));
#endif
}

void* loadByPath(const std::string& path)
{
#ifdef _WIN32
    int chars = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(chars > 0 ? chars : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, &wide[0], chars);
    return reinterpret_cast<void*>(LoadLibraryW(wide.c_str()));
#else
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

// The module a bare-name load of the companion gets now; null when none is installed.
void* loadedCompanion()
{
#ifdef _WIN32
    return reinterpret_cast<void*>(GetModuleHandleW(L"olvgui.dll"));
#else
    return dlopen("olvgui.so", RTLD_NOW | RTLD_NOLOAD);
#endif
}

void* exportOf(void* module, const char* name)
{
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
#else
    return dlsym(module, name);
#endif
}

const char* kindName(CompanionKind kind) { return kind == CompanionKind::Configurable ? "ok" : "noexport"; }

} // namespace

std::string CompanionDouble::path(CompanionKind kind)
{
#ifdef _WIN32
    const char* file = "olvgui.dll";
    const char separator = '\\';
#else
    const char* file = "olvgui.so";
    const char separator = '/';
#endif
    return executableFolder() + separator + "companion-" + kindName(kind) + separator + file;
}

CompanionDouble CompanionDouble::install(CompanionKind kind)
{
    // Loading a second module of the same name would not replace the first for the plug-in.
    if (void* existing = loadedCompanion()) {
        auto existingKind = reinterpret_cast<olvgui_double_kind_fn>(exportOf(existing, "olvgui_double_kind"));
        if (!existingKind || std::string(existingKind()) != kindName(kind))
            throw std::runtime_error("another olvgui module is already installed in this process");
    }
    std::string file = path(kind);
    void* module = loadByPath(file);
    if (!module)
        throw std::runtime_error("cannot load the companion double " + file);
    if (loadedCompanion() != module)
        throw std::runtime_error("the companion double " + file + " is not what a load of olvgui finds");
    return CompanionDouble(kind, module);
}

void* CompanionDouble::symbol(const char* name) const
{
    if (kind_ != CompanionKind::Configurable)
        throw std::logic_error("the companion without the export cannot be configured");
    void* f = exportOf(module_, name);
    if (!f)
        throw std::runtime_error(std::string("the companion double lacks ") + name);
    return f;
}

void CompanionDouble::answer(const std::string& pin, std::int32_t result) const
{
    answerRaw(pin, static_cast<std::int32_t>(pin.size() > 32 ? 32 : pin.size()), result);
}

void CompanionDouble::answerRaw(const std::string& pin, std::int32_t reportedLength, std::int32_t result) const
{
    auto configure = reinterpret_cast<olvgui_double_configure_fn>(symbol("olvgui_double_configure"));
    configure(pin.data(), static_cast<std::int32_t>(pin.size()), reportedLength, result);
}

std::int32_t CompanionDouble::calls() const
{
    return reinterpret_cast<olvgui_double_calls_fn>(symbol("olvgui_double_calls"))();
}

void CompanionDouble::reset() const
{
    reinterpret_cast<olvgui_double_reset_fn>(symbol("olvgui_double_reset"))();
}

}} // namespace orv::test
