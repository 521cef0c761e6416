#include "JSAPI_IDispatchEx.h"

#include "DispIdMap.h"
#include "IDispatchAPI.h"
#include "JSExceptions.h"
#include "logging.h"
#include "utf8_tools.h"

#include <oleauto.h>
#include <olectl.h>
#include <mshtmdid.h>

#include <exception>
#include <vector>

namespace FB {
namespace ActiveX {

namespace {

const std::wstring kAttachEvent = L"attachEvent";
const std::wstring kDetachEvent = L"detachEvent";

BSTR makeBstr(const std::string& utf8) {
    std::wstring text = utf8_to_wstring(utf8);
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// The script's arguments in script order: COM passes them last first.
VariantList argumentsOf(DISPPARAMS* params, const ActiveXBrowserHostPtr& host, bool skipThis) {
    VariantList args;
    if (!params || !params->rgvarg)
        return args;
    const UINT count = params->cArgs;
    const UINT end = skipThis ? 1 : 0;
    for (UINT i = count; i > end; --i)
        args.push_back(host ? host->getVariant(&params->rgvarg[i - 1]) : variant());
    return args;
}

// One enumerator over the object's single connection point.
class SinglePointEnum : public IEnumConnectionPoints {
public:
    SinglePointEnum(IConnectionPoint* point, ULONG position) : m_point(point), m_position(position) {
        m_point->AddRef();
    }
    virtual ~SinglePointEnum() { m_point->Release(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IEnumConnectionPoints))
            return E_NOINTERFACE;
        *out = static_cast<IEnumConnectionPoints*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return static_cast<ULONG>(refs);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
        if (!points)
            return E_POINTER;
        ULONG got = 0;
        if (count > 0 && m_position == 0) {
            points[0] = m_point;
            m_point->AddRef();
            m_position = 1;
            got = 1;
        }
        if (fetched)
            *fetched = got;
        return got == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        if (count == 0)
            return S_OK;
        bool had = m_position == 0;
        m_position = 1;
        return had && count == 1 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        m_position = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** out) override {
        if (!out)
            return E_POINTER;
        *out = new SinglePointEnum(m_point, m_position);
        return S_OK;
    }

private:
    volatile LONG m_refs = 1;
    IConnectionPoint* m_point;
    ULONG m_position;
};

} // namespace

JSAPI_IDispatchExBase::EventMethod::EventMethod(JSAPI_IDispatchExBase* owner, const std::string& name, bool attach)
    : JSFunction(JSAPIWeakPtr(), name, SecurityScope_Public), m_owner(owner), m_attach(attach) {}

variant JSAPI_IDispatchExBase::EventMethod::call(const VariantList& args) {
    m_owner->setEventListener(args, m_attach);
    return variant();
}

JSAPI_IDispatchExBase::JSAPI_IDispatchExBase()
    : m_attachFunc(std::make_shared<EventMethod>(this, "attachEvent", true)),
      m_detachFunc(std::make_shared<EventMethod>(this, "detachEvent", false)) {}

JSAPI_IDispatchExBase::~JSAPI_IDispatchExBase() = default;

JSAPI_IDispatchEx::JSAPI_IDispatchEx(const std::string& mimetype) : m_mimetype(mimetype) {}

JSAPI_IDispatchEx::~JSAPI_IDispatchEx() {
    // The served object may outlive this bridge; it must not keep calling our sinks.
    disconnectAll();
}

void JSAPI_IDispatchEx::setAPI(const JSAPIWeakPtr& api, const ActiveXBrowserHostWeakPtr& host) {
    m_api = api;
    m_host = host;
    m_serving = Serving::Now;
    JSAPIPtr served = api.lock();
    if (!served)
        return;
    // A container connects its event sink during quick activation, before the parameters
    // are loaded and the object exists.
    for (const auto& connection : m_connUnkMap) {
        try {
            served->registerEventInterface(connection.second);
        } catch (const std::exception& e) {
            FBLOG_WARN("JSAPI_IDispatchEx", "A connected sink could not be registered: " << e.what());
        }
    }
}

void JSAPI_IDispatchEx::resetAPI() {
    m_api.reset();
    m_serving = Serving::Ended;
}

void JSAPI_IDispatchEx::disconnectAll() {
    std::map<std::uint32_t, JSObjectPtr> connections;
    connections.swap(m_connUnkMap);
    JSAPIPtr served = m_api.lock();
    for (const auto& connection : connections) {
        try {
            if (served)
                served->unregisterEventInterface(connection.second);
        } catch (const std::exception&) {
        }
    }
    // The wrappers die here, with their host still there to release the sinks.
}

void JSAPI_IDispatchEx::rehost(const ActiveXBrowserHostPtr& host) {
    m_host = host;
    JSAPIPtr served = m_api.lock();
    for (auto& connection : m_connUnkMap) {
        auto* old = dynamic_cast<IDispatchAPI*>(connection.second.get());
        if (!old || !host)
            continue;
        JSObjectPtr wrapper = IDispatchAPI::create(old->getIDispatch(), host);
        try {
            if (served) {
                served->unregisterEventInterface(connection.second);
                served->registerEventInterface(wrapper);
            }
        } catch (const std::exception& e) {
            FBLOG_WARN("JSAPI_IDispatchEx", "A connected sink could not move to the new host: " << e.what());
        }
        connection.second = wrapper;
    }
}

JSAPIPtr JSAPI_IDispatchEx::getAPI() const {
    JSAPIPtr api = m_api.lock();
    if (!api)
        throw bad_variant_cast(typeid(JSAPIWeakPtr), typeid(JSAPIPtr));
    return api;
}

void JSAPI_IDispatchEx::setEventListener(const VariantList& args, bool attach) {
    if (args.size() != 2)
        throw invalid_arguments();
    std::string name;
    JSObjectPtr handler;
    try {
        name = args[0].convert_cast<std::string>();
        handler = args[1].convert_cast<JSObjectPtr>();
    } catch (const std::exception& e) {
        throw invalid_arguments(e.what());
    }
    JSAPIPtr api = getAPI();
    if (attach)
        api->registerEventMethod(name, handler);
    else
        api->unregisterEventMethod(name, handler);
}

HRESULT JSAPI_IDispatchEx::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }

HRESULT JSAPI_IDispatchEx::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT JSAPI_IDispatchEx::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (count > 0 && (!names || !ids))
        return E_POINTER;
    for (UINT i = 0; i < count; ++i) {
        BSTR name = SysAllocString(names[i]);
        HRESULT hr = GetDispID(name, 0, &ids[i]);
        SysFreeString(name);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT JSAPI_IDispatchEx::Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                  EXCEPINFO* exception, UINT*) {
    return InvokeEx(id, lcid, flags, params, result, exception, nullptr);
}

HRESULT JSAPI_IDispatchEx::GetDispID(BSTR name, DWORD, DISPID* id) {
    if (!id)
        return E_POINTER;
    *id = DISPID_UNKNOWN;
    try {
        std::wstring wide = name ? std::wstring(name, SysStringLen(name)) : std::wstring();
        if (wide == kAttachEvent || wide == kDetachEvent) {
            *id = dispIdMap().getIdForValue(variant(wide));
            return S_OK;
        }
        JSAPIPtr api = getAPI();
        if (!api->HasProperty(wide) && !api->HasMethod(wide) && !api->HasEvent(wide))
            return DISP_E_UNKNOWNNAME;
        *id = dispIdMap().getIdForValue(variant(wide));
        return S_OK;
    } catch (const std::exception&) {
        *id = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
}

variant JSAPI_IDispatchEx::invokeMember(JSAPIPtr& api, DISPID id, std::wstring& name, WORD flags,
                                        DISPPARAMS* params, const ActiveXBrowserHostPtr& host, bool& handled) {
    handled = true;
    if (name == kAttachEvent || name == kDetachEvent) {
        std::shared_ptr<EventMethod> method = name == kAttachEvent ? m_attachFunc : m_detachFunc;
        if (flags & DISPATCH_METHOD) {
            method->call(argumentsOf(params, host, false));
            return variant();
        }
        if (flags & DISPATCH_PROPERTYGET)
            return variant(JSAPIPtr(method));
        return variant();
    }
    if ((flags & DISPATCH_METHOD) && (api->HasMethod(name) || id == DISPID_VALUE)) {
        bool hasThis = params && params->cNamedArgs > 0 && params->rgdispidNamedArgs &&
                       params->rgdispidNamedArgs[0] == DISPID_THIS && params->cArgs > 0;
        VariantList args = argumentsOf(params, host, false);
        if (hasThis) {
            // Element 0 of the array is the this argument, last in script order.
            args.pop_back();
            if (id == DISPID_VALUE)
                name.clear();
        }
        return api->Invoke(name, args);
    }
    if (flags & DISPATCH_PROPERTYGET) {
        if (api->HasMethod(name)) {
            if (api->HasMethodObject(name))
                return variant(api->GetMethodObject(name));
            return variant(true);
        }
        if (api->HasProperty(name))
            return api->GetProperty(name);
    }
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (!params || params->cArgs < 1 || !params->rgvarg)
            throw invalid_arguments("A property needs a value");
        if (api->HasEvent(name)) {
            variant value = host ? host->getVariant(&params->rgvarg[0]) : variant();
            if (value.empty() || value.is_null())
                api->setDefaultEventMethod(name, JSObjectPtr());
            else
                api->setDefaultEventMethod(name, value.convert_cast<JSObjectPtr>());
            handled = false;
            return variant();
        }
        if (api->HasProperty(name)) {
            api->SetProperty(name, host ? host->getVariant(&params->rgvarg[0]) : variant());
            handled = false;
            return variant();
        }
    }
    throw invalid_member("Invalid method or property name");
}

HRESULT JSAPI_IDispatchEx::InvokeEx(DISPID id, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                    EXCEPINFO* exception, IServiceProvider*) {
    // A container asks for the ready state before the object is there to serve: that is
    // what the state tells it.
    if (id == DISPID_READYSTATE && (flags & DISPATCH_PROPERTYGET)) {
        if (!result)
            return E_INVALIDARG;
        VariantInit(result);
        V_VT(result) = VT_I4;
        V_I4(result) = m_readyState;
        return S_OK;
    }
    JSAPIPtr api = m_api.lock();
    if (!api)
        return DISP_E_MEMBERNOTFOUND;
    std::wstring name;
    try {
        if (!dispIdMap().idExists(id))
            return DISP_E_MEMBERNOTFOUND;
        name = dispIdMap().getValueForId<std::wstring>(id);
    } catch (const std::exception&) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (result)
        VariantInit(result);
    if (flags & DISPATCH_PROPERTYGET) {
        if (!result)
            return E_INVALIDARG;
        if (id == DISPID_SECURITYCTX)
            return E_NOTIMPL;
        if (id == DISPID_READYSTATE) {
            V_VT(result) = VT_I4;
            V_I4(result) = m_readyState;
            return S_OK;
        }
        if (id == DISPID_ENABLED) {
            V_VT(result) = VT_BOOL;
            V_BOOL(result) = VARIANT_TRUE;
            return S_OK;
        }
    }
    // Only these flags name an operation; anything else is no call of ours.
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
        return DISP_E_MEMBERNOTFOUND;
    ActiveXBrowserHostPtr host = getHost();
    const std::wstring memberName = name;
    try {
        bool hasValue = false;
        variant value = invokeMember(api, id, name, flags, params, host, hasValue);
        if (hasValue && result && host)
            host->getComVariant(result, value);
        return S_OK;
    } catch (const invalid_member&) {
        FBLOG_INFO("JSAPI_IDispatchEx", "No such member: \"" << wstring_to_utf8(memberName) << "\"");
        return DISP_E_MEMBERNOTFOUND;
    } catch (const script_error& e) {
        FBLOG_INFO("JSAPI_IDispatchEx",
                   "Script error for \"" << wstring_to_utf8(memberName) << "\": " << e.what());
        if (exception) {
            *exception = EXCEPINFO();
            exception->bstrSource = makeBstr(m_mimetype);
            exception->bstrDescription = makeBstr(e.what());
            exception->bstrHelpFile = nullptr;
            exception->pfnDeferredFillIn = nullptr;
            exception->scode = E_NOTIMPL;
        }
        return DISP_E_EXCEPTION;
    } catch (...) {
        return E_NOTIMPL;
    }
}

HRESULT JSAPI_IDispatchEx::DeleteMemberByName(BSTR, DWORD) { return E_NOTIMPL; }

HRESULT JSAPI_IDispatchEx::DeleteMemberByDispID(DISPID) { return E_NOTIMPL; }

HRESULT JSAPI_IDispatchEx::GetMemberProperties(DISPID, DWORD, DWORD*) { return E_NOTIMPL; }

HRESULT JSAPI_IDispatchEx::GetMemberName(DISPID id, BSTR* name) {
    if (!name)
        return E_POINTER;
    *name = nullptr;
    try {
        std::wstring text = dispIdMap().getValueForId<std::wstring>(id);
        *name = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *name ? S_OK : DISP_E_UNKNOWNNAME;
    } catch (...) {
        return DISP_E_UNKNOWNNAME;
    }
}

HRESULT JSAPI_IDispatchEx::GetNextDispID(DWORD, DISPID id, DISPID* next) {
    if (!next)
        return E_POINTER;
    try {
        JSAPIPtr api = m_api.lock();
        if (!api)
            return S_FALSE;
        if (m_memberNameCache.size() != api->getMemberCount()) {
            m_memberNameCache.clear();
            std::vector<std::wstring> names;
            api->getMemberNames(names);
            m_memberNameCache.assign(names.begin(), names.end());
            m_memberNameCache.push_back(kAttachEvent);
            m_memberNameCache.push_back(kDetachEvent);
        }
        if (m_memberNameCache.empty())
            return S_FALSE;
        if (id == DISPID_STARTENUM) {
            *next = dispIdMap().getIdForValue(variant(m_memberNameCache.front()));
            return S_OK;
        }
        if (!dispIdMap().idExists(id))
            return S_FALSE;
        std::wstring current = dispIdMap().getValueForId<std::wstring>(id);
        for (auto it = m_memberNameCache.begin(); it != m_memberNameCache.end(); ++it) {
            if (*it != current)
                continue;
            if (++it == m_memberNameCache.end())
                return S_FALSE;
            *next = dispIdMap().getIdForValue(variant(*it));
            return S_OK;
        }
        return S_FALSE;
    } catch (...) {
        return S_FALSE;
    }
}

HRESULT JSAPI_IDispatchEx::GetNameSpaceParent(IUnknown**) { return E_NOTIMPL; }

HRESULT JSAPI_IDispatchEx::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (!points)
        return E_POINTER;
    *points = new (std::nothrow) SinglePointEnum(static_cast<IConnectionPoint*>(this), 0);
    return *points ? S_OK : E_OUTOFMEMORY;
}

