#include "BrowserPlugin.h"

#include "FactoryBase.h"

#include <stdexcept>

namespace FB {

BrowserPlugin::BrowserPlugin(const std::string& mimetype) : pluginMain(getFactoryInstance()->createPlugin(mimetype)) {
    if (!pluginMain)
        throw std::runtime_error("The factory made no plug-in object for \"" + mimetype + "\"");
}

BrowserPlugin::~BrowserPlugin() = default;

void BrowserPlugin::setFilesystemPath(const std::string& path) {
    m_filesystempath = path;
    pluginMain->setFilesystemPath(path);
}

} // namespace FB
