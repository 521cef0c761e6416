#include "COMJavascriptObject.h"

#include "ObjectSafety.h"
#include "PluginWinModule.h"

#include <new>

namespace FB {
namespace ActiveX {

COMJavascriptObject::COMJavascriptObject() : JSAPI_IDispatchEx("application/x-orvanta") {
    pluginWinModule().lock();
}

COMJavascriptObject::~COMJavascriptObject() {
    if (m_autoRelease) {
        JSAPIPtr api = tryAPI();
        ActiveXBrowserHostPtr host = getHost();
        if (api && host)
            host->releaseJSObject(api);
    }
    pluginWinModule().unlock();
}

HRESULT COMJavascriptObject::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, DIID_IFBComEventSource) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, __uuidof(IDispatchEx)) || IsEqualIID(iid, IID_IUnknown) ||
        IsEqualIID(iid, IID_IFBComJavascriptObject))
        *out = static_cast<IDispatchEx*>(this);
    else if (IsEqualIID(iid, IID_IObjectSafety))
        *out = static_cast<IObjectSafety*>(this);
    else if (IsEqualIID(iid, IID_IConnectionPointContainer))
        *out = static_cast<IConnectionPointContainer*>(this);
    else if (IsEqualIID(iid, IID_IConnectionPoint))
        *out = static_cast<IConnectionPoint*>(this);
    else if (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2))
        *out = static_cast<IProvideClassInfo2*>(this);
    if (!*out)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG COMJavascriptObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

ULONG COMJavascriptObject::Release() {
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0)
        delete this;
    return static_cast<ULONG>(refs);
}

HRESULT COMJavascriptObject::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) {
    return Atl::getSafetyOptions(static_cast<IObjectSafety*>(this), iid, DWORD(INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA), m_safety, supported, enabled);
}

HRESULT COMJavascriptObject::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) {
    return Atl::setSafetyOptions(static_cast<IObjectSafety*>(this), iid, DWORD(INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA), mask, enabled, m_safety);
}

HRESULT COMJavascriptObject::GetClassInfo(ITypeInfo** info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    return E_NOTIMPL;
}

HRESULT COMJavascriptObject::GetGUID(DWORD kind, GUID* guid) {
    if (!guid)
        return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = DIID_IFBComEventSource;
    return S_OK;
}

IDispatchEx* createCOMJSObject(const ActiveXBrowserHostPtr& host, const JSAPIWeakPtr& api, bool autoRelease) {
    COMJavascriptObject* object = new (std::nothrow) COMJavascriptObject();
    if (!object)
        return nullptr;
    object->setAPI(api, host);
    object->setAutoRelease(autoRelease);
    object->AddRef();
    return static_cast<IDispatchEx*>(object);
}

} // namespace ActiveX
} // namespace FB
