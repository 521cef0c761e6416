#pragma once
// The browser host of a native messaging connection. The page lives in another process, so
// there is no DOM to reach and no script to evaluate here; the host's one thread is the
// connection loop, and calls handed to the main thread wait in a queue that the loop runs
// between two messages.

#include "BrowserHost.h"

#include <deque>
#include <mutex>
#include <utility>

namespace FB { namespace NativeMessaging {

class NativeMessagingBrowserHost : public BrowserHost {
public:
    void* getContextID() const override { return const_cast<NativeMessagingBrowserHost*>(this); }
    DOM::DocumentPtr getDOMDocument() override { return nullptr; }
    DOM::WindowPtr getDOMWindow() override { return nullptr; }
    DOM::ElementPtr getDOMElement() override { return nullptr; }
    using BrowserHost::evaluateJavaScript;
    void evaluateJavaScript(const std::string&) override {}
    void DoDeferredRelease() const override {}
    bool _scheduleAsyncCall(void (*func)(void*), void* userData) const override;
    BrowserStreamPtr _createStream(const std::string&, const PluginEventSinkPtr&, bool, bool,
                                   size_t) const override {
        return nullptr;
    }

    // Runs the calls queued so far (and those they queue); returns how many ran.
    std::size_t runPendingCalls();

private:
    mutable std::mutex m_mutex;
    mutable std::deque<std::pair<void (*)(void*), void*>> m_pending;
};

}} // namespace FB::NativeMessaging
