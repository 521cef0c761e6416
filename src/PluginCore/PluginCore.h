#pragma once
// FB::PluginCore: the browser-neutral plug-in object of one instance on a page. The
// product derives from it. An adapter gives it its host and the page's <param>/embed
// attributes, hands it a window (SetWindow: the core observes the window and receives an
// AttachedEvent), makes it ready (setReady: the root scriptable object exists and the
// page's "onload" handler is called later), and on teardown clears the window.

#include "APITypes.h"
#include "PluginEventSink.h"
#include "variant.h"

#include <cstdint>
#include <memory>
#include <string>

namespace FB {

class PluginWindow;

class PluginCore : public PluginEventSink {
public:
    PluginCore();
    // Shuts the host down (when there is one) before the root object is released.
    ~PluginCore() override;

    static void setPlatform(const std::string& os, const std::string& browser);
    static const std::string& getPlatformOS();
    static const std::string& getPlatformBrowser();
    // Plug-in objects alive in the process.
    static std::int32_t getActivePluginCount();

    bool handleEvent(PluginEvent* event, PluginEventSource* source) override = 0;
    virtual void setHost(const BrowserHostPtr& host);
    virtual PluginWindow* getWindow() const;
    // Observes the window (a different current window is cleared first). A null window
    // is no window: it only clears the current one.
    virtual void SetWindow(PluginWindow* window);
    virtual void ClearWindow();
    virtual void setReady();
    virtual void onPluginReady();
    virtual JSAPIPtr createJSAPI() = 0;
    virtual JSAPIPtr getRootJSAPI();
    virtual bool isWindowless();
    virtual void setFilesystemPath(const std::string& path);
    virtual const std::string& getFilesystemPath() const;
    // Merges the page's attributes into the params; "on..." attributes that name a function
    // of the page's window are kept as that function object.
    virtual void setParams(const VariantMap& params);

    const VariantMap& getParams() const { return m_params; }
    const BrowserHostPtr& getHost() const { return m_host; }

protected:
    enum class WindowlessSetting { Undetermined, No, Yes };

    // The page's window function an "on..." attribute names; null when there is none.
    JSObjectPtr findEventHandler(const std::string& name);

    BrowserHostPtr m_host;
    std::string m_filesystemPath;
    VariantMap m_params;
    PluginWindow* m_Window;
    JSAPIPtr m_api;
    WindowlessSetting m_windowless;

private:
    static std::int32_t s_activePluginCount;
    static std::string s_os;
    static std::string s_browser;
};

using PluginCorePtr = std::shared_ptr<PluginCore>;

} // namespace FB
