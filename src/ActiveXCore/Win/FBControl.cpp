#include "FBControl.h"

#include "FactoryBase.h"
#include "ObjectSafety.h"
#include "PluginCore.h"
#include "PluginWinModule.h"
#include "PluginWindowWin.h"
#include "PluginWindowlessWin.h"
#include "logging.h"
#include "utf8_tools.h"

#include <olectl.h>
#include <servprov.h>
#include <shlguid.h>

#include <exception>
#include <new>
#include <vector>

namespace FB {
namespace ActiveX {

namespace {

const char kMimeType[] = "application/x-orvanta";
// OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT | ACTIVATEWHENVISIBLE |
// SETCLIENTSITEFIRST: the control's MiscStatus, as registered.
constexpr DWORD kMiscStatus = 131473;
// More parameters than any page has; a bag claiming more is not believed.
constexpr ULONG kMaxParams = 4096;

template <typename T>
void releaseAndClear(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

} // namespace

CFBControl::CFBControl()
    : JSAPI_IDispatchEx(kMimeType), Atl::OleControl(CLSID_FBControl0, kMiscStatus), BrowserPlugin(kMimeType),
      m_mimetype(kMimeType), m_selfToken(std::make_shared<CFBControl*>(this)) {
    pluginWinModule().lock();
    PluginCore::setPlatform("Windows", "IE");
    setFilesystemPath(pluginModulePath);
}

CFBControl::~CFBControl() {
    m_selfToken.reset();
    try {
        // A container may release the control without deactivating it.
        if (pluginMain)
            shutdown();
        if (m_host)
            m_host->shutdown();
    } catch (const std::exception& e) {
        FBLOG_WARN("CFBControl", "Shutdown at release failed: " << e.what());
    }
    // Sinks connected but never served still hold their references through this host.
    disconnectAll();
    m_host.reset();
    releaseSiteServices();
    pluginWinModule().unlock();
}

HRESULT CFBControl::create(IUnknown* outer, REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    CFBControl* control = nullptr;
    try {
        control = new CFBControl();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        FBLOG_WARN("CFBControl", "Cannot create the control: " << e.what());
        return E_FAIL;
    }
    control->AddRef();
    HRESULT hr = control->QueryInterface(iid, out);
    control->Release();
    return hr;
}

HRESULT CFBControl::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, DIID_IFBComEventSource) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, __uuidof(IDispatchEx)) || IsEqualIID(iid, IID_IFBControl))
        *out = static_cast<IDispatchEx*>(this);
    else if (IsEqualIID(iid, IID_IViewObjectEx) || IsEqualIID(iid, IID_IViewObject2) ||
             IsEqualIID(iid, IID_IViewObject))
        *out = static_cast<IViewObjectEx*>(this);
    else if (IsEqualIID(iid, IID_IOleInPlaceObjectWindowless) || IsEqualIID(iid, IID_IOleInPlaceObject) ||
             IsEqualIID(iid, IID_IOleWindow))
        *out = static_cast<IOleInPlaceObjectWindowless*>(this);
    else if (IsEqualIID(iid, IID_IOleInPlaceActiveObject))
        *out = static_cast<IOleInPlaceActiveObject*>(this);
    else if (IsEqualIID(iid, IID_IOleControl))
        *out = static_cast<IOleControl*>(this);
    else if (IsEqualIID(iid, IID_IOleObject) || IsEqualIID(iid, IID_IUnknown))
        *out = static_cast<IOleObject*>(this);
    else if (IsEqualIID(iid, IID_IConnectionPointContainer))
        *out = static_cast<IConnectionPointContainer*>(this);
    else if (IsEqualIID(iid, IID_IConnectionPoint))
        *out = static_cast<IConnectionPoint*>(this);
    else if (IsEqualIID(iid, IID_IQuickActivate))
        *out = static_cast<IQuickActivate*>(this);
    else if (IsEqualIID(iid, IID_IObjectWithSite))
        *out = static_cast<IObjectWithSite*>(this);
    else if (IsEqualIID(iid, IID_IObjectSafety))
        *out = static_cast<IObjectSafety*>(this);
    else if (IsEqualIID(iid, IID_IPersistPropertyBag) || IsEqualIID(iid, IID_IPersist))
        *out = static_cast<IPersistPropertyBag*>(this);
    else if (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2))
        *out = static_cast<IProvideClassInfo2*>(this);
    if (!*out)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG CFBControl::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

ULONG CFBControl::Release() {
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0)
        delete this;
    return static_cast<ULONG>(refs);
}

void CFBControl::releaseSiteServices() {
    releaseAndClear(m_propNotify);
    releaseAndClear(m_webBrowser);
    releaseAndClear(m_serviceProvider);
}

