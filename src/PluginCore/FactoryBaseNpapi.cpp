#include "FactoryBase.h"

#include <stdexcept>

namespace FB {

// The NPAPI adapter gives this its body (a new NpapiPluginWin, or the Linux instance)
// when it joins the module; until then no NPAPI instance can be made.
Npapi::NpapiPluginPtr FactoryBase::createNpapiPlugin(const Npapi::NpapiBrowserHostPtr&, const std::string&) {
    throw std::runtime_error("This module has no NPAPI adapter");
}

} // namespace FB
