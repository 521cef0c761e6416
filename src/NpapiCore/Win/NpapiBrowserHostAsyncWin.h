#pragma once
// FB::Npapi::NpapiBrowserHostAsyncWin: the host for browsers older than NPAPI version 19,
// which have no NPN_PluginThreadAsyncCall. Calls for the main thread are posted to a
// hidden message window that the host owns, created on the main thread with the host.

#include "NpapiBrowserHost.h"
#include "WinMessageWindow.h"

#include <memory>

namespace FB { namespace Npapi {

class NpapiBrowserHostAsyncWin : public NpapiBrowserHost {
public:
    // std::runtime_error when the message window cannot be made.
    NpapiBrowserHostAsyncWin(NpapiPluginModule* module, NPP npp);
    ~NpapiBrowserHostAsyncWin() override;

    bool _scheduleAsyncCall(void (*func)(void*), void* userData) const override;

private:
    std::unique_ptr<WinMessageWindow> m_messageWin;
};

}} // namespace FB::Npapi
