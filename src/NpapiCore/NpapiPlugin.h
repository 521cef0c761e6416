#pragma once
// FB::Npapi::NpapiPlugin: the NPAPI side of one plug-in instance on a page, the object the
// instance entry functions forward to. It owns the product's plug-in object (through
// BrowserPlugin), turns the embed attributes into its params, makes it ready, answers the
// browser's per-instance queries (the root scriptable NPObject above all) and clears the
// window on shutdown. The platform classes (NpapiPluginWin, NpapiPluginX11) add the
// window and its events.
//
// The stream entries pass the browser's reports to the stream the host made, found by
// the notify data the host gave with the request. A stream the framework did not request
// (or one already gone) is answered as unknown: NewStream and DestroyStream succeed
// without effect, WriteReady and Write refuse with -1. A null NPStream or stream type is
// NPERR_INVALID_PARAM (-1 for the byte counts).

#include "BrowserPlugin.h"
#include "NpapiTypes.h"
#include "npfunctions.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace FB { namespace Npapi {

// A failed plug-in creation; NPP_New answers NPERR_INCOMPATIBLE_VERSION_ERROR.
class PluginCreateError : public std::runtime_error {
public:
    explicit PluginCreateError(const std::string& message) : std::runtime_error(message) {}
};

class NpapiPlugin : public BrowserPlugin {
public:
    NpapiPlugin(const NpapiBrowserHostPtr& host, const std::string& mimetype);
    ~NpapiPlugin() override;

    void shutdown() override;
    // Gives back the instance's own reference to the root object's wrapper; before the
    // host's shutdown, which ends every call to the browser.
    void releaseScriptableObject();
    // The page's attributes become the params; a windowless plug-in object tells the
    // browser so; the plug-in object becomes ready before the browser gives a window.
    virtual void init(NPMIMEType pluginType, int16_t argc, char* argn[], char* argv[]);
    virtual void setReadyOnce();

    virtual NPError SetWindow(NPWindow* window);
    virtual NPError NewStream(NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype);
    virtual NPError DestroyStream(NPStream* stream, NPReason reason);
    virtual int32_t WriteReady(NPStream* stream);
    virtual int32_t Write(NPStream* stream, int32_t offset, int32_t len, void* buffer);
    virtual void StreamAsFile(NPStream* stream, const char* fname);
    virtual void Print(NPPrint* platformPrint);
    virtual int16_t HandleEvent(void* event);
    virtual void URLNotify(const char* url, NPReason reason, void* notifyData);
    virtual NPError GetValue(NPPVariable variable, void* value);
    virtual NPError SetValue(NPNVariable variable, void* value);

    bool isReady() const { return m_isReady; }
    const NpapiBrowserHostPtr& getHost() const { return m_npHost; }

protected:
    // A width or height of the browser's NPWindow as the window keeps it: beyond 2^31 - 1
    // it is cut to that.
    static int32_t browserLength(uint32_t length) {
        return static_cast<int32_t>(std::min<uint32_t>(length, static_cast<uint32_t>(INT32_MAX)));
    }

    // The root object's wrapper with one more reference, the caller's; null when the
    // browser makes none.
    NPObject* getScriptableObject();

    NPJavascriptObject* m_obj;
    NpapiBrowserHostPtr m_npHost;
    bool m_retainReturnedNPObject;
    bool m_isReady;
    std::string m_mimetype;
    std::string m_pluginName;
    std::string m_pluginDesc;
};

}} // namespace FB::Npapi
