#include "OleControl.h"

#include <olectl.h>

namespace FB {
namespace Atl {

namespace {

const wchar_t kWindowClass[] = L"OrvantaControlWindow";

template <typename T>
void releaseAndClear(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

template <typename T>
void assignRef(T*& into, T* value) {
    if (value)
        value->AddRef();
    releaseAndClear(into);
    into = value;
}

HINSTANCE ownModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ownModule), &module);
    return module;
}

} // namespace

OleControl::OleControl(const CLSID& clsid, DWORD miscStatus) : m_clsid(clsid), m_miscStatus(miscStatus) {}

OleControl::~OleControl() {
    if (m_hWnd) {
        // The derived control is gone: its window must not reach it any more.
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hWnd);
    }
    releaseAndClear(m_spInPlaceSite);
    releaseAndClear(m_spInPlaceSiteWindowless);
    releaseAndClear(m_spViewSink);
    releaseAndClear(m_spUnkSite);
    releaseAndClear(m_spClientSite);
}

HRESULT OleControl::SetClientSite(IOleClientSite* site) {
    assignRef(m_spClientSite, site);
    return S_OK;
}

HRESULT OleControl::GetClientSite(IOleClientSite** site) {
    if (!site)
        return E_POINTER;
    *site = m_spClientSite;
    if (m_spClientSite)
        m_spClientSite->AddRef();
    return S_OK;
}

HRESULT OleControl::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT OleControl::Close(DWORD) {
    if (m_bInPlaceActive)
        InPlaceDeactivate();
    return S_OK;
}

HRESULT OleControl::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT OleControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker)
        *moniker = nullptr;
    return E_NOTIMPL;
}

HRESULT OleControl::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT OleControl::GetClipboardData(DWORD, IDataObject** data) {
    if (data)
        *data = nullptr;
    return E_NOTIMPL;
}

HRESULT OleControl::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT posRect) {
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
        return InPlaceActivate(verb, posRect);
    case OLEIVERB_HIDE:
        if (m_hWnd)
            ShowWindow(m_hWnd, SW_HIDE);
        return S_OK;
    default:
        return verb > 0 ? OLEOBJ_S_INVALIDVERB : E_NOTIMPL;
    }
}

HRESULT OleControl::EnumVerbs(IEnumOLEVERB** verbs) {
    if (verbs)
        *verbs = nullptr;
    return OLEOBJ_E_NOVERBS;
}

HRESULT OleControl::Update() { return S_OK; }

HRESULT OleControl::IsUpToDate() { return S_OK; }

HRESULT OleControl::GetUserClassID(CLSID* clsid) {
    if (!clsid)
        return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

HRESULT OleControl::GetUserType(DWORD, LPOLESTR* type) {
    if (type)
        *type = nullptr;
    return OLE_S_USEREG;
}

HRESULT OleControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!size)
        return E_POINTER;
    m_sizeExtent = *size;
    return S_OK;
}

HRESULT OleControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT)
        return E_FAIL;
    if (!size)
        return E_POINTER;
    *size = m_sizeExtent;
    return S_OK;
}

HRESULT OleControl::Advise(IAdviseSink*, DWORD* connection) {
    if (connection)
        *connection = 0;
    return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT OleControl::Unadvise(DWORD) { return OLE_E_ADVISENOTSUPPORTED; }

HRESULT OleControl::EnumAdvise(IEnumSTATDATA** advise) {
    if (advise)
        *advise = nullptr;
    return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT OleControl::GetMiscStatus(DWORD, DWORD* status) {
    if (!status)
        return E_POINTER;
    *status = m_miscStatus;
    return S_OK;
}

HRESULT OleControl::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

HRESULT OleControl::GetWindow(HWND* window) {
    if (!window)
        return E_POINTER;
    *window = m_hWnd;
    return m_hWnd ? S_OK : E_FAIL;
}

HRESULT OleControl::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT OleControl::InPlaceDeactivate() {
    if (!m_bInPlaceActive)
        return S_OK;
    m_bInPlaceActive = false;
    if (m_hWnd) {
        HWND window = m_hWnd;
        m_hWnd = nullptr;
        DestroyWindow(window);
    }
    if (m_spInPlaceSite)
        m_spInPlaceSite->OnInPlaceDeactivate();
    releaseAndClear(m_spInPlaceSiteWindowless);
    releaseAndClear(m_spInPlaceSite);
    m_bWndLess = false;
    return S_OK;
}

HRESULT OleControl::UIDeactivate() { return S_OK; }

HRESULT OleControl::SetObjectRects(LPCRECT pos, LPCRECT) {
    if (!pos)
        return E_POINTER;
    m_rcPos = *pos;
    if (m_hWnd)
        SetWindowPos(m_hWnd, nullptr, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

HRESULT OleControl::ReactivateAndUndo() { return E_NOTIMPL; }

HRESULT OleControl::OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    LRESULT local = 0;
    bool handled = ProcessWindowMessage(nullptr, msg, wParam, lParam, local);
    if (result)
        *result = local;
    return handled ? S_OK : S_FALSE;
}

HRESULT OleControl::GetDropTarget(IDropTarget** target) {
    if (target)
        *target = nullptr;
    return E_NOTIMPL;
}

HRESULT OleControl::TranslateAccelerator(LPMSG) { return S_FALSE; }

HRESULT OleControl::OnFrameWindowActivate(BOOL) { return S_OK; }

HRESULT OleControl::OnDocWindowActivate(BOOL) { return S_OK; }

HRESULT OleControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }

HRESULT OleControl::EnableModeless(BOOL) { return S_OK; }

HRESULT OleControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC drawDc, LPCRECTL bounds, LPCRECTL,
                         BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!drawDc)
        return E_INVALIDARG;
    RECT rect = m_rcPos;
    if (bounds) {
        rect.left = bounds->left;
        rect.top = bounds->top;
        rect.right = bounds->right;
        rect.bottom = bounds->bottom;
    }
    return OnDraw(drawDc, rect);
}

