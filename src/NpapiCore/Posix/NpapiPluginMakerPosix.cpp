#include "NpapiEntryPoints.h"
#include "NpapiPluginX11.h"

namespace FB { namespace Npapi {

std::shared_ptr<NpapiPlugin> createPlatformNpapiPlugin(const NpapiBrowserHostPtr& host, const std::string& mimetype) {
    return std::make_shared<NpapiPluginX11>(host, mimetype);
}

}} // namespace FB::Npapi
