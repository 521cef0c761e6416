// The probe's Unix entry points: the adapter's own, with the probe's MIME type.

#include "NpapiEntryPoints.h"
#include "np_exports.h"

namespace {
const char kMimeDescription[] = "application/x-orvanta-probe::orvanta framework probe;";
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
