#include "NpapiHostFactory.h"

#include "NpapiBrowserHostAsyncWin.h"

namespace FB { namespace Npapi {

NpapiBrowserHostPtr createNpapiBrowserHost(NpapiPluginModule* module, NPP npp, bool oldBrowser) {
    if (oldBrowser)
        return std::make_shared<NpapiBrowserHostAsyncWin>(module, npp);
    return std::make_shared<NpapiBrowserHost>(module, npp);
}

}} // namespace FB::Npapi
