#include "IDispatchAPI.h"

#include "DispIdMap.h"
#include "JSAPI_IDispatchEx.h"
#include "JSExceptions.h"
#include "utf8_tools.h"

#include <oleauto.h>

namespace FB {
namespace ActiveX {

namespace {

// fdexNameCaseSensitive | fdexNameEnsure | fdexNameInternal
constexpr DWORD kNameFlags = 0x10000003;

IDispatchEx* dispatchExOf(IDispatch* obj) {
    IDispatchEx* ex = nullptr;
    if (FAILED(obj->QueryInterface(__uuidof(IDispatchEx), reinterpret_cast<void**>(&ex))))
        return nullptr;
    return ex;
}

} // namespace

JSObjectPtr IDispatchAPI::create(IDispatch* obj, const ActiveXBrowserHostPtr& host) {
    return JSObjectPtr(new IDispatchAPI(obj, host));
}

IDispatchAPI::IDispatchAPI(IDispatch* obj, const ActiveXBrowserHostPtr& host)
    : JSObject(host), m_browser(host), m_obj(obj) {
    m_obj->AddRef();
    JSAPIPtr inner = getJSAPI();
    if (inner) {
        m_isJSAPI = true;
        m_api = inner;
    }
}

IDispatchAPI::~IDispatchAPI() {
    ActiveXBrowserHostPtr host = m_browser.lock();
    if (host)
        host->deferRelease(m_obj);
    // Without a host the browser may be gone: the reference is dropped uncalled.
}

ActiveXBrowserHostPtr IDispatchAPI::liveHost() const {
    ActiveXBrowserHostPtr host = m_browser.lock();
    return host && !host->isShutDown() ? host : ActiveXBrowserHostPtr();
}

void* IDispatchAPI::getEventContext() const {
    ActiveXBrowserHostPtr host = m_browser.lock();
    return host ? host->getContextID() : nullptr;
}

JSAPIPtr IDispatchAPI::getJSAPI() const {
    IUnknown* own = nullptr;
    if (FAILED(m_obj->QueryInterface(IID_IFBControl, reinterpret_cast<void**>(&own))) || !own) {
        own = nullptr;
        if (FAILED(m_obj->QueryInterface(IID_IFBComJavascriptObject, reinterpret_cast<void**>(&own))))
            own = nullptr;
    }
    if (!own)
        return JSAPIPtr();
    IUnknown* element = nullptr;
    if (SUCCEEDED(m_obj->QueryInterface(IID_IHTMLElement, reinterpret_cast<void**>(&element))) && element) {
        element->Release();
        own->Release();
        return JSAPIPtr();
    }
    // Both interfaces are IDispatchEx of a JSAPI_IDispatchEx.
    auto* bridge = static_cast<JSAPI_IDispatchEx*>(static_cast<IDispatchEx*>(own));
    JSAPIPtr api = bridge->tryAPI();
    own->Release();
    return api;
}

DISPID IDispatchAPI::getIDForName(const std::wstring& name) const {
    if (name.empty())
        return DISPID_VALUE;
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr;
    IDispatchEx* ex = dispatchExOf(m_obj);
    BSTR text = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
    if (ex) {
        hr = ex->GetDispID(text, kNameFlags, &id);
        ex->Release();
    } else {
        LPOLESTR names[] = {text};
        hr = m_obj->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
    }
    SysFreeString(text);
    if (hr == E_NOTIMPL)
        return dispIdMap().getIdForValue(variant(name));
    return SUCCEEDED(hr) ? id : DISPID_UNKNOWN;
}

HRESULT IDispatchAPI::callMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) const {
    IDispatchEx* ex = dispatchExOf(m_obj);
    HRESULT hr;
    EXCEPINFO exception = {};
    if (ex) {
        hr = ex->InvokeEx(id, LOCALE_USER_DEFAULT, flags, params, result, &exception, nullptr);
        ex->Release();
    } else {
        hr = m_obj->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, &exception, nullptr);
    }
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return hr;
}

HRESULT IDispatchAPI::readMember(DISPID id, VARIANT* result) const {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return callMember(id, DISPATCH_PROPERTYGET, &none, result);
}

