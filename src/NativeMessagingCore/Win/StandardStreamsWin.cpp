#include "ConnectionLoop.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace FB { namespace NativeMessaging {

std::FILE* prepareStandardStreams() {
    // Text mode would turn every 0x0A of a length field into 0D 0A.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    std::fflush(stdout);
    const int protocol = _dup(_fileno(stdout));
    std::FILE* output = protocol >= 0 ? _fdopen(protocol, "wb") : nullptr;
    if (!output) {
        if (protocol >= 0)
            _close(protocol);
        return stdout;  // no spare descriptor: share it, as before
    }
    _dup2(_fileno(stderr), _fileno(stdout));
    // Code that writes through the Win32 handle directly goes to standard error too.
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
    return output;
}

}} // namespace FB::NativeMessaging
