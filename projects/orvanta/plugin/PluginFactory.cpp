#include "plugin/PluginFactory.h"

#include "plugin/orvanta.h"

namespace orv {

PluginFactory::PluginFactory() : FB::FactoryBase("orvanta", "pelorima orvanta plugin") {}

PluginFactory::~PluginFactory() = default;

FB::PluginCorePtr PluginFactory::createPlugin(const std::string&) {
    return std::make_shared<orvanta>();
}

void PluginFactory::globalPluginInitialize() {}

void PluginFactory::globalPluginDeinitialize() {}

} // namespace orv

namespace FB {

// Entry points run on the browser's main thread only, so a plain flag suffices.
FactoryBasePtr getFactoryInstance() {
    static FactoryBasePtr factory;
    static bool created = false;
    if (!created) {
        factory = std::make_shared<orv::PluginFactory>();
        created = true;
    }
    return factory;
}

} // namespace FB
