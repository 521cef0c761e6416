#pragma once
// The browser host of a new instance. A browser older than NPAPI version 19 has no
// thread hand-over of its own: on Windows its instances get a host that hands calls over
// through a hidden message window; elsewhere the plain host, which then refuses
// cross-thread calls instead of losing them.

#include "NpapiTypes.h"
#include "npapi.h"

namespace FB { namespace Npapi {

// On the browser's main thread. std::runtime_error when the message window cannot be made.
NpapiBrowserHostPtr createNpapiBrowserHost(NpapiPluginModule* module, NPP npp, bool oldBrowser);

}} // namespace FB::Npapi
