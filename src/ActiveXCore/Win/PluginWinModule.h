#pragma once
// The in-process COM server Internet Explorer loads: the module object, its one creatable
// class (the control) and what the five COM exports do. The exports themselves are
// declared by the plug-in module (projects/nporvanta), which forwards to these.

#include <windows.h>

#include <string>

#include "AtlModule.h"

namespace FB {
namespace ActiveX {

extern const CLSID CLSID_FBControl0;
extern const GUID LIBID_orvantaLib;
extern const GUID APPID_PluginWin;

// Resource ids of the two "REGISTRY" scripts.
enum : UINT { IDR_PLUGINWIN = 101, IDR_FBCONTROL = 103 };

class CPluginWinModule : public Atl::AtlModule {
public:
    CPluginWinModule();
    ~CPluginWinModule() override;
};

CPluginWinModule& pluginWinModule();

// When true, HKCR keys go to the current user's classes key (HKCU\Software\Classes).
extern bool perUserRegistration;
// globalPluginInitialize has run and its deinitialisation is still due.
extern bool staticInitialized;
extern HMODULE moduleHandle;
extern std::string pluginModulePath;

BOOL dllMain(HINSTANCE instance, DWORD reason);
HRESULT dllGetClassObject(REFCLSID clsid, REFIID iid, void** out);
HRESULT dllCanUnloadNow();
HRESULT dllRegisterServer();
HRESULT dllUnregisterServer();
HRESULT dllInstall(BOOL install, LPCWSTR commandLine);

// Runs the control's script (103) on its own, in either direction.
HRESULT updateWindowsRegistry(bool install);

} // namespace ActiveX
} // namespace FB