HRESULT OleControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
    if (colors)
        *colors = nullptr;
    return E_NOTIMPL;
}

HRESULT OleControl::Freeze(DWORD, LONG, void*, DWORD*) { return E_NOTIMPL; }

HRESULT OleControl::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT OleControl::SetAdvise(DWORD, DWORD, IAdviseSink* sink) {
    assignRef(m_spViewSink, sink);
    return S_OK;
}

HRESULT OleControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects)
        *aspects = DVASPECT_CONTENT;
    if (flags)
        *flags = 0;
    if (sink) {
        *sink = m_spViewSink;
        if (m_spViewSink)
            m_spViewSink->AddRef();
    }
    return S_OK;
}

HRESULT OleControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) { return GetExtent(aspect, size); }

HRESULT OleControl::GetRect(DWORD aspect, LPRECTL rect) {
    if (!rect)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    rect->left = m_rcPos.left;
    rect->top = m_rcPos.top;
    rect->right = m_rcPos.right;
    rect->bottom = m_rcPos.bottom;
    return S_OK;
}

HRESULT OleControl::GetViewStatus(DWORD* status) {
    if (!status)
        return E_POINTER;
    *status = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;
    return S_OK;
}

HRESULT OleControl::QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG, DWORD* hit) {
    if (!hit || !bounds)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return E_FAIL;
    *hit = PtInRect(bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

HRESULT OleControl::QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG, DWORD* hit) {
    if (!hit || !bounds || !location)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return E_FAIL;
    RECT overlap;
    *hit = IntersectRect(&overlap, bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

HRESULT OleControl::GetNaturalExtent(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*, LPSIZEL) {
    return E_NOTIMPL;
}

HRESULT OleControl::GetControlInfo(CONTROLINFO*) { return E_NOTIMPL; }

HRESULT OleControl::OnMnemonic(MSG*) { return S_OK; }

HRESULT OleControl::OnAmbientPropertyChange(DISPID) { return S_OK; }

HRESULT OleControl::FreezeEvents(BOOL) { return S_OK; }

HRESULT OleControl::QuickActivate(QACONTAINER* container, QACONTROL* control) {
    if (!container || !control)
        return E_POINTER;
    if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL))
        return E_INVALIDARG;
    HRESULT hr = static_cast<IOleObject*>(this)->SetClientSite(container->pClientSite);
    if (FAILED(hr))
        return hr;
    if (container->pAdviseSink)
        SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    control->dwMiscStatus = m_miscStatus;
    control->dwViewStatus = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;
    control->dwEventCookie = 0;
    // The container's event sink is connected here as through the connection point it
    // would otherwise have had to find itself; the cookie tells it how to disconnect.
    if (container->pUnkEventSink) {
        IConnectionPointContainer* points = nullptr;
        if (SUCCEEDED(static_cast<IOleObject*>(this)->QueryInterface(IID_IConnectionPointContainer,
                                                                      reinterpret_cast<void**>(&points))) &&
            points) {
            IConnectionPoint* point = nullptr;
            if (SUCCEEDED(points->FindConnectionPoint(sourceInterface(), &point)) && point) {
                DWORD cookie = 0;
                if (SUCCEEDED(point->Advise(container->pUnkEventSink, &cookie)))
                    control->dwEventCookie = cookie;
                point->Release();
            }
            points->Release();
        }
    }
    control->dwPropNotifyCookie = 0;
    control->dwPointerActivationPolicy = 0;
    return S_OK;
}

HRESULT OleControl::SetContentExtent(LPSIZEL size) { return SetExtent(DVASPECT_CONTENT, size); }

HRESULT OleControl::GetContentExtent(LPSIZEL size) { return GetExtent(DVASPECT_CONTENT, size); }

HRESULT OleControl::SetSite(IUnknown* site) {
    assignRef(m_spUnkSite, site);
    return S_OK;
}

HRESULT OleControl::GetSite(REFIID iid, void** site) {
    if (!site)
        return E_POINTER;
    *site = nullptr;
    if (!m_spUnkSite)
        return E_FAIL;
    return m_spUnkSite->QueryInterface(iid, site);
}

HRESULT OleControl::GetClassID(CLSID* clsid) {
    if (!clsid)
        return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

HRESULT OleControl::InitNew() { return S_OK; }

HRESULT OleControl::Load(IPropertyBag*, IErrorLog*) { return S_OK; }

HRESULT OleControl::Save(IPropertyBag*, BOOL, BOOL) { return S_OK; }

HRESULT OleControl::GetClassInfo(ITypeInfo** info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    return E_NOTIMPL;
}

HRESULT OleControl::GetGUID(DWORD kind, GUID* guid) {
    if (!guid)
        return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = sourceInterface();
    return S_OK;
}

HRESULT OleControl::InPlaceActivate(LONG, const RECT* posRect) {
    if (!m_spClientSite)
        return S_OK;
    if (!m_bInPlaceActive) {
        if (!m_bWindowOnly)
            m_spClientSite->QueryInterface(IID_IOleInPlaceSiteWindowless,
                                           reinterpret_cast<void**>(&m_spInPlaceSiteWindowless));
        if (m_spInPlaceSiteWindowless) {
            assignRef(m_spInPlaceSite, static_cast<IOleInPlaceSite*>(m_spInPlaceSiteWindowless));
        } else {
            m_spClientSite->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&m_spInPlaceSite));
        }
        if (!m_spInPlaceSite)
            return E_FAIL;
        if (m_spInPlaceSite->CanInPlaceActivate() != S_OK) {
            releaseAndClear(m_spInPlaceSiteWindowless);
            releaseAndClear(m_spInPlaceSite);
            return E_FAIL;
        }
        m_bWndLess = m_spInPlaceSiteWindowless && m_spInPlaceSiteWindowless->CanWindowlessActivate() == S_OK;
        m_bInPlaceActive = true;
        HRESULT hr = m_bWndLess ? m_spInPlaceSiteWindowless->OnInPlaceActivateEx(nullptr, ACTIVATE_WINDOWLESS)
                                : m_spInPlaceSite->OnInPlaceActivate();
        if (FAILED(hr)) {
            m_bInPlaceActive = false;
            releaseAndClear(m_spInPlaceSiteWindowless);
            releaseAndClear(m_spInPlaceSite);
            return hr;
        }
    }
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = nullptr;
    RECT pos = {0, 0, 0, 0};
    RECT clip = {0, 0, 0, 0};
    OLEINPLACEFRAMEINFO frameInfo = {};
    frameInfo.cb = sizeof frameInfo;
    m_spInPlaceSite->GetWindowContext(&frame, &document, &pos, &clip, &frameInfo);
    releaseAndClear(frame);
    releaseAndClear(document);
    if (posRect)
        pos = *posRect;
    m_rcPos = pos;
    if (m_bWndLess)
        return S_OK;
    if (!m_hWnd) {
        HWND parent = nullptr;
        if (FAILED(m_spInPlaceSite->GetWindow(&parent)) || !parent)
            return E_FAIL;
        HRESULT hr = createControlWindow(parent, pos);
        if (FAILED(hr))
            return hr;
    } else {
        SetWindowPos(m_hWnd, nullptr, pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ShowWindow(m_hWnd, SW_SHOW);
    return S_OK;
}

HRESULT OleControl::createControlWindow(HWND parent, const RECT& pos) {
    HINSTANCE module = ownModule();
    WNDCLASSEXW existing = {};
    existing.cbSize = sizeof existing;
    if (!GetClassInfoExW(module, kWindowClass, &existing)) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = &OleControl::windowProc;
        wc.hInstance = module;
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpszClassName = kWindowClass;
        if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return HRESULT_FROM_WIN32(GetLastError());
    }
    HWND window = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, pos.left,
                                  pos.top, pos.right - pos.left, pos.bottom - pos.top, parent, nullptr, module, this);
    if (!window)
        return HRESULT_FROM_WIN32(GetLastError());
    m_hWnd = window;
    return S_OK;
}

LRESULT CALLBACK OleControl::windowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* control = reinterpret_cast<OleControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if (control && control->m_hWnd == window)
            control->m_hWnd = nullptr;
    }
    LRESULT result = 0;
    if (control && control->ProcessWindowMessage(window, msg, wParam, lParam, result))
        return result;
    return DefWindowProcW(window, msg, wParam, lParam);
}

bool OleControl::ProcessWindowMessage(HWND window, UINT msg, WPARAM, LPARAM, LRESULT& result) {
    if (msg == WM_PAINT && window) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        OnDraw(dc, client);
        EndPaint(window, &paint);
        result = 0;
        return true;
    }
    return false;
}

HRESULT OleControl::OnDraw(HDC, const RECT&) { return S_OK; }

} // namespace Atl
} // namespace FB
