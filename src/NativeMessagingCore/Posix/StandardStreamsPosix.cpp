#include "ConnectionLoop.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace FB { namespace NativeMessaging {

std::FILE* prepareStandardStreams() {
    std::signal(SIGPIPE, SIG_IGN);
    std::fflush(stdout);
    const int protocol = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    std::FILE* output = protocol >= 0 ? fdopen(protocol, "wb") : nullptr;
    if (!output) {
        if (protocol >= 0)
            close(protocol);
        return stdout;  // no spare descriptor: share it, as before
    }
    dup2(STDERR_FILENO, STDOUT_FILENO);
    return output;
}

}} // namespace FB::NativeMessaging
