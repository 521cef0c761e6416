#include "ActiveXBrowserHost.h"

#include "AXDOM.h"
#include "ActiveXStream.h"
#include "DOMWindow.h"
#include "IDispatchAPI.h"
#include "JSAPI_IDispatchEx.h"
#include "JSExceptions.h"
#include "logging.h"
#include "utf8_tools.h"

#include <oleauto.h>

namespace FB {
namespace ActiveX {

namespace {

template <typename T>
void releaseAndClear(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

BSTR makeBstr(const std::wstring& text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// The text of a BSTR as UTF-8, zero characters and all: a string cut at its first zero
// would reach the token as a different, shorter name.
std::string bstrToUtf8(BSTR text) {
    if (!text)
        return std::string();
    const std::wstring whole(text, SysStringLen(text));
    std::string out;
    std::wstring::size_type start = 0;
    for (;;) {
        std::wstring::size_type zero = whole.find(L'\0', start);
        out += wstring_to_utf8(whole.substr(start, zero == std::wstring::npos ? std::wstring::npos : zero - start));
        if (zero == std::wstring::npos)
            return out;
        out += '\0';
        start = zero + 1;
    }
}

// The way back keeps zero characters as well: a value read from the page and handed back
// must reach it unchanged.
std::wstring utf8ToWide(const std::string& text) {
    std::wstring out;
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type zero = text.find('\0', start);
        out += utf8_to_wstring(text.substr(start, zero == std::string::npos ? std::string::npos : zero - start));
        if (zero == std::string::npos)
            return out;
        out += L'\0';
        start = zero + 1;
    }
}

} // namespace

ActiveXBrowserHost::ActiveXBrowserHost(IWebBrowser2* doc, IOleClientSite* site)
    : m_spClientSite(site), m_webBrowser(doc), m_messageWin(std::make_unique<WinMessageWindow>()) {
    if (m_spClientSite)
        m_spClientSite->AddRef();
    if (!m_webBrowser)
        return;
    m_webBrowser->AddRef();
    if (FAILED(m_webBrowser->get_Document(&m_htmlDocDisp)) || !m_htmlDocDisp)
        return;
    if (FAILED(m_htmlDocDisp->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&m_htmlDoc))) ||
        !m_htmlDoc)
        return;
    if (SUCCEEDED(m_htmlDoc->get_parentWindow(&m_htmlWin)) && m_htmlWin)
        m_htmlWin->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_htmlWinDisp));
}

ActiveXBrowserHost::~ActiveXBrowserHost() {
    shutdown();
}

void ActiveXBrowserHost::initDOMObjects() {
    if (m_window)
        return;
    ActiveXBrowserHostPtr self = sharedHost();
    if (m_htmlWinDisp)
        m_window = std::make_shared<AXDOM::Window>(IDispatchAPI::create(m_htmlWinDisp, self), m_webBrowser);
    if (m_htmlDocDisp)
        m_document = std::make_shared<AXDOM::Document>(IDispatchAPI::create(m_htmlDocDisp, self), m_webBrowser);
}

DOM::DocumentPtr ActiveXBrowserHost::getDOMDocument() {
    initDOMObjects();
    return m_document;
}

DOM::WindowPtr ActiveXBrowserHost::getDOMWindow() {
    initDOMObjects();
    return m_window;
}

DOM::ElementPtr ActiveXBrowserHost::getDOMElement() {
    if (!m_spClientSite)
        return DOM::ElementPtr();
    IOleControlSite* controlSite = nullptr;
    if (FAILED(m_spClientSite->QueryInterface(IID_IOleControlSite, reinterpret_cast<void**>(&controlSite))) ||
        !controlSite)
        return DOM::ElementPtr();
    IDispatch* extended = nullptr;
    controlSite->GetExtendedControl(&extended);
    controlSite->Release();
    if (!extended)
        return DOM::ElementPtr();
    IHTMLElement2* element = nullptr;
    extended->QueryInterface(IID_IHTMLElement2, reinterpret_cast<void**>(&element));
    extended->Release();
    if (!element)
        return DOM::ElementPtr();
    IDispatch* elementDisp = nullptr;
    element->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&elementDisp));
    element->Release();
    if (!elementDisp)
        return DOM::ElementPtr();
    JSObjectPtr wrapped = IDispatchAPI::create(elementDisp, sharedHost());
    elementDisp->Release();
    return std::make_shared<AXDOM::Element>(wrapped);
}

void ActiveXBrowserHost::evaluateJavaScript(const std::string& script) {
    if (!m_htmlDoc || !m_htmlWin)
        throw script_error("Can't execute JavaScript: Window is NULL");
    BSTR code = makeBstr(utf8_to_wstring(script));
    BSTR language = SysAllocString(L"javascript");
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = m_htmlWin->execScript(code, language, &result);
    VariantClear(&result);
    SysFreeString(code);
    SysFreeString(language);
    if (FAILED(hr))
        throw script_error("Error executing JavaScript code");
}

