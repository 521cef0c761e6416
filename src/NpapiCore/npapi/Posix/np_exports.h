#pragma once
// Unix exports: one NP_Initialize that takes both tables, the MIME description and the
// instance-less NP_GetValue; default visibility so that they survive a hidden build.

#define OSCALL
#define NP_VISIBILITY_DEFAULT __attribute__((visibility("default")))
#define NP_EXPORT(__type) NP_VISIBILITY_DEFAULT __type

extern "C" {
typedef char* (*NP_GetPluginVersionFunc)(void);
NP_EXPORT(char*) NP_GetPluginVersion(void);
typedef const char* (*NP_GetMIMEDescriptionFunc)(void);
NP_EXPORT(const char*) NP_GetMIMEDescription(void);
typedef NPError (*NP_InitializeFunc)(NPNetscapeFuncs*, NPPluginFuncs*);
NP_EXPORT(NPError) NP_Initialize(NPNetscapeFuncs* bFuncs, NPPluginFuncs* pFuncs);
typedef NPError (*NP_ShutdownFunc)(void);
NP_EXPORT(NPError) NP_Shutdown(void);
typedef NPError (*NP_GetValueFunc)(void*, NPPVariable, void*);
NP_EXPORT(NPError) NP_GetValue(void* future, NPPVariable aVariable, void* aValue);
}
