// The module's exports as Windows browsers call them: __stdcall, by their plain names
// (nporvanta.def), the browser's table and the plug-in's table in separate calls.

#include "NpapiEntryPoints.h"

#include <windows.h>

#include "npfunctions.h"

extern "C" {

NPError OSCALL NP_GetEntryPoints(NPPluginFuncs* pFuncs) {
    return FB::Npapi::getEntryPoints(pFuncs);
}

NPError OSCALL NP_Initialize(NPNetscapeFuncs* bFuncs) {
    return FB::Npapi::initializeModule(bFuncs);
}

NPError OSCALL NP_Shutdown(void) {
    return FB::Npapi::shutdownModule();
}

} // extern "C"
