#pragma once
// PluginFactory: the process's one factory; both browser adapters get their orvanta
// objects from it (FB::getFactoryInstance).

#include "FactoryBase.h"

namespace orv {

class PluginFactory : public FB::FactoryBase {
public:
    PluginFactory();
    ~PluginFactory() override;

    // An orvanta object, whatever the MIME type.
    FB::PluginCorePtr createPlugin(const std::string& mimetype) override;
    void globalPluginInitialize() override;
    void globalPluginDeinitialize() override;
};

} // namespace orv