void IDispatchAPI::getMemberNames(std::vector<std::string>& nameVector) const {
    ActiveXBrowserHostPtr host = liveHost();
    if (!host)
        return;
    if (!host->isMainThread()) {
        auto self = this->self();
        std::vector<std::string>* out = &nameVector;
        host->CallOnMainThread([self, out]() { self->getMemberNames(*out); });
        return;
    }
    if (JSAPIPtr api = innerAPI()) {
        api->getMemberNames(nameVector);
        return;
    }
    IDispatchEx* ex = dispatchExOf(m_obj);
    if (!ex)
        throw script_error("Cannot enumerate members; IDispatchEx not supported");
    DISPID id = DISPID_STARTENUM;
    // A failing step ends the walk as the end of the members does.
    while (ex->GetNextDispID(fdexEnumAll, id, &id) == S_OK) {
        if (id < 0)
            continue;
        BSTR name = nullptr;
        if (SUCCEEDED(ex->GetMemberName(id, &name)) && name)
            nameVector.push_back(wstring_to_utf8(std::wstring(name, SysStringLen(name))));
        SysFreeString(name);
    }
    ex->Release();
}

size_t IDispatchAPI::getMemberCount() const {
    ActiveXBrowserHostPtr host = liveHost();
    if (!host)
        return 0;
    if (!host->isMainThread()) {
        auto self = this->self();
        return host->CallOnMainThread([self]() { return self->getMemberCount(); });
    }
    if (m_isJSAPI) {
        JSAPIPtr api = innerAPI();
        return api ? api->getMemberCount() : 0;
    }
    IDispatchEx* ex = dispatchExOf(m_obj);
    if (!ex)
        return static_cast<size_t>(-1);
    size_t count = 0;
    DISPID id = DISPID_STARTENUM;
    while (ex->GetNextDispID(fdexEnumAll, id, &id) == S_OK)
        if (id >= 0)
            ++count;
    ex->Release();
    return count;
}

bool IDispatchAPI::HasMethod(const std::string& methodName) const {
    ActiveXBrowserHostPtr host = liveHost();
    if (!host)
        return false;
    if (!host->isMainThread()) {
        auto self = this->self();
        return host->CallOnMainThread([self, methodName]() { return self->HasMethod(methodName); });
    }
    if (JSAPIPtr api = innerAPI())
        return api->HasMethod(methodName);
    return getIDForName(utf8_to_wstring(methodName)) != DISPID_UNKNOWN && !HasProperty(methodName);
}

bool IDispatchAPI::HasMethod(const std::wstring& methodName) const {
    ActiveXBrowserHostPtr host = liveHost();
    if (!host)
        return false;
    if (!host->isMainThread()) {
        auto self = this->self();
        return host->CallOnMainThread([self, methodName]() { return self->HasMethod(methodName); });
    }
    if (JSAPIPtr api = innerAPI())
        return api->HasMethod(methodName);
    return getIDForName(methodName) != DISPID_UNKNOWN;
}

bool IDispatchAPI::HasEvent(const std::string& eventName) const { return HasEvent(utf8_to_wstring(eventName)); }

bool IDispatchAPI::HasEvent(const std::wstring& eventName) const {
    ActiveXBrowserHostPtr host = liveHost();
    if (!host)
        return false;
    if (!host->isMainThread()) {
        auto self = this->self();
        return host->CallOnMainThread([self, eventName]() { return self->HasEvent(eventName); });
    }
    if (JSAPIPtr api = innerAPI())
        return api->HasEvent(eventName);
    return getIDForName(eventName) != DISPID_UNKNOWN;
}

bool IDispatchAPI::HasProperty(const std::wstring& propertyName) const {
    return HasProperty(wstring_to_utf8(propertyName));
}

bool IDispatchAPI::HasProperty(const std::string& propertyName) const {
    ActiveXBrowserHostPtr host = liveHost();
    if (!host)
        return false;
    if (!host->isMainThread()) {
        auto self = this->self();
        return host->CallOnMainThread([self, propertyName]() { return self->HasProperty(propertyName); });
    }
    if (JSAPIPtr api = innerAPI())
        return api->HasProperty(propertyName);
    DISPID id = getIDForName(utf8_to_wstring(propertyName));
    if (id == DISPID_UNKNOWN && propertyName != "toString")
        return false;
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = readMember(id, &result);
    VariantClear(&result);
    return SUCCEEDED(hr);
}

