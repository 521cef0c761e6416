#pragma once
// FB::Npapi::NPObjectAPI: a browser-side NPObject seen as an FB::JSObject. Each operation
// goes to the browser through the host's wrappers, moving to the browser's main thread
// when called elsewhere. An NPObject that is one of
// the plug-in's own wrappers is answered by the plug-in object behind it directly.
//
// The wrapper holds one browser reference, given back on the main thread. Once the host
// is gone or shut down nothing reaches the browser: the operations answer false, 0, an
// empty value or nothing.

#include "JSObject.h"
#include "NpapiTypes.h"
#include "npruntime.h"

#include <memory>
#include <string>
#include <vector>

namespace FB { namespace Npapi {

class NPObjectAPI : public JSObject {
public:
    NPObjectAPI(NPObject* o, const NpapiBrowserHostPtr& h);
    ~NPObjectAPI() override;

    // Null once the browser has freed the object (or when there is none).
    NPObject* getNPObject() const { return objectFreed() ? nullptr : obj; }

    using JSAPI::getMemberNames;
    using JSAPI::HasMethod;
    using JSAPI::HasProperty;
    using JSAPI::HasEvent;
    using JSAPI::GetProperty;
    using JSAPI::SetProperty;
    using JSAPI::Invoke;

    void getMemberNames(std::vector<std::string>& nameVector) const override;
    size_t getMemberCount() const override;
    bool HasMethod(const std::string& methodName) const override;
    bool HasProperty(int idx) const override;
    bool HasProperty(const std::string& propertyName) const override;
    bool HasEvent(const std::string& eventName) const override;
    // FB::script_error naming the property or method when the browser reports a failure.
    variant GetProperty(int idx) override;
    variant GetProperty(const std::string& propertyName) override;
    void SetProperty(int idx, const variant& value) override;
    void SetProperty(const std::string& propertyName, const variant& value) override;
    // The empty name calls the object itself (a page function).
    variant Invoke(const std::string& methodName, const VariantList& args) override;

    void* getEventId() const override { return obj; }
    void* getEventContext() const override;
    JSAPIPtr getJSAPI() const override;

private:
    // The host while it can still reach the browser; null otherwise.
    NpapiBrowserHostPtr liveHost() const;
    // One of the plug-in's own wrappers, of this instance or another, that the browser
    // freed (with its instance) under this wrapper's reference: it is not touched again.
    bool objectFreed() const { return m_ownWrapper && m_wrapperLife.expired(); }
    // The plug-in object behind an own wrapper; null when it has gone (or for a browser
    // object).
    JSAPIPtr innerAPI() const { return is_JSAPI ? inner.lock() : JSAPIPtr(); }
    std::shared_ptr<NPObjectAPI> self() { return std::static_pointer_cast<NPObjectAPI>(shared_from_this()); }
    std::shared_ptr<const NPObjectAPI> self() const {
        return std::static_pointer_cast<const NPObjectAPI>(shared_from_this());
    }

    NpapiBrowserHostWeakPtr m_browser;
    NPObject* obj;
    bool is_JSAPI;
    JSAPIWeakPtr inner;
    bool m_ownWrapper = false;
    std::weak_ptr<const void> m_wrapperLife;
};

}} // namespace FB::Npapi