void ActiveXBrowserHost::shutdown() {
    std::unique_ptr<WinMessageWindow> messageWin;
    {
        std::lock_guard<std::mutex> lock(m_xtmutex);
        messageWin = std::move(m_messageWin);
    }
    // Destroyed outside the lock: the calls still queued run now and may try to schedule
    // more, which is refused without waiting for the lock this thread would hold.
    messageWin.reset();
    BrowserHost::shutdown();
    releaseAndClear(m_spClientSite);
    releaseAndClear(m_htmlDoc);
    releaseAndClear(m_htmlDocDisp);
    releaseAndClear(m_htmlWin);
    releaseAndClear(m_htmlWinDisp);
    releaseAndClear(m_webBrowser);
    m_window.reset();
    m_document.reset();
    DoDeferredRelease();
}

void ActiveXBrowserHost::DoDeferredRelease() const {
    if (!isMainThread())
        return;
    std::deque<IUnknown*> due;
    {
        std::lock_guard<std::mutex> lock(m_deferredMutex);
        due.swap(m_deferredObjects);
    }
    for (IUnknown* obj : due)
        obj->Release();
}

void ActiveXBrowserHost::deferRelease(IUnknown* obj) const {
    if (!obj)
        return;
    if (isMainThread()) {
        obj->Release();
        return;
    }
    std::lock_guard<std::mutex> lock(m_deferredMutex);
    m_deferredObjects.push_back(obj);
}

bool ActiveXBrowserHost::_scheduleAsyncCall(void (*func)(void*), void* userData) const {
    std::lock_guard<std::mutex> lock(m_xtmutex);
    if (isShutDown() || !m_messageWin)
        return false;
    FBLOG_TRACE("ActiveXHost", "Scheduling async call for main thread");
    return m_messageWin->scheduleAsyncCall(func, userData);
}

BrowserStreamPtr ActiveXBrowserHost::_createStream(const std::string& url, const PluginEventSinkPtr& callback,
                                                   bool cache, bool seekable, size_t internalBufferSize) const {
    return ActiveXStream::create(url, callback, cache, seekable, internalBufferSize);
}

variant ActiveXBrowserHost::getVariant(const VARIANT* cVar) {
    if (!cVar)
        return variant();
    // A by-reference value is read as the value it points to; a null reference has none.
    if ((V_VT(cVar) & VT_BYREF) && !V_BYREF(cVar))
        return variant();
    VARIANT value;
    VariantInit(&value);
    if (FAILED(VariantCopyInd(&value, const_cast<VARIANT*>(cVar))))
        return variant();
    VARIANT coerced;
    VariantInit(&coerced);
    variant out;
    switch (V_VT(&value)) {
    case VT_NULL:
        out = variant(variant_detail::null());
        break;
    case VT_I2:
    case VT_I4:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_INT:
        if (SUCCEEDED(VariantChangeType(&coerced, &value, 0, VT_I4)))
            out = static_cast<int>(V_I4(&coerced));
        break;
    case VT_R4:
    case VT_R8:
    case VT_DECIMAL:
        if (SUCCEEDED(VariantChangeType(&coerced, &value, 0, VT_R8)))
            out = V_R8(&coerced);
        break;
    case VT_BOOL:
        out = V_BOOL(&value) == VARIANT_TRUE;
        break;
    case VT_ERROR:
        if (SUCCEEDED(VariantChangeType(&coerced, &value, 0, VT_BOOL)))
            out = V_BOOL(&coerced) == VARIANT_TRUE;
        else
            out = false;
        break;
    case VT_UI4:
    case VT_UINT:
        if (SUCCEEDED(VariantChangeType(&coerced, &value, 0, VT_UI4)))
            out = static_cast<unsigned int>(V_UI4(&coerced));
        break;
    case VT_I8:
        out = static_cast<long long>(V_I8(&value));
        break;
    case VT_UI8:
        out = static_cast<unsigned long long>(V_UI8(&value));
        break;
    case VT_BSTR:
    case VT_LPSTR:
    case VT_LPWSTR:
    case VT_CLSID:
        if (SUCCEEDED(VariantChangeType(&coerced, &value, 0, VT_BSTR)))
            out = bstrToUtf8(V_BSTR(&coerced));
        break;
    case VT_DISPATCH:
        if (V_DISPATCH(&value))
            out = IDispatchAPI::create(V_DISPATCH(&value), sharedHost());
        else
            out = variant(variant_detail::null());
        break;
    default:
        break;
    }
    VariantClear(&coerced);
    VariantClear(&value);
    return out;
}

