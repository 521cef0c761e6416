// The COM server's exports, for Internet Explorer and regsvr32: plain names (nporvanta.def),
// forwarded to the ActiveX module. The DLL entry point records the module for both adapters.

#include <windows.h>

#include "PluginWinModule.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    return FB::ActiveX::dllMain(instance, reason);
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
    return FB::ActiveX::dllGetClassObject(clsid, iid, out);
}

STDAPI DllCanUnloadNow(void) { return FB::ActiveX::dllCanUnloadNow(); }

STDAPI DllRegisterServer(void) { return FB::ActiveX::dllRegisterServer(); }

STDAPI DllUnregisterServer(void) { return FB::ActiveX::dllUnregisterServer(); }

STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    return FB::ActiveX::dllInstall(install, commandLine);
}

} // extern "C"
