#include "NpapiEntryPoints.h"

#include "FactoryBase.h"
#include "NpapiBrowserHost.h"
#include "NpapiHostFactory.h"
#include "NpapiPlugin.h"
#include "NpapiPluginModule.h"

#include <iostream>
#include <new>
#include <string>

namespace FB { namespace Npapi {

namespace {

// The browser version that brought NPN_PluginThreadAsyncCall.
constexpr uint16_t kAsyncCallVersion = 19;

// Decided on the first NPP_New; a missing module counts as a new browser.
enum class OldBrowser { Unknown, No, Yes };
OldBrowser s_oldBrowser = OldBrowser::Unknown;

NpapiPluginModule* module() {
    if (!NpapiPluginModule::Default) {
        setNpapiPluginMaker(&createPlatformNpapiPlugin);
        getFactoryInstance()->globalPluginInitialize();
        NpapiPluginModule::Default = new NpapiPluginModule(true);
    }
    return NpapiPluginModule::Default;
}

NpapiInstanceData* instanceData(NPP instance) {
    return instance ? static_cast<NpapiInstanceData*>(instance->pdata) : nullptr;
}

// The instance's plug-in, held for the length of the call; null for an instance that is
// not one of ours or has none.
std::shared_ptr<NpapiPlugin> pluginOf(NPP instance) {
    NpapiInstanceData* data = instanceData(instance);
    return data ? data->plugin : nullptr;
}

void report(const char* entry, const char* what) {
    std::cout << entry << ": " << what << std::endl;
}

// Runs an entry's body; any exception is written out and becomes the entry's failure.
template <typename R, typename Body>
R guarded(const char* entry, R failure, Body body) {
    try {
        return body();
    } catch (const std::exception& e) {
        report(entry, e.what());
    } catch (...) {
        report(entry, "unknown failure");
    }
    return failure;
}

template <typename Body>
void guardedVoid(const char* entry, Body body) {
    try {
        body();
    } catch (const std::exception& e) {
        report(entry, e.what());
    } catch (...) {
        report(entry, "unknown failure");
    }
}

} // namespace

NPError getEntryPoints(NPPluginFuncs* pFuncs) {
    return guarded("NP_GetEntryPoints", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        if (!pFuncs)
            return NPERR_INVALID_FUNCTABLE_ERROR;
        module();
        pFuncs->newp = &NPP_New;
        pFuncs->destroy = &NPP_Destroy;
        pFuncs->setwindow = &NPP_SetWindow;
        pFuncs->newstream = &NPP_NewStream;
        pFuncs->destroystream = &NPP_DestroyStream;
        pFuncs->asfile = &NPP_StreamAsFile;
        pFuncs->writeready = &NPP_WriteReady;
        pFuncs->write = &NPP_Write;
        pFuncs->print = &NPP_Print;
        pFuncs->event = &NPP_HandleEvent;
        pFuncs->urlnotify = &NPP_URLNotify;
        pFuncs->getvalue = &NPP_GetValue;
        pFuncs->setvalue = &NPP_SetValue;
        return NPERR_NO_ERROR;
    });
}

NPError initializeModule(NPNetscapeFuncs* bFuncs) {
    return guarded("NP_Initialize", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        if (!bFuncs)
            return NPERR_INVALID_FUNCTABLE_ERROR;
        module()->setNetscapeFuncs(bFuncs);
        return NPERR_NO_ERROR;
    });
}

NPError shutdownModule() {
    NpapiPluginModule* current = NpapiPluginModule::Default;
    NpapiPluginModule::Default = nullptr;
    s_oldBrowser = OldBrowser::Unknown;
    if (!current)
        return NPERR_NO_ERROR;
    if (current->runsGlobalInit())
        guardedVoid("NP_Shutdown", [] { getFactoryInstance()->globalPluginDeinitialize(); });
    delete current;
    return NPERR_NO_ERROR;
}

