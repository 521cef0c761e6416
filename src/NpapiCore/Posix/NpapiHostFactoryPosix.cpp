#include "NpapiHostFactory.h"

#include "NpapiBrowserHost.h"

namespace FB { namespace Npapi {

NpapiBrowserHostPtr createNpapiBrowserHost(NpapiPluginModule* module, NPP npp, bool) {
    return std::make_shared<NpapiBrowserHost>(module, npp);
}

}} // namespace FB::Npapi
