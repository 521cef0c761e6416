#include "Page.h"

#include "ComObject.h"
#include "PageStubs.h"

#include <dispex.h>

namespace orv { namespace test {

namespace {

class PageWindow : public ComObject<PageWindow>, public WindowStub {
public:
    PageWindow(IDispatch* global, IActiveScriptParse* parse) : m_global(global), m_parse(parse) {
        m_global->AddRef();
        if (m_parse)
            m_parse->AddRef();
    }
    ~PageWindow() override {
        m_global->Release();
        if (m_parse)
            m_parse->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        // Script reaches the window's members through the engine's own object, IDispatchEx and all.
        if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, __uuidof(IDispatchEx)))
            return m_global->QueryInterface(iid, out);
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IHTMLWindow2) ||
            IsEqualIID(iid, IID_IHTMLFramesCollection2))
            *out = static_cast<IHTMLWindow2*>(this);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ORV_COM_REFCOUNT

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return m_global->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
        return m_global->GetTypeInfo(index, lcid, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
        return m_global->GetIDsOfNames(iid, names, count, lcid, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* info, UINT* argErr) override {
        return m_global->Invoke(id, iid, lcid, flags, params, result, info, argErr);
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
    IActiveScriptParse* m_parse;
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

IWebBrowser2* makePageBrowser(IDispatch* global, IActiveScriptParse* parse) {
    if (!global)
        return nullptr;
    auto* window = new PageWindow(global, parse);
    auto* document = new PageDocument(window);
    window->Release();
    auto* browser = new PageBrowser(document);
    document->Release();
    return browser;
}

}} // namespace orv::test