HRESULT JSAPI_IDispatchEx::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (!point)
        return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(iid, DIID_IFBComEventSource))
        return CONNECT_E_NOCONNECTION;
    *point = static_cast<IConnectionPoint*>(this);
    (*point)->AddRef();
    return S_OK;
}

HRESULT JSAPI_IDispatchEx::GetConnectionInterface(IID* iid) {
    if (!iid)
        return E_POINTER;
    *iid = DIID_IFBComEventSource;
    return S_OK;
}

HRESULT JSAPI_IDispatchEx::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container)
        return E_POINTER;
    return identity()->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container));
}

HRESULT JSAPI_IDispatchEx::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie)
        return E_POINTER;
    *cookie = 0;
    try {
        // Before the object is served a sink waits for it (setAPI); once it has gone there
        // is nothing to connect to, and nothing may be kept.
        JSAPIPtr served = m_api.lock();
        if (m_serving == Serving::Ended || (m_serving == Serving::Now && !served))
            return CONNECT_E_CANNOTCONNECT;
        ActiveXBrowserHostPtr host = getHost();
        if (!host)
            return CONNECT_E_CANNOTCONNECT;
        IDispatch* disp = nullptr;
        if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp))) || !disp)
            return CONNECT_E_CANNOTCONNECT;
        JSObjectPtr wrapper = IDispatchAPI::create(disp, host);
        disp->Release();
        if (served)
            served->registerEventInterface(wrapper);
        // The wrapper's address, cut to the cookie's 32 bits; a clash (or 0, which means no
        // connection) takes the next free one.
        auto key = static_cast<std::uint32_t>(reinterpret_cast<uintptr_t>(wrapper.get()));
        while (key == 0 || m_connUnkMap.count(key))
            ++key;
        m_connUnkMap[key] = wrapper;
        *cookie = key;
        return S_OK;
    } catch (const std::exception&) {
        return CONNECT_E_CANNOTCONNECT;
    }
}

HRESULT JSAPI_IDispatchEx::Unadvise(DWORD cookie) {
    auto found = m_connUnkMap.find(cookie);
    if (found == m_connUnkMap.end())
        return E_UNEXPECTED;
    JSObjectPtr wrapper = found->second;
    m_connUnkMap.erase(found);
    try {
        if (JSAPIPtr served = m_api.lock())
            served->unregisterEventInterface(wrapper);
    } catch (const std::exception&) {
    }
    return S_OK;
}

HRESULT JSAPI_IDispatchEx::EnumConnections(IEnumConnections**) { return E_NOTIMPL; }

} // namespace ActiveX
} // namespace FB
