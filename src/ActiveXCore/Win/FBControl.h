#pragma once
// FB::ActiveX::CFBControl: the ActiveX control Internet Explorer creates for the page's
// object element. It owns one plug-in object (BrowserPlugin), makes its host when sited,
// hands it the element's parameters, serves its root object through IDispatchEx, gives it
// a window on in-place activation and shuts the instance down on deactivation. The order a
// container follows: site, then Load (or InitNew), then activation.

#include "ActiveXBrowserHost.h"
#include "BrowserPlugin.h"
#include "JSAPI_IDispatchEx.h"
#include "OleControl.h"

#include <windows.h>
#include <exdisp.h>
#include <objsafe.h>
#include <ocidl.h>

#include <string>

namespace FB {

class PluginWindow;

namespace ActiveX {

class CFBControl : public JSAPI_IDispatchEx,
                   public Atl::OleControl,
                   public IObjectSafety,
                   public BrowserPlugin {
public:
    CFBControl();
    ~CFBControl() override;

    // The creator of the class's object-map entry: refuses aggregation.
    static HRESULT create(IUnknown* outer, REFIID iid, void** out);

    // IUnknown, for every interface of the control.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    IUnknown* identity() override { return static_cast<IOleObject*>(this); }

    // The ties to the browser.
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
    HRESULT STDMETHODCALLTYPE SetSite(IUnknown* site) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;

    // IObjectSafety
    HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override;
    HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) override;

    // BrowserPlugin: the instance's end (window, served object, host, plug-in object).
    void shutdown() override;

    // Repaints part of a windowless control; any thread.
    void invalidateWindow(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom);

protected:
    HRESULT InPlaceActivate(LONG verb, const RECT* posRect) override;
    bool ProcessWindowMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    HRESULT OnDraw(HDC dc, const RECT& bounds) override;
    const IID& sourceInterface() const override;

    virtual HRESULT setupHost(IWebBrowser2* web, IOleClientSite* site);
    virtual void setReady();
    virtual DWORD supportedSafety() const { return INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA; }

private:
    VariantMap readParams(IPropertyBag* bag);
    // What SetClientSite does after the standard part; E_FAIL for a site without IServiceProvider.
    HRESULT tieToSite(IOleClientSite* site);
    void releaseSiteServices();

    volatile LONG m_refs = 0;
    PluginWindow* pluginWin = nullptr;
    ActiveXBrowserHostPtr m_host;
    IServiceProvider* m_serviceProvider = nullptr;
    IWebBrowser2* m_webBrowser = nullptr;
    IPropertyNotifySink* m_propNotify = nullptr;
    DWORD m_safety = 0;
    std::string m_mimetype;
    // Kept alive by COM references: lets other threads reach the control safely.
    std::shared_ptr<CFBControl*> m_selfToken;
};

} // namespace ActiveX
} // namespace FB
