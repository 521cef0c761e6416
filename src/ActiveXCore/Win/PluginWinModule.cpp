#include "PluginWinModule.h"

#include <objbase.h>
#include <oleauto.h>

#include "FactoryBase.h"
#include "ObjectMap.h"
#include "FBControl.h"
#include "PluginCore.h"
#include "RegistryScriptRunner.h"
#include "utf8_tools.h"

namespace FB {
namespace ActiveX {

// {7C3B5E21-9A4D-4F6E-B812-3D5A0C94E1F7}
const CLSID CLSID_FBControl0 = {0x7c3b5e21, 0x9a4d, 0x4f6e, {0xb8, 0x12, 0x3d, 0x5a, 0x0c, 0x94, 0xe1, 0xf7}};
// {4E8D2A17-C6B3-4F90-A5E1-7B2D9C0F3A68}
const GUID LIBID_orvantaLib = {0x4e8d2a17, 0xc6b3, 0x4f90, {0xa5, 0xe1, 0x7b, 0x2d, 0x9c, 0x0f, 0x3a, 0x68}};
// {B5F04C39-2E7A-4D18-9B6C-E13A7F520D94}
const GUID APPID_PluginWin = {0xb5f04c39, 0x2e7a, 0x4d18, {0x9b, 0x6c, 0xe1, 0x3a, 0x7f, 0x52, 0x0d, 0x94}};

bool perUserRegistration = false;
bool staticInitialized = false;
HMODULE moduleHandle = nullptr;
std::string pluginModulePath;

namespace {

// The control's variables, made once and kept.
const Atl::RegVariables& controlVariables() {
    static const Atl::RegVariables variables = [] {
        Atl::RegVariables v;
        v["LIBID"] = Atl::guidString(LIBID_orvantaLib);
        v["THREADING"] = "Apartment";
        return v;
    }();
    return variables;
}

HRESULT updateControlRegistry(bool install) {
    return pluginWinModule().updateRegistryFromResource(moduleHandle, IDR_FBCONTROL, install,
                                                        controlVariables(), perUserRegistration);
}

Atl::ObjectMapEntry objectMap[] = {
    {&CLSID_FBControl0, &updateControlRegistry, &CFBControl::create, nullptr},
};

HRESULT runAppIdScript(bool install) {
    return pluginWinModule().updateRegistryFromResource(moduleHandle, IDR_PLUGINWIN, install,
                                                        Atl::RegVariables(), perUserRegistration);
}

// Registration from any tool but the installer's harvester goes to the current user.
void choosePerUser() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::string host = (length > 0 && length < MAX_PATH) ? wstring_to_utf8(std::wstring(path, length))
                                                         : std::string();
    static const std::string heat = "heat.exe";
    bool underHeat = host.size() >= heat.size() && host.compare(host.size() - heat.size(), heat.size(), heat) == 0;
    if (!underHeat)
        perUserRegistration = true;
}

class SystemLocale {
public:
    SystemLocale() : m_saved(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
    ~SystemLocale() { SetThreadLocale(m_saved); }

private:
    LCID m_saved;
};

// The type library from the module, or from a ".tlb" of the same name beside it.
HRESULT loadTypeLibrary(ITypeLib** out) {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(moduleHandle, path, MAX_PATH);
    if (length == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    if (length >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    std::wstring file(path, length);
    HRESULT hr = LoadTypeLib(file.c_str(), out);
    if (SUCCEEDED(hr))
        return hr;
    std::wstring::size_type dot = file.find_last_of(L'.');
    std::wstring::size_type slash = file.find_last_of(L"\\/");
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
        file.resize(dot);
    file += L".tlb";
    return LoadTypeLib(file.c_str(), out);
}

using TypeLibRegister = HRESULT(WINAPI*)(ITypeLib*, LPOLESTR, LPOLESTR);
using TypeLibUnregister = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

FARPROC oleautExport(const char* name) {
    HMODULE oleaut = GetModuleHandleW(L"OLEAUT32.DLL");
    return oleaut ? GetProcAddress(oleaut, name) : nullptr;
}

HRESULT registerTypeLibrary() {
    ITypeLib* library = nullptr;
    HRESULT hr = loadTypeLibrary(&library);
    if (FAILED(hr))
        return hr;
    BSTR helpFile = nullptr;
    library->GetDocumentation(-1, nullptr, nullptr, nullptr, &helpFile);
    std::wstring helpDir = helpFile ? std::wstring(helpFile, SysStringLen(helpFile)) : std::wstring();
    SysFreeString(helpFile);
    std::wstring::size_type slash = helpDir.find_last_of(L"\\/");
    helpDir = slash == std::wstring::npos ? std::wstring() : helpDir.substr(0, slash);
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(moduleHandle, path, MAX_PATH);
    path[length < MAX_PATH ? length : MAX_PATH - 1] = L'\0';
    auto forUser = reinterpret_cast<TypeLibRegister>(
        reinterpret_cast<void*>(oleautExport("RegisterTypeLibForUser")));
    LPOLESTR dir = helpDir.empty() ? nullptr : &helpDir[0];
    hr = (perUserRegistration && forUser) ? forUser(library, path, dir) : RegisterTypeLib(library, path, dir);
    library->Release();
    return hr;
}

HRESULT unregisterTypeLibrary() {
    ITypeLib* library = nullptr;
    HRESULT hr = loadTypeLibrary(&library);
    if (FAILED(hr))
        return hr;
    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (SUCCEEDED(hr)) {
        auto forUser = reinterpret_cast<TypeLibUnregister>(
            reinterpret_cast<void*>(oleautExport("UnRegisterTypeLibForUser")));
        hr = (perUserRegistration && forUser)
                 ? forUser(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                           attributes->lcid, attributes->syskind)
                 : UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                     attributes->lcid, attributes->syskind);
        library->ReleaseTLibAttr(attributes);
    }
    library->Release();
    return hr;
}

HRESULT registerStandard() {
    SystemLocale locale;
    HRESULT hr = runAppIdScript(true);
    if (FAILED(hr))
        return hr;
    for (Atl::ObjectMapEntry& entry : objectMap) {
        hr = entry.updateRegistry(true);
        if (FAILED(hr))
            return hr;
    }
    return registerTypeLibrary();
}

HRESULT unregisterStandard() {
    SystemLocale locale;
    for (Atl::ObjectMapEntry& entry : objectMap) {
        HRESULT hr = entry.updateRegistry(false);
        if (FAILED(hr))
            return hr;
    }
    HRESULT hr = unregisterTypeLibrary();
    if (FAILED(hr))
        return hr;
    return runAppIdScript(false);
}

} // namespace

CPluginWinModule::CPluginWinModule() : Atl::AtlModule(APPID_PluginWin) {}

CPluginWinModule::~CPluginWinModule() {
    for (Atl::ObjectMapEntry& entry : objectMap) {
        if (entry.cachedFactory) {
            entry.cachedFactory->Release();
            entry.cachedFactory = nullptr;
        }
    }
}

CPluginWinModule& pluginWinModule() {
    static CPluginWinModule module;
    return module;
}

BOOL dllMain(HINSTANCE instance, DWORD reason) {
    static bool recorded = false;
    if (!recorded) {
        recorded = true;
        moduleHandle = instance;
        wchar_t path[MAX_PATH];
        DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
        pluginModulePath = wstring_to_utf8(std::wstring(path, length < MAX_PATH ? length : MAX_PATH));
    }
    if (reason == DLL_PROCESS_ATTACH && pluginWinModule().initFailed())
        return FALSE;
    return TRUE;
}

HRESULT dllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    CPluginWinModule& module = pluginWinModule();
    if (module.initFailed())
        return E_UNEXPECTED;
    Atl::ObjectMapEntry* entry = nullptr;
    for (Atl::ObjectMapEntry& candidate : objectMap)
        if (IsEqualCLSID(*candidate.clsid, clsid))
            entry = &candidate;
    if (!entry)
        return CLASS_E_CLASSNOTAVAILABLE;
    HRESULT hr = S_OK;
    if (!entry->cachedFactory) {
        EnterCriticalSection(&module.factoryLock());
        if (!entry->cachedFactory) {
            void* factory = nullptr;
            hr = Atl::ClassFactory::create(module, entry->creator, IID_IUnknown, &factory);
            if (SUCCEEDED(hr))
                entry->cachedFactory = static_cast<IUnknown*>(factory);
        }
        LeaveCriticalSection(&module.factoryLock());
    }
    if (entry->cachedFactory) {
        hr = entry->cachedFactory->QueryInterface(iid, out);
        if (*out == nullptr && SUCCEEDED(hr))
            hr = CLASS_E_CLASSNOTAVAILABLE;
    }
    if (SUCCEEDED(hr) && !staticInitialized) {
        getFactoryInstance()->globalPluginInitialize();
        staticInitialized = true;
    }
    return hr;
}

HRESULT dllCanUnloadNow() {
    LONG locks = pluginWinModule().getLockCount();
    HRESULT result = locks != 0 ? S_FALSE : S_OK;
    if (locks != 0 && PluginCore::getActivePluginCount() != 0)
        return S_FALSE;
    if (staticInitialized) {
        getFactoryInstance()->globalPluginDeinitialize();
        staticInitialized = false;
    }
    return result;
}

HRESULT updateWindowsRegistry(bool install) { return updateControlRegistry(install); }

HRESULT dllRegisterServer() {
    choosePerUser();
    HRESULT hr = registerStandard();
    if (SUCCEEDED(hr))
        return hr;
    return updateWindowsRegistry(true);
}

HRESULT dllUnregisterServer() {
    choosePerUser();
    HRESULT hr = unregisterStandard();
    if (SUCCEEDED(hr))
        return hr;
    // Without a type library beside the module the standard run stops before the AppID
    // script; its keys would stay behind after every uninstall, so they go here too.
    hr = updateWindowsRegistry(false);
    HRESULT appId = runAppIdScript(false);
    return FAILED(hr) ? hr : appId;
}

HRESULT dllInstall(BOOL install, LPCWSTR commandLine) {
    perUserRegistration = commandLine != nullptr && _wcsnicmp(commandLine, L"user", 5) == 0;
    if (install) {
        HRESULT hr = dllRegisterServer();
        if (FAILED(hr))
            dllUnregisterServer();
        return hr;
    }
    return dllUnregisterServer();
}

} // namespace ActiveX
} // namespace FB
