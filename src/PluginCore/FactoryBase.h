#pragma once
// FB::FactoryBase: how the adapters obtain the product's plug-in objects and their
// windows. There is one factory per process, handed out by getFactoryInstance, which the
// product defines. The window operations are the platform's (FactoryBasePlatform.h in
// Win/ or X11/): windowed and windowless windows on Windows, windowless ones on Linux.

#include "FactoryBasePlatform.h"
#include "PluginCore.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace FB {

namespace Npapi {
class NpapiBrowserHost;
class NpapiPlugin;
using NpapiBrowserHostPtr = std::shared_ptr<NpapiBrowserHost>;
using NpapiPluginPtr = std::shared_ptr<NpapiPlugin>;
} // namespace Npapi

namespace Log {
enum class LogMethod { Console, File };
using LogMethodList = std::vector<std::pair<LogMethod, std::string>>;
} // namespace Log

class FactoryBase : public FactoryBasePlatform {
public:
    // The product's plug-in name and description, as the adapters publish them.
    FactoryBase(std::string pluginName, std::string pluginDescription);
    ~FactoryBase() override;

    virtual PluginCorePtr createPlugin(const std::string& mimetype) = 0;
    virtual void globalPluginInitialize();
    virtual void globalPluginDeinitialize();
    // The NPAPI side of one instance; the NPAPI adapter supplies the default.
    virtual Npapi::NpapiPluginPtr createNpapiPlugin(const Npapi::NpapiBrowserHostPtr& host,
                                                    const std::string& mimetype);
    virtual void getLoggingMethods(Log::LogMethodList& outMethods);
    virtual int getLogLevel();

    std::string getPluginName(const std::string& mimetype) const;
    std::string getPluginDescription(const std::string& mimetype) const;

private:
    std::string m_pluginName;
    std::string m_pluginDescription;
};

using FactoryBasePtr = std::shared_ptr<FactoryBase>;

// The process's factory. Defined by the product.
FactoryBasePtr getFactoryInstance();

} // namespace FB
