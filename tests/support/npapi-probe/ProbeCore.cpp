#include "ProbeCore.h"

#include "FactoryBase.h"
#include "ProbeAPI.h"

namespace orv { namespace probe {

FB::JSAPIPtr ProbeCore::createJSAPI() {
    return std::make_shared<ProbeAPI>(std::static_pointer_cast<ProbeCore>(shared_from_this()), getHost());
}

namespace {

class ProbeFactory : public FB::FactoryBase {
public:
    ProbeFactory() : FB::FactoryBase("orvanta probe", "orvanta framework probe") {}
    FB::PluginCorePtr createPlugin(const std::string&) override { return std::make_shared<ProbeCore>(); }
};

} // namespace

}} // namespace orv::probe

FB::FactoryBasePtr FB::getFactoryInstance() {
    static FB::FactoryBasePtr factory = std::make_shared<orv::probe::ProbeFactory>();
    return factory;
}
