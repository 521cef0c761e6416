#include "ScriptHost.h"

#include "ComObject.h"
#include "Page.h"

#include <oleauto.h>

#include <cmath>

namespace orv { namespace test {

namespace {

// {F414C260-6AC0-11CF-B6D1-00AA00BBBB58}
const CLSID CLSID_JScriptEngine = {0xf414c260, 0x6ac0, 0x11cf, {0xb6, 0xd1, 0x00, 0xaa, 0x00, 0xbb, 0xbb, 0x58}};

std::string utf8(const std::wstring& w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr, nullptr);
    return out;
}

} // namespace

class ScriptSite : public ComObject<ScriptSite>, public IActiveScriptSite, public IActiveScriptSiteWindow {
public:
    std::map<std::wstring, IUnknown*> items;
    std::wstring lastError;

    ~ScriptSite() override {
        for (auto& item : items)
            item.second->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IActiveScriptSite)))
            *out = static_cast<IActiveScriptSite*>(this);
        else if (IsEqualIID(iid, __uuidof(IActiveScriptSiteWindow)))
            *out = static_cast<IActiveScriptSiteWindow*>(this);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ORV_COM_REFCOUNT

    HRESULT STDMETHODCALLTYPE GetLCID(LCID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** unk, ITypeInfo** info) override {
        if (info)
            *info = nullptr;
        if (unk)
            *unk = nullptr;
        auto found = items.find(name);
        if (found == items.end())
            return TYPE_E_ELEMENTNOTFOUND;
        if ((mask & SCRIPTINFO_IUNKNOWN) && unk) {
            *unk = found->second;
            (*unk)->AddRef();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* error) override {
        EXCEPINFO info = {};
        if (error && SUCCEEDED(error->GetExceptionInfo(&info))) {
            if (info.pfnDeferredFillIn)
                info.pfnDeferredFillIn(&info);
            lastError = info.bstrDescription ? info.bstrDescription : L"";
            SysFreeString(info.bstrSource);
            SysFreeString(info.bstrDescription);
            SysFreeString(info.bstrHelpFile);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        if (window)
            *window = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
};

std::string ScriptResult::text() const {
    if (!ok || V_VT(&value) != VT_BSTR || !V_BSTR(&value))
        return std::string();
    return utf8(std::wstring(V_BSTR(&value), SysStringLen(V_BSTR(&value))));
}

double ScriptResult::number() const {
    VARIANT d;
    VariantInit(&d);
    if (!ok || (V_VT(&value) != VT_I4 && V_VT(&value) != VT_R8 && V_VT(&value) != VT_I2) ||
        FAILED(VariantChangeType(&d, const_cast<VARIANT*>(&value), 0, VT_R8)))
        return std::nan("");
    return V_R8(&d);
}

ScriptHost::ScriptHost() {
    if (FAILED(CoCreateInstance(CLSID_JScriptEngine, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript),
                                reinterpret_cast<void**>(&m_script))))
        m_script = nullptr;
    if (!m_script)
        return;
    m_script->QueryInterface(__uuidof(IActiveScriptParse), reinterpret_cast<void**>(&m_parse));
    m_site = new ScriptSite();
    if (!m_parse || FAILED(m_script->SetScriptSite(m_site)) || FAILED(m_parse->InitNew()) ||
        FAILED(m_script->SetScriptState(SCRIPTSTATE_CONNECTED))) {
        if (m_parse)
            m_parse->Release();
        m_parse = nullptr;
        m_script->Release();
        m_script = nullptr;
    }
}

ScriptHost::~ScriptHost() {
    if (m_script) {
        m_script->Close();
        m_script->Release();
    }
    if (m_parse)
        m_parse->Release();
    if (m_site)
        m_site->Release();
}

bool ScriptHost::addItem(const std::wstring& name, IUnknown* object) {
    if (!m_script || !object)
        return false;
    object->AddRef();
    m_site->items[name] = object;
    return SUCCEEDED(m_script->AddNamedItem(name.c_str(), SCRIPTITEM_ISVISIBLE));
}

ScriptResult ScriptHost::eval(const std::wstring& expression) {
    ScriptResult result;
    if (!m_parse)
        return result;
    m_site->lastError.clear();
    EXCEPINFO info = {};
    HRESULT hr = m_parse->ParseScriptText(expression.c_str(), nullptr, nullptr, nullptr, 0, 0,
                                          SCRIPTTEXT_ISEXPRESSION, &result.value, &info);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    result.ok = SUCCEEDED(hr);
    if (!result.ok) {
        VariantClear(&result.value);
        result.error = m_site->lastError;
    }
    return result;
}

bool ScriptHost::run(const std::wstring& code) {
    if (!m_parse)
        return false;
    EXCEPINFO info = {};
    HRESULT hr = m_parse->ParseScriptText(code.c_str(), nullptr, nullptr, nullptr, 0, 0, 0, nullptr, &info);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return SUCCEEDED(hr);
}

IWebBrowser2* ScriptHost::makeBrowser(const std::wstring& address) {
    if (!m_script)
        return nullptr;
    IDispatch* global = nullptr;
    if (FAILED(m_script->GetScriptDispatch(nullptr, &global)) || !global)
        return nullptr;
    IWebBrowser2* browser = makePageBrowser(global, m_parse, address);
    global->Release();
    return browser;
}

}} // namespace orv::test
