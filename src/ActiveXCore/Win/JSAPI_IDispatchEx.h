#pragma once
// FB::ActiveX::JSAPI_IDispatchEx: how a plug-in JSAPI is seen by script under Internet
// Explorer. IDispatchEx resolves names through the process's DISPID map and calls the
// served object; the one connection point (IFBComEventSource) turns sinks into event
// interfaces of the object. "attachEvent" and "detachEvent" are always there. No exception
// leaves a COM method: framework errors become HRESULTs and filled EXCEPINFOs.
//
// The COM class deriving from it supplies IUnknown (and with it the object's identity).

#include "ActiveXBrowserHost.h"
#include "ComInterfaces.h"
#include "JSFunction.h"

#include <windows.h>
#include <dispex.h>
#include <ocidl.h>

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

namespace FB {
namespace ActiveX {

class JSAPI_IDispatchExBase {
public:
    JSAPI_IDispatchExBase();
    virtual ~JSAPI_IDispatchExBase();
    // "attachEvent" (attach) or "detachEvent" with the script's two arguments.
    virtual void setEventListener(const VariantList& args, bool attach) = 0;

protected:
    // "attachEvent" / "detachEvent" as script function objects.
    class EventMethod : public JSFunction {
    public:
        EventMethod(JSAPI_IDispatchExBase* owner, const std::string& name, bool attach);
        variant call(const VariantList& args) override;

    private:
        JSAPI_IDispatchExBase* m_owner;
        bool m_attach;
    };

    std::shared_ptr<EventMethod> m_attachFunc;
    std::shared_ptr<EventMethod> m_detachFunc;
};

class JSAPI_IDispatchEx : public JSAPI_IDispatchExBase,
                          public IDispatchEx,
                          public IConnectionPointContainer,
                          public IConnectionPoint {
public:
    explicit JSAPI_IDispatchEx(const std::string& mimetype);
    ~JSAPI_IDispatchEx() override;

    // Sinks connected before there was an object to serve are registered with it now.
    void setAPI(const JSAPIWeakPtr& api, const ActiveXBrowserHostWeakPtr& host);
    // std::bad_cast (FB::bad_variant_cast) when the served object has gone.
    JSAPIPtr getAPI() const;
    // The object is no longer served, for good: later Advise calls are refused.
    void resetAPI();
    // Gives back every connected sink (unregistered from the served object). Must run while
    // the host the sinks were wrapped with is alive: the wrappers give their references
    // back through it.
    void disconnectAll();
    // The browser host changed (the control was sited again): calls and the connected sinks
    // go through the new one. The old host must still be alive.
    void rehost(const ActiveXBrowserHostPtr& host);
    // The served object or null, without raising.
    JSAPIPtr tryAPI() const { return m_api.lock(); }

    void setEventListener(const VariantList& args, bool attach) override;

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argError) override;
    // IDispatchEx
    HRESULT STDMETHODCALLTYPE GetDispID(BSTR name, DWORD flags, DISPID* id) override;
    HRESULT STDMETHODCALLTYPE InvokeEx(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                       EXCEPINFO* exception, IServiceProvider* caller) override;
    HRESULT STDMETHODCALLTYPE DeleteMemberByName(BSTR name, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE DeleteMemberByDispID(DISPID id) override;
    HRESULT STDMETHODCALLTYPE GetMemberProperties(DISPID id, DWORD fetch, DWORD* props) override;
    HRESULT STDMETHODCALLTYPE GetMemberName(DISPID id, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE GetNextDispID(DWORD flags, DISPID id, DISPID* next) override;
    HRESULT STDMETHODCALLTYPE GetNameSpaceParent(IUnknown** parent) override;
    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;
    // IConnectionPoint
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

    // The object's own IUnknown, for the connection-point enumerator.
    virtual IUnknown* identity() = 0;

protected:
    ActiveXBrowserHostPtr getHost() const { return m_host.lock(); }

    JSAPIWeakPtr m_api;
    ActiveXBrowserHostWeakPtr m_host;
    std::string m_mimetype;
    std::map<std::uint32_t, JSObjectPtr> m_connUnkMap;
    std::int32_t m_readyState = 1;  // READYSTATE_LOADING
    // Whether an object has been served yet, and whether that has ended.
    enum class Serving { NotYet, Now, Ended };
    Serving m_serving = Serving::NotYet;
    std::list<std::wstring> m_memberNameCache;

private:
    variant invokeMember(JSAPIPtr& api, DISPID id, std::wstring& name, WORD flags, DISPPARAMS* params,
                         const ActiveXBrowserHostPtr& host, bool& handled);
};

// What script holds of a plug-in object, with one reference: an IDispatchEx of a new
// COMJavascriptObject serving api. With autoRelease the wrapper releases the host's
// retention of api when it dies.
IDispatchEx* createCOMJSObject(const ActiveXBrowserHostPtr& host, const JSAPIWeakPtr& api, bool autoRelease);

} // namespace ActiveX
} // namespace FB
