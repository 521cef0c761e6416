#include "OleContainer.h"

#include "ComObject.h"
#include "Page.h"

#include <oleauto.h>
#include <shlguid.h>

namespace orv { namespace test {

class ContainerSite : public ComObject<ContainerSite>,
                      public IOleClientSite,
                      public IOleInPlaceSiteWindowless,
                      public IServiceProvider {
public:
    explicit ContainerSite(HWND window) : m_window(window) {}

    std::map<std::string, int> calls;
    bool offersServices = true;
    bool windowless = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite))
            *out = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(iid, IID_IOleInPlaceSite) || IsEqualIID(iid, IID_IOleWindow))
            *out = static_cast<IOleInPlaceSite*>(this);
        else if (windowless && (IsEqualIID(iid, IID_IOleInPlaceSiteWindowless) || IsEqualIID(iid, IID_IOleInPlaceSiteEx)))
            *out = static_cast<IOleInPlaceSiteWindowless*>(this);
        else if (IsEqualIID(iid, IID_IServiceProvider) && offersServices)
            *out = static_cast<IServiceProvider*>(this);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ORV_COM_REFCOUNT

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return count("SaveObject", E_NOTIMPL); }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** m) override {
        if (m)
            *m = nullptr;
        return count("GetMoniker", E_NOTIMPL);
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** c) override {
        if (c)
            *c = nullptr;
        return count("GetContainer", E_NOINTERFACE);
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return count("ShowObject", S_OK); }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return count("OnShowWindow", S_OK); }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return count("RequestNewObjectLayout", E_NOTIMPL); }
    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* w) override {
        if (!w)
            return E_POINTER;
        *w = m_window;
        return count("GetWindow", S_OK);
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return count("CanInPlaceActivate", S_OK); }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return count("OnInPlaceActivate", S_OK); }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return count("OnUIActivate", S_OK); }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                               LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        if (frame)
            *frame = nullptr;
        if (doc)
            *doc = nullptr;
        RECT r = {10, 10, 310, 110};
        if (pos)
            *pos = r;
        if (clip)
            *clip = r;
        if (info) {
            info->fMDIApp = FALSE;
            info->hwndFrame = m_window;
            info->haccel = nullptr;
            info->cAccelEntries = 0;
        }
        return count("GetWindowContext", S_OK);
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return count("OnUIDeactivate", S_OK); }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return count("OnInPlaceDeactivate", S_OK); }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return count("OnPosRectChange", S_OK); }
    // IOleInPlaceSiteEx, IOleInPlaceSiteWindowless: the page's own surface.
    HRESULT STDMETHODCALLTYPE OnInPlaceActivateEx(BOOL* noRedraw, DWORD) override {
        if (noRedraw)
            *noRedraw = FALSE;
        return count("OnInPlaceActivateEx", S_OK);
    }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivateEx(BOOL) override { return count("OnInPlaceDeactivateEx", S_OK); }
    HRESULT STDMETHODCALLTYPE RequestUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CanWindowlessActivate() override { return count("CanWindowlessActivate", S_OK); }
    HRESULT STDMETHODCALLTYPE GetCapture() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetCapture(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetFocus() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetFocus(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetDC(LPCRECT, DWORD, HDC* dc) override {
        if (dc)
            *dc = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReleaseDC(HDC) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InvalidateRect(LPCRECT, BOOL) override { return count("InvalidateRect", S_OK); }
    HRESULT STDMETHODCALLTYPE InvalidateRgn(HRGN, BOOL) override { return count("InvalidateRgn", S_OK); }
    HRESULT STDMETHODCALLTYPE ScrollRect(INT, INT, LPCRECT, LPCRECT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AdjustRect(LPRECT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) override {
        if (result)
            *result = 0;
        return S_FALSE;
    }
    // IServiceProvider: the page's browser; a page without script at the document's
    // address unless the test served one.
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID iid, void** out) override {
        if (!out)
            return count("QueryService", E_POINTER);
        *out = nullptr;
        if (!IsEqualGUID(service, SID_SWebBrowserApp))
            return count("QueryService", E_NOINTERFACE);
        if (browser)
            return count("QueryService", browser->QueryInterface(iid, out));
        if (!ownPage)
            ownPage = makePageBrowser(nullptr, nullptr, address);
        return count("QueryService", ownPage->QueryInterface(iid, out));
    }

    void setAddress(const std::wstring& documentAddress) {
        address = documentAddress;
        if (ownPage)
            ownPage->Release();
        ownPage = nullptr;
    }

    void setBrowser(IWebBrowser2* page) {
        if (page)
            page->AddRef();
        if (browser)
            browser->Release();
        browser = page;
    }
    ~ContainerSite() override {
        setBrowser(nullptr);
        setAddress(std::wstring());
    }
    IWebBrowser2* browser = nullptr;
    IWebBrowser2* ownPage = nullptr;
    std::wstring address = kPageAddress;

private:
    HRESULT count(const char* name, HRESULT hr) {
        ++calls[name];
        return hr;
    }
    HWND m_window;
};

namespace {

class Bag : public ComObject<Bag>, public IPropertyBag, public IPropertyBag2 {
public:
    explicit Bag(ParamBag& data) : m_data(data) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyBag))
            *out = static_cast<IPropertyBag*>(this);
        else if (IsEqualIID(iid, IID_IPropertyBag2))
            *out = static_cast<IPropertyBag2*>(this);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ORV_COM_REFCOUNT

    // IPropertyBag
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        if (FAILED(m_data.failWith))
            return m_data.failWith;
        for (auto& p : m_data.params)
            if (p.first == name)
                return VariantCopy(value, &p.second);
        return E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
    // IPropertyBag2
    HRESULT STDMETHODCALLTYPE Read(ULONG count, PROPBAG2* props, IErrorLog*, VARIANT* values,
                                   HRESULT* results) override {
        if (FAILED(m_data.failWith))
            return m_data.failWith;
        for (ULONG i = 0; i < count; ++i) {
            VariantInit(&values[i]);
            results[i] = E_INVALIDARG;
            for (auto& p : m_data.params) {
                if (p.first != props[i].pstrName)
                    continue;
                auto failing = m_data.failEntry.find(p.first);
                results[i] = failing != m_data.failEntry.end() ? failing->second : VariantCopy(&values[i], &p.second);
            }
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(ULONG, PROPBAG2*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CountProperties(ULONG* count) override {
        if (FAILED(m_data.failWith))
            return m_data.failWith;
        *count = static_cast<ULONG>(m_data.params.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyInfo(ULONG first, ULONG count, PROPBAG2* props, ULONG* got) override {
        if (FAILED(m_data.failWith))
            return m_data.failWith;
        ULONG n = 0;
        for (ULONG i = first; i < m_data.params.size() && n < count; ++i, ++n) {
            props[n] = PROPBAG2();
            props[n].dwType = PROPBAG2_TYPE_DATA;
            props[n].vt = V_VT(&m_data.params[i].second);
            const std::wstring& name = m_data.params[i].first;
            props[n].pstrName = static_cast<LPOLESTR>(CoTaskMemAlloc((name.size() + 1) * sizeof(wchar_t)));
            name.copy(props[n].pstrName, name.size());
            props[n].pstrName[name.size()] = L'\0';
        }
        *got = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LoadObject(LPCOLESTR, DWORD, IUnknown*, IErrorLog*) override { return E_NOTIMPL; }

private:
    ParamBag& m_data;
};

std::vector<std::string> g_messageBoxes;

std::string windowText(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

BOOL CALLBACK collectStatic(HWND child, LPARAM out) {
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0)
        *reinterpret_cast<std::string*>(out) += windowText(child);
    return TRUE;
}

const UINT_PTR kAnswerTimer = 0x4f52;

// Presses the button a box has put the keyboard focus on, its default one, as Enter would;
// a box with none is closed.
void CALLBACK answerBox(HWND box, UINT, UINT_PTR timer, DWORD) {
    KillTimer(box, timer);
    HWND focus = GetFocus();
    char cls[16] = {};
    if (focus && IsChild(box, focus))
        GetClassNameA(focus, cls, sizeof cls);
    if (lstrcmpiA(cls, "Button") == 0) {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), BN_CLICKED), reinterpret_cast<LPARAM>(focus));
    } else {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    }
}

LRESULT CALLBACK dialogWatch(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char cls[16] = {};
        GetClassNameA(box, cls, sizeof cls);
        if (lstrcmpA(cls, "#32770") == 0) {
            std::string text;
            EnumChildWindows(box, collectStatic, reinterpret_cast<LPARAM>(&text));
            g_messageBoxes.push_back(windowText(box) + ": " + text);
            SetTimer(box, kAnswerTimer, 20, answerBox);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK pageProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, msg, wParam, lParam);
}

} // namespace

ParamBag::~ParamBag() {
    for (auto& p : params)
        VariantClear(&p.second);
}

void ParamBag::add(const std::wstring& name, const std::wstring& text) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    params.emplace_back(name, v);
}

void ParamBag::add(const std::wstring& name, const VARIANT& value) {
    VARIANT v;
    VariantInit(&v);
    VariantCopy(&v, const_cast<VARIANT*>(&value));
    params.emplace_back(name, v);
}

OleContainer::OleContainer() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &pageProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OrvantaTestPage";
    RegisterClassW(&wc);
    m_window = CreateWindowW(L"OrvantaTestPage", L"page", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 200, nullptr,
                             nullptr, wc.hInstance, nullptr);
    m_site = new ContainerSite(m_window);
    m_boxHook = SetWindowsHookExW(WH_CBT, dialogWatch, nullptr, GetCurrentThreadId());
}

OleContainer::~OleContainer() {
    if (m_boxHook)
        UnhookWindowsHookEx(m_boxHook);
    m_site->Release();
    if (m_window)
        DestroyWindow(m_window);
}

IOleClientSite* OleContainer::site() const { return static_cast<IOleClientSite*>(m_site); }

int OleContainer::siteCalls(const std::string& name) const {
    auto found = m_site->calls.find(name);
    return found == m_site->calls.end() ? 0 : found->second;
}

void OleContainer::setServiceProvider(bool offered) { m_site->offersServices = offered; }

void OleContainer::servePage(IWebBrowser2* browser) { m_site->setBrowser(browser); }

void OleContainer::setDocumentAddress(const std::wstring& address) { m_site->setAddress(address); }

void OleContainer::setWindowless(bool offered) { m_site->windowless = offered; }

IPropertyBag* OleContainer::makeBag(ParamBag& bag) { return static_cast<IPropertyBag*>(new Bag(bag)); }

std::vector<std::string> OleContainer::messageBoxes() { return g_messageBoxes; }

void OleContainer::pump(DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    MSG msg;
    do {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

}} // namespace orv::test
