#pragma once
// Windows exports: the browser finds them by name in the DLL and calls them __stdcall
// (OSCALL, WINAPI). The table entries themselves use the default convention.

#include <type_traits>

#define OSCALL WINAPI

extern "C" {
typedef NPError(OSCALL* NP_GetEntryPointsFunc)(NPPluginFuncs*);
NPError OSCALL NP_GetEntryPoints(NPPluginFuncs* pFuncs);
typedef NPError(OSCALL* NP_InitializeFunc)(NPNetscapeFuncs*);
NPError OSCALL NP_Initialize(NPNetscapeFuncs* bFuncs);
typedef NPError(OSCALL* NP_ShutdownFunc)(void);
NPError OSCALL NP_Shutdown(void);
}

static_assert(std::is_same<decltype(&NP_GetEntryPoints), NP_GetEntryPointsFunc>::value &&
                  std::is_same<decltype(&NP_Initialize), NP_InitializeFunc>::value &&
                  std::is_same<decltype(&NP_Shutdown), NP_ShutdownFunc>::value,
              "the exports are declared with the types browsers call them through");
// On i686 __stdcall is a different function type from the default __cdecl: a browser
// calling a __cdecl export would leave its argument on the stack. On x86-64 there is
// only one convention.
static_assert(sizeof(void*) == 8 ||
                  (!std::is_same<NP_InitializeFunc, NPError (*)(NPNetscapeFuncs*)>::value &&
                   !std::is_same<NP_GetEntryPointsFunc, NPError (*)(NPPluginFuncs*)>::value &&
                   !std::is_same<NP_ShutdownFunc, NPError (*)(void)>::value),
              "the 32-bit exports are __stdcall");
static_assert(std::is_same<NPP_NewProcPtr, NPError (*)(NPMIMEType, NPP, uint16_t, int16_t, char**, char**,
                                                         NPSavedData*)>::value,
              "table entries use the default convention");
