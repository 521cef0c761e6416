#pragma once
// One page's plug-in instance over native messaging: the plug-in object made through the
// factory, given its host, no page params, the connection's window (its AttachedEvent is
// where the product loads what it needs) and made ready. shutdown() shuts the host down and
// clears the window (DetachedEvent: the product releases what it loaded).

#include "BrowserPlugin.h"
#include "NativeMessagingWindow.h"

#include <memory>
#include <string>

namespace FB { namespace NativeMessaging {

class NativeMessagingPlugin : public BrowserPlugin {
public:
    NativeMessagingPlugin(const BrowserHostPtr& host, const std::string& mimetype);
    ~NativeMessagingPlugin() override;

    JSAPIPtr getRootJSAPI() const;
    void shutdown() override;

private:
    BrowserHostPtr m_host;
    std::unique_ptr<NativeMessagingWindow> m_window;
    bool m_shutDown = false;
};

}} // namespace FB::NativeMessaging
