// The module's exports as Unix browsers call them: one NP_Initialize hands over both
// tables, the MIME types come from NP_GetMIMEDescription, and NP_GetValue answers the
// plug-in's name and description without an instance.

#include "NpapiEntryPoints.h"
#include "np_exports.h"

namespace {
// One entry: the MIME type, no file extensions, the description.
const char kMimeDescription[] = "application/x-orvanta::pelorima orvanta plugin;";
} // namespace

extern "C" {

NP_EXPORT(NPError) NP_Initialize(NPNetscapeFuncs* bFuncs, NPPluginFuncs* pFuncs) {
    const NPError err = FB::Npapi::initializeModule(bFuncs);
    if (err != NPERR_NO_ERROR)
        return err;
    return FB::Npapi::getEntryPoints(pFuncs);
}

NP_EXPORT(NPError) NP_Shutdown(void) {
    return FB::Npapi::shutdownModule();
}

NP_EXPORT(const char*) NP_GetMIMEDescription(void) {
    return kMimeDescription;
}

NP_EXPORT(NPError) NP_GetValue(void*, NPPVariable aVariable, void* aValue) {
    return FB::Npapi::getInstancelessValue(aVariable, aValue);
}

} // extern "C"
