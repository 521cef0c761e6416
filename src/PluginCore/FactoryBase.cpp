#include "FactoryBase.h"

#include <utility>

namespace FB {

FactoryBase::FactoryBase(std::string pluginName, std::string pluginDescription)
    : m_pluginName(std::move(pluginName)), m_pluginDescription(std::move(pluginDescription)) {}

FactoryBase::~FactoryBase() = default;

void FactoryBase::globalPluginInitialize() {}

void FactoryBase::globalPluginDeinitialize() {}

void FactoryBase::getLoggingMethods(Log::LogMethodList&) {}

int FactoryBase::getLogLevel() {
    return 4;
}

std::string FactoryBase::getPluginName(const std::string&) const {
    return m_pluginName;
}

std::string FactoryBase::getPluginDescription(const std::string&) const {
    return m_pluginDescription;
}

} // namespace FB
