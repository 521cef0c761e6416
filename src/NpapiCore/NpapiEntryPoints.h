#pragma once
// The module's NPAPI entry points, which the platform's exports call (NP_GetEntryPoints,
// NP_Initialize, NP_Shutdown, and on Unix NP_GetValue), and the instance entry functions
// they place into the browser's plug-in table. Each instance entry finds the instance
// behind the NPP's pdata (NpapiInstanceData) and forwards to its NpapiPlugin, holding the
// plug-in for the length of the call. A null NPP or null pdata gets a clear status (-1
// from NPP_WriteReady and NPP_Write, whose answers are byte counts), and
// no C++ exception ever leaves an entry: one that reaches the browser's C code ends the
// browser's process.
//
// All of them run on the browser's main thread.

#include "NpapiTypes.h"
#include "npfunctions.h"

#include <memory>

namespace FB { namespace Npapi {

class NpapiPlugin;

struct NpapiInstanceData {
    NpapiBrowserHostPtr host;
    std::shared_ptr<NpapiPlugin> plugin;
};

// Creates the module (and runs the product's global initialisation) when there is none,
// then fills the instance entries of the browser's plug-in table. A null table is
// NPERR_INVALID_FUNCTABLE_ERROR.
NPError getEntryPoints(NPPluginFuncs* pFuncs);
// Creates the module when there is none, then copies the browser's table into it. A null
// table is NPERR_INVALID_FUNCTABLE_ERROR.
NPError initializeModule(NPNetscapeFuncs* bFuncs);
// Deletes the module (global deinitialisation first) and forgets it; a later entry point
// makes a fresh one.
NPError shutdownModule();
// The browser's questions without an instance: the plug-in's name and description.
NPError getInstancelessValue(NPPVariable variable, void* value);

// The instance entries, as the table holds them.
NPError NPP_New(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc, char* argn[], char* argv[],
                NPSavedData* saved);
NPError NPP_Destroy(NPP instance, NPSavedData** save);
NPError NPP_SetWindow(NPP instance, NPWindow* window);
NPError NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype);
NPError NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason);
int32_t NPP_WriteReady(NPP instance, NPStream* stream);
int32_t NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer);
void NPP_StreamAsFile(NPP instance, NPStream* stream, const char* fname);
void NPP_Print(NPP instance, NPPrint* platformPrint);
int16_t NPP_HandleEvent(NPP instance, void* event);
void NPP_URLNotify(NPP instance, const char* url, NPReason reason, void* notifyData);
NPError NPP_GetValue(NPP instance, NPPVariable variable, void* value);
NPError NPP_SetValue(NPP instance, NPNVariable variable, void* value);

// The platform's instance (NpapiPluginWin, NpapiPluginX11), the factory's default.
std::shared_ptr<NpapiPlugin> createPlatformNpapiPlugin(const NpapiBrowserHostPtr& host, const std::string& mimetype);

}} // namespace FB::Npapi