namespace {

// A plug-in object as script sees it: its own COM wrapper.
void wrapPluginObject(VARIANT* dest, const ActiveXBrowserHostPtr& host, const JSAPIPtr& api, bool retain,
                      bool autoRelease) {
    if (!api) {
        V_VT(dest) = VT_NULL;
        return;
    }
    if (retain)
        host->retainJSObject(api);
    IDispatchEx* wrapper = createCOMJSObject(host, api, autoRelease);
    if (!wrapper) {
        V_VT(dest) = VT_NULL;
        return;
    }
    V_VT(dest) = VT_DISPATCH;
    V_DISPATCH(dest) = wrapper;
}

} // namespace

void ActiveXBrowserHost::getComVariant(VARIANT* dest, const variant& var) {
    VariantInit(dest);
    if (var.empty())
        return;
    if (var.is_null()) {
        V_VT(dest) = VT_NULL;
    } else if (var.is_of_type<bool>()) {
        V_VT(dest) = VT_BOOL;
        V_BOOL(dest) = var.cast<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (var.is_of_type<char>()) {
        V_VT(dest) = VT_I1;
        V_I1(dest) = var.cast<char>();
    } else if (var.is_of_type<unsigned char>()) {
        V_VT(dest) = VT_UI1;
        V_UI1(dest) = var.cast<unsigned char>();
    } else if (var.is_of_type<short>()) {
        V_VT(dest) = VT_I2;
        V_I2(dest) = var.cast<short>();
    } else if (var.is_of_type<unsigned short>()) {
        V_VT(dest) = VT_UI2;
        V_UI2(dest) = var.cast<unsigned short>();
    } else if (var.is_of_type<int>() || var.is_of_type<long>()) {
        V_VT(dest) = VT_I4;
        V_I4(dest) = var.is_of_type<int>() ? var.cast<int>() : static_cast<LONG>(var.cast<long>());
    } else if (var.is_of_type<unsigned int>() || var.is_of_type<unsigned long>()) {
        V_VT(dest) = VT_UI4;
        V_UI4(dest) = var.is_of_type<unsigned int>() ? var.cast<unsigned int>()
                                                       : static_cast<ULONG>(var.cast<unsigned long>());
    } else if (var.is_of_type<long long>()) {
        V_VT(dest) = VT_I8;
        V_I8(dest) = var.cast<long long>();
    } else if (var.is_of_type<unsigned long long>()) {
        V_VT(dest) = VT_UI8;
        V_UI8(dest) = var.cast<unsigned long long>();
    } else if (var.is_of_type<float>()) {
        V_VT(dest) = VT_R4;
        V_R4(dest) = var.cast<float>();
    } else if (var.is_of_type<double>()) {
        V_VT(dest) = VT_R8;
        V_R8(dest) = var.cast<double>();
    } else if (var.is_of_type<std::string>() || var.is_of_type<std::wstring>()) {
        std::wstring text =
            var.is_of_type<std::string>() ? utf8ToWide(var.cast<std::string>()) : var.cast<std::wstring>();
        V_VT(dest) = VT_BSTR;
        V_BSTR(dest) = makeBstr(text);
    } else if (var.is_of_type<VariantList>()) {
        DOM::WindowPtr window = getDOMWindow();
        JSObjectPtr array = window ? window->createArray() : JSObjectPtr();
        if (!array)
            throw script_error("Cannot create a script array without a page window");
        for (const variant& element : var.cast<VariantList>())
            array->Invoke("push", VariantList{element});
        getComVariant(dest, array);
    } else if (var.is_of_type<VariantMap>()) {
        DOM::WindowPtr window = getDOMWindow();
        JSObjectPtr map = window ? window->createMap() : JSObjectPtr();
        if (!map)
            throw script_error("Cannot create a script object without a page window");
        for (const auto& entry : var.cast<VariantMap>())
            map->SetProperty(entry.first, entry.second);
        getComVariant(dest, map);
    } else if (var.is_of_type<JSObjectPtr>()) {
        JSObjectPtr obj = var.cast<JSObjectPtr>();
        auto* browserObject = dynamic_cast<IDispatchAPI*>(obj.get());
        if (browserObject) {
            V_VT(dest) = VT_DISPATCH;
            V_DISPATCH(dest) = browserObject->getIDispatch();
            V_DISPATCH(dest)->AddRef();
        } else {
            wrapPluginObject(dest, sharedHost(), obj, true, false);
        }
    } else if (var.is_of_type<JSAPIPtr>()) {
        JSAPIPtr api = var.cast<JSAPIPtr>();
        auto* browserObject = dynamic_cast<IDispatchAPI*>(api.get());
        if (browserObject) {
            V_VT(dest) = VT_DISPATCH;
            V_DISPATCH(dest) = browserObject->getIDispatch();
            V_DISPATCH(dest)->AddRef();
        } else {
            wrapPluginObject(dest, sharedHost(), api, true, true);
        }
    } else if (var.is_of_type<JSAPIWeakPtr>()) {
        wrapPluginObject(dest, sharedHost(), var.cast<JSAPIWeakPtr>().lock(), false, false);
    }
}

} // namespace ActiveX
} // namespace FB
