#pragma once
// FB::JSObject: a browser-side script object seen through the JSAPI interface. The
// adapters derive from it; this layer adds the asynchronous calls that go through the
// instance's browser host to the main thread.

#include "JSAPI.h"

#include <memory>
#include <string>

namespace FB {

class JSObject : public JSAPI {
public:
    explicit JSObject(const BrowserHostPtr& host);
    ~JSObject() override;

    // Identity of the underlying browser object, so that the same script function
    // registered twice is recognised; null here.
    virtual void* getEventId() const { return nullptr; }
    virtual void* getEventContext() const { return nullptr; }

    // Queue Invoke / SetProperty on the browser's main thread; the result is discarded and
    // the caller does not wait. std::runtime_error "Cannot invoke asynchronously" when the
    // host has gone.
    virtual void InvokeAsync(const std::string& methodName, const VariantList& args);
    virtual void SetPropertyAsync(const std::string& propertyName, const variant& value);

    // The plug-in object this browser object wraps; null when it wraps none.
    virtual JSAPIPtr getJSAPI() const = 0;

    // std::bad_weak_ptr when the host is gone.
    BrowserHostPtr getHost() const;

protected:
    BrowserHostWeakPtr m_host;
};

} // namespace FB
