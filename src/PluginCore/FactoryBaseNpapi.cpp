#include "FactoryBase.h"

#include <stdexcept>

namespace FB {

namespace {
Npapi::NpapiPluginMaker s_npapiPluginMaker = nullptr;
}

void Npapi::setNpapiPluginMaker(NpapiPluginMaker maker) {
    s_npapiPluginMaker = maker;
}

// The NPAPI adapter installs the platform's instance (NpapiPluginWin, NpapiPluginX11)
// when it joins the module; until then no NPAPI instance can be made.
Npapi::NpapiPluginPtr FactoryBase::createNpapiPlugin(const Npapi::NpapiBrowserHostPtr& host,
                                                     const std::string& mimetype) {
    if (!s_npapiPluginMaker)
        throw std::runtime_error("This module has no NPAPI adapter");
    return s_npapiPluginMaker(host, mimetype);
}

} // namespace FB
