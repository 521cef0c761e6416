#pragma once
// FB::BrowserPlugin: the adapter-neutral base of one browser-side plug-in instance. It
// asks the factory for the product's plug-in object (the plug-in main) and owns it.

#include "PluginCore.h"

#include <string>

namespace FB {

class BrowserPlugin {
public:
    explicit BrowserPlugin(const std::string& mimetype);
    virtual ~BrowserPlugin();
    BrowserPlugin(const BrowserPlugin&) = delete;
    BrowserPlugin& operator=(const BrowserPlugin&) = delete;

    virtual void shutdown() = 0;
    // Stores the path of the plug-in's module and passes it to the plug-in main.
    virtual void setFilesystemPath(const std::string& path);

    const PluginCorePtr& getPluginMain() const { return pluginMain; }

protected:
    std::string m_filesystempath;
    PluginCorePtr pluginMain;
};

} // namespace FB
