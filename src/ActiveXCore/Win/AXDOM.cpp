#include "AXDOM.h"

#include "IDispatchAPI.h"
#include "utf8_tools.h"

#include <oleauto.h>

#include <stdexcept>

namespace FB {
namespace ActiveX {
namespace AXDOM {

namespace {

IDispatch* dispatchOf(const JSObjectPtr& obj) {
    auto* api = dynamic_cast<IDispatchAPI*>(obj.get());
    return api ? api->getIDispatch() : nullptr;
}

template <typename I>
void queryInto(const JSObjectPtr& obj, REFIID iid, ComRef<I>& into) {
    IDispatch* disp = dispatchOf(obj);
    if (disp)
        disp->QueryInterface(iid, reinterpret_cast<void**>(into.out()));
}

ActiveXBrowserHostPtr hostOf(const JSObjectPtr& obj) {
    return std::static_pointer_cast<ActiveXBrowserHost>(obj->getHost());
}

std::wstring fromBstr(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

// Wraps an HTML collection's items as elements.
std::vector<DOM::ElementPtr> elementsOf(IHTMLElementCollection* items, const ActiveXBrowserHostPtr& host) {
    std::vector<DOM::ElementPtr> out;
    if (!items)
        return out;
    long length = 0;
    items->get_length(&length);
    for (long i = 0; i < length; ++i) {
        VARIANT index;
        VariantInit(&index);
        V_VT(&index) = VT_I4;
        V_I4(&index) = i;
        VARIANT none;
        VariantInit(&none);
        IDispatch* item = nullptr;
        if (SUCCEEDED(items->item(index, none, &item)) && item) {
            out.push_back(std::make_shared<Element>(IDispatchAPI::create(item, host)));
            item->Release();
        }
    }
    return out;
}

std::string attributeOf(IDispatch* obj, const std::string& attr, const ActiveXBrowserHostPtr& host) {
    ComRef<IHTMLElement> element;
    if (!obj || FAILED(obj->QueryInterface(IID_IHTMLElement, reinterpret_cast<void**>(element.out()))))
        return std::string();
    BSTR name = SysAllocString(utf8_to_wstring(attr).c_str());
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = element.get()->getAttribute(name, 0, &value);
    SysFreeString(name);
    std::string text;
    if (SUCCEEDED(hr))
        text = host->getVariant(&value).convert_cast<std::string>();
    VariantClear(&value);
    return text;
}

} // namespace

Window::Window(const JSObjectPtr& obj, IWebBrowser2* web) : DOM::Node(obj), DOM::Window(obj), m_webBrowser(web) {
    queryInto(obj, IID_IHTMLWindow2, m_htmlWin);
}

DOM::DocumentPtr Window::getDocument() const {
    ComRef<IHTMLDocument2> doc;
    if (!m_htmlWin.get() || FAILED(m_htmlWin.get()->get_document(doc.out())) || !doc.get())
        return DOM::Window::getDocument();
    return std::make_shared<Document>(IDispatchAPI::create(doc.get(), hostOf(getJSObject())), m_webBrowser.get());
}

void Window::alert(const std::string& str) const {
    if (!m_htmlWin.get())
        return DOM::Window::alert(str);
    BSTR text = SysAllocString(utf8_to_wstring(str).c_str());
    m_htmlWin.get()->alert(text);
    SysFreeString(text);
}

std::string Window::getLocation() const {
    ComRef<IHTMLLocation> location;
    if (!m_htmlWin.get() || FAILED(m_htmlWin.get()->get_location(location.out())) || !location.get())
        return DOM::Window::getLocation();
    BSTR href = nullptr;
    location.get()->get_href(&href);
    std::string out = wstring_to_utf8(fromBstr(href));
    SysFreeString(href);
    return out;
}

Document::Document(const JSObjectPtr& obj, IWebBrowser2* web)
    : DOM::Node(obj), DOM::Document(obj), m_webBrowser(web) {
    queryInto(obj, IID_IHTMLDocument2, m_htmlDoc);
}

DOM::WindowPtr Document::getWindow() const {
    ComRef<IHTMLWindow2> window;
    if (!m_htmlDoc.get() || FAILED(m_htmlDoc.get()->get_parentWindow(window.out())) || !window.get())
        return DOM::Document::getWindow();
    return std::make_shared<Window>(IDispatchAPI::create(window.get(), hostOf(getJSObject())), m_webBrowser.get());
}

DOM::ElementPtr Document::getElementById(const std::string& elem_id) const {
    ComRef<IHTMLDocument3> doc;
    if (!m_htmlDoc.get() || FAILED(m_htmlDoc.get()->QueryInterface(IID_IHTMLDocument3, reinterpret_cast<void**>(doc.out()))))
        throw std::runtime_error("Document does not support getElementById");
    BSTR id = SysAllocString(utf8_to_wstring(elem_id).c_str());
    ComRef<IHTMLElement> element;
    HRESULT hr = doc.get()->getElementById(id, element.out());
    SysFreeString(id);
    if (FAILED(hr) || !element.get())
        return DOM::ElementPtr();
    return std::make_shared<Element>(IDispatchAPI::create(element.get(), hostOf(getJSObject())));
}

std::vector<DOM::ElementPtr> Document::getElementsByTagName(const std::string& tagName) const {
    ComRef<IHTMLDocument3> doc;
    if (!m_htmlDoc.get() || FAILED(m_htmlDoc.get()->QueryInterface(IID_IHTMLDocument3, reinterpret_cast<void**>(doc.out()))))
        return DOM::Document::getElementsByTagName(tagName);
    BSTR tag = SysAllocString(utf8_to_wstring(tagName).c_str());
    ComRef<IHTMLElementCollection> items;
    doc.get()->getElementsByTagName(tag, items.out());
    SysFreeString(tag);
    return elementsOf(items.get(), hostOf(getJSObject()));
}

std::string Document::getStringAttribute(const std::string& attr) const {
    return attributeOf(dispatchOf(getJSObject()), attr, hostOf(getJSObject()));
}

Element::Element(const JSObjectPtr& obj) : DOM::Node(obj), DOM::Element(obj), m_element(dispatchOf(obj)) {}

std::vector<DOM::ElementPtr> Element::getElementsByTagName(const std::string& tagName) const {
    ComRef<IHTMLElement2> element;
    if (!m_element.get() ||
        FAILED(m_element.get()->QueryInterface(IID_IHTMLElement2, reinterpret_cast<void**>(element.out()))))
        return DOM::Element::getElementsByTagName(tagName);
    BSTR tag = SysAllocString(utf8_to_wstring(tagName).c_str());
    ComRef<IHTMLElementCollection> items;
    element.get()->getElementsByTagName(tag, items.out());
    SysFreeString(tag);
    return elementsOf(items.get(), hostOf(getJSObject()));
}

std::string Element::getStringAttribute(const std::string& attr) const {
    return attributeOf(m_element.get(), attr, hostOf(getJSObject()));
}

} // namespace AXDOM
} // namespace ActiveX
} // namespace FB
