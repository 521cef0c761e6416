#pragma once
// FB::ActiveX::ActiveXBrowserHost: the BrowserHost of one control under Internet Explorer.
// Calls for the main thread go to a hidden message window; script runs through the page
// window's execScript; values cross between VARIANT and variant here; COM references that
// die elsewhere are released on the main thread.

#include "BrowserHost.h"
#include "WinMessageWindow.h"
#include "variant.h"

#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>
#include <oleidl.h>

#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace FB {
namespace ActiveX {

class ActiveXBrowserHost : public BrowserHost {
public:
    // On the main thread. Either may be null; without a browser there is no page document
    // or window (script evaluation then fails).
    ActiveXBrowserHost(IWebBrowser2* doc, IOleClientSite* site);
    ~ActiveXBrowserHost() override;

    void* getContextID() const override { return const_cast<ActiveXBrowserHost*>(this); }
    DOM::DocumentPtr getDOMDocument() override;
    DOM::WindowPtr getDOMWindow() override;
    // The object element holding the control; null when the site cannot tell.
    DOM::ElementPtr getDOMElement() override;
    using BrowserHost::evaluateJavaScript;
    void evaluateJavaScript(const std::string& script) override;
    void shutdown() override;
    void DoDeferredRelease() const override;
    bool _scheduleAsyncCall(void (*func)(void*), void* userData) const override;
    BrowserStreamPtr _createStream(const std::string& url, const PluginEventSinkPtr& callback, bool cache,
                                   bool seekable, size_t internalBufferSize) const override;

    // VARIANT -> variant; by reference values are read through their reference. A type
    // without a script form gives the empty value.
    variant getVariant(const VARIANT* cVar);
    // variant -> VARIANT, which the caller owns (VariantClear). A held type without a
    // COM form leaves VT_EMPTY.
    void getComVariant(VARIANT* dest, const variant& var);
    // Releases obj on the main thread: at once there, otherwise at the next DoDeferredRelease.
    void deferRelease(IUnknown* obj) const;

    std::shared_ptr<ActiveXBrowserHost> sharedHost() {
        return std::static_pointer_cast<ActiveXBrowserHost>(shared_from_this());
    }

private:
    void initDOMObjects();

    IOleClientSite* m_spClientSite = nullptr;
    IHTMLDocument2* m_htmlDoc = nullptr;
    IDispatch* m_htmlDocDisp = nullptr;
    IHTMLWindow2* m_htmlWin = nullptr;
    IWebBrowser2* m_webBrowser = nullptr;
    IDispatch* m_htmlWinDisp = nullptr;
    DOM::WindowPtr m_window;
    DOM::DocumentPtr m_document;
    std::unique_ptr<WinMessageWindow> m_messageWin;
    mutable std::mutex m_xtmutex;
    mutable std::mutex m_deferredMutex;
    mutable std::deque<IUnknown*> m_deferredObjects;
};

using ActiveXBrowserHostPtr = std::shared_ptr<ActiveXBrowserHost>;
using ActiveXBrowserHostWeakPtr = std::weak_ptr<ActiveXBrowserHost>;

} // namespace ActiveX
} // namespace FB