HRESULT CFBControl::tieToSite(IOleClientSite* site) {
    releaseSiteServices();
    if (FAILED(site->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&m_serviceProvider))) ||
        !m_serviceProvider) {
        m_serviceProvider = nullptr;
        return E_FAIL;
    }
    if (FAILED(m_serviceProvider->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2,
                                               reinterpret_cast<void**>(&m_webBrowser))))
        m_webBrowser = nullptr;
    if (m_webBrowser && FAILED(site->QueryInterface(IID_IPropertyNotifySink, reinterpret_cast<void**>(&m_propNotify))))
        m_propNotify = nullptr;
    return setupHost(m_webBrowser, site);
}

HRESULT CFBControl::SetClientSite(IOleClientSite* site) {
    HRESULT hr = OleControl::SetClientSite(site);
    if (site && pluginMain)
        return tieToSite(site);
    releaseSiteServices();
    if (m_host) {
        disconnectAll();
        m_host->shutdown();
        m_host.reset();
    }
    return hr;
}

HRESULT CFBControl::SetSite(IUnknown* site) {
    OleControl::SetSite(site);
    if (!site || !pluginMain) {
        SetClientSite(nullptr);
        return S_OK;
    }
    IOleClientSite* clientSite = nullptr;
    if (FAILED(site->QueryInterface(IID_IOleClientSite, reinterpret_cast<void**>(&clientSite))))
        clientSite = nullptr;
    OleControl::SetClientSite(clientSite);
    HRESULT hr = clientSite ? tieToSite(clientSite) : E_FAIL;
    if (!clientSite) {
        // A bare site still has to offer the browser's services.
        IServiceProvider* provider = nullptr;
        if (SUCCEEDED(site->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider))) && provider) {
            releaseSiteServices();
            m_serviceProvider = provider;
            if (FAILED(provider->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2,
                                              reinterpret_cast<void**>(&m_webBrowser))))
                m_webBrowser = nullptr;
            hr = setupHost(m_webBrowser, nullptr);
        }
    }
    if (clientSite)
        clientSite->Release();
    if (FAILED(hr))
        return E_FAIL;
    try {
        setReady();
    } catch (const std::exception& e) {
        FBLOG_WARN("CFBControl", "SetSite could not make the plug-in ready: " << e.what());
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CFBControl::setupHost(IWebBrowser2* web, IOleClientSite* site) {
    // Sited again (after Load, say): the served object and the connected sinks move to the
    // new host while the old one is still there to let go of what it wrapped.
    ActiveXBrowserHostPtr old = m_host;
    try {
        m_host = std::make_shared<ActiveXBrowserHost>(web, site);
        rehost(m_host);
        pluginMain->setHost(m_host);
    } catch (const std::exception& e) {
        FBLOG_WARN("CFBControl", "Cannot set up the browser host: " << e.what());
        disconnectAll();
        m_host.reset();
        if (old)
            old->shutdown();
        return E_FAIL;
    }
    if (old)
        old->shutdown();
    return S_OK;
}

HRESULT CFBControl::InitNew() {
    if (!pluginMain)
        return E_UNEXPECTED;
    try {
        pluginMain->setParams(VariantMap());
        setReady();
        return S_OK;
    } catch (const std::exception& e) {
        FBLOG_WARN("CFBControl", "InitNew failed: " << e.what());
        return E_FAIL;
    }
}

VariantMap CFBControl::readParams(IPropertyBag* bag) {
    VariantMap params;
    IPropertyBag2* bag2 = nullptr;
    if (!bag || FAILED(bag->QueryInterface(IID_IPropertyBag2, reinterpret_cast<void**>(&bag2))) || !bag2)
        return params;
    ULONG count = 0;
    if (FAILED(bag2->CountProperties(&count)) || count == 0 || count > kMaxParams) {
        bag2->Release();
        return params;
    }
    std::vector<PROPBAG2> info(count);
    ULONG described = 0;
    if (FAILED(bag2->GetPropertyInfo(0, count, info.data(), &described)) || described > count)
        described = 0;
    if (described > 0) {
        std::vector<VARIANT> values(described);
        std::vector<HRESULT> results(described, E_FAIL);
        for (VARIANT& v : values)
            VariantInit(&v);
        if (SUCCEEDED(bag2->Read(described, info.data(), nullptr, values.data(), results.data()))) {
            for (ULONG i = 0; i < described; ++i) {
                if (FAILED(results[i]) || !info[i].pstrName)
                    continue;
                std::string key = wstring_to_utf8(info[i].pstrName);
                params[key] = m_host ? m_host->getVariant(&values[i]) : variant();
            }
        }
        for (VARIANT& v : values)
            VariantClear(&v);
    }
    for (ULONG i = 0; i < described; ++i)
        CoTaskMemFree(info[i].pstrName);
    bag2->Release();
    return params;
}

HRESULT CFBControl::Load(IPropertyBag* bag, IErrorLog*) {
    if (!pluginMain)
        return E_UNEXPECTED;
    try {
        pluginMain->setParams(readParams(bag));
        setReady();
        return S_OK;
    } catch (const std::exception& e) {
        FBLOG_WARN("CFBControl", "Load failed: " << e.what());
        return E_FAIL;
    }
}

HRESULT CFBControl::Save(IPropertyBag*, BOOL, BOOL) { return S_OK; }

void CFBControl::setReady() {
    if (!pluginMain)
        return;
    m_bWindowOnly = !pluginMain->isWindowless();
    setAPI(pluginMain->getRootJSAPI(), m_host);
    m_readyState = READYSTATE_COMPLETE;
    if (m_propNotify)
        m_propNotify->OnChanged(DISPID_READYSTATE);
    pluginMain->setReady();
}

HRESULT CFBControl::InPlaceActivate(LONG verb, const RECT* posRect) {
    HRESULT hr = OleControl::InPlaceActivate(verb, posRect);
    if (FAILED(hr))
        return hr;
    if (pluginWin || !pluginMain)
        return S_OK;
    try {
        if (m_bWndLess) {
            PluginWindowlessWin* windowless =
                getFactoryInstance()->createPluginWindowless(WindowContextWindowless(nullptr));
            std::weak_ptr<CFBControl*> token = m_selfToken;
            windowless->setInvalidateWindowFunc([token](uint32_t left, uint32_t top, uint32_t right, uint32_t bottom) {
                if (auto self = token.lock())
                    (*self)->invalidateWindow(left, top, right, bottom);
            });
            pluginWin = windowless;
        } else {
            PluginWindowWin* windowed = getFactoryInstance()->createPluginWindowWin(WindowContextWin(m_hWnd));
            windowed->setCallOldWinProc(true);
            pluginWin = windowed;
        }
        pluginMain->SetWindow(pluginWin);
        return S_OK;
    } catch (const std::exception& e) {
        FBLOG_WARN("CFBControl", "In-place activation failed: " << e.what());
        return E_FAIL;
    }
}

HRESULT CFBControl::InPlaceDeactivate() {
    try {
        shutdown();
    } catch (const std::exception& e) {
        FBLOG_WARN("CFBControl", "Shutdown on deactivation failed: " << e.what());
    }
    return OleControl::InPlaceDeactivate();
}

void CFBControl::shutdown() {
    if (pluginMain)
        pluginMain->ClearWindow();
    delete pluginWin;
    pluginWin = nullptr;
    // Before the host goes: the sinks' wrappers release them through it.
    disconnectAll();
    resetAPI();
    if (m_host)
        m_host->shutdown();
    pluginMain.reset();
}

bool CFBControl::ProcessWindowMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (m_bWndLess && pluginWin) {
        auto* windowless = dynamic_cast<PluginWindowlessWin*>(pluginWin);
        try {
            if (windowless && windowless->handleWindowlessEvent(msg, wParam, lParam, result))
                return true;
        } catch (const std::exception& e) {
            // Nothing may leave a window procedure; the message gets the standard handling.
            FBLOG_WARN("CFBControl", "A windowless message failed: " << e.what());
        }
    }
    return OleControl::ProcessWindowMessage(window, msg, wParam, lParam, result);
}