bool IDispatchAPI::HasProperty(int idx) const {
    ActiveXBrowserHostPtr host = liveHost();
    if (!host)
        return false;
    if (!host->isMainThread()) {
        auto self = this->self();
        return host->CallOnMainThread([self, idx]() { return self->HasProperty(idx); });
    }
    if (JSAPIPtr api = innerAPI())
        return api->HasProperty(idx);
    return getIDForName(std::to_wstring(idx)) != DISPID_UNKNOWN;
}

variant IDispatchAPI::GetProperty(int idx) { return GetProperty(std::to_string(idx)); }

variant IDispatchAPI::GetProperty(const std::string& propertyName) {
    ActiveXBrowserHostPtr host = liveHost();
    if (!host)
        return variant();
    if (!host->isMainThread()) {
        auto self = this->self();
        return host->CallOnMainThread([self, propertyName]() { return self->GetProperty(propertyName); });
    }
    if (JSAPIPtr api = innerAPI())
        return api->GetProperty(propertyName);
    DISPID id = getIDForName(utf8_to_wstring(propertyName));
    if (id == DISPID_UNKNOWN && propertyName != "toString")
        throw script_error("Could not get property");
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = readMember(id, &result);
    if (FAILED(hr)) {
        VariantClear(&result);
        throw script_error("Could not get property");
    }
    variant out = host->getVariant(&result);
    VariantClear(&result);
    return out;
}

void IDispatchAPI::SetProperty(int idx, const variant& value) {
    ActiveXBrowserHostPtr host = liveHost();
    if (!host)
        return;
    if (!host->isMainThread()) {
        auto self = this->self();
        host->CallOnMainThread([self, idx, value]() { self->SetProperty(idx, value); });
        return;
    }
    if (JSAPIPtr api = innerAPI()) {
        api->SetProperty(idx, value);
        return;
    }
    SetProperty(std::to_string(idx), value);
}

void IDispatchAPI::SetProperty(const std::string& propertyName, const variant& value) {
    ActiveXBrowserHostPtr host = liveHost();
    if (!host)
        return;
    if (!host->isMainThread()) {
        auto self = this->self();
        host->CallOnMainThread([self, propertyName, value]() { self->SetProperty(propertyName, value); });
        return;
    }
    if (JSAPIPtr api = innerAPI()) {
        api->SetProperty(propertyName, value);
        return;
    }
    DISPID id = getIDForName(utf8_to_wstring(propertyName));
    if (id == DISPID_UNKNOWN)
        throw script_error("Could not set property");
    VARIANT arg;
    host->getComVariant(&arg, value);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&arg, &named, 1, 1};
    IDispatchEx* ex = dispatchExOf(m_obj);
    WORD flags = ex ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
    if (ex)
        ex->Release();
    HRESULT hr = callMember(id, flags, &params, nullptr);
    VariantClear(&arg);
    if (FAILED(hr))
        throw script_error("Could not set property");
}

variant IDispatchAPI::Invoke(const std::string& methodName, const VariantList& args) {
    ActiveXBrowserHostPtr host = liveHost();
    if (!host)
        return variant();
    if (!host->isMainThread()) {
        auto self = this->self();
        return host->CallOnMainThread([self, methodName, args]() { return self->Invoke(methodName, args); });
    }
    if (JSAPIPtr api = innerAPI())
        return api->Invoke(methodName, args);
    DISPID id = getIDForName(utf8_to_wstring(methodName));
    if (id == DISPID_UNKNOWN)
        throw script_error("Method invoke failed");
    const size_t count = args.size();
    std::vector<VARIANT> params(count + 1);
    for (VARIANT& v : params)
        VariantInit(&v);
    V_VT(&params[0]) = VT_DISPATCH;
    V_DISPATCH(&params[0]) = m_obj;
    m_obj->AddRef();
    try {
        for (size_t i = 0; i < count; ++i)
            host->getComVariant(&params[count - i], args[i]);
    } catch (...) {
        for (VARIANT& v : params)
            VariantClear(&v);
        throw;
    }
    DISPID named = DISPID_THIS;
    DISPPARAMS dispParams = {params.data(), &named, static_cast<UINT>(params.size()), 1};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = callMember(id, DISPATCH_METHOD, &dispParams, &result);
    for (VARIANT& v : params)
        VariantClear(&v);
    if (FAILED(hr)) {
        VariantClear(&result);
        throw script_error("Method invoke failed");
    }
    variant out = host->getVariant(&result);
    VariantClear(&result);
    return out;
}

} // namespace ActiveX
} // namespace FB
