#include "NpapiEntryPoints.h"
#include "NpapiPluginWin.h"

namespace FB { namespace Npapi {

std::shared_ptr<NpapiPlugin> createPlatformNpapiPlugin(const NpapiBrowserHostPtr& host, const std::string& mimetype) {
    return std::make_shared<NpapiPluginWin>(host, mimetype);
}

}} // namespace FB::Npapi
