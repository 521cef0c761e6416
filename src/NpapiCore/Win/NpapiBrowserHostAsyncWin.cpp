#include "NpapiBrowserHostAsyncWin.h"

namespace FB { namespace Npapi {

NpapiBrowserHostAsyncWin::NpapiBrowserHostAsyncWin(NpapiPluginModule* module, NPP npp)
    : NpapiBrowserHost(module, npp), m_messageWin(std::make_unique<WinMessageWindow>()) {}

NpapiBrowserHostAsyncWin::~NpapiBrowserHostAsyncWin() {
    // First, while the rest of the host still exists for the calls it may still run.
    m_messageWin.reset();
}

bool NpapiBrowserHostAsyncWin::_scheduleAsyncCall(void (*func)(void*), void* userData) const {
    return m_messageWin->scheduleAsyncCall(browserSafe(func), userData);
}

}} // namespace FB::Npapi
