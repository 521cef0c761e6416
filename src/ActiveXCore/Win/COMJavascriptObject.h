#pragma once
// FB::ActiveX::COMJavascriptObject: the COM object in which a plug-in JSAPI other than the
// control's root object reaches script. Made on demand, lives by COM references, keeps
// the module locked while alive. Not creatable by class id.

#include "JSAPI_IDispatchEx.h"

#include <objsafe.h>
#include <ocidl.h>

namespace FB {
namespace ActiveX {

class COMJavascriptObject : public JSAPI_IDispatchEx, public IObjectSafety, public IProvideClassInfo2 {
public:
    COMJavascriptObject();
    ~COMJavascriptObject() override;

    void setAutoRelease(bool autoRelease) { m_autoRelease = autoRelease; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    IUnknown* identity() override { return static_cast<IDispatchEx*>(this); }

    // IObjectSafety: supports INTERFACESAFE_FOR_UNTRUSTED_CALLER | _DATA.
    HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override;
    HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) override;
    // IProvideClassInfo2: there is no type information to give.
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;

private:
    volatile LONG m_refs = 0;
    DWORD m_safety = 0;
    bool m_autoRelease = false;
};

} // namespace ActiveX
} // namespace FB
