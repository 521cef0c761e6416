#pragma once
// FB::ActiveX::IDispatchAPI: a browser-side IDispatch seen as an FB::JSObject. Every
// operation runs on the main thread (other threads wait for it there). An IDispatch that is
// one of the plug-in's own bridge objects is answered by the plug-in object behind it.
// Once the host has gone nothing reaches the browser: names are absent, tests false, reads
// and calls give the empty value.

#include "ActiveXBrowserHost.h"
#include "JSObject.h"

#include <windows.h>
#include <dispex.h>

#include <string>
#include <vector>

namespace FB {
namespace ActiveX {

class IDispatchAPI : public JSObject {
public:
    static JSObjectPtr create(IDispatch* obj, const ActiveXBrowserHostPtr& host);
    ~IDispatchAPI() override;

    IDispatch* getIDispatch() const { return m_obj; }

    using JSAPI::getMemberNames;
    using JSAPI::GetProperty;
    using JSAPI::HasEvent;
    using JSAPI::Invoke;
    using JSAPI::SetProperty;

    void getMemberNames(std::vector<std::string>& nameVector) const override;
    size_t getMemberCount() const override;
    bool HasMethod(const std::string& methodName) const override;
    bool HasMethod(const std::wstring& methodName) const override;
    bool HasProperty(int idx) const override;
    bool HasProperty(const std::string& propertyName) const override;
    bool HasProperty(const std::wstring& propertyName) const override;
    bool HasEvent(const std::string& eventName) const override;
    bool HasEvent(const std::wstring& eventName) const override;
    variant GetProperty(int idx) override;
    variant GetProperty(const std::string& propertyName) override;
    void SetProperty(int idx, const variant& value) override;
    void SetProperty(const std::string& propertyName, const variant& value) override;
    variant Invoke(const std::string& methodName, const VariantList& args) override;

    void* getEventId() const override { return m_obj; }
    void* getEventContext() const override;
    JSAPIPtr getJSAPI() const override;

    // -1 when the object has no such member (or the host has gone).
    DISPID getIDForName(const std::wstring& name) const;

private:
    IDispatchAPI(IDispatch* obj, const ActiveXBrowserHostPtr& host);

    ActiveXBrowserHostPtr liveHost() const;
    JSAPIPtr innerAPI() const { return m_isJSAPI ? m_api.lock() : JSAPIPtr(); }
    // The read, on the main thread, through IDispatchEx when there is one; its HRESULT.
    HRESULT readMember(DISPID id, VARIANT* result) const;
    HRESULT callMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) const;
    std::shared_ptr<IDispatchAPI> self() { return std::static_pointer_cast<IDispatchAPI>(shared_from_this()); }
    std::shared_ptr<const IDispatchAPI> self() const {
        return std::static_pointer_cast<const IDispatchAPI>(shared_from_this());
    }

    ActiveXBrowserHostWeakPtr m_browser;
    IDispatch* m_obj;
    bool m_isJSAPI = false;
    JSAPIWeakPtr m_api;
};

} // namespace ActiveX
} // namespace FB
