#include "AtlModule.h"

#include <objbase.h>

#include "RegistryScriptRunner.h"

#include <string>

#include "utf8_tools.h"

namespace FB {
namespace Atl {

std::string guidString(const GUID& guid) {
    wchar_t text[40];
    if (StringFromGUID2(guid, text, 40) == 0)
        return std::string();
    return wstring_to_utf8(text);
}

AtlModule::AtlModule(const GUID& appId) : m_appId(appId) {
    if (!InitializeCriticalSectionAndSpinCount(&m_factoryLock, 0))
        m_initFailed = true;
}

AtlModule::~AtlModule() {
    // The table belongs to COM, which may be gone when the DLL unloads at process exit.
    if (!m_initFailed)
        DeleteCriticalSection(&m_factoryLock);
}

LONG AtlModule::lock() { return InterlockedIncrement(&m_lockCount); }

LONG AtlModule::unlock() { return InterlockedDecrement(&m_lockCount); }

LONG AtlModule::getLockCount() { return m_lockCount; }

HRESULT AtlModule::getGITPtr(IGlobalInterfaceTable** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (m_initFailed)
        return E_UNEXPECTED;
    HRESULT hr = S_OK;
    EnterCriticalSection(&m_factoryLock);
    if (!m_git)
        hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&m_git));
    if (m_git) {
        m_git->AddRef();
        *out = m_git;
    }
    LeaveCriticalSection(&m_factoryLock);
    return hr;
}

HRESULT AtlModule::addCommonRGSReplacements(RegVariables& variables) {
    variables["APPID"] = guidString(m_appId);
    return S_OK;
}

HRESULT AtlModule::updateRegistryFromResource(HMODULE module, UINT id, bool install,
                                              const RegVariables& extra, bool perUserClasses) {
    RegVariables variables = extra;
    HRESULT hr = addCommonRGSReplacements(variables);
    if (FAILED(hr))
        return hr;
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    if (length == MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    // The script quotes the path; a quote in it is doubled so the script reads it back as one.
    std::string quoted;
    for (char c : wstring_to_utf8(std::wstring(path, length))) {
        quoted += c;
        if (c == '\'')
            quoted += '\'';
    }
    variables["Module"] = quoted;
    variables["Module_Raw"] = quoted;
    return runRegistryResource(module, id, install, variables, perUserClasses);
}

} // namespace Atl
} // namespace FB
