#include "NativeMessagingBrowserHost.h"

namespace FB { namespace NativeMessaging {

bool NativeMessagingBrowserHost::_scheduleAsyncCall(void (*func)(void*), void* userData) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.emplace_back(func, userData);
    return true;
}

std::size_t NativeMessagingBrowserHost::runPendingCalls() {
    std::size_t ran = 0;
    for (;;) {
        std::pair<void (*)(void*), void*> call;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_pending.empty())
                return ran;
            call = m_pending.front();
            m_pending.pop_front();
        }
        call.first(call.second);
        ++ran;
    }
}

}} // namespace FB::NativeMessaging
