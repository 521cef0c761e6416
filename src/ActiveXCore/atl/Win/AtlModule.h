#pragma once
// The in-process server's module object: its lock count (live objects and LockServer
// locks, which DllCanUnloadNow reads), the process's global interface table, the guard
// for lazily created class factories, and the registry-script runs with the variables
// every script receives.

#include <windows.h>
#include <objbase.h>
#include <objidl.h>

#include "RegistryScript.h"

namespace FB {
namespace Atl {

class AtlModule {
public:
    explicit AtlModule(const GUID& appId);
    virtual ~AtlModule();
    AtlModule(const AtlModule&) = delete;
    AtlModule& operator=(const AtlModule&) = delete;

    virtual LONG lock();
    virtual LONG unlock();
    virtual LONG getLockCount();
    // Created on first request and kept; the caller gets its own reference.
    virtual HRESULT getGITPtr(IGlobalInterfaceTable** out);
    // Puts "APPID" into every script run.
    virtual HRESULT addCommonRGSReplacements(RegVariables& variables);

    bool initFailed() const { return m_initFailed; }
    CRITICAL_SECTION& factoryLock() { return m_factoryLock; }

    // Runs REGISTRY resource `id` of `module` with the extra variables, the common ones and
    // "Module"/"Module_Raw" (the module path with each single quote doubled).
    HRESULT updateRegistryFromResource(HMODULE module, UINT id, bool install,
                                       const RegVariables& extra, bool perUserClasses);

private:
    volatile LONG m_lockCount = 0;
    GUID m_appId;
    CRITICAL_SECTION m_factoryLock;
    IGlobalInterfaceTable* m_git = nullptr;
    bool m_initFailed = false;
};

// Registry form of a GUID, braces included; empty if it cannot be formatted.
std::string guidString(const GUID& guid);

} // namespace Atl
} // namespace FB
