#include "ConnectionLoop.h"

#include <csignal>

namespace FB { namespace NativeMessaging {

void prepareStandardStreams() {
    std::signal(SIGPIPE, SIG_IGN);
}

}} // namespace FB::NativeMessaging
