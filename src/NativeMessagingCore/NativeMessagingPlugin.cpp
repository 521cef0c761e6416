#include "NativeMessagingPlugin.h"

#include "BrowserHost.h"
#include "PluginCore.h"

namespace FB { namespace NativeMessaging {

NativeMessagingPlugin::NativeMessagingPlugin(const BrowserHostPtr& host, const std::string& mimetype)
    : BrowserPlugin(mimetype), m_host(host), m_window(std::make_unique<NativeMessagingWindow>()) {
    pluginMain->setHost(m_host);
    pluginMain->setParams(VariantMap());
    pluginMain->SetWindow(m_window.get());
    pluginMain->setReady();
}

NativeMessagingPlugin::~NativeMessagingPlugin() {
    shutdown();
}

JSAPIPtr NativeMessagingPlugin::getRootJSAPI() const {
    return pluginMain ? pluginMain->getRootJSAPI() : JSAPIPtr();
}

void NativeMessagingPlugin::shutdown() {
    if (m_shutDown)
        return;
    m_shutDown = true;
    // As a browser tears an instance down: the host first (its queued calls run once), then
    // the window, then the plug-in object. The window goes only after the object let go.
    if (m_host)
        m_host->shutdown();
    if (pluginMain)
        pluginMain->ClearWindow();
    m_window.reset();
    pluginMain.reset();
}

}} // namespace FB::NativeMessaging
