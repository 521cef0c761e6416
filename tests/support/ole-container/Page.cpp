#include "Page.h"

#include "ComObject.h"
#include "PageStubs.h"

#include <dispex.h>

#include <string>

namespace orv { namespace test {

const wchar_t* const kPageAddress = L"https://bank.orvanta.test/sign.html";

namespace {

class PageLocation : public ComObject<PageLocation>, public LocationStub {
public:
    explicit PageLocation(const std::wstring& href) : m_href(href) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IHTMLLocation))
            *out = static_cast<IHTMLLocation*>(this);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ORV_COM_REFCOUNT

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count)
            *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
        for (UINT i = 0; ids && i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

    HRESULT STDMETHODCALLTYPE get_href(BSTR* href) override {
        if (!href)
            return E_POINTER;
        *href = SysAllocStringLen(m_href.data(), static_cast<UINT>(m_href.size()));
        return *href ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE toString(BSTR* text) override { return get_href(text); }

private:
    std::wstring m_href;
};

// The window as Internet Explorer has it: one object whose IDispatchEx is the page's script
// globals and whose IHTMLWindow2 is the browser's; a control reaches either from the other.
class PageWindow : public ComObject<PageWindow>, public WindowStub, public IDispatchEx {
public:
    PageWindow(IDispatch* global, IActiveScriptParse* parse, const std::wstring& address)
        : m_global(global), m_parse(parse), m_address(address) {
        if (m_global) {
            m_global->AddRef();
            m_global->QueryInterface(__uuidof(IDispatchEx), reinterpret_cast<void**>(&m_globalEx));
        }
        if (m_parse)
            m_parse->AddRef();
    }
    ~PageWindow() override {
        if (m_globalEx)
            m_globalEx->Release();
        if (m_global)
            m_global->Release();
        if (m_parse)
            m_parse->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IDispatch) || (m_globalEx && IsEqualIID(iid, __uuidof(IDispatchEx))))
            *out = static_cast<IDispatchEx*>(this);
        else if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IHTMLWindow2) ||
                 IsEqualIID(iid, IID_IHTMLFramesCollection2))
            *out = static_cast<IHTMLWindow2*>(this);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ORV_COM_REFCOUNT

    // IDispatch and IDispatchEx: the engine's globals.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (m_global)
            return m_global->GetTypeInfoCount(count);
        if (count)
            *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
        return m_global ? m_global->GetTypeInfo(index, lcid, info) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
        if (m_global)
            return m_global->GetIDsOfNames(iid, names, count, lcid, ids);
        for (UINT i = 0; ids && i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* info, UINT* argErr) override {
        return m_global ? m_global->Invoke(id, iid, lcid, flags, params, result, info, argErr) : DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetDispID(BSTR name, DWORD flags, DISPID* id) override {
        return m_globalEx->GetDispID(name, flags, id);
    }
    HRESULT STDMETHODCALLTYPE InvokeEx(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                       EXCEPINFO* info, IServiceProvider* caller) override {
        return m_globalEx->InvokeEx(id, lcid, flags, params, result, info, caller);
    }
    HRESULT STDMETHODCALLTYPE DeleteMemberByName(BSTR name, DWORD flags) override {
        return m_globalEx->DeleteMemberByName(name, flags);
    }
    HRESULT STDMETHODCALLTYPE DeleteMemberByDispID(DISPID id) override { return m_globalEx->DeleteMemberByDispID(id); }
    HRESULT STDMETHODCALLTYPE GetMemberProperties(DISPID id, DWORD fetch, DWORD* props) override {
        return m_globalEx->GetMemberProperties(id, fetch, props);
    }
    HRESULT STDMETHODCALLTYPE GetMemberName(DISPID id, BSTR* name) override { return m_globalEx->GetMemberName(id, name); }
    HRESULT STDMETHODCALLTYPE GetNextDispID(DWORD flags, DISPID id, DISPID* next) override {
        return m_globalEx->GetNextDispID(flags, id, next);
    }
    HRESULT STDMETHODCALLTYPE GetNameSpaceParent(IUnknown** parent) override {
        return m_globalEx->GetNameSpaceParent(parent);
    }

    // IHTMLWindow2: the browser's members.
    HRESULT STDMETHODCALLTYPE get_location(IHTMLLocation** location) override {
        if (!location)
            return E_POINTER;
        *location = new PageLocation(m_address);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE execScript(BSTR code, BSTR, VARIANT* result) override {
        if (result)
            VariantInit(result);
        if (!code || !m_parse)
            return E_INVALIDARG;
        EXCEPINFO info = {};
        HRESULT hr = m_parse->ParseScriptText(code, nullptr, nullptr, nullptr, 0, 0, 0, nullptr, &info);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        return hr;
    }

private:
    IDispatch* m_global;
    IDispatchEx* m_globalEx = nullptr;
    IActiveScriptParse* m_parse;
    std::wstring m_address;
};

class PageDocument : public ComObject<PageDocument>, public DocumentStub {
public:
    explicit PageDocument(IHTMLWindow2* window) : m_window(window) { m_window->AddRef(); }
    ~PageDocument() override { m_window->Release(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IHTMLDocument) ||
            IsEqualIID(iid, IID_IHTMLDocument2))
            *out = static_cast<IHTMLDocument2*>(this);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ORV_COM_REFCOUNT

    // The document has no script members of its own on this page.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count)
            *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
        for (UINT i = 0; ids && i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

    HRESULT STDMETHODCALLTYPE get_parentWindow(IHTMLWindow2** window) override {
        if (!window)
            return E_POINTER;
        *window = m_window;
        m_window->AddRef();
        return S_OK;
    }

private:
    IHTMLWindow2* m_window;
};

class PageBrowser : public ComObject<PageBrowser>, public BrowserStub {
public:
    explicit PageBrowser(IHTMLDocument2* document) : m_document(document) { m_document->AddRef(); }
    ~PageBrowser() override { m_document->Release(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IWebBrowser) ||
            IsEqualIID(iid, IID_IWebBrowserApp) || IsEqualIID(iid, IID_IWebBrowser2))
            *out = static_cast<IWebBrowser2*>(this);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ORV_COM_REFCOUNT

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count)
            *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
        for (UINT i = 0; ids && i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

    HRESULT STDMETHODCALLTYPE get_Document(IDispatch** document) override {
        if (!document)
            return E_POINTER;
        *document = m_document;
        m_document->AddRef();
        return S_OK;
    }

private:
    IHTMLDocument2* m_document;
};

} // namespace

IWebBrowser2* makePageBrowser(IDispatch* global, IActiveScriptParse* parse, const std::wstring& address) {
    auto* window = new PageWindow(global, parse, address);
    auto* document = new PageDocument(window);
    window->Release();
    auto* browser = new PageBrowser(document);
    document->Release();
    return browser;
}

}} // namespace orv::test
