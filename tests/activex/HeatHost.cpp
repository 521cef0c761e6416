// A registering host named heat.exe, as the installer's harvester is: the module lets only
// such a host register machine-wide. Exit code: the export's HRESULT (0 on success).

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4) {
        std::fwprintf(stderr, L"usage: heat register|unregister MODULE | install|uninstall MODULE COMMANDLINE\n");
        return 2;
    }
    HMODULE module = LoadLibraryW(argv[2]);
    if (!module) {
        std::fwprintf(stderr, L"heat: cannot load %ls (%lu)\n", argv[2], GetLastError());
        return 3;
    }
    using Plain = HRESULT(WINAPI*)();
    using Install = HRESULT(WINAPI*)(BOOL, LPCWSTR);
    auto reg = reinterpret_cast<Plain>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    auto unreg = reinterpret_cast<Plain>(reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
    auto install = reinterpret_cast<Install>(reinterpret_cast<void*>(GetProcAddress(module, "DllInstall")));
    if (!reg || !unreg || !install)
        return 4;
    std::wstring command = argv[1];
    HRESULT hr = E_INVALIDARG;
    if (command == L"register")
        hr = reg();
    else if (command == L"unregister")
        hr = unreg();
    else if (command == L"install" && argc == 4)
        hr = install(TRUE, argv[3]);
    else if (command == L"uninstall" && argc == 4)
        hr = install(FALSE, argv[3]);
    FreeLibrary(module);
    return static_cast<int>(hr);
}