NPError getInstancelessValue(NPPVariable variable, void* value) {
    return guarded("NP_GetValue", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        // Kept while the module is loaded: the browser holds on to the pointer.
        static std::string name;
        static std::string description;
        static bool haveName = false;
        static bool haveDescription = false;
        if (variable != NPPVpluginNameString && variable != NPPVpluginDescriptionString)
            return NPERR_GENERIC_ERROR;
        if (!value)
            return NPERR_INVALID_PARAM;
        if (variable == NPPVpluginNameString) {
            if (!haveName) {
                name = getFactoryInstance()->getPluginName(std::string());
                haveName = true;
            }
            *static_cast<const char**>(value) = name.c_str();
        } else {
            if (!haveDescription) {
                description = getFactoryInstance()->getPluginDescription(std::string());
                haveDescription = true;
            }
            *static_cast<const char**>(value) = description.c_str();
        }
        return NPERR_NO_ERROR;
    });
}

namespace {

// A failed NPP_New is never followed by NPP_Destroy: nothing of the instance may stay, and
// the page objects the host took references to go back while the instance still exists.
void undoFailedNew(NPP instance, NpapiInstanceData* data, const NpapiBrowserHostPtr& host) {
    if (data) {
        NPP_Destroy(instance, nullptr);
        return;
    }
    guardedVoid("NPP_New", [&] {
        if (host)
            host->shutdown();
    });
}

} // namespace

NPError NPP_New(NPMIMEType pluginType, NPP instance, uint16_t, int16_t argc, char* argn[], char* argv[],
                NPSavedData*) {
    if (!instance)
        return NPERR_INVALID_INSTANCE_ERROR;
    NpapiInstanceData* data = nullptr;
    NpapiBrowserHostPtr host;
    NPError failure = NPERR_GENERIC_ERROR;
    try {
        NpapiPluginModule* mod = NpapiPluginModule::Default;
        if (!mod)
            return NPERR_INVALID_FUNCTABLE_ERROR;
        if (s_oldBrowser == OldBrowser::Unknown)
            s_oldBrowser = mod->netscapeFuncs().version < kAsyncCallVersion ? OldBrowser::Yes : OldBrowser::No;
        const bool old = s_oldBrowser == OldBrowser::Yes;
        if (old)
            mod->netscapeFuncs().pluginthreadasynccall = nullptr;
        const std::string mimetype = pluginType ? pluginType : "";

        host = createNpapiBrowserHost(mod, instance, old);
        host->setBrowserFuncs(&mod->netscapeFuncs());
        std::shared_ptr<NpapiPlugin> plugin = getFactoryInstance()->createNpapiPlugin(host, mimetype);
        if (!plugin) {
            host->shutdown();
            return NPERR_OUT_OF_MEMORY_ERROR;
        }
        data = new NpapiInstanceData{host, plugin};
        instance->pdata = data;
        plugin->init(pluginType, argc, argn, argv);
        return NPERR_NO_ERROR;
    } catch (const PluginCreateError& e) {
        report("NPP_New", e.what());
        failure = NPERR_INCOMPATIBLE_VERSION_ERROR;
    } catch (const std::bad_alloc& e) {
        report("NPP_New", e.what());
        failure = NPERR_OUT_OF_MEMORY_ERROR;
    } catch (const std::exception& e) {
        report("NPP_New", e.what());
    } catch (...) {
        report("NPP_New", "unknown failure");
    }
    undoFailedNew(instance, data, host);
    return failure;
}

NPError NPP_Destroy(NPP instance, NPSavedData**) {
    NpapiInstanceData* data = instanceData(instance);
    if (!data)
        return NPERR_INVALID_INSTANCE_ERROR;
    // The instance's own reference to the root object goes back while the host can still
    // give it: after the host's shutdown nothing reaches the browser.
    guardedVoid("NPP_Destroy", [&] {
        if (data->plugin)
            data->plugin->releaseScriptableObject();
    });
    guardedVoid("NPP_Destroy", [&] {
        if (data->host)
            data->host->shutdown();
    });
    guardedVoid("NPP_Destroy", [&] {
        if (data->plugin)
            data->plugin->shutdown();
    });
    instance->pdata = nullptr;
    guardedVoid("NPP_Destroy", [&] { delete data; });
    return NPERR_NO_ERROR;
}