HRESULT CFBControl::OnDraw(HDC dc, const RECT& bounds) {
    auto* windowless = m_bWndLess ? dynamic_cast<PluginWindowlessWin*>(pluginWin) : nullptr;
    if (!windowless)
        return S_OK;
    windowless->setWindowPosition(bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top);
    LRESULT result = 0;
    try {
        windowless->handleWindowlessEvent(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0, result);
    } catch (const std::exception& e) {
        FBLOG_WARN("CFBControl", "Painting failed: " << e.what());
        return E_FAIL;
    }
    return S_OK;
}

const IID& CFBControl::sourceInterface() const { return DIID_IFBComEventSource; }

void CFBControl::invalidateWindow(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom) {
    if (!m_host || m_host->isMainThread()) {
        if (m_spInPlaceSiteWindowless) {
            RECT rect = {static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(right),
                         static_cast<LONG>(bottom)};
            m_spInPlaceSiteWindowless->InvalidateRect(&rect, TRUE);
        }
        return;
    }
    std::weak_ptr<CFBControl*> token = m_selfToken;
    ActiveXBrowserHostPtr host = m_host;
    host->ScheduleOnMainThread(host, [token, left, top, right, bottom]() {
        if (auto self = token.lock())
            (*self)->invalidateWindow(left, top, right, bottom);
    });
}

HRESULT CFBControl::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) {
    return Atl::getSafetyOptions(static_cast<IObjectSafety*>(this), iid, supportedSafety(), m_safety, supported, enabled);
}

HRESULT CFBControl::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) {
    return Atl::setSafetyOptions(static_cast<IObjectSafety*>(this), iid, supportedSafety(), mask, enabled, m_safety);
}

} // namespace ActiveX
} // namespace FB
