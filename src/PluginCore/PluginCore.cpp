#include "PluginCore.h"

#include "BrowserHost.h"
#include "DOMWindow.h"
#include "JSObject.h"
#include "LogFile.h"
#include "PluginWindow.h"
#include "logging.h"

#include <exception>
#include <stdexcept>

namespace FB {

std::int32_t PluginCore::s_activePluginCount = 0;
std::string PluginCore::s_os;
std::string PluginCore::s_browser;

PluginCore::PluginCore() : m_Window(nullptr), m_windowless(WindowlessSetting::Undetermined) {
    Log::initLogging();
    ++s_activePluginCount;
}

PluginCore::~PluginCore() {
    // An adapter that failed before giving the core its host still destroys the core.
    if (m_host)
        m_host->shutdown();
    --s_activePluginCount;
    m_api.reset();
    m_params.clear();
    m_filesystemPath.clear();
    m_host.reset();
}

void PluginCore::setPlatform(const std::string& os, const std::string& browser) {
    s_os = os;
    s_browser = browser;
    FBLOG_INFO("FB::PluginCore", "os: " << os << "; browser: " << browser);
}

const std::string& PluginCore::getPlatformOS() {
    return s_os;
}

const std::string& PluginCore::getPlatformBrowser() {
    return s_browser;
}

std::int32_t PluginCore::getActivePluginCount() {
    return s_activePluginCount;
}

void PluginCore::setHost(const BrowserHostPtr& host) {
    m_host = host;
}

PluginWindow* PluginCore::getWindow() const {
    return m_Window;
}

void PluginCore::SetWindow(PluginWindow* window) {
    FBLOG_TRACE("PluginCore", "Window Set");
    if (m_Window && m_Window != window)
        ClearWindow();
    if (!window) {
        FBLOG_WARN("PluginCore", "SetWindow without a window: the plug-in has no window now");
        return;
    }
    if (m_Window == window)
        return;  // already observed; a second AttachedEvent would load twice what one detach frees
    m_Window = window;
    window->attachObserver(this);
}

void PluginCore::ClearWindow() {
    FBLOG_TRACE("PluginCore", "Window Cleared");
    if (PluginWindow* window = m_Window) {
        m_Window = nullptr;
        window->detachObserver(this);
    }
}

void PluginCore::setReady() {
    FBLOG_INFO("PluginCore", "Plugin Ready");
    JSAPIPtr root = getRootJSAPI();
    try {
        auto onload = m_params.find("onload");
        if (onload != m_params.end()) {
            JSObjectPtr handler = onload->second.convert_cast<JSObjectPtr>();
            if (handler)
                handler->InvokeAsync("", VariantList{variant(root)});
        }
    } catch (...) {
        // A page without a usable "onload" still gets its plug-in.
    }
    onPluginReady();
}

void PluginCore::onPluginReady() {}

JSAPIPtr PluginCore::getRootJSAPI() {
    if (!m_api)
        m_api = createJSAPI();
    return m_api;
}

bool PluginCore::isWindowless() {
    auto it = m_params.find("windowless");
    bool windowless = false;
    if (it != m_params.end()) {
        try {
            windowless = it->second.convert_cast<bool>();
        } catch (const bad_variant_cast&) {
            windowless = false;
        }
    }
    m_windowless = windowless ? WindowlessSetting::Yes : WindowlessSetting::No;
    return windowless;
}

void PluginCore::setFilesystemPath(const std::string& path) {
    m_filesystemPath = path;
}

const std::string& PluginCore::getFilesystemPath() const {
    return m_filesystemPath;
}

JSObjectPtr PluginCore::findEventHandler(const std::string& name) {
    if (!m_host)
        throw std::runtime_error("no browser host");
    DOM::WindowPtr window = m_host->getDOMWindow();
    if (!window)
        throw std::runtime_error("the page has no window");
    JSObjectPtr handler = window->getProperty<JSObjectPtr>(name);
    if (!handler)
        throw std::runtime_error("the page's window has no function \"" + name + "\"");
    return handler;
}

void PluginCore::setParams(const VariantMap& params) {
    for (const auto& entry : params) {
        const std::string& key = entry.first;
        const variant& value = entry.second;
        try {
            const std::string text = value.convert_cast<std::string>();
            if (key.size() >= 2 && key.compare(0, 2, "on") == 0) {
                JSObjectPtr handler = findEventHandler(text);
                FBLOG_TRACE("PluginCore", "Found <param> event handler: " << key);
                m_params[key] = variant(handler);
            } else {
                m_params[key] = value;
            }
        } catch (const std::exception& e) {
            FBLOG_WARN("PluginCore", "Exception processing <param> " << key << ": " << e.what());
            m_params[key] = value;
        }
    }
}

} // namespace FB