NPError NPP_SetWindow(NPP instance, NPWindow* window) {
    if (!instanceData(instance))
        return NPERR_INVALID_INSTANCE_ERROR;
    return guarded("NPP_SetWindow", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        std::shared_ptr<NpapiPlugin> plugin = pluginOf(instance);
        return plugin ? plugin->SetWindow(window) : NPError(NPERR_NO_ERROR);
    });
}

NPError NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype) {
    if (!instanceData(instance))
        return NPERR_INVALID_INSTANCE_ERROR;
    return guarded("NPP_NewStream", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        std::shared_ptr<NpapiPlugin> plugin = pluginOf(instance);
        return plugin ? plugin->NewStream(type, stream, seekable, stype) : NPError(NPERR_GENERIC_ERROR);
    });
}

NPError NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason) {
    if (!instanceData(instance))
        return NPERR_INVALID_INSTANCE_ERROR;
    return guarded("NPP_DestroyStream", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        std::shared_ptr<NpapiPlugin> plugin = pluginOf(instance);
        return plugin ? plugin->DestroyStream(stream, reason) : NPError(NPERR_GENERIC_ERROR);
    });
}

// A byte count is the browser's only answer here: any positive number would tell it that
// bytes were taken, so an instance that cannot take them refuses with -1.
int32_t NPP_WriteReady(NPP instance, NPStream* stream) {
    return guarded("NPP_WriteReady", int32_t(-1), [&]() -> int32_t {
        std::shared_ptr<NpapiPlugin> plugin = pluginOf(instance);
        return plugin ? plugin->WriteReady(stream) : int32_t(-1);
    });
}

int32_t NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer) {
    return guarded("NPP_Write", int32_t(-1), [&]() -> int32_t {
        std::shared_ptr<NpapiPlugin> plugin = pluginOf(instance);
        return plugin ? plugin->Write(stream, offset, len, buffer) : int32_t(-1);
    });
}

void NPP_StreamAsFile(NPP instance, NPStream* stream, const char* fname) {
    guardedVoid("NPP_StreamAsFile", [&] {
        if (std::shared_ptr<NpapiPlugin> plugin = pluginOf(instance))
            plugin->StreamAsFile(stream, fname);
    });
}

void NPP_Print(NPP instance, NPPrint* platformPrint) {
    guardedVoid("NPP_Print", [&] {
        if (std::shared_ptr<NpapiPlugin> plugin = pluginOf(instance))
            plugin->Print(platformPrint);
    });
}

int16_t NPP_HandleEvent(NPP instance, void* event) {
    return guarded("NPP_HandleEvent", int16_t(0), [&]() -> int16_t {
        std::shared_ptr<NpapiPlugin> plugin = pluginOf(instance);
        return plugin ? plugin->HandleEvent(event) : int16_t(0);
    });
}

void NPP_URLNotify(NPP instance, const char* url, NPReason reason, void* notifyData) {
    guardedVoid("NPP_URLNotify", [&] {
        if (std::shared_ptr<NpapiPlugin> plugin = pluginOf(instance))
            plugin->URLNotify(url, reason, notifyData);
    });
}

NPError NPP_GetValue(NPP instance, NPPVariable variable, void* value) {
    if (!instanceData(instance))
        return getInstancelessValue(variable, value);
    return guarded("NPP_GetValue", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        std::shared_ptr<NpapiPlugin> plugin = pluginOf(instance);
        return plugin ? plugin->GetValue(variable, value) : NPError(NPERR_NO_ERROR);
    });
}

NPError NPP_SetValue(NPP instance, NPNVariable variable, void* value) {
    if (!instanceData(instance))
        return NPERR_INVALID_INSTANCE_ERROR;
    return guarded("NPP_SetValue", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        std::shared_ptr<NpapiPlugin> plugin = pluginOf(instance);
        return plugin ? plugin->SetValue(variable, value) : NPError(NPERR_GENERIC_ERROR);
    });
}

}} // namespace FB::Npapi
